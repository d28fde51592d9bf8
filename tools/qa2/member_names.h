// Member names as qa2 shows them and as it dares write them: archives come
// from other people, and a name is only bytes.
#pragma once

#include <string>

#include "archive/format.h"

namespace qa2 {

// The name field of `entry` (at most 15 bytes, zero-terminated or not).
std::string MemberNameBytes(const ArchiveEntry& entry);

// Whether the name may become a file inside the extraction folder. When it
// may, *fileName receives its UTF-8 form and the result is empty; otherwise
// the result says why not.
std::string UnsafeMemberNameReason(const std::string& cp932, std::string* fileName);

}  // namespace qa2
