// Shared pieces of the qa2 commands: exit codes, argument handling, files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/tool_support.h"
#include "tools/qa2/member_files.h"

namespace platform {
class ReplacementFile;
}

namespace qa2 {

// Exit codes, as `qa2 --help` documents them.
constexpr int kExitOk = 0;
constexpr int kExitBadArchive = 1;  // malformed archive or stream, member missing
constexpr int kExitUsage = 2;       // wrong arguments
constexpr int kExitIo = 3;          // a file could not be read or written
constexpr int kExitInternal = 4;    // out of memory or another internal failure

// The exit codes' line for --help.
extern const char kExitCodesHelp[];

struct Command {
  const char* name;
  const char* synopsis;
  const char* help;  // shown by `qa2 NAME --help`
  int (*run)(const std::vector<std::string>& args);
};

const std::vector<Command>& Commands();

// Prints "qa2 NAME: message" on stderr and returns `code`.
int Fail(const char* command, int code, const std::string& message);
bool WantsHelp(const std::vector<std::string>& args);
int PrintHelp(const Command& command);

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* out, std::string* error);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& data, std::string* error);

// A file written in pieces beside `path` (a platform::ToolTempFile) and
// renamed over it by Commit: a link at `path` is replaced itself. Dropped
// uncommitted, or stopped by a signal, the piece written so far is removed.
// Creating one sweeps what killed runs left beside `path`.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  bool ok() const { return created_; }
  bool Write(const void* data, size_t size, std::string* error);
  bool Commit(std::string* error);

 private:
  bool Fail(std::string* error);
  std::string path_;
  SpoolFile file_;
  bool created_ = false;
  bool failed_ = false;
  std::string cause_;  // why the first failed write failed
};

// Parses a non-negative decimal that fits in 32 bits.
bool ParseSize(const std::string& text, uint32_t* value);

// A 64-bit file time as "YYYY-MM-DD hh:mm:ss" UTC.
std::string FormatFileTime(uint64_t fileTime);

}  // namespace qa2
