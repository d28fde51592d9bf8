// Code page 932 character stepping, the same on every platform: the updater's
// texts are code page 932 whatever the system's own code page is.
#pragma once

#include <cstdint>

namespace platform {

// IsDBCSLeadByte for code page 932: 0x81-0x9F and 0xE0-0xFC begin a
// double-byte character.
inline bool IsLeadByte(uint8_t byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// CharNextA: the start of the character after the one at `text`. A lead byte
// that is the last byte of the text is a character of its own.
inline const char* CharNext(const char* text) {
  if (*text == '\0') return text;
  if (IsLeadByte(static_cast<uint8_t>(text[0])) && text[1] != '\0') return text + 2;
  return text + 1;
}

}  // namespace platform
