// Compresses one archive stream (format: archive/decoder.h) given in pieces,
// writing the compressed bytes to a sink as they are ready, in memory that
// does not grow with the stream. The output is the same bytes whatever the
// pieces and whatever `jobs`: work is cut into blocks of a fixed size.
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

class StreamCompressor {
 public:
  // `jobs`: blocks parsed at once; 0 means one per core.
  StreamCompressor(CompressionMode mode, unsigned jobs, CompressSink sink);
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

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

const char* DescribeCompressError(CompressError error);
