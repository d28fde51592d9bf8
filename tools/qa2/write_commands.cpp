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
#include "archive/stream_compressor.h"
#include "tools/qa2/member_files.h"
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
  std::vector<uint64_t> sizes(files.size());
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
    sizes[i] = size;
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
  std::vector<MemberSpec> specs(members.size());
  for (size_t i = 0; i < members.size(); ++i)
    specs[i] = MemberSpec{members[i].name, sizes[i], members[i].fileTime, members[i].store};

  BuildOptions build;
  build.mode = mode;
  build.jobs = jobs;
  Progress progress("pack", total);
  build.progress = [&](uint64_t done, uint64_t all) { progress.Show(done, all); };
  std::string error;
  SpoolFile spool(out, "spool");
  if (!spool.Open(&error)) return Fail("pack", kExitIo, error);
  ArchiveBuilder builder;
  BuildReport report;
  OpenMember open = [&](size_t i, std::string* why) { return OpenMemberFile(files[i], why); };
  if (!builder.Prepare(specs, open, &spool, build, &report))
    return ReportBuildFailure("pack", report, files, error);
  OutputFile output(out);
  if (!output.ok()) return Fail("pack", kExitIo, "cannot create " + out + ": " + LastCause());
  if (!builder.Write([&](const uint8_t* data, size_t size) { return output.Write(data, size, &error); },
                     &report))
    return ReportBuildFailure("pack", report, files, error);
  if (!output.Commit(&error)) return Fail("pack", kExitIo, error);
  return kExitOk;
}

int RunCompress(const std::vector<std::string>& args) {
  std::string in, out;
  CompressionMode mode = CompressionMode::Optimal;
  unsigned jobs = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--fast") {
      mode = CompressionMode::Fast;
    } else if (a == "-j") {
      uint32_t n = 0;
      if (i + 1 >= args.size() || !ParseSize(args[i + 1], &n) || n == 0 || n > kMaxJobs)
        return Fail("compress", kExitUsage, "-j needs a number of jobs from 1 to " + std::to_string(kMaxJobs));
      jobs = n;
      ++i;
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
    return Fail("compress", kExitUsage, "expects IN OUT [--fast] [-j N] (see qa2 compress --help)");
  std::string error;
  std::unique_ptr<MemberReader> reader = OpenMemberFile(in, &error);
  if (!reader) return Fail("compress", kExitIo, error);
  std::error_code ec;
  const uint64_t total = std::filesystem::file_size(std::filesystem::u8path(in), ec);
  if (ec) return Fail("compress", kExitIo, "cannot read " + in + ": " + ec.message());
  if (total > kMaxCompressInput)
    return Fail("compress", kExitUsage, in + ": larger than the compressor takes (4 GiB - 16 bytes)");
  OutputFile output(out);
  if (!output.ok()) return Fail("compress", kExitIo, "cannot create " + out + ": " + LastCause());
  Progress progress("compress", total);
  StreamCompressor compressor(mode, jobs,
                              [&](const uint8_t* data, size_t size) { return output.Write(data, size, &error); });
  std::vector<uint8_t> buffer(size_t(1) << 20);
  for (;;) {
    size_t got = 0;
    if (!reader->Read(buffer.data(), buffer.size(), &got, &error)) return Fail("compress", kExitIo, error);
    if (got == 0) break;
    if (!compressor.Write(buffer.data(), got)) break;
    progress.Show(compressor.inputBytes(), total);
  }
  if (compressor.error() == CompressError::None) compressor.Finish();
  switch (compressor.error()) {
    case CompressError::None:
      break;
    case CompressError::TooLarge:
      return Fail("compress", kExitUsage, in + ": larger than the compressor takes (4 GiB - 16 bytes)");
    case CompressError::SinkFailed:
      return Fail("compress", kExitIo, error);
    case CompressError::OutOfMemory:
      return Fail("compress", kExitInternal, "out of memory while compressing " + in);
  }
  if (!output.Commit(&error)) return Fail("compress", kExitIo, error);
  return kExitOk;
}

}  // namespace qa2
