// Compressor of the archive's streams (format: archive/decoder.h).
//
// Optimal mode finds a parse of fewest bits: every code has a fixed size, so
// a shortest-path search over positions, fed with the nearest match for
// every length, reaches the format's optimum. The stream's byte length is
// that bit count with the last flag word rounded up to 32 bits. Fast mode
// takes the first match a hash probe finds.
//
// Both parse the input in blocks (archive/stream_compressor.h), each block
// on its own apart from the window of bytes before it that its copies may
// reach: blocks can then be parsed on any thread in any order.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class StreamWriter;

enum class CompressionMode { Fast, Optimal };

struct CompressedStream {
  std::vector<uint8_t> bytes;  // ends with the end code
  uint64_t bits = 0;           // control bits plus 8 per data byte
  // The bits of the mode's own parse. In optimal mode the fewest any parse
  // in blocks takes; `bits` differs where a block's fast parse gave fewer
  // bytes after all.
  uint64_t parseBits = 0;
};

// Called now and then with the number of input bytes done so far.
using CompressProgress = std::function<void(size_t done)>;

// Positions are kept in 32 bits; larger inputs are refused.
constexpr size_t kMaxCompressInput = 0xFFFFFFF0u;

// Compresses `size` bytes at `data` into one stream: the same bytes as a
// StreamCompressor given them (on one thread). False (and nothing in *out)
// only when the input is larger than kMaxCompressInput; throws
// std::bad_alloc when memory runs out. Optimal mode never gives a longer
// stream than fast mode.
bool CompressArchiveStream(const uint8_t* data, size_t size, CompressionMode mode,
                           CompressedStream* out, const CompressProgress& progress = {});

// One block's codes, in order, and their size. A code is one 32-bit word:
// the low 9 bits a copy's length (2: a short copy) and above them its
// distance; a length of 0 is a run of literals, their count above it.
struct BlockParse {
  std::vector<uint32_t> codes;
  uint64_t controlBits = 0;
  uint64_t dataBytes = 0;
  uint64_t bits() const { return controlBits + 8 * dataBytes; }
  void Clear() {
    codes.clear();
    controlBits = dataBytes = 0;
  }
};

// Parses blocks. `window` holds `history` bytes (at most the 8192 a copy
// reaches) and then the block's `size` bytes; no code reaches past the
// block's end. Keeps its working memory from one block to the next, so one
// parser per thread. Throws std::bad_alloc when memory runs out.
class BlockParser {
 public:
  BlockParser();
  ~BlockParser();
  BlockParser(const BlockParser&) = delete;
  BlockParser& operator=(const BlockParser&) = delete;

  // Greedy hash probe. Only counts bits when `keepCodes` is false.
  void Fast(const uint8_t* window, size_t history, size_t size, bool keepCodes, BlockParse* out);
  // Fewest bits. False, with *out incomplete, once *stop is seen set.
  bool Optimal(const uint8_t* window, size_t history, size_t size,
               const std::atomic<bool>* stop, BlockParse* out);

 private:
  std::vector<uint32_t> hash_;  // fast: position + 1 by hash
  std::vector<uint32_t> head_;  // optimal: the match finder's trees
  std::vector<uint32_t> son_;
  std::vector<uint32_t> step_;  // optimal: the last code on the way to each position
  // Optimal: long copies' targets from 27 bytes on, as one stretch each.
  struct Stretch {
    uint32_t bits, source, end, distance;
  };
  std::vector<Stretch> longCopies_, heap_;
};

// Writes a block's codes; `block` is its first byte (after the history).
void WriteBlockParse(const BlockParse& parse, const uint8_t* block, StreamWriter& w);
