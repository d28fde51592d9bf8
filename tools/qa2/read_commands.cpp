// The commands that read archives: list, extract, verify, decompress.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/decoder.h"
#include "platform/host/host_platform.h"
#include "platform/tool_support.h"
#include "tools/qa2/cli.h"
#include "tools/qa2/cp932.h"
#include "tools/qa2/display_width.h"
#include "tools/qa2/member_names.h"
#include "tools/qa2/patch_read.h"
#include "tools/qa2/exe_input.h"
#include "tools/pe/pe_image.h"

namespace qa2 {
namespace {

constexpr size_t kDecodePieceBuffer = size_t(1) << 20;

// The archive file mapped, not read: a large one costs no anonymous memory.
struct LoadedArchive {
  platform::MappedFile file;
  const uint8_t* image = nullptr;
  size_t size = 0;
  std::unique_ptr<UpdateArchive> archive;
};

// Maps and opens ARCHIVE (an UPDATE.EXE: its resource); prints the fault and
// returns its exit code.
int Load(const char* command, const std::string& path, LoadedArchive* out) {
  std::string error;
  if (!out->file.Open(path, &error)) return Fail(command, kExitIo, "cannot read " + path + ": " + error);
  out->image = out->file.data();
  out->size = size_t(out->file.size());
  if (pe::LooksLikePe(out->image, out->size)) {
    size_t offset = 0, length = 0;
    if (!FindUpdateResource(out->image, out->size, &offset, &length, &error))
      return Fail(command, kExitBadArchive, path + ": " + error);
    out->image += offset;
    out->size = length;
  }
  if (out->size > UINT32_MAX) return Fail(command, kExitBadArchive, path + ": larger than 4 GiB");
  if (out->size >= 4 && std::memcmp(out->image, kArchiveMagic, 4) != 0)
    return Fail(command, kExitBadArchive, path + ": not an archive (no \"QA2\" magic)");
  OpenReport report;
  out->archive = OpenUpdateArchive(ArchiveSource{out->image, uint32_t(out->size)}, &report);
  if (!out->archive) {
    return Fail(command, kExitBadArchive,
                path + ": " + platform::Cp932ToUtf8(DescribeOpenReport(report)));
  }
  return kExitOk;
}

std::string DisplayName(const ArchiveEntry& e) {
  return Cp932ToShown(MemberNameBytes(e), Shown::Name);
}

// The patch table and its patches: every patch a member of the archive,
// made for the sizes the table gives; with --base, applied to the base file
// of its version and checked against the new version's SHA-256.
int VerifyPatches(const std::string& path, const LoadedArchive& a, const std::vector<std::string>& bases) {
  std::vector<PatchTarget> table;
  if (!ReadPatchTable(*a.archive, a.image, a.size, &table)) {
    Fail("verify", kExitBadArchive, path + ": its patch table " + kPatchTableName + " is malformed");
    return 1;
  }
  int faults = 0;
  BaseFiles baseFiles(bases);
  for (const PatchTarget& t : table) {
    const std::string shown = platform::Cp932ToUtf8(t.name);
    const bool whole = FindArchiveMember(*a.archive, t.name, nullptr) >= 0;
    for (const PatchBase& b : t.bases) {
      const std::string from = shown + " from " + std::to_string(b.size) + " B";
      if (!b.patch[0]) {
        if (!whole) {
          ++faults;
          Fail("verify", kExitBadArchive, path + ": " + from + ": neither a patch nor the whole member");
        }
        continue;
      }
      const int32_t index = FindArchiveMember(*a.archive, b.patch, nullptr);
      if (index < 0) {
        ++faults;
        Fail("verify", kExitBadArchive, path + ": " + from + ": no patch member " + platform::Cp932ToUtf8(b.patch));
        continue;
      }
      const std::string oldPath = baseFiles.Find(b.size, b.hash);
      if (oldPath.empty()) {
        std::printf("%s: patch %s: %llu B -> %llu B%s\n", shown.c_str(), platform::Cp932ToUtf8(b.patch).c_str(),
                    (unsigned long long)b.size, (unsigned long long)t.newSize,
                    bases.empty() ? "" : " (no --base file holds that version: not applied)");
        continue;
      }
      const std::string error = ApplyArchivePatch(*a.archive, a.image, a.size, t, b, oldPath, nullptr);
      if (!error.empty()) {
        ++faults;
        Fail("verify", kExitBadArchive, path + ": " + from + " (" + oldPath + "): " + error);
      } else {
        std::printf("%s: patch %s: %llu B -> %llu B, applied to %s: ok\n", shown.c_str(),
                    platform::Cp932ToUtf8(b.patch).c_str(), (unsigned long long)b.size,
                    (unsigned long long)t.newSize, oldPath.c_str());
      }
    }
  }
  return faults;
}

}  // namespace

int RunList(const std::vector<std::string>& args) {
  if (args.size() != 1) return Fail("list", kExitUsage, "expects ARCHIVE (see qa2 list --help)");
  LoadedArchive a;
  if (int rc = Load("list", args[0], &a)) return rc;
  // The name column by display width: a full-width character takes two.
  std::printf("%s %-10s %12s %12s  %s\n", PadToWidth("name", 16).c_str(), "kind", "size", "stored",
              "time (UTC)");
  for (uint32_t i = 0; i < a.archive->entryCount(); ++i) {
    ArchiveEntry e = a.archive->entry(i);
    std::printf("%s %-10s %12u %12u  %s\n", PadToWidth(DisplayName(e), 16).c_str(),
                e.IsCompressed() ? "compressed" : "stored", e.fileSize, e.storedSize,
                FormatFileTime(e.fileTime).c_str());
  }
  std::vector<PatchTarget> table;
  if (!ReadPatchTable(*a.archive, a.image, a.size, &table))
    return Fail("list", kExitBadArchive, args[0] + ": its patch table " + kPatchTableName + " is malformed");
  PrintPatchTable(table);
  return kExitOk;
}

int RunExtract(const std::vector<std::string>& args) {
  std::string archivePath, folder;
  std::vector<std::string> names, bases;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-C" && i + 1 < args.size()) {
      folder = args[++i];
    } else if (args[i] == "--base" && i + 1 < args.size()) {
      bases.push_back(args[++i]);
    } else if (archivePath.empty()) {
      archivePath = args[i];
    } else {
      names.push_back(args[i]);
    }
  }
  if (archivePath.empty() || folder.empty())
    return Fail("extract", kExitUsage, "expects ARCHIVE -C DIR [--base DIR]... [NAME...] (see qa2 extract --help)");
  LoadedArchive a;
  if (int rc = Load("extract", archivePath, &a)) return rc;
  if (platform::Os().GetFileAttributes(folder.c_str()) == platform::kInvalidAttributes)
    return Fail("extract", kExitIo, "no folder " + folder);
  std::vector<PatchTarget> table;
  if (!ReadPatchTable(*a.archive, a.image, a.size, &table))
    return Fail("extract", kExitBadArchive, archivePath + ": its patch table " + kPatchTableName + " is malformed");
  // With --base, the members carried only as patches are made from the
  // base's files; the patches themselves are not written.
  std::vector<const PatchTarget*> patchOnly;
  for (const PatchTarget& t : table)
    if (FindArchiveMember(*a.archive, t.name, nullptr) < 0) patchOnly.push_back(&t);

  std::vector<uint32_t> chosen;
  if (names.empty()) {
    for (uint32_t i = 0; i < a.archive->entryCount(); ++i) {
      // A later entry with an earlier one's name is never reached by name.
      if (FindArchiveMember(*a.archive, a.archive->entry(i).name, nullptr) == int32_t(i) &&
          (bases.empty() || !IsReservedMemberName(a.archive->entry(i).name)))
        chosen.push_back(i);
    }
  }
  std::vector<const PatchTarget*> patched = names.empty() && !bases.empty() ? patchOnly
                                                                            : std::vector<const PatchTarget*>();
  int rc = kExitOk;
  for (const std::string& name : names) {
    const PatchTarget* record = nullptr;
    for (const PatchTarget* t : patchOnly)
      if (ArchiveNamesEqual(t->name, name.c_str()) || platform::Cp932ToUtf8(t->name) == name) record = t;
    if (record && !bases.empty()) {
      patched.push_back(record);
      continue;
    }
    int32_t index = -1;
    for (uint32_t i = 0; i < a.archive->entryCount() && index < 0; ++i)
      if (DisplayName(a.archive->entry(i)) == name ||
          platform::Cp932ToUtf8(MemberNameBytes(a.archive->entry(i))) == name ||
          ArchiveNamesEqual(a.archive->entry(i).name, name.c_str()))
        index = int32_t(i);
    if (index < 0) {
      rc = Fail("extract", kExitBadArchive, "no member " + name);
      continue;
    }
    chosen.push_back(uint32_t(index));
  }
  for (uint32_t i : chosen) {
    ArchiveEntry e = a.archive->entry(i);
    std::string fileName;
    std::string unsafe = UnsafeMemberNameReason(MemberNameBytes(e), &fileName);
    if (!unsafe.empty()) {
      rc = Fail("extract", kExitBadArchive,
                "member " + std::to_string(i) + " '" + DisplayName(e) + "' not extracted: " + unsafe);
      continue;
    }
    std::string dest = folder + "/" + fileName;
    ExtractOutcome outcome = ExtractMember(*a.archive, a.image, a.size,
                                           dest.c_str(), e.name, false);
    switch (outcome.status) {
      case ExtractStatus::Written:
      case ExtractStatus::LeftNewer:
        std::printf("%s\n", dest.c_str());
        break;
      case ExtractStatus::NoSpace:
        rc = Fail("extract", kExitIo, dest + ": not enough disk space");
        break;
      case ExtractStatus::CorruptMember:
        rc = Fail("extract", kExitBadArchive,
                  DisplayName(e) + ": data does not decode to its size (" +
                      DescribeDecodeError(outcome.decode) + ")");
        break;
      case ExtractStatus::DestinationIsFolder:
        rc = Fail("extract", kExitIo, dest + " is a folder");
        break;
      default:
        rc = Fail("extract", kExitIo, dest + ": cannot write");
        break;
    }
  }
  BaseFiles baseFiles(bases);
  for (const PatchTarget* t : patched) {
    const std::string shown = platform::Cp932ToUtf8(t->name);
    std::string fileName;
    const std::string unsafe = UnsafeMemberNameReason(t->name, &fileName);
    if (!unsafe.empty()) {
      rc = Fail("extract", kExitBadArchive, "patched member '" + shown + "' not extracted: " + unsafe);
      continue;
    }
    const PatchBase* base = nullptr;
    std::string oldPath;
    for (const PatchBase& b : t->bases) {
      if (base || !b.patch[0]) continue;
      oldPath = baseFiles.Find(b.size, b.hash);
      if (!oldPath.empty()) base = &b;
    }
    if (!base) {
      rc = Fail("extract", kExitBadArchive,
                shown + ": carried only as patches, and no --base file is a version they start from");
      continue;
    }
    const std::string dest = folder + "/" + fileName;
    std::unique_ptr<platform::ReplacementFile> file = platform::Os().BeginReplacement(dest.c_str());
    if (!file) {
      rc = Fail("extract", kExitIo, dest + ": cannot write");
      continue;
    }
    bool writeFailed = false;
    const std::string error = ApplyArchivePatch(*a.archive, a.image, a.size, *t, *base, oldPath,
                                                [&](const uint8_t* data, size_t size) {
                                                  writeFailed = !file->Write(data, uint32_t(size));
                                                  return !writeFailed;
                                                });
    if (writeFailed || (error.empty() && !file->Commit(&t->fileTime))) {
      rc = Fail("extract", kExitIo, dest + ": cannot write");
    } else if (!error.empty()) {
      rc = Fail("extract", kExitBadArchive, shown + " from " + oldPath + ": " + error);
    } else {
      std::printf("%s (patched from %s)\n", dest.c_str(), oldPath.c_str());
    }
  }
  return rc;
}

int RunVerify(const std::vector<std::string>& given) {
  std::vector<std::string> args, bases;
  for (size_t i = 0; i < given.size(); ++i) {
    if (given[i] == "--base" && i + 1 < given.size()) bases.push_back(given[++i]);
    else args.push_back(given[i]);
  }
  if (args.size() != 1) return Fail("verify", kExitUsage, "expects ARCHIVE [--base DIR]... (see qa2 verify --help)");
  LoadedArchive a;
  if (int rc = Load("verify", args[0], &a)) return rc;
  const UpdateArchive& archive = *a.archive;
  const ArchiveHeader header = archive.header();
  int faults = 0;
  auto fault = [&](uint32_t i, const std::string& what) {
    ++faults;
    Fail("verify", kExitBadArchive,
         args[0] + ": member " + std::to_string(i) + " '" + DisplayName(archive.entry(i)) + "': " + what);
  };
  // Members are decoded in pieces: a large one needs no buffer of its size.
  std::vector<uint8_t> window(kDecodePieceBuffer);
  uint64_t offset = kArchiveHeaderSize;
  for (uint32_t i = 0; i < archive.entryCount(); ++i) {
    ArchiveEntry e = archive.entry(i);
    if (offset + e.storedSize > header.directoryOffset)
      fault(i, "data runs into the directory");
    int32_t first = FindArchiveMember(archive, e.name, nullptr);
    if (first != int32_t(i))
      fault(i, "same name as member " + std::to_string(first) + " (only the first is reachable)");
    if (e.name[0] == '\0') fault(i, "empty name");
    std::string fileName, unsafe = UnsafeMemberNameReason(MemberNameBytes(e), &fileName);
    if (e.name[0] != '\0' && !unsafe.empty()) fault(i, "name cannot be a file name: " + unsafe);
    if (e.IsCompressed() && !CompressedSizeClaimFits(e.fileSize, e.storedSize)) {
      fault(i, "size " + std::to_string(e.fileSize) + " is more than a stream of " +
                   std::to_string(e.storedSize) + " bytes can decode to");
    } else if (e.IsCompressed()) {
      ChunkedDecoder decoder(a.image + offset, e.storedSize, e.fileSize, window.data(),
                             window.size());
      const uint8_t* piece;
      size_t pieceSize;
      while (decoder.Next(&piece, &pieceSize)) {
      }
      DecodeResult r = decoder.result();
      if (!r.ok())
        fault(i, std::string("stream is corrupt: ") + DescribeDecodeError(r.error));
      else if (r.written != e.fileSize)
        fault(i, "stream decodes to " + std::to_string(r.written) + " bytes, size says " +
                     std::to_string(e.fileSize));
    }
    offset += AlignedStoredSize(e.storedSize);
  }
  faults += VerifyPatches(args[0], a, bases);
  if (faults) return kExitBadArchive;
  std::printf("%s: ok, %u members\n", args[0].c_str(), archive.entryCount());
  return kExitOk;
}

int RunDecompress(const std::vector<std::string>& args) {
  std::string in, out;
  uint32_t size = 0;
  bool haveSize = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--size" && i + 1 < args.size()) {
      if (!ParseSize(args[++i], &size)) return Fail("decompress", kExitUsage, "bad --size " + args[i]);
      haveSize = true;
    } else if (in.empty()) {
      in = args[i];
    } else if (out.empty()) {
      out = args[i];
    } else {
      return Fail("decompress", kExitUsage, "unexpected argument " + args[i]);
    }
  }
  if (in.empty() || out.empty() || !haveSize)
    return Fail("decompress", kExitUsage, "expects IN OUT --size N (see qa2 decompress --help)");
  platform::MappedFile stream;
  std::string error;
  if (!stream.Open(in, &error)) return Fail("decompress", kExitIo, "cannot read " + in + ": " + error);
  if (!CompressedSizeClaimFits(size, stream.size()))
    return Fail("decompress", kExitBadArchive,
                in + ": a stream of " + std::to_string(stream.size()) + " bytes cannot decode to " +
                    std::to_string(size) + " bytes");
  // Decoded in pieces and written as they come: no output-sized buffer to
  // fault in, and memory that does not grow with the output.
  std::vector<uint8_t> window(kDecodePieceBuffer);
  ChunkedDecoder decoder(stream.data(), size_t(stream.size()), size, window.data(), window.size());
  OutputFile output(out);
  if (!output.ok()) return Fail("decompress", kExitIo, "cannot create " + out + ": " + std::strerror(errno));
  const uint8_t* piece;
  size_t pieceSize;
  while (decoder.Next(&piece, &pieceSize))
    if (!output.Write(piece, pieceSize, &error)) return Fail("decompress", kExitIo, error);
  DecodeResult r = decoder.result();
  if (!r.ok())
    return Fail("decompress", kExitBadArchive,
                in + ": " + DescribeDecodeError(r.error) + " at input byte " + std::to_string(r.consumed) +
                    ", output byte " + std::to_string(r.written));
  if (r.written != size)
    return Fail("decompress", kExitBadArchive,
                in + ": decodes to " + std::to_string(r.written) + " bytes, not " + std::to_string(size));
  if (!output.Commit(&error)) return Fail("decompress", kExitIo, error);
  return kExitOk;
}

}  // namespace qa2
