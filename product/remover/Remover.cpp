// The product's uninstaller, named by the setup's uninstall entry. It finds
// the installation in the folder it sits in. Started without arguments it
// asks for confirmation and, when the "Queries" folder holds anything,
// whether the user's query folders should go too; then it takes away what
// the setup made:
//   - the product's files and folders in the install folder;
//   - the Start-menu program group and the desktop shortcut (links that
//     point into the install folder);
//   - the uninstall entry, when it names this uninstaller;
//   - the query-folder file association, when it runs this installation's
//     main program;
//   - product A: the browser button definition, when it runs this
//     installation's main program;
//   - the search-box helper (its logon start, its copy in the shared vendor
//     folder, its lock file), but only when no other installed product of
//     the vendor still uses it. A running helper is stopped first, the way
//     the setup stops it: WM_QUIT to the window named in its lock file.
// One message at the end tells what could not be removed. "/S" does the
// same without any window and keeps the user's query folders; the exit
// code then tells the outcome:
//   0  removed (the uninstaller itself goes at the next restart)
//   1  removed, but some items are left (in use, or not the product's)
//   2  the folder holds no installation of the product: nothing removed
//   3  cancelled by the user
//
// Only the product's own files go: a file the user put into one of its
// folders stays, and so does that folder. A running program cannot delete
// its own file, so the uninstaller asks Windows to delete it, and the
// install folder once empty, at the next restart (MoveFileEx with
// MOVEFILE_DELAY_UNTIL_REBOOT; the uninstaller runs as administrator, which
// that needs). It does not run a copy of itself from the temp folder: an
// elevated program started from a folder the user can write to would load
// whatever libraries are planted beside it.
//
// The per-user toolbar layouts and command mappings of the browser button
// are left as they are: the browser shows no button whose definition is
// gone, the layout is the browser's own binary format of which the setup
// knows only a part, hives of users who are not logged on cannot be reached
// anyway, and a kept mapping lets a later installation reuse its command id
// and find its record already in the layout instead of adding a second one.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ProductFacts.h"
#include "ProductUtil.h"

namespace {

constexpr char kCaption[] = PRODUCT_FULL_NAME " Uninstall";
constexpr int kExitRemoved = 0;
constexpr int kExitLeftovers = 1;
constexpr int kExitNotInstalled = 2;
constexpr int kExitCancelled = 3;
constexpr size_t kShownLeftovers = 15;  // lines of the final message

constexpr char kQueryTypeName[] = PRODUCT_QUERY_TYPE;
constexpr bool kHasBrowserButton = VOZ_FEATURE_BROWSER_BUTTON;
// Product A's browser button definition (the product's extension class id).
constexpr char kButtonKey[] = BROWSER_BUTTON_KEY;

// The search-box helper, shared by the vendor's products.
constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kRunValue[] = SEARCH_BOX_RUN_VALUE;
constexpr char kHelperName[] = "\\" SEARCH_BOX_PROGRAM;
constexpr char kLockName[] = "\\" SEARCH_BOX_LOCK_FILE;
constexpr char kHelperWindowClass[] = SEARCH_BOX_WINDOW_CLASS;
constexpr int kHelperWaits = 21;  // of 500 ms each
struct TVendorProduct {
    const char* fullName;
    const char* mainProgram;
};
constexpr TVendorProduct kVendorProducts[] = {{VOZ_A_FULL_NAME, VOZ_A_SHORT_NAME ".exe"},
                                              {VOZ_B_FULL_NAME, VOZ_B_SHORT_NAME ".exe"}};

constexpr char kQueriesFolder[] = "Queries";

// What the setup puts into the install folder, relative to it. A name
// ending in a "*" pattern stands for every match in that folder. The
// "Queries" folder holds the user's own files and is handled apart.
constexpr const char* kInstalledFiles[] = {
    "\\" PRODUCT_MAIN_PROGRAM, "\\" PRODUCT_DATA_FILE,  "\\" PRODUCT_SETTINGS_FILE, "\\License.txt",
    "\\" SEARCH_BOX_PROGRAM,
    "\\tempfile.$$$",  // left by an extraction that failed
    "\\" PRODUCT_HELP_PROGRAM, "\\Help\\PVQHelp.pch",   "\\Plugins\\WordRd.dll",    "\\Plugins\\WordRd.ini",
    "\\Plugins\\ShowRd.dll",   "\\Plugins\\ShowRd.ini", "\\Plugins\\CalcRd.dll",    "\\Plugins\\CalcRd.ini",
#if VOZ_FEATURE_LANGUAGE_CHOICE
    "\\Language\\*.PQL",
#endif
#if VOZ_FEATURE_CACHE_CLEANUP
    "\\Cache\\*.HTM",          "\\Cache\\CACHETRM.EXE",
#endif
};

// The product's folders, removed when nothing else is left in them.
constexpr const char* kInstalledFolders[] = {
    "\\Help",     "\\Plugins", "\\Library",
#if VOZ_FEATURE_LANGUAGE_CHOICE
    "\\Language",
#endif
#if VOZ_FEATURE_CACHE_CLEANUP
    "\\Cache",
#endif
#if VOZ_FEATURE_SITE_MAPS
    "\\SiteMaps",
#endif
};

std::string InstallFolder;
std::string SelfPath;
std::vector<std::string> Leftovers;

void Leave(const std::string& what) { Leftovers.push_back(what); }

// True when the file is gone (or was never there); a failure is noted.
bool RemoveFile(const std::string& path) {
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileA(path.c_str())) return true;
    Leave(path);
    return false;
}

void RemoveInstalledFiles() {
    for (const char* item : kInstalledFiles) {
        std::string path = InstallFolder + item;
        if (path.find('*') == std::string::npos) {
            RemoveFile(path);
            continue;
        }
        std::string folder = FolderOfPath(path);
        std::vector<std::string> matches;
        WIN32_FIND_DATAA entry;
        HANDLE find = FindFirstFileA(path.c_str(), &entry);
        if (find == INVALID_HANDLE_VALUE) continue;
        do {
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
                matches.push_back(folder + "\\" + entry.cFileName);
        } while (FindNextFileA(find, &entry));
        FindClose(find);
        for (const std::string& match : matches) RemoveFile(match);
    }
}

void RemoveInstalledFolders() {
    for (const char* item : kInstalledFolders) {
        std::string path = InstallFolder + item;
        if (FolderExists(path) && !RemoveDirectoryA(path.c_str())) Leave(path + "\\ (holds other files)");
    }
}

// Names in folder other than "." and "..".
std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return names;
}

// Removes folder with everything in it. Each item that stays is noted;
// the folder itself only when nothing inside it explains why it stays.
bool RemoveTree(const std::string& folder) {
    bool all = true;
    for (const std::string& name : FolderEntries(folder)) {
        std::string path = folder + "\\" + name;
        DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            all = RemoveTree(path) && all;
        else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            all = RemoveDirectoryA(path.c_str()) && all;  // a junction: the link goes, not its target
        else
            all = RemoveFile(path) && all;
    }
    if (RemoveDirectoryA(folder.c_str())) return all;
    if (all) Leave(folder + "\\");
    return false;
}

std::string QueriesPath() { return InstallFolder + "\\" + kQueriesFolder; }

// The user's query folders: kept unless the user agreed to remove them.
// An empty "Queries" folder holds nothing of the user's and goes anyway.
void RemoveQueries(bool removeUserFiles) {
    std::string queries = QueriesPath();
    if (!FolderExists(queries)) return;
    if (removeUserFiles)
        RemoveTree(queries);
    else if (FolderEntries(queries).empty())
        RemoveDirectoryA(queries.c_str());
}

// The target of a shell link, as stored; empty when it cannot be read.
std::string LinkTarget(const std::string& linkPath) {
    std::string target;
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return target;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t wide[MAX_PATH];
        if (MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, wide, MAX_PATH) > 0 &&
            SUCCEEDED(file->Load(wide, STGM_READ))) {
            char path[MAX_PATH + 1] = {};
            if (link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH) == S_OK) target = path;
        }
        file->Release();
    }
    link->Release();
    return target;
}

bool PointsIntoInstallFolder(const std::string& target) {
    return SameTextAscii(target, InstallFolder) || StartsWithTextAscii(target, InstallFolder + "\\");
}

// Deletes the links in folder whose target lies in the install folder.
void RemoveLinksIn(const std::string& folder) {
    std::vector<std::string> ours;
    WIN32_FIND_DATAA entry;
    std::string pattern = folder + "\\*.lnk";
    HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::string link = folder + "\\" + entry.cFileName;
        if (PointsIntoInstallFolder(LinkTarget(link))) ours.push_back(link);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    for (const std::string& link : ours) RemoveFile(link);
}

// The special folder's path, or empty. Through an item list: the shell of
// Windows NT 4.0 has no SHGetSpecialFolderPathA.
std::string SpecialFolder(int csidl) {
    LPITEMIDLIST items = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) || items == nullptr) return std::string();
    char path[MAX_PATH + 1] = {};
    const bool found = SHGetPathFromIDListA(items, path) != FALSE;
    CoTaskMemFree(items);
    return found ? std::string(path) : std::string();
}

void RemoveShortcuts() {
    // The setup puts the group into the all-users Start menu when run by an
    // administrator, else into the user's: look in both.
    for (int csidl : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) {
        std::string programs = SpecialFolder(csidl);
        if (programs.empty()) continue;
        std::string group = programs + "\\" PRODUCT_FULL_NAME;
        if (!FolderExists(group)) continue;
        RemoveLinksIn(group);
        // A group that still holds something is not only ours: it stays.
        RemoveDirectoryA(group.c_str());
    }
    for (int csidl : {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY}) {
        std::string desktop = SpecialFolder(csidl);
        if (!desktop.empty()) RemoveLinksIn(desktop);
    }
}

std::string UninstallerOfEntry() {
    std::string command;
    if (!ReadRegistryText(HKEY_LOCAL_MACHINE, PRODUCT_UNINSTALL_KEY, "UninstallString", MAX_PATH + 2, &command))
        return std::string();
    if (command.size() >= 2 && command.front() == '"' && command.back() == '"')
        command = command.substr(1, command.size() - 2);
    return command;
}

// The uninstall entry goes only when it names this uninstaller: an entry
// of another installation of the product is not ours to remove.
void RemoveUninstallEntry() {
    std::string named = UninstallerOfEntry();
    if (named.empty() || !SameTextAscii(named, SelfPath)) return;
    if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, PRODUCT_UNINSTALL_KEY) != ERROR_SUCCESS)
        Leave("the uninstall entry HKEY_LOCAL_MACHINE\\" PRODUCT_UNINSTALL_KEY);
}

// Deletes key and everything below it; true when it is gone afterwards.
bool DeleteKeyTree(HKEY root, const std::string& key, int depth = 0) {
    if (depth > 32) return false;  // deeper than anything the setup makes
    HKEY k;
    LONG r = RegOpenKeyExA(root, key.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &k);
    if (r == ERROR_FILE_NOT_FOUND) return true;
    if (r != ERROR_SUCCESS) return false;
    std::vector<std::string> children;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        r = RegEnumKeyExA(k, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (r != ERROR_SUCCESS) break;
        children.emplace_back(name, length);
    }
    RegCloseKey(k);
    bool ok = r == ERROR_NO_MORE_ITEMS;
    for (const std::string& child : children) ok = DeleteKeyTree(root, key + "\\" + child, depth + 1) && ok;
    if (!ok) return false;
    r = RegDeleteKeyA(root, key.c_str());
    return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

std::string MainProgramPath() { return InstallFolder + "\\" PRODUCT_MAIN_PROGRAM; }

// The query-folder association goes when it runs this installation's main
// program; one made by another installation (or by another program for the
// same extension) stays. Sub-keys the shell added to the extension key
// (for instance "OpenWithProgids") stay with it; only its pointer to our
// type goes then.
void RemoveQueryFolderType() {
    std::string command;
    std::string commandKey = std::string(kQueryTypeName) + "\\shell\\open\\command";
    if (!ReadRegistryText(HKEY_CLASSES_ROOT, commandKey.c_str(), "", 2 * MAX_PATH + 16, &command)) return;
    std::string program = MainProgramPath();
    if (!StartsWithTextAscii(command, "\"" + program + "\"") && !StartsWithTextAscii(command, program + " ") &&
        !SameTextAscii(command, program))
        return;

    std::string type;
    if (ReadRegistryText(HKEY_CLASSES_ROOT, PRODUCT_QUERY_EXTENSION, "", MAX_PATH, &type) &&
        SameTextAscii(type, kQueryTypeName)) {
        HKEY k;
        bool done = false;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, PRODUCT_QUERY_EXTENSION, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &k) ==
            ERROR_SUCCESS) {
            DWORD subKeys = 0;
            DWORD values = 0;
            bool bare = RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                                         nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                        subKeys == 0 && values <= 1;
            if (!bare) done = RegDeleteValueA(k, "") == ERROR_SUCCESS;
            RegCloseKey(k);
            if (bare) done = RegDeleteKeyA(HKEY_CLASSES_ROOT, PRODUCT_QUERY_EXTENSION) == ERROR_SUCCESS;
        }
        if (!done) Leave("the file type HKEY_CLASSES_ROOT\\" PRODUCT_QUERY_EXTENSION);
    }
    if (!DeleteKeyTree(HKEY_CLASSES_ROOT, kQueryTypeName)) Leave(std::string("HKEY_CLASSES_ROOT\\") + kQueryTypeName);
}

// Product A's browser button definition, when it runs this installation's
// main program.
void RemoveBrowserButton() {
    if (!kHasBrowserButton) return;
    std::string exec;
    if (!ReadRegistryText(HKEY_LOCAL_MACHINE, kButtonKey, "Exec", MAX_PATH + 1, &exec)) return;
    if (!SameTextAscii(exec, MainProgramPath())) return;
    if (!DeleteKeyTree(HKEY_LOCAL_MACHINE, kButtonKey))
        Leave(std::string("the browser button HKEY_LOCAL_MACHINE\\") + kButtonKey);
}

// The helper serves every product of the vendor: it stays while any of
// them is installed in a folder other than this one (the other product, or
// another installation of this one).
bool HelperStillUsed() {
    for (const TVendorProduct& product : kVendorProducts) {
        std::string folder = InstalledProductFolder(product.fullName, product.mainProgram);
        if (!folder.empty() && !SameTextAscii(folder, InstallFolder)) return true;
    }
    return false;
}

// A lock file that exists and cannot be deleted belongs to a running
// helper; a stale one is deleted on the way.
bool HelperLockHeld(const std::string& lock) {
    return GetFileAttributesA(lock.c_str()) != INVALID_FILE_ATTRIBUTES && !DeleteFileA(lock.c_str());
}

// Asks a running helper to quit, through the window its lock file names,
// and waits a while for it. True when no helper holds the lock afterwards.
bool StopSearchBoxHelper(const std::string& vendor) {
    std::string lock = vendor + kLockName;
    if (!HelperLockHeld(lock)) return true;
    std::string data;
    if (!ReadFileBytes(lock, 64, &data) || data.size() < 4) return false;
    uint32_t handle = static_cast<uint8_t>(data[0]) | static_cast<uint32_t>(static_cast<uint8_t>(data[1])) << 8 |
                      static_cast<uint32_t>(static_cast<uint8_t>(data[2])) << 16 |
                      static_cast<uint32_t>(static_cast<uint8_t>(data[3])) << 24;
    HWND wnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
    // A handle from the file may have been reused by some other window since:
    // only the helper's own window is told to quit.
    char cls[64];
    if (!IsWindow(wnd) || GetClassNameA(wnd, cls, sizeof cls) == 0 || strcmp(cls, kHelperWindowClass) != 0)
        return false;
    PostMessageA(wnd, WM_QUIT, 0, 0);
    for (int i = 0; i < kHelperWaits; ++i) {
        Sleep(500);
        if (!HelperLockHeld(lock)) return true;
    }
    return false;
}

// The path with each run of backslashes after its start cut to one: the
// setup joins the common-files folder and the vendor folder as the
// registry gives the first, trailing backslash and all.
std::string SingleBackslashes(const std::string& path) {
    std::string out;
    for (size_t i = 0; i < path.size(); ++i)
        if (!(i > 1 && path[i] == '\\' && out.back() == '\\')) out += path[i];
    return out;
}

bool RemoveRunValue(const std::string& helper) {
    std::string command;
    if (!ReadRegistryText(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, 2 * MAX_PATH, &command)) return true;
    if (command.size() >= 2 && command.front() == '"' && command.back() == '"')
        command = command.substr(1, command.size() - 2);
    if (!SameTextAscii(SingleBackslashes(command), SingleBackslashes(helper))) return true;  // not our helper's
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, &k) != ERROR_SUCCESS) return false;
    bool ok = RegDeleteValueA(k, kRunValue) == ERROR_SUCCESS;
    RegCloseKey(k);
    return ok;
}

// The helper's logon start, its installed copy and its lock file, and the
// vendor folder when nothing else is left in it.
void RemoveSearchBoxHelper(const std::string& vendor) {
    std::string helper = vendor + kHelperName;
    if (!RemoveRunValue(helper)) Leave("the logon start HKEY_LOCAL_MACHINE\\" + std::string(kRunKey) + " " + kRunValue);
    if (!FolderExists(vendor)) return;
    RemoveFile(helper);
    std::string lock = vendor + kLockName;
    if (HelperLockHeld(lock)) Leave(lock + " (the search box is still running)");
    RemoveDirectoryA(vendor.c_str());  // the vendor's other programs may live there too
}

// True when folder holds nothing but the given names.
bool FolderHoldsOnly(const std::string& folder, const std::vector<std::string>& allowed) {
    for (const std::string& name : FolderEntries(folder)) {
        bool ok = false;
        for (const std::string& a : allowed) ok = ok || SameTextAscii(name, a);
        if (!ok) return false;
    }
    return true;
}

// Returns true when Windows will delete the uninstaller at the next restart.
// The vendor folder the setup made above the installation ("...\Ovantis"
// by default) goes too when the installation was all it held. A folder the
// user picked is never touched: only one named like the vendor folder.
void ScheduleEmptyVendorFolder() {
    const std::string parent = FolderOfPath(InstallFolder);
    if (parent.empty() || parent == InstallFolder || lstrcmpiA(NameOfPath(parent).c_str(), VENDOR_FOLDER + 1) != 0)
        return;
    if (!FolderHoldsOnly(parent, {NameOfPath(InstallFolder)})) return;
    MoveFileExA(parent.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

bool ScheduleSelf(bool queriesKept) {
    if (!MoveFileExA(SelfPath.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        Leave(SelfPath + " (delete it by hand)");
        return false;
    }
    std::vector<std::string> allowed{NameOfPath(SelfPath)};
    if (FolderHoldsOnly(InstallFolder, allowed)) {
        // Registered after the file, so it is removed after it, when it is empty.
        MoveFileExA(InstallFolder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        ScheduleEmptyVendorFolder();
        return true;
    }
    // The user's query folders stay where they are by the user's choice.
    allowed.push_back(kQueriesFolder);
    if (!queriesKept || !FolderHoldsOnly(InstallFolder, allowed)) Leave(InstallFolder + "\\ (holds other files)");
    return true;
}

struct TWindowSearch {
    HWND found;
};

BOOL CALLBACK FindProductWindow(HWND wnd, LPARAM context) {
    char cls[128];
    char title[128];
    if (GetClassNameA(wnd, cls, sizeof cls) == 0 || strcmp(cls, "TApplication") != 0) return TRUE;
    GetWindowTextA(wnd, title, sizeof title);
    if (strncmp(title, PRODUCT_FULL_NAME, sizeof(PRODUCT_FULL_NAME) - 1) != 0) return TRUE;
    reinterpret_cast<TWindowSearch*>(context)->found = wnd;
    return FALSE;
}

bool ProductRunning() {
    TWindowSearch search{nullptr};
    EnumWindows(FindProductWindow, reinterpret_cast<LPARAM>(&search));
    return search.found != nullptr;
}

std::string Report(bool scheduled, bool queriesKept) {
    std::string text;
    if (Leftovers.empty()) {
        text = PRODUCT_FULL_NAME " has been removed from your computer.";
    } else {
        text = PRODUCT_FULL_NAME " could not be removed completely. These items are left:";
        for (size_t i = 0; i < Leftovers.size() && i < kShownLeftovers; ++i) text += "\r\n  " + Leftovers[i];
        if (Leftovers.size() > kShownLeftovers)
            text += "\r\n  ... and " + std::to_string(Leftovers.size() - kShownLeftovers) + " more";
        text += "\r\n\r\nClose the programs that use them, then delete them by hand.";
    }
    if (queriesKept) text += "\r\n\r\nYour query folders were kept in\r\n" + QueriesPath();
    if (scheduled) text += "\r\n\r\nThe uninstaller itself will be deleted when Windows restarts.";
    return text;
}

bool IsSilentSwitch(const char* arg) { return (arg[0] == '/' || arg[0] == '-') && _stricmp(arg + 1, "S") == 0; }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    bool silent = false;
    for (int i = 1; i < __argc; ++i)
        if (IsSilentSwitch(__argv[i])) silent = true;

    char self[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH + 1);
    if (length == 0 || length >= MAX_PATH) return kExitNotInstalled;
    SelfPath.assign(self, length);
    InstallFolder = FolderOfPath(SelfPath);

    // Refuse a folder that is not an installation of the product: a copy of
    // the uninstaller somewhere else must not delete files of that name.
    if (!FileExists(MainProgramPath()) && !SameTextAscii(UninstallerOfEntry(), SelfPath)) {
        if (!silent) {
            std::string message = "No installation of " PRODUCT_FULL_NAME " was found in\r\n" + InstallFolder +
                                  "\r\n\r\nNothing has been removed.";
            MessageBoxA(nullptr, message.c_str(), kCaption, MB_OK | MB_ICONERROR);
        }
        return kExitNotInstalled;
    }

    bool removeQueries = false;
    if (!silent) {
        std::string question = "Are you sure you want to remove " PRODUCT_FULL_NAME
                               " and all of its components from\r\n" +
                               InstallFolder + "?";
        if (MessageBoxA(nullptr, question.c_str(), kCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
            return kExitCancelled;
        if (FolderExists(QueriesPath()) && !FolderEntries(QueriesPath()).empty()) {
            std::string queries = "Do you also want to remove your query folders in\r\n" + QueriesPath() +
                                  "?\r\n\r\nChoose No to keep them.";
            removeQueries =
                MessageBoxA(nullptr, queries.c_str(), kCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
        }
        while (ProductRunning()) {
            if (MessageBoxA(nullptr, PRODUCT_FULL_NAME " is running. Please close it, then press Retry.", kCaption,
                            MB_RETRYCANCEL | MB_ICONEXCLAMATION) != IDRETRY)
                return kExitCancelled;
        }
    }

    // Decided before anything goes: this installation's own entry still
    // counts as installed here and is skipped by its folder.
    std::string vendor = SharedVendorFolder();
    bool removeHelper = !HelperStillUsed();
    // A helper that does not quit shows up later as its lock file left.
    if (removeHelper) (void)StopSearchBoxHelper(vendor);

    bool com = SUCCEEDED(CoInitialize(nullptr));
    RemoveInstalledFiles();
    RemoveInstalledFolders();
    RemoveQueries(removeQueries);
    if (com)
        RemoveShortcuts();
    else
        Leave("the shortcuts (the shell's link service is not available)");
    RemoveQueryFolderType();
    RemoveBrowserButton();
    if (removeHelper) RemoveSearchBoxHelper(vendor);
    RemoveUninstallEntry();
    bool queriesKept = FolderExists(QueriesPath()) && !removeQueries;
    bool scheduled = ScheduleSelf(queriesKept);
    if (com) CoUninitialize();

    if (!silent)
        MessageBoxA(nullptr, Report(scheduled, queriesKept).c_str(), kCaption,
                    MB_OK | (Leftovers.empty() ? MB_ICONINFORMATION : MB_ICONWARNING));
    return Leftovers.empty() ? kExitRemoved : kExitLeftovers;
}
