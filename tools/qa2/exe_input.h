// UPDATE.EXE as the tools' input: the archive is its resource "UPDATE" 102.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qa2 {

// The resource that carries an updater's archive, and its language.
extern const char16_t kUpdateResourceType[];
constexpr uint16_t kUpdateResourceId = 102;
constexpr uint16_t kUpdateResourceLanguage = 1041;

// Where the archive lies inside a PE file's bytes. False with *error when
// the file is not a PE, is malformed, or has no "UPDATE" 102.
bool FindUpdateResource(const uint8_t* data, size_t size, size_t* offset, size_t* length,
                        std::string* error);

}  // namespace qa2
