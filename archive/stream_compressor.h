// Compresses one archive stream (format: archive/decoder.h) given in pieces,
// writing the compressed bytes to a sink as they are ready, in memory that
// does not grow with the stream. The output is the same bytes whatever the
// pieces and whatever `jobs`: work is cut into blocks of a fixed size.
//
// Each block is parsed on its own, seeing the 8192 bytes before it as the
// window its copies may reach; a worker thread parses one block at a time
// and the calling thread writes the parsed blocks in order through one
// StreamWriter and calls the sink. Write waits while 2 blocks per thread are
// in flight, so a slow sink holds the memory where it is: per thread a
// parser's working memory (4 bytes per position of a block, and 0.5 MB of
// tables) and two blocks with their codes, about 13 MB at the default block
// size; plus the block being filled and one block's output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "archive/encoder.h"

// Receives compressed bytes in stream order. Returns false to stop the
// compressor (a failed write); the compressor then reports SinkFailed.
using CompressSink = std::function<bool(const uint8_t* data, size_t size)>;

enum class CompressError {
  None,
  TooLarge,     // more than kMaxCompressInput bytes in all
  SinkFailed,   // the sink returned false
  OutOfMemory,  // a buffer or a worker could not be had
};

// The block size; the output depends on it. A block boundary costs about 7
// bits (a copy cut in two) and each block first takes in its 8 KB window
// (0.8% more positions at 1 MiB), so larger blocks gain nothing measurable,
// while a thread's share of memory grows with them (the optimal parse keeps
// 4 bytes per position) and a member of a few MB should still give every
// core a block.
constexpr size_t kCompressBlockSize = size_t(1) << 20;

class StreamCompressor {
 public:
  // `jobs`: blocks parsed at once; 0 means one per core. With 1 every block
  // is parsed on the calling thread, in Write and Finish.
  StreamCompressor(CompressionMode mode, unsigned jobs, CompressSink sink);
  // Blocks of another size (at least 1), for tests: different bytes.
  StreamCompressor(CompressionMode mode, unsigned jobs, CompressSink sink, size_t blockSize);
  ~StreamCompressor();
  StreamCompressor(const StreamCompressor&) = delete;
  StreamCompressor& operator=(const StreamCompressor&) = delete;

  // Appends input. False once an error has happened (see error()); nothing
  // more is written to the sink after that.
  bool Write(const uint8_t* data, size_t size);
  // Ends the stream with the end code and hands the rest to the sink.
  // Called once; false on an error.
  bool Finish();

  CompressError error() const;
  uint64_t inputBytes() const;   // taken so far
  uint64_t outputBytes() const;  // handed to the sink so far
  // Control bits plus 8 per data byte, as CompressedStream::bits; complete
  // after Finish.
  uint64_t bits() const;
  // The bits of the mode's own parse, as CompressedStream::parseBits;
  // complete after Finish.
  uint64_t parseBits() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

const char* DescribeCompressError(CompressError error);
