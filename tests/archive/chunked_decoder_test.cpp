// The chunked decoder against the whole-buffer one: same bytes, same verdict,
// whatever the buffer size and wherever the pieces happen to break.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "archive/decoder.h"
#include "archive/stream_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Decoded {
  std::string bytes;
  DecodeResult result;
};

Decoded Whole(const Bytes& stream, size_t outputSize) {
  Decoded d;
  d.bytes.assign(outputSize, '\0');
  d.result = DecodeArchiveStream(reinterpret_cast<uint8_t*>(&d.bytes[0]), outputSize,
                                 stream.data(), stream.size());
  d.bytes.resize(d.result.ok() ? d.result.written : 0);
  return d;
}

Decoded Chunked(const Bytes& stream, size_t outputSize, size_t bufferSize,
                size_t* largestPiece = nullptr) {
  // Exactly sized, so that ASan sees any access past the buffer.
  std::vector<uint8_t> buffer(bufferSize);
  ChunkedDecoder decoder(stream.data(), stream.size(), outputSize, buffer.data(),
                         buffer.size());
  Decoded d;
  const uint8_t* piece;
  size_t size;
  while (decoder.Next(&piece, &size)) {
    d.bytes.append(reinterpret_cast<const char*>(piece), size);
    if (largestPiece) *largestPiece = std::max(*largestPiece, size);
  }
  d.result = decoder.result();
  if (!d.result.ok()) d.bytes.clear();
  return d;
}

void ExpectSame(const Decoded& whole, const Decoded& chunked, const std::string& where) {
  EXPECT_EQ(whole.result.error, chunked.result.error) << where;
  EXPECT_EQ(whole.result.written, chunked.result.written) << where;
  EXPECT_EQ(whole.result.consumed, chunked.result.consumed) << where;
  EXPECT_TRUE(whole.bytes == chunked.bytes) << where;
}

// Random streams rich in far copies, so that copies reach across the pieces'
// seams and up to the full history.
Bytes RandomStream(std::mt19937& rng, size_t codes, std::string* expected) {
  StreamWriter w;
  for (size_t i = 0; i < codes; ++i) {
    unsigned pick = rng() % 10;
    if (expected->empty() || pick < 3) {
      expected->push_back(char(rng() % 256));
      w.Literal(uint8_t(expected->back()));
    } else if (pick < 5) {
      size_t d = 1 + rng() % std::min<size_t>(expected->size(), 2303);
      w.ShortCopy(d);
      for (int k = 0; k < 2; ++k) expected->push_back((*expected)[expected->size() - d]);
    } else {
      size_t most = std::min<size_t>(expected->size(), kDecodeHistory);
      size_t d = pick == 9 ? most : 1 + rng() % most;
      size_t n = 3 + rng() % 280;
      w.LongCopy(d, n);
      for (size_t k = 0; k < n; ++k) expected->push_back((*expected)[expected->size() - d]);
    }
  }
  w.End();
  return w.bytes();
}

TEST(ChunkedDecoderTest, PiecesJoinToTheWholeOutputForEveryBufferSize) {
  std::mt19937 rng(99);
  for (int round = 0; round < 40; ++round) {
    std::string expected;
    Bytes stream = RandomStream(rng, 200 + rng() % 6000, &expected);
    for (size_t buffer : {kChunkedDecoderMinBuffer, kChunkedDecoderMinBuffer + 1,
                          kChunkedDecoderMinBuffer + 4093, size_t(64 * 1024)}) {
      size_t largest = 0;
      Decoded chunked = Chunked(stream, expected.size(), buffer, &largest);
      ASSERT_TRUE(chunked.result.ok()) << DescribeDecodeError(chunked.result.error);
      ASSERT_TRUE(chunked.bytes == expected) << "round " << round << " buffer " << buffer;
      EXPECT_EQ(chunked.result.consumed, stream.size());
      EXPECT_LE(largest, buffer);
    }
  }
}

// As the extraction does with a file that lends its buffers: every piece in
// the next of three buffers, right after the history, each buffer spoiled
// before it is lent again; now and then the decoder's own buffer instead.
TEST(ChunkedDecoderTest, PiecesMovedBetweenBuffersKeepTheirHistory) {
  std::mt19937 rng(5);
  for (int round = 0; round < 30; ++round) {
    std::string expected;
    const Bytes stream = RandomStream(rng, 200 + rng() % 8000, &expected);
    const size_t room = kChunkedDecoderMinBuffer + rng() % 9000;
    std::vector<uint8_t> own(kChunkedDecoderMinBuffer + rng() % 5000);
    std::vector<std::vector<uint8_t>> lent(3, std::vector<uint8_t>(kDecodeHistory + room));
    ChunkedDecoder decoder(stream.data(), stream.size(), expected.size(), own.data(), own.size());
    std::string joined;
    const uint8_t* piece;
    size_t size;
    for (size_t n = 0;; ++n) {
      if (n % 5 == 4) {
        decoder.MoveTo(own.data(), own.size());
      } else {
        std::vector<uint8_t>& next = lent[n % 3];
        std::fill(next.begin(), next.end(), uint8_t(0xA5));
        const size_t keep = decoder.HistorySize();
        decoder.MoveTo(next.data() + kDecodeHistory - keep, keep + room);
      }
      if (!decoder.Next(&piece, &size)) break;
      joined.append(reinterpret_cast<const char*>(piece), size);
    }
    ASSERT_TRUE(decoder.result().ok()) << DescribeDecodeError(decoder.result().error);
    EXPECT_TRUE(joined == expected) << "round " << round;
    EXPECT_EQ(decoder.result().consumed, stream.size());
  }
}

TEST(ChunkedDecoderTest, MalformedStreamsGetTheWholeBufferVerdict) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    std::string expected;
    Bytes stream = RandomStream(rng, 50 + rng() % 4000, &expected);
    // Cut, flip a byte, or claim a wrong output size: each must fail (or
    // pass) exactly as the whole-buffer decoder does, at the same place.
    switch (round % 4) {
      case 0: stream.resize(rng() % stream.size()); break;
      case 1: stream[rng() % stream.size()] ^= uint8_t(1 + rng() % 255); break;
      case 2: break;
      case 3: for (auto& b : stream) if (rng() % 64 == 0) b = uint8_t(rng()); break;
    }
    size_t size = expected.size();
    if (round % 4 == 2) size = rng() % 2 ? size - 1 - rng() % std::min<size_t>(size, 3000)
                                        : size + rng() % 20000;
    if (size > 200000) size = expected.size();
    Decoded whole = Whole(stream, size);
    for (size_t buffer : {kChunkedDecoderMinBuffer, size_t(20000)})
      ExpectSame(whole, Chunked(stream, size, buffer),
                 "round " + std::to_string(round) + " buffer " + std::to_string(buffer));
  }
}

TEST(ChunkedDecoderTest, CopyFromBeforeTheFirstByteIsRefusedAfterManyPieces) {
  // A stream far longer than the buffer whose late copies stay legal, then
  // one whose first copy reaches one byte too far.
  StreamWriter w;
  w.Literal('a');
  for (int i = 0; i < 2000; ++i) w.LongCopy(1, 282);
  w.LongCopy(kDecodeHistory, 100);
  w.End();
  const size_t size = 1 + 2000 * 282 + 100;
  Decoded chunked = Chunked(w.bytes(), size, kChunkedDecoderMinBuffer);
  ASSERT_TRUE(chunked.result.ok());
  EXPECT_EQ(chunked.bytes, std::string(size, 'a'));

  StreamWriter bad;
  for (int i = 0; i < 10; ++i) bad.Literal('x');
  bad.LongCopy(11, 3);
  bad.End();
  ExpectSame(Whole(bad.bytes(), 13), Chunked(bad.bytes(), 13, kChunkedDecoderMinBuffer),
             "distance 11 after 10 bytes");
  EXPECT_EQ(Chunked(bad.bytes(), 13, kChunkedDecoderMinBuffer).result.error,
            DecodeError::BadDistance);
}

TEST(ChunkedDecoderTest, TooSmallBufferIsRefusedWithoutDecoding) {
  StreamWriter w;
  w.Literal('a');
  w.End();
  std::vector<uint8_t> buffer(kChunkedDecoderMinBuffer - 1);
  ChunkedDecoder decoder(w.bytes().data(), w.bytes().size(), 1, buffer.data(), buffer.size());
  const uint8_t* piece;
  size_t size;
  EXPECT_FALSE(decoder.Next(&piece, &size));
  EXPECT_FALSE(decoder.result().ok());
  EXPECT_EQ(decoder.result().written, 0u);
}

// The claimed size exactly at, one under and one over what the stream
// decodes to; and streams too short for their first flag word, held in
// buffers of exactly their size so that ASan sees any read past them.
TEST(ChunkedDecoderTest, ClaimsAndStreamsAtTheirEdgesGetTheWholeBufferVerdict) {
  StreamWriter w;
  w.Literal('a');
  w.Literal('b');
  w.End();
  for (size_t claim : {size_t(1), size_t(2), size_t(3)})
    ExpectSame(Whole(w.bytes(), claim), Chunked(w.bytes(), claim, kChunkedDecoderMinBuffer),
               "claim " + std::to_string(claim));
  for (size_t n = 1; n < 4; ++n) {
    const Bytes shortStream(w.bytes().begin(), w.bytes().begin() + n);
    Decoded chunked = Chunked(shortStream, 2, kChunkedDecoderMinBuffer);
    EXPECT_EQ(chunked.result.error, DecodeError::Truncated) << n;
    EXPECT_EQ(chunked.result.written, 0u) << n;
  }
}

}  // namespace
