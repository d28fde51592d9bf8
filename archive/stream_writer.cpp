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

void Store32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

}  // namespace

void StreamWriter::Bits(unsigned value, unsigned count) {
  bits_ += count;
  while (count) {
    if (used_ == 32) {
      word_ = out_.size();
      out_.insert(out_.end(), 4, 0);
      flags_ = 0;
      used_ = 0;
    }
    unsigned take = count < 32 - used_ ? count : 32 - used_;
    unsigned part = (value >> (count - take)) & ((1u << take) - 1);
    flags_ |= uint32_t(part) << (32 - used_ - take);
    used_ += take;
    count -= take;
    // Kept current in the output so that bytes() is always a valid prefix.
    Store32(&out_[word_], flags_);
  }
}

void StreamWriter::ShortCopy(size_t distance) {
  assert(distance >= 1 && distance <= kMaxShortDistance);
  size_t d = distance - 1;
  if (d < 256) {
    Bits(0b010, 3);
    Byte(uint8_t(d));
  } else {
    size_t v = d - 256;
    Bits(0b011, 3);
    Byte(uint8_t(v >> 3));
    Bits(unsigned(v & 7), 3);
  }
}

void StreamWriter::LongCopy(size_t distance, size_t length) {
  assert(distance >= 1 && distance <= kMaxLongDistance);
  assert(length >= kMinLongLength && length <= kMaxLongLength);
  const DistanceClass& c = ClassOf(distance);
  size_t v = distance - 1 - c.base;
  // 0 0, then the distance prefix: zeros and (below the last class) a 1.
  if (c.zeros < 4)
    Bits(1, 2 + c.zeros + 1);
  else
    Bits(0, 6);
  Byte(uint8_t(v >> c.trailing));
  Bits(unsigned(v & ((1u << c.trailing) - 1)), c.trailing);

  if (length == 3) {
    Bits(0b1, 1);
  } else if (length == 4) {
    Bits(0b01, 2);
  } else if (length <= 6) {
    Bits(0b0010 | unsigned(length - 5), 4);
  } else if (length <= 10) {
    Bits(0b000100 | unsigned(length - 7), 6);
  } else if (length <= 26) {
    Bits(0b000010000 | unsigned(length - 11), 9);
  } else {
    Bits(0b00000, 5);
    Byte(uint8_t(length - 27));
  }
}

void StreamWriter::Drop(size_t count) {
  assert(count <= Settled());
  out_.erase(out_.begin(), out_.begin() + long(count));
  if (!ended_ && used_ < 32) word_ -= count;
  dropped_ += count;
}

void StreamWriter::End() {
  Bits(0b011, 3);
  Byte(0xFF);
  Bits(0b111, 3);
  ended_ = true;
}
