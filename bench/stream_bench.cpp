// The streamed compressor on one large member and the block-wise parse's
// cost on the corpus (bench/make-corpus.sh). Prints figures; never a test.
//
// 1. The corpus compressed per file (as archive members are) and as one
//    stream, in both modes: sizes and ratios.
// 2. One member of MB megabytes (default 1024) of game-like content, the
//    corpus repeated, handed over in 1 MiB pieces and compressed with
//    -j 1 and -j 2 in both modes: wall and CPU seconds, MB/s, peak anonymous
//    memory (sampled) and its growth over the run's start, CPU over wall
//    time (on a shared machine the -j ratio is only as good as that), and
//    whether -j 1 and -j 2 gave the same stream. Each run is a child process of its own,
//    so that every peak is that run's.
// Usage: qa_stream_bench CORPUS_DIR [MB] [--no-ratio]
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "archive/encoder.h"
#include "archive/stream_compressor.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A field of /proc/self/status in kB.
long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  size_t n = std::strlen(field);
  while (std::getline(in, line))
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
      return std::atol(line.c_str() + n + 1);
  return -1;
}

const char* Name(CompressionMode mode) { return mode == CompressionMode::Fast ? "fast" : "optimal"; }

void CorpusRatios(const std::vector<Bytes>& files, const Bytes& all) {
  std::printf("the corpus, %zu files, %zu bytes\n\n", files.size(), all.size());
  std::printf("| mode | per file | ratio | one stream | ratio |\n|---|---:|---:|---:|---:|\n");
  for (CompressionMode mode : {CompressionMode::Optimal, CompressionMode::Fast}) {
    uint64_t per = 0;
    for (const Bytes& f : files) {
      CompressedStream s;
      CompressArchiveStream(f.data(), f.size(), mode, &s);
      per += s.bytes.size();
    }
    CompressedStream s;
    CompressArchiveStream(all.data(), all.size(), mode, &s);
    std::printf("| %s | %llu | %.5f%% | %zu | %.5f%% |\n", Name(mode), (unsigned long long)per,
                100.0 * double(per) / double(all.size()), s.bytes.size(),
                100.0 * double(s.bytes.size()) / double(all.size()));
    std::fflush(stdout);
  }
}

// One run, in this (child) process: prints a table row, returns the
// stream's digest.
void MemberRun(const Bytes& corpus, uint64_t total, CompressionMode mode, unsigned jobs, int digestFd) {
  malloc_trim(0);  // what the parent freed is not this run's
  std::atomic<bool> running{true};
  std::atomic<long> peak{StatusKb("RssAnon")};
  const long start = peak;
  std::thread sampler([&] {
    while (running) {
      long now = StatusKb("RssAnon");
      if (now > peak) peak = now;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  uint64_t digest = 1469598103934665603ull, out = 0;
  StreamCompressor c(mode, jobs, [&](const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) digest = (digest ^ p[i]) * 1099511628211ull;
    out += n;
    return true;
  });
  const size_t kPiece = size_t(1) << 20;
  double cpu = CpuSeconds();
  Clock::time_point begin = Clock::now();
  bool ok = true;
  for (uint64_t done = 0; done < total && ok;) {
    size_t at = size_t(done % corpus.size());
    size_t n = size_t(std::min<uint64_t>({kPiece, corpus.size() - at, total - done}));
    ok = c.Write(corpus.data() + at, n);
    done += n;
  }
  ok = ok && c.Finish();
  double wall = std::chrono::duration<double>(Clock::now() - begin).count();
  cpu = CpuSeconds() - cpu;
  running = false;
  sampler.join();
  if (!ok) {
    std::printf("| %s | %u | failed: %s |\n", Name(mode), jobs, DescribeCompressError(c.error()));
    std::exit(1);
  }
  std::printf("| %s | %u | %.1f | %.1f | %.2f%% | %.1f | %.2f | %ld | %ld |\n", Name(mode), jobs, wall,
              cpu, 100.0 * double(out) / double(total), total / wall / 1e6, cpu / wall, peak / 1024,
              (peak - start) / 1024);
  std::fflush(stdout);
  (void)!write(digestFd, &digest, sizeof digest);
  (void)!write(digestFd, &wall, sizeof wall);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: qa_stream_bench CORPUS_DIR [MB] [--no-ratio]\n");
    return 2;
  }
  uint64_t megabytes = 1024;
  bool ratios = true;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-ratio") == 0)
      ratios = false;
    else
      megabytes = std::strtoull(argv[i], nullptr, 10);
  }
  std::vector<std::filesystem::path> paths;
  for (const auto& e : std::filesystem::directory_iterator(argv[1]))
    if (e.is_regular_file()) paths.push_back(e.path());
  std::sort(paths.begin(), paths.end());
  std::vector<Bytes> files;
  Bytes all;
  for (const auto& p : paths) {
    std::ifstream in(p, std::ios::binary);
    files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    all.insert(all.end(), files.back().begin(), files.back().end());
  }
  if (all.empty()) {
    std::fprintf(stderr, "qa_stream_bench: no data in %s\n", argv[1]);
    return 2;
  }
  if (ratios) {
    CorpusRatios(files, all);
    std::printf("\n");
  }
  files.clear();
  const uint64_t total = megabytes * 1000000;
  std::printf("one member of %.0f MB, the corpus repeated, in 1 MiB pieces; %u logical CPUs; "
              "memory in MB, the corpus (%.0f MB) included\n\n",
              total / 1e6, std::thread::hardware_concurrency(), all.size() / 1e6);
  std::printf("| mode | -j | s | CPU s | ratio | MB/s | CPU / wall | peak anon | anon growth |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  std::fflush(stdout);
  for (CompressionMode mode : {CompressionMode::Optimal, CompressionMode::Fast}) {
    uint64_t digest[2] = {};
    double wall[2] = {};
    for (unsigned jobs : {1u, 2u}) {
      int fds[2];
      if (pipe(fds) != 0) return 1;
      pid_t child = fork();
      if (child == 0) {
        close(fds[0]);
        MemberRun(all, total, mode, jobs, fds[1]);
        std::_Exit(0);
      }
      close(fds[1]);
      (void)!read(fds[0], &digest[jobs - 1], sizeof digest[0]);
      (void)!read(fds[0], &wall[jobs - 1], sizeof wall[0]);
      close(fds[0]);
      int status = 0;
      waitpid(child, &status, 0);
    }
    std::printf("\n%s: -j 2 / -j 1 time %.2f, same stream: %s\n\n", Name(mode), wall[1] / wall[0],
                digest[0] == digest[1] ? "yes" : "NO");
    std::fflush(stdout);
  }
  return 0;
}
