// Benchmark of the archive's stream codec against memcpy, zlib and LZ4 on
// one corpus folder (bench/make-corpus.sh). Every file is compressed on its
// own, as an archive member is. Prints one table in Markdown.
// Then packs the corpus as archive members with one thread and with two.
// Usage: qa_bench [--packing] CORPUS_DIR [seconds per figure, default 1]
//   --packing: only the packing figures
#include <lz4.h>
#include <sys/resource.h>
#include <lz4hc.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "archive/builder.h"
#include "archive/decoder.h"
#include "archive/encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

double g_seconds = 1.0;
int g_packRuns = 3;

// Runs `once` (which handles `bytes` bytes) until the time budget is spent;
// MB/s (10^6 bytes) over all runs.
double Rate(uint64_t bytes, const std::function<void()>& once, int minRuns = 1) {
  int runs = 0;
  Clock::time_point start = Clock::now();
  double elapsed = 0;
  do {
    once();
    ++runs;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (runs < minRuns || elapsed < g_seconds);
  return double(bytes) * runs / elapsed / 1e6;
}

struct Codec {
  std::string name;
  std::function<Bytes(const Bytes&)> compress;
  // Decodes `packed` into `out`, sized to the original; false on a fault.
  std::function<bool(const Bytes& packed, Bytes& out)> decode;
  int compressRuns = 1;  // slow compressors run once, fast ones for the budget
};

Bytes Deflate(const Bytes& in, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);  // raw: no checksum, like ours
  Bytes out(deflateBound(&z, uLong(in.size())));
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

bool Inflate(const Bytes& in, Bytes& out) {
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  int rc = inflate(&z, Z_FINISH);
  inflateEnd(&z);
  return rc == Z_STREAM_END && z.total_out == out.size();
}

std::string CpuModel() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  return "unknown";
}


double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct PackTime {
  double wall = 1e30;
  double cpu = 0;  // of the run with the best wall time
};

// BuildArchive on the corpus as members with `jobs` threads: wall and CPU
// seconds.
PackTime PackOnce(const std::vector<BuildMember>& members, CompressionMode mode, unsigned jobs,
                  std::vector<uint8_t>* image) {
  BuildOptions options;
  options.mode = mode;
  options.jobs = jobs;
  double cpu = CpuSeconds();
  Clock::time_point start = Clock::now();
  if (!BuildArchive(members, options, image, nullptr)) return {};
  return {std::chrono::duration<double>(Clock::now() - start).count(), CpuSeconds() - cpu};
}

// qa2 pack's work on the corpus, each file a member, with one thread and with
// two: the archive must not change, the time should nearly halve on 2 cores.
// CPU / wall shows how much of two cores the run had: on a shared machine
// the wall ratio is only as good as that.
void PackingFigures(const std::vector<std::filesystem::path>& paths, const std::vector<Bytes>& files,
                    uint64_t total) {
  std::vector<BuildMember> members(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    members[i].name = paths[i].filename().string();
    members[i].data = files[i];
  }
  std::printf("\npacking the corpus as %zu members (%.1f MB), best of %d runs\n\n", members.size(),
              total / 1e6, g_packRuns);
  std::printf("| mode | -j 1 s | -j 2 s | -j 2 / -j 1 | -j 2 CPU / wall | same archive |\n");
  std::printf("|---|---:|---:|---:|---:|---|\n");
  for (CompressionMode mode : {CompressionMode::Optimal, CompressionMode::Fast}) {
    PackTime best[2];
    std::vector<uint8_t> images[2];
    for (int run = 0; run < g_packRuns; ++run)
      for (unsigned jobs : {1u, 2u}) {
        PackTime t = PackOnce(members, mode, jobs, &images[jobs - 1]);
        if (t.wall < best[jobs - 1].wall) best[jobs - 1] = t;
      }
    std::printf("| %s | %.2f | %.2f | %.2f | %.2f | %s |\n",
                mode == CompressionMode::Optimal ? "optimal" : "fast", best[0].wall, best[1].wall,
                best[1].wall / best[0].wall, best[1].cpu / best[1].wall,
                images[0] == images[1] ? "yes" : "NO");
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool onlyPacking = argc > 1 && std::strcmp(argv[1], "--packing") == 0;
  if (onlyPacking) {
    --argc;
    ++argv;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: qa_bench [--packing] CORPUS_DIR [seconds per figure]\n");
    return 2;
  }
  if (argc > 2) g_seconds = std::max(0.1, std::atof(argv[2]));
  std::vector<std::filesystem::path> paths;
  for (const auto& e : std::filesystem::directory_iterator(argv[1]))
    if (e.is_regular_file()) paths.push_back(e.path());
  std::sort(paths.begin(), paths.end());
  std::vector<Bytes> files;
  uint64_t total = 0;
  for (const auto& p : paths) {
    std::ifstream in(p, std::ios::binary);
    files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    total += files.back().size();
  }
  if (total == 0) {
    std::fprintf(stderr, "qa_bench: no data in %s\n", argv[1]);
    return 2;
  }

  std::vector<Codec> codecs = {
      {"qa2 optimal",
       [](const Bytes& in) {
         CompressedStream s;
         CompressArchiveStream(in.data(), in.size(), CompressionMode::Optimal, &s);
         return s.bytes;
       },
       nullptr},
      {"qa2 fast",
       [](const Bytes& in) {
         CompressedStream s;
         CompressArchiveStream(in.data(), in.size(), CompressionMode::Fast, &s);
         return s.bytes;
       },
       nullptr, 3},
      {"zlib -1", [](const Bytes& in) { return Deflate(in, 1); }, Inflate, 3},
      {"zlib -6", [](const Bytes& in) { return Deflate(in, 6); }, Inflate},
      {"zlib -9", [](const Bytes& in) { return Deflate(in, 9); }, Inflate},
      {"lz4",
       [](const Bytes& in) {
         Bytes out(size_t(LZ4_compressBound(int(in.size()))));
         out.resize(size_t(LZ4_compress_default(reinterpret_cast<const char*>(in.data()),
                                                reinterpret_cast<char*>(out.data()), int(in.size()),
                                                int(out.size()))));
         return out;
       },
       nullptr, 3},
      {"lz4 -hc",
       [](const Bytes& in) {
         Bytes out(size_t(LZ4_compressBound(int(in.size()))));
         out.resize(size_t(LZ4_compress_HC(reinterpret_cast<const char*>(in.data()),
                                           reinterpret_cast<char*>(out.data()), int(in.size()),
                                           int(out.size()), LZ4HC_CLEVEL_DEFAULT)));
         return out;
       },
       nullptr},
  };
  auto ours = [](const Bytes& packed, Bytes& out) {
    DecodeResult r = DecodeArchiveStream(out.data(), out.size(), packed.data(), packed.size());
    return r.ok() && r.written == out.size();
  };
  auto lz4 = [](const Bytes& packed, Bytes& out) {
    return LZ4_decompress_safe(reinterpret_cast<const char*>(packed.data()),
                               reinterpret_cast<char*>(out.data()), int(packed.size()),
                               int(out.size())) == int(out.size());
  };
  codecs[0].decode = codecs[1].decode = ours;
  codecs[5].decode = codecs[6].decode = lz4;

  std::printf("corpus: %s, %zu files, %.1f MB\n", argv[1], files.size(), total / 1e6);
  if (onlyPacking) {
    PackingFigures(paths, files, total);
    return 0;
  }
  std::printf("machine: %s, %u logical CPUs; one thread\n\n", CpuModel().c_str(),
              std::thread::hardware_concurrency());
  std::printf("| codec | size | ratio | compress MB/s | decode MB/s |\n");
  std::printf("|---|---:|---:|---:|---:|\n");

  std::vector<Bytes> out(files.size());
  for (size_t i = 0; i < files.size(); ++i) out[i].resize(files[i].size());
  double copy = Rate(total, [&] {
    for (size_t i = 0; i < files.size(); ++i)
      std::memcpy(out[i].data(), files[i].data(), files[i].size());
  }, 3);
  std::printf("| memcpy | %.1f MB | 100.0%% | | %.0f |\n", total / 1e6, copy);

  double inflate6 = 0, oursOptimal = 0;
  for (const Codec& c : codecs) {
    std::vector<Bytes> packed(files.size());
    uint64_t packedTotal = 0;
    Clock::time_point start = Clock::now();
    int runs = 0;
    do {
      for (size_t i = 0; i < files.size(); ++i) packed[i] = c.compress(files[i]);
      ++runs;
    } while (runs < c.compressRuns);
    double compressRate =
        double(total) * runs / std::chrono::duration<double>(Clock::now() - start).count() / 1e6;
    for (const Bytes& p : packed) packedTotal += p.size();

    bool ok = true;
    for (size_t i = 0; i < files.size(); ++i) {
      std::fill(out[i].begin(), out[i].end(), 0);
      ok = ok && c.decode(packed[i], out[i]) && out[i] == files[i];
    }
    if (!ok) {
      std::printf("| %s | round trip FAILED | | | |\n", c.name.c_str());
      return 1;
    }
    double decodeRate = Rate(total, [&] {
      for (size_t i = 0; i < files.size(); ++i) c.decode(packed[i], out[i]);
    }, 3);
    if (c.name == "zlib -6") inflate6 = decodeRate;
    if (c.name == "qa2 optimal") oursOptimal = decodeRate;
    std::printf("| %s | %.1f MB | %.1f%% | %.1f | %.0f |\n", c.name.c_str(), packedTotal / 1e6,
                100.0 * double(packedTotal) / double(total), compressRate, decodeRate);
    std::fflush(stdout);
  }
  std::printf("\nqa2 decoder / zlib -6 inflate: %.2fx\n", oursOptimal / inflate6);

  PackingFigures(paths, files, total);
  return 0;
}
