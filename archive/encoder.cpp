#include "archive/encoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "archive/stream_compressor.h"
#include "archive/stream_writer.h"

namespace {

constexpr size_t kMaxShortDistance = StreamWriter::kMaxShortDistance;
constexpr size_t kMaxDistance = StreamWriter::kMaxLongDistance;
constexpr size_t kMinLong = StreamWriter::kMinLongLength;
constexpr size_t kMaxLong = StreamWriter::kMaxLongLength;
constexpr uint32_t kLengthMask = 511;
constexpr uint32_t kMaxLiteralRun = 0xFFFFFFFFu >> 9;

// How many bytes at a and b agree, up to `limit`.
inline size_t MatchLength(const uint8_t* a, const uint8_t* b, size_t limit) {
  size_t n = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  while (limit - n >= 8) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) return n + size_t(__builtin_ctzll(x ^ y) >> 3);
    n += 8;
  }
#endif
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

inline uint32_t PackCode(size_t length, size_t distance) {
  return uint32_t(length) | uint32_t(distance) << 9;
}

// Collects a parse's codes (literals gathered into runs) and counts its bits.
class CodeList {
 public:
  CodeList(BlockParse* out, bool keep) : out_(out), keep_(keep) { out->Clear(); }
  ~CodeList() { FlushRun(); }

  void Literal() {
    ++out_->controlBits;
    ++out_->dataBytes;
    if (keep_ && ++run_ == kMaxLiteralRun) FlushRun();
  }
  void ShortCopy(size_t distance) {
    out_->controlBits += distance <= 256 ? 3 : 6;
    ++out_->dataBytes;
    Keep(2, distance);
  }
  void LongCopy(size_t distance, size_t length) {
    unsigned data = length >= 27 ? 2 : 1;
    out_->controlBits += StreamWriter::LongCopyBits(distance, length) - 8 * data;
    out_->dataBytes += data;
    Keep(length, distance);
  }

 private:
  void Keep(size_t length, size_t distance) {
    if (!keep_) return;
    FlushRun();
    out_->codes.push_back(PackCode(length, distance));
  }
  void FlushRun() {
    if (run_) out_->codes.push_back(run_ << 9);
    run_ = 0;
  }

  BlockParse* out_;
  bool keep_;
  uint32_t run_ = 0;
};

// ---------------------------------------------------------------- fast mode

constexpr unsigned kHashBits = 14;

inline uint32_t Hash4(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return (v * 2654435761u) >> (32 - kHashBits);
}

// ------------------------------------------------------------- optimal mode

struct Match {
  uint32_t length;
  uint32_t distance;
};

// A power of two above the window, so a tree node is never reused while a
// position within reach can still point at it.
constexpr size_t kCycle = 16384;
constexpr size_t kMask = kCycle - 1;
static_assert(kCycle > kMaxDistance, "tree nodes must outlive the window");

// Binary-tree match finder over the window: one tree per two-byte prefix,
// ordered by the strings' bytes and, along every path, from the most recent
// position down. The search path for a position thus meets, for every
// length, the nearest earlier position that matches at least that far, which
// is what the optimal parse needs (the cheaper distance class wins).
class MatchFinder {
 public:
  // `head` has 65536 entries, `son` 2 * kCycle.
  MatchFinder(const uint8_t* data, size_t size, uint32_t* head, uint32_t* son)
      : data_(data), size_(size), head_(head), son_(son) {
    std::fill(head_, head_ + 65536, 0u);
  }

  // Inserts `pos` (called for every position in order) and writes its
  // matches to `out` with strictly increasing length and distance: for each
  // length up to a pair's, that pair's distance is the nearest one.
  size_t Find(size_t pos, Match* out) {
    size_t limit = std::min(kMaxLong, size_ - pos);
    if (limit < 2) return 0;
    const uint8_t* cur = data_ + pos;
    uint32_t* bucket = &head_[size_t(cur[0]) | (size_t(cur[1]) << 8)];
    uint32_t next = *bucket;  // position + 1, 0 for none
    *bucket = uint32_t(pos + 1);
    uint32_t* smaller = &son_[2 * (pos & kMask)];     // where the next smaller node goes
    uint32_t* larger = &son_[2 * (pos & kMask) + 1];  // and the next larger one
    size_t smallerLen = 2, largerLen = 2, best = 1, n = 0;
    for (;;) {
      if (next == 0 || pos - (next - 1) > kMaxDistance) {
        *smaller = *larger = 0;
        return n;
      }
      size_t m = next - 1;
      const uint8_t* candidate = data_ + m;
      uint32_t* pair = &son_[2 * (m & kMask)];
      size_t len = std::min(smallerLen, largerLen);
      len += MatchLength(candidate + len, cur + len, limit - len);
      if (len > best) {
        out[n++] = Match{uint32_t(len), uint32_t(pos - m)};
        best = len;
        if (len == limit) {
          // Equal as far as any later search can look: the new position
          // takes this node's place.
          *smaller = pair[0];
          *larger = pair[1];
          return n;
        }
      }
      if (candidate[len] < cur[len]) {
        *smaller = next;
        smaller = &pair[1];
        next = *smaller;
        smallerLen = len;
      } else {
        *larger = next;
        larger = &pair[0];
        next = *larger;
        largerLen = len;
      }
    }
  }

 private:
  const uint8_t* data_;
  size_t size_;
  uint32_t* head_;
  uint32_t* son_;  // [2 * slot] smaller child, [2 * slot + 1] larger
};

}  // namespace

BlockParser::BlockParser() = default;
BlockParser::~BlockParser() = default;

// Greedy: one hash probe per position, the match it finds if any, and a
// short copy when the probe finds only two bytes close enough. The table
// starts empty at every block and takes in the history first, so a block's
// parse depends on its own bytes and the window before it only.
void BlockParser::Fast(const uint8_t* window, size_t history, size_t size, bool keepCodes,
                       BlockParse* out) {
  hash_.assign(size_t(1) << kHashBits, 0);  // position + 1
  uint32_t* table = hash_.data();
  const size_t end = history + size;
  for (size_t p = 0; p < history && end - p >= 4; ++p) table[Hash4(window + p)] = uint32_t(p + 1);
  CodeList codes(out, keepCodes);
  size_t i = history;
  while (i < end) {
    if (end - i >= 4) {
      uint32_t h = Hash4(window + i);
      uint32_t candidate = table[h];
      table[h] = uint32_t(i + 1);
      if (candidate != 0 && i - (candidate - 1) <= kMaxDistance) {
        size_t m = candidate - 1, distance = i - m;
        size_t len = MatchLength(window + m, window + i, std::min(kMaxLong, end - i));
        if (len >= kMinLong) {
          codes.LongCopy(distance, len);
          // Every position inside the copy goes into the table: later copies
          // then find the nearest start, not only the copy's first.
          size_t copyEnd = i + len;
          for (++i; i < copyEnd && end - i >= 4; ++i) table[Hash4(window + i)] = uint32_t(i + 1);
          i = copyEnd;
          continue;
        }
        if (len == 2 && distance <= kMaxShortDistance) {
          codes.ShortCopy(distance);
          i += 2;
          continue;
        }
      }
    }
    codes.Literal();
    ++i;
  }
}

// Shortest path over the block's positions where every code is an edge
// weighted by its exact bit count. Costs are only needed up to one longest
// copy ahead, so they live in a ring; the path's last steps need every
// position.
bool BlockParser::Optimal(const uint8_t* window, size_t history, size_t size,
                          const std::atomic<bool>* stop, BlockParse* out) {
  constexpr size_t kRing = 512;
  static_assert(kRing > kMaxLong, "the ring must reach one longest copy ahead");
  constexpr uint32_t kUnreached = 0xFFFFFFFFu;
  constexpr size_t kStopCheck = size_t(1) << 16;
  out->Clear();
  if (step_.size() < size + 1) step_.resize(size + 1);
  head_.resize(65536);
  son_.resize(2 * kCycle);
  uint32_t* step = step_.data();  // relative to the block's start
  uint32_t cost[kRing];
  std::fill(cost, cost + kRing, kUnreached);
  cost[0] = 0;
  uint8_t lengthBits[kMaxLong + 1] = {};
  for (size_t n = kMinLong; n <= kMaxLong; ++n) lengthBits[n] = uint8_t(StreamWriter::LengthBits(n));

  MatchFinder finder(window, history + size, head_.data(), son_.data());
  Match matches[kMaxLong + 1];
  for (size_t p = 0; p < history; ++p) finder.Find(p, matches);
  // Copies of 27 bytes or more all cost the same for their length, so one
  // copy reaches its targets from 27 on at one price: such a stretch waits
  // in `longCopies` (in source order) until its first target comes, then in
  // a heap of the cheapest until its last has passed. A target takes the
  // cheapest stretch over it, the earliest source among equals, exactly as
  // relaxing every target one by one would, at a fraction of the work on
  // long repeats.
  constexpr size_t kLongStretch = 27;
  longCopies_.clear();
  heap_.clear();
  size_t nextLong = 0;
  auto worse = [](const Stretch& a, const Stretch& b) {
    return a.bits != b.bits ? a.bits > b.bits : a.source > b.source;
  };
  // The cheapest way to position r, the stretches over it included.
  auto arrive = [&](size_t r) {
    for (; nextLong < longCopies_.size() && longCopies_[nextLong].source + kLongStretch <= r; ++nextLong) {
      heap_.push_back(longCopies_[nextLong]);
      std::push_heap(heap_.begin(), heap_.end(), worse);
    }
    if (nextLong == longCopies_.size()) {
      longCopies_.clear();
      nextLong = 0;
    }
    while (!heap_.empty() && heap_.front().end < r) {
      std::pop_heap(heap_.begin(), heap_.end(), worse);
      heap_.pop_back();
    }
    uint32_t here = cost[r % kRing];
    if (!heap_.empty()) {
      const Stretch& best = heap_.front();
      if (best.bits < here || (best.bits == here && best.source < r - (step[r] & kLengthMask))) {
        here = best.bits;
        step[r] = PackCode(r - best.source, best.distance);
      }
    }
    return here;
  };
  for (size_t r = 0; r < size; ++r) {
    if (stop && r % kStopCheck == 0 && stop->load(std::memory_order_relaxed)) return false;
    const uint32_t here = arrive(r);
    cost[r % kRing] = kUnreached;  // the slot now serves position r + kRing
    auto relax = [&](size_t length, uint32_t bits, size_t distance) {
      uint32_t& target = cost[(r + length) % kRing];
      if (here + bits < target) {
        target = here + bits;
        step[r + length] = PackCode(length, distance);
      }
    };
    relax(1, StreamWriter::kLiteralBits, 0);
    size_t count = finder.Find(history + r, matches);
    size_t covered = 1;  // lengths up to this one have a nearer match
    for (size_t k = 0; k < count; ++k) {
      size_t length = matches[k].length, distance = matches[k].distance;
      size_t n = covered + 1;
      if (n == 2) {
        if (distance <= kMaxShortDistance) relax(2, StreamWriter::ShortCopyBits(distance), distance);
        n = 3;
      }
      const uint32_t base = here + 2 + StreamWriter::DistanceBits(distance);
      size_t directEnd = length;
      if (n <= kLongStretch && length >= kLongStretch) {
        longCopies_.push_back(Stretch{base + lengthBits[kLongStretch], uint32_t(r), uint32_t(r + length),
                                      uint32_t(distance)});
        directEnd = kLongStretch - 1;
      }
      for (; n <= directEnd; ++n) {
        uint32_t& target = cost[(r + n) % kRing];
        uint32_t bits = base + lengthBits[n];
        if (bits < target) {
          target = bits;
          step[r + n] = PackCode(n, distance);
        }
      }
      covered = length;
    }
  }
  if (size > 0) arrive(size);

  // Walk the path back from the end, turning each step around so that it
  // sits where its code starts, then read it forwards.
  uint32_t code = step[size];
  for (size_t j = size; j > 0;) {
    size_t start = j - (code & kLengthMask);
    uint32_t earlier = step[start];
    step[start] = code;
    code = earlier;
    j = start;
  }
  CodeList codes(out, true);
  for (size_t r = 0; r < size;) {
    size_t length = step[r] & kLengthMask, distance = step[r] >> 9;
    if (length == 1)
      codes.Literal();
    else if (length == 2)
      codes.ShortCopy(distance);
    else
      codes.LongCopy(distance, length);
    r += length;
  }
  return true;
}

void WriteBlockParse(const BlockParse& parse, const uint8_t* block, StreamWriter& w) {
  for (uint32_t code : parse.codes) {
    size_t length = code & kLengthMask, rest = code >> 9;
    if (length == 0) {
      for (size_t k = 0; k < rest; ++k) w.Literal(*block++);
      continue;
    }
    if (length == 2)
      w.ShortCopy(rest);
    else
      w.LongCopy(rest, length);
    block += length;
  }
}

bool CompressArchiveStream(const uint8_t* data, size_t size, CompressionMode mode,
                           CompressedStream* out, const CompressProgress& progress) {
  if (size > kMaxCompressInput) return false;
  std::vector<uint8_t> bytes;
  StreamCompressor compressor(mode, 1, [&](const uint8_t* p, size_t n) {
    bytes.insert(bytes.end(), p, p + n);
    return true;
  });
  constexpr size_t kPiece = size_t(1) << 20;
  for (size_t done = 0; done < size;) {
    size_t n = std::min(kPiece, size - done);
    if (!compressor.Write(data + done, n)) throw std::bad_alloc();
    done += n;
    if (progress) progress(done);
  }
  if (!compressor.Finish()) throw std::bad_alloc();
  out->bytes = std::move(bytes);
  out->bits = compressor.bits();
  out->parseBits = compressor.parseBits();
  return true;
}
