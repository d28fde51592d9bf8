// The Win32 platform. Include only from platform/win32.
#pragma once

#include <windows.h>

// windows.h maps these names to their A/W forms; the platform interface uses
// the plain names as its own methods.
#undef CreateDirectory
#undef DeleteFile
#undef FindWindow
#undef GetFileAttributes
#undef MessageBox
#undef SetDlgItemText
#undef SetFileAttributes
#undef SetWindowText

#include <memory>
#include <string>

#include "platform/platform.h"

namespace platform {
// The real implementation (the default Os() in the Win32 build).
Platform& Win32();

// Handles the messages queued for this thread now (Win32().PumpPendingMessages
// looks at the queue only every few milliseconds).
void PumpQueuedMessages();

// The wide path that passes MAX_PATH ("\\?\C:\..." or "\\?\UNC\...") of
// any wide path, made full.
bool LongWidePath(const std::wstring& path, std::wstring* out);
// The tools' UTF-8 paths: as a full wide path past MAX_PATH (false when not
// UTF-8), and a wide name back as UTF-8.
bool LongWideOfUtf8(const char* utf8, std::wstring* out);
std::string Utf8OfWide(const wchar_t* wide);
// An open file handle (owned from now on) as a readable file.
std::unique_ptr<ReadableFile> ReadableFileOf(HANDLE file);
// BeginReplacement for a full wide path, as LongWidePath gives.
std::unique_ptr<ReplacementFile> BeginWideReplacement(const std::wstring& destination);

// Libraries loaded by name from now on come from the system folder only, not
// from the program's folder (a download folder, where anyone may have put a
// DLL that the system's own DLLs would then load, elevated).
void RestrictDllSearchToSystem();
}  // namespace platform
