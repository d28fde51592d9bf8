#include "platform/overlay/preview_platform.h"

#include <chrono>
#include <cstring>

#include "platform/codepage.h"
#include "platform/ini_text.h"
#include "platform/overlay/local_files.h"

namespace platform {
namespace {

constexpr int kInfoText = 1001;
constexpr int kNext = 1;
constexpr int kAbort = 2;
constexpr uintptr_t kDialogWindow = 0x101;

uint64_t NowAsFileTime() {
  using namespace std::chrono;
  int64_t ticks = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count() * 10;
  return uint64_t(ticks + 116444736000000000LL);
}


class PreviewKey : public RegistryKey {
 public:
  explicit PreviewKey(std::map<std::string, std::vector<uint8_t>> values) : values_(std::move(values)) {}
  long QueryValue(const char* name, void* data, uint32_t* size) override {
    auto it = values_.find(name);
    if (it == values_.end()) return 2;  // ERROR_FILE_NOT_FOUND
    uint32_t room = *size;
    *size = uint32_t(it->second.size());
    if (it->second.size() > room) return 234;  // ERROR_MORE_DATA
    std::memcpy(data, it->second.data(), it->second.size());
    return 0;
  }

 private:
  std::map<std::string, std::vector<uint8_t>> values_;
};

std::vector<uint8_t> StringValue(const std::string& s) {
  std::vector<uint8_t> v(s.begin(), s.end());
  v.push_back(0);
  return v;
}

uint32_t CopyOut(const char* text, size_t length, char* buffer, uint32_t size) {
  if (size == 0) return 0;
  if (length > size - 1) length = size - 1;
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  return uint32_t(length);
}

}  // namespace

PreviewPlatform::PreviewPlatform(PreviewSettings settings) : settings_(std::move(settings)) {
  files_.SetNow(NowAsFileTime());
  files_.AddVirtualFolder(kPreviewTempFolder);
  for (const auto& drive : settings_.cdroms)
    files_.Mount(std::string(1, drive.first) + ":", drive.second);
}

char PreviewPlatform::InstDrive() const {
  const std::string& p = settings_.instPath;
  return p.size() >= 2 && p[1] == ':' ? char(p[0] & ~0x20) : 0;
}

char PreviewPlatform::DataDrive() const {
  const std::string& p = settings_.dataPath;
  return p.size() >= 2 && p[1] == ':' ? char(p[0] & ~0x20) : 0;
}

std::unique_ptr<RegistryKey> PreviewPlatform::OpenUserKey(const char* subkey) {
  registryKey_ = subkey;
  // "Software\<CompanyName>\<GameDir>": the defaults name the game's folder.
  size_t cut = 0;
  for (size_t i = 0; subkey[i] != '\0'; ++i) {
    if (IsLeadByte(uint8_t(subkey[i])) && subkey[i + 1] != '\0') ++i;
    else if (subkey[i] == '\\') cut = i + 1;
  }
  const std::string gameDir = subkey + cut;
  if (settings_.instPath.empty()) settings_.instPath = "C:\\Games\\" + gameDir;
  if (settings_.dataPath.empty())
    settings_.dataPath = settings_.dataFolder.empty() ? settings_.instPath : "C:\\Save\\" + gameDir;
  files_.Mount(settings_.instPath, settings_.installFolder);
  if (!settings_.dataFolder.empty()) files_.Mount(settings_.dataPath, settings_.dataFolder);
  freeBefore_ = settings_.freeGiven ? settings_.freeBytes : local::FreeSpace(settings_.installFolder);
  dataFreeBefore_ = local::FreeSpace(settings_.dataFolder.empty() ? settings_.installFolder
                                                                  : settings_.dataFolder);
  if (onInstallationKnown) onInstallationKnown(*this);
  std::map<std::string, std::vector<uint8_t>> values;
  values["InstPath"] = StringValue(settings_.instPath);
  values["DataPath"] = StringValue(settings_.dataPath);
  uint32_t mode = uint32_t(settings_.instMode);
  values["InstMode"] = {uint8_t(mode), uint8_t(mode >> 8), uint8_t(mode >> 16), uint8_t(mode >> 24)};
  return std::make_unique<PreviewKey>(std::move(values));
}

FreeSpaceQuery PreviewPlatform::DiskFreeSpaceEx(const char* root, uint64_t* freeToCaller,
                                                uint64_t* totalBytes, uint64_t* totalFree) {
  char letter = root && root[0] && root[1] == ':' ? char(root[0] & ~0x20) : 0;
  uint64_t base;
  // Before the installation is known only the temporary folder is written,
  // on a drive the preview knows nothing about.
  if (registryKey_.empty()) return FreeSpaceQuery::Failed;
  if (letter != 0 && letter == InstDrive()) base = freeBefore_;
  else if (letter != 0 && letter == DataDrive()) base = dataFreeBefore_;
  else return FreeSpaceQuery::Failed;
  int64_t growth = files_.Growth(letter);
  uint64_t now = growth > 0 && uint64_t(growth) > base ? 0 : uint64_t(int64_t(base) - growth);
  *freeToCaller = now;
  *totalFree = now;
  *totalBytes = now;
  return FreeSpaceQuery::Ok;
}

uint32_t PreviewPlatform::DriveType(const char* root) {
  char letter = root && root[0] ? char(root[0] & ~0x20) : 0;
  if (settings_.cdroms.count(letter)) return kDriveCdRom;
  if (letter != 0 && (letter == InstDrive() || letter == DataDrive() || letter == 'C'))
    return 3;  // DRIVE_FIXED
  return 1;    // DRIVE_NO_ROOT_DIR
}

void PreviewPlatform::GetTempFolder(char out[260]) {
  std::snprintf(out, 260, "%s", kPreviewTempFolder);
}

ShellCopyResult PreviewPlatform::ShellCopy(Window, const char* from, const char* to, uint32_t) {
  return ShellCopyResult{files_.Copy(from, to), false};
}

uint32_t PreviewPlatform::ReadProfileString(const char* section, const char* key,
                                            const char* fallback, char* buffer, uint32_t size,
                                            const char* path) {
  std::string content;
  IniEntry entry;
  const bool found = section && key && files_.ReadWhole(path, &content) &&
                     IniText(std::move(content)).Find(section, key, &entry);
  if (section && key) lastProfileRead_ = ProfileRead{path, section, key, found, found ? entry.value : ""};
  if (found) return CopyOut(entry.value.data(), entry.value.size(), buffer, size);
  if (!fallback) fallback = "";
  size_t length = std::strlen(fallback);
  while (length > 0 && fallback[length - 1] == ' ') --length;
  return CopyOut(fallback, length, buffer, size);
}

bool PreviewPlatform::FindOwnResource(const char*, int, const uint8_t** data, uint32_t* size) {
  // A resource holds at most 4 GiB - 1 bytes.
  if (settings_.archiveSize == 0 || settings_.archiveSize > UINT32_MAX) return false;
  *data = settings_.archive;
  *size = uint32_t(settings_.archiveSize);
  return true;
}

int PreviewPlatform::MessageBox(Window, const char* text, const char* caption, uint32_t style) {
  // What follows the end of a wait is the preview's, not the player's.
  if (!waiting_.empty()) return kAnswerOk;
  texts_.push_back(PreviewText{PreviewText::Box, text, caption, style});
  // The only question the run can meet here is the disc prompt (no game
  // window is ever found): OK would ask again forever.
  if ((style & 0x0F) == kBoxOkCancel) {
    waiting_ = "disc";
    return kAnswerCancel;
  }
  return kAnswerOk;
}

void PreviewPlatform::SetDlgItemText(Window, int id, const char* text) {
  if (id == kInfoText && text[0] != '\0' && waiting_.empty())
    texts_.push_back(PreviewText{PreviewText::Page, text, std::string(), 0});
}

void PreviewPlatform::EnableDlgItem(Window, int id, bool enable) { enabled_[id] = enable; }

void PreviewPlatform::EndDialog(Window, intptr_t code) {
  if (ended_) return;
  ended_ = true;
  endCode_ = code;
}

intptr_t PreviewPlatform::RunDialog(int, DialogHandler& handler) {
  Window dialog = reinterpret_cast<Window>(kDialogWindow);
  ended_ = false;
  enabled_.clear();
  handler.OnInit(dialog);
  // 次へ, 次へ, then 完了: the same button three times.
  for (int press = 0; press < 3 && !ended_; ++press) {
    if (!enabled_[kNext]) {
      // The disk-space page: only Back or Abort lead on.
      waiting_ = "space";
      handler.OnCommand(dialog, kAbort);
      break;
    }
    handler.OnCommand(dialog, kNext);
  }
  return ended_ ? endCode_ : -1;
}

}  // namespace platform
