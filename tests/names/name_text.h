// What the name probe and the overlay's name test share: the query text's
// escapes, one answer line, and the overlay's answer for a path.
#pragma once

#include <cstdio>
#include <string>

#ifndef _WIN32
#include "platform/name_fold.h"
#include "platform/overlay/overlay_files.h"
#endif

namespace names {

inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

inline std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && HexDigit(text[i + 2]) >= 0 &&
        HexDigit(text[i + 3]) >= 0) {
      out += char(HexDigit(text[i + 2]) * 16 + HexDigit(text[i + 3]));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

inline std::string Escape(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x21 || c > 0x7E) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += char(c);
    }
  }
  return out;
}


// "QUERY -> absent|file|folder NAME"
inline std::string Answer(const std::string& query, const std::string& kind, const std::string& name) {
  return query + " -> " + kind + " " + Escape(name);
}

// A member-name query "=A|B": its two names.
inline bool MemberQuery(const std::string& line, std::string* a, std::string* b) {
  const size_t bar = line.find('|');
  if (line.empty() || line[0] != '=' || bar == std::string::npos) return false;
  *a = Unescape(line.substr(1, bar - 1));
  *b = Unescape(line.substr(bar + 1));
  return true;
}

inline std::string MemberAnswer(const std::string& line, bool same) {
  return line + " -> " + (same ? "same" : "differ");
}

#ifndef _WIN32
// What the overlay finds at `path`: its kind and, unless the path ends with
// a separator (a search then finds nothing), the name it has on disk.
inline void OverlayAnswer(platform::OverlayFiles& files, const std::string& path, std::string* kind,
                          std::string* name) {
  const uint32_t attributes = files.GetFileAttributes(path);
  if (attributes == platform::kInvalidAttributes) return;
  *kind = (attributes & platform::kAttrDirectory) ? "folder" : "file";
  const bool folderForm = !path.empty() && (path.back() == '\\' || path.back() == '/');
  if (!folderForm) *name = files.FoundName(path);
}
#endif

}  // namespace names
