// Decoder of the archive's compressed streams.
//
// A stream interleaves 32-bit little-endian flag words with data bytes. Flag
// bits are used from bit 31 down; a new flag word is read from the current
// position only when a bit is needed and the current word is used up. Codes:
//
//   1                      literal: one data byte
//   0 1 0  b               short copy, 2 bytes from distance b + 1
//   0 1 1  b xxx           v = 256 + 8b + x; v == 2303 ends the stream,
//                          else short copy, 2 bytes from distance v + 1
//   0 0  distance length   long copy
//     distance: 1 b x          d = 2b + x               (1..512)
//               0 1 b x        d = 512 + 2b + x         (513..1024)
//               0 0 1 b xx     d = 1024 + 4b + x        (1025..2048)
//               0 0 0 1 b xxx  d = 2048 + 8b + x        (2049..4096)
//               0 0 0 0 b xxxx d = 4096 + 16b + x       (4097..8192)
//               distance = d + 1
//     length:   1 -> 3; 0 1 -> 4; 0 0 1 x -> 5 + x; 0 0 0 1 xx -> 7 + x;
//               0 0 0 0 1 xxxx -> 11 + x; 0 0 0 0 0 b -> 27 + b
//
// Within a code: prefix bits, then its data byte, then its trailing bits.
// Copies run byte by byte from `distance` back in the output (overlap repeats).
#pragma once

#include <cstddef>
#include <cstdint>

enum class DecodeError {
  None,
  Truncated,      // a flag word or data byte lies past the end of the source
  OutputOverrun,  // the stream would write past the destination
  BadDistance,    // a copy reaches back before the first output byte
};

struct DecodeResult {
  DecodeError error = DecodeError::None;
  size_t written = 0;   // output bytes produced (up to the fault)
  size_t consumed = 0;  // source bytes read (up to the fault)
  bool ok() const { return error == DecodeError::None; }
};

// Decodes `src` into `dst` up to the end code. Never reads past
// src + srcSize, never writes past dst + dstSize, never copies from before
// dst. A stream that ends early leaves the rest of `dst` untouched and
// reports ok with a smaller `written`: the caller compares it with the size
// its container declares.
DecodeResult DecodeArchiveStream(uint8_t* dst, size_t dstSize, const uint8_t* src,
                                 size_t srcSize);

// The farthest back a copy reaches: a decoder that keeps this much of its
// output can go on decoding after handing the rest out.
constexpr size_t kDecodeHistory = 8192;
// The smallest buffer a ChunkedDecoder works in: the history and room for
// the longest code with the fast path's margin.
constexpr size_t kChunkedDecoderMinBuffer = kDecodeHistory + 1024;

// The same decoding in bounded pieces, for output too large to hold at once.
// It decodes into the caller's buffer (at least kChunkedDecoderMinBuffer
// bytes; a piece is at most that size) and gives the
// same bytes and the same verdict as DecodeArchiveStream with a destination
// of `outputSize` bytes.
class ChunkedDecoder {
 public:
  ChunkedDecoder(const uint8_t* src, size_t srcSize, size_t outputSize, uint8_t* buffer,
                 size_t bufferSize);
  // The next piece of output, valid until the next call. False once there is
  // none: the stream has ended or failed (see result()). A stream that fails
  // hands out nothing more, not even the part of its last piece before the
  // fault.
  bool Next(const uint8_t** piece, size_t* size);
  // Decodes on in another buffer (at least kChunkedDecoderMinBuffer bytes),
  // such as one that a file lends to be written from: the output that later
  // copies may reach, HistorySize() bytes, is copied to its start, and the
  // next piece begins right after it. The buffer left must still hold what
  // the last piece put there; the two may be the same or overlap.
  void MoveTo(uint8_t* buffer, size_t bufferSize);
  size_t HistorySize() const { return pos_ < kDecodeHistory ? pos_ : kDecodeHistory; }
  // The verdict so far; final once Next has returned false.
  DecodeResult result() const;

 private:
  const uint8_t* src_;
  const uint8_t* ip_;
  const uint8_t* iend_;
  uint8_t* buffer_;
  size_t bufferSize_;
  size_t outputSize_;
  size_t base_ = 0;  // output bytes before buffer_[0]
  size_t pos_ = 0;   // output bytes in the buffer
  uint32_t flags_ = 0;
  unsigned bits_ = 0;
  bool started_ = false;
  bool finished_ = false;
  DecodeError error_ = DecodeError::None;
};

const char* DescribeDecodeError(DecodeError error);
