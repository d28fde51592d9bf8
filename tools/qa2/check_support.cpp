#include "tools/qa2/check_support.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "archive/sha256.h"

#include "platform/codepage.h"
#include "platform/name_fold.h"
#include "platform/tool_support.h"
#include "tools/qa2/cp932.h"

namespace qa2 {

void Findings::Report(const std::string& file, int line, Severity severity, const std::string& text) {
  findings_.push_back({file, line, severity, text});
  if (severity != Severity::Note) ++(severity == Severity::Error ? errors_ : warnings_);
}

void Findings::Print(FILE* out, const std::string& iniFile) const {
  std::vector<Finding> sorted = findings_;
  std::stable_sort(sorted.begin(), sorted.end(), [&](const Finding& a, const Finding& b) {
    bool aIni = a.file == iniFile && a.line > 0, bIni = b.file == iniFile && b.line > 0;
    if (aIni != bIni) return aIni;
    return aIni && a.line < b.line;
  });
  for (const Finding& f : sorted) {
    const char* severity =
        f.severity == Severity::Error ? "error" : f.severity == Severity::Warning ? "warning" : "note";
    if (f.line > 0)
      std::fprintf(out, "%s:%d: %s: %s\n", f.file.c_str(), f.line, severity, f.text.c_str());
    else
      std::fprintf(out, "%s: %s: %s\n", f.file.c_str(), severity, f.text.c_str());
  }
}

IniValue ReadIniValue(const platform::IniText& ini, const char* section, const std::string& key,
                      size_t field) {
  IniValue v;
  platform::IniEntry entry;
  if (!ini.Find(section, key.c_str(), &entry)) return v;
  v.given = true;
  v.line = entry.line;
  v.length = entry.value.size();
  v.text = entry.value.substr(0, field - 1);
  v.present = !v.text.empty();
  return v;
}

size_t TrailingCommentAt(const std::string& value) {
  for (size_t at = value.find(';'); at != std::string::npos; at = value.find(';', at + 1))
    if (at > 0 && (value[at - 1] == ' ' || value[at - 1] == '\t')) return at;
  return std::string::npos;
}

namespace {

char Fold(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

// Optimal string alignment distance, ASCII case ignored.
size_t EditDistance(const std::string& a, const std::string& b) {
  const size_t n = a.size(), m = b.size();
  std::vector<std::vector<size_t>> d(n + 1, std::vector<size_t>(m + 1));
  for (size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (size_t i = 1; i <= n; ++i)
    for (size_t j = 1; j <= m; ++j) {
      size_t cost = Fold(a[i - 1]) == Fold(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && Fold(a[i - 1]) == Fold(b[j - 2]) && Fold(a[i - 2]) == Fold(b[j - 1]))
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[n][m];
}

}  // namespace

std::string ClosestName(const std::string& name, const std::vector<std::string>& known) {
  // Short names tolerate one slip, longer ones two; names far longer or
  // shorter are not compared at all (and cost nothing).
  std::string best;
  size_t bestDistance = 0;
  for (const std::string& k : known) {
    size_t longer = std::max(name.size(), k.size()), shorter = std::min(name.size(), k.size());
    size_t allowed = std::min<size_t>(2, k.size() / 4);
    if (allowed == 0 || longer - shorter > allowed || longer > 64) continue;
    size_t distance = EditDistance(name, k);
    if (distance <= allowed && (best.empty() || distance < bestDistance)) {
      best = k;
      bestDistance = distance;
    }
  }
  return best;
}

std::string Quote(const std::string& cp932) { return "'" + Cp932ToShown(cp932) + "'"; }

std::string See(const char* anchor) { return std::string(" (see ") + anchor + ")"; }

}  // namespace qa2

namespace qa2 {

bool FileContent::operator==(const FileContent& o) const {
  return size == o.size && std::memcmp(hash, o.hash, sizeof hash) == 0;
}

bool ReadFileContent(const std::string& path, FileContent* content, std::string* error) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  if (!in) {
    *error = "cannot open " + path + ": " + platform::LastErrorText();
    return false;
  }
  std::vector<uint8_t> buffer(size_t(1) << 20);
  Sha256 sha;
  content->size = 0;
  while (in) {
    in.read(reinterpret_cast<char*>(buffer.data()), std::streamsize(buffer.size()));
    const size_t got = size_t(in.gcount());
    sha.Update(buffer.data(), got);
    content->size += got;
  }
  if (in.bad()) {
    *error = "cannot read " + path + ": " + platform::LastErrorText();
    return false;
  }
  sha.Digest(content->hash);
  content->path = path;
  return true;
}

std::filesystem::path ResolveWindowsPath(const std::filesystem::path& root, const std::string& relative,
                                         std::string* twins) {
  namespace fs = std::filesystem;
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < relative.size(); ++i) {
    if (platform::IsLeadByte(uint8_t(relative[i])) && i + 1 < relative.size()) {
      parts.back() += relative.substr(i++, 2);
    } else if (relative[i] == '\\' || relative[i] == '/') {
      if (!parts.back().empty()) parts.emplace_back();
    } else {
      parts.back() += relative[i];
    }
  }
  fs::path at = root;
  for (const std::string& part : parts) {
    if (part.empty()) continue;
    fs::path found;
    std::error_code ec;
    for (fs::directory_iterator it(at, ec), end; !ec && it != end; it.increment(ec)) {
      std::string cp932;
      if (!platform::Utf8ToCp932(it->path().filename().u8string(), &cp932) ||
          !platform::SameNameIgnoringCase(cp932.c_str(), part.c_str()))
        continue;
      if (!found.empty()) {
        *twins = found.u8string() + " and " + it->path().u8string();
        return fs::path();
      }
      found = it->path();
    }
    if (found.empty()) return fs::path();
    at = found;
  }
  return at;
}

}  // namespace qa2
