#include "archive/stream_compressor.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "archive/stream_writer.h"

namespace {

constexpr size_t kHistory = StreamWriter::kMaxLongDistance;
constexpr unsigned kMaxJobs = 64;
// The end code's flag bits; its data byte is the same in every stream.
constexpr unsigned kEndControlBits = StreamWriter::kEndBits - 8;

struct Block {
  std::vector<uint8_t> window;  // up to kHistory bytes before the block, then the block
  size_t history = 0;
  bool last = false;
  BlockParse parse;  // the mode's own
  bool done = false;    // parsed; under the mutex
  bool failed = false;  // out of memory (or stopped) while parsing
  size_t size() const { return window.size() - history; }
};

struct StreamSize {
  uint64_t control = 0, data = 0;
};

StreamSize Plus(StreamSize s, const BlockParse& p) {
  return {s.control + p.controlBits, s.data + p.dataBytes};
}

// A stream's bytes once `more` control bits follow: flag words are whole.
uint64_t Bytes(StreamSize s, uint64_t more) { return s.data + 4 * ((s.control + more + 31) / 32); }

// Optimal mode must never give a longer stream than fast mode, and fewer
// bits can still round up to one more flag word. A block's optimal parse is
// taken when the stream stays no longer than fast mode's whatever follows:
// were every later block to take its fast parse, both streams would go on
// with the same codes, so this must hold for any count of further control
// bits, which repeats every 32. Otherwise the block takes its fast parse,
// which keeps that property. Once the stream is 32 bits or more shorter than
// fast mode's, every block passes and fast parses are needed no more.
bool NoLongerThanFast(StreamSize s, StreamSize fast, bool last) {
  if (last) return Bytes(s, kEndControlBits) <= Bytes(fast, kEndControlBits);
  for (unsigned more = 0; more < 32; ++more)
    if (Bytes(s, more) > Bytes(fast, more)) return false;
  return true;
}

}  // namespace

struct StreamCompressor::Impl {
  CompressionMode mode;
  unsigned jobs;  // 1: parsed on the calling thread
  size_t blockSize;
  CompressSink sink;

  // Block k lives in ring[k % ring.size()]: the block being filled, and
  // those handed to the workers and not yet written.
  std::vector<std::unique_ptr<Block>> ring;
  uint64_t filling = 0;  // the block being filled
  uint64_t written = 0;  // blocks written so far

  StreamWriter writer;
  StreamSize size, fastSize;  // the stream so far, and fast mode's over the same blocks
  bool ahead = false;         // size is 32 bits or more below fastSize
  BlockParse fast;            // a block's fast parse, while not ahead
  uint64_t taken = 0, bits = 0, parseBits = 0;
  CompressError error = CompressError::None;
  bool finished = false;
  BlockParser parser;  // the calling thread's

  std::mutex mutex;
  std::condition_variable work, parsed;
  std::deque<uint64_t> queue;  // blocks to parse, oldest first
  bool stopping = false;
  std::atomic<bool> abort{false};
  std::vector<std::thread> workers;

  Block& At(uint64_t k) { return *ring[size_t(k % ring.size())]; }
  size_t WindowCapacity() const {
    return blockSize > SIZE_MAX - kHistory ? SIZE_MAX : blockSize + kHistory;
  }

  bool Fail(CompressError e) {
    if (error == CompressError::None) error = e;
    StopWorkers();
    return false;
  }

  void StopWorkers() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
      queue.clear();
    }
    abort = true;
    work.notify_all();
    for (std::thread& t : workers) t.join();
    workers.clear();
  }

  void Start() {
    size_t slots = jobs == 1 ? 1 : 2 * size_t(jobs) + 1;
    ring.reserve(slots);
    for (size_t i = 0; i < slots; ++i) ring.emplace_back(new Block);
    ring[0]->window.reserve(WindowCapacity());
  }

  // Parses block `b` with `p`: false when memory ran out or *stop was set.
  bool Parse(BlockParser& p, Block& b, const std::atomic<bool>* stop) {
    try {
      const uint8_t* w = b.window.data();
      size_t h = b.history, n = b.size();
      if (mode == CompressionMode::Fast) {
        p.Fast(w, h, n, true, &b.parse);
        return true;
      }
      return p.Optimal(w, h, n, stop, &b.parse);
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

  void Work() {
    BlockParser own;
    for (;;) {
      uint64_t k;
      {
        std::unique_lock<std::mutex> lock(mutex);
        work.wait(lock, [&] { return stopping || !queue.empty(); });
        if (stopping) return;
        k = queue.front();
        queue.pop_front();
      }
      Block& b = At(k);
      bool ok = Parse(own, b, &abort);
      {
        std::lock_guard<std::mutex> lock(mutex);
        b.done = true;
        b.failed = !ok;
      }
      parsed.notify_all();
    }
  }

  // Hands the filled block over for parsing and, unless it is the last,
  // starts the next one with its window. Waits while too many are in flight.
  bool Dispatch(bool last) {
    const uint64_t k = filling;
    Block& b = At(k);
    b.last = last;
    b.done = b.failed = false;
    if (jobs == 1 || (last && workers.empty())) {
      b.failed = !Parse(parser, b, nullptr);
      b.done = true;
    } else {
      if (workers.empty()) {
        workers.reserve(jobs);
        for (unsigned i = 0; i < jobs; ++i) workers.emplace_back([this] { Work(); });
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        queue.push_back(k);
      }
      work.notify_one();
    }
    filling = k + 1;
    if (last) return true;
    while (filling - written >= ring.size())
      if (!WriteParsed(true)) return false;
    Block& next = At(filling);
    const std::vector<uint8_t>& before = b.window;
    size_t h = std::min(kHistory, before.size());
    if (&next == &b) {
      next.window.erase(next.window.begin(), next.window.end() - long(h));
    } else {
      next.window.clear();
      next.window.reserve(WindowCapacity());
      next.window.insert(next.window.end(), before.end() - long(h), before.end());
    }
    next.history = h;
    return true;
  }

  // Writes the parsed blocks that are next in order; with `wait`, waits for
  // the oldest first.
  bool WriteParsed(bool wait) {
    while (written < filling) {
      Block& b = At(written);
      {
        std::unique_lock<std::mutex> lock(mutex);
        if (!b.done) {
          if (!wait) return true;
          parsed.wait(lock, [&] { return b.done; });
        }
      }
      wait = false;
      if (b.failed) return Fail(CompressError::OutOfMemory);
      if (!WriteBlock(b)) return false;
      ++written;
    }
    return true;
  }

  bool WriteBlock(const Block& b) {
    const BlockParse* codes = &b.parse;
    if (mode == CompressionMode::Optimal && !ahead) {
      // Rare past the first blocks, so made here, on the calling thread.
      parser.Fast(b.window.data(), b.history, b.size(), true, &fast);
      StreamSize withOptimal = Plus(size, b.parse), withFast = Plus(size, fast);
      fastSize = Plus(fastSize, fast);
      if (NoLongerThanFast(withOptimal, fastSize, b.last)) {
        size = withOptimal;
      } else {
        codes = &fast;
        size = withFast;
      }
      ahead = size.control + 8 * size.data + 32 <= fastSize.control + 8 * fastSize.data;
    } else {
      size = Plus(size, b.parse);
    }
    parseBits += b.parse.bits();
    WriteBlockParse(*codes, b.window.data() + b.history, writer);
    return Hand(writer.Settled());
  }

  // Hands the first `count` bytes of the writer's output to the sink.
  bool Hand(size_t count) {
    if (count == 0) return true;
    if (!sink(writer.bytes().data(), count)) return Fail(CompressError::SinkFailed);
    writer.Drop(count);
    return true;
  }
};

StreamCompressor::StreamCompressor(CompressionMode mode, unsigned jobs, CompressSink sink)
    : StreamCompressor(mode, jobs, std::move(sink), kCompressBlockSize) {}

StreamCompressor::StreamCompressor(CompressionMode mode, unsigned jobs, CompressSink sink,
                                   size_t blockSize)
    : impl_(new Impl) {
  Impl& s = *impl_;
  s.mode = mode;
  if (jobs == 0) jobs = std::thread::hardware_concurrency();
  s.jobs = std::max(1u, std::min(jobs, kMaxJobs));
  s.blockSize = std::max<size_t>(blockSize, 1);
  s.sink = std::move(sink);
}

StreamCompressor::~StreamCompressor() { impl_->StopWorkers(); }

bool StreamCompressor::Write(const uint8_t* data, size_t size) {
  Impl& s = *impl_;
  if (s.error != CompressError::None || s.finished) return false;
  if (size > kMaxCompressInput - s.taken) return s.Fail(CompressError::TooLarge);
  try {
    if (s.ring.empty()) s.Start();
    while (size > 0) {
      Block* b = &s.At(s.filling);
      if (b->size() == s.blockSize) {
        // More input follows: the full block is not the last.
        if (!s.Dispatch(false)) return false;
        b = &s.At(s.filling);
      }
      size_t n = std::min(size, s.blockSize - b->size());
      b->window.insert(b->window.end(), data, data + n);
      data += n;
      size -= n;
      s.taken += n;
    }
    return s.WriteParsed(false);
  } catch (const std::bad_alloc&) {
    return s.Fail(CompressError::OutOfMemory);
  } catch (const std::length_error&) {  // a block larger than memory can be
    return s.Fail(CompressError::OutOfMemory);
  } catch (const std::system_error&) {  // a worker thread could not be started
    return s.Fail(CompressError::OutOfMemory);
  }
}

bool StreamCompressor::Finish() {
  Impl& s = *impl_;
  if (s.error != CompressError::None || s.finished) return false;
  s.finished = true;
  try {
    if (s.ring.empty()) s.Start();
    if (s.At(s.filling).size() > 0 && !s.Dispatch(true)) return false;
    while (s.written < s.filling)
      if (!s.WriteParsed(true)) return false;
    s.StopWorkers();
    s.writer.End();
    s.bits = s.writer.bits();
    s.parseBits += StreamWriter::kEndBits;
    return s.Hand(s.writer.bytes().size());
  } catch (const std::bad_alloc&) {
    return s.Fail(CompressError::OutOfMemory);
  } catch (const std::length_error&) {
    return s.Fail(CompressError::OutOfMemory);
  } catch (const std::system_error&) {
    return s.Fail(CompressError::OutOfMemory);
  }
}

CompressError StreamCompressor::error() const { return impl_->error; }
uint64_t StreamCompressor::inputBytes() const { return impl_->taken; }
uint64_t StreamCompressor::outputBytes() const { return impl_->writer.size() - impl_->writer.bytes().size(); }
uint64_t StreamCompressor::bits() const { return impl_->bits; }
uint64_t StreamCompressor::parseBits() const { return impl_->parseBits; }

const char* DescribeCompressError(CompressError error) {
  switch (error) {
    case CompressError::None: return "no error";
    case CompressError::TooLarge: return "more than 4 GiB - 16 bytes of input";
    case CompressError::SinkFailed: return "the output could not be written";
    case CompressError::OutOfMemory: return "out of memory";
  }
  return "unknown error";
}
