#include "archive/stream_compressor.h"

#include <new>
#include <vector>

// Provisional: gathers the whole input and compresses it at Finish. To be
// replaced by the block-wise compressor.
struct StreamCompressor::Impl {
  CompressionMode mode;
  CompressSink sink;
  std::vector<uint8_t> input;
  CompressError error = CompressError::None;
  uint64_t taken = 0, written = 0, bits = 0;
};

StreamCompressor::StreamCompressor(CompressionMode mode, unsigned /*jobs*/, CompressSink sink)
    : impl_(new Impl{mode, std::move(sink), {}}) {}

StreamCompressor::~StreamCompressor() = default;

bool StreamCompressor::Write(const uint8_t* data, size_t size) {
  Impl& s = *impl_;
  if (s.error != CompressError::None) return false;
  if (size > kMaxCompressInput - s.taken) {
    s.error = CompressError::TooLarge;
    return false;
  }
  try {
    s.input.insert(s.input.end(), data, data + size);
  } catch (const std::bad_alloc&) {
    s.error = CompressError::OutOfMemory;
    return false;
  }
  s.taken += size;
  return true;
}

bool StreamCompressor::Finish() {
  Impl& s = *impl_;
  if (s.error != CompressError::None) return false;
  CompressedStream stream;
  try {
    CompressArchiveStream(s.input.data(), s.input.size(), s.mode, &stream);
  } catch (const std::bad_alloc&) {
    s.error = CompressError::OutOfMemory;
    return false;
  }
  s.bits = stream.bits;
  if (!s.sink(stream.bytes.data(), stream.bytes.size())) {
    s.error = CompressError::SinkFailed;
    return false;
  }
  s.written = stream.bytes.size();
  return true;
}

CompressError StreamCompressor::error() const { return impl_->error; }
uint64_t StreamCompressor::inputBytes() const { return impl_->taken; }
uint64_t StreamCompressor::outputBytes() const { return impl_->written; }
uint64_t StreamCompressor::bits() const { return impl_->bits; }

const char* DescribeCompressError(CompressError error) {
  switch (error) {
    case CompressError::None: return "no error";
    case CompressError::TooLarge: return "more than 4 GiB - 16 bytes of input";
    case CompressError::SinkFailed: return "the output could not be written";
    case CompressError::OutOfMemory: return "out of memory";
  }
  return "unknown error";
}
