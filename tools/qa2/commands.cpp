#include "tools/qa2/cli.h"

namespace qa2 {

int RunList(const std::vector<std::string>& args);
int RunExtract(const std::vector<std::string>& args);
int RunVerify(const std::vector<std::string>& args);
int RunDecompress(const std::vector<std::string>& args);

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"list", "ARCHIVE",
       "Lists the members in directory order: name, stored or compressed, size,\n"
       "stored size and time (UTC). Names are shown in UTF-8.",
       RunList},
      {"extract", "ARCHIVE -C DIR [NAME...]",
       "Extracts the named members (all when none is named) into DIR, which must\n"
       "exist, with their file times. Names are matched without regard to case;\n"
       "files are written under their UTF-8 names.",
       RunExtract},
      {"verify", "ARCHIVE",
       "Checks that the archive is well formed and that every member decodes to\n"
       "exactly its size. Prints each fault, naming the member, on stderr.",
       RunVerify},
      {"decompress", "IN OUT --size N",
       "Decodes one raw compressed stream IN into OUT, which must come to exactly\n"
       "N bytes.",
       RunDecompress},
  };
  return commands;
}

}  // namespace qa2
