// Greedy matching against a hash index of the old file, in the manner of
// bsdiff: exact matches become COPY; the bytes between two matches are coded
// as differences under the neighbouring match's alignment as far as that
// pays (code whose addresses moved differs in a few bytes per instruction,
// and the differences compress well), the rest is added as it is.
#include "archive/patch_coder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "archive/format.h"
#include "archive/patch.h"

extern "C" {
#include "LzmaEnc.h"
}

namespace {

constexpr uint64_t kKey = 8;                   // bytes hashed per position
constexpr uint64_t kMaxPositions = 32u << 20;  // old positions indexed at most
constexpr uint64_t kMinMatch = 16;             // a match that changes the alignment
constexpr uint32_t kEmpty = 0xFFFFFFFFu;

uint64_t Load8(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

uint32_t Hash(const uint8_t* p, int bits) { return uint32_t((Load8(p) * 0x9E3779B97F4A7C15ull) >> (64 - bits)); }

uint64_t MatchLength(const uint8_t* a, const uint8_t* b, uint64_t limit) {
  uint64_t n = 0;
  while (n + 8 <= limit) {
    const uint64_t x = Load8(a + n) ^ Load8(b + n);
    // Both targets are little-endian: the lowest set bit is the first byte
    // that differs.
    if (x != 0) return n + uint64_t(__builtin_ctzll(x) >> 3);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

class Emitter {
 public:
  Emitter(const std::function<bool(const uint8_t*, size_t)>& out, PatchStats* stats) : out_(out), stats_(stats) {}
  bool Header(uint64_t oldSize, uint64_t newSize) {
    uint8_t h[kPatchHeaderSize];
    std::memcpy(h, kPatchMagic, 4);
    StoreLE64(h + 4, oldSize);
    StoreLE64(h + 12, newSize);
    return Put(h, sizeof h);
  }
  bool Copy(uint64_t oldAt, uint64_t len) {
    stats_->copied += len;
    return Op(kPatchCopy, len) && Move(oldAt, len);
  }
  bool Diff(const uint8_t* oldData, uint64_t oldAt, const uint8_t* newData, uint64_t len) {
    stats_->diffed += len;
    if (!Op(kPatchDiff, len) || !Move(oldAt, len)) return false;
    for (uint64_t i = 0; i < len; ++i) {
      if (!Room()) return false;
      buffer_.push_back(uint8_t(newData[i] - oldData[oldAt + i]));
    }
    return true;
  }
  bool Add(const uint8_t* data, uint64_t len) {
    stats_->added += len;
    return Op(kPatchAdd, len) && Put(data, len);
  }
  bool Finish() { return Flush(); }

 private:
  static constexpr size_t kPiece = size_t(1) << 20;
  bool Op(uint8_t op, uint64_t len) { return Put(&op, 1) && Number(len); }
  bool Move(uint64_t to, uint64_t len) {
    const int64_t move = int64_t(to - oldAt_);
    oldAt_ = to + len;
    return Number((uint64_t(move) << 1) ^ uint64_t(move >> 63));
  }
  bool Number(uint64_t v) {
    uint8_t b[10];
    size_t n = 0;
    do {
      b[n] = uint8_t(v & 0x7F);
      v >>= 7;
      if (v) b[n] |= 0x80;
      ++n;
    } while (v);
    return Put(b, n);
  }
  bool Room() { return buffer_.size() < kPiece || Flush(); }
  bool Put(const uint8_t* data, uint64_t size) {
    while (size > 0) {
      if (!Room()) return false;
      const size_t n = size_t(std::min<uint64_t>(size, kPiece - buffer_.size()));
      buffer_.insert(buffer_.end(), data, data + n);
      data += n;
      size -= n;
    }
    return true;
  }
  bool Flush() {
    const bool ok = buffer_.empty() || out_(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
  }
  const std::function<bool(const uint8_t*, size_t)>& out_;
  PatchStats* stats_;
  std::vector<uint8_t> buffer_;
  uint64_t oldAt_ = 0;
};

class Coder {
 public:
  Coder(const uint8_t* o, uint64_t oldSize, const uint8_t* n, uint64_t newSize, Emitter* emit, PatchTuning tuning)
      : old_(o), oldSize_(oldSize), new_(n), newSize_(newSize), emit_(emit), minCopy_(tuning.minCopy) {}

  bool Index(uint64_t* strideOut) {
    if (oldSize_ < kKey) return true;
    const uint64_t positions = oldSize_ - kKey + 1;
    stride_ = (positions + kMaxPositions - 1) / kMaxPositions;
    const uint64_t indexed = (positions + stride_ - 1) / stride_;
    bits_ = 10;
    while ((uint64_t(1) << bits_) < indexed) ++bits_;
    try {
      table_.assign(size_t(1) << bits_, kEmpty);
    } catch (const std::bad_alloc&) {
      return false;
    }
    // From the end, so that of equal keys the earliest position stays.
    for (uint64_t k = indexed; k-- > 0;) table_[Hash(old_ + k * stride_, bits_)] = uint32_t(k * stride_);
    *strideOut = stride_;
    return true;
  }

  bool Run() {
    uint64_t gapStart = 0, p = 0;
    int64_t delta = 0;  // old position minus new position of the last match
    int64_t rejectedDelta = 0;
    uint64_t rejectedEnd = 0, shortRunEnd = 0;
    while (p + kKey <= newSize_) {
      uint64_t found = kNone, len = 0;
      const uint64_t q = p + uint64_t(delta);
      // Inside a run under the alignment that was too short to copy, every
      // later start is shorter still.
      if (p >= shortRunEnd && InOld(q) && Load8(old_ + q) == Load8(new_ + p)) {
        len = MatchLength(old_ + q, new_ + p, std::min(oldSize_ - q, newSize_ - p));
        if (len >= minCopy_) found = q;
        else shortRunEnd = p + len;
      }
      if (found == kNone && !table_.empty()) {
        const uint32_t c = table_[Hash(new_ + p, bits_)];
        const int64_t d = int64_t(c) - int64_t(p);
        if (c != kEmpty && d != delta && !(d == rejectedDelta && p < rejectedEnd)) {
          const uint64_t cand = MatchLength(old_ + c, new_ + p, std::min(oldSize_ - c, newSize_ - p));
          if (cand >= kMinMatch) {
            // An alignment that explains these bytes nearly as well is kept:
            // switching would cost a move and gain nothing.
            if (cand > SameUnder(delta, p, cand) + 8) {
              found = c;
              len = cand;
            } else {
              rejectedDelta = d;
              rejectedEnd = p + cand;
            }
          }
        }
      }
      if (found == kNone) {
        ++p;
        continue;
      }
      uint64_t at = p, from = found;
      while (at > gapStart && from > 0 && old_[from - 1] == new_[at - 1]) {
        --at;
        --from;
        ++len;
      }
      const int64_t next = int64_t(from) - int64_t(at);
      if (!Gap(gapStart, at, delta, &next) || !emit_->Copy(from, len)) return false;
      delta = next;
      gapStart = p = at + len;
    }
    return Gap(gapStart, newSize_, delta, nullptr);
  }

 private:
  static constexpr uint64_t kNone = ~uint64_t(0);

  bool InOld(uint64_t q) const { return q < oldSize_ && oldSize_ - q >= kKey; }

  uint64_t SameUnder(int64_t delta, uint64_t p, uint64_t len) const {
    uint64_t same = 0;
    for (uint64_t i = 0; i < len; ++i) {
      const uint64_t q = p + i + uint64_t(delta);
      if (q < oldSize_ && old_[q] == new_[p + i]) ++same;
    }
    return same;
  }

  // The longest run from `start` (forward, or backward from `start` when
  // step is -1) worth coding as differences under `delta`: the one where
  // equal bytes outnumber unequal ones by the most.
  uint64_t Stretch(uint64_t start, uint64_t room, int64_t delta, bool backward) const {
    int64_t score = 0, best = 0;
    uint64_t bestLen = 0;
    for (uint64_t i = 0; i < room; ++i) {
      const uint64_t at = backward ? start - 1 - i : start + i;
      const uint64_t q = at + uint64_t(delta);
      if (q >= oldSize_) break;
      score += old_[q] == new_[at] ? 1 : -1;
      if (score > best) {
        best = score;
        bestLen = i + 1;
      }
    }
    return bestLen;
  }

  bool Gap(uint64_t from, uint64_t to, int64_t before, const int64_t* after) {
    if (from == to) return true;
    const uint64_t head = Stretch(from, to - from, before, false);
    const uint64_t tail = after ? Stretch(to, to - from - head, *after, true) : 0;
    if (head > 0 && !emit_->Diff(old_, from + uint64_t(before), new_ + from, head)) return false;
    const uint64_t middle = to - from - head - tail;
    if (middle > 0 && !emit_->Add(new_ + from + head, middle)) return false;
    return tail == 0 || emit_->Diff(old_, to - tail + uint64_t(*after), new_ + to - tail, tail);
  }

  const uint8_t* old_;
  uint64_t oldSize_;
  const uint8_t* new_;
  uint64_t newSize_;
  Emitter* emit_;
  uint64_t minCopy_;
  std::vector<uint32_t> table_;
  uint64_t stride_ = 1;
  int bits_ = 0;
};

}  // namespace

bool MakePatch(const uint8_t* oldData, uint64_t oldSize, const uint8_t* newData, uint64_t newSize,
               const std::function<bool(const uint8_t*, size_t)>& out, PatchStats* stats, PatchTuning tuning) {
  PatchStats ignored;
  if (!stats) stats = &ignored;
  *stats = PatchStats();
  // Positions are kept in 32 bits.
  if (oldSize > 0xFFFFFFFFu) return false;
  Emitter emit(out, stats);
  Coder coder(oldData, oldSize, newData, newSize, &emit, tuning);
  return coder.Index(&stats->indexStride) && emit.Header(oldSize, newSize) && coder.Run() && emit.Finish();
}

namespace {

void* LzmaAlloc(ISzAllocPtr, size_t size) { return std::malloc(size); }
void LzmaFree(ISzAllocPtr, void* address) { std::free(address); }
const ISzAlloc kLzmaAlloc = {LzmaAlloc, LzmaFree};

struct ReadStream {
  ISeqInStream vt;
  const std::function<bool(uint8_t*, size_t, size_t*)>* read;
  bool failed = false;
};
struct WriteStream {
  ISeqOutStream vt;
  const std::function<bool(const uint8_t*, size_t)>* out;
};

SRes ReadPiece(ISeqInStreamPtr p, void* buffer, size_t* size) {
  ReadStream* s = reinterpret_cast<ReadStream*>(const_cast<ISeqInStream*>(p));
  size_t got = 0;
  if (!(*s->read)(static_cast<uint8_t*>(buffer), *size, &got)) {
    s->failed = true;
    return SZ_ERROR_READ;
  }
  *size = got;
  return SZ_OK;
}

size_t WritePiece(ISeqOutStreamPtr p, const void* data, size_t size) {
  const WriteStream* s = reinterpret_cast<const WriteStream*>(p);
  return (*s->out)(static_cast<const uint8_t*>(data), size) ? size : 0;
}

}  // namespace

bool PackPatch(const std::function<bool(uint8_t*, size_t, size_t*)>& read, uint64_t rawSize,
               const std::function<bool(const uint8_t*, size_t)>& out) {
  CLzmaEncHandle encoder = LzmaEnc_Create(&kLzmaAlloc);
  if (!encoder) return false;
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.level = 9;
  props.dictSize = uint32_t(std::min<uint64_t>(std::max<uint64_t>(rawSize, 1u << 12), 16u << 20));
  props.reduceSize = rawSize;
  props.numThreads = 1;
  props.writeEndMark = 0;
  uint8_t header[kPatchLzmaHeaderSize];
  std::memcpy(header, kPatchLzmaMagic, 4);
  SizeT propsSize = LZMA_PROPS_SIZE;
  StoreLE64(header + 4 + LZMA_PROPS_SIZE, rawSize);
  ReadStream in{{ReadPiece}, &read};
  WriteStream to{{WritePiece}, &out};
  const bool ok = LzmaEnc_SetProps(encoder, &props) == SZ_OK &&
                  LzmaEnc_WriteProperties(encoder, header + 4, &propsSize) == SZ_OK && propsSize == LZMA_PROPS_SIZE &&
                  out(header, sizeof header) &&
                  LzmaEnc_Encode(encoder, &to.vt, &in.vt, nullptr, &kLzmaAlloc, &kLzmaAlloc) == SZ_OK;
  LzmaEnc_Destroy(encoder, &kLzmaAlloc, &kLzmaAlloc);
  return ok;
}
