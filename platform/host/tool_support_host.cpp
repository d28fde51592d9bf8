#include <iconv.h>
#include <sys/stat.h>

#include "platform/host/host_platform.h"
#include "platform/tool_support.h"

namespace platform {

bool Utf8ToCp932(const std::string& text, std::string* out) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == iconv_t(-1)) return false;
  std::string result(text.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* o = &result[0];
  size_t oLeft = result.size();
  size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
  iconv_close(cd);
  if (r == size_t(-1) || inLeft != 0) return false;
  result.resize(result.size() - oLeft);
  *out = result;
  return true;
}

std::vector<std::string> ToolArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void UseToolFiles() {}

bool FileTimeOfPath(const std::string& utf8Path, uint64_t* fileTime) {
  struct stat st;
  if (::stat(utf8Path.c_str(), &st) != 0) return false;
  *fileTime = FileTimeFromUnix(int64_t(st.st_mtim.tv_sec), int64_t(st.st_mtim.tv_nsec));
  return true;
}

}  // namespace platform
