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

// UTF-8 (the command line, file names) to code page 932; false when some
// character has no form there. The system's conversion, in cp932_posix.cpp.
bool Utf8ToCp932(const std::string& utf8, std::string* cp932);

// Code page 932 to UTF-8 for messages; a byte that does not convert is shown
// as \xNN.
std::string Cp932ToShown(const std::string& cp932);

}  // namespace qa2
