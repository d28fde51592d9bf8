#include "tools/qa2/patch_read.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "archive/decoder.h"
#include "archive/sha256.h"
#include "platform/platform.h"
#include "platform/tool_support.h"
#include "tools/qa2/member_files.h"

namespace qa2 {

namespace fs = std::filesystem;

BaseFiles::BaseFiles(const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(fs::u8path(folder), ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code statusError;
      if (!it->is_regular_file(statusError) || it->is_symlink(statusError)) continue;
      const uint64_t size = it->file_size(statusError);
      if (!statusError) bySize_.emplace(size, it->path().u8string());
    }
  }
}

std::string BaseFiles::Find(uint64_t size, const uint8_t* hash) {
  auto range = bySize_.equal_range(size);
  for (auto it = range.first; it != range.second; ++it) {
    std::vector<uint8_t>& digest = hashes_[it->second];
    if (digest.empty()) {
      std::string error;
      std::unique_ptr<MemberReader> reader = OpenMemberFile(it->second, &error);
      if (!reader) continue;
      std::vector<uint8_t> buffer(size_t(1) << 20);
      Sha256 sha;
      size_t got = 0;
      while (reader->Read(buffer.data(), buffer.size(), &got, &error) && got > 0) sha.Update(buffer.data(), got);
      if (!error.empty()) continue;
      digest.resize(kSha256Size);
      sha.Digest(digest.data());
    }
    if (std::memcmp(digest.data(), hash, kSha256Size) == 0) return it->second;
  }
  return std::string();
}

std::string ApplyArchivePatch(const UpdateArchive& archive, const uint8_t* image, size_t imageSize,
                              const PatchTarget& target, const PatchBase& base, const std::string& oldPath,
                              const PatchSink& sink) {
  const int32_t index = FindArchiveMember(archive, base.patch, nullptr);
  if (index < 0) return std::string("the archive has no patch member ") + platform::Cp932ToUtf8(base.patch);
  std::unique_ptr<ChunkedDecoder> decoder;
  MemoryBlock buffer;
  const PatchSource source = MemberPatchSource(archive, image, imageSize, uint32_t(index), &decoder, &buffer);
  // Paths go to the platform as extraction hands it its destinations.
  std::unique_ptr<platform::ReadableFile> old = platform::Os().OpenForRead(oldPath.c_str());
  if (!old) return "cannot read " + oldPath;
  const PatchError error = ApplyPatch(source, base.size, target.newSize, ReadFromFile(old.get()),
                                      sink ? sink : PatchSink([](const uint8_t*, size_t) { return true; }),
                                      target.newHash);
  if (error == PatchError::None) return std::string();
  return std::string(platform::Cp932ToUtf8(base.patch)) + ": " + DescribePatchError(error);
}

void PrintPatchTable(const std::vector<PatchTarget>& table) {
  if (table.empty()) return;
  std::printf("patches (%s):\n", kPatchTableName);
  for (const PatchTarget& t : table) {
    const std::string name = platform::Cp932ToUtf8(t.name);
    std::printf("  %-14s new %llu B%s\n", name.c_str(), (unsigned long long)t.newSize,
                (t.flags & kPatchGated) ? ", gated: any other installed version is refused" : "");
    for (const PatchBase& b : t.bases) {
      std::printf("    from %llu B: %s\n", (unsigned long long)b.size,
                  b.patch[0] ? ("patch " + platform::Cp932ToUtf8(b.patch)).c_str() : "the whole member");
    }
  }
}

}  // namespace qa2
