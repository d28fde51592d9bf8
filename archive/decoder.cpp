#include "archive/decoder.h"

#include <cstring>

namespace {

// Far enough from both ends, one code can be decoded without a bounds check
// per byte: a code reads at most one new flag word, two data bytes and (for
// a literal run) 32 bytes; it writes at most 282 bytes plus the 8-byte
// overshoot of a wide copy.
constexpr size_t kSourceMargin = 64;
constexpr size_t kOutputMargin = 512;

enum class Step { Continue, End, Fault };

struct Decoder {
  const uint8_t* ip;
  const uint8_t* const iend;
  uint8_t* op;
  uint8_t* const ostart;
  uint8_t* const oend;
  uint32_t flags = 0;  // unconsumed bits, left-aligned
  unsigned bits = 0;   // how many of them
  DecodeError error = DecodeError::None;

  Step Fail(DecodeError e) {
    error = e;
    return Step::Fault;
  }

  static uint32_t Load32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
           (uint32_t(p[3]) << 24);
  }

  template <bool kChecked>
  bool Refill() {
    if (kChecked && size_t(iend - ip) < 4) return false;
    flags = Load32(ip);
    ip += 4;
    bits = 32;
    return true;
  }

  // One control bit into *bit; false when a needed flag word is missing.
  template <bool kChecked>
  bool Bit(unsigned* bit) {
    if (bits == 0 && !Refill<kChecked>()) return false;
    *bit = flags >> 31;
    flags <<= 1;
    --bits;
    return true;
  }

  // n (1..4) control bits, most significant first.
  template <bool kChecked>
  bool Bits(unsigned n, unsigned* value) {
    if (bits >= n) {
      *value = flags >> (32 - n);
      flags <<= n;
      bits -= n;
      return true;
    }
    unsigned v = 0, b;
    for (unsigned i = 0; i < n; ++i) {
      if (!Bit<kChecked>(&b)) return false;
      v = (v << 1) | b;
    }
    *value = v;
    return true;
  }

  template <bool kChecked>
  bool Byte(unsigned* value) {
    if (kChecked && ip >= iend) return false;
    *value = *ip++;
    return true;
  }

  template <bool kChecked>
  Step Copy(size_t distance, size_t length) {
    if (distance > size_t(op - ostart)) return Fail(DecodeError::BadDistance);
    if (kChecked) {
      if (length > size_t(oend - op)) return Fail(DecodeError::OutputOverrun);
      const uint8_t* from = op - distance;
      for (size_t i = 0; i < length; ++i) op[i] = from[i];
    } else if (distance >= 8) {
      // Wide copy: each 8-byte step reads only bytes written before it.
      const uint8_t* from = op - distance;
      for (size_t i = 0; i < length; i += 8) std::memcpy(op + i, from + i, 8);
    } else if (distance == 1) {
      std::memset(op, op[-1], length);
    } else {
      const uint8_t* from = op - distance;
      for (size_t i = 0; i < length; ++i) op[i] = from[i];
    }
    op += length;
    return Step::Continue;
  }

  template <bool kChecked>
  Step Code() {
    unsigned bit, b, x;
    if (!Bit<kChecked>(&bit)) return Fail(DecodeError::Truncated);
    if (bit) {
      // A run of literals: every leading 1 bit of the current word is one.
      uint32_t zeros = ~flags;
      unsigned more = zeros ? unsigned(__builtin_clz(zeros)) : 32;
      if (more > bits) more = bits;
      size_t run = size_t(more) + 1;
      if (kChecked) {
        if (run > size_t(iend - ip)) return Fail(DecodeError::Truncated);
        if (run > size_t(oend - op)) return Fail(DecodeError::OutputOverrun);
        std::memcpy(op, ip, run);
      } else {
        std::memcpy(op, ip, 32);  // margins cover the whole word's worth
      }
      op += run;
      ip += run;
      flags = more >= 32 ? 0 : flags << more;
      bits -= more;
      return Step::Continue;
    }
    if (!Bit<kChecked>(&bit)) return Fail(DecodeError::Truncated);
    if (bit) {
      unsigned wide;
      if (!Bit<kChecked>(&wide) || !Byte<kChecked>(&b)) return Fail(DecodeError::Truncated);
      size_t distance;
      if (!wide) {
        distance = b + 1;
      } else {
        if (!Bits<kChecked>(3, &x)) return Fail(DecodeError::Truncated);
        unsigned v = 256 + 8 * b + x;
        if (v == 2303) return Step::End;
        distance = v + 1;
      }
      return Copy<kChecked>(distance, 2);
    }
    // Long copy: distance code, then length code.
    unsigned prefix = 0;  // zero bits before the distance code's 1 (at most 4)
    while (prefix < 4) {
      if (!Bit<kChecked>(&bit)) return Fail(DecodeError::Truncated);
      if (bit) break;
      ++prefix;
    }
    static constexpr unsigned kTrailing[5] = {1, 1, 2, 3, 4};
    static constexpr unsigned kBase[5] = {0, 512, 1024, 2048, 4096};
    if (!Byte<kChecked>(&b) || !Bits<kChecked>(kTrailing[prefix], &x))
      return Fail(DecodeError::Truncated);
    size_t distance = kBase[prefix] + (size_t(b) << kTrailing[prefix]) + x + 1;

    size_t length;
    unsigned zeros = 0;
    while (zeros < 5) {
      if (!Bit<kChecked>(&bit)) return Fail(DecodeError::Truncated);
      if (bit) break;
      ++zeros;
    }
    switch (zeros) {
      case 0: length = 3; break;
      case 1: length = 4; break;
      case 2:
        if (!Bits<kChecked>(1, &x)) return Fail(DecodeError::Truncated);
        length = 5 + x;
        break;
      case 3:
        if (!Bits<kChecked>(2, &x)) return Fail(DecodeError::Truncated);
        length = 7 + x;
        break;
      case 4:
        if (!Bits<kChecked>(4, &x)) return Fail(DecodeError::Truncated);
        length = 11 + x;
        break;
      default:
        if (!Byte<kChecked>(&b)) return Fail(DecodeError::Truncated);
        length = 27 + b;
        break;
    }
    return Copy<kChecked>(distance, length);
  }
};

}  // namespace

DecodeResult DecodeArchiveStream(uint8_t* dst, size_t dstSize, const uint8_t* src,
                                 size_t srcSize) {
  Decoder d{src, src + srcSize, dst, dst, dst + dstSize};
  DecodeResult result;
  Step step = Step::Continue;
  if (!d.Refill<true>()) {
    d.error = DecodeError::Truncated;
    step = Step::Fault;
  }
  while (step == Step::Continue) {
    if (size_t(d.iend - d.ip) >= kSourceMargin && size_t(d.oend - d.op) >= kOutputMargin) {
      step = d.Code<false>();
    } else {
      step = d.Code<true>();
    }
  }
  result.error = d.error;
  result.written = size_t(d.op - dst);
  result.consumed = size_t(d.ip - src);
  return result;
}

const char* DescribeDecodeError(DecodeError error) {
  switch (error) {
    case DecodeError::None: return "ok";
    case DecodeError::Truncated: return "stream ends before its end code";
    case DecodeError::OutputOverrun: return "stream decodes to more bytes than expected";
    case DecodeError::BadDistance: return "copy reaches before the start of the output";
  }
  return "unknown decode error";
}
