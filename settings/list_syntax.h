// The list syntax of INI values and the standard number conversions: the
// pure part of the settings module, shared with qa2's folder check.
#pragma once

#include <cstddef>
#include <cstdint>

// The disk number of the last prefix the scanner met; 0 at start.
extern int32_t CurrentDisk;

// The next token of a list value at *cursor (see the list syntax in
// list_syntax.cpp): 1 with the token in `token` (at most 259 bytes and a
// zero) and the cursor advanced, or 0 at the end of the list with both
// untouched. A disk prefix "d:" sets CurrentDisk.
int NextListToken(const char** cursor, char token[260]);
// The length of the next token's text at `cursor`, after its spaces and
// disk prefix, before NextListToken cuts it to 259 bytes.
size_t ListTokenTextLength(const char* cursor);

// The standard decimal conversion (atoi/strtol): leading white space, one
// sign, digits up to the first other byte; no digits gives 0; clamped to
// the 32-bit range.
int32_t ParseInt32(const char* text);
// The unsigned 64-bit conversion (strtoull): a minus sign negates modulo
// 2^64; clamped to 2^64 - 1 on overflow.
uint64_t ParseUInt64(const char* text);
