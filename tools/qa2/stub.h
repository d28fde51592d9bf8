// The updater stub that `qa2 build` writes archives into: UPDATE.EXE as the
// Win32 build links it, with an empty archive, carried inside qa2 when the
// build had a MinGW cross compiler.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qa2 {

// False when this qa2 was built without one.
bool CarriedStub(const uint8_t** data, size_t* size);

}  // namespace qa2
