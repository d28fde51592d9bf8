#include "archive/stream_compressor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#include "archive/decoder.h"
#include "archive/stream_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Words, random stretches and long repeats: copies of every length and
// distance class, some of them across any block boundary.
Bytes Mixed(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"update ", "archive ", "member ", "SETUP.INI\r\n",
                                       "\x83Q\x81[\x83\x80 ", "DATA\\", "=1,u,"};
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < n) {
    switch (rng() % 4) {
      case 0:
      case 1: {
        const char* w = kWords[rng() % 7];
        out.insert(out.end(), w, w + std::strlen(w));
        break;
      }
      case 2:
        for (unsigned k = rng() % 64; k > 0; --k) out.push_back(uint8_t(rng()));
        break;
      default:
        if (out.size() > 10) {
          size_t back = 1 + rng() % std::min<size_t>(out.size(), 9000);
          size_t len = rng() % 600;
          for (size_t k = 0; k < len; ++k) out.push_back(out[out.size() - back]);
        }
    }
  }
  out.resize(n);
  return out;
}

struct Result {
  Bytes bytes;
  CompressError error = CompressError::None;
  uint64_t bits = 0, parseBits = 0, outputBytes = 0;
};

// Compresses `in` handed over in pieces of `piece` bytes.
Result Compress(const Bytes& in, CompressionMode mode, unsigned jobs, size_t piece,
                size_t blockSize = kCompressBlockSize) {
  Result r;
  StreamCompressor c(mode, jobs, [&](const uint8_t* p, size_t n) {
    r.bytes.insert(r.bytes.end(), p, p + n);
    return true;
  }, blockSize);
  for (size_t i = 0; i < in.size(); i += piece)
    EXPECT_TRUE(c.Write(in.data() + i, std::min(piece, in.size() - i)));
  EXPECT_TRUE(c.Finish());
  EXPECT_EQ(c.inputBytes(), in.size());
  r.error = c.error();
  r.bits = c.bits();
  r.parseBits = c.parseBits();
  r.outputBytes = c.outputBytes();
  return r;
}

Bytes Decode(const Bytes& stream, size_t size) {
  Bytes out(size + 1, 0xCC);
  DecodeResult r = DecodeArchiveStream(out.data(), out.size(), stream.data(), stream.size());
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.consumed, stream.size());
  out.resize(r.written);
  return out;
}

const char* Name(CompressionMode mode) { return mode == CompressionMode::Fast ? "fast" : "optimal"; }

TEST(StreamCompressorTest, SameBytesForEveryJobCountAndEveryWayOfCuttingTheInput) {
  const Bytes in = Mixed(120000, 1);
  const size_t block = 10000;  // twelve blocks
  for (CompressionMode mode : {CompressionMode::Fast, CompressionMode::Optimal}) {
    const Result one = Compress(in, mode, 1, in.size(), block);
    EXPECT_EQ(Decode(one.bytes, in.size()), in) << Name(mode);
    EXPECT_EQ(one.outputBytes, one.bytes.size());
    for (unsigned jobs : {1u, 2u, 3u, 8u}) {
      for (size_t piece : {size_t(1), size_t(777), size_t(10000), size_t(10001), in.size()}) {
        if (piece == 1 && jobs != 3) continue;  // one byte at a time is slow; once suffices
        Result r = Compress(in, mode, jobs, piece, block);
        EXPECT_EQ(r.bytes, one.bytes) << Name(mode) << " jobs " << jobs << " pieces of " << piece;
        EXPECT_EQ(r.bits, one.bits);
      }
    }
  }
}

TEST(StreamCompressorTest, TheWholeBufferCompressorGivesTheStreamedBytes) {
  // Past two default blocks; fast mode keeps it quick.
  const Bytes in = Mixed(2 * kCompressBlockSize + 12345, 2);
  CompressedStream whole;
  ASSERT_TRUE(CompressArchiveStream(in.data(), in.size(), CompressionMode::Fast, &whole));
  Result streamed = Compress(in, CompressionMode::Fast, 2, 65537);
  EXPECT_EQ(streamed.bytes, whole.bytes);
  EXPECT_EQ(streamed.bits, whole.bits);
  EXPECT_EQ(Decode(whole.bytes, in.size()), in);
}

TEST(StreamCompressorTest, RoundTripsAcrossBlockBoundaries) {
  // Blocks smaller than the window (its history then spans several blocks),
  // of one byte, and long runs that every block boundary cuts.
  const Bytes mixed = Mixed(30000, 3), run(20000, 0x5A);
  // Every block takes in its window first: tiny blocks get short inputs.
  const Bytes shortMixed = Mixed(1500, 3), shortRun(1500, 0xA5);
  for (CompressionMode mode : {CompressionMode::Fast, CompressionMode::Optimal}) {
    for (size_t block : {size_t(1), size_t(7), size_t(1000), size_t(8191), size_t(8192), size_t(8193)}) {
      for (const Bytes* in : {&mixed, &run}) {
        if (block < 1000) in = in == &mixed ? &shortMixed : &shortRun;
        Result r = Compress(*in, mode, 2, 4099, block);
        EXPECT_EQ(Decode(r.bytes, in->size()), *in) << Name(mode) << " blocks of " << block;
      }
    }
  }
}

// Bytes in which no two neighbours repeat anywhere: nothing in it matches
// anything else, so every copy the parse makes is one the test planted.
Bytes WithoutRepeatedPairs(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<bool> seen(65536);
  Bytes out{uint8_t(rng())};
  while (out.size() < n) {
    uint8_t next = uint8_t(rng());
    unsigned pair = unsigned(out.back()) << 8 | next;
    if (seen[pair]) continue;
    seen[pair] = true;
    out.push_back(next);
  }
  return out;
}

TEST(StreamCompressorTest, ABlockSeesTheWholeWindowBeforeItAcrossSeveralBlocks) {
  // 40 bytes planted `distance` after their source. A copy within reach
  // costs what the same copy from inside the window costs (the optimal
  // parse finds every match; the fast one may lose a source to its hash
  // table, so it is held to the gain only); 8193 back it is all literals.
  struct Case {
    size_t from, distance, block, reference;
    bool found;
  } cases[] = {
      {4000, 8192, 4096, 2000, true}, {4000, 8193, 4096, 2000, false},
      {0, 8192, 4096, 2000, true},    // from block 2's first byte to the window's first
      {4095, 1000, 4096, 3000, true},  // from the last byte before block 1
      {127, 50, 128, 100, true},       // the same in small blocks, where the fast table keeps it
  };
  const Bytes plain = WithoutRepeatedPairs(12300, 7);
  auto planted = [&](size_t from, size_t distance) {
    Bytes in = plain;
    std::copy(plain.begin() + long(from), plain.begin() + long(from + 40), in.begin() + long(from + distance));
    return in;
  };
  for (CompressionMode mode : {CompressionMode::Fast, CompressionMode::Optimal}) {
    for (const Case& c : cases) {
      const Result literals = Compress(plain, mode, 2, plain.size(), c.block);
      const Bytes in = planted(c.from, c.distance);
      const Result r = Compress(in, mode, 2, 1000, c.block);
      EXPECT_EQ(Decode(r.bytes, in.size()), in);
      if (!c.found) {
        EXPECT_EQ(r.bits, literals.bits) << Name(mode) << " from " << c.from;
        continue;
      }
      const Result reference = Compress(planted(c.reference, c.distance), mode, 2, 1000, c.block);
      EXPECT_LT(r.bits, literals.bits - 40 * 9 + 100) << Name(mode) << " from " << c.from;
      if (mode == CompressionMode::Optimal || c.block == 128)
        EXPECT_EQ(r.bits, reference.bits) << Name(mode) << " from " << c.from;
    }
  }
}

TEST(StreamCompressorTest, OptimalIsNeverLongerThanFastWhereverTheBlocksFall) {
  // Tiny blocks: most gain only a few bits over the fast parse, so the last
  // flag word's rounding decides, block after block.
  int fastBlocksTaken = 0;
  for (uint32_t seed = 0; seed < 300; ++seed) {
    Bytes in = Mixed(50 + seed * 7 % 900, seed);
    size_t block = 1 + seed % 61;
    Result fast = Compress(in, CompressionMode::Fast, 1, in.size(), block);
    Result optimal = Compress(in, CompressionMode::Optimal, 1, in.size(), block);
    ASSERT_LE(optimal.bytes.size(), fast.bytes.size()) << "seed " << seed;
    ASSERT_LE(optimal.parseBits, fast.parseBits) << "seed " << seed;
    ASSERT_EQ(Decode(optimal.bytes, in.size()), in) << "seed " << seed;
    fastBlocksTaken += optimal.bits > optimal.parseBits;
  }
  EXPECT_GT(fastBlocksTaken, 0);  // the choice was put to the test
}

TEST(StreamCompressorTest, EmptyInputIsJustTheEndCode) {
  for (unsigned jobs : {1u, 3u}) {
    Result r = Compress({}, CompressionMode::Optimal, jobs, 1);
    EXPECT_EQ(r.bytes, (Bytes{0x00, 0x00, 0x00, 0x7C, 0xFF}));
    EXPECT_EQ(r.bits, 14u);
  }
}

TEST(StreamCompressorTest, ASinkThatFailsStopsEverything) {
  const Bytes in = Mixed(200000, 4);
  for (unsigned jobs : {1u, 2u, 8u}) {
    for (int failAt : {0, 3}) {
      int calls = 0, callsAfterFailure = 0;
      bool failed = false;
      StreamCompressor c(CompressionMode::Optimal, jobs, [&](const uint8_t*, size_t) {
        if (failed) ++callsAfterFailure;
        if (calls++ == failAt) failed = true;
        return !failed;
      }, 5000);
      bool ok = true;
      for (size_t i = 0; i < in.size() && ok; i += 3000)
        ok = c.Write(in.data() + i, std::min<size_t>(3000, in.size() - i));
      EXPECT_FALSE(ok && c.Finish()) << "jobs " << jobs;
      EXPECT_EQ(c.error(), CompressError::SinkFailed);
      EXPECT_FALSE(c.Write(in.data(), 10));
      EXPECT_FALSE(c.Finish());
      EXPECT_EQ(callsAfterFailure, 0);
    }
  }
}

TEST(StreamCompressorTest, OneLargeWriteFeedsTheSinkAsItGoes) {
  // However large a piece, at most two blocks a thread wait to be written
  // besides the one being filled: the sink sees output long before the
  // piece is all taken, and memory does not grow with it.
  const Bytes in = Mixed(300000, 8);
  const size_t block = 5000;
  for (unsigned jobs : {1u, 3u}) {
    StreamCompressor* self = nullptr;
    uint64_t takenAtFirstOutput = 0;
    StreamCompressor c(CompressionMode::Fast, jobs, [&](const uint8_t*, size_t) {
      if (takenAtFirstOutput == 0) takenAtFirstOutput = self->inputBytes();
      return true;
    }, block);
    self = &c;
    EXPECT_TRUE(c.Write(in.data(), in.size()));
    EXPECT_TRUE(c.Finish());
    EXPECT_GT(takenAtFirstOutput, 0u);
    EXPECT_LE(takenAtFirstOutput, (2 * jobs + 2) * block) << "jobs " << jobs;
  }
}

TEST(StreamCompressorTest, AllocationFailureIsReportedAsOutOfMemory) {
  const Bytes in = Mixed(50000, 5);
  {
    // A block larger than any memory.
    StreamCompressor c(CompressionMode::Optimal, 2, [](const uint8_t*, size_t) { return true; },
                       SIZE_MAX);
    EXPECT_FALSE(c.Write(in.data(), in.size()));
    EXPECT_EQ(c.error(), CompressError::OutOfMemory);
    EXPECT_FALSE(c.Finish());
  }
  // A sink whose buffer cannot grow, with workers running.
  for (unsigned jobs : {1u, 4u}) {
    int calls = 0;
    StreamCompressor c(CompressionMode::Fast, jobs, [&](const uint8_t*, size_t) {
      if (++calls == 2) throw std::bad_alloc();
      return true;
    }, 4000);
    bool ok = true;
    for (size_t i = 0; i < in.size() && ok; i += 4500)
      ok = c.Write(in.data() + i, std::min<size_t>(4500, in.size() - i));
    EXPECT_FALSE(ok && c.Finish());
    EXPECT_EQ(c.error(), CompressError::OutOfMemory) << "jobs " << jobs;
  }
}

TEST(StreamCompressorTest, RefusesMoreThanItsLimitAndCleansUpWithoutFinish) {
  const Bytes in = Mixed(100000, 6);
  {
    StreamCompressor c(CompressionMode::Fast, 1, [](const uint8_t*, size_t) { return true; });
    EXPECT_TRUE(c.Write(in.data(), 100));
    // Refused by its size alone, before a byte is read.
    EXPECT_FALSE(c.Write(in.data(), kMaxCompressInput));
    EXPECT_EQ(c.error(), CompressError::TooLarge);
  }
  // Left mid-stream with blocks still being parsed: the destructor stops
  // and joins the workers.
  StreamCompressor c(CompressionMode::Optimal, 4, [](const uint8_t*, size_t) { return true; }, 3000);
  EXPECT_TRUE(c.Write(in.data(), in.size()));
}

TEST(StreamWriterTest, HandingOutSettledBytesKeepsTheStream) {
  // Random codes, written once whole and once with the settled bytes taken
  // away after every code.
  std::mt19937 rng(9);
  StreamWriter whole, drained;
  Bytes handed;
  for (int i = 0; i < 20000; ++i) {
    for (StreamWriter* w : {&whole, &drained}) {
      std::mt19937 copy = rng;
      switch (copy() % 3) {
        case 0: w->Literal(uint8_t(copy())); break;
        case 1: w->ShortCopy(1 + copy() % StreamWriter::kMaxShortDistance); break;
        default: w->LongCopy(1 + copy() % StreamWriter::kMaxLongDistance, 3 + copy() % 280);
      }
      if (w == &whole) continue;
      rng = copy;
      size_t n = drained.Settled();
      handed.insert(handed.end(), drained.bytes().begin(), drained.bytes().begin() + long(n));
      drained.Drop(n);
    }
  }
  whole.End();
  drained.End();
  handed.insert(handed.end(), drained.bytes().begin(), drained.bytes().end());
  EXPECT_EQ(handed, whole.bytes());
  EXPECT_EQ(drained.size(), whole.bytes().size());
  EXPECT_EQ(drained.bits(), whole.bits());
}

}  // namespace
