#include "archive/decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "archive/stream_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string Decode(const Bytes& stream, size_t capacity, DecodeResult* result = nullptr) {
  std::string out(capacity, '\0');
  DecodeResult r = DecodeArchiveStream(reinterpret_cast<uint8_t*>(&out[0]), capacity,
                                       stream.data(), stream.size());
  if (result) *result = r;
  EXPECT_TRUE(r.ok()) << DescribeDecodeError(r.error);
  out.resize(r.written);
  return out;
}

// The reference meaning of a copy: byte by byte from `distance` back.
void ReferenceCopy(std::string& out, size_t distance, size_t length) {
  for (size_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
}

// A whole history of random literals, in the stream and in what it decodes to.
void RandomHistory(std::mt19937& rng, StreamWriter& w, std::string& out) {
  for (size_t i = 0; i < kDecodeHistory; ++i) {
    out.push_back(char(rng()));
    w.Literal(uint8_t(out.back()));
  }
}

TEST(DecoderTest, WorkedExamplesDecodeAndEncodeByteForByte) {
  struct Example {
    Bytes stream;
    std::string text;
  };
  const Example examples[] = {
      {{0x00, 0x00, 0x80, 0xEF, 0x61, 0x62, 0x63, 0xFF}, "abc"},
      {{0x00, 0x00, 0xDF, 0xCC, 0x61, 0x62, 0x00, 0xFF}, "abababab"},
      {{0x00, 0xE0, 0x23, 0xE4, 0x78, 0x79, 0x7A, 0x01, 0xFF}, "xyzxyzxyzx"},
  };
  for (const Example& e : examples) {
    DecodeResult r;
    EXPECT_EQ(Decode(e.stream, 64, &r), e.text);
    EXPECT_EQ(r.consumed, e.stream.size());
  }

  StreamWriter abc;
  for (char c : std::string("abc")) abc.Literal(uint8_t(c));
  abc.End();
  EXPECT_EQ(abc.bytes(), examples[0].stream);

  StreamWriter abab;
  abab.Literal('a');
  abab.Literal('b');
  abab.LongCopy(2, 6);
  abab.End();
  EXPECT_EQ(abab.bytes(), examples[1].stream);

  StreamWriter xyz;
  for (char c : std::string("xyz")) xyz.Literal(uint8_t(c));
  xyz.LongCopy(3, 7);
  xyz.End();
  EXPECT_EQ(xyz.bytes(), examples[2].stream);
}

TEST(DecoderTest, ThirtyThirdLiteralFetchesSecondFlagWordAfterThirtyTwoLetters) {
  StreamWriter w;
  for (int i = 0; i < 33; ++i) w.Literal('a');
  w.End();
  Bytes expected = {0xFF, 0xFF, 0xFF, 0xFF};
  expected.insert(expected.end(), 32, 'a');
  expected.insert(expected.end(), {0x00, 0x00, 0x00, 0xBE, 'a', 0xFF});
  ASSERT_EQ(w.bytes().size(), 42u);
  EXPECT_EQ(w.bytes(), expected);
  EXPECT_EQ(Decode(expected, 64), std::string(33, 'a'));
}

TEST(DecoderTest, ShortCopiesAtTheirSeams) {
  // Data byte 0 with choosing bit 0: distance 1, the last byte twice.
  StreamWriter w1;
  w1.Literal('q');
  w1.ShortCopy(1);
  w1.End();
  EXPECT_EQ(Decode(w1.bytes(), 16), "qqq");

  // v = 2302 (b = 255, bits 1 1 0): distance 2303, and the stream goes on.
  std::string prefix;
  StreamWriter w2;
  for (int i = 0; i < 2303; ++i) {
    prefix.push_back(char('A' + i % 23));
    w2.Literal(uint8_t(prefix.back()));
  }
  w2.ShortCopy(2303);
  w2.Literal('!');
  w2.End();
  std::string expected = prefix;
  ReferenceCopy(expected, 2303, 2);
  expected.push_back('!');
  EXPECT_EQ(Decode(w2.bytes(), 4096), expected);
}

TEST(DecoderTest, LongCopyLengthsAndDistancesAtTheirSeams) {
  const size_t lengths[] = {3, 4, 5, 6, 7, 10, 11, 26, 27, 282};
  const size_t distances[] = {1, 2, 3, 4, 7, 8, 9, 512, 513, 1024, 1025, 2048, 2049, 4096, 4097, 8192};
  std::mt19937 rng(7);
  std::string history;
  StreamWriter w;
  RandomHistory(rng, w, history);
  std::string expected = history;
  for (size_t d : distances) {
    for (size_t n : lengths) {
      w.LongCopy(d, n);
      ReferenceCopy(expected, d, n);
    }
  }
  w.End();
  EXPECT_EQ(Decode(w.bytes(), expected.size()), expected);
}

// Every kind of copy code starting at every bit of its flag word (the
// literals before it move it along): whole in the word, decoded in one table
// step or two, or running into the next word before or after its data byte.
TEST(DecoderTest, EveryCopyFormAtEveryBitOfItsWord) {
  const size_t lengths[] = {3, 4, 5, 6, 7, 8, 10, 11, 18, 26, 27, 100};
  const size_t distances[] = {1, 8, 255, 256, 512, 513, 1024, 1025, 2048, 2049, 4096, 4097, 8192};
  const size_t shortDistances[] = {1, 256, 257, 2303};
  std::mt19937 rng(11);
  std::string expected;
  StreamWriter w;
  RandomHistory(rng, w, expected);
  for (int offset = 0; offset < 34; ++offset) {
    auto literals = [&] {
      for (int i = 0; i < offset; ++i) {
        expected.push_back(char(rng()));
        w.Literal(uint8_t(expected.back()));
      }
    };
    for (size_t d : distances) {
      for (size_t n : lengths) {
        literals();
        w.LongCopy(d, n);
        ReferenceCopy(expected, d, n);
      }
    }
    for (size_t d : shortDistances) {
      literals();
      w.ShortCopy(d);
      ReferenceCopy(expected, d, 2);
    }
  }
  w.End();
  DecodeResult r;
  EXPECT_EQ(Decode(w.bytes(), expected.size(), &r), expected);
  EXPECT_EQ(r.consumed, w.bytes().size());
}

// A stream stored with bytes after its end (a member whose stored size
// is larger than its stream): the end code is met far from the end of the
// source, where the fast path decodes, at every bit of its word.
TEST(DecoderTest, EndCodeStopsTheStreamWithBytesAfterIt) {
  for (int offset = 0; offset < 34; ++offset) {
    StreamWriter w;
    std::string expected;
    for (int i = 0; i < 600 + offset; ++i) {
      expected.push_back(char('a' + i % 7));
      w.Literal(uint8_t(expected.back()));
    }
    w.End();
    Bytes stream = w.bytes();
    const size_t streamSize = stream.size();
    stream.resize(streamSize + 200, 0xFF);  // more copies and literals, were they read
    DecodeResult r;
    EXPECT_EQ(Decode(stream, 4096, &r), expected) << "offset " << offset;
    EXPECT_EQ(r.consumed, streamSize) << "offset " << offset;
  }
}

TEST(DecoderTest, CodeEndingOnThirtySecondBitPutsNextWordAfterItsDataBytes) {
  // 29 literals, then a long copy: bits 30 and 31 are its 0 0, bit 32 the
  // distance prefix 1; its data byte follows, then the word with bit x.
  StreamWriter w;
  for (int i = 0; i < 29; ++i) w.Literal(uint8_t('a' + i % 3));
  w.LongCopy(3, 3);
  w.End();
  const Bytes& s = w.bytes();
  ASSERT_GE(s.size(), 4u + 29 + 1 + 4);
  EXPECT_EQ(s[4 + 29], 0x01);  // d = 2: data byte 1, trailing bit 0
  // The second flag word begins with the trailing bit 0 and length code 1.
  EXPECT_EQ(s[4 + 29 + 1 + 3] & 0xC0, 0x40);
  std::string expected;
  for (int i = 0; i < 29; ++i) expected.push_back(char('a' + i % 3));
  ReferenceCopy(expected, 3, 3);
  EXPECT_EQ(Decode(s, 64), expected);

  // 32 literals exactly fill the first word; the end code's bits then come
  // from a word placed after the 32 letters.
  StreamWriter full;
  for (int i = 0; i < 32; ++i) full.Literal('z');
  full.End();
  EXPECT_EQ(Decode(full.bytes(), 64), std::string(32, 'z'));
  EXPECT_EQ(full.bytes().size(), 4u + 32 + 4 + 1);
}

// Random code sequences against the reference copy: exercises the wide
// copies, the fills and the literal runs of the fast path and the tail.
TEST(DecoderTest, RandomStreamsMatchTheByteByByteReference) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 300; ++round) {
    StreamWriter w;
    std::string expected;
    int codes = 1 + int(rng() % 2000);
    for (int i = 0; i < codes; ++i) {
      unsigned pick = rng() % 10;
      if (expected.empty() || pick < 4) {
        expected.push_back(char(rng() % (round % 7 == 0 ? 3 : 256)));
        w.Literal(uint8_t(expected.back()));
      } else if (pick < 6) {
        size_t d = 1 + rng() % std::min<size_t>(expected.size(), 2303);
        w.ShortCopy(d);
        ReferenceCopy(expected, d, 2);
      } else {
        size_t d = 1 + rng() % std::min<size_t>(expected.size(), pick == 9 ? 8 : 8192);
        size_t n = 3 + rng() % 280;
        w.LongCopy(d, n);
        ReferenceCopy(expected, d, n);
      }
    }
    w.End();
    DecodeResult r;
    ASSERT_EQ(Decode(w.bytes(), expected.size(), &r), expected) << "round " << round;
    EXPECT_EQ(r.consumed, w.bytes().size());
  }
}

TEST(DecoderTest, TruncatedStreamIsRefusedAtEveryLength) {
  std::mt19937 rng(3);
  StreamWriter w;
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    expected.push_back(char(rng() % 4));
    w.Literal(uint8_t(expected.back()));
    if (i % 5 == 4) {
      w.LongCopy(3, 20);
      ReferenceCopy(expected, 3, 20);
    }
  }
  w.End();
  const Bytes& full = w.bytes();
  for (size_t cut = 0; cut < full.size(); ++cut) {
    // Exactly sized source buffers so that ASan sees any read past them.
    std::vector<uint8_t> source(full.begin(), full.begin() + long(cut));
    std::vector<uint8_t> out(expected.size());
    DecodeResult r = DecodeArchiveStream(out.data(), out.size(), source.data(), source.size());
    EXPECT_EQ(r.error, DecodeError::Truncated) << "cut at " << cut;
    EXPECT_LE(r.consumed, cut);
  }
}

TEST(DecoderTest, OutputPastTheDestinationIsRefusedAndCanaryStays) {
  StreamWriter w;
  w.Literal('a');
  w.LongCopy(1, 282);
  w.End();
  for (size_t capacity : {size_t(0), size_t(1), size_t(100), size_t(282)}) {
    std::vector<uint8_t> out(capacity + 1, 0xCC);
    DecodeResult r = DecodeArchiveStream(out.data(), capacity, w.bytes().data(), w.bytes().size());
    EXPECT_EQ(r.error, DecodeError::OutputOverrun) << capacity;
    EXPECT_EQ(out[capacity], 0xCC) << "canary overwritten at capacity " << capacity;
  }
  // A large stream overruns in the fast path too.
  StreamWriter big;
  for (int i = 0; i < 2000; ++i) big.Literal(uint8_t(i));
  for (int i = 0; i < 100; ++i) big.LongCopy(1000, 282);
  big.End();
  std::vector<uint8_t> out(10001, 0xCC);
  DecodeResult r = DecodeArchiveStream(out.data(), 10000, big.bytes().data(), big.bytes().size());
  EXPECT_EQ(r.error, DecodeError::OutputOverrun);
  EXPECT_EQ(out[10000], 0xCC);
}

TEST(DecoderTest, CopyFromBeforeTheOutputIsRefused) {
  StreamWriter first;  // a copy with nothing decoded yet
  first.ShortCopy(1);
  first.End();
  std::vector<uint8_t> out(16);
  EXPECT_EQ(DecodeArchiveStream(out.data(), out.size(), first.bytes().data(), first.bytes().size())
                .error,
            DecodeError::BadDistance);

  StreamWriter far;  // distance 4 with three bytes decoded
  for (char c : std::string("abc")) far.Literal(uint8_t(c));
  far.LongCopy(4, 3);
  far.End();
  EXPECT_EQ(DecodeArchiveStream(out.data(), out.size(), far.bytes().data(), far.bytes().size())
                .error,
            DecodeError::BadDistance);

  // The same in the fast path, far from both ends.
  StreamWriter fast;
  for (int i = 0; i < 100; ++i) fast.Literal(uint8_t(i));
  fast.LongCopy(101, 3);
  for (int i = 0; i < 100; ++i) fast.Literal(uint8_t(i));
  fast.End();
  std::vector<uint8_t> big(4096);
  EXPECT_EQ(DecodeArchiveStream(big.data(), big.size(), fast.bytes().data(), fast.bytes().size())
                .error,
            DecodeError::BadDistance);
}

TEST(DecoderTest, CopyReachingOneBeforeTheStartIsRefusedUpToAWholeHistory) {
  // The copies' check is left out once the output holds the longest
  // distance: up to there, one byte too far must still be refused. Copies
  // lead up to the last one, so that it may begin a round of the fast path;
  // the literals before them put its code at every bit of its word.
  for (size_t decoded = kDecodeHistory - 40; decoded < kDecodeHistory; ++decoded) {
    for (size_t distance : {decoded, decoded + 1}) {
      StreamWriter w;
      const size_t literals = 1 + decoded % 32;
      for (size_t i = 0; i < literals; ++i) w.Literal(uint8_t(i * 7));
      for (size_t left = decoded - literals; left > 0;) {
        size_t length = std::min<size_t>(282, left);
        if (left - length > 0 && left - length < 3) length -= 3;
        w.LongCopy(1, length);
        left -= length;
      }
      w.LongCopy(distance, 3);
      for (int i = 0; i < 100; ++i) w.Literal(uint8_t(i));
      w.End();
      std::vector<uint8_t> out(decoded + 103 + 1024);
      const DecodeResult r = DecodeArchiveStream(out.data(), out.size(), w.bytes().data(),
                                                 w.bytes().size());
      EXPECT_EQ(r.error, distance > decoded ? DecodeError::BadDistance : DecodeError::None)
          << decoded << " decoded, distance " << distance;
    }
  }
}

TEST(DecoderTest, StreamEndingEarlyReportsWhatItWrote) {
  StreamWriter w;
  w.Literal('x');
  w.End();
  std::vector<uint8_t> out(8, 0xEE);
  DecodeResult r = DecodeArchiveStream(out.data(), out.size(), w.bytes().data(), w.bytes().size());
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.written, 1u);
  EXPECT_EQ(out[1], 0xEE);
}

TEST(DecoderTest, RandomBytesNeverCrash) {
  std::mt19937 rng(99);
  std::vector<uint8_t> out(1024);
  for (int i = 0; i < 20000; ++i) {
    std::vector<uint8_t> junk(rng() % 80);
    for (uint8_t& b : junk) b = uint8_t(rng());
    DecodeResult r = DecodeArchiveStream(out.data(), rng() % out.size(), junk.data(), junk.size());
    EXPECT_LE(r.consumed, junk.size());
  }
}

// The fast path copies in wide words and trusts its margins to keep them
// inside the buffer. Every room left after a long copy, from none to well past
// the margins, in a buffer sized exactly to the output: the bytes match the
// reference and the canary behind the buffer stays.
TEST(DecoderTest, LongCopiesNearTheEndStayInsideTheBufferAtEveryRoomLeft) {
  std::mt19937 rng(11);
  std::string prefix;
  for (int i = 0; i < 600; ++i) prefix.push_back(char(rng() % 7));
  const uint8_t kCanary = 0xCC;
  const size_t kCanaryBytes = 64;
  for (size_t length : {size_t(3), size_t(27), size_t(200), size_t(256), size_t(282)}) {
    for (size_t distance : {size_t(1), size_t(2), size_t(7), size_t(33), size_t(300)}) {
      for (size_t roomAfter = 0; roomAfter <= 700; ++roomAfter) {
        StreamWriter w;
        std::string expected = prefix;
        for (char c : prefix) w.Literal(uint8_t(c));
        w.LongCopy(distance, length);
        ReferenceCopy(expected, distance, length);
        for (size_t i = 0; i < roomAfter; ++i) {
          expected.push_back(char(i));
          w.Literal(uint8_t(i));
        }
        w.End();
        std::vector<uint8_t> out(expected.size() + kCanaryBytes, kCanary);
        DecodeResult r = DecodeArchiveStream(out.data(), expected.size(), w.bytes().data(),
                                             w.bytes().size());
        ASSERT_TRUE(r.ok()) << DescribeDecodeError(r.error) << " length " << length
                            << " distance " << distance << " room " << roomAfter;
        ASSERT_EQ(r.written, expected.size());
        ASSERT_EQ(std::string(out.begin(), out.begin() + long(expected.size())), expected)
            << "length " << length << " distance " << distance << " room " << roomAfter;
        for (size_t i = expected.size(); i < out.size(); ++i)
          ASSERT_EQ(out[i], kCanary) << "canary " << (i - expected.size()) << " overwritten: length "
                                     << length << " distance " << distance << " room " << roomAfter;
        // One byte less room: refused, and still nothing written behind it.
        std::vector<uint8_t> tight(expected.size() - 1 + kCanaryBytes, kCanary);
        r = DecodeArchiveStream(tight.data(), expected.size() - 1, w.bytes().data(), w.bytes().size());
        ASSERT_EQ(r.error, DecodeError::OutputOverrun);
        for (size_t i = expected.size() - 1; i < tight.size(); ++i) ASSERT_EQ(tight[i], kCanary);
      }
    }
  }
}

}  // namespace
