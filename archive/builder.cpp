#include "archive/builder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "archive/format.h"
#include "archive/stream_compressor.h"
#include "platform/codepage.h"
#include "platform/name_fold.h"

namespace {

uint8_t FoldAscii(uint8_t c) { return (c >= 'a' && c <= 'z') ? uint8_t(c - 32) : c; }

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices on Windows whatever
// extension follows; trailing spaces before the dot are dropped too.
bool IsReservedDeviceName(const std::string& name) {
  size_t stem = name.find('.');
  if (stem == std::string::npos) stem = name.size();
  while (stem > 0 && name[stem - 1] == ' ') --stem;
  std::string upper;
  for (size_t i = 0; i < stem; ++i) upper.push_back(char(FoldAscii(uint8_t(name[i]))));
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") return true;
  return upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
         upper[3] >= '1' && upper[3] <= '9';
}

bool Fail(BuildReport* report, BuildError error, size_t member) {
  report->error = error;
  report->member = member;
  return false;
}


constexpr size_t kPiece = size_t(1) << 20;
// Members up to this size are compressed side by side, one per thread, with
// their stream kept in memory; larger ones one at a time on every thread.
constexpr uint64_t kSideBySideMax = uint64_t(4) << 20;

unsigned JobCount(unsigned asked, size_t work) {
  unsigned jobs = asked ? asked : std::thread::hardware_concurrency();
  if (jobs == 0) jobs = 1;
  if (work && jobs > work) jobs = unsigned(work);
  return jobs;
}

struct MemberOutcome {
  bool compressed = false;
  BuildError error = BuildError::None;
  std::string detail;
};

// Reads member `index` through a StreamCompressor whose bytes go to `emit`.
// `emit` returns false to give up once the stream is no smaller than the
// member; the member then stays stored.
MemberOutcome CompressMember(const MemberSpec& m, size_t index, const OpenMember& open, CompressionMode mode,
                             unsigned jobs, const std::function<bool(const uint8_t*, size_t)>& emit,
                             const std::function<void(uint64_t)>& progress) {
  MemberOutcome out;
  std::string error;
  std::unique_ptr<MemberReader> reader = open(index, &error);
  if (!reader) {
    out.error = BuildError::ReadFailed;
    out.detail = error;
    return out;
  }
  bool gaveUp = false, emitFailed = false;
  uint64_t produced = 0;
  StreamCompressor compressor(mode, jobs, [&](const uint8_t* data, size_t size) {
    produced += size;
    if (produced >= m.size) {
      gaveUp = true;
      return false;
    }
    if (!emit(data, size)) {
      emitFailed = true;
      return false;
    }
    return true;
  });
  std::vector<uint8_t> buffer(size_t(std::min<uint64_t>(kPiece, m.size)));
  uint64_t read = 0;
  for (;;) {
    size_t got = 0;
    if (!reader->Read(buffer.data(), buffer.size(), &got, &error)) {
      out.error = BuildError::ReadFailed;
      out.detail = error;
      return out;
    }
    if (got == 0) break;
    read += got;
    if (read > m.size) break;
    if (!compressor.Write(buffer.data(), got)) break;
    if (progress) progress(read);
  }
  if (gaveUp) return out;  // stored; the rest is read when it is written
  if (compressor.error() == CompressError::None) {
    if (read != m.size) {
      out.error = BuildError::MemberChanged;
      return out;
    }
    compressor.Finish();
    if (gaveUp) return out;
  }
  switch (compressor.error()) {
    case CompressError::None:
      out.compressed = true;
      break;
    case CompressError::OutOfMemory:
      out.error = BuildError::OutOfMemory;
      break;
    case CompressError::TooLarge:
      break;  // cannot happen below 4 GiB; kept stored
    case CompressError::SinkFailed:
      out.error = emitFailed ? BuildError::SpoolFailed : BuildError::None;
      break;
  }
  return out;
}

}  // namespace

bool ArchiveBuilder::Prepare(const std::vector<MemberSpec>& members, const OpenMember& open, BuildSpool* spool,
                             const BuildOptions& options, BuildReport* report) {
  BuildReport ignored;
  if (!report) report = &ignored;
  *report = BuildReport();
  members_ = members;
  open_ = open;
  spool_ = spool;
  spool_->Truncate(0);
  const size_t count = members.size();
  flags_.assign(count, ENTRY_FLAG_STORED);
  source_.resize(count);
  for (size_t i = 0; i < count; ++i) source_[i] = i;
  spoolOffset_.assign(count, 0);
  storedSize_.assign(count, 0);
  directory_.clear();
  size_ = 0;

  uint64_t total = 0;
  for (size_t i = 0; i < count; ++i) {
    const MemberSpec& m = members[i];
    BuildError nameError = CheckMemberName(m.name);
    if (nameError != BuildError::None) return Fail(report, nameError, i);
    for (size_t j = 0; j < i; ++j) {
      if (SameMemberName(members[j].name, m.name)) {
        report->other = j;
        return Fail(report, BuildError::DuplicateName, i);
      }
    }
    if (m.size > 0xFFFFFFFFu) return Fail(report, BuildError::MemberTooLarge, i);
    storedSize_[i] = m.size;
    total += m.size;
  }

  // Large members first, each on every thread; their streams go straight to
  // the spool and are cut off there when they stop being smaller.
  uint64_t done = 0;
  std::vector<size_t> sideBySide;
  for (size_t i = 0; i < count; ++i) {
    const MemberSpec& m = members[i];
    if (m.store || m.size == 0) {
      done += m.size;
      continue;
    }
    if (m.size <= kSideBySideMax) {
      sideBySide.push_back(i);
      continue;
    }
    const uint64_t start = spool->end();
    std::string spoolError;
    MemberOutcome outcome = CompressMember(
        m, i, open, options.mode, options.jobs,
        [&](const uint8_t* data, size_t size) { return spool->Append(data, size, &spoolError); },
        [&](uint64_t part) {
          if (options.progress) options.progress(done + part, total);
        });
    if (outcome.error != BuildError::None) {
      report->detail = outcome.error == BuildError::SpoolFailed ? spoolError : outcome.detail;
      return Fail(report, outcome.error, i);
    }
    if (outcome.compressed) {
      flags_[i] = ENTRY_FLAG_COMPRESSED;
      spoolOffset_[i] = start;
      storedSize_[i] = spool->end() - start;
    } else {
      spool->Truncate(start);
    }
    done += m.size;
    if (options.progress) options.progress(done, total);
  }

  // Small members side by side, largest first so that no long one starts
  // last and runs alone; each stream is kept whole and spooled under a lock.
  std::stable_sort(sideBySide.begin(), sideBySide.end(),
                   [&](size_t a, size_t b) { return members[a].size > members[b].size; });
  const unsigned jobs = JobCount(options.jobs, sideBySide.size());
  std::unique_ptr<std::atomic<uint64_t>[]> partDone(new std::atomic<uint64_t>[count]);
  for (size_t i = 0; i < count; ++i) partDone[i] = 0;
  std::atomic<size_t> next{0};
  std::atomic<unsigned> working{0};
  std::mutex spoolLock;
  std::vector<std::exception_ptr> failures(jobs);
  std::vector<MemberOutcome> outcomes(count);

  uint64_t shown = UINT64_MAX;
  auto show = [&] {
    if (!options.progress) return;
    uint64_t sum = done;
    for (size_t i : sideBySide) sum += partDone[i].load();
    if (sum != shown) options.progress(sum, total);
    shown = sum;
  };
  // Run on the calling thread alone, a worker shows progress as it goes;
  // beside others it only writes atomics, which the caller polls.
  bool onCaller = false;
  auto worker = [&](unsigned slot) {
    try {
      std::vector<uint8_t> stream;
      for (size_t k; (k = next.fetch_add(1)) < sideBySide.size();) {
        const size_t i = sideBySide[k];
        stream.clear();
        MemberOutcome outcome = CompressMember(
            members[i], i, open, options.mode, 1,
            [&](const uint8_t* data, size_t size) {
              stream.insert(stream.end(), data, data + size);
              return true;
            },
            [&, i](uint64_t part) {
              partDone[i] = part;
              if (onCaller) show();
            });
        if (outcome.compressed) {
          std::lock_guard<std::mutex> hold(spoolLock);
          spoolOffset_[i] = spool->end();
          if (spool->Append(stream.data(), stream.size(), &outcome.detail)) {
            flags_[i] = ENTRY_FLAG_COMPRESSED;
            storedSize_[i] = stream.size();
          } else {
            outcome.error = BuildError::SpoolFailed;
          }
        }
        partDone[i] = members[i].size;
        if (onCaller) show();
        if (outcome.error != BuildError::None) next = sideBySide.size();
        outcomes[i] = std::move(outcome);
      }
    } catch (...) {
      failures[slot] = std::current_exception();
      next = sideBySide.size();
    }
    --working;
  };

  std::vector<std::thread> threads;
  if (jobs > 1) {
    for (unsigned t = 0; t < jobs; ++t) {
      ++working;
      try {
        threads.emplace_back(worker, t);
      } catch (const std::system_error&) {
        // No more threads to be had: those started, or this one, do the work.
        --working;
        break;
      }
    }
  }
  if (threads.empty()) {
    onCaller = true;
    ++working;
    worker(0);
  } else if (options.progress) {
    while (working.load() > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      show();
    }
  }
  for (std::thread& t : threads) t.join();
  show();
  for (const std::exception_ptr& failure : failures)
    if (failure) std::rethrow_exception(failure);
  for (size_t i : sideBySide) {
    if (outcomes[i].error != BuildError::None) {
      report->detail = outcomes[i].detail;
      return Fail(report, outcomes[i].error, i);
    }
  }

  return LayOut(options, report);
}

bool ArchiveBuilder::LayOut(const BuildOptions& options, BuildReport* report) {
  const size_t count = members_.size();
  std::vector<uint8_t> directory(count * size_t(kArchiveEntrySize), 0);
  uint64_t offset = kArchiveHeaderSize;
  for (size_t i = 0; i < count; ++i) {
    const MemberSpec& m = members_[i];
    ArchiveEntry e{};
    std::memcpy(e.name, m.name.data(), m.name.size());  // the rest stays zero
    e.flags = flags_[i];
    e.fileTime = m.fileTime;
    e.fileSize = uint32_t(m.size);
    e.storedSize = uint32_t(storedSize_[i]);
    e.Store(directory.data() + i * kArchiveEntrySize);
    offset += AlignedStoredSize(e.storedSize);
  }
  CompressedStream packedDirectory;
  if (offset > 0xFFFFFFFFu ||
      !CompressArchiveStream(directory.data(), directory.size(), options.mode, &packedDirectory)) {
    report->size = offset + directory.size();
    return Fail(report, BuildError::ArchiveTooLarge, 0);
  }
  const uint64_t size = offset + packedDirectory.bytes.size();
  if (size > options.sizeLimit || size > 0xFFFFFFFFu) {
    report->size = size;
    return Fail(report, BuildError::ArchiveTooLarge, 0);
  }
  directory_ = std::move(packedDirectory.bytes);
  directoryOffset_ = offset;
  size_ = size;
  return true;
}

bool ArchiveBuilder::Relayout(const std::vector<size_t>& keep, const std::vector<BuildMember>& extra,
                              const BuildOptions& options, BuildReport* report) {
  BuildReport ignored;
  if (!report) report = &ignored;
  *report = BuildReport();
  std::vector<MemberSpec> members;
  std::vector<uint8_t> flags;
  std::vector<size_t> source;
  std::vector<uint64_t> spoolOffset, storedSize;
  for (size_t i : keep) {
    const size_t index = members.size();
    BuildError nameError = CheckMemberName(members_[i].name);
    if (nameError != BuildError::None) return Fail(report, nameError, index);
    for (const MemberSpec& earlier : members)
      if (SameMemberName(earlier.name, members_[i].name)) return Fail(report, BuildError::DuplicateName, index);
    members.push_back(members_[i]);
    flags.push_back(flags_[i]);
    source.push_back(source_[i]);
    spoolOffset.push_back(spoolOffset_[i]);
    storedSize.push_back(storedSize_[i]);
  }
  for (const BuildMember& m : extra) {
    const size_t index = members.size();
    MemberSpec spec;
    spec.name = m.name;
    spec.size = m.data.size();
    spec.fileTime = m.fileTime;
    BuildError nameError = CheckMemberName(m.name);
    if (nameError != BuildError::None) return Fail(report, nameError, index);
    for (const MemberSpec& earlier : members)
      if (SameMemberName(earlier.name, m.name)) return Fail(report, BuildError::DuplicateName, index);
    if (m.data.size() > 0xFFFFFFFFu) return Fail(report, BuildError::MemberTooLarge, index);
    // Kept in the spool either way: there is no file to read it from again.
    CompressedStream packed;
    const bool compress = !m.store && !m.data.empty() &&
                          CompressArchiveStream(m.data.data(), m.data.size(), options.mode, &packed) &&
                          packed.bytes.size() < m.data.size();
    const std::vector<uint8_t>& bytes = compress ? packed.bytes : m.data;
    spoolOffset.push_back(spool_->end());
    if (!spool_->Append(bytes.data(), bytes.size(), &report->detail)) return Fail(report, BuildError::SpoolFailed, index);
    members.push_back(spec);
    flags.push_back(compress ? ENTRY_FLAG_COMPRESSED : ENTRY_FLAG_STORED);
    source.push_back(kSpooled);
    storedSize.push_back(bytes.size());
  }
  members_ = std::move(members);
  flags_ = std::move(flags);
  source_ = std::move(source);
  spoolOffset_ = std::move(spoolOffset);
  storedSize_ = std::move(storedSize);
  return LayOut(options, report);
}

bool ArchiveBuilder::Write(const ArchiveSink& sink, BuildReport* report) {
  BuildReport ignored;
  if (!report) report = &ignored;
  *report = BuildReport();
  auto put = [&](const uint8_t* data, size_t size) {
    if (size == 0 || sink(data, size)) return true;
    report->error = BuildError::OutputFailed;
    return false;
  };
  uint8_t head[kArchiveHeaderSize];
  ArchiveHeader header{{kArchiveMagic[0], kArchiveMagic[1], kArchiveMagic[2], kArchiveMagic[3]},
                       ARCHIVE_FLAG_COMPRESSED_DIRECTORY, uint32_t(directoryOffset_),
                       uint32_t(members_.size())};
  header.Store(head);
  if (!put(head, sizeof head)) return false;

  std::vector<uint8_t> buffer(kPiece);
  static const uint8_t kZeros[16] = {};
  for (size_t i = 0; i < members_.size(); ++i) {
    const uint64_t length = storedSize_[i];
    if (flags_[i] == ENTRY_FLAG_COMPRESSED || source_[i] == kSpooled) {
      for (uint64_t at = 0; at < length;) {
        const size_t n = size_t(std::min<uint64_t>(buffer.size(), length - at));
        if (!spool_->ReadAt(spoolOffset_[i] + at, buffer.data(), n, &report->detail)) {
          report->error = BuildError::SpoolFailed;
          report->member = i;
          return false;
        }
        if (!put(buffer.data(), n)) return false;
        at += n;
      }
    } else if (length > 0) {
      std::unique_ptr<MemberReader> reader = open_(source_[i], &report->detail);
      if (!reader) return Fail(report, BuildError::ReadFailed, i);
      uint64_t at = 0;
      for (;;) {
        size_t got = 0;
        if (!reader->Read(buffer.data(), buffer.size(), &got, &report->detail))
          return Fail(report, BuildError::ReadFailed, i);
        if (got == 0) break;
        if (got > length - at) return Fail(report, BuildError::MemberChanged, i);
        if (!put(buffer.data(), got)) return false;
        at += got;
      }
      if (at != length) return Fail(report, BuildError::MemberChanged, i);
    }
    if (!put(kZeros, size_t(AlignedStoredSize(uint32_t(length)) - length))) return false;
  }
  return put(directory_.data(), directory_.size());
}

namespace {

class VectorReader : public MemberReader {
 public:
  explicit VectorReader(const std::vector<uint8_t>& data) : data_(data) {}
  bool Read(uint8_t* buffer, size_t capacity, size_t* got, std::string*) override {
    *got = std::min(capacity, data_.size() - at_);
    if (*got) std::memcpy(buffer, data_.data() + at_, *got);
    at_ += *got;
    return true;
  }

 private:
  const std::vector<uint8_t>& data_;
  size_t at_ = 0;
};

class VectorSpool : public BuildSpool {
 public:
  bool Append(const uint8_t* data, size_t size, std::string*) override {
    bytes_.insert(bytes_.end(), data, data + size);
    return true;
  }
  uint64_t end() const override { return bytes_.size(); }
  void Truncate(uint64_t end) override { bytes_.resize(size_t(end)); }
  bool ReadAt(uint64_t offset, uint8_t* buffer, size_t size, std::string*) override {
    std::memcpy(buffer, bytes_.data() + offset, size);
    return true;
  }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace

BuildError CheckMemberName(const std::string& name) {
  if (name.empty()) return BuildError::EmptyName;
  if (name.size() > kArchiveNameMax) return BuildError::NameTooLong;
  if (name == "." || name == "..") return BuildError::BadName;
  for (size_t i = 0; i < name.size(); ++i) {
    uint8_t c = uint8_t(name[i]);
    if (platform::IsLeadByte(c)) {
      // A trail byte may be '\' (0x5C in U+8868): it is no separator.
      if (i + 1 >= name.size() || name[i + 1] == '\0') return BuildError::BadName;
      ++i;
      continue;
    }
    if (c == '\\' || c == '/' || c == ':') return BuildError::NameHasFolder;
    if (c < 0x20 || c == 0x7F || std::strchr("<>\"|?*", c)) return BuildError::BadName;
  }
  if (IsReservedDeviceName(name)) return BuildError::ReservedName;
  // Windows drops a trailing dot or space, so the file would get another name.
  char last = name.back();
  if ((last == '.' || last == ' ') &&
      !(name.size() >= 2 && platform::IsLeadByte(uint8_t(name[name.size() - 2]))))
    return BuildError::BadName;
  return BuildError::None;
}

bool SameMemberName(const std::string& a, const std::string& b) {
  // As the updater looks members up; a name holds no zero byte.
  return platform::SameNameIgnoringCase(a.c_str(), b.c_str());
}

bool BuildArchive(const std::vector<BuildMember>& members, const BuildOptions& options,
                  std::vector<uint8_t>* image, BuildReport* report) {
  BuildReport ignored;
  if (!report) report = &ignored;
  image->clear();
  std::vector<MemberSpec> specs(members.size());
  for (size_t i = 0; i < members.size(); ++i)
    specs[i] = MemberSpec{members[i].name, members[i].data.size(), members[i].fileTime, members[i].store};
  VectorSpool spool;
  ArchiveBuilder builder;
  OpenMember open = [&](size_t i, std::string*) { return std::unique_ptr<MemberReader>(new VectorReader(members[i].data)); };
  if (!builder.Prepare(specs, open, &spool, options, report)) return false;
  image->reserve(size_t(builder.size()));
  return builder.Write(
      [&](const uint8_t* data, size_t size) {
        image->insert(image->end(), data, data + size);
        return true;
      },
      report);
}

const char* DescribeBuildError(BuildError error) {
  switch (error) {
    case BuildError::None: return "ok";
    case BuildError::EmptyName: return "empty member name";
    case BuildError::NameTooLong: return "name longer than 14 bytes in code page 932";
    case BuildError::NameHasFolder: return "name has a folder or drive part";
    case BuildError::BadName: return "not a valid Windows file name";
    case BuildError::ReservedName: return "a device name that Windows reserves (CON, NUL, COM1...)";
    case BuildError::DuplicateName: return "same name as an earlier member (case is ignored)";
    case BuildError::MemberTooLarge: return "larger than 4 GiB - 1 bytes";
    case BuildError::ArchiveTooLarge: return "the archive would pass 4 GiB - 1 bytes";
    case BuildError::ReadFailed: return "cannot be read";
    case BuildError::MemberChanged: return "changed size while it was being read";
    case BuildError::SpoolFailed: return "the temporary file for compressed members failed";
    case BuildError::OutputFailed: return "the archive could not be written";
    case BuildError::OutOfMemory: return "out of memory";
  }
  return "unknown build error";
}
