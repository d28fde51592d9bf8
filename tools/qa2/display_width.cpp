#include "tools/qa2/display_width.h"

#include <cstdint>

namespace qa2 {
namespace {

// The East Asian Wide and Fullwidth blocks (Unicode's EastAsianWidth.txt,
// merged into ranges); half-width katakana (U+FF61-FF9F) lie outside them.
bool IsWide(uint32_t c) {
  struct Range {
    uint32_t first, last;
  };
  static const Range kWide[] = {
      {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},
      {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},
      {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x20000, 0x2FFFD},
      {0x30000, 0x3FFFD},
  };
  for (const Range& r : kWide)
    if (c >= r.first && c <= r.last) return true;
  return false;
}

}  // namespace

size_t DisplayWidth(const std::string& utf8) {
  size_t width = 0;
  for (size_t i = 0; i < utf8.size();) {
    uint8_t b = uint8_t(utf8[i]);
    size_t length = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 1;
    if (length > utf8.size() - i) length = 1;
    uint32_t c = length == 1 ? b : uint32_t(b & (0x7F >> length));
    for (size_t k = 1; k < length; ++k) c = (c << 6) | (uint8_t(utf8[i + k]) & 0x3F);
    width += IsWide(c) ? 2 : 1;
    i += length;
  }
  return width;
}

std::string PadToWidth(const std::string& utf8, size_t width) {
  size_t shown = DisplayWidth(utf8);
  return shown >= width ? utf8 : utf8 + std::string(width - shown, ' ');
}

}  // namespace qa2
