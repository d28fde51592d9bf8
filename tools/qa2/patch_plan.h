// qa2 build --base: which members travel as patches against the versions
// players may hold, and which contents the updater's version gate accepts.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "archive/builder.h"
#include "tools/qa2/member_files.h"

namespace qa2 {

struct PatchPlanOptions {
  std::vector<std::string> bases;      // installations of earlier versions, as they lie on disk
  bool gate = false;                   // whole targets a base holds are gated too
  std::vector<std::string> keepWhole;  // members that travel whole (code page 932)
};

// Prepares `builder` with the update folder's members, their patches and
// the patch table. On success *members lists the archive's members in order,
// each with a file that holds its bytes (patches and the table in scratch
// files kept in *scratch), for reading the result back. Prints a line per
// member with a base content to `out` (unless null), warnings to stderr. Returns the exit
// code, having printed why when it is not 0.
int PrepareWithPatches(const char* command, const std::string& updateDir, const std::string& outPath,
                       const PatchPlanOptions& options, const BuildOptions& buildOptions, SpoolFile* spool,
                       ArchiveBuilder* builder, std::vector<FolderMember>* members,
                       std::vector<std::unique_ptr<SpoolFile>>* scratch, FILE* out);

// Prepares `builder` with what `qa2 build` packs of `updateDir`: its files
// as members (all kept stored with `storeAll`), or with bases, its files,
// patches and table (PrepareWithPatches). *members gets the archive's
// members in order, each with a file that holds its bytes. Returns the
// exit code, having printed why when it is not 0.
int PrepareFolder(const char* command, const std::string& updateDir, const std::string& outPath,
                  const PatchPlanOptions& patches, const BuildOptions& buildOptions, bool allowEmpty, bool storeAll,
                  SpoolFile* spool, ArchiveBuilder* builder, std::vector<FolderMember>* members,
                  std::vector<std::unique_ptr<SpoolFile>>* scratch, FILE* out);

// Whether an updater stub can apply patches (it reads the patch table).
bool StubAppliesPatches(const std::vector<uint8_t>& stub);

}  // namespace qa2
