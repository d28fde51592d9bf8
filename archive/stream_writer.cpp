#include "archive/stream_writer.h"

#include <cassert>

namespace {

// Distance classes: prefix bit count (zeros before the 1, or 4 zeros), base
// of d = distance - 1, and trailing bit count.
struct DistanceClass {
  unsigned zeros;
  size_t base;
  unsigned trailing;
};
constexpr DistanceClass kDistanceClasses[5] = {
    {0, 0, 1}, {1, 512, 1}, {2, 1024, 2}, {3, 2048, 3}, {4, 4096, 4}};

const DistanceClass& ClassOf(size_t distance) {
  size_t d = distance - 1;
  unsigned i = d < 512 ? 0 : d < 1024 ? 1 : d < 2048 ? 2 : d < 4096 ? 3 : 4;
  return kDistanceClasses[i];
}

}  // namespace

unsigned StreamWriter::LongCopyBits(size_t distance, size_t length) {
  const DistanceClass& c = ClassOf(distance);
  unsigned distanceBits = (c.zeros < 4 ? c.zeros + 1 : 4) + 8 + c.trailing;
  unsigned lengthBits = length == 3   ? 1
                        : length == 4 ? 2
                        : length <= 6 ? 4
                        : length <= 10 ? 6
                        : length <= 26 ? 9
                                       : 13;
  return 2 + distanceBits + lengthBits;
}

void StreamWriter::Bit(unsigned bit) {
  if (used_ == 32) {
    word_ = out_.size();
    out_.insert(out_.end(), 4, 0);
    used_ = 0;
  }
  if (bit) out_[word_ + 3 - used_ / 8] |= uint8_t(0x80u >> (used_ % 8));
  ++used_;
}

void StreamWriter::Bits(unsigned value, unsigned count) {
  while (count--) Bit((value >> count) & 1);
}

void StreamWriter::Literal(uint8_t byte) {
  Bit(1);
  Byte(byte);
}

void StreamWriter::ShortCopy(size_t distance) {
  assert(distance >= 1 && distance <= kMaxShortDistance);
  size_t d = distance - 1;
  Bits(0b01, 2);
  if (d < 256) {
    Bit(0);
    Byte(uint8_t(d));
  } else {
    size_t v = d - 256;
    Bit(1);
    Byte(uint8_t(v >> 3));
    Bits(unsigned(v & 7), 3);
  }
}

void StreamWriter::LongCopy(size_t distance, size_t length) {
  assert(distance >= 1 && distance <= kMaxLongDistance);
  assert(length >= kMinLongLength && length <= kMaxLongLength);
  Bits(0b00, 2);
  const DistanceClass& c = ClassOf(distance);
  size_t v = distance - 1 - c.base;
  for (unsigned i = 0; i < c.zeros; ++i) Bit(0);
  if (c.zeros < 4) Bit(1);
  Byte(uint8_t(v >> c.trailing));
  Bits(unsigned(v & ((1u << c.trailing) - 1)), c.trailing);

  if (length == 3) {
    Bit(1);
  } else if (length == 4) {
    Bits(0b01, 2);
  } else if (length <= 6) {
    Bits(0b001, 3);
    Bit(unsigned(length - 5));
  } else if (length <= 10) {
    Bits(0b0001, 4);
    Bits(unsigned(length - 7), 2);
  } else if (length <= 26) {
    Bits(0b00001, 5);
    Bits(unsigned(length - 11), 4);
  } else {
    Bits(0b00000, 5);
    Byte(uint8_t(length - 27));
  }
}

void StreamWriter::End() {
  Bits(0b011, 3);
  Byte(0xFF);
  Bits(0b111, 3);
}
