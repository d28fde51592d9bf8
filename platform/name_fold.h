// How Windows tells names apart without regard to case, for code page 932
// text: file names (compared in Unicode, upper-cased) and the archive's
// member names (lstrcmpiA) alike. ASCII letters fold to capitals; so do the
// double-byte full-width Latin, Greek and Cyrillic letters and the small
// Roman numerals; and a character that code page 932 spells twice (the NEC
// and IBM extensions share most of theirs) takes one spelling, since both
// stand for the same Unicode character.
#pragma once

#include <cstdint>

#include "platform/codepage.h"

namespace platform {

// The double-byte code (lead byte << 8 | trail byte) that `code` compares as.
inline uint16_t FoldNameCode(uint16_t code) {
  struct Range {
    uint16_t first, last, to;  // first..last fold to to..to + (last - first)
  };
  static constexpr Range kRanges[] = {
      {0x8281, 0x829A, 0x8260}, {0x83BF, 0x83D6, 0x839F}, {0x8470, 0x847E, 0x8440},
      {0x8480, 0x8491, 0x844F}, {0x8790, 0x8790, 0x81E0}, {0x8791, 0x8791, 0x81DF},
      {0x8792, 0x8792, 0x81E7}, {0x8795, 0x8795, 0x81E3}, {0x8796, 0x8796, 0x81DB},
      {0x8797, 0x8797, 0x81DA}, {0x879A, 0x879A, 0x81E6}, {0x879B, 0x879B, 0x81BF},
      {0x879C, 0x879C, 0x81BE}, {0xEEEF, 0xEEF8, 0x8754}, {0xEEF9, 0xEEF9, 0x81CA},
      {0xFA40, 0xFA49, 0x8754}, {0xFA4A, 0xFA53, 0x8754}, {0xFA54, 0xFA54, 0x81CA},
      {0xFA55, 0xFA57, 0xEEFA}, {0xFA58, 0xFA58, 0x878A}, {0xFA59, 0xFA59, 0x8782},
      {0xFA5A, 0xFA5A, 0x8784}, {0xFA5B, 0xFA5B, 0x81E6}, {0xFA5C, 0xFA7E, 0xED40},
      {0xFA80, 0xFA9B, 0xED63}, {0xFA9C, 0xFAFC, 0xED80}, {0xFB40, 0xFB5B, 0xEDE1},
      {0xFB5C, 0xFB7E, 0xEE40}, {0xFB80, 0xFB9B, 0xEE63}, {0xFB9C, 0xFBFC, 0xEE80},
      {0xFC40, 0xFC4B, 0xEEE1},
  };
  for (const Range& r : kRanges)
    if (code >= r.first && code <= r.last) return uint16_t(r.to + (code - r.first));
  return code;
}

// A single-byte character as it compares: ASCII letters as capitals.
inline char FoldNameByte(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

// Whether two zero-terminated names are one without regard to case, as
// lstrcmpiA answers: the archive's member lookup, and qa2 wherever it
// decides which names collide.
inline bool SameNameIgnoringCase(const char* a, const char* b) {
  for (;;) {
    const bool wideA = IsLeadByte(uint8_t(*a)) && a[1] != '\0';
    const bool wideB = IsLeadByte(uint8_t(*b)) && b[1] != '\0';
    if (wideA != wideB) return false;
    if (wideA) {
      if (FoldNameCode(uint16_t(uint8_t(a[0]) << 8 | uint8_t(a[1]))) !=
          FoldNameCode(uint16_t(uint8_t(b[0]) << 8 | uint8_t(b[1]))))
        return false;
      a += 2;
      b += 2;
      continue;
    }
    if (FoldNameByte(*a) != FoldNameByte(*b)) return false;
    if (*a == '\0') return true;
    ++a;
    ++b;
  }
}

}  // namespace platform
