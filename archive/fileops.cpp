#include "archive/fileops.h"

#include "platform/platform.h"

MemoryBlock ReadWholeFile(const char* path) {
  std::unique_ptr<platform::ReadableFile> file = platform::Os().OpenForRead(path);
  if (!file) return {};
  uint64_t size = 0;
  if (!file->Size(&size) || size > UINT32_MAX) return {};
  MemoryBlock block = MemoryBlock::Allocate(size_t(size));
  if (!block.ok()) return {};
  uint32_t got = 0;
  if (!file->Read(block.data(), uint32_t(size), &got) || got != size) return {};
  return block;
}

int WriteWholeFile(const char* path, const void* data, uint32_t byteCount,
                   const uint64_t* time) {
  return platform::Os().WriteFileReplacing(path, data, byteCount, time) ? 1 : 0;
}

int GetDiskFreeBytes(const char* rootPath, uint64_t* outFreeToCaller, uint64_t* outTotalBytes,
                     uint64_t* outTotalFree) {
  platform::Platform& os = platform::Os();
  uint64_t freeToCaller, totalBytes, totalFree;
  if (os.DiskFreeSpaceEx(rootPath, &freeToCaller, &totalBytes, &totalFree) ==
      platform::FreeSpaceQuery::Ok) {
    *outFreeToCaller = freeToCaller;
    *outTotalBytes = totalBytes;
    if (outTotalFree) *outTotalFree = totalFree;
    return 1;
  }
  uint32_t sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
  if (!os.DiskFreeSpace(rootPath, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                        &totalClusters))
    return 0;
  // The cluster size is a 32-bit product, as the system computes it.
  uint32_t bytesPerCluster = sectorsPerCluster * bytesPerSector;
  *outFreeToCaller = uint64_t(freeClusters) * bytesPerCluster;
  *outTotalBytes = uint64_t(totalClusters) * bytesPerCluster;
  if (outTotalFree) *outTotalFree = *outFreeToCaller;
  return 1;
}
