// A fresh folder for one test, removed afterwards, named as the platform
// names paths (a Windows path in the Win32 build).
#pragma once

#include <string>
#include <vector>

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // path() joined with `name` by the platform's separator.
  std::string operator/(const std::string& name) const;

 private:
  std::string path_;
};

// Small file helpers that go through the standard library, not the platform
// under test.
void WriteTestFile(const std::string& path, const std::string& content);
std::string ReadTestFile(const std::string& path);
bool TestFileExists(const std::string& path);
