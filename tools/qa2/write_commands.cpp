// The commands that write archives and streams: pack, compress.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/builder.h"
#include "archive/encoder.h"
#include "platform/tool_support.h"
#include "tools/qa2/cli.h"

namespace qa2 {
namespace {

// Below this much input a run is over before progress would be worth showing.
constexpr uint64_t kProgressThreshold = uint64_t(8) << 20;

using platform::Utf8ToCp932;
// More threads than this would only add memory: each holds a member's work.
constexpr uint32_t kMaxJobs = 64;

// The system's own idea of the last component: on Windows after '\\' too.
std::string BaseName(const std::string& path) {
  return std::filesystem::u8path(path).filename().u8string();
}

// Shows "qa2 pack: 42%" on a terminal; stays silent when stderr is a file
// or a pipe, so that logs hold only what went wrong.
class Progress {
 public:
  Progress(const char* command, uint64_t total)
      : command_(command), active_(total >= kProgressThreshold && isatty(2)) {}
  ~Progress() {
    if (shown_ >= 0) std::fprintf(stderr, "\n");
  }
  void Show(uint64_t done, uint64_t total) {
    if (!active_ || total == 0) return;
    int percent = int(done * 100 / total);
    if (percent == shown_) return;
    shown_ = percent;
    std::fprintf(stderr, "\rqa2 %s: %3d%%", command_, percent);
    std::fflush(stderr);
  }

 private:
  const char* command_;
  bool active_;
  int shown_ = -1;
};

}  // namespace

int RunPack(const std::vector<std::string>& args) {
  std::string out;
  std::vector<std::string> files, storeNames;
  CompressionMode mode = CompressionMode::Optimal;
  unsigned jobs = 0;
  bool options = true;
  for (size_t i = 0; i < args.size(); ++i) {
    if (options && args[i] == "--store") {
      if (i + 1 >= args.size()) return Fail("pack", kExitUsage, "--store needs a member name");
      storeNames.push_back(args[++i]);
    } else if (options && args[i] == "--fast") {
      mode = CompressionMode::Fast;
    } else if (options && args[i] == "-j") {
      uint32_t n = 0;
      if (i + 1 >= args.size() || !ParseSize(args[i + 1], &n) || n == 0 || n > kMaxJobs)
        return Fail("pack", kExitUsage, "-j needs a number of jobs from 1 to " + std::to_string(kMaxJobs));
      jobs = n;
      ++i;
    } else if (options && args[i] == "--") {
      options = false;
    } else if (options && args[i].size() > 1 && args[i][0] == '-') {
      return Fail("pack", kExitUsage, "unknown option " + args[i] + " (see qa2 pack --help)");
    } else if (out.empty()) {
      out = args[i];
    } else {
      files.push_back(args[i]);
    }
  }
  if (out.empty() || files.empty())
    return Fail("pack", kExitUsage, "expects OUT FILE... (see qa2 pack --help)");

  // Every name is checked before any file is read: a bad list fails at once.
  std::vector<BuildMember> members(files.size());
  std::vector<std::string> shownNames(files.size());
  uint64_t total = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string& path = files[i];
    shownNames[i] = BaseName(path);
    if (!Utf8ToCp932(shownNames[i], &members[i].name))
      return Fail("pack", kExitUsage, path + ": name '" + shownNames[i] + "' has no code page 932 form");
    BuildError nameError = CheckMemberName(members[i].name);
    if (nameError != BuildError::None)
      return Fail("pack", kExitUsage, path + ": member name '" + shownNames[i] + "': " + DescribeBuildError(nameError));
    for (size_t j = 0; j < i; ++j)
      if (SameMemberName(members[j].name, members[i].name))
        return Fail("pack", kExitUsage, path + ": member name '" + shownNames[i] + "' is already taken by " +
                                            files[j] + " (names are compared without regard to case)");
    std::error_code ec;
    const std::filesystem::path fsPath = std::filesystem::u8path(path);
    std::filesystem::file_status status = std::filesystem::status(fsPath, ec);
    if (ec || !platform::FileTimeOfPath(path, &members[i].fileTime))
      return Fail("pack", kExitIo, "cannot read " + path + (ec ? ": " + ec.message() : ""));
    if (!std::filesystem::is_regular_file(status)) return Fail("pack", kExitIo, path + " is not a file");
    const uint64_t size = std::filesystem::file_size(fsPath, ec);
    if (ec) return Fail("pack", kExitIo, "cannot read " + path + ": " + ec.message());
    if (size > 0xFFFFFFFFu)
      return Fail("pack", kExitUsage, path + ": larger than 4 GiB - 1 bytes, the format's limit");
    total += size;
  }
  for (const std::string& name : storeNames) {
    std::string cp932;
    bool found = false;
    if (Utf8ToCp932(name, &cp932))
      for (BuildMember& m : members)
        if (SameMemberName(m.name, cp932)) m.store = found = true;
    if (!found) return Fail("pack", kExitUsage, "--store " + name + ": no such member");
  }
  for (size_t i = 0; i < files.size(); ++i) {
    std::string error;
    if (!ReadFileBytes(files[i], &members[i].data, &error)) return Fail("pack", kExitIo, error);
    if (members[i].data.size() > 0xFFFFFFFFu)
      return Fail("pack", kExitUsage, files[i] + ": larger than 4 GiB - 1 bytes, the format's limit");
  }

  BuildOptions build;
  build.mode = mode;
  build.jobs = jobs;
  Progress progress("pack", total);
  build.progress = [&](uint64_t done, uint64_t all) { progress.Show(done, all); };
  std::vector<uint8_t> image;
  BuildReport report;
  if (!BuildArchive(members, build, &image, &report)) {
    if (report.error == BuildError::ArchiveTooLarge)
      return Fail("pack", kExitUsage, out + ": the archive would take " + std::to_string(report.size) +
                                          " bytes, more than the format's 4 GiB - 1");
    return Fail("pack", kExitUsage, files[report.member] + ": " + DescribeBuildError(report.error));
  }
  std::string error;
  if (!WriteFileBytes(out, image, &error)) return Fail("pack", kExitIo, error);
  return kExitOk;
}

int RunCompress(const std::vector<std::string>& args) {
  std::string in, out;
  CompressionMode mode = CompressionMode::Optimal;
  for (const std::string& a : args) {
    if (a == "--fast") {
      mode = CompressionMode::Fast;
    } else if (a.size() > 1 && a[0] == '-') {
      return Fail("compress", kExitUsage, "unknown option " + a + " (see qa2 compress --help)");
    } else if (in.empty()) {
      in = a;
    } else if (out.empty()) {
      out = a;
    } else {
      return Fail("compress", kExitUsage, "unexpected argument " + a);
    }
  }
  if (in.empty() || out.empty())
    return Fail("compress", kExitUsage, "expects IN OUT [--fast] (see qa2 compress --help)");
  std::vector<uint8_t> data;
  std::string error;
  if (!ReadFileBytes(in, &data, &error)) return Fail("compress", kExitIo, error);
  Progress progress("compress", data.size());
  CompressedStream stream;
  if (!CompressArchiveStream(data.data(), data.size(), mode, &stream,
                             [&](size_t done) { progress.Show(done, data.size()); }))
    return Fail("compress", kExitUsage, in + ": larger than the compressor takes (4 GiB)");
  if (!WriteFileBytes(out, stream.bytes, &error)) return Fail("compress", kExitIo, error);
  return kExitOk;
}

}  // namespace qa2
