// Extraction of one large member to a file: the streamed path that the
// updater takes against the whole-buffer path it took before (decode the
// member into one buffer of its size, then write it in one piece). Each run
// is its own process so that its peak resident memory is its own.
//
//   qa_extract_bench stream|whole ARCHIVE MEMBER OUT
//
// Prints the member's size, the seconds, MB/s (10^6 bytes) and the peak
// resident memory (ru_maxrss), next to the archive's size.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "archive/archive.h"
#include "archive/fileops.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc != 5 || (std::strcmp(argv[1], "stream") && std::strcmp(argv[1], "whole"))) {
    std::fprintf(stderr, "usage: qa_extract_bench stream|whole ARCHIVE MEMBER OUT\n");
    return 2;
  }
  const bool stream = std::strcmp(argv[1], "stream") == 0;
  int fd = ::open(argv[2], O_RDONLY);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    std::perror(argv[2]);
    return 3;
  }
  // Mapped as the updater's resource is: pages come in as they are read.
  auto* image = static_cast<const uint8_t*>(
      ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0));
  if (image == MAP_FAILED) return 3;
  auto archive = OpenUpdateArchive(ArchiveSource{image, uint32_t(st.st_size)});
  uint64_t offset = 0;
  int32_t index = archive ? FindArchiveMember(*archive, argv[3], &offset) : -1;
  if (index < 0) {
    std::fprintf(stderr, "no member %s\n", argv[3]);
    return 1;
  }
  const ArchiveEntry entry = archive->entry(uint32_t(index));
  ::unlink(argv[4]);

  auto start = std::chrono::steady_clock::now();
  bool ok;
  if (stream) {
    ok = ExtractMember(*archive, image, size_t(st.st_size), argv[4], argv[3], false).ok();
  } else {
    MemoryBlock block = MemoryBlock::Allocate(entry.fileSize);
    ok = block.ok();
    if (ok && entry.IsCompressed()) {
      DecodeResult r = DecodeArchiveStream(block.data(), entry.fileSize, image + offset,
                                           entry.storedSize);
      ok = r.ok() && r.written == entry.fileSize;
    } else if (ok) {
      std::memcpy(block.data(), image + offset, entry.fileSize);
    }
    const uint64_t time = entry.fileTime;
    ok = ok && WriteWholeFile(argv[4], block.data(), entry.fileSize, &time);
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  struct rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("%-6s %s: %u bytes in %.2f s, %.0f MB/s, peak RSS %.1f MB (archive %.1f MB)%s\n",
              argv[1], argv[3], entry.fileSize, seconds, entry.fileSize / seconds / 1e6,
              usage.ru_maxrss / 1024.0, st.st_size / 1048576.0, ok ? "" : " FAILED");
  return ok ? 0 : 1;
}
