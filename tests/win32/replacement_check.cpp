// The Win32 replacement against what is planted beside or at its target: a
// file at the temporary name fails the write and stays as it was; a target
// with an explicit DACL keeps it across the rename, one with only inherited
// entries gets the folder's again. Needs the real calls, so a program of its
// own; run under Wine, it says what Wine does not keep.
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/win32/win32_platform.h"
#include "tests/win32/check_support.h"

namespace {

using win32_check::Check;
using win32_check::ReadAll;

void WriteAll(const char* path, const std::string& text) {
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD put = 0;
  WriteFile(h, text.data(), DWORD(text.size()), &put, nullptr);
  CloseHandle(h);
}

// The DACL as SDDL text ("D:P(A;;FA;;;SY)..."), empty when unreadable.
std::string Dacl(const char* path) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoA(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            nullptr, nullptr, &sd) != ERROR_SUCCESS)
    return std::string();
  char* text = nullptr;
  std::string out;
  if (ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1,
                                                           DACL_SECURITY_INFORMATION, &text,
                                                           nullptr)) {
    out = text;
    LocalFree(text);
  }
  LocalFree(sd);
  return out;
}

bool SetDacl(const char* path, const char* sddl) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr))
    return false;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  DWORD r = SetNamedSecurityInfoA(const_cast<char*>(path), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, dacl, nullptr);
  LocalFree(sd);
  return r == ERROR_SUCCESS;
}

}  // namespace

int main() {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  std::string dir = std::string(folder) + "qa-replacement-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(dir.c_str(), nullptr);
  const std::string target = dir + "\\T.DAT";
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".~%lx.tmp", static_cast<unsigned long>(GetCurrentProcessId()));
  const std::string planted = target + suffix;
  platform::Platform& os = platform::Win32();

  WriteAll(target.c_str(), "old");
  WriteAll(planted.c_str(), "planted");
  Check(!os.WriteFileReplacing(target.c_str(), "new", 3, nullptr),
        "a file at the temporary name fails the write");
  Check(ReadAll(planted.c_str()) == "planted", "the planted file keeps its content");
  Check(ReadAll(target.c_str()) == "old", "the target keeps its content");
  DeleteFileA(planted.c_str());
  Check(os.WriteFileReplacing(target.c_str(), "new", 3, nullptr) &&
            ReadAll(target.c_str()) == "new",
        "without it the write succeeds");

  // While it is written, by the caller's thread and by the writer thread
  // with its flushes, nobody else may write to the temporary file.
  {
    std::unique_ptr<platform::ReplacementFile> file = os.BeginReplacement(target.c_str());
    const std::string piece(1 << 20, 'p');
    Check(file && file->Write(piece.data(), uint32_t(piece.size())) &&
              file->Write(piece.data(), uint32_t(piece.size())),
          "two pieces are written (the second starts the writer thread)");
    HANDLE other = CreateFileA(planted.c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    const DWORD why = GetLastError();
    Check(other == INVALID_HANDLE_VALUE && why == ERROR_SHARING_VIOLATION,
          "another open for writing is refused while the file is written");
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  }
  Check(ReadAll(target.c_str()) == "new", "a replacement dropped unfinished leaves the target");

  // Explicit: protected, the system and one well-known group only.
  const char* kExplicit = "D:P(A;;FA;;;SY)(A;;FR;;;BU)";
  const std::string inherited = Dacl(target.c_str());
  const bool set = SetDacl(target.c_str(), kExplicit);
  const std::string now = Dacl(target.c_str());
  if (!set || now == inherited) {
    std::printf("skip this system keeps no DACL on files (set: %s, DACL before \"%s\", after "
                "\"%s\"); an explicit DACL kept across the replacement is confirmed on Windows "
                "only\n",
                set ? "yes" : "no", inherited.c_str(), now.c_str());
  } else {
    const std::string before = Dacl(target.c_str());
    Check(os.WriteFileReplacing(target.c_str(), "newer", 5, nullptr) &&
              ReadAll(target.c_str()) == "newer",
          "a target with an explicit DACL is replaced");
    const std::string after = Dacl(target.c_str());
    std::printf("     DACL before %s, after %s\n", before.c_str(), after.c_str());
    Check(after == before, "the replaced file keeps the explicit DACL");
    const std::string other = dir + "\\U.DAT";
    WriteAll(other.c_str(), "old");
    const std::string folderDacl = Dacl(other.c_str());
    Check(os.WriteFileReplacing(other.c_str(), "new", 3, nullptr) &&
              Dacl(other.c_str()) == folderDacl,
          "a target with the folder's DACL only gets it again");
    DeleteFileA(other.c_str());
  }
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(target.c_str());
  RemoveDirectoryA(dir.c_str());
  return win32_check::Finish();
}
