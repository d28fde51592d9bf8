#include "tools/qa2/cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/platform.h"
#include "platform/tool_support.h"

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
  std::printf("\n%s", kExitCodesHelp);
  return kExitOk;
}

const char kExitCodesHelp[] =
    "exit codes: 0 success; 1 malformed archive or stream, or member missing;\n"
    "            2 wrong arguments; 3 a file could not be read or written;\n"
    "            4 out of memory or another internal failure\n";

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* out, std::string* error) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  if (!in) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  // One read of the whole size: a byte-wise copy costs more than decoding.
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size < 0 || !in) {
    *error = "cannot read " + path;
    return false;
  }
  out->resize(size_t(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(out->data()), size)) {
    *error = "cannot read " + path;
    return false;
  }
  return true;
}

// Written beside the output under a scratch name and renamed over it once
// complete: an interrupted run leaves the old file, and a link at the
// output is replaced, never written through.
OutputFile::OutputFile(const std::string& path) : path_(path), file_(path, "tmp") {
  std::string ignored;
  created_ = file_.Open(&ignored);
}

OutputFile::~OutputFile() = default;

bool OutputFile::Fail(std::string* error) {
  failed_ = true;
  *error = "cannot write " + path_ + (cause_.empty() ? "" : ": " + cause_);
  return false;
}

bool OutputFile::Write(const void* data, size_t size, std::string* error) {
  if (failed_ || !created_) return Fail(error);
  std::string detail;
  errno = 0;
  if (!file_.Append(static_cast<const uint8_t*>(data), size, &detail)) {
    cause_ = platform::LastErrorText();
    return Fail(error);
  }
  return true;
}

bool OutputFile::Commit(std::string* error) {
  if (failed_ || !created_) return Fail(error);
  std::string detail;
  errno = 0;
  if (!file_.Flush(&detail)) {
    cause_ = platform::LastErrorText();
    return Fail(error);
  }
  failed_ = true;  // called once
  if (!file_.ReplaceTarget(path_, error)) return false;
  return true;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& data, std::string* error) {
  OutputFile out(path);
  if (!out.ok()) {
    *error = "cannot create " + path;
    return false;
  }
  return out.Write(data.data(), data.size(), error) && out.Commit(error);
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
  // Days to a civil date without the C library's time functions, which differ
  // between systems (no gmtime_r on Windows).
  int64_t days = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2);
  char text[48];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", (long long)year, (long long)month,
                (long long)day, (long long)(rest / 3600), (long long)(rest / 60 % 60), (long long)(rest % 60));
  return text;
}

}  // namespace qa2
