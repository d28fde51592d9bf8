// Builds update archives (layout: archive/format.h): header, the members'
// data in the given order, each raised to 16 bytes with zeros, then the
// directory as one compressed stream (header flags 1). A member is
// compressed (entry flags 2) when that makes it smaller and it is not marked
// to be stored; otherwise it is kept as is (entry flags 1).
//
// ArchiveBuilder streams: members are read in pieces, their compressed
// streams go to a spool (the header needs every stored size before the first
// member's bytes), and the archive is handed out in pieces, so memory does
// not grow with the members. BuildArchive is the same over memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
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
  ReadFailed,        // a member could not be read (detail says why)
  MemberChanged,     // a member's reader gave another size than announced
  SpoolFailed,       // the spool could not be written or read (detail)
  OutputFailed,      // the sink refused the archive's bytes
  OutOfMemory,
};

struct BuildReport {
  BuildError error = BuildError::None;
  size_t member = 0;  // the member at fault
  size_t other = 0;   // DuplicateName: the earlier member of that name
  uint64_t size = 0;  // ArchiveTooLarge: the size it would have had
  std::string detail;  // ReadFailed, SpoolFailed: the cause
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

// A member for ArchiveBuilder: its bytes come from a MemberReader.
struct MemberSpec {
  std::string name;  // code page 932 bytes: the file name alone
  uint64_t size = 0;
  uint64_t fileTime = 0;
  bool store = false;
};

// One member's bytes in order.
class MemberReader {
 public:
  virtual ~MemberReader() = default;
  // Up to `capacity` bytes; *got = 0 at the end. False with *error (the
  // cause) when the bytes cannot be read.
  virtual bool Read(uint8_t* buffer, size_t capacity, size_t* got, std::string* error) = 0;
};

// Opens member `index` for reading from its start; may be called from
// several threads at once, and twice for a member kept stored.
using OpenMember = std::function<std::unique_ptr<MemberReader>(size_t index, std::string* error)>;

// Scratch room for the compressed streams until the archive is written.
// Used from one thread at a time.
class BuildSpool {
 public:
  virtual ~BuildSpool() = default;
  // Appends at end(); false with *error when the bytes cannot be kept.
  virtual bool Append(const uint8_t* data, size_t size, std::string* error) = 0;
  virtual uint64_t end() const = 0;
  // Drops everything from `end` on (a stream that came out no smaller).
  virtual void Truncate(uint64_t end) = 0;
  virtual bool ReadAt(uint64_t offset, uint8_t* buffer, size_t size, std::string* error) = 0;
};

// Receives the archive's bytes in order; false stops the build.
using ArchiveSink = std::function<bool(const uint8_t* data, size_t size)>;

class ArchiveBuilder {
 public:
  // Checks the names and sizes, compresses every member into `spool` and
  // lays out the archive. Members of a few MB are compressed side by side
  // on options.jobs threads; larger ones one after another, each on all of
  // them. False with *report on failure.
  bool Prepare(const std::vector<MemberSpec>& members, const OpenMember& open, BuildSpool* spool,
               const BuildOptions& options, BuildReport* report);
  // The archive's size once prepared.
  uint64_t size() const { return size_; }
  // Once prepared: the bytes member `i` of the present layout takes.
  uint64_t storedSize(size_t i) const { return storedSize_[i]; }
  // Once prepared: gives member `i` of the present layout another name (its
  // bytes stay); the next Relayout checks it.
  void RenameMember(size_t i, const std::string& name) { members_[i].name = name; }
  // Once prepared: lays the archive out again with only the members `keep`
  // names (indexes into the present layout, in that order), then `extra`
  // (small members given whole, compressed here when that makes them
  // smaller). Nothing kept is compressed again.
  bool Relayout(const std::vector<size_t>& keep, const std::vector<BuildMember>& extra, const BuildOptions& options,
                BuildReport* report);
  // Hands the archive to `sink` in pieces: stored members are read again,
  // compressed ones taken from the spool. May be called more than once.
  bool Write(const ArchiveSink& sink, BuildReport* report);

 private:
  std::vector<MemberSpec> members_;
  OpenMember open_;
  BuildSpool* spool_ = nullptr;
  bool LayOut(const BuildOptions& options, BuildReport* report);
  static constexpr size_t kSpooled = ~size_t(0);  // a member whose bytes only the spool holds
  std::vector<uint8_t> flags_;
  std::vector<size_t> source_;  // the index `open_` knows a member by
  std::vector<uint64_t> spoolOffset_, storedSize_;
  std::vector<uint8_t> directory_;  // compressed
  uint64_t directoryOffset_ = 0, size_ = 0;
};

// Lays out the archive into *image. On failure returns false, leaves *image
// empty and says why in *report.
bool BuildArchive(const std::vector<BuildMember>& members, const BuildOptions& options,
                  std::vector<uint8_t>* image, BuildReport* report);

const char* DescribeBuildError(BuildError error);
