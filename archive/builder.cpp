#include "archive/builder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>

#include "archive/format.h"
#include "platform/codepage.h"

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


// Compresses one member into *stream; false when it stays stored.
bool CompressMember(const BuildMember& m, CompressionMode mode, const CompressProgress& progress,
                    std::vector<uint8_t>* stream) {
  if (m.store || m.data.empty()) return false;
  CompressedStream s;
  if (!CompressArchiveStream(m.data.data(), m.data.size(), mode, &s, progress) ||
      s.bytes.size() >= m.data.size())
    return false;
  *stream = std::move(s.bytes);
  return true;
}

unsigned JobCount(unsigned asked, size_t work) {
  unsigned jobs = asked ? asked : std::thread::hardware_concurrency();
  if (jobs == 0) jobs = 1;
  if (jobs > work) jobs = unsigned(work ? work : 1);
  return jobs;
}

// Every member is compressed on its own, so the members may be taken in any
// order by any thread and the streams are the same as one thread's. The
// progress callback stays on the calling thread: workers publish their bytes
// done in atomics, and the caller sums them while it waits.
void CompressMembers(const std::vector<BuildMember>& members, const BuildOptions& options,
                     uint64_t total, std::vector<std::vector<uint8_t>>* streams,
                     std::vector<uint8_t>* flags) {
  std::vector<size_t> work;
  for (size_t i = 0; i < members.size(); ++i)
    if (!members[i].store && !members[i].data.empty()) work.push_back(i);
  const unsigned jobs = JobCount(options.jobs, work.size());

  if (jobs <= 1) {
    uint64_t done = 0;
    for (size_t i = 0; i < members.size(); ++i) {
      CompressProgress progress;
      if (options.progress) progress = [&](size_t part) { options.progress(done + part, total); };
      if (CompressMember(members[i], options.mode, progress, &(*streams)[i]))
        (*flags)[i] = ENTRY_FLAG_COMPRESSED;
      done += members[i].data.size();
      if (options.progress) options.progress(done, total);
    }
    return;
  }

  // Largest first, so that no long member starts last and runs alone.
  std::stable_sort(work.begin(), work.end(), [&](size_t a, size_t b) {
    return members[a].data.size() > members[b].data.size();
  });
  // A member has fewer than 4 GiB, so its count fits size_t, which every
  // target updates without a lock.
  std::unique_ptr<std::atomic<size_t>[]> partDone(new std::atomic<size_t>[members.size()]);
  for (size_t i = 0; i < members.size(); ++i) partDone[i] = 0;
  std::atomic<size_t> next{0};
  std::atomic<unsigned> working{0};
  std::vector<std::exception_ptr> failures(jobs);

  auto worker = [&](unsigned slot) {
    try {
      for (size_t k; (k = next.fetch_add(1)) < work.size();) {
        const size_t i = work[k];
        CompressProgress progress = [&, i](size_t part) { partDone[i] = part; };
        if (CompressMember(members[i], options.mode, progress, &(*streams)[i]))
          (*flags)[i] = ENTRY_FLAG_COMPRESSED;
        partDone[i] = members[i].data.size();
      }
    } catch (...) {
      failures[slot] = std::current_exception();
      next = work.size();
    }
    --working;
  };

  std::vector<std::thread> threads;
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
  if (threads.empty()) {
    ++working;
    worker(0);
  }

  uint64_t shown = UINT64_MAX;
  auto report = [&] {
    if (!options.progress) return;
    uint64_t done = 0;
    for (size_t i = 0; i < members.size(); ++i)
      done += (members[i].store || members[i].data.empty()) ? members[i].data.size() : partDone[i].load();
    if (done != shown) options.progress(done, total);
    shown = done;
  };
  // Polled rather than signalled: the workers only ever write atomics.
  if (options.progress) {
    while (working.load() > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      report();
    }
  }
  for (std::thread& t : threads) t.join();
  report();
  for (const std::exception_ptr& failure : failures)
    if (failure) std::rethrow_exception(failure);
}

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
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    uint8_t x = uint8_t(a[i]), y = uint8_t(b[i]);
    if (platform::IsLeadByte(x) && i + 1 < a.size()) {
      if (x != y || a[i + 1] != b[i + 1]) return false;
      ++i;
    } else if (FoldAscii(x) != FoldAscii(y)) {
      return false;
    }
  }
  return true;
}

bool BuildArchive(const std::vector<BuildMember>& members, const BuildOptions& options,
                  std::vector<uint8_t>* image, BuildReport* report) {
  BuildReport ignored;
  if (!report) report = &ignored;
  *report = BuildReport();
  image->clear();

  uint64_t total = 0;
  for (size_t i = 0; i < members.size(); ++i) {
    const BuildMember& m = members[i];
    BuildError nameError = CheckMemberName(m.name);
    if (nameError != BuildError::None) return Fail(report, nameError, i);
    for (size_t j = 0; j < i; ++j) {
      if (SameMemberName(members[j].name, m.name)) {
        report->other = j;
        return Fail(report, BuildError::DuplicateName, i);
      }
    }
    if (m.data.size() > 0xFFFFFFFFu) return Fail(report, BuildError::MemberTooLarge, i);
    total += m.data.size();
  }

  // Each member's bytes as they will lie in the data area.
  std::vector<std::vector<uint8_t>> streams(members.size());
  std::vector<uint8_t> flags(members.size(), ENTRY_FLAG_STORED);
  CompressMembers(members, options, total, &streams, &flags);

  std::vector<uint8_t> directory(members.size() * size_t(kArchiveEntrySize), 0);
  uint64_t offset = kArchiveHeaderSize;
  for (size_t i = 0; i < members.size(); ++i) {
    const BuildMember& m = members[i];
    const bool compressed = flags[i] == ENTRY_FLAG_COMPRESSED;
    ArchiveEntry e{};
    std::memcpy(e.name, m.name.data(), m.name.size());  // the rest stays zero
    e.flags = flags[i];
    e.fileTime = m.fileTime;
    e.fileSize = uint32_t(m.data.size());
    e.storedSize = uint32_t(compressed ? streams[i].size() : m.data.size());
    e.Store(directory.data() + i * kArchiveEntrySize);
    offset += AlignedStoredSize(e.storedSize);
  }
  CompressedStream packedDirectory;
  if (!CompressArchiveStream(directory.data(), directory.size(), options.mode, &packedDirectory)) {
    report->size = offset + directory.size();
    return Fail(report, BuildError::ArchiveTooLarge, 0);
  }
  const uint64_t size = offset + packedDirectory.bytes.size();
  if (size > options.sizeLimit || size > 0xFFFFFFFFu) {
    report->size = size;
    return Fail(report, BuildError::ArchiveTooLarge, 0);
  }

  image->reserve(size_t(size));
  image->resize(kArchiveHeaderSize, 0);
  for (size_t i = 0; i < members.size(); ++i) {
    const std::vector<uint8_t>& bytes =
        flags[i] == ENTRY_FLAG_COMPRESSED ? streams[i] : members[i].data;
    image->insert(image->end(), bytes.begin(), bytes.end());
    image->resize(image->size() + size_t(AlignedStoredSize(uint32_t(bytes.size())) - bytes.size()), 0);
  }
  ArchiveHeader header{{kArchiveMagic[0], kArchiveMagic[1], kArchiveMagic[2], kArchiveMagic[3]},
                       ARCHIVE_FLAG_COMPRESSED_DIRECTORY, uint32_t(offset),
                       uint32_t(members.size())};
  header.Store(image->data());
  image->insert(image->end(), packedDirectory.bytes.begin(), packedDirectory.bytes.end());
  return true;
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
  }
  return "unknown build error";
}
