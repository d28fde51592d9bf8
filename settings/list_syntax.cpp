#include "settings/list_syntax.h"

#include <cstddef>
#include <cstring>

#include "platform/codepage.h"

int32_t CurrentDisk;

namespace {

constexpr size_t kTokenField = 260;

bool EndsList(char c) { return c == '\0' || c == '\n' || c == '\r' || c == ','; }

bool IsConversionSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The first byte of the token's text, past its spaces and disk prefix (the
// prefix's disk in *disk); nullptr for an empty token.
const char* TokenText(const char* p, int32_t* disk) {
  while (*p == ' ') ++p;
  if (EndsList(*p)) return nullptr;
  // Every byte the scanner tests is below 0x40, so it cannot be the second
  // byte of a double-byte character, and the prefix test may look at bytes.
  if (p[1] == ':') {
    *disk = (p[0] >= '0' && p[0] <= '9') ? p[0] - '0' : 0;
    p += 2;
  }
  return p;
}

}  // namespace

// List syntax: tokens separated by commas, each
//   spaces (0x20 only, skipped), then an optional disk prefix "d:" (d any
//   byte but zero, LF, CR, comma or space; '0'-'9' give that disk, others 0),
//   then the text up to the next zero, LF, CR or comma, taken as it is.
// An empty token (after its spaces) ends the list; a prefix with empty text
// is a token. A prefix sets CurrentDisk for its own and all later tokens.
//
// Two choices the syntax leaves open:
// - A text longer than 259 bytes is cut to the longest whole-character
//   prefix of at most 259 bytes (a double-byte character is never split), and
//   the rest of the token up to its separator is skipped, so the next call
//   starts with the next token as if the token had fit.
// - A token ended by the value's terminating zero leaves the cursor on that
//   zero rather than one past it, so the next call ends the list without
//   reading beyond a value that fills its buffer to the last byte.
int NextListToken(const char** cursor, char token[260]) {
  const char* p = TokenText(*cursor, &CurrentDisk);
  if (!p) return 0;
  size_t length = 0;
  bool cut = false;
  while (!EndsList(*p)) {
    size_t step = 1;
    if (platform::IsLeadByte(uint8_t(*p)) && !EndsList(p[1])) step = 2;
    if (length + step > kTokenField - 1) {
      cut = true;
      break;
    }
    std::memcpy(token + length, p, step);
    length += step;
    p += step;
  }
  if (cut)
    while (!EndsList(*p)) ++p;
  token[length] = '\0';
  if (*p != '\0') ++p;
  *cursor = p;
  return 1;
}

size_t ListTokenTextLength(const char* cursor) {
  int32_t disk = 0;
  const char* p = TokenText(cursor, &disk);
  size_t n = 0;
  while (p && !EndsList(p[n])) ++n;
  return n;
}

int32_t ParseInt32(const char* text) {
  const char* p = text;
  while (IsConversionSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // Accumulate the magnitude up to just past the 32-bit range, then clamp.
  int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (magnitude <= int64_t(1) << 32) magnitude = magnitude * 10 + (*p - '0');
  }
  int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return int32_t(value);
}

uint64_t ParseUInt64(const char* text) {
  const char* p = text;
  while (IsConversionSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  uint64_t value = 0;
  bool overflow = false;
  for (; *p >= '0' && *p <= '9'; ++p) {
    uint64_t digit = uint64_t(*p - '0');
    if (value > (UINT64_MAX - digit) / 10) overflow = true;
    if (!overflow) value = value * 10 + digit;
  }
  if (overflow) return UINT64_MAX;
  return negative ? uint64_t(0) - value : value;
}
