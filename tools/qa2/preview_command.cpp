// qa2 preview's command line: the input, the installation it is run against.
#include <cstdio>
#include <filesystem>

#include "platform/tool_support.h"
#include "tools/pe/pe_image.h"
#include "tools/qa2/cli.h"
#include "tools/qa2/exe_input.h"
#include "tools/qa2/patch_plan.h"
#include "tools/qa2/preview.h"

namespace qa2 {
namespace {

namespace fs = std::filesystem;
constexpr const char* kCommand = "preview";

bool ParseBytes(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 19) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + uint64_t(c - '0');
  }
  *value = v;
  return true;
}

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(fs::u8path(path), ec);
}

}  // namespace

int RunPreviewCommand(const std::vector<std::string>& args) {
  std::string input;
  PreviewOptions options;
  PatchPlanOptions patches;
  bool json = false, fast = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--json") {
      json = true;
    } else if (a == "--fast") {
      fast = true;
    } else if (a == "--gate") {
      patches.gate = true;
    } else if (a == "--base" || a == "--keep-whole") {
      if (!value(&v)) return Fail(kCommand, kExitUsage, a + " needs a value");
      if (a == "--base") {
        if (!IsFolder(v)) return Fail(kCommand, kExitIo, "--base " + v + " is not a folder");
        patches.bases.push_back(v);
      } else {
        std::string name;
        if (!platform::Utf8ToCp932(v, &name)) return Fail(kCommand, kExitUsage, "--keep-whole " + v + ": no code page 932 form");
        patches.keepWhole.push_back(name);
      }
    } else if (a == "--install" || a == "--inst-path" || a == "--data" || a == "--data-path") {
      if (!value(&v)) return Fail(kCommand, kExitUsage, a + " needs a value");
      (a == "--install" ? options.install : a == "--inst-path" ? options.instPath
                                          : a == "--data"      ? options.data
                                                               : options.dataPath) = v;
    } else if (a == "--mode") {
      uint32_t mode = 0;
      if (!value(&v) || !ParseSize(v, &mode) || mode > 0x7FFFFFFF)
        return Fail(kCommand, kExitUsage, "--mode needs an install mode (0, 1, ...)");
      options.mode = int32_t(mode);
    } else if (a == "--free") {
      uint64_t bytes = 0;
      if (!value(&v) || !ParseBytes(v, &bytes)) return Fail(kCommand, kExitUsage, "--free needs a number of bytes");
      options.freeBytes = bytes;
    } else if (a == "--cdrom") {
      if (!value(&v) || v.size() < 4 || v[1] != ':' || v[2] != '=' ||
          !((v[0] >= 'A' && v[0] <= 'Z') || (v[0] >= 'a' && v[0] <= 'z')))
        return Fail(kCommand, kExitUsage, "--cdrom needs L:=DIR, a drive letter and a folder");
      if (!IsFolder(v.substr(3))) return Fail(kCommand, kExitIo, v.substr(3) + " is not a folder");
      options.cdroms[char(v[0] & ~0x20)] = v.substr(3);
    } else if (a.size() > 1 && a[0] == '-') {
      return Fail(kCommand, kExitUsage, "unknown option " + a + " (see qa2 preview --help)");
    } else if (input.empty()) {
      input = a;
    } else {
      return Fail(kCommand, kExitUsage, "unexpected argument " + a);
    }
  }
  if (input.empty() || options.install.empty())
    return Fail(kCommand, kExitUsage, "expects UPDATE.EXE|UPDATE_DIR --install DIR (see qa2 preview --help)");
  if (!options.dataPath.empty() && options.data.empty())
    return Fail(kCommand, kExitUsage, "--data-path needs --data, the folder it stands for");
  std::string cp932;
  for (const std::string* path : {&options.instPath, &options.dataPath})
    if (!path->empty() && (!platform::Utf8ToCp932(*path, &cp932) || cp932.size() < 2 || cp932[1] != ':'))
      return Fail(kCommand, kExitUsage, *path + " is no Windows path with a drive letter in code page 932");
  if (!IsFolder(options.install)) return Fail(kCommand, kExitIo, options.install + " is not a folder");
  // A data folder that does not exist is previewed as such: the updater
  // finds nothing there and cannot write below it.
  if (!options.data.empty() && !IsFolder(options.data))
    std::fprintf(stderr, "qa2 preview: %s does not exist; previewed as a DataPath with no folder\n",
                 options.data.c_str());

  // The report names local files by absolute paths.
  auto absolute = [](std::string* path) {
    std::error_code ec;
    if (!path->empty()) *path = fs::absolute(fs::u8path(*path), ec).lexically_normal().u8string();
  };
  absolute(&options.install);
  absolute(&options.data);
  for (auto& d : options.cdroms) absolute(&d.second);

  // Both inputs are mapped, not read: a member of gigabytes costs no memory
  // of the process's own.
  FolderArchive folder;
  platform::MappedFile file;
  const uint8_t* archive = nullptr;
  size_t size = 0;
  std::string error;
  if (!IsFolder(input) && (!patches.bases.empty() || patches.gate || fast || !patches.keepWhole.empty()))
    return Fail(kCommand, kExitUsage, "--base, --gate, --keep-whole and --fast go with an update folder, as for qa2 build");
  if (patches.bases.empty() && (patches.gate || !patches.keepWhole.empty()))
    return Fail(kCommand, kExitUsage, "--gate and --keep-whole go with --base");
  if (IsFolder(input)) {
    if (int rc = folder.Build(kCommand, input, patches, fast)) return rc;
    archive = folder.data();
    size = folder.size();
  } else {
    if (!file.Open(input, &error)) return Fail(kCommand, kExitIo, "cannot read " + input + ": " + error);
    archive = file.data();
    size = size_t(file.size());
    if (pe::LooksLikePe(archive, size)) {
      size_t offset = 0, length = 0;
      pe::PeImage image;
      std::string why;
      if (!pe::ParsePe(archive, size, &image, &why))
        return Fail(kCommand, kExitBadArchive, input + ": a PE file that cannot be read: " + why);
      // An updater without its archive is previewed as it runs: it says so.
      if (FindUpdateResource(archive, size, &offset, &length, &error)) {
        archive += offset;
        size = length;
      } else {
        size = 0;
      }
    }
  }

  const PreviewReport report = RunPreview(options, archive, size);
  if (!report.inputError.empty()) return Fail(kCommand, kExitIo, report.inputError + ", so nothing is predicted");
  const std::string out = json ? FormatPreviewJson(report) : FormatPreviewText(report);
  std::fwrite(out.data(), 1, out.size(), stdout);
  return kExitOk;
}

}  // namespace qa2
