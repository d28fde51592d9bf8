// Compressor of the archive's streams (format: archive/decoder.h).
//
// Optimal mode finds a parse of fewest bits: every code has a fixed size, so
// a shortest-path search over positions, fed with the nearest match for
// every length, reaches the format's optimum. The stream's byte length is
// that bit count with the last flag word rounded up to 32 bits. Fast mode
// takes the first match a hash probe finds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

enum class CompressionMode { Fast, Optimal };

struct CompressedStream {
  std::vector<uint8_t> bytes;  // ends with the end code
  uint64_t bits = 0;           // control bits plus 8 per data byte
  // The bits of the mode's own parse. In optimal mode the fewest any parse
  // takes; `bits` differs when the fast parse gave fewer bytes after all.
  uint64_t parseBits = 0;
};

// Called now and then with the number of input bytes done so far.
using CompressProgress = std::function<void(size_t done)>;

// Positions are kept in 32 bits; larger inputs are refused.
constexpr size_t kMaxCompressInput = 0xFFFFFFF0u;

// Compresses `size` bytes at `data` into one stream. False (and nothing in
// *out) only when the input is larger than kMaxCompressInput. Optimal mode
// never gives a longer stream than fast mode.
bool CompressArchiveStream(const uint8_t* data, size_t size, CompressionMode mode,
                           CompressedStream* out, const CompressProgress& progress = {});
