// The portable half of tools/qa2/cp932.h.
#include "tools/qa2/cp932.h"

#include <cstdint>

namespace qa2 {
namespace {

struct Range {
  uint8_t first, last;
};

// Second bytes that code page 932 assigns after `lead` (Windows' table: JIS
// X 0208 rows, NEC row 13 at 0x87, the IBM extensions at 0xED-0xEE and
// 0xFA-0xFC, the user-defined rows 0xF0-0xF9). Empty for an unused lead.
const Range* TrailRanges(uint8_t lead, size_t* count) {
  static const Range k81[] = {{0x40, 0x7E}, {0x80, 0xAC}, {0xB8, 0xBF}, {0xC8, 0xCE},
                              {0xDA, 0xE8}, {0xF0, 0xF7}, {0xFC, 0xFC}};
  static const Range k82[] = {{0x4F, 0x58}, {0x60, 0x79}, {0x81, 0x9A}, {0x9F, 0xF1}};
  static const Range k83[] = {{0x40, 0x7E}, {0x80, 0x96}, {0x9F, 0xB6}, {0xBF, 0xD6}};
  static const Range k84[] = {{0x40, 0x60}, {0x70, 0x7E}, {0x80, 0x91}, {0x9F, 0xBE}};
  static const Range k87[] = {{0x40, 0x5D}, {0x5F, 0x75}, {0x7E, 0x7E}, {0x80, 0x9C}};
  static const Range k88[] = {{0x9F, 0xFC}};
  static const Range kFull[] = {{0x40, 0x7E}, {0x80, 0xFC}};
  static const Range k98[] = {{0x40, 0x72}, {0x9F, 0xFC}};
  static const Range kEA[] = {{0x40, 0x7E}, {0x80, 0xA4}};
  static const Range kEE[] = {{0x40, 0x7E}, {0x80, 0xEC}, {0xEF, 0xFC}};
  static const Range kFC[] = {{0x40, 0x4B}};
#define QA_RANGES(table) (*count = sizeof table / sizeof table[0], table)
  switch (lead) {
    case 0x81: return QA_RANGES(k81);
    case 0x82: return QA_RANGES(k82);
    case 0x83: return QA_RANGES(k83);
    case 0x84: return QA_RANGES(k84);
    case 0x87: return QA_RANGES(k87);
    case 0x88: return QA_RANGES(k88);
    case 0x98: return QA_RANGES(k98);
    case 0xEA: return QA_RANGES(kEA);
    case 0xEE: return QA_RANGES(kEE);
    case 0xFC: return QA_RANGES(kFC);
    default: break;
  }
#undef QA_RANGES
  if ((lead >= 0x89 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xE9) || lead == 0xED ||
      (lead >= 0xF0 && lead <= 0xFB)) {
    *count = 2;
    return kFull;
  }
  *count = 0;
  return nullptr;
}

bool IsContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }

}  // namespace

bool IsCp932Text(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    uint8_t b = uint8_t(text[i]);
    if (b < 0x80 || (b >= 0xA1 && b <= 0xDF)) continue;
    size_t count = 0;
    const Range* ranges = TrailRanges(b, &count);
    if (count == 0 || i + 1 >= text.size()) return false;
    uint8_t trail = uint8_t(text[++i]);
    bool assigned = false;
    for (size_t r = 0; r < count; ++r)
      if (trail >= ranges[r].first && trail <= ranges[r].last) assigned = true;
    if (!assigned) return false;
  }
  return true;
}

bool LooksLikeUtf8(const std::string& text) {
  bool threeBytes = false;
  for (size_t i = 0; i < text.size();) {
    uint8_t b = uint8_t(text[i]);
    size_t length = b < 0x80 ? 1 : (b >= 0xC2 && b <= 0xDF) ? 2 : (b >= 0xE0 && b <= 0xEF) ? 3
                                 : (b >= 0xF0 && b <= 0xF4) ? 4 : 0;
    if (length == 0 || length > text.size() - i) return false;
    for (size_t k = 1; k < length; ++k)
      if (!IsContinuation(uint8_t(text[i + k]))) return false;
    if (length == 3) threeBytes = true;
    i += length;
  }
  return threeBytes;
}

}  // namespace qa2
