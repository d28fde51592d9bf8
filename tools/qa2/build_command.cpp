// qa2 build: an UPDATE.EXE from an update folder and the updater stub,
// without a resource compiler or a linker.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/builder.h"
#include "archive/decoder.h"
#include "platform/tool_support.h"
#include "tools/pe/pe_writer.h"
#include "tools/qa2/check.h"
#include "tools/qa2/cli.h"
#include "tools/qa2/exe_input.h"
#include "tools/qa2/member_files.h"
#include "tools/qa2/patch_plan.h"
#include "tools/qa2/stub.h"

namespace qa2 {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCommand = "build";

// Compares a member's bytes, handed out in pieces, with its file read in
// pieces alongside.
class FileComparer {
 public:
  explicit FileComparer(const std::string& path) : path_(path) {}
  bool Open(std::string* error) {
    reader_ = OpenMemberFile(path_, error);
    return reader_ != nullptr;
  }
  // False at the first difference, or when the file cannot be read.
  bool Take(const uint8_t* data, size_t size, std::string* error) {
    while (size > 0) {
      if (have_ == used_) {
        used_ = 0;
        if (!reader_->Read(buffer_.data(), buffer_.size(), &have_, error)) return false;
        if (have_ == 0) return false;
      }
      const size_t n = std::min(size, have_ - used_);
      if (std::memcmp(data, buffer_.data() + used_, n) != 0) return false;
      used_ += n;
      data += n;
      size -= n;
    }
    return true;
  }

 private:
  std::string path_;
  std::unique_ptr<MemberReader> reader_;
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(size_t(1) << 20);
  size_t have_ = 0, used_ = 0;
};

// Reads the result as the updater will: the resource found in the file, the
// archive opened from it, every member decoded in pieces and compared with
// its file. An error that is no mismatch (a member file unreadable) is
// marked in *io.
bool ReadBack(const uint8_t* exe, size_t exeSize, const std::vector<FolderMember>& files, std::string* error,
              bool* io) {
  size_t offset = 0, length = 0;
  if (!FindUpdateResource(exe, exeSize, &offset, &length, error)) return false;
  const uint8_t* image = exe + offset;
  OpenReport report;
  std::unique_ptr<UpdateArchive> archive = OpenUpdateArchive(ArchiveSource{image, uint32_t(length)}, &report);
  if (!archive) {
    *error = platform::Cp932ToUtf8(DescribeOpenReport(report));
    return false;
  }
  if (archive->entryCount() != files.size()) {
    *error = "the archive holds " + std::to_string(archive->entryCount()) + " members, not " +
             std::to_string(files.size());
    return false;
  }
  std::vector<uint8_t> window(size_t(1) << 20);
  uint64_t at = kArchiveHeaderSize;
  for (uint32_t i = 0; i < archive->entryCount(); ++i) {
    const MemberSpec& m = files[i].member;
    const ArchiveEntry e = archive->entry(i);
    const std::string mismatch = "member " + files[i].shown + " does not read back as its file";
    if (e.fileSize != m.size || std::strncmp(e.name, m.name.c_str(), kArchiveNameField) != 0 ||
        e.fileTime != m.fileTime || at + e.storedSize > length) {
      *error = mismatch;
      return false;
    }
    FileComparer file(files[i].path);
    std::string why;
    if (!file.Open(&why)) {
      *error = why;
      *io = true;
      return false;
    }
    bool same = true;
    if (e.IsCompressed()) {
      ChunkedDecoder decoder(image + at, e.storedSize, e.fileSize, window.data(), window.size());
      const uint8_t* piece;
      size_t pieceSize;
      while (same && decoder.Next(&piece, &pieceSize)) same = file.Take(piece, pieceSize, &why);
      const DecodeResult r = decoder.result();
      same = same && r.ok() && r.written == e.fileSize;
    } else {
      same = e.storedSize == e.fileSize && file.Take(image + at, e.storedSize, &why);
    }
    if (!same) {
      *io = !why.empty();
      *error = why.empty() ? mismatch : why;
      return false;
    }
    at += AlignedStoredSize(e.storedSize);
  }
  return true;
}

}  // namespace

int RunBuild(const std::vector<std::string>& args) {
  std::string dir, outPath, stubPath;
  BuildOptions options;
  PatchPlanOptions patches;
  bool force = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--base" || a == "--keep-whole") {
      if (i + 1 >= args.size()) return Fail(kCommand, kExitUsage, a + " needs " + (a == "--base" ? "a folder" : "a member name"));
      const std::string& value = args[++i];
      if (a == "--base") {
        std::error_code ec;
        if (!fs::is_directory(fs::u8path(value), ec)) return Fail(kCommand, kExitIo, "--base " + value + " is not a folder");
        patches.bases.push_back(value);
      } else {
        std::string name;
        if (!platform::Utf8ToCp932(value, &name)) return Fail(kCommand, kExitUsage, "--keep-whole " + value + ": no code page 932 form");
        patches.keepWhole.push_back(name);
      }
    } else if (a == "--gate") {
      patches.gate = true;
    } else if (a == "--fast") {
      options.mode = CompressionMode::Fast;
    } else if (a == "--force") {
      force = true;
    } else if (a == "--stub") {
      if (i + 1 >= args.size()) return Fail(kCommand, kExitUsage, "--stub needs a file");
      stubPath = args[++i];
    } else if (a == "-j") {
      uint32_t jobs = 0;
      if (i + 1 >= args.size() || !ParseSize(args[i + 1], &jobs) || jobs > 1024)
        return Fail(kCommand, kExitUsage, "-j needs a number of jobs (0 = one per core)");
      options.jobs = jobs;
      ++i;
    } else if (a.size() > 1 && a[0] == '-') {
      return Fail(kCommand, kExitUsage, "unknown option " + a + " (see qa2 build --help)");
    } else if (dir.empty()) {
      dir = a;
    } else if (outPath.empty()) {
      outPath = a;
    } else {
      return Fail(kCommand, kExitUsage, "unexpected argument " + a);
    }
  }
  if (dir.empty() || outPath.empty())
    return Fail(kCommand, kExitUsage, "expects UPDATE_DIR OUT_EXE (see qa2 build --help)");
  if (patches.bases.empty() && (patches.gate || !patches.keepWhole.empty()))
    return Fail(kCommand, kExitUsage, "--gate and --keep-whole go with --base");

  std::vector<uint8_t> stub;
  std::string error;
  if (!stubPath.empty()) {
    if (!ReadFileBytes(stubPath, &stub, &error)) return Fail(kCommand, kExitIo, error);
  } else {
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (!CarriedStub(&data, &size))
      return Fail(kCommand, kExitUsage,
                  "this qa2 carries no updater stub (it was built without a MinGW cross "
                  "compiler); name one with --stub FILE, e.g. a Win32 build's updater/UPDATE.EXE");
    stub.assign(data, data + size);
  }
  if (!patches.bases.empty() && !StubAppliesPatches(stub))
    return Fail(kCommand, kExitUsage, "the stub " + (stubPath.empty() ? std::string("carried") : stubPath) +
                                          " cannot apply patches; build it from this qa2's sources, or leave out --base");

  std::error_code ec;
  if (!fs::is_directory(fs::u8path(dir), ec)) return Fail(kCommand, kExitIo, dir + " is not a folder");
  const CheckSummary check = CheckUpdateFolder(dir, stderr);
  if (check.errors > 0) {
    if (!force)
      return Fail(kCommand, kExitBadArchive,
                  "refused: " + std::to_string(check.errors) + " error(s) in " + dir + " (--force builds anyway)");
    std::fprintf(stderr, "qa2 build: building despite %d error(s) (--force)\n", check.errors);
  }

  std::vector<FolderMember> members;
  std::vector<std::string> paths;
  SpoolFile spool(outPath, "spool");
  if (!spool.Open(&error)) return Fail(kCommand, kExitIo, error);
  ArchiveBuilder builder;
  BuildReport report;
  std::vector<std::unique_ptr<SpoolFile>> scratch;
  if (int rc = PrepareFolder(kCommand, dir, outPath, patches, options, false, false, &spool, &builder, &members,
                             &scratch, stdout))
    return rc;
  for (const FolderMember& m : members) paths.push_back(m.path);

  // The stub laid out around the archive, whose bytes then stream from the
  // builder into a temporary file; it is read back from there as the
  // updater will read it, and only then copied to OUT_EXE.
  std::vector<uint8_t> around;
  pe::ResourceHole hole;
  pe::WriteNotes notes;
  if (!pe::SetNamedTypeResourceAround(stub, kUpdateResourceType, kUpdateResourceId, kUpdateResourceLanguage,
                                      builder.size(), &around, &hole, &notes, &error))
    return Fail(kCommand, kExitUsage, "the stub " + (stubPath.empty() ? std::string("carried") : stubPath) +
                                          " cannot take the archive: " + error);
  const uint64_t archiveSize = builder.size();
  if (around.size() + archiveSize > kMaxUpdaterImage)
    return Fail(kCommand, kExitBadArchive,
                "refused: UPDATE.EXE would take " + std::to_string(around.size() + archiveSize) +
                    " bytes, more than the 1.5 GiB (" + std::to_string(kMaxUpdaterImage) +
                    ") the 32-bit updater can be started from (see docs/authoring.md#limits)");
  if (notes.droppedCertificate)
    std::fprintf(stderr, "qa2 build: the stub's signature was dropped; sign %s again\n", outPath.c_str());
  SpoolFile result(outPath, "exe");
  pe::PeChecksum checksum;
  auto put = [&](const uint8_t* data, size_t size) {
    checksum.Update(data, size);
    return result.Append(data, size, &error);
  };
  if (!result.Open(&error) || !put(around.data(), size_t(hole.offset))) return Fail(kCommand, kExitIo, error);
  if (!builder.Write(put, &report)) return ReportBuildFailure(kCommand, report, paths, error);
  if (!put(around.data() + hole.offset, around.size() - size_t(hole.offset))) return Fail(kCommand, kExitIo, error);
  uint8_t sum[4];
  const uint32_t value = checksum.Finish();
  for (int i = 0; i < 4; ++i) sum[i] = uint8_t(value >> (8 * i));
  if (!result.WriteAt(hole.checksumOffset, sum, 4, &error) || !result.Flush(&error))
    return Fail(kCommand, kExitIo, error);
  const uint64_t exeSize = result.end();
  {
    platform::MappedFile written;
    if (!written.Open(result.path(), &error))
      return Fail(kCommand, kExitIo, "cannot read back " + result.path() + ": " + error);
    bool io = false;
    if (!ReadBack(written.data(), size_t(written.size()), members, &error, &io))
      return io ? Fail(kCommand, kExitIo, error)
                : Fail(kCommand, kExitBadArchive, "the result does not read back, nothing written: " + error);
  }
  // Renamed, not copied: the output appears whole or not at all.
  if (!result.ReplaceTarget(outPath, &error)) return Fail(kCommand, kExitIo, error);
  std::printf("%s: %llu bytes, %zu members, archive %llu bytes\n", outPath.c_str(),
              (unsigned long long)exeSize, members.size(), (unsigned long long)archiveSize);
  return kExitOk;
}

}  // namespace qa2
