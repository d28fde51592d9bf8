#include "tools/qa2/exe_input.h"

#include "tools/pe/pe_image.h"
#include "tools/pe/pe_resources.h"

namespace qa2 {

const char16_t kUpdateResourceType[] = u"UPDATE";

bool FindUpdateResource(const uint8_t* data, size_t size, size_t* offset, size_t* length,
                        std::string* error) {
  pe::PeImage image;
  std::string why;
  if (!pe::ParsePe(data, size, &image, &why)) {
    *error = "a PE file that cannot be read: " + why;
    return false;
  }
  pe::FileSpan span;
  if (!pe::FindNamedTypeResource(data, size, image, kUpdateResourceType, kUpdateResourceId, &span, &why)) {
    *error = "a PE file without an update archive (resource \"UPDATE\" 102): " + why;
    return false;
  }
  // The reader keeps the span inside the file; callers slice with it, so
  // say so where it is handed out.
  if (span.offset > size || span.size > size - span.offset) {
    *error = "a PE file whose update archive lies outside it";
    return false;
  }
  *offset = span.offset;
  *length = span.size;
  return true;
}

}  // namespace qa2
