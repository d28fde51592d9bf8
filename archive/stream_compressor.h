// Compresses one archive stream (format: archive/decoder.h) given in pieces,
// writing the compressed bytes to a sink as they are ready, in memory that
// does not grow with the stream. The output is the same bytes whatever the
// pieces and whatever `jobs`: work is cut into blocks of a fixed size.
//
// Each block is parsed on its own, seeing the 8192 bytes before it as the
// window its copies may reach; a worker thread parses one block at a time
// and the calling thread writes the parsed blocks in order through one
// StreamWriter and calls the sink. Memory: about 6 block sizes per thread at
// most (the block being parsed with its path, and two blocks waiting with
// their codes), plus the block being filled.
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

// The block size. A block boundary costs a few bits (a copy cut in two), so
// at 1 MiB the loss is far below 0.001% of the output, while a parsing
// thread's share of memory stays near 10 MB (the optimal parse keeps 4 bytes
// per position of its block) and a member of a few MB still gives every core
// a block. The output depends on it.
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
