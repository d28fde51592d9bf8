#include "archive/fileops.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/platform.h"

namespace {
PieceObserver pieceObserver = nullptr;
}

void SetPieceObserver(PieceObserver observer) { pieceObserver = observer; }

void NotePieceHandled(uint64_t bytes) {
  if (pieceObserver) pieceObserver(bytes);
}

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

RewriteResult RewriteWholeFile(const char* path) {
  platform::Platform& os = platform::Os();
  std::unique_ptr<platform::ReadableFile> file = os.OpenForRead(path);
  uint64_t size = 0;
  if (!file || !file->Size(&size) || size > UINT32_MAX) return RewriteResult::ReadFailed;
  MemoryBlock buffer = MemoryBlock::Allocate(size_t(std::min<uint64_t>(size, kFileChunk)));
  if (!buffer.ok()) return RewriteResult::ReadFailed;
  std::unique_ptr<platform::ReplacementFile> replacement = os.BeginReplacement(path);
  bool writing = replacement != nullptr;
  for (uint64_t done = 0; done < size;) {
    uint32_t want = uint32_t(std::min<uint64_t>(size - done, kFileChunk)), got = 0;
    // A file that cannot be read whole counts as unreadable, as a whole read
    // of it would: the replacement, if any, is dropped unused.
    if (!file->Read(buffer.data(), want, &got) || got != want) return RewriteResult::ReadFailed;
    if (writing) writing = replacement->Write(buffer.data(), want);
    done += want;
    NotePieceHandled(want);
    os.PumpPendingMessages();
  }
  file.reset();  // the replacement takes its name
  return writing && replacement->Commit(nullptr) ? RewriteResult::Rewritten
                                                 : RewriteResult::WriteFailed;
}

bool ParseHexProcessId(const char* text, size_t length, uint32_t* pid) {
  if (length == 0 || length > 8) return false;
  uint32_t value = 0;
  for (size_t i = 0; i < length; ++i) {
    char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') digit = unsigned(c - '0');
    else if (c >= 'a' && c <= 'f') digit = unsigned(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') digit = unsigned(c - 'A' + 10);
    else return false;
    value = value << 4 | digit;
  }
  *pid = value;
  return true;
}

bool ProcessIsGone(uint32_t pid) {
  platform::Platform& os = platform::Os();
  return pid != os.ProcessId() && !os.ProcessIsAlive(pid);
}

bool FileHolds(const char* path, const uint8_t* data, size_t size, bool prefix) {
  std::unique_ptr<platform::ReadableFile> file = platform::Os().OpenForRead(path);
  uint64_t length = 0;
  if (!file || !file->Size(&length) || length > size || (!prefix && length != size)) return false;
  uint8_t buffer[4096];
  for (uint64_t done = 0; done < length;) {
    uint32_t want = uint32_t(std::min<uint64_t>(length - done, sizeof buffer)), got = 0;
    if (!file->Read(buffer, want, &got) || got != want ||
        std::memcmp(buffer, data + done, want) != 0)
      return false;
    done += want;
  }
  return true;
}

void RemoveStaleReplacements(const char* destination,
                             const std::function<bool(const char*)>& isOurs) {
  platform::Platform& os = platform::Os();
  const std::string pattern = std::string(destination) + ".~*.tmp";
  std::vector<std::string> names;
  os.FindFiles(pattern.c_str(), &names);
  if (names.empty()) return;
  // The folder part as given, up to the last separator outside a
  // double-byte character.
  size_t cut = 0;
  for (size_t i = 0; destination[i] != '\0'; ++i) {
    if (platform::IsLeadByte(uint8_t(destination[i])) && destination[i + 1] != '\0') ++i;
    else if (destination[i] == '\\') cut = i + 1;
  }
  const std::string base(destination + cut);
  for (const std::string& name : names) {
    // Exactly "<name>.~<hex>.tmp", the name as the system matched it.
    const size_t head = base.size() + 2, tail = 4;
    if (name.size() <= head + tail || name.compare(head - 2, 2, ".~") != 0 ||
        name.compare(name.size() - tail, tail, ".tmp") != 0 ||
        name.size() - head - tail > 8)
      continue;
    uint32_t pid = 0;
    if (!ParseHexProcessId(name.data() + head, name.size() - head - tail, &pid)) continue;
    if (!ProcessIsGone(pid)) continue;
    const std::string path = std::string(destination, cut) + name;
    if (isOurs && !isOurs(path.c_str())) continue;
    os.DeleteFile(path.c_str());
  }
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
