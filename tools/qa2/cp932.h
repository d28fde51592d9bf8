// Code page 932 for qa2: the validity of UPDATE.INI's bytes (portable, by
// table) and conversions to and from the system's names and terminal.
#pragma once

#include <string>

namespace qa2 {

// Whether every byte sequence of `text` is a character of code page 932 as
// Windows maps it (single bytes 0x00-0x7F and 0xA1-0xDF, double-byte codes
// that the code page assigns, including the user-defined rows F0-F9).
bool IsCp932Text(const std::string& text);

// Whether `text` reads as UTF-8 with at least one character of three bytes:
// the usual form of Japanese text saved by an editor that does not write
// code page 932.
bool LooksLikeUtf8(const std::string& text);

// One character of code page 932 (one or two bytes) in UTF-8, taken only
// when its UTF-8 form converts back to the same bytes. The system's
// conversion (platform/tool_support.h), in cp932_system.cpp.
bool Cp932CharacterToUtf8(const std::string& character, std::string* utf8);

enum class Shown {
  Text,  // a message: printable ASCII as it is
  Name,  // a member name: a backslash doubled and DEL escaped as well, so
         // that the name reads unambiguously
};

// Code page 932 to UTF-8 for a terminal: characters that convert as above,
// printable ASCII, and every other byte as \xNN.
std::string Cp932ToShown(const std::string& cp932, Shown as = Shown::Text);

}  // namespace qa2
