#include "platform/overlay/overlay_files.h"

#include <new>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/codepage.h"
#include "platform/name_fold.h"
#include "platform/overlay/local_files.h"
#include "platform/tool_support.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kAttrArchive = 0x20;
constexpr int kErrorFileNotFound = 2;
constexpr int kErrorAccessDenied = 5;
constexpr int kErrorDestinationSubtree = 0x76;  // DE_DESTSUBTREE

char Upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

std::string UpperName(const std::string& name) {
  std::string out = name;
  for (size_t i = 0; i < out.size(); ++i) {
    if (IsLeadByte(uint8_t(out[i])) && i + 1 < out.size()) {
      const uint16_t code = FoldNameCode(uint16_t(uint8_t(out[i]) << 8 | uint8_t(out[i + 1])));
      out[i] = char(code >> 8);
      out[i + 1] = char(code & 0xFF);
      ++i;
      continue;
    }
    out[i] = Upper(out[i]);
  }
  return out;
}

bool StartsWithFolder(const std::string& key, const std::string& folder) {
  return key.size() > folder.size() && key.compare(0, folder.size(), folder) == 0 &&
         key[folder.size()] == '\\';
}

// Reads from memory, or zeros of the recorded size for a large written file
// whose bytes were not kept.
class MemoryReader : public ReadableFile {
 public:
  MemoryReader(const std::string* content, uint64_t size, uint64_t time)
      : content_(content), size_(size), time_(time) {}
  bool Read(void* buffer, uint32_t size, uint32_t* got) override {
    uint64_t n = std::min<uint64_t>(size, size_ - std::min(pos_, size_));
    if (content_) std::memcpy(buffer, content_->data() + pos_, size_t(n));
    else std::memset(buffer, 0, size_t(n));
    pos_ += n;
    *got = uint32_t(n);
    return true;
  }
  bool Seek(uint64_t offset) override {
    pos_ = offset;
    return true;
  }
  bool Size(uint64_t* size) override {
    *size = size_;
    return true;
  }
  bool LastWriteTime(uint64_t* time) override {
    *time = time_;
    return true;
  }

 private:
  const std::string* content_;
  uint64_t size_, time_, pos_ = 0;
};

}  // namespace

class OverlayReplacement : public ReplacementFile {
 public:
  OverlayReplacement(OverlayFiles* files, std::string path) : files_(files), path_(std::move(path)) {}
  bool Write(const void* data, uint32_t size) override {
    if (size > UINT32_MAX - size_) return false;
    size_ += size;
    if (kept_ && size_ <= OverlayFiles::kKeptContent) {
      content_.append(static_cast<const char*>(data), size);
    } else {
      kept_ = false;
      std::string().swap(content_);
    }
    return true;
  }
  bool Commit(const uint64_t* time) override {
    files_->Commit(path_, size_, time, std::move(content_), kept_);
    return true;
  }

 private:
  OverlayFiles* files_;
  std::string path_;
  uint64_t size_ = 0;
  bool kept_ = true;
  std::string content_;
};

std::vector<std::string> OverlayFiles::Split(const std::string& path) {
  // Windows' normalisation: "." and ".." are relative components; a single
  // period ending a folder's name goes, and every period and space ending
  // the last name (unless the path ends with a separator); a name of three
  // or more periods stays.
  std::vector<std::string> parts;
  std::string part;
  auto flush = [&](bool last) {
    if (part == "..") {
      if (parts.size() > 1) parts.pop_back();
    } else if (part != ".") {
      if (last) {
        while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
      } else if (part.size() >= 2 && part.back() == '.' && part[part.size() - 2] != '.') {
        part.pop_back();
      }
      if (!part.empty()) parts.push_back(part);
    }
    part.clear();
  };
  for (size_t i = 0; i < path.size(); ++i) {
    char c = path[i];
    if (IsLeadByte(uint8_t(c)) && i + 1 < path.size()) {
      part += c;
      part += path[++i];
    } else if (c == '\\' || c == '/') {
      flush(false);
    } else {
      part += c;
    }
  }
  flush(true);
  return parts;
}

std::string OverlayFiles::Key(const std::string& path) {
  std::string key;
  for (const std::string& part : Split(path)) {
    if (!key.empty()) key += '\\';
    key += UpperName(part);
  }
  return key;
}

std::string OverlayFiles::Parent(const std::string& path) {
  std::vector<std::string> parts = Split(path);
  std::string out;
  for (size_t i = 0; i + 1 < parts.size(); ++i) out += (i ? "\\" : "") + parts[i];
  return out;
}

std::string OverlayFiles::LastName(const std::string& path) {
  std::vector<std::string> parts = Split(path);
  return parts.empty() ? std::string() : parts.back();
}

void OverlayFiles::Mount(const std::string& root, const std::string& localFolder) {
  mounts_.push_back({Key(root), localFolder});
  std::sort(mounts_.begin(), mounts_.end(),
            [](const Mounted& a, const Mounted& b) { return a.key.size() > b.key.size(); });
}

void OverlayFiles::AddVirtualFolder(const std::string& path) {
  std::string key;
  for (const std::string& part : Split(path)) {
    key += (key.empty() ? "" : "\\") + part;
    Node& node = nodes_[Key(key)];
    node.entry = Entry{true, true, kAttrDirectory, 0, now_};
    node.name = part;
  }
}

const OverlayFiles::Mounted* OverlayFiles::MountOf(const std::string& key) const {
  for (const Mounted& m : mounts_)
    if (key == m.key || StartsWithFolder(key, m.key)) return &m;
  return nullptr;
}

bool OverlayFiles::RealLocal(const std::string& path, std::string* local) {
  const std::string key = Key(path);
  const Mounted* mount = MountOf(key);
  if (!mount) return false;
  std::vector<std::string> parts = Split(path);
  size_t skip = Split(mount->key).size();
  std::string current = mount->local;
  for (size_t i = skip; i < parts.size(); ++i) {
    const auto& listing = Listing(current);
    const std::string want = UpperName(parts[i]);
    auto found = std::find_if(listing.begin(), listing.end(),
                              [&](const std::pair<std::string, std::string>& e) { return e.first == want; });
    if (found == listing.end()) return false;
    current = found->second;
  }
  *local = current;
  return true;
}

const std::vector<std::pair<std::string, std::string>>& OverlayFiles::Listing(
    const std::string& local) {
  auto it = listings_.find(local);
  if (it != listings_.end()) return it->second;
  std::vector<std::pair<std::string, std::string>> entries;
  std::vector<std::string> names;
  local::ListFolder(local, &names);
  std::sort(names.begin(), names.end());
  for (const std::string& utf8 : names) {
    std::string name;
    // A name without a code page 932 form is one the updater cannot name.
    if (!Utf8ToCp932(utf8, &name)) continue;
    const std::string key = UpperName(name);
    const std::string path = (fs::u8path(local) / fs::u8path(utf8)).u8string();
    auto same = std::find_if(entries.begin(), entries.end(),
                             [&](const std::pair<std::string, std::string>& e) { return e.first == key; });
    if (same != entries.end()) {
      // Windows sees one name; which file it would meet, nobody can say.
      if (inputError_.empty())
        inputError_ = same->second + " and " + path + " are one name to Windows (letter case aside)";
      continue;
    }
    entries.emplace_back(key, path);
  }
  return listings_.emplace(local, std::move(entries)).first->second;
}

OverlayFiles::Entry OverlayFiles::RealEntry(const std::string& path) {
  Entry entry;
  local::Stat stat;
  // A folder given on the command line may be reached through a link; what
  // lies in it is read only when it is a regular file or a folder.
  bool root = false;
  for (const Mounted& m : mounts_) root = root || m.local == path;
  if (!local::StatPath(path, &stat, root)) return entry;
  if (!stat.other.empty()) {
    if (inputError_.empty())
      inputError_ = path + " is " + stat.other + ": the preview reads only regular files and folders";
    return entry;
  }
  entry.exists = true;
  entry.folder = stat.folder;
  entry.size = stat.size;
  entry.time = stat.time;
  entry.attributes = stat.folder ? kAttrDirectory : kAttrArchive | (stat.readOnly ? kAttrReadOnly : 0);
  return entry;
}

namespace {

// Whether the path ends with a separator that is not a double-byte
// character's second byte: it then names a folder, never a file.
bool EndsWithSeparator(const std::string& path) {
  bool separator = false;
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsLeadByte(uint8_t(path[i])) && i + 1 < path.size()) {
      ++i;
      separator = false;
    } else {
      separator = path[i] == '\\' || path[i] == '/';
    }
  }
  return separator;
}

// Windows' reserved device names, in any folder and with any extension
// (NUL.DAT is NUL): they exist, and no file of theirs can be written.
bool IsDeviceName(const std::string& name) {
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = Upper(c);
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

}  // namespace

OverlayFiles::Entry OverlayFiles::Look(const std::string& path) {
  Entry found = LookName(path);
  if (found.exists && !found.folder && EndsWithSeparator(path)) return Entry{};
  return found;
}

OverlayFiles::Entry OverlayFiles::LookName(const std::string& path) {
  if (IsDeviceName(LastName(path))) return Entry{true, false, kAttrArchive, 0, 0};
  const std::string key = Key(path);
  auto it = nodes_.find(key);
  if (it != nodes_.end()) return it->second.entry;
  std::string local;
  if (RealLocal(path, &local)) return RealEntry(local);
  // The folders above a root exist, as they do on the machine it stands for.
  for (const Mounted& m : mounts_)
    if (!key.empty() && StartsWithFolder(m.key, key)) return Entry{true, true, kAttrDirectory, 0, 0};
  return Entry{};
}

std::string OverlayFiles::FoundName(const std::string& path) {
  const std::string last = LastName(path);
  if (IsDeviceName(last)) {
    // A device answers by its own name, as written.
    std::string base = last.substr(0, last.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    return base;
  }
  const std::string local = LocalPath(path);
  std::string name;
  if (!Utf8ToCp932(fs::u8path(local).filename().u8string(), &name)) return LastName(path);
  return name;
}

std::string OverlayFiles::LocalPath(const std::string& path) {
  const std::string key = Key(path);
  auto it = nodes_.find(key);
  if (it != nodes_.end()) return it->second.local;
  std::string local;
  if (RealLocal(path, &local)) return local;
  const Mounted* mount = MountOf(key);
  if (!mount) return std::string();
  // The longest existing part as it is named, the rest as given.
  std::vector<std::string> parts = Split(path);
  size_t skip = Split(mount->key).size();
  std::string prefix;
  for (size_t i = 0; i < skip; ++i) prefix += (i ? "\\" : "") + parts[i];
  std::string base = mount->local;
  size_t done = skip;
  for (size_t i = skip; i < parts.size(); ++i) {
    std::string candidate = prefix + "\\" + parts[i];
    auto node = nodes_.find(Key(candidate));
    std::string found;
    if (node != nodes_.end() && !node->second.local.empty()) found = node->second.local;
    else if (!RealLocal(candidate, &found)) break;
    base = found;
    prefix = candidate;
    done = i + 1;
  }
  fs::path out = fs::u8path(base);
  for (size_t i = done; i < parts.size(); ++i) out /= fs::u8path(Cp932ToUtf8(parts[i]));
  return out.u8string();
}

OverlayFiles::Node& OverlayFiles::Put(const std::string& path, const Entry& entry) {
  std::string local = LocalPath(path);
  Node& node = nodes_[Key(path)];
  node.entry = entry;
  node.name = LastName(path);
  node.local = local;
  return node;
}

void OverlayFiles::Record(Change change, char drive) {
  if (drive) growth_[drive] += int64_t(change.size) - int64_t(change.oldSize);
  changes_.push_back(std::move(change));
}

int64_t OverlayFiles::Growth(char letter) const {
  auto it = growth_.find(Upper(letter));
  return it == growth_.end() ? 0 : it->second;
}

uint32_t OverlayFiles::GetFileAttributes(const std::string& path) {
  Entry e = Look(path);
  return e.exists ? e.attributes : kInvalidAttributes;
}

bool OverlayFiles::SetFileAttributes(const std::string& path, uint32_t attributes) {
  Entry e = Look(path);
  if (!e.exists) return false;
  std::string source;
  auto it = nodes_.find(Key(path));
  if (it == nodes_.end()) RealLocal(path, &source);
  uint32_t old = e.attributes;
  e.attributes = (attributes == 0 ? kAttrNormal : attributes) | (e.folder ? kAttrDirectory : 0);
  if (e.folder) e.attributes &= ~kAttrNormal;
  if (e.attributes == old) return true;
  if (it == nodes_.end()) Put(path, e).realSource = source;
  else it->second.entry = e;
  if (!e.folder) {
    Change c{Change::Attributes, path};
    c.existed = true;
    c.oldAttributes = old;
    c.newAttributes = e.attributes;
    Record(c, 0);
  }
  return true;
}

bool OverlayFiles::CreateDirectory(const std::string& path) {
  if (Look(path).exists) return false;
  std::string parent = Parent(path);
  if (parent.empty() || !Look(parent).folder) return false;
  Put(path, Entry{true, true, kAttrDirectory, 0, now_});
  Record(Change{Change::Folder, path}, 0);
  return true;
}

bool OverlayFiles::DeleteFile(const std::string& path) {
  Entry e = Look(path);
  if (!e.exists || e.folder || (e.attributes & kAttrReadOnly)) return false;
  Node& node = Put(path, Entry{});
  node.keptContent = false;
  node.content.clear();
  node.realSource.clear();
  Change c{Change::Deleted, path};
  c.existed = true;
  c.oldSize = e.size;
  c.oldTime = e.time;
  std::vector<std::string> parts = Split(path);
  Record(c, MountOf(Key(path)) && parts[0].size() == 2 ? parts[0][0] : 0);
  return true;
}

std::unique_ptr<ReadableFile> OverlayFiles::OpenForRead(const std::string& path) {
  Entry e = Look(path);
  if (!e.exists || e.folder) return nullptr;
  auto it = nodes_.find(Key(path));
  std::string local;
  if (it != nodes_.end()) {
    if (it->second.keptContent)
      return std::make_unique<MemoryReader>(&it->second.content, e.size, e.time);
    if (it->second.realSource.empty()) return std::make_unique<MemoryReader>(nullptr, e.size, e.time);
    local = it->second.realSource;
  } else if (!RealLocal(path, &local)) {
    return nullptr;
  }
  return local::OpenRead(local, e.size, e.time);
}

bool OverlayFiles::ReadWhole(const std::string& path, std::string* content) {
  // A large file the run wrote keeps its size, not its bytes.
  auto it = nodes_.find(Key(path));
  if (it != nodes_.end() && !it->second.keptContent && it->second.realSource.empty() && it->second.entry.size > 0)
    return false;
  std::unique_ptr<ReadableFile> file = OpenForRead(path);
  uint64_t size = 0;
  if (!file || !file->Size(&size) || size > content->max_size()) return false;
  try {
    content->assign(size_t(size), '\0');
  } catch (const std::bad_alloc&) {
    return false;
  }
  constexpr uint64_t kPiece = uint64_t(1) << 30;
  for (uint64_t done = 0; done < size;) {
    const uint32_t want = uint32_t(std::min(kPiece, size - done));
    uint32_t got = 0;
    if (!file->Read(&(*content)[size_t(done)], want, &got) || got != want) return false;
    done += want;
  }
  return true;
}

std::unique_ptr<ReplacementFile> OverlayFiles::BeginReplacement(const std::string& path) {
  if (IsDeviceName(LastName(path))) return nullptr;
  Entry e = Look(path);
  if (e.exists && (e.folder || (e.attributes & kAttrReadOnly))) return nullptr;
  std::string parent = Parent(path);
  if (parent.empty() || !Look(parent).folder) return nullptr;
  return std::make_unique<OverlayReplacement>(this, path);
}

void OverlayFiles::Commit(const std::string& path, uint64_t size, const uint64_t* time,
                          std::string content, bool kept) {
  Entry old = Look(path);
  Entry e{true, false, 0, size, time ? *time : now_};
  uint32_t keptAttributes = old.exists ? old.attributes & (kAttrHidden | kAttrSystem) : 0;
  e.attributes = kAttrArchive | keptAttributes;
  Node& node = Put(path, e);
  node.keptContent = kept;
  node.content = kept ? std::move(content) : std::string();
  node.realSource.clear();
  Change c{Change::Written, path};
  c.size = size;
  c.existed = old.exists;
  c.oldSize = old.exists ? old.size : 0;
  c.oldTime = old.time;
  std::vector<std::string> parts = Split(path);
  Record(c, MountOf(Key(path)) && parts[0].size() == 2 ? parts[0][0] : 0);
}

std::vector<std::string> OverlayFiles::List(const std::string& folder) {
  std::map<std::string, std::string> names;  // key -> name
  std::string local;
  if (RealLocal(folder, &local)) {
    for (const auto& entry : Listing(local)) {
      std::string name;
      Utf8ToCp932(fs::u8path(entry.second).filename().u8string(), &name);
      names[entry.first] = name;
    }
  }
  const std::string folderKey = Key(folder);
  for (auto it = nodes_.lower_bound(folderKey + "\\"); it != nodes_.end() && StartsWithFolder(it->first, folderKey);
       ++it) {
    if (it->first.find('\\', folderKey.size() + 1) != std::string::npos) continue;
    const std::string child = it->first.substr(folderKey.size() + 1);
    if (it->second.entry.exists) names[child] = it->second.name;
    else names.erase(child);
  }
  std::vector<std::string> out;
  for (auto& n : names) out.push_back(n.second);
  return out;
}

void OverlayFiles::FindFiles(const std::string& pattern, std::vector<std::string>* names) {
  const std::string folder = Parent(pattern), wanted = LastName(pattern);
  if (!Look(folder).folder) return;
  for (const std::string& name : List(folder))
    if (MatchesWildcard(wanted, name)) names->push_back(name);
}

bool OverlayFiles::CopyFile(const std::string& from, const std::string& to) {
  Entry source = Look(from);
  Entry target = Look(to);
  if (target.folder) return false;
  // Missing folders of the destination are made, as FOF_NOCONFIRMMKDIR does.
  std::vector<std::string> parts = Split(to);
  std::string folder;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    folder += (i ? "\\" : "") + parts[i];
    if (i > 0 && !Look(folder).exists && !CreateDirectory(folder)) return false;
  }
  if (!Look(Parent(to)).folder) return false;
  std::string sourceLocal;
  bool sourceKept = false;
  std::string content;
  auto it = nodes_.find(Key(from));
  if (it != nodes_.end()) {
    sourceKept = it->second.keptContent;
    content = it->second.content;
    sourceLocal = it->second.realSource;
  } else {
    RealLocal(from, &sourceLocal);
  }
  Entry e = source;
  e.attributes = source.attributes & ~kAttrNormal;
  if (e.attributes == 0) e.attributes = kAttrArchive;
  Node& node = Put(to, e);
  node.keptContent = sourceKept;
  node.content = std::move(content);
  node.realSource = sourceLocal;
  Change c{Change::Copied, to};
  c.from = from;
  c.size = e.size;
  c.existed = target.exists;
  c.oldSize = target.exists ? target.size : 0;
  c.oldTime = target.time;
  Record(c, MountOf(Key(to)) && parts[0].size() == 2 ? parts[0][0] : 0);
  return true;
}

bool OverlayFiles::CopyFolder(const std::string& from, const std::string& to) {
  Entry target = Look(to);
  if (target.exists && !target.folder) return false;
  if (!target.exists && !CreateDirectory(to)) return false;
  bool ok = true;
  for (const std::string& name : List(from)) {
    const std::string source = from + "\\" + name, destination = to + "\\" + name;
    ok = (Look(source).folder ? CopyFolder(source, destination) : CopyFile(source, destination)) && ok;
  }
  return ok;
}

int OverlayFiles::Copy(const std::string& from, const std::string& to) {
  Entry source = Look(from);
  if (!source.exists) return kErrorFileNotFound;
  if (!source.folder) return CopyFile(from, to) ? 0 : kErrorAccessDenied;
  // The folder keeps its name as the disc spells it; a root given on the
  // command line is named as the updater names it, not as the local folder.
  std::string name;
  std::string local = LocalPath(from);
  bool root = false;
  for (const Mounted& m : mounts_) root = root || m.key == Key(from);
  if (root || local.empty() || !Utf8ToCp932(fs::u8path(local).filename().u8string(), &name))
    name = LastName(from);
  // A copy into the folder itself or below it is refused before anything
  // is copied (SHFileOperation's DE_DESTSUBTREE; Wine answers 0 and copies
  // nothing).
  const std::string destination = Key(to + "\\" + name), origin = Key(from);
  if (destination == origin || StartsWithFolder(destination, origin)) return kErrorDestinationSubtree;
  return CopyFolder(from, to + "\\" + name) ? 0 : kErrorAccessDenied;
}

bool MatchesWildcard(const std::string& pattern, const std::string& name) {
  // Iterative '*' matching with one backtrack point.
  size_t p = 0, n = 0, star = std::string::npos, mark = 0;
  auto width = [](const std::string& s, size_t i) {
    return IsLeadByte(uint8_t(s[i])) && i + 1 < s.size() ? size_t(2) : size_t(1);
  };
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = ++p;
      mark = n;
    } else if (p < pattern.size() && pattern[p] == '?') {
      n += width(name, n);
      ++p;
    } else if (p < pattern.size() && width(pattern, p) == width(name, n) &&
               (width(name, n) == 2 ? pattern.compare(p, 2, name, n, 2) == 0
                                    : Upper(pattern[p]) == Upper(name[n]))) {
      n += width(name, n);
      p += width(pattern, p);
    } else if (star != std::string::npos) {
      mark += width(name, mark);
      n = mark;
      p = star;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace platform
