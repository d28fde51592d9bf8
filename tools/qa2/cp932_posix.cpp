// The system conversions of tools/qa2/cp932.h through iconv.
#include <iconv.h>

#include <cerrno>
#include <cstdio>

#include "tools/qa2/cp932.h"

namespace qa2 {

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

std::string Cp932ToShown(const std::string& text) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  std::string out;
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  while (inLeft > 0) {
    char buffer[4096];
    char* o = buffer;
    size_t oLeft = sizeof buffer;
    size_t r = cd == iconv_t(-1) ? size_t(-1) : iconv(cd, &in, &inLeft, &o, &oLeft);
    out.append(buffer, size_t(o - buffer));
    if (r == size_t(-1) && (cd == iconv_t(-1) || errno != E2BIG)) {
      char escaped[8];
      unsigned char byte = static_cast<unsigned char>(*in);
      if (byte < 0x80 && byte >= 0x20)
        out.push_back(char(byte));
      else {
        std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
        out += escaped;
      }
      ++in;
      --inLeft;
    }
  }
  if (cd != iconv_t(-1)) iconv_close(cd);
  return out;
}

}  // namespace qa2
