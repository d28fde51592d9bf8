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
#include "platform/tool_support.h"
#include "tools/pe/pe_writer.h"
#include "tools/qa2/check.h"
#include "tools/qa2/cli.h"
#include "tools/qa2/exe_input.h"
#include "tools/qa2/stub.h"

namespace qa2 {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCommand = "build";

// Member order: code page 932 bytes with ASCII letters as capitals, so that
// the order, and with it the bytes, is the same on every system.
bool MemberNameLess(const std::string& a, const std::string& b) {
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; };
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) {
    return uint8_t(upper(x)) < uint8_t(upper(y));
  });
}

struct FolderMember {
  std::string path;   // UTF-8
  std::string shown;  // the file name, UTF-8
  BuildMember member;
};

// Every regular file at the folder's top level, named and ordered; the
// files are read only once every name has passed.
int CollectMembers(const std::string& dir, std::vector<FolderMember>* out) {
  std::error_code ec;
  fs::directory_iterator it(fs::u8path(dir), ec), end;
  if (ec) return Fail(kCommand, kExitIo, "cannot read the folder " + dir + ": " + ec.message());
  for (; it != end; it.increment(ec)) {
    if (ec) return Fail(kCommand, kExitIo, "cannot read the folder " + dir + ": " + ec.message());
    std::error_code statusError;
    if (!fs::is_regular_file(it->status(statusError))) continue;  // subfolders are not packed
    FolderMember m;
    m.shown = it->path().filename().u8string();
    m.path = it->path().u8string();
    if (!platform::Utf8ToCp932(m.shown, &m.member.name))
      return Fail(kCommand, kExitUsage, m.path + ": name '" + m.shown + "' has no code page 932 form");
    BuildError nameError = CheckMemberName(m.member.name);
    if (nameError != BuildError::None)
      return Fail(kCommand, kExitUsage, m.path + ": member name '" + m.shown + "': " + DescribeBuildError(nameError));
    out->push_back(std::move(m));
  }
  if (out->empty()) return Fail(kCommand, kExitUsage, dir + " holds no files");
  std::sort(out->begin(), out->end(), [](const FolderMember& a, const FolderMember& b) {
    return MemberNameLess(a.member.name, b.member.name);
  });
  for (size_t i = 1; i < out->size(); ++i)
    if (SameMemberName((*out)[i - 1].member.name, (*out)[i].member.name))
      return Fail(kCommand, kExitUsage, (*out)[i].path + ": member name '" + (*out)[i].shown +
                                            "' is already taken by " + (*out)[i - 1].path +
                                            " (names are compared without regard to case)");
  for (FolderMember& m : *out) {
    std::string error;
    if (!platform::FileTimeOfPath(m.path, &m.member.fileTime))
      return Fail(kCommand, kExitIo, "cannot read " + m.path);
    if (!ReadFileBytes(m.path, &m.member.data, &error)) return Fail(kCommand, kExitIo, error);
    if (m.member.data.size() > 0xFFFFFFFFu)
      return Fail(kCommand, kExitUsage, m.path + ": larger than 4 GiB - 1 bytes, the format's limit");
  }
  return kExitOk;
}

// Reads the result as the updater will: the resource found in the file, the
// archive opened from it, every member decoded and compared with its file.
bool ReadBack(const std::vector<uint8_t>& exe, const std::vector<BuildMember>& members,
              const std::vector<FolderMember>& files, std::string* error) {
  size_t offset = 0, length = 0;
  if (!FindUpdateResource(exe.data(), exe.size(), &offset, &length, error)) return false;
  const uint8_t* image = exe.data() + offset;
  OpenReport report;
  std::unique_ptr<UpdateArchive> archive = OpenUpdateArchive(ArchiveSource{image, uint32_t(length)}, &report);
  if (!archive) {
    *error = platform::Cp932ToUtf8(DescribeOpenReport(report));
    return false;
  }
  if (archive->entryCount() != members.size()) {
    *error = "the archive holds " + std::to_string(archive->entryCount()) + " members, not " +
             std::to_string(members.size());
    return false;
  }
  for (uint32_t i = 0; i < archive->entryCount(); ++i) {
    const BuildMember& m = members[i];
    DecodeError decode = DecodeError::None;
    MemoryBlock bytes = ReadArchiveMember(*archive, image, length, i, &decode);
    const ArchiveEntry e = archive->entry(i);
    if (!bytes.ok() || bytes.size() != m.data.size() || std::strncmp(e.name, m.name.c_str(), kArchiveNameField) != 0 ||
        e.fileTime != m.fileTime || (bytes.size() && std::memcmp(bytes.data(), m.data.data(), bytes.size()) != 0)) {
      *error = "member " + files[i].shown + " does not read back as its file";
      return false;
    }
  }
  return true;
}

}  // namespace

int RunBuild(const std::vector<std::string>& args) {
  std::string dir, outPath, stubPath;
  BuildOptions options;
  bool force = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--fast") {
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
  if (int rc = CollectMembers(dir, &members)) return rc;
  std::vector<BuildMember> toBuild;
  toBuild.reserve(members.size());
  for (FolderMember& m : members) toBuild.push_back(std::move(m.member));
  std::vector<uint8_t> archive;
  BuildReport report;
  if (!BuildArchive(toBuild, options, &archive, &report)) {
    if (report.error == BuildError::ArchiveTooLarge)
      return Fail(kCommand, kExitUsage, "the archive would take " + std::to_string(report.size) +
                                            " bytes, more than the format's 4 GiB - 1");
    return Fail(kCommand, kExitUsage, members[report.member].path + ": " + DescribeBuildError(report.error));
  }

  std::vector<uint8_t> exe;
  pe::WriteNotes notes;
  if (!pe::SetNamedTypeResource(stub, kUpdateResourceType, kUpdateResourceId, kUpdateResourceLanguage,
                                archive, &exe, &notes, &error))
    return Fail(kCommand, kExitUsage, "the stub " + (stubPath.empty() ? std::string("carried") : stubPath) +
                                          " cannot take the archive: " + error);
  if (notes.droppedCertificate)
    std::fprintf(stderr, "qa2 build: the stub's signature was dropped; sign %s again\n", outPath.c_str());
  if (!ReadBack(exe, toBuild, members, &error))
    return Fail(kCommand, kExitBadArchive, "the result does not read back, nothing written: " + error);
  if (!WriteFileBytes(outPath, exe, &error)) return Fail(kCommand, kExitIo, error);
  std::printf("%s: %zu bytes, %zu members, archive %zu bytes\n", outPath.c_str(), exe.size(), members.size(),
              archive.size());
  return kExitOk;
}

}  // namespace qa2
