// qa_patch_probe OLD NEW: one patch made as qa2 build makes it, its
// operations, its raw size and its size compressed as an archive member
// (both modes), and the time taken. For tuning the coder on real pairs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <fstream>
#include <iterator>
#include <vector>

#include "archive/encoder.h"
#include "archive/patch_coder.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: qa_patch_probe OLD NEW\n");
    return 2;
  }
  auto read = [](const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  const std::vector<uint8_t> old = read(argv[1]), now = read(argv[2]);
  for (const PatchTuning tuning : {kPatchForData, kPatchForCode}) {
  std::printf("runs shorter than %llu coded as differences:\n", (unsigned long long)tuning.minCopy);
  std::vector<uint8_t> patch;
  PatchStats stats;
  const auto started = std::chrono::steady_clock::now();
  MakePatch(old.data(), old.size(), now.data(), now.size(),
            [&](const uint8_t* p, size_t n) {
              patch.insert(patch.end(), p, p + n);
              return true;
            },
            &stats, tuning);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  // QA_PROBE_DUMP=PREFIX keeps each raw patch, to try other coders on.
  if (const char* dump = std::getenv("QA_PROBE_DUMP"))
    std::ofstream(std::string(dump) + "-" + std::to_string(tuning.minCopy), std::ios::binary)
        .write(reinterpret_cast<const char*>(patch.data()), std::streamsize(patch.size()));
  std::vector<uint8_t> lzma;
  size_t at = 0;
  PackPatch(
      [&](uint8_t* buffer, size_t capacity, size_t* got) {
        *got = std::min(capacity, patch.size() - at);
        std::copy(patch.begin() + long(at), patch.begin() + long(at + *got), buffer);
        at += *got;
        return true;
      },
      patch.size(), [&](const uint8_t* p, size_t n) {
        lzma.insert(lzma.end(), p, p + n);
        return true;
      });
  CompressedStream fast, optimal;
  CompressArchiveStream(patch.data(), patch.size(), CompressionMode::Fast, &fast);
  CompressArchiveStream(patch.data(), patch.size(), CompressionMode::Optimal, &optimal);
  std::printf("old %zu B, new %zu B: copied %llu, diffed %llu, added %llu B (index stride %llu)\n", old.size(),
              now.size(), (unsigned long long)stats.copied, (unsigned long long)stats.diffed,
              (unsigned long long)stats.added, (unsigned long long)stats.indexStride);
  std::printf("patch %zu B raw, %zu B fast, %zu B optimal, %zu B LZMA; made in %.2f s (%.1f MB/s of new data)\n",
              patch.size(), fast.bytes.size(), optimal.bytes.size(), lzma.size(), seconds, now.size() / seconds / 1e6);
  }
  return 0;
}
