// Reads every query of a query list through platform::Os().ReadProfileString
// and prints each result in one canonical form, so that the host reader and
// the system's own reader can be compared line by line.
//
// Usage: ini_probe <cases folder> <query list>
// Query list: one query a line, "file|section|key|size"; '#' starts a
// comment line. Section and key take the escapes \t, \v, \\, \| and \xHH.
// Output: "file|section|key|size -> count "value"", the value escaped as
// below, followed by " NOZERO" when the byte after it is not zero.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

std::string Escape(const char* bytes, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '\\' || c == '"' || c == '|' || c < 0x20 || c > 0x7E) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += char(c);
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Splits on unescaped '|' and resolves the escapes.
std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c == '|') {
      fields.emplace_back();
    } else if (c == '\\' && i + 1 < line.size()) {
      char e = line[++i];
      if (e == 't') {
        fields.back() += '\t';
      } else if (e == 'v') {
        fields.back() += '\v';
      } else if (e == 'x' && i + 2 < line.size() && HexDigit(line[i + 1]) >= 0 &&
                 HexDigit(line[i + 2]) >= 0) {
        fields.back() += char(HexDigit(line[i + 1]) * 16 + HexDigit(line[i + 2]));
        i += 2;
      } else {
        fields.back() += e;
      }
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ini_probe <cases folder> <query list>\n");
    return 2;
  }
  std::string folder = argv[1];
  std::ifstream queries(argv[2], std::ios::binary);
  if (!queries) {
    std::fprintf(stderr, "ini_probe: cannot read %s\n", argv[2]);
    return 2;
  }
  std::string line;
  int bad = 0;
  while (std::getline(queries, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f = SplitFields(line);
    if (f.size() != 4) {
      std::fprintf(stderr, "ini_probe: bad query: %s\n", line.c_str());
      ++bad;
      continue;
    }
    uint32_t size = uint32_t(std::stoul(f[3]));
    // Room beyond the size shows whether the reader stays inside it.
    std::vector<char> buffer(size + 16, '#');
    std::string path = folder + "\\" + f[0];
    uint32_t count = platform::Os().ReadProfileString(f[1].c_str(), f[2].c_str(), "",
                                                      buffer.data(), size, path.c_str());
    std::string shown = count <= size ? Escape(buffer.data(), count) : "(count past size)";
    std::printf("%s -> %u \"%s\"%s%s\n", line.c_str(), count, shown.c_str(),
                size > 0 && count < size && buffer[count] != '\0' ? " NOZERO" : "",
                buffer[size] != '#' ? " OVERRUN" : "");
  }
  return bad ? 1 : 0;
}
