// Stands in for the running game: one top-level window with a given class and
// title, so that the updater's game check finds it.
//
//   fakegame CLASS TITLE [SECONDS]
//
// CLASS and TITLE are hex of their code page 932 bytes (command lines are
// re-encoded on their way through Wine). The window closes on WM_CLOSE, or by
// itself after SECONDS (default 120), so that a failed scenario cannot leave
// it behind.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::string Unhex(const char* hex) {
  std::string out;
  for (; hex[0] && hex[1]; hex += 2) {
    char pair[3] = {hex[0], hex[1], 0};
    out += static_cast<char>(strtol(pair, nullptr, 16));
  }
  return out;
}

LRESULT CALLBACK GameProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_TIMER:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, w, l);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (__argc < 3) return 2;
  std::string windowClass = Unhex(__argv[1]);
  std::string title = Unhex(__argv[2]);
  int seconds = __argc > 3 ? atoi(__argv[3]) : 120;

  WNDCLASSA wc{};
  wc.lpfnWndProc = GameProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = windowClass.c_str();
  if (!RegisterClassA(&wc)) return 3;
  HWND window = CreateWindowA(windowClass.c_str(), title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                              40, 40, 320, 200, nullptr, nullptr, instance, nullptr);
  if (!window) return 4;
  SetTimer(window, 1, static_cast<UINT>(seconds) * 1000u, nullptr);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
