// The decoder alone, in process: every corpus file compressed on its own (as
// an archive member is) in both modes, then decoded whole (DecodeArchiveStream
// into a buffer of the file's size) and in pieces (ChunkedDecoder with the
// extraction's 1 MB buffer), best of several passes over the corpus.
//
//   qa_decode_bench CORPUS_DIR [STREAM_CACHE_DIR] [passes, default 7]
//
// The optimal streams take a while to make; given a cache folder they are
// kept there. Prints MB/s (10^6 bytes of output) of thread CPU time and
// cycles per output byte at the clock /proc/cpuinfo reports (the machine
// has no cycle counter that perf can read).
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/decoder.h"
#include "archive/encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

double ClockHz() {
  std::ifstream info("/proc/cpuinfo");
  std::string line;
  while (std::getline(info, line)) {
    if (line.rfind("cpu MHz", 0) == 0) return std::atof(line.c_str() + line.find(':') + 1) * 1e6;
  }
  return 0;
}

// The thread's CPU time, not the wall clock: the machine is shared, and a
// pass that loses its core for a while would otherwise count the wait. On
// Windows (the 32-bit build, run under Wine) thread times come in ticks of
// 10 ms or more, coarser than a pass: there it is the wall clock.
double CpuSeconds() {
#ifdef _WIN32
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
#else
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + t.tv_nsec * 1e-9;
#endif
}

template <typename F>
double BestSeconds(int passes, F&& run) {
  double best = 1e30;
  for (int i = 0; i < passes; ++i) {
    double t0 = CpuSeconds();
    run();
    best = std::min(best, CpuSeconds() - t0);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: qa_decode_bench CORPUS_DIR [STREAM_CACHE_DIR] [passes]\n");
    return 2;
  }
  const std::filesystem::path cache = argc > 2 ? argv[2] : "";
  const int passes = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;
  std::vector<std::filesystem::path> names;
  for (const auto& e : std::filesystem::directory_iterator(argv[1]))
    if (e.is_regular_file()) names.push_back(e.path());
  std::sort(names.begin(), names.end());
  std::vector<Bytes> files;
  size_t total = 0;
  for (const auto& n : names) {
    files.push_back(ReadAll(n));
    total += files.back().size();
  }
  if (total == 0) {
    std::fprintf(stderr, "qa_decode_bench: no data in %s\n", argv[1]);
    return 1;
  }
  if (!cache.empty()) std::filesystem::create_directories(cache);
  const double hz = ClockHz();
  std::printf("corpus: %zu files, %.1f MB; clock %.0f MHz; best of %d passes\n", files.size(),
              total / 1e6, hz / 1e6, passes);
  std::vector<uint8_t> chunk(kDecodeHistory + (size_t(1) << 20));
  for (CompressionMode mode : {CompressionMode::Optimal, CompressionMode::Fast}) {
    const char* modeName = mode == CompressionMode::Optimal ? "optimal" : "fast";
    std::vector<Bytes> packed(files.size());
    size_t packedTotal = 0;
    for (size_t i = 0; i < files.size(); ++i) {
      std::filesystem::path kept;
      if (!cache.empty()) kept = cache / (names[i].filename().string() + "." + modeName);
      if (!kept.empty() && std::filesystem::exists(kept)) {
        packed[i] = ReadAll(kept);
      } else {
        CompressedStream s;
        if (!CompressArchiveStream(files[i].data(), files[i].size(), mode, &s)) return 1;
        packed[i] = s.bytes;
        if (!kept.empty()) std::ofstream(kept, std::ios::binary)
            .write(reinterpret_cast<const char*>(packed[i].data()), std::streamsize(packed[i].size()));
      }
      packedTotal += packed[i].size();
    }
    std::vector<Bytes> out(files.size());
    for (size_t i = 0; i < files.size(); ++i) out[i].resize(files[i].size());
    bool ok = true;
    const double whole = BestSeconds(passes, [&] {
      for (size_t i = 0; i < files.size(); ++i) {
        DecodeResult r = DecodeArchiveStream(out[i].data(), out[i].size(), packed[i].data(),
                                             packed[i].size());
        ok = ok && r.ok() && r.written == files[i].size();
      }
    });
    for (size_t i = 0; i < files.size(); ++i) ok = ok && out[i] == files[i];
    size_t sink = 0;
    const double chunked = BestSeconds(passes, [&] {
      for (size_t i = 0; i < files.size(); ++i) {
        ChunkedDecoder d(packed[i].data(), packed[i].size(), files[i].size(), chunk.data(),
                         chunk.size());
        const uint8_t* piece;
        size_t size;
        while (d.Next(&piece, &size)) sink += size;
        ok = ok && d.result().ok() && d.result().written == files[i].size();
      }
    });
    ok = ok && sink == total * size_t(passes);
    std::printf("%-8s streams %.1f MB (%.1f%%): whole %7.1f MB/s %5.2f cycles/byte, "
                "chunked %7.1f MB/s %5.2f cycles/byte%s\n",
                modeName, packedTotal / 1e6, 100.0 * packedTotal / total, total / whole / 1e6,
                whole * hz / total, total / chunked / 1e6, chunked * hz / total,
                ok ? "" : "  WRONG OUTPUT");
    if (!ok) return 1;
  }
  return 0;
}
