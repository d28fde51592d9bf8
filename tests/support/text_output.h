// Reading what a check printed and what a case expects, for the tests that
// hold a tool's report against an .expected file.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

namespace test_support {

// What `print` writes to the stream it is given.
inline std::string CapturedOutput(const std::function<void(std::FILE*)>& print) {
  std::string text;
  std::FILE* out = std::tmpfile();
  print(out);
  std::rewind(out);
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, out)) > 0) text.append(chunk, n);
  std::fclose(out);
  return text;
}

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// How often `what` occurs in `text`.
inline int Count(const std::string& text, const char* what) {
  int n = 0;
  for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; ++at) ++n;
  return n;
}

}  // namespace test_support
