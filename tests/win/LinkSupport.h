// Links for the tests that check that nothing is written through them.
//
// Under Wine a link is a Unix link: Wine maps a symbolic link to a folder to
// a reparse point, shows one to a file as the file itself, and follows both.
// Its CreateSymbolicLink does nothing, so the links are made by the Unix
// "ln", which Wine starts like any program; on Windows CreateSymbolicLinkA
// is used (it needs the right to make links). Hard links come from
// CreateHardLinkA on both.
#pragma once

#include <windows.h>

#include <string>

namespace voztest {

// The Unix path of a Windows path under Wine; empty elsewhere.
inline std::string UnixPathOf(const std::string& path) {
    using TUnixName = char*(CDECL*)(LPCWSTR);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto toUnix =
        reinterpret_cast<TUnixName>(reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
    if (toUnix == nullptr) return std::string();
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) == 0) return std::string();
    char* unix = toUnix(wide);
    if (unix == nullptr) return std::string();
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

// Starts a Unix program under Wine. Wine hands back no handle to wait on
// for a Unix process, so the callers watch for its effect instead.
inline bool StartUnixProgram(std::string commandLine) {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return false;
    }
    if (pi.hThread != nullptr) CloseHandle(pi.hThread);
    if (pi.hProcess != nullptr) CloseHandle(pi.hProcess);
    return true;
}

// Waits up to 10 s for path to exist (or, with exists false, to be gone).
inline bool WaitForName(const std::string& path, bool exists) {
    for (int i = 0; i < 1000; ++i) {
        if ((GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) == exists) return true;
        Sleep(10);
    }
    return false;
}

// A symbolic link at link to target (an existing file or folder).
inline bool MakeSymbolicLink(const std::string& target, const std::string& link) {
    const std::string unixTarget = UnixPathOf(target);
    const std::string unixLink = UnixPathOf(link);
    if (!unixTarget.empty() && !unixLink.empty()) {
        return StartUnixProgram("/bin/ln -s \"" + unixTarget + "\" \"" + unixLink + "\"") && WaitForName(link, true);
    }
    using TSymbolicLink = BOOLEAN(WINAPI*)(LPCSTR, LPCSTR, DWORD);
    const auto make = reinterpret_cast<TSymbolicLink>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA")));
    if (make == nullptr) return false;
    const DWORD a = GetFileAttributesA(target.c_str());
    const DWORD folderFlag = a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    return make(link.c_str(), target.c_str(), folderFlag | 2 /* without elevation, where allowed */) != 0;
}

inline bool MakeHardLink(const std::string& target, const std::string& link) {
    return CreateHardLinkA(link.c_str(), target.c_str(), nullptr) != FALSE;
}

// Removes a link itself, never what it points to (Wine deletes a file
// link's target on DeleteFile): under Wine by "rm", on Windows by the calls
// that take the link itself.
inline void RemoveLink(const std::string& link) {
    const std::string unixLink = UnixPathOf(link);
    if (!unixLink.empty()) {
        if (StartUnixProgram("/bin/rm -f \"" + unixLink + "\"")) WaitForName(link, false);
        return;
    }
    const DWORD a = GetFileAttributesA(link.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) {
        RemoveDirectoryA(link.c_str());
    } else {
        DeleteFileA(link.c_str());
    }
}

}  // namespace voztest
