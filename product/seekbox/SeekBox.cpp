// The search-box helper shared by the vendor's products: a small window
// with a search field that passes the words to the installed product's main
// program ("/query WORDS").
//
// While it runs it holds the lock file "SeekBox.tmp" in the shared vendor
// folder (the common-files folder + "\Ovantis"): open without delete
// sharing, so that nobody can delete it, with the helper's main window
// handle in its first 4 bytes (little-endian). A setup that wants to replace
// the helper posts WM_QUIT to that window and waits until the lock file can
// be deleted. The lock also keeps a second copy from running: it cannot
// create the file and ends at once.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "ProductUtil.h"
#include "ProductFacts.h"

namespace {

constexpr char kWindowClass[] = SEARCH_BOX_WINDOW_CLASS;
constexpr char kTitle[] = "Ovantis Search Box";
constexpr char kLockName[] = "\\" SEARCH_BOX_LOCK_FILE;
constexpr int kSearchButton = IDOK;
constexpr int kSearchField = 100;
constexpr size_t kMaxWords = 500;

// The products the box can hand a search to, in order of preference.
struct TSearchTarget {
    const char* fullName;
    const char* mainProgram;
};
constexpr TSearchTarget kTargets[] = {{VOZ_A_FULL_NAME, VOZ_A_SHORT_NAME ".exe"},
                                      {VOZ_B_FULL_NAME, VOZ_B_SHORT_NAME ".exe"}};

HINSTANCE Instance;
HWND SearchField;

// Creates the lock file with the window handle in its first 4 bytes and
// returns it open for reading with read sharing only: readers get in,
// deleting and rewriting fail. INVALID_HANDLE_VALUE when another helper
// holds the lock or the file cannot be made.
HANDLE TakeLock(const std::string& lockPath, HWND wnd) {
    HANDLE f = CreateFileA(lockPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return f;
    // Window handles are 32-bit values on every Windows, 64-bit included.
    uint32_t handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(wnd));
    uint8_t bytes[4] = {static_cast<uint8_t>(handle), static_cast<uint8_t>(handle >> 8),
                        static_cast<uint8_t>(handle >> 16), static_cast<uint8_t>(handle >> 24)};
    DWORD written = 0;
    bool ok = WriteFile(f, bytes, sizeof bytes, &written, nullptr) && written == sizeof bytes;
    ok = CloseHandle(f) && ok;
    if (!ok) {
        DeleteFileA(lockPath.c_str());
        return INVALID_HANDLE_VALUE;
    }
    // Between the close and this open another copy may have taken the file
    // over; then this open fails (it holds write access) and this copy yields.
    return CreateFileA(lockPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

void ReleaseLock(HANDLE lock, const std::string& lockPath) {
    CloseHandle(lock);
    DeleteFileA(lockPath.c_str());
}

void RunSearch(HWND wnd) {
    char buffer[kMaxWords + 1];
    int length = GetWindowTextA(SearchField, buffer, sizeof buffer);
    std::string words;
    // The words travel as one quoted argument; quotes inside would split it.
    for (int i = 0; i < length; ++i)
        if (buffer[i] != '"') words += buffer[i];
    if (words.empty()) return;
    for (const TSearchTarget& target : kTargets) {
        std::string folder = InstalledProductFolder(target.fullName, target.mainProgram);
        if (folder.empty()) continue;
        std::string program = folder + "\\" + target.mainProgram;
        std::string command = "\"" + program + "\" /query \"" + words + "\"";
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si,
                           &pi)) {
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
            return;
        }
    }
    MessageBoxA(wnd, "No Ovantis product that can search is installed on this computer.", kTitle,
                MB_OK | MB_ICONINFORMATION);
}

LRESULT CALLBACK SeekBoxWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND:
        if (LOWORD(wParam) == kSearchButton) {
            RunSearch(wnd);
            return 0;
        }
        break;
    case WM_SETFOCUS:
        SetFocus(SearchField);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(wnd, msg, wParam, lParam);
}

HWND AddControl(HWND parent, const char* cls, const char* text, DWORD exStyle, DWORD style, int x, int y, int w, int h,
                int id) {
    HWND c = CreateWindowExA(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance, nullptr);
    SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    return c;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    Instance = instance;
    std::string vendor = SharedVendorFolder();
    // The setup makes the folder before it installs the helper; a helper
    // started from elsewhere makes it itself.
    std::string common = FolderOfPath(vendor);
    if (!FolderExists(common)) CreateDirectoryA(common.c_str(), nullptr);
    if (!FolderExists(vendor)) CreateDirectoryA(vendor.c_str(), nullptr);
    std::string lockPath = vendor + kLockName;

    if (!RegisterProgramClass(instance, SeekBoxWndProc, kWindowClass, COLOR_BTNFACE)) return 1;

    HWND wnd = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT, kWindowClass, kTitle,
                               WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT, 340, 80, nullptr,
                               nullptr, instance, nullptr);
    if (!wnd) return 1;
    HANDLE lock = TakeLock(lockPath, wnd);
    if (lock == INVALID_HANDLE_VALUE) {
        // Another helper runs (or the vendor folder is not writable): one is enough.
        DestroyWindow(wnd);
        return 0;
    }

    SearchField =
        AddControl(wnd, "EDIT", "", WS_EX_CLIENTEDGE, WS_TABSTOP | ES_AUTOHSCROLL, 8, 10, 230, 22, kSearchField);
    SendMessageA(SearchField, EM_LIMITTEXT, kMaxWords, 0);
    AddControl(wnd, "BUTTON", "&Search", 0, WS_TABSTOP | BS_DEFPUSHBUTTON, 246, 9, 76, 24, kSearchButton);
    ShowWindow(wnd, show);
    UpdateWindow(wnd);

    // WM_QUIT, posted by a setup or by the window's own destruction, ends
    // the loop; the lock goes with the program.
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(wnd, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (IsWindow(wnd)) DestroyWindow(wnd);
    ReleaseLock(lock, lockPath);
    return 0;
}
