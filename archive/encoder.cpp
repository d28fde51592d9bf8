#include "archive/encoder.h"

#include <algorithm>
#include <cstring>

#include "archive/stream_writer.h"

namespace {

constexpr size_t kMaxShortDistance = StreamWriter::kMaxShortDistance;
constexpr size_t kMaxDistance = StreamWriter::kMaxLongDistance;
constexpr size_t kMinLong = StreamWriter::kMinLongLength;
constexpr size_t kMaxLong = StreamWriter::kMaxLongLength;
constexpr size_t kProgressStep = size_t(1) << 20;

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

// ---------------------------------------------------------------- fast mode

inline uint32_t Hash4(const uint8_t* p, unsigned bits) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return (v * 2654435761u) >> (32 - bits);
}

// Greedy: one hash probe per position, the match it finds if any, and a
// short copy when the probe finds only two bytes close enough.
void CompressFast(const uint8_t* data, size_t size, StreamWriter& w,
                  const CompressProgress& progress) {
  constexpr unsigned kHashBits = 14;
  std::vector<uint32_t> table(size_t(1) << kHashBits, 0);  // position + 1
  size_t i = 0, reported = 0;
  while (i < size) {
    if (progress && i - reported >= kProgressStep) {
      progress(i);
      reported = i;
    }
    if (size - i >= 4) {
      uint32_t h = Hash4(data + i, kHashBits);
      uint32_t candidate = table[h];
      table[h] = uint32_t(i + 1);
      if (candidate != 0 && i - (candidate - 1) <= kMaxDistance) {
        size_t m = candidate - 1, distance = i - m;
        size_t len = MatchLength(data + m, data + i, std::min(kMaxLong, size - i));
        if (len >= kMinLong) {
          w.LongCopy(distance, len);
          // Every position inside the copy goes into the table: later copies
          // then find the nearest start, not only the copy's first.
          size_t end = i + len;
          for (++i; i < end && size - i >= 4; ++i)
            table[Hash4(data + i, kHashBits)] = uint32_t(i + 1);
          i = end;
          continue;
        }
        if (len == 2 && distance <= kMaxShortDistance) {
          w.ShortCopy(distance);
          i += 2;
          continue;
        }
      }
    }
    w.Literal(data[i]);
    ++i;
  }
}

// ------------------------------------------------------------- optimal mode

struct Match {
  uint32_t length;
  uint32_t distance;
};

// Binary-tree match finder over the window: one tree per two-byte prefix,
// ordered by the strings' bytes and, along every path, from the most recent
// position down. The search path for a position thus meets, for every
// length, the nearest earlier position that matches at least that far, which
// is what the optimal parse needs (the cheaper distance class wins).
class MatchFinder {
 public:
  MatchFinder(const uint8_t* data, size_t size)
      : data_(data), size_(size), head_(size_t(1) << 16, 0), son_(2 * kCycle, 0) {}

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
  // A power of two above the window, so a node is never reused while a
  // position within reach can still point at it.
  static constexpr size_t kCycle = 16384;
  static constexpr size_t kMask = kCycle - 1;
  static_assert(kCycle > kMaxDistance, "tree nodes must outlive the window");

  const uint8_t* data_;
  size_t size_;
  std::vector<uint32_t> head_;
  std::vector<uint32_t> son_;  // [2 * slot] smaller child, [2 * slot + 1] larger
};

// The last code on the cheapest path to a position: length 1 a literal,
// 2 a short copy, 3..282 a long copy.
inline uint32_t PackStep(size_t length, size_t distance) {
  return uint32_t(length) | uint32_t(distance) << 9;
}

// Shortest path over positions 0..size where every code is an edge weighted
// by its exact bit count. Costs are only needed up to one longest copy
// ahead, so they live in a ring; the path's last steps need every position.
void CompressOptimal(const uint8_t* data, size_t size, StreamWriter& w,
                     const CompressProgress& progress) {
  constexpr size_t kRing = 512;
  static_assert(kRing > kMaxLong, "the ring must reach one longest copy ahead");
  constexpr uint32_t kUnreached = 0xFFFFFFFFu;
  std::vector<uint32_t> step(size + 1, 0);
  uint32_t cost[kRing];
  std::fill(cost, cost + kRing, kUnreached);
  cost[0] = 0;
  uint8_t lengthBits[kMaxLong + 1] = {};
  for (size_t n = kMinLong; n <= kMaxLong; ++n) lengthBits[n] = uint8_t(StreamWriter::LengthBits(n));

  MatchFinder finder(data, size);
  Match matches[kMaxLong + 1];
  size_t reported = 0;
  for (size_t i = 0; i < size; ++i) {
    if (progress && i - reported >= kProgressStep) {
      progress(i);
      reported = i;
    }
    const uint32_t here = cost[i % kRing];
    cost[i % kRing] = kUnreached;  // the slot now serves position i + kRing
    auto relax = [&](size_t length, uint32_t bits, size_t distance) {
      uint32_t& target = cost[(i + length) % kRing];
      if (here + bits < target) {
        target = here + bits;
        step[i + length] = PackStep(length, distance);
      }
    };
    relax(1, StreamWriter::kLiteralBits, 0);
    size_t count = finder.Find(i, matches);
    size_t covered = 1;  // lengths up to this one have a nearer match
    for (size_t k = 0; k < count; ++k) {
      size_t length = matches[k].length, distance = matches[k].distance;
      size_t n = covered + 1;
      if (n == 2) {
        if (distance <= kMaxShortDistance) relax(2, StreamWriter::ShortCopyBits(distance), distance);
        n = 3;
      }
      const uint32_t base = here + 2 + StreamWriter::DistanceBits(distance);
      for (; n <= length; ++n) {
        uint32_t& target = cost[(i + n) % kRing];
        uint32_t bits = base + lengthBits[n];
        if (bits < target) {
          target = bits;
          step[i + n] = PackStep(n, distance);
        }
      }
      covered = length;
    }
  }

  // Walk the path back from the end, then write it forwards.
  std::vector<uint32_t> path;
  for (size_t j = size; j > 0;) {
    path.push_back(step[j]);
    j -= step[j] & 511;
  }
  std::vector<uint32_t>().swap(step);
  size_t pos = 0;
  for (size_t k = path.size(); k-- > 0;) {
    size_t length = path[k] & 511, distance = path[k] >> 9;
    if (length == 1)
      w.Literal(data[pos]);
    else if (length == 2)
      w.ShortCopy(distance);
    else
      w.LongCopy(distance, length);
    pos += length;
  }
}

}  // namespace

bool CompressArchiveStream(const uint8_t* data, size_t size, CompressionMode mode,
                           CompressedStream* out, const CompressProgress& progress) {
  if (size > kMaxCompressInput) return false;
  StreamWriter fast;
  fast.Reserve(size + size / 8 + 16);
  CompressFast(data, size, fast, mode == CompressionMode::Fast ? progress : CompressProgress());
  fast.End();
  if (mode == CompressionMode::Optimal) {
    StreamWriter best;
    best.Reserve(fast.bytes().size());
    CompressOptimal(data, size, best, progress);
    best.End();
    out->parseBits = best.bits();
    // Fewest bits can still round up to a longer last flag word than the
    // fast parse's; keep whichever stream is shorter.
    if (best.bytes().size() <= fast.bytes().size()) {
      out->bits = best.bits();
      out->bytes = best.Take();
      return true;
    }
  }
  if (mode == CompressionMode::Fast) out->parseBits = fast.bits();
  out->bits = fast.bits();
  out->bytes = fast.Take();
  return true;
}
