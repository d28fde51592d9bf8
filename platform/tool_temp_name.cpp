// The tools' scratch names, the same on every system so that a sweep on
// one recognises exactly what a run on it would have made.
#include <cstdio>

#include "platform/tool_support.h"

namespace platform {
namespace {

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

std::string ToolTempName(const std::string& nearUtf8, const char* kind, uint32_t pid, uint64_t random) {
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".~%lx-%016llx.%s", static_cast<unsigned long>(pid),
                static_cast<unsigned long long>(random), kind);
  return nearUtf8 + suffix;
}

bool IsToolTempNameOf(const std::string& name, const std::string& baseName, uint32_t* pid) {
  if (name.size() <= baseName.size() + 2 || name.compare(0, baseName.size(), baseName) != 0) return false;
  size_t i = baseName.size();
  if (name[i] != '.' || name[i + 1] != '~') return false;
  i += 2;
  uint64_t value = 0;
  size_t digits = 0;
  for (; i < name.size() && IsHex(name[i]); ++i, ++digits)
    value = value * 16 + uint64_t(name[i] <= '9' ? name[i] - '0' : name[i] - 'a' + 10);
  if (digits == 0 || digits > 8 || i >= name.size() || name[i] != '-') return false;
  ++i;
  for (size_t n = 0; n < 16; ++n, ++i)
    if (i >= name.size() || !IsHex(name[i])) return false;
  if (i >= name.size() || name[i] != '.' || ++i >= name.size()) return false;
  for (; i < name.size(); ++i)
    if (name[i] < 'a' || name[i] > 'z') return false;
  *pid = uint32_t(value);
  return true;
}

}  // namespace platform
