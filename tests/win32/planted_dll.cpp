// A DLL that someone left beside the program: loading it must not work once
// the search is restricted.
#include <windows.h>

extern "C" __declspec(dllexport) int Planted() { return 42; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
