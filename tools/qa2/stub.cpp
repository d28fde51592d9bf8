#include "tools/qa2/stub.h"

#ifdef QA_STUB_FILE
// The stub's bytes, included by the assembler: no generated source, and the
// object is rebuilt when the stub changes (OBJECT_DEPENDS in CMake).
asm(
#ifdef _WIN32
    ".section .rdata,\"dr\"\n"
#else
    ".section .rodata\n"
#endif
    ".balign 16\n"
    "qa2_stub_begin:\n"
    ".incbin \"" QA_STUB_FILE "\"\n"
    "qa2_stub_end:\n"
#ifdef _WIN32
    ".text\n");  // COFF has no .previous; the compiler names its sections anyway
#else
    ".previous\n");
#endif
extern "C" const uint8_t qa2_stub_begin[] asm("qa2_stub_begin");
extern "C" const uint8_t qa2_stub_end[] asm("qa2_stub_end");
#endif

namespace qa2 {

bool CarriedStub(const uint8_t** data, size_t* size) {
#ifdef QA_STUB_FILE
  *data = qa2_stub_begin;
  *size = size_t(qa2_stub_end - qa2_stub_begin);
  return *size != 0;
#else
  (void)data;
  (void)size;
  return false;
#endif
}

}  // namespace qa2
