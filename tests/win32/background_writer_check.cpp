// The writer thread of the Win32 replacement on its own: a write that the
// system refuses shows in Write or Finish and never leaves the caller
// waiting; a writer dropped with pieces queued stops and leaves a beginning
// of the file in order; one that finishes leaves all of it, also when a
// second handle takes the flushes, whose failure shows in Finish. A program
// of its own: the writer is internal to the Win32 platform.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/background_writer.h"
#include "platform/win32/win32_platform.h"
#include "tests/win32/check_support.h"

namespace {

using win32_check::Check;
using win32_check::ReadAll;

HANDLE Create(const char* path, DWORD access, DWORD share = 0) {
  return CreateFileA(path, access, share, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE Reopen(const char* path, DWORD access) {
  return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int main() {
  using platform::BackgroundWriter;
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  const std::string path = std::string(folder) + "qa-writer-check.bin";
  // Seven buffers' worth, in pieces that do not match the buffers.
  std::string content(7 * BackgroundWriter::kSlotSize + 4321, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = char(i * 131 + (i >> 16));
  const uint32_t piece = 700 * 1024;

  {
    // Opened for reading only: every WriteFile fails.
    HANDLE file = Create(path.c_str(), GENERIC_READ);
    auto writer = BackgroundWriter::Start(file);
    Check(writer != nullptr, "a writer starts");
    bool refused = false;
    for (size_t done = 0; done < content.size() && !refused; done += piece)
      refused = !writer->Write(content.data() + done, piece);
    Check(refused || !writer->Finish(), "a refused write shows in Write or Finish");
    writer.reset();
    CloseHandle(file);
  }
  {
    HANDLE file = Create(path.c_str(), GENERIC_WRITE);
    auto writer = BackgroundWriter::Start(file);
    for (size_t done = 0; done < content.size(); done += piece) {
      const size_t n = content.size() - done < piece ? content.size() - done : piece;
      writer->Write(content.data() + done, uint32_t(n));
    }
    writer.reset();  // dropped, pieces possibly still queued
    CloseHandle(file);
    const std::string got = ReadAll(path.c_str());
    Check(got.size() <= content.size() && content.compare(0, got.size(), got) == 0,
          "a dropped writer leaves a beginning of the content, in order");
  }
  {
    HANDLE file = Create(path.c_str(), GENERIC_WRITE);
    auto writer = BackgroundWriter::Start(file);
    bool ok = true;
    for (size_t done = 0; done < content.size(); done += piece) {
      const size_t n = content.size() - done < piece ? content.size() - done : piece;
      ok = writer->Write(content.data() + done, uint32_t(n)) && ok;
    }
    Check(ok && writer->Finish(), "every piece written");
    Check(!writer->Write("x", 1), "nothing is taken after Finish");
    writer.reset();
    CloseHandle(file);
    Check(ReadAll(path.c_str()) == content, "the file holds the pieces in order");
  }
  {
    // Pieces made in lent buffers, mixed with pieces handed to Write: each
    // lent one is the same until taken, its headroom is the caller's, and
    // what was taken stays as it was while the next one is filled.
    HANDLE file = Create(path.c_str(), GENERIC_WRITE);
    auto writer = BackgroundWriter::Start(file);
    bool ok = writer->Lend(BackgroundWriter::kHeadroom + 1) == nullptr;
    const uint8_t* taken = nullptr;
    std::string copyOfTaken;
    size_t done = 0;
    for (int n = 0; done < content.size(); ++n) {
      const size_t size = content.size() - done < piece ? content.size() - done : piece;
      if (n % 3 == 2) {
        ok = writer->Write(content.data() + done, uint32_t(size)) && ok;
      } else {
        uint8_t* lent = writer->Lend(BackgroundWriter::kHeadroom);
        ok = lent && writer->Lend(0) == lent && ok;
        if (!lent) break;
        if (taken) ok = std::string(reinterpret_cast<const char*>(taken), 100) == copyOfTaken && ok;
        std::memset(lent - BackgroundWriter::kHeadroom, 0x5A, BackgroundWriter::kHeadroom);
        std::memcpy(lent, content.data() + done, size);
        ok = writer->WriteLent(uint32_t(size)) && ok;
        taken = lent;
        copyOfTaken.assign(content.data() + done, 100);
      }
      done += size;
    }
    Check(ok && writer->WriteLent(0) == false && writer->Finish(),
          "lent buffers are the caller's until taken, and written");
    writer.reset();
    CloseHandle(file);
    Check(ReadAll(path.c_str()) == content, "lent and copied pieces are in the file in order");
  }
  // Enough for several flushes on the flushing thread.
  std::string large(3 * BackgroundWriter::kFlushStep + 12345, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = char(i * 7 + (i >> 20));
  auto writeAll = [&](BackgroundWriter* writer) {
    bool ok = true;
    for (size_t done = 0; done < large.size(); done += piece) {
      const size_t n = large.size() - done < piece ? large.size() - done : piece;
      ok = writer->Write(large.data() + done, uint32_t(n)) && ok;
    }
    return ok;
  };
  {
    HANDLE file = Create(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    HANDLE flushFile = Reopen(path.c_str(), GENERIC_WRITE);
    Check(flushFile != INVALID_HANDLE_VALUE, "a second handle for the flushes opens");
    auto writer = BackgroundWriter::Start(file, flushFile);
    Check(writeAll(writer.get()) && writer->Finish(), "written with flushes on their own thread");
    writer.reset();
    CloseHandle(flushFile);
    CloseHandle(file);
    Check(ReadAll(path.c_str()) == large, "the file holds every piece in order");
  }
  {
    // Flushes need write access: through this handle every one fails.
    HANDLE file = Create(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    HANDLE flushFile = Reopen(path.c_str(), GENERIC_READ);
    auto writer = BackgroundWriter::Start(file, flushFile);
    const bool ok = writeAll(writer.get());
    Check(!(ok && writer->Finish()), "a refused flush shows in Write or Finish");
    writer.reset();
    CloseHandle(flushFile);
    CloseHandle(file);
  }
  DeleteFileA(path.c_str());
  return win32_check::Finish();
}
