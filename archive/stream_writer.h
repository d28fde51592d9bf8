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

  void Literal(uint8_t byte);
  // Two bytes from `distance` back (1..2303).
  void ShortCopy(size_t distance);
  // `length` (3..282) bytes from `distance` back (1..8192).
  void LongCopy(size_t distance, size_t length);
  // The end code; the stream is complete afterwards.
  void End();

  const std::vector<uint8_t>& bytes() const { return out_; }
  std::vector<uint8_t> Take() { return std::move(out_); }

  // Exact sizes in bits of each code, flag bits and data bytes together.
  static constexpr unsigned kLiteralBits = 9;
  static unsigned ShortCopyBits(size_t distance) { return distance <= 256 ? 11 : 14; }
  static unsigned LongCopyBits(size_t distance, size_t length);

 private:
  void Bit(unsigned bit);
  void Bits(unsigned value, unsigned count);  // most significant first
  void Byte(uint8_t byte) { out_.push_back(byte); }

  std::vector<uint8_t> out_;
  size_t word_ = 0;      // where the current flag word lies in out_
  unsigned used_ = 32;   // bits of it already used (32: none reserved yet)
};
