// Puts an archive file into a copy of the updater stub as qa2 build does,
// without packing again: the benchmark's archives of a gigabyte take
// minutes to make, and the driver's UpdateResource runs out of a 32-bit
// process's memory on them.
//
//   qa_embed_archive STUB ARCHIVE OUT_EXE
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/pe/pe_writer.h"

namespace {
std::vector<uint8_t> ReadAll(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: qa_embed_archive STUB ARCHIVE OUT_EXE\n");
    return 2;
  }
  std::vector<uint8_t> stub = ReadAll(argv[1]), archive = ReadAll(argv[2]), exe;
  pe::WriteNotes notes;
  std::string why;
  if (stub.empty() || archive.empty() ||
      !pe::SetNamedTypeResource(stub, u"UPDATE", 102, 0x0411, archive, &exe, &notes, &why)) {
    std::fprintf(stderr, "qa_embed_archive: %s\n", why.empty() ? "cannot read the inputs" : why.c_str());
    return 1;
  }
  std::ofstream out(argv[3], std::ios::binary);
  out.write(reinterpret_cast<const char*>(exe.data()), std::streamsize(exe.size()));
  return out ? 0 : 1;
}
