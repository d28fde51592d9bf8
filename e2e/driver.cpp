// Works other programs' windows from outside, as a player would, for the
// end-to-end scenarios. It reads one command per line on stdin and answers
// with zero or more result lines followed by a line holding a single ".".
// Errors are answered with one line "error TEXT" before the ".".
//
// Texts and paths cross the pipe as hex of their code page 932 bytes, so
// nothing on the way (console code pages, the shell, Python) can alter them.
// Window handles are hex numbers.
//
//   start LABEL CWD EXE [ARGS]   CreateProcess; CWD, EXE and ARGS in hex
//                                ("-" for no CWD or no ARGS)  -> pid N
//   windows LABEL                top-level windows of that process
//                                -> win HWND CLASS VISIBLE OWNER CAPTION
//   controls HWND                -> rect X Y W H, ctl ID CLASS ENABLED VISIBLE
//                                   STYLE TEXT (one per child), icon ID 0|1
//                                   (icon controls), focus ID
//   find CLASS TITLE             FindWindowA ("-" for no class) -> hwnd H
//   click HWND ID                posts BM_CLICK to the control
//   command HWND ID              posts WM_COMMAND with ID, as a menu or an
//                                accelerator would: reaches disabled buttons
//   close HWND                   posts WM_SYSCOMMAND SC_CLOSE (the close box)
//   foreground                   -> hwnd H
//   zorder                       visible top-level windows, topmost first
//                                -> hwnd H (one per window)
//   raise HWND                   SetForegroundWindow
//   exit LABEL MS                waits up to MS for the process to end
//                                -> exit CODE, or running
//   kill LABEL                   TerminateProcess
//   attrs PATH                   GetFileAttributesA -> attrs 0xHEX
//   setattrs PATH HEX            SetFileAttributesA
//   ping HWND MS                 SendMessageTimeoutA(WM_NULL), waiting up to
//                                MS -> ping ELAPSED_MS, or ping timeout
//   temp                         GetTempPathA -> temp PATH
//   resource EXE FILE            replaces the "UPDATE" resource 102 of EXE
//                                with FILE's bytes
//   quit
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

std::map<std::string, PROCESS_INFORMATION> processes;

void Say(const std::string& line) {
  fputs(line.c_str(), stdout);
  fputc('\n', stdout);
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out.empty() ? "-" : out;
}

bool Unhex(const std::string& hex, std::string* out) {
  out->clear();
  if (hex == "-") return true;
  if (hex.size() % 2) return false;
  for (size_t i = 0; i < hex.size(); i += 2) {
    char pair[3] = {hex[i], hex[i + 1], 0};
    char* end = nullptr;
    long v = strtol(pair, &end, 16);
    if (*end) return false;
    *out += static_cast<char>(v);
  }
  return true;
}

std::string HandleText(HWND h) {
  char buf[32];
  snprintf(buf, sizeof buf, "%lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(h)));
  return buf;
}

HWND ParseHandle(const std::string& s) {
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(strtoul(s.c_str(), nullptr, 16)));
}

// The stored window text, read without sending the window a message: a
// window whose thread is busy (the updater while it writes files) cannot
// block the driver. Converted with the ANSI code page, as the updater's own
// SetWindowTextA/SetDlgItemTextA calls were.
std::string WindowText(HWND h) {
  wchar_t wide[2048];
  int n = InternalGetWindowText(h, wide, 2048);
  if (n <= 0) return std::string();
  char narrow[4096];
  int m = WideCharToMultiByte(CP_ACP, 0, wide, n, narrow, sizeof narrow, nullptr, nullptr);
  return std::string(narrow, m > 0 ? m : 0);
}

std::string ClassOf(HWND h) {
  char name[256] = {0};
  GetClassNameA(h, name, sizeof name);
  return name;
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    size_t j = i;
    while (j < line.size() && line[j] != ' ') ++j;
    if (j > i) words.push_back(line.substr(i, j - i));
    i = j;
  }
  return words;
}

struct WindowList {
  DWORD pid;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND h, LPARAM param) {
  auto* list = reinterpret_cast<WindowList*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid == list->pid) list->found.push_back(h);
  return TRUE;
}

BOOL CALLBACK CollectVisible(HWND h, LPARAM param) {
  if (IsWindowVisible(h)) reinterpret_cast<std::vector<HWND>*>(param)->push_back(h);
  return TRUE;
}

BOOL CALLBACK CollectChildren(HWND h, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(h);
  return TRUE;
}

bool ReadWholeFile(const std::string& path, std::string* out) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  out->clear();
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
  fclose(f);
  return true;
}

const PROCESS_INFORMATION* Process(const std::string& label) {
  auto it = processes.find(label);
  if (it == processes.end()) {
    Say("error no process " + label);
    return nullptr;
  }
  return &it->second;
}

void Start(const std::vector<std::string>& w) {
  std::string cwd, exe, args;
  if (w.size() < 4 || !Unhex(w[2], &cwd) || !Unhex(w[3], &exe) ||
      (w.size() > 4 && !Unhex(w[4], &args))) {
    Say("error usage: start LABEL CWD EXE [ARGS]");
    return;
  }
  std::string commandLine = "\"" + exe + "\"";
  if (!args.empty()) commandLine += " " + args;
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back(0);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      cwd.empty() ? nullptr : cwd.c_str(), &si, &pi)) {
    Say("error CreateProcess failed: " + std::to_string(GetLastError()));
    return;
  }
  CloseHandle(pi.hThread);
  auto old = processes.find(w[1]);
  if (old != processes.end()) CloseHandle(old->second.hProcess);
  processes[w[1]] = pi;
  Say("pid " + std::to_string(pi.dwProcessId));
}

void Windows(const std::vector<std::string>& w) {
  if (w.size() != 2) return Say("error usage: windows LABEL");
  const PROCESS_INFORMATION* p = Process(w[1]);
  if (!p) return;
  WindowList list{p->dwProcessId, {}};
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&list));
  for (HWND h : list.found) {
    Say("win " + HandleText(h) + " " + Hex(ClassOf(h)) + " " +
        (IsWindowVisible(h) ? "1" : "0") + " " + HandleText(GetWindow(h, GW_OWNER)) + " " +
        Hex(WindowText(h)));
  }
}

void Controls(const std::vector<std::string>& w) {
  if (w.size() != 2) return Say("error usage: controls HWND");
  HWND dialog = ParseHandle(w[1]);
  if (!IsWindow(dialog)) return Say("error gone");
  RECT r{};
  GetWindowRect(dialog, &r);
  Say("rect " + std::to_string(r.left) + " " + std::to_string(r.top) + " " +
      std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top));
  std::vector<HWND> children;
  EnumChildWindows(dialog, CollectChildren, reinterpret_cast<LPARAM>(&children));
  for (HWND c : children) {
    if (GetParent(c) != dialog) continue;
    char style[16];
    snprintf(style, sizeof style, "%lx", static_cast<unsigned long>(GetWindowLongA(c, GWL_STYLE)));
    Say("ctl " + std::to_string(GetDlgCtrlID(c)) + " " + Hex(ClassOf(c)) + " " +
        (IsWindowEnabled(c) ? "1" : "0") + " " + (IsWindowVisible(c) ? "1" : "0") + " " +
        style + " " + Hex(WindowText(c)));
    if (ClassOf(c) == "Static" && (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      // A message box keeps its icon control even without an icon; what
      // tells them apart is whether an icon is set.
      DWORD_PTR icon = 0;
      SendMessageTimeoutA(c, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 1000, &icon);
      Say("icon " + std::to_string(GetDlgCtrlID(c)) + " " + (icon ? "1" : "0"));
    }
  }
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
  int focus = 0;
  if (GetGUIThreadInfo(thread, &info) && info.hwndFocus && GetParent(info.hwndFocus) == dialog)
    focus = GetDlgCtrlID(info.hwndFocus);
  Say("focus " + std::to_string(focus));
}

// The dialog's progress bar: "progress VISIBLE POSITION", or "progress none".
void Progress(HWND dialog) {
  if (!IsWindow(dialog)) return Say("error gone");
  std::vector<HWND> children;
  EnumChildWindows(dialog, CollectChildren, reinterpret_cast<LPARAM>(&children));
  for (HWND c : children) {
    if (GetParent(c) != dialog || ClassOf(c) != "msctls_progress32") continue;
    DWORD_PTR position = 0;
    if (!SendMessageTimeoutA(c, WM_USER + 8 /* PBM_GETPOS */, 0, 0, SMTO_ABORTIFHUNG, 5000, &position))
      return Say("error PBM_GETPOS unanswered");
    return Say(std::string("progress ") + (IsWindowVisible(c) ? "1 " : "0 ") + std::to_string(position));
  }
  Say("progress none");
}

void Find(const std::vector<std::string>& w) {
  std::string cls, title;
  if (w.size() != 3 || !Unhex(w[1], &cls) || !Unhex(w[2], &title))
    return Say("error usage: find CLASS TITLE");
  HWND h = FindWindowA(w[1] == "-" ? nullptr : cls.c_str(), title.c_str());
  Say("hwnd " + HandleText(h));
}

void Post(const std::vector<std::string>& w) {
  if (w.size() != 3 && !(w.size() == 2 && w[0] == "close"))
    return Say("error usage: " + w[0] + " HWND [ID]");
  HWND dialog = ParseHandle(w[1]);
  if (!IsWindow(dialog)) return Say("error gone");
  if (w[0] == "close") {
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    return;
  }
  int id = atoi(w[2].c_str());
  if (w[0] == "command") {
    PostMessageA(dialog, WM_COMMAND, static_cast<WPARAM>(id), 0);
    return;
  }
  HWND button = GetDlgItem(dialog, id);
  if (!button) return Say("error no control " + w[2]);
  // Posted, not sent: the click may open a modal box that only the driver
  // can answer.
  PostMessageA(button, BM_CLICK, 0, 0);
}

void Exit(const std::vector<std::string>& w) {
  if (w.size() != 3) return Say("error usage: exit LABEL MS");
  const PROCESS_INFORMATION* p = Process(w[1]);
  if (!p) return;
  if (WaitForSingleObject(p->hProcess, static_cast<DWORD>(atol(w[2].c_str()))) != WAIT_OBJECT_0)
    return Say("running");
  DWORD code = 0;
  GetExitCodeProcess(p->hProcess, &code);
  Say("exit " + std::to_string(static_cast<long>(code)));
}

void Resource(const std::vector<std::string>& w) {
  std::string exe, file, data;
  if (w.size() != 3 || !Unhex(w[1], &exe) || !Unhex(w[2], &file))
    return Say("error usage: resource EXE FILE");
  if (!ReadWholeFile(file, &data) || data.empty()) return Say("error cannot read " + file);
  HANDLE update = BeginUpdateResourceA(exe.c_str(), FALSE);
  if (!update) return Say("error BeginUpdateResource failed");
  const WORD japanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
  BOOL ok = UpdateResourceA(update, "UPDATE", MAKEINTRESOURCEA(102), japanese,
                            &data[0], static_cast<DWORD>(data.size()));
  if (!EndUpdateResourceA(update, !ok) || !ok) Say("error UpdateResource failed");
}

}  // namespace

int main() {
  setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  char raw[8192];
  while (fgets(raw, sizeof raw, stdin)) {
    std::string line(raw);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    std::vector<std::string> w = Split(line);
    if (w.empty()) continue;
    const std::string& verb = w[0];
    if (verb == "quit") break;
    if (verb == "start") {
      Start(w);
    } else if (verb == "windows") {
      Windows(w);
    } else if (verb == "controls") {
      Controls(w);
    } else if (verb == "find") {
      Find(w);
    } else if (verb == "click" || verb == "command" || verb == "close") {
      Post(w);
    } else if (verb == "foreground") {
      Say("hwnd " + HandleText(GetForegroundWindow()));
    } else if (verb == "zorder") {
      // EnumWindows goes from the top of the z-order down.
      std::vector<HWND> shown;
      EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&shown));
      for (HWND h : shown) Say("hwnd " + HandleText(h));
    } else if (verb == "raise" && w.size() == 2) {
      if (!SetForegroundWindow(ParseHandle(w[1]))) Say("error SetForegroundWindow failed");
    } else if (verb == "exit") {
      Exit(w);
    } else if (verb == "kill" && w.size() == 2) {
      if (const PROCESS_INFORMATION* p = Process(w[1])) TerminateProcess(p->hProcess, 99);
    } else if (verb == "attrs" && w.size() == 2) {
      std::string path;
      if (!Unhex(w[1], &path)) {
        Say("error bad path");
      } else {
        char buf[16];
        snprintf(buf, sizeof buf, "0x%lx", static_cast<unsigned long>(GetFileAttributesA(path.c_str())));
        Say(std::string("attrs ") + buf);
      }
    } else if (verb == "setattrs" && w.size() == 3) {
      std::string path;
      if (!Unhex(w[1], &path) ||
          !SetFileAttributesA(path.c_str(), static_cast<DWORD>(strtoul(w[2].c_str(), nullptr, 16))))
        Say("error SetFileAttributes failed");
    } else if (verb == "read" && w.size() == 2) {
      // A plain read of a file in 1 MB pieces, for the benchmarks: the pace
      // of the disk and the page cache as Wine gives them to a program.
      std::string path;
      HANDLE file = Unhex(w[1], &path) ? CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                                       : INVALID_HANDLE_VALUE;
      if (file == INVALID_HANDLE_VALUE) {
        Say("error cannot open");
      } else {
        static char buffer[1 << 20];
        unsigned long long total = 0;
        DWORD got = 0;
        while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) total += got;
        CloseHandle(file);
        Say("read " + std::to_string(total));
      }
    } else if (verb == "ping" && w.size() == 3) {
      DWORD_PTR result = 0;
      DWORD start = GetTickCount();
      LRESULT answered = SendMessageTimeoutA(ParseHandle(w[1]), WM_NULL, 0, 0, SMTO_NORMAL,
                                             static_cast<UINT>(atol(w[2].c_str())), &result);
      Say(answered ? "ping " + std::to_string(GetTickCount() - start) : "ping timeout");
    } else if (verb == "progress" && w.size() == 2) {
      Progress(ParseHandle(w[1]));
    } else if (verb == "temp") {
      char path[MAX_PATH] = {0};
      GetTempPathA(MAX_PATH, path);
      Say("temp " + Hex(path));
    } else if (verb == "resource") {
      Resource(w);
    } else {
      Say("error unknown command " + verb);
    }
    Say(".");
    fflush(stdout);
  }
  for (auto& entry : processes) CloseHandle(entry.second.hProcess);
  return 0;
}
