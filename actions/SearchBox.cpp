// Module SearchBox: the search-box helper in the shared vendor folder.
#include "SearchBox.h"

#include <windows.h>

#include <cstdint>

#include "Detect.h"
#include "ProductFacts.h"
#include "ShortUtl.h"
#include "WinNTFuncts.h"

namespace {

constexpr char kHelperName[] = "\\" SEARCH_BOX_PROGRAM;
constexpr char kLockName[] = "\\" SEARCH_BOX_LOCK_FILE;
constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kRunValue[] = SEARCH_BOX_RUN_VALUE;
// How long a running helper gets to quit: 21 naps of 500 ms.
constexpr int kQuitWaitSteps = 21;
constexpr DWORD kQuitWaitStepMs = 500;

bool IsXpOrLater(const OSVERSIONINFOA& v) {
    return v.dwMajorVersion >= 6 || (v.dwMajorVersion == 5 && v.dwMinorVersion >= 1);
}

// A lock file that exists and cannot be deleted is held by a running helper.
// Deleting it is the test: a stale lock goes away on the way.
bool LockHeld(const std::string& lockPath) {
    if (DeleteFileA(lockPath.c_str())) return false;
    return GetFileAttributesA(lockPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The window handle a running helper keeps in the first 4 bytes of its lock.
HWND LockWindow(const std::string& lockPath) {
    HANDLE file = CreateFileA(lockPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    uint8_t bytes[4] = {};
    DWORD read = 0;
    const bool ok = ReadFile(file, bytes, sizeof bytes, &read, nullptr) && read == sizeof bytes;
    CloseHandle(file);
    if (!ok) return nullptr;
    const uint32_t value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    // Window handles are 32-bit values, sign-extended on 64-bit Windows.
    return reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(value)));
}

// Asks a running helper to quit and waits a bounded time for its lock to
// go; a helper that does not quit is left running.
void StopRunningHelper(const std::string& lockPath) {
    if (!LockHeld(lockPath)) return;
    HWND wnd = LockWindow(lockPath);
    if (wnd == nullptr || !IsWindow(wnd)) return;
    PostMessageA(wnd, WM_QUIT, 0, 0);
    for (int step = 0; step < kQuitWaitSteps; ++step) {
        Sleep(kQuitWaitStepMs);
        if (!LockHeld(lockPath)) break;
    }
}

// The installed helper starts at every logon and now.
void RegisterAndStart(const std::string& installed) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    /* result ignored: nothing here reports */
    (void)RegSetValueExA(key, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(installed.c_str()),
                         static_cast<DWORD>(installed.size() + 1));
    RegCloseKey(key);
    // Quoted, so that a folder name with a blank cannot start another program.
    const std::string command = "\"" + installed + "\"";
    (void)WinExec(command.c_str(), SW_SHOWNORMAL);
}

}  // namespace

void InstallSearchBoxHelper(const std::string& destination, const std::string& sharedVendorFolder) {
    const std::string extracted = destination + kHelperName;
    const std::string installed = sharedVendorFolder + kHelperName;
    if (IsXpOrLater(OsVersionInfo) && PathFitsAnsiCall(installed) && PathFitsAnsiCall(extracted)) {
        WORD newMajor = 0, newMinor = 0, oldMajor = 0, oldMinor = 0;
        GetFileVersionMS(extracted, newMajor, newMinor);
        GetFileVersionMS(installed, oldMajor, oldMinor);
        if (oldMajor < newMajor || (oldMajor == newMajor && oldMinor < newMinor)) {
            StopRunningHelper(sharedVendorFolder + kLockName);
            CreateOpenDirectory(sharedVendorFolder);
            /* result ignored: an old copy that still runs stays installed */
            (void)CopyFileA(extracted.c_str(), installed.c_str(), FALSE);
        }
        // Only a helper that is there is worth a logon entry.
        if (FileIsPresent(installed)) RegisterAndStart(installed);
    }
    if (PathFitsAnsiCall(extracted)) DeleteFileA(extracted.c_str());
}
