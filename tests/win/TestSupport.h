// Small helpers shared by the Windows tests, the end-to-end driver and the
// benchmarks: paths, files and folders, processes, shell links. Nothing here
// depends on a test framework, so programs without one use it too.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace voztest {

// ---- Waits ------------------------------------------------------------------

// How long to wait for something that takes ms on a real machine: longer by
// VOZ_TIME_SCALE where the tests run under emulation (scripts/vm32 sets it),
// so that a slow machine meets the same limits of waiting, never looser
// assertions.
inline DWORD Scaled(DWORD ms) {
    static const DWORD factor = [] {
        char text[16] = {};
        const DWORD n = GetEnvironmentVariableA("VOZ_TIME_SCALE", text, sizeof text);
        const long value = n > 0 && n < sizeof text ? std::strtol(text, nullptr, 10) : 1;
        return static_cast<DWORD>(value >= 1 && value <= 100 ? value : 1);
    }();
    return ms * factor;
}

// How long a program just started may take to show its first sign of life
// (a window, a file it writes): mostly Wine loading the program and its
// DLLs, which can take many seconds on a busy machine and minutes under
// emulation. Callers scale it like every other wait.
constexpr DWORD kProgramStartMs = 60000;

// ---- Paths ----------------------------------------------------------------

// A Unix path from the build (/work/...) names the same place through Wine's
// Z: drive; backslashes throughout, no trailing one except after a drive.
inline std::string WinePath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path)
        if (c == '/') c = '\\';
    while (path.size() > 3 && path.back() == '\\') path.pop_back();
    return path;
}

// The temporary folder, ending in a backslash; empty when Windows has none.
inline std::string TempPath() {
    char temp[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathA(sizeof temp, temp);
    return n > 0 && n < sizeof temp ? std::string(temp, n) : std::string();
}

// ---- Files and folders ----------------------------------------------------

// Deletes folder and everything below it, read-only files included.
// Best effort: what cannot be deleted stays.
inline void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = folder + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

// Names (files and folders) directly in folder that match pattern.
inline std::set<std::string> Names(const std::string& folder, const char* pattern = "*") {
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\" + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0) names.insert(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

// Relative paths of every file below root (folders are walked, not listed).
inline std::vector<std::string> FilesBelow(const std::string& root, const std::string& relative = "") {
    std::vector<std::string> files;
    WIN32_FIND_DATAA found;
    const std::string folder = relative.empty() ? root : root + "\\" + relative;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return files;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        const std::string rel = relative.empty() ? name : relative + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            const std::vector<std::string> inner = FilesBelow(root, rel);
            files.insert(files.end(), inner.begin(), inner.end());
        } else {
            files.push_back(rel);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return files;
}

// Creates every folder on the way to path's last part (the ones that exist
// stay as they are).
inline void CreateParentFolders(const std::string& path) {
    for (size_t slash = path.find('\\', 3); slash != std::string::npos; slash = path.find('\\', slash + 1))
        CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
}

// Copies every file below from to the same place below to, making the
// folders; false when a copy fails or there was nothing to copy.
inline bool CopyTree(const std::string& from, const std::string& to) {
    const std::vector<std::string> files = FilesBelow(from);
    CreateDirectoryA(to.c_str(), nullptr);
    for (const std::string& rel : files) {
        const std::string target = to + "\\" + rel;
        CreateParentFolders(target);
        if (!CopyFileA((from + "\\" + rel).c_str(), target.c_str(), FALSE)) return false;
    }
    return !files.empty();
}

// A fresh folder "voz TAG-PID-N" in the temporary folder, removed with its
// content at the end.
class TTempFolder {
  public:
    explicit TTempFolder(const char* tag) {
        static int counter = 0;
        path =
            TempPath() + "voz " + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
        RemoveTree(path);
        CreateDirectoryA(path.c_str(), nullptr);
    }
    ~TTempFolder() { RemoveTree(path); }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    std::string path;
};

inline bool FileExists(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

inline bool FolderExists(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// ASCII letters upper-cased; other bytes as they are.
inline std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// The whole file, read while others may still have it open.
inline bool ReadBytes(const std::string& path, std::string* data) {
    data->clear();
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(f, nullptr);
    data->resize(size);
    DWORD got = 0;
    bool ok = size == 0 || (ReadFile(f, data->data(), size, &got, nullptr) && got == size);
    CloseHandle(f);
    return ok;
}

// Creates or replaces path with data; true when every byte is written.
inline bool WriteBytes(const std::string& path, const std::string& data) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = data.empty() ||
              (WriteFile(f, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) && written == data.size());
    return CloseHandle(f) && ok;
}

// The deletions Windows was asked to do at the next restart whose source
// lies below folder; with remove, they are taken out of the list again.
inline std::vector<std::string> PendingDeletes(const std::string& folder, bool remove) {
    constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    std::vector<std::string> found;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return found;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_MULTI_SZ) {
        std::string data(size + 2, '\0');
        if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                             &size) == ERROR_SUCCESS) {
            // Pairs of source and target; a deletion has an empty target, so the
            // list is cut by its size, not by the first empty string.
            std::vector<std::string> items;
            for (size_t at = 0; at < size;) {
                items.emplace_back(data.c_str() + at);
                at += items.back().size() + 1;
            }
            std::string kept;
            for (size_t i = 0; i + 1 < items.size(); i += 2) {
                if (Upper(items[i]).find(Upper(folder)) != std::string::npos)
                    found.push_back(items[i]);
                else
                    kept += items[i] + '\0' + items[i + 1] + '\0';
            }
            if (remove && !found.empty()) {
                if (kept.empty())
                    RegDeleteValueA(key, "PendingFileRenameOperations");
                else
                    RegSetValueExA(key, "PendingFileRenameOperations", 0, REG_MULTI_SZ,
                                   reinterpret_cast<const BYTE*>(kept.data()), static_cast<DWORD>(kept.size() + 1));
            }
        }
    }
    RegCloseKey(key);
    return found;
}

// The small drive the harness maps onto a 1 MiB tmpfs (tests/win/small-drive.sh)
// and names in VOZ_SMALL_DRIVE: its root, or empty with *why set when there
// is none (mapping it needs root) or the drive is larger than a test may
// fill.
inline std::string SmallDriveRoot(uint64_t* totalBytes, std::string* why) {
    const char* drive = std::getenv("VOZ_SMALL_DRIVE");
    ULARGE_INTEGER freeBytes, total;
    const std::string root = drive != nullptr ? std::string(drive) + "\\" : std::string();
    if (drive == nullptr || !GetDiskFreeSpaceExA(root.c_str(), &freeBytes, &total, nullptr)) {
        *why = "no small drive to fill (VOZ_SMALL_DRIVE unset or not mapped; mounting a tmpfs needs root)";
        return std::string();
    }
    // Never fill a real disk.
    if (total.QuadPart > 16ull * 1024 * 1024) {
        *why = root + " is not a small drive";
        return std::string();
    }
    *totalBytes = total.QuadPart;
    return root;
}

// ---- Processes --------------------------------------------------------------

// A program started with arguments, in folder (empty: this one's); ended
// when the object goes if it still runs then.
class TProcess {
  public:
    TProcess(const std::string& program, const std::string& arguments, const std::string& folder = "") {
        std::string command = "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
        STARTUPINFOA si{};
        si.cb = sizeof si;
        started = CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 folder.empty() ? nullptr : folder.c_str(), &si, &pi) != 0;
    }
    ~TProcess() {
        if (!started) return;
        if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) {
            TerminateProcess(pi.hProcess, 99);
            WaitForSingleObject(pi.hProcess, 5000);
        }
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;

    // Exit code, or STILL_ACTIVE when it did not end within ms (scaled).
    DWORD Wait(DWORD ms) {
        if (!started || WaitForSingleObject(pi.hProcess, Scaled(ms)) != WAIT_OBJECT_0) return STILL_ACTIVE;
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(pi.hProcess, &code);
        return code;
    }

    PROCESS_INFORMATION pi{};
    bool started = false;
};

// What RunSelfUnder answers when the copy could not be made, started or
// did not end in time.
constexpr DWORD kCopyDidNotRun = 0xFFFFFFFFu;

// Wine shows a program the Windows version set for its file name under
// AppDefaults: a copy of this program named NAME<pid>_VERSION.exe in folder
// runs with arguments as that system would (in this program's working
// folder, so that nothing it starts holds folder), and its exit code comes
// back. The copy and its setting are removed afterwards.
inline DWORD RunSelfUnder(const std::string& windowsVersion, const std::string& folder, const char* name,
                          const std::string& arguments, DWORD ms = 120000) {
    char self[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return kCopyDidNotRun;
    const std::string exeName = name + std::to_string(GetCurrentProcessId()) + "_" + windowsVersion + ".exe";
    const std::string exe = folder + "\\" + exeName;
    if (!CopyFileA(self, exe.c_str(), FALSE)) return kCopyDidNotRun;
    const std::string appKey = "Software\\Wine\\AppDefaults\\" + exeName;
    DWORD code = kCopyDidNotRun;
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, appKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(windowsVersion.c_str()),
                       static_cast<DWORD>(windowsVersion.size() + 1));
        RegCloseKey(key);
        {
            TProcess copy(exe, arguments);
            if (copy.started) {
                code = copy.Wait(ms);
                if (code == STILL_ACTIVE) code = kCopyDidNotRun;
            }
        }
        RegDeleteKeyA(HKEY_CURRENT_USER, appKey.c_str());
    }
    DeleteFileA(exe.c_str());
    return code;
}

// ---- Windows of other processes -------------------------------------------------

struct TWindowQuery {
    DWORD pid;
    const char* cls;
    const char* title;  // null: any
    bool visibleOnly;
    HWND except;  // a window that does not count (null: none)
    HWND found;
};

inline BOOL CALLBACK MatchTopWindow(HWND wnd, LPARAM context) {
    auto* q = reinterpret_cast<TWindowQuery*>(context);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    char cls[128] = {};
    if (wnd == q->except || pid != q->pid || (q->visibleOnly && !IsWindowVisible(wnd)) ||
        !GetClassNameA(wnd, cls, sizeof cls) || strcmp(cls, q->cls) != 0)
        return TRUE;
    if (q->title != nullptr) {
        char title[256] = {};
        GetWindowTextA(wnd, title, sizeof title);
        if (strcmp(title, q->title) != 0) return TRUE;
    }
    q->found = wnd;
    return FALSE;
}

// A top-level window of process pid with class cls (and, when given, the
// title); with visibleOnly a hidden one does not count. Null when none.
inline HWND FindTopWindow(DWORD pid, const char* cls, const char* title = nullptr, bool visibleOnly = false) {
    TWindowQuery q{pid, cls, title, visibleOnly, nullptr, nullptr};
    EnumWindows(MatchTopWindow, reinterpret_cast<LPARAM>(&q));
    return q.found;
}

// A dialog of this thread titled title, other than except; with visibleOnly
// a hidden one does not count. Null when none.
inline HWND FindThreadDialog(const char* title, HWND except = nullptr, bool visibleOnly = false) {
    TWindowQuery q{GetCurrentProcessId(), "#32770", title, visibleOnly, except, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), MatchTopWindow, reinterpret_cast<LPARAM>(&q));
    return q.found;
}

// ---- Shell links ------------------------------------------------------------

struct TLinkInfo {
    bool loaded = false;
    std::string path, workDir, description;
    WORD hotKey = 0;
};

// What the link file says, as stored (environment strings not expanded).
inline TLinkInfo ReadLink(const std::string& file) {
    TLinkInfo info;
    const HRESULT init = CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link)))) {
        IPersistFile* persist = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
            std::wstring wide(file.size() + 1, L'\0');
            MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
            if (SUCCEEDED(persist->Load(wide.c_str(), STGM_READ))) {
                char text[1024] = {};
                link->GetPath(text, sizeof text, nullptr, SLGP_RAWPATH);
                info.path = text;
                text[0] = '\0';
                link->GetWorkingDirectory(text, sizeof text);
                info.workDir = text;
                text[0] = '\0';
                link->GetDescription(text, sizeof text);
                info.description = text;
                link->GetHotkey(&info.hotKey);
                info.loaded = true;
            }
            persist->Release();
        }
        link->Release();
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return info;
}

// A shell link at link to target; true when it was saved.
inline bool MakeLink(const std::string& link, const std::string& target) {
    const HRESULT init = CoInitialize(nullptr);
    bool ok = false;
    IShellLinkA* shellLink = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&shellLink)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(shellLink->SetPath(target.c_str())) &&
            SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            std::wstring wide(link.size() + 1, L'\0');
            MultiByteToWideChar(CP_ACP, 0, link.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
            ok = SUCCEEDED(file->Save(wide.c_str(), TRUE));
            file->Release();
        }
        shellLink->Release();
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return ok;
}

// ---- Machine folders ----------------------------------------------------------

// The machine's common files folder as the registry gives it,
// without a trailing backslash; "C:" when it names none.
inline std::string CommonFilesFolder() {
    char common[MAX_PATH] = "C:";
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_QUERY_VALUE, &key) ==
        ERROR_SUCCESS) {
        DWORD size = sizeof common - 1;
        if (RegQueryValueExA(key, "CommonFilesDir", nullptr, nullptr, reinterpret_cast<BYTE*>(common), &size) !=
            ERROR_SUCCESS)
            strcpy(common, "C:");
        common[sizeof common - 1] = '\0';
        RegCloseKey(key);
    }
    std::string folder = common;
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    return folder;
}

}  // namespace voztest
