// Writes the codes of a compressed archive stream (see archive/decoder.h for
// the format) with flag words placed where the decoder will look for them:
// a new word is reserved at the current end of the output only when a bit is
// needed and the current word is full. Unused bits of the last word are zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class StreamWriter {
 public:
  // Distances and lengths the format can express.
  static constexpr size_t kMaxShortDistance = 2303;
  static constexpr size_t kMaxLongDistance = 8192;
  static constexpr size_t kMinLongLength = 3;
  static constexpr size_t kMaxLongLength = 282;

  // Room for `bytes` of output without reallocating.
  void Reserve(size_t bytes) { out_.reserve(bytes); }

  void Literal(uint8_t byte) {
    Bit(1);
    out_.push_back(byte);
    bits_ += 8;
  }
  // Two bytes from `distance` back (1..2303).
  void ShortCopy(size_t distance);
  // `length` (3..282) bytes from `distance` back (1..8192).
  void LongCopy(size_t distance, size_t length);
  // The end code; the stream is complete afterwards.
  void End();

  // The bytes not yet dropped (see Settled).
  const std::vector<uint8_t>& bytes() const { return out_; }
  std::vector<uint8_t> Take() { return std::move(out_); }
  // How many of bytes() will not change: those before the flag word still
  // being filled, all of them after End(). A streaming caller hands them out
  // and drops them.
  size_t Settled() const { return ended_ || used_ == 32 ? out_.size() : word_; }
  // Forgets the first `count` settled bytes.
  void Drop(size_t count);
  // Bytes dropped so far plus bytes().size(): the stream's length.
  uint64_t size() const { return dropped_ + out_.size(); }
  // Control bits plus 8 per data byte so far: the stream's size before its
  // last flag word is rounded up to 32 bits.
  uint64_t bits() const { return bits_; }

  // Exact sizes in bits of each code, flag bits and data bytes together.
  static constexpr unsigned kLiteralBits = 9;
  static constexpr unsigned kEndBits = 14;
  static unsigned ShortCopyBits(size_t distance) { return distance <= 256 ? 11 : 14; }
  static unsigned LongCopyBits(size_t distance, size_t length) {
    return 2 + DistanceBits(distance) + LengthBits(length);
  }
  // The two parts of a long copy's size.
  static unsigned DistanceBits(size_t distance) {
    size_t d = distance - 1;
    return d < 512 ? 10 : d < 1024 ? 11 : d < 2048 ? 13 : d < 4096 ? 15 : 16;
  }
  static unsigned LengthBits(size_t length) {
    return length == 3 ? 1 : length == 4 ? 2 : length <= 6 ? 4 : length <= 10 ? 6 : length <= 26 ? 9 : 13;
  }

 private:
  void Bit(unsigned bit) { Bits(bit, 1); }
  // `count` (1..16) bits of `value`, most significant first.
  void Bits(unsigned value, unsigned count);
  void Byte(uint8_t byte) {
    out_.push_back(byte);
    bits_ += 8;
  }

  std::vector<uint8_t> out_;
  size_t word_ = 0;      // where the current flag word lies in out_
  uint32_t flags_ = 0;   // its bits so far, left-aligned
  unsigned used_ = 32;   // bits of it already used (32: none reserved yet)
  uint64_t bits_ = 0;
  uint64_t dropped_ = 0;
  bool ended_ = false;
};
