// Builds update archives (layout: archive/format.h) from members in memory:
// header, the members' data in the given order, each raised to 16 bytes with
// zeros, then the directory as one compressed stream (header flags 1).
// A member is compressed (entry flags 2) when that makes it smaller and it is
// not marked to be stored; otherwise it is kept as is (entry flags 1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/encoder.h"

struct BuildMember {
  std::string name;  // code page 932 bytes: the file name alone
  std::vector<uint8_t> data;
  uint64_t fileTime = 0;
  bool store = false;  // keep the bytes as they are even if they compress
};

enum class BuildError {
  None,
  EmptyName,
  NameTooLong,       // more than 14 bytes
  NameHasFolder,     // a '\', '/' or drive ':' outside a double-byte character
  BadName,           // not a valid Windows file name ("..", '?', control, trailing dot...)
  ReservedName,      // a device name: CON, PRN, AUX, NUL, COM1-9, LPT1-9, any extension
  DuplicateName,     // equal to an earlier name without regard to ASCII case
  MemberTooLarge,    // more than 4 GiB - 1 bytes
  ArchiveTooLarge,   // the archive would pass options.sizeLimit
};

struct BuildReport {
  BuildError error = BuildError::None;
  size_t member = 0;  // the member at fault
  size_t other = 0;   // DuplicateName: the earlier member of that name
  uint64_t size = 0;  // ArchiveTooLarge: the size it would have had
};

struct BuildOptions {
  CompressionMode mode = CompressionMode::Optimal;
  // The largest archive to produce; the format's offsets end at 4 GiB - 1.
  uint64_t sizeLimit = 0xFFFFFFFFu;
  // Called now and then with the input bytes done and their total.
  std::function<void(uint64_t done, uint64_t total)> progress;
  // Members compressed at once; 0 means one per core. The image does not
  // depend on it.
  unsigned jobs = 0;
};

// Whether `name` (code page 932) can name a member; None when it can.
BuildError CheckMemberName(const std::string& name);

// Member names compare without regard to ASCII case; the second byte of a
// double-byte character is compared as it is.
bool SameMemberName(const std::string& a, const std::string& b);

// Lays out the archive into *image. On failure returns false, leaves *image
// empty and says why in *report.
bool BuildArchive(const std::vector<BuildMember>& members, const BuildOptions& options,
                  std::vector<uint8_t>* image, BuildReport* report);

const char* DescribeBuildError(BuildError error);
