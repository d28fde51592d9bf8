// The few reads the preview makes of real folders, named in UTF-8, past
// MAX_PATH on Windows too (the "\\?\" form there): the overlay reads the
// installation through these and never writes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {
namespace local {

struct Stat {
  bool exists = false;
  bool folder = false;
  bool readOnly = false;
  uint64_t size = 0;
  uint64_t time = 0;  // last write, as a Windows file time
  // What the path is when it is neither a regular file nor a folder ("a
  // symbolic link", "a FIFO"...): nothing the preview may read.
  std::string other;
};

// Looks at the path itself, a link as a link; `follow` looks through one
// (a folder given on the command line).
bool StatPath(const std::string& path, Stat* stat, bool follow = false);
// The names (UTF-8) in a folder, without "." and "..". False when it cannot
// be read.
bool ListFolder(const std::string& folder, std::vector<std::string>* names);
// Reads a regular file, never through a link and never waiting on a FIFO or
// device; its size and time as StatPath gave them. nullptr on failure.
std::unique_ptr<ReadableFile> OpenRead(const std::string& path, uint64_t size, uint64_t time);
// Bytes free to the caller on the folder's drive; 0 when unknown.
uint64_t FreeSpace(const std::string& folder);

}  // namespace local
}  // namespace platform
