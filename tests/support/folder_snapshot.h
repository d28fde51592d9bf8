// The state of a folder tree, to show that something left it untouched.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace test_support {

// Every file and folder below `root` with its permissions, time and (for a
// file) size.
inline std::map<std::string, std::string> Snapshot(const std::filesystem::path& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    std::string state = std::to_string(int(e.status().permissions())) + " " +
                        std::to_string(e.last_write_time().time_since_epoch().count());
    if (e.is_regular_file()) state += " " + std::to_string(e.file_size());
    out[e.path().u8string()] = state;
  }
  return out;
}

}  // namespace test_support
