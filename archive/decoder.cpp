#include "archive/decoder.h"

#include <cstring>

namespace {

// Far enough from both ends, one code can be decoded without a bounds check
// per byte: a code reads at most one new flag word, two data bytes and (for
// a literal run) 32 bytes; it writes at most 32 bytes for a literal run or
// a copy of up to 32 bytes, and a longer copy at most 15 bytes past its end.
constexpr size_t kSourceMargin = 64;
constexpr size_t kOutputMargin = 512;

enum class Step { Continue, End, Fault, Full };

constexpr unsigned kDistanceTrailing[5] = {1, 1, 2, 3, 4};
constexpr size_t kDistanceBase[5] = {0, 512, 1024, 2048, 4096};

// The control bits of a copy up to and around its first data byte b,
// decoded from the top kHeadBits of the flag word at once: the bits they
// take (need), and the distance as add + (b << shift). Bits past the word's
// valid ones read as zeros; an entry is used only when its need is within
// the valid bits. Short and long copies share the form so that the path
// through a copy does not branch on its kind.
constexpr unsigned kHeadBits = 10;
struct HeadCode {
  uint8_t need = 32;
  uint8_t pre = 32;  // of them, the bits before the data byte
  uint8_t shift = 0;
  uint8_t isLong = 0;
  uint8_t endIfFF = 0;  // 0 1 1 with low bits 1 1 1: a data byte FF ends the stream
  uint16_t add = 0;
};
struct HeadTable {
  HeadCode at[1u << kHeadBits];
  constexpr HeadTable() : at() {
    for (unsigned v = 0; v < (1u << kHeadBits); ++v) {
      auto bit = [v](unsigned i) { return (v >> (kHeadBits - 1 - i)) & 1; };
      auto field = [v](unsigned from, unsigned n) {
        return (v >> (kHeadBits - from - n)) & ((1u << n) - 1);
      };
      HeadCode& e = at[v];
      if (bit(0)) continue;  // literal: decoded elsewhere
      if (bit(1)) {
        e.pre = 3;
        if (!bit(2)) {
          e.need = 3;
          e.add = 1;
        } else {
          e.need = 6;
          e.shift = 3;
          e.add = uint16_t(256 + field(3, 3) + 1);
          e.endIfFF = field(3, 3) == 7;
        }
        continue;
      }
      unsigned zeros = 0;
      while (zeros < 4 && !bit(2 + zeros)) ++zeros;
      unsigned prefix = zeros < 4 ? zeros + 1 : 4;
      unsigned trailing = kDistanceTrailing[zeros];
      e.isLong = 1;
      e.pre = uint8_t(2 + prefix);
      e.need = uint8_t(2 + prefix + trailing);
      e.shift = uint8_t(trailing);
      e.add = uint16_t(kDistanceBase[zeros] + field(2 + prefix, trailing) + 1);
    }
  }
};
constexpr HeadTable kHeads;

// A long copy's length code from the top kLengthBits of the flag word.
constexpr unsigned kLengthBits = 9;
struct LengthCode {
  uint8_t need = 32;
  uint8_t byteFollows = 0;
  uint16_t length = 0;
};
struct LengthTable {
  LengthCode at[1u << kLengthBits];
  constexpr LengthTable() : at() {
    for (unsigned v = 0; v < (1u << kLengthBits); ++v) {
      unsigned zeros = 0;
      while (zeros < 5 && !((v >> (kLengthBits - 1 - zeros)) & 1)) ++zeros;
      auto field = [v](unsigned from, unsigned n) {
        return (v >> (kLengthBits - from - n)) & ((1u << n) - 1);
      };
      LengthCode& e = at[v];
      switch (zeros) {
        case 0: e.need = 1; e.length = 3; break;
        case 1: e.need = 2; e.length = 4; break;
        case 2: e.need = 4; e.length = uint16_t(5 + field(3, 1)); break;
        case 3: e.need = 6; e.length = uint16_t(7 + field(4, 2)); break;
        case 4: e.need = 9; e.length = uint16_t(11 + field(5, 4)); break;
        default: e.need = 5; e.length = 27; e.byteFollows = 1; break;
      }
    }
  }
};
constexpr LengthTable kLengths;

// A whole copy code, its head and (for a long copy) its length code, from
// the top kCopyBits of the flag word at once: one table step instead of
// two on the longest dependency chain of the fast path, the flag bits. The
// codes of at most kCopyBits bits are nine in ten of those in real streams;
// a long copy with a length byte, or one that does not fit, has need 63
// (more than a word holds) and is decoded in two steps. Entries are packed
// in 32 bits, so that more of the table stays in the first-level cache:
// need (bits 0-5), shift (6-8), ends-if-FF (9), length (10-14), add (15-).
// 13 bits measured best: 12 missed too many codes, 14 missed the cache.
constexpr unsigned kCopyBits = 13;
struct CopyTable {
  uint32_t at[1u << kCopyBits];
  constexpr CopyTable() : at() {
    for (unsigned v = 0; v < (1u << kCopyBits); ++v) {
      at[v] = 63;
      const HeadCode& h = kHeads.at[v >> (kCopyBits - kHeadBits)];
      if (h.need > kCopyBits) continue;  // a literal, or no head in these bits
      unsigned need = h.need, length = 2;
      if (h.isLong) {
        // The bits after the head, zeros past the table's: a length code
        // read from them is used only when it lies inside.
        const unsigned rest = (v << h.need) & ((1u << kCopyBits) - 1);
        const LengthCode& l = kLengths.at[rest >> (kCopyBits - kLengthBits)];
        if (l.byteFollows || h.need + l.need > kCopyBits) continue;
        need += l.need;
        length = l.length;
      }
      at[v] = need | (unsigned(h.shift) << 6) | (unsigned(h.endIfFF) << 9) | (length << 10) |
              (unsigned(h.add) << 15);
    }
  }
};
constexpr CopyTable kCopies;

// The need of each copy table entry on its own: the flag bits' chain waits
// only on this load, and its 8 KB (4 KB of it used: a copy starts with a 0)
// stay in the first-level cache better than the whole entries do.
struct CopyNeedTable {
  uint8_t at[1u << kCopyBits];
  constexpr CopyNeedTable() : at() {
    for (unsigned v = 0; v < (1u << kCopyBits); ++v) at[v] = uint8_t(kCopies.at[v] & 63);
  }
};
constexpr CopyNeedTable kCopyNeeds;

// Once the output holds the history, no copy can reach before its start.
static_assert(4096 + (255u << 4) + 15 + 1 == kDecodeHistory, "the history is the longest distance");

struct Decoder {
  const uint8_t* ip;
  const uint8_t* iend;
  uint8_t* op;
  uint8_t* ostart;
  uint8_t* oend;
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

  // --- the careful path, near either end: every read and write is checked.

  // One control bit into *bit; false when a needed flag word is missing.
  bool Bit(unsigned* bit) {
    if (bits == 0 && !Refill<true>()) return false;
    *bit = flags >> 31;
    flags <<= 1;
    --bits;
    return true;
  }

  // n (1..4) control bits, most significant first.
  bool Bits(unsigned n, unsigned* value) {
    if (bits >= n) {
      *value = flags >> (32 - n);
      flags <<= n;
      bits -= n;
      return true;
    }
    unsigned v = 0, b;
    for (unsigned i = 0; i < n; ++i) {
      if (!Bit(&b)) return false;
      v = (v << 1) | b;
    }
    *value = v;
    return true;
  }

  bool Byte(unsigned* value) {
    if (ip >= iend) return false;
    *value = *ip++;
    return true;
  }

  Step Copy(size_t distance, size_t length) {
    if (distance > size_t(op - ostart)) return Fail(DecodeError::BadDistance);
    if (length > size_t(oend - op)) return Fail(DecodeError::OutputOverrun);
    const uint8_t* from = op - distance;
    for (size_t i = 0; i < length; ++i) op[i] = from[i];
    op += length;
    return Step::Continue;
  }

  // --- the fast path: far from both ends (see the margins above), so data
  // bytes and output need no checks. Each round takes a run of literals
  // (possibly none) and then, unless the word ran out, the copy that must
  // follow it. A code whose control bits run into the next word is decoded
  // by table from a 64-bit window too, not bit by bit. The state lives in
  // locals here: the output's byte stores could otherwise alias the
  // members, and every one of them would be reloaded after each store.

  Step FastLoop() {
    if (size_t(op - ostart) < kDecodeHistory) {
      const Step step = FastRounds<true>();
      if (step != Step::Continue || size_t(op - ostart) < kDecodeHistory) return step;
    }
    return FastRounds<false>();
  }

  // kNearStart: a copy may reach before the output's start, so each one is
  // checked, and the rounds stop once no copy can. Past that point the check
  // is gone, and with it a register the 32-bit build lacks.
  template <bool kNearStart>
  Step FastRounds() {
    if (size_t(iend - ip) < kSourceMargin || size_t(oend - op) < kOutputMargin)
      return Step::Continue;
    const uint8_t* ip = this->ip;
    uint8_t* op = this->op;
    uint32_t flags = this->flags;
    unsigned bits = this->bits;
    uint8_t* const ostart = this->ostart;
    const uint8_t* const ipLast = iend - kSourceMargin;
    uint8_t* opLast = oend - kOutputMargin;
    if (kNearStart && size_t(opLast - ostart) > kDecodeHistory) opLast = ostart + kDecodeHistory;
    Step step = Step::Continue;
    // Consumes `used` bits of a window holding the current word's bits and
    // the whole next word behind them; the next word becomes the current one.
    auto takeFromWindow = [&](uint64_t window, unsigned used) {
      flags = uint32_t((window << used) >> 32);
      bits = 32 + bits - used;
    };
    while (ip <= ipLast && op <= opLast) {
      if (bits == 0) {
        flags = Load32(ip);
        ip += 4;
        bits = 32;
      }
      // Literals: every leading 1 bit of the current word is one. The bits
      // past the valid ones are zeros, so the count stops at them by itself.
      // 32-bit operations only: in the 32-bit build a 64-bit count and shift
      // took a dozen instructions and pushed the state out of registers.
      const uint32_t notLiteral = ~flags;
      const unsigned run = notLiteral ? unsigned(__builtin_clz(notLiteral)) : 32;
      std::memcpy(op, ip, 32);  // margins cover the whole word's worth
      op += run;
      ip += run;
      bits -= run;
      if (bits == 0) continue;  // the next word tells what comes next
      flags <<= run;  // below 32 here

      size_t distance, length;
      const unsigned copyIndex = flags >> (32 - kCopyBits);
      const unsigned copyNeed = kCopyNeeds.at[copyIndex];
      if (copyNeed <= bits) {
        // The common case: the whole copy code lies in this word, its data
        // byte comes next, and no length byte follows.
        const uint32_t copy = kCopies.at[copyIndex];
        flags <<= copyNeed;
        bits -= copyNeed;
        const unsigned b = *ip++;
        if (b + ((copy >> 9) & 1) == 0x100) {  // 0 1 1, low bits 1 1 1, data byte FF
          step = Step::End;
          break;
        }
        distance = (copy >> 15) + (size_t(b) << ((copy >> 6) & 7));
        length = (copy >> 10) & 31;
      } else if (const HeadCode& head = kHeads.at[flags >> (32 - kHeadBits)];
                 head.need <= bits) {
        // The copy's head lies in this word, so its data byte simply comes
        // next; its length code may not.
        flags <<= head.need;
        bits -= head.need;
        const unsigned b = *ip++;
        if (head.endIfFF && b == 0xFF) {
          step = Step::End;
          break;
        }
        distance = head.add + (size_t(b) << head.shift);
        if (!head.isLong) {
          if (kNearStart && distance > size_t(op - ostart)) {
            step = Fail(DecodeError::BadDistance);
            break;
          }
          const uint8_t* from = op - distance;  // not op[-distance]: that wraps in size_t
          op[0] = from[0];
          op[1] = from[1];
          op += 2;
          continue;
        }
        {
          LengthCode code = kLengths.at[flags >> (32 - kLengthBits)];
          if (code.need <= bits) {
            flags <<= code.need;
            bits -= code.need;
          } else {
            // The length code runs into the next word, which lies here.
            const uint64_t window =
                (uint64_t(flags) << 32) | (uint64_t(Load32(ip)) << (32 - bits));
            ip += 4;
            code = kLengths.at[window >> (64 - kLengthBits)];
            takeFromWindow(window, code.need);
          }
          length = code.length;
          if (code.byteFollows) length += *ip++;
        }
      } else {
        // The head runs past this word. The next word lies before the data
        // byte when the word runs out ahead of it, else right after it: both
        // places are read into 64-bit windows behind the current bits, and
        // the whole code is decoded by table from the right one.
        const uint64_t current = uint64_t(flags) << 32;
        const unsigned shift = 32 - bits;
        const uint64_t before = current | (uint64_t(Load32(ip)) << shift);
        const HeadCode& h0 = kHeads.at[before >> (64 - kHeadBits)];
        const bool wordFirst = h0.pre > bits;
        const uint64_t window =
            wordFirst ? before : current | (uint64_t(Load32(ip + 1)) << shift);
        const HeadCode& h = wordFirst ? h0 : kHeads.at[window >> (64 - kHeadBits)];
        const unsigned b = ip[wordFirst ? 4 : 0];
        ip += 5;  // the data byte and the word, in either order
        unsigned used = h.need;
        length = 2;
        const LengthCode& code = kLengths.at[(window << used) >> (64 - kLengthBits)];
        if (h.isLong) used += code.need;
        takeFromWindow(window, used);
        if (h.endIfFF && b == 0xFF) {
          step = Step::End;
          break;
        }
        distance = h.add + (size_t(b) << h.shift);
        if (h.isLong) {
          length = code.length;
          if (code.byteFollows) length += *ip++;
        }
      }
      if (kNearStart && distance > size_t(op - ostart)) {
        step = Fail(DecodeError::BadDistance);
        break;
      }
      op = CopyFast(op, distance, length);
    }
    this->ip = ip;
    this->op = op;
    this->flags = bits ? flags : 0;  // a run that took the whole word left it unshifted
    this->bits = bits;
    return step;
  }

  // A copy far from the output's end: it may write up to 15 bytes past
  // `length`, which later output overwrites.
  static uint8_t* CopyFast(uint8_t* op, size_t distance, size_t length) {
    const uint8_t* from = op - distance;
    if (distance >= 8) {
      // Each 8-byte step reads only bytes written before it. Two steps
      // whatever the length (most copies are shorter than 16 bytes), and no
      // case of its own for 16-byte steps: a branch on the distance that
      // mispredicts costs more than the wider steps save.
      std::memcpy(op, from, 8);
      std::memcpy(op + 8, from + 8, 8);
      for (size_t i = 16; i < length; i += 8) std::memcpy(op + i, from + i, 8);
    } else {
      // A period below 8: write the first 8 bytes one period after another,
      // then move the source back by a multiple of the period so that it
      // lies at least 8 bytes behind, where 8-byte steps are exact.
      static constexpr uint8_t kAdvance[8] = {0, 1, 2, 1, 0, 4, 4, 4};
      static constexpr int8_t kBack[8] = {0, 0, 0, -1, -4, 1, 2, 3};
      op[0] = from[0];
      op[1] = from[1];
      op[2] = from[2];
      op[3] = from[3];
      from += kAdvance[distance];
      std::memcpy(op + 4, from, 4);
      from -= kBack[distance];
      for (size_t i = 8; i < length; i += 8) std::memcpy(op + i, from + (i - 8), 8);
    }
    return op + length;
  }

  Step Code() {
    unsigned bit, b, x;
    if (!Bit(&bit)) return Fail(DecodeError::Truncated);
    if (bit) {
      // A run of literals: every leading 1 bit of the current word is one.
      uint32_t zeros = ~flags;
      unsigned more = zeros ? unsigned(__builtin_clz(zeros)) : 32;
      if (more > bits) more = bits;
      size_t run = size_t(more) + 1;
      if (run > size_t(iend - ip)) return Fail(DecodeError::Truncated);
      if (run > size_t(oend - op)) return Fail(DecodeError::OutputOverrun);
      std::memcpy(op, ip, run);
      op += run;
      ip += run;
      flags = more >= 32 ? 0 : flags << more;
      bits -= more;
      return Step::Continue;
    }
    if (!Bit(&bit)) return Fail(DecodeError::Truncated);
    if (bit) {
      unsigned wide;
      if (!Bit(&wide) || !Byte(&b)) return Fail(DecodeError::Truncated);
      size_t distance;
      if (!wide) {
        distance = b + 1;
      } else {
        if (!Bits(3, &x)) return Fail(DecodeError::Truncated);
        unsigned v = 256 + 8 * b + x;
        if (v == 2303) return Step::End;
        distance = v + 1;
      }
      return Copy(distance, 2);
    }
    // Long copy: distance code, then length code.
    unsigned prefix = 0;  // zero bits before the distance code's 1 (at most 4)
    while (prefix < 4) {
      if (!Bit(&bit)) return Fail(DecodeError::Truncated);
      if (bit) break;
      ++prefix;
    }
    static constexpr unsigned kTrailing[5] = {1, 1, 2, 3, 4};
    static constexpr unsigned kBase[5] = {0, 512, 1024, 2048, 4096};
    if (!Byte(&b) || !Bits(kTrailing[prefix], &x))
      return Fail(DecodeError::Truncated);
    size_t distance = kBase[prefix] + (size_t(b) << kTrailing[prefix]) + x + 1;

    size_t length;
    unsigned zeros = 0;
    while (zeros < 5) {
      if (!Bit(&bit)) return Fail(DecodeError::Truncated);
      if (bit) break;
      ++zeros;
    }
    switch (zeros) {
      case 0: length = 3; break;
      case 1: length = 4; break;
      case 2:
        if (!Bits(1, &x)) return Fail(DecodeError::Truncated);
        length = 5 + x;
        break;
      case 3:
        if (!Bits(2, &x)) return Fail(DecodeError::Truncated);
        length = 7 + x;
        break;
      case 4:
        if (!Bits(4, &x)) return Fail(DecodeError::Truncated);
        length = 11 + x;
        break;
      default:
        if (!Byte(&b)) return Fail(DecodeError::Truncated);
        length = 27 + b;
        break;
    }
    return Copy(distance, length);
  }

  // Decodes until the end code or a fault. With `stopNearEnd`, oend is only
  // the end of a buffer, not of the output: it stops (Full) where the careful
  // path could no longer take any code whole, before deciding an overrun.
  Step Run(bool stopNearEnd) {
    for (;;) {
      Step step = FastLoop();
      if (step != Step::Continue) return step;
      if (stopNearEnd && size_t(oend - op) < kOutputMargin) return Step::Full;
      step = Code();
      if (step != Step::Continue) return step;
    }
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
  if (step == Step::Continue) step = d.Run(false);
  result.error = d.error;
  result.written = size_t(d.op - dst);
  result.consumed = size_t(d.ip - src);
  return result;
}

ChunkedDecoder::ChunkedDecoder(const uint8_t* src, size_t srcSize, size_t outputSize,
                               uint8_t* buffer, size_t bufferSize)
    : src_(src), ip_(src), iend_(src + srcSize), buffer_(buffer), bufferSize_(bufferSize),
      outputSize_(outputSize) {}

bool ChunkedDecoder::Next(const uint8_t** piece, size_t* size) {
  if (finished_) return false;
  if (bufferSize_ < kChunkedDecoderMinBuffer) {
    finished_ = true;
    error_ = DecodeError::OutputOverrun;
    return false;
  }
  // Keep only what later copies can reach. Copies never reach farther back
  // than the history, so a distance check against the buffer's start
  // answers as one against the whole output's would.
  if (pos_ > kDecodeHistory) MoveTo(buffer_, bufferSize_);
  const size_t left = outputSize_ - base_ - pos_;
  const size_t room = bufferSize_ - pos_;
  const bool endInside = left <= room;
  Decoder d{ip_, iend_, buffer_ + pos_, buffer_, buffer_ + pos_ + (endInside ? left : room)};
  d.flags = flags_;
  d.bits = bits_;
  Step step = Step::Continue;
  if (!started_) {
    started_ = true;
    if (!d.Refill<true>()) {
      d.error = DecodeError::Truncated;
      step = Step::Fault;
    }
  }
  if (step == Step::Continue) step = d.Run(!endInside);
  const size_t from = pos_;
  ip_ = d.ip;
  flags_ = d.flags;
  bits_ = d.bits;
  pos_ = size_t(d.op - buffer_);
  if (step == Step::Fault) {
    error_ = d.error;
    finished_ = true;
    return false;
  }
  if (step == Step::End) finished_ = true;
  *piece = buffer_ + from;
  *size = pos_ - from;
  return *size > 0 || !finished_;
}

void ChunkedDecoder::MoveTo(uint8_t* buffer, size_t bufferSize) {
  const size_t keep = HistorySize();
  std::memmove(buffer, buffer_ + pos_ - keep, keep);
  base_ += pos_ - keep;
  pos_ = keep;
  buffer_ = buffer;
  bufferSize_ = bufferSize;
}

DecodeResult ChunkedDecoder::result() const {
  DecodeResult r;
  r.error = error_;
  r.written = base_ + pos_;
  r.consumed = size_t(ip_ - src_);
  return r;
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
