// A platform that passes every call to another one (by default the process's
// own), so that a test can override just the calls it scripts: free space,
// boxes, a failing write. Works over the host and the Win32 platform alike.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

class ForwardingPlatform : public platform::Platform {
 public:
  ForwardingPlatform() : inner_(platform::Os()) { platform::SetOs(this); }
  ~ForwardingPlatform() override { platform::SetOs(nullptr); }

  platform::Platform& inner() { return inner_; }

  // Boxes are recorded and answered OK instead of shown.
  struct Box {
    std::string text, caption;
    uint32_t style;
    platform::Window owner;
  };
  std::vector<Box> boxes;
  int MessageBox(platform::Window owner, const char* text, const char* caption,
                 uint32_t style) override {
    boxes.push_back(Box{text, caption, style, owner});
    return platform::kAnswerOk;
  }

  uint32_t GetFileAttributes(const char* p) override { return inner_.GetFileAttributes(p); }
  bool SetFileAttributes(const char* p, uint32_t a) override {
    return inner_.SetFileAttributes(p, a);
  }
  bool CreateDirectory(const char* p) override { return inner_.CreateDirectory(p); }
  bool DeleteFile(const char* p) override { return inner_.DeleteFile(p); }
  std::unique_ptr<platform::ReadableFile> OpenForRead(const char* p) override {
    return inner_.OpenForRead(p);
  }
  std::unique_ptr<platform::ReplacementFile> BeginReplacement(const char* p) override {
    return inner_.BeginReplacement(p);
  }
  void FindFiles(const char* p, std::vector<std::string>* n) override { inner_.FindFiles(p, n); }
  platform::FreeSpaceQuery DiskFreeSpaceEx(const char* r, uint64_t* a, uint64_t* b,
                                           uint64_t* c) override {
    return inner_.DiskFreeSpaceEx(r, a, b, c);
  }
  bool DiskFreeSpace(const char* r, uint32_t* a, uint32_t* b, uint32_t* c,
                     uint32_t* d) override {
    return inner_.DiskFreeSpace(r, a, b, c, d);
  }
  uint32_t DriveType(const char* r) override { return inner_.DriveType(r); }
  void GetTempFolder(char out[260]) override { inner_.GetTempFolder(out); }
  uint32_t ProcessId() override { return inner_.ProcessId(); }
  bool ProcessIsAlive(uint32_t pid) override { return inner_.ProcessIsAlive(pid); }
  platform::ShellCopyResult ShellCopy(platform::Window o, const char* f, const char* t,
                                      uint32_t fl) override {
    return inner_.ShellCopy(o, f, t, fl);
  }
  uint32_t ReadProfileString(const char* s, const char* k, const char* f, char* b, uint32_t n,
                             const char* p) override {
    return inner_.ReadProfileString(s, k, f, b, n, p);
  }
  std::unique_ptr<platform::RegistryKey> OpenUserKey(const char* k) override {
    return inner_.OpenUserKey(k);
  }
  void InitializeCom() override { inner_.InitializeCom(); }
  bool FindOwnResource(const char* t, int n, const uint8_t** d, uint32_t* s) override {
    return inner_.FindOwnResource(t, n, d, s);
  }
  platform::Window FindWindow(const char* c, const char* t) override {
    return inner_.FindWindow(c, t);
  }
  void ShowAndRaise(platform::Window w) override { inner_.ShowAndRaise(w); }
  void SetWindowText(platform::Window w, const char* t) override { inner_.SetWindowText(w, t); }
  void SetDlgItemText(platform::Window d, int id, const char* t) override {
    inner_.SetDlgItemText(d, id, t);
  }
  void EnableDlgItem(platform::Window d, int id, bool e) override {
    inner_.EnableDlgItem(d, id, e);
  }
  void FocusDlgItem(platform::Window d, int id) override { inner_.FocusDlgItem(d, id); }
  void EndDialog(platform::Window d, intptr_t c) override { inner_.EndDialog(d, c); }
  void SetCursor(platform::Cursor c) override { inner_.SetCursor(c); }
  void PumpPendingMessages() override { inner_.PumpPendingMessages(); }
  intptr_t RunDialog(int id, platform::DialogHandler& h) override {
    return inner_.RunDialog(id, h);
  }
  bool FileSize(const char* path, uint64_t* size) override { return inner_.FileSize(path, size); }
  void ShowProgressBar(platform::Window d, bool show) override { inner_.ShowProgressBar(d, show); }
  void SetProgressBar(platform::Window d, uint32_t position) override { inner_.SetProgressBar(d, position); }
  void RemoveProgressBar(platform::Window d) override { inner_.RemoveProgressBar(d); }

 private:
  platform::Platform& inner_;
};
