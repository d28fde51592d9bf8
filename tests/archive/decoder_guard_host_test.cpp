// The decoder's reads and writes against a guard page: its fast path copies
// whole words ahead and relies on margins at both ends; a byte read past the
// stream or written past the destination faults here in every build.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "archive/decoder.h"
#include "archive/stream_writer.h"
#include "tests/support/guarded_bytes.h"

namespace {

// A stream of random codes (literal runs of every length, short and long
// copies) and its output built byte by byte alongside.
struct Sample {
  std::vector<uint8_t> stream;
  std::string expected;
};

Sample RandomSample(std::mt19937& rng, int codes) {
  StreamWriter w;
  Sample s;
  for (int i = 0; i < codes; ++i) {
    const unsigned pick = rng() % 10;
    if (s.expected.empty() || pick < 6) {
      for (unsigned run = 1 + rng() % 40; run > 0; --run) {
        s.expected.push_back(char(rng()));
        w.Literal(uint8_t(s.expected.back()));
      }
    } else {
      const size_t d = 1 + rng() % std::min<size_t>(s.expected.size(), pick < 8 ? 2303 : 8192);
      const size_t n = pick < 8 ? 2 : 3 + rng() % 280;
      if (n == 2) w.ShortCopy(d); else w.LongCopy(d, n);
      for (size_t k = 0; k < n; ++k) s.expected.push_back(s.expected[s.expected.size() - d]);
    }
  }
  w.End();
  s.stream = w.Take();
  return s;
}

// Room to spare in the destination, so that only the source's end stops the
// fast path; and room exactly, so that the destination's end does.
TEST(DecoderGuardTest, StreamEndingAtAGuardPageIsReadWithinItsBytes) {
  std::mt19937 rng(77);
  for (int round = 0; round < 400; ++round) {
    const Sample s = RandomSample(rng, 1 + int(rng() % 60));
    GuardedBytes source(s.stream.data(), s.stream.size());
    for (size_t spare : {size_t(4096), size_t(0)}) {
      GuardedBytes out(s.expected.size() + spare);
      const DecodeResult r = DecodeArchiveStream(out.data(), out.size(), source.data(), source.size());
      ASSERT_TRUE(r.ok()) << DescribeDecodeError(r.error) << " round " << round;
      ASSERT_EQ(r.written, s.expected.size());
      EXPECT_EQ(r.consumed, s.stream.size());
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data()), r.written), s.expected) << round;
    }
  }
}

TEST(DecoderGuardTest, RandomAndCutStreamsStayInsideBothBuffers) {
  std::mt19937 rng(78);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> bytes(1 + rng() % 300);
    for (uint8_t& b : bytes) b = uint8_t(rng());
    if (round % 2) {
      const Sample s = RandomSample(rng, 1 + int(rng() % 60));
      bytes.assign(s.stream.begin(), s.stream.begin() + long(rng() % s.stream.size()));
    }
    GuardedBytes source(bytes.data(), bytes.size());
    GuardedBytes out(rng() % 3000);
    const DecodeResult r = DecodeArchiveStream(out.data(), out.size(), source.data(), source.size());
    EXPECT_LE(r.consumed, bytes.size());
    EXPECT_LE(r.written, out.size());
  }
}

TEST(DecoderGuardTest, ChunkedDecodingReadsWithinTheStreamToo) {
  std::mt19937 rng(79);
  GuardedBytes buffer(kChunkedDecoderMinBuffer);
  for (int round = 0; round < 200; ++round) {
    const Sample s = RandomSample(rng, 1 + int(rng() % 400));
    GuardedBytes source(s.stream.data(), s.stream.size());
    ChunkedDecoder decoder(source.data(), source.size(), s.expected.size() + (round % 2 ? 4096 : 0),
                           buffer.data(), buffer.size());
    std::string got;
    const uint8_t* piece;
    size_t size;
    while (decoder.Next(&piece, &size)) got.append(reinterpret_cast<const char*>(piece), size);
    ASSERT_TRUE(decoder.result().ok()) << round;
    EXPECT_EQ(got, s.expected) << round;
  }
}

}  // namespace
