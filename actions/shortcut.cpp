// Module shortcut: Programs and desktop folders, shell links.
#include "shortcut.h"

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "WinNTFuncts.h"

static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");

std::string ProgramsFolder;
std::string DesktopFolder;

namespace {

// Shell special-folder ids.
constexpr int kIdDesktop = 0;          // CSIDL_DESKTOP: the user's desktop directory
constexpr int kIdPrograms = 2;         // CSIDL_PROGRAMS
constexpr int kIdCommonPrograms = 23;  // CSIDL_COMMON_PROGRAMS

// SHCNE_UPDATEDIR with a path given as ANSI text.
constexpr LONG kNotifyUpdateDir = 0x1000;

// Balances a successful CoInitialize (S_FALSE included) on every path.
struct TComScope {
    HRESULT hr;
    TComScope() : hr(CoInitialize(nullptr)) {}
    TComScope(const TComScope&) = delete;
    TComScope& operator=(const TComScope&) = delete;
    ~TComScope() {
        if (SUCCEEDED(hr)) CoUninitialize();
    }
};

template <typename T>
struct TComRef {
    T* p = nullptr;
    TComRef() = default;
    TComRef(const TComRef&) = delete;
    TComRef& operator=(const TComRef&) = delete;
    ~TComRef() {
        if (p != nullptr) p->Release();
    }
};

// The special folder's file-system path, or empty.
std::string SpecialFolderPath(int id) {
    std::string result;
    LPITEMIDLIST items = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, id, &items)) || items == nullptr) return result;
    char buffer[MAX_PATH] = {};
    if (SHGetPathFromIDListA(items, buffer)) {
        buffer[MAX_PATH - 1] = '\0';
        result = buffer;
    }
    CoTaskMemFree(items);
    return result;
}

// The target's folder: C:\App\Tool.exe -> C:\App, C:\Tool.exe -> C:\,
// C:\App\Library\ -> C:\App\Library, Tool.exe -> "".
std::string LinkWorkingDirectory(const std::string& target) {
    std::string dir = target;
    while (!dir.empty() && dir.back() != '\\') dir.pop_back();
    if (dir.size() > 3) dir.pop_back();
    return dir;
}

bool HasZeroByte(const std::string& s) { return s.find('\0') != std::string::npos; }

bool EndsWithLnk(const char* name) {
    const std::string s = name;
    if (s.size() < 4) return false;
    const std::string ext = s.substr(s.size() - 4);
    return ext[0] == '.' && (ext[1] | 0x20) == 'l' && (ext[2] | 0x20) == 'n' && (ext[3] | 0x20) == 'k';
}

}  // namespace

void InitShortcut() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);  // 148
    if (!GetVersionExA(&version)) version.dwPlatformId = 0;

    const int programsId =
        (version.dwPlatformId == VER_PLATFORM_WIN32_NT && IsAdministrator()) ? kIdCommonPrograms : kIdPrograms;
    ProgramsFolder = SpecialFolderPath(programsId);
    DesktopFolder = SpecialFolderPath(kIdDesktop);
}

void DoneShortcut() {
    ProgramsFolder.clear();
    DesktopFolder.clear();
}

bool CreateLink(const std::string& target, const std::string& folder, const std::string& name, bool notify,
                WORD hotKey) {
    const std::string linkFile = folder + "\\" + name + ".lnk";
    if (HasZeroByte(target) || HasZeroByte(linkFile)) return false;

    TComScope com;
    if (FAILED(com.hr)) return false;
    TComRef<IShellLinkA> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link.p)))) {
        return false;
    }

    // A property the link object refuses would give a link that does not do
    // what was asked; that counts as a failure, before any old link is touched.
    if (FAILED(link.p->SetPath(target.c_str()))) return false;
    if (FAILED(link.p->SetDescription(name.c_str()))) return false;
    if (FAILED(link.p->SetWorkingDirectory(LinkWorkingDirectory(target).c_str()))) return false;
    if (hotKey != 0 && FAILED(link.p->SetHotkey(hotKey))) return false;

    TComRef<IPersistFile> file;
    if (FAILED(link.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.p)))) return false;

    WCHAR wideName[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, linkFile.c_str(), -1, wideName, MAX_PATH) == 0) return false;
    // DeleteFileW does nothing on Windows 98/Me: delete by the ANSI name.
    /* ok = */ (void)DeleteFileA(linkFile.c_str());

    if (notify) SHChangeNotify(kNotifyUpdateDir, SHCNF_PATHA, folder.c_str(), nullptr);
    const bool saved = SUCCEEDED(file.p->Save(wideName, TRUE));
    if (!saved) (void)DeleteFileA(linkFile.c_str());  // no half-written link stays behind
    if (notify) SHChangeNotify(kNotifyUpdateDir, SHCNF_PATHA, folder.c_str(), nullptr);
    return saved;
}

bool CreateProgramGroup(const std::string& group) {
    if (ProgramsFolder.empty()) return false;
    const std::string path = ProgramsFolder + "\\" + group;
    if (HasZeroByte(path)) return false;
    return CreateDirectoryA(path.c_str(), nullptr) != FALSE;
}

void DeleteGroupLinks(const std::string& group) {
    if (ProgramsFolder.empty()) return;
    const std::string folder = ProgramsFolder + "\\" + group;
    const std::string pattern = folder + "\\*.lnk";
    if (HasZeroByte(pattern) || pattern.size() >= MAX_PATH) return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        // The pattern also matches a short 8.3 alias ("NOTES~1.LNK" of
        // "notes.lnkx"); only the real name decides.
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && EndsWithLnk(found.cFileName)) {
            /* ok = */ (void)DeleteFileA((folder + "\\" + found.cFileName).c_str());
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

bool CreateGroupShortcut(const std::string& group, const std::string& name, const std::string& target, WORD hotKey) {
    if (ProgramsFolder.empty()) return false;
    const std::string subFolder = group.empty() ? group : "\\" + group;
    return CreateLink(target, ProgramsFolder + subFolder, name, true, hotKey);
}

bool CreateDesktopShortcut(const std::string& name, const std::string& target, WORD hotKey) {
    if (DesktopFolder.empty()) return false;
    return CreateLink(target, DesktopFolder, name, false, hotKey);
}
