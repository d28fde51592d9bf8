#include "tools/qa2/cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>

namespace qa2 {

int Fail(const char* command, int code, const std::string& message) {
  std::fprintf(stderr, "qa2 %s: %s\n", command, message.c_str());
  return code;
}

bool WantsHelp(const std::vector<std::string>& args) {
  for (const std::string& a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

int PrintHelp(const Command& command) {
  std::printf("usage: qa2 %s %s\n\n%s\n", command.name, command.synopsis, command.help);
  std::printf(
      "\nexit codes: 0 success; 1 malformed archive or stream, or member missing;\n"
      "            2 wrong arguments; 3 a file could not be read or written\n");
  return kExitOk;
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = "cannot read " + path;
    return false;
  }
  return true;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& data, std::string* error) {
  std::string temp = path + ".part";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) {
      *error = "cannot create " + path + ": " + std::strerror(errno);
      return false;
    }
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    if (!out.flush()) {
      *error = "cannot write " + path;
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    *error = "cannot replace " + path + ": " + std::strerror(errno);
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

bool ParseSize(const std::string& text, uint32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + uint64_t(c - '0');
  }
  if (v > UINT32_MAX) return false;
  *value = uint32_t(v);
  return true;
}

std::string FormatFileTime(uint64_t fileTime) {
  const int64_t unix100ns = int64_t(fileTime) - 116444736000000000LL;
  int64_t seconds = unix100ns / 10000000LL;
  if (unix100ns % 10000000LL < 0) --seconds;
  std::time_t t = std::time_t(seconds);
  std::tm tm{};
  char text[32] = "?";
  if (gmtime_r(&t, &tm)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

}  // namespace qa2
