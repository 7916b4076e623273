// A stand-in for the search-box helper with a chosen file version: when
// started it leaves "<its own path>.started" beside itself and ends.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH - 8);
    if (n == 0 || n >= MAX_PATH - 8) return 1;
    lstrcatA(self, ".started");
    HANDLE f = CreateFileA(self, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(f);
    return 0;
}
