// An update folder as preview's input: the archive `qa2 build` would make of
// it, read through the same folder listing and member files as the build.
#include <filesystem>
#include <system_error>

#include "archive/builder.h"
#include "tools/qa2/cli.h"
#include "tools/qa2/member_files.h"
#include "tools/qa2/patch_plan.h"
#include "tools/qa2/preview.h"

namespace qa2 {

namespace fs = std::filesystem;

int FolderArchive::Build(const char* command, const std::string& dir, const PatchPlanOptions& patches,
                         bool fast) {
  // Not beside the folder: a preview writes nothing there.
  std::error_code ec;
  const fs::path temp = fs::temp_directory_path(ec);
  if (ec) return Fail(command, kExitIo, "no temporary folder: " + ec.message());
  const std::string near = (temp / "qa2-preview").u8string();
  std::string error;
  SpoolFile spool(near, "spool");  // stored members never reach it
  if (!spool.Open(&error)) return Fail(command, kExitIo, error);
  ArchiveBuilder builder;
  BuildReport report;
  BuildOptions options;
  std::vector<FolderMember> members;
  std::vector<std::string> paths;
  std::vector<std::unique_ptr<SpoolFile>> scratch;
  // Which patches the build keeps depends on the compressed sizes: with
  // bases the members are compressed as the build compresses them; without,
  // they are kept stored, which is quicker and changes no outcome.
  options.mode = patches.bases.empty() || fast ? CompressionMode::Fast : CompressionMode::Optimal;
  if (int rc = PrepareFolder(command, dir, near, patches, options, true, patches.bases.empty(), &spool, &builder,
                             &members, &scratch, nullptr))
    return rc;
  for (const FolderMember& m : members) paths.push_back(m.path);
  if (!file_.Create(near, "archive", &error)) return Fail(command, kExitIo, error);
  uint64_t at = 0;
  auto put = [&](const uint8_t* data, size_t size) {
    if (!file_.WriteAt(at, data, size)) {
      error = "cannot write " + file_.path() + ": " + LastCause();
      return false;
    }
    at += size;
    return true;
  };
  if (!builder.Write(put, &report)) return ReportBuildFailure(command, report, paths, error);
  if (!map_.Open(file_.path(), &error)) return Fail(command, kExitIo, "cannot read back " + file_.path() + ": " + error);
  return kExitOk;
}

}  // namespace qa2
