// The product's uninstaller, named by the setup's uninstall entry. Started
// without arguments it asks for confirmation, then removes the product's
// files and folders from the folder it sits in, the Start-menu and desktop
// shortcuts that point into that folder and the uninstall entry, and tells
// what it could not remove. "/S" does the same without any window; the exit
// code then tells the outcome:
//   0  removed (the uninstaller itself goes at the next restart)
//   1  removed, but some items are left (in use, or not the product's)
//   2  the folder holds no installation of the product: nothing removed
//   3  cancelled by the user
//
// Only the product's own files go: a file the user put into one of its
// folders stays, and so does that folder. A running program cannot delete
// its own file, so the uninstaller asks Windows to delete it, and the
// install folder once empty, at the next restart.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>
#include <string>
#include <vector>

#include "ProductNames.h"
#include "ProductUtil.h"

namespace {

constexpr char kCaption[] = PRODUCT_FULL_NAME " Uninstall";
constexpr int kExitRemoved = 0;
constexpr int kExitLeftovers = 1;
constexpr int kExitNotInstalled = 2;
constexpr int kExitCancelled = 3;
constexpr size_t kShownLeftovers = 15;  // lines of the final message

// What the setup puts into the install folder, relative to it. A name
// ending in a "*" pattern stands for every match in that folder.
constexpr const char* kInstalledFiles[] = {
    "\\" PRODUCT_MAIN_PROGRAM,
    "\\" PRODUCT_DATA_FILE,
    "\\" PRODUCT_SETTINGS_FILE,
    "\\License.txt",
    "\\SeekBox.exe",
    "\\tempfile.$$$",  // left by an extraction that failed
    "\\Help\\PVQHelp.exe",
    "\\Help\\PVQHelp.pch",
    "\\Plugins\\WordRd.dll",
    "\\Plugins\\WordRd.ini",
    "\\Plugins\\ShowRd.dll",
    "\\Plugins\\ShowRd.ini",
    "\\Plugins\\CalcRd.dll",
    "\\Plugins\\CalcRd.ini",
    "\\" PRODUCT_QUERY_FILE,
#if PRODUCT_HAS_LANGUAGES
    "\\Language\\*.PQL",
    "\\Cache\\*.HTM",
    "\\Cache\\CACHETRM.EXE",
#endif
};

// The product's folders, removed when nothing else is left in them.
constexpr const char* kInstalledFolders[] = {
    "\\Help", "\\Plugins", "\\Queries", "\\Library",
#if PRODUCT_HAS_LANGUAGES
    "\\Language", "\\Cache", "\\SiteMaps",
#endif
};

std::string InstallFolder;
std::string SelfPath;
std::vector<std::string> Leftovers;

void Leave(const std::string& what) { Leftovers.push_back(what); }

void RemoveFile(const std::string& path) {
  if (!FileExists(path)) return;
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!DeleteFileA(path.c_str())) Leave(path);
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
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) matches.push_back(folder + "\\" + entry.cFileName);
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

std::string SpecialFolder(int csidl) {
  char path[MAX_PATH + 1] = {};
  if (!SHGetSpecialFolderPathA(nullptr, path, csidl, FALSE)) return std::string();
  return path;
}

void RemoveShortcuts() {
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
  if (!ReadRegistryText(HKEY_LOCAL_MACHINE, PRODUCT_UNINSTALL_ROOT PRODUCT_FULL_NAME, "UninstallString",
                        MAX_PATH + 2, &command))
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
  if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, PRODUCT_UNINSTALL_ROOT PRODUCT_FULL_NAME) != ERROR_SUCCESS)
    Leave("the uninstall entry " PRODUCT_FULL_NAME);
}

bool FolderHoldsOnly(const std::string& folder, const std::string& name) {
  WIN32_FIND_DATAA entry;
  std::string pattern = folder + "\\*";
  HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return true;
  bool only = true;
  do {
    std::string entryName = entry.cFileName;
    if (entryName != "." && entryName != ".." && !SameTextAscii(entryName, name)) only = false;
  } while (only && FindNextFileA(find, &entry));
  FindClose(find);
  return only;
}

// Returns true when Windows will delete the uninstaller at the next restart.
bool ScheduleSelf() {
  if (!MoveFileExA(SelfPath.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    Leave(SelfPath + " (delete it by hand)");
    return false;
  }
  if (FolderHoldsOnly(InstallFolder, NameOfPath(SelfPath))) {
    // Registered after the file, so it is removed after it, when it is empty.
    MoveFileExA(InstallFolder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  } else {
    Leave(InstallFolder + "\\ (holds other files)");
  }
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

std::string Report(bool scheduled) {
  std::string text = PRODUCT_FULL_NAME " has been removed from your computer.";
  if (scheduled) text += "\r\n\r\nThe uninstaller itself will be deleted when Windows restarts.";
  if (!Leftovers.empty()) {
    text += "\r\n\r\nThese items could not be removed:";
    for (size_t i = 0; i < Leftovers.size() && i < kShownLeftovers; ++i) text += "\r\n  " + Leftovers[i];
    if (Leftovers.size() > kShownLeftovers)
      text += "\r\n  ... and " + std::to_string(Leftovers.size() - kShownLeftovers) + " more";
  }
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
  if (!FileExists(InstallFolder + "\\" PRODUCT_MAIN_PROGRAM) && !SameTextAscii(UninstallerOfEntry(), SelfPath)) {
    if (!silent) {
      std::string message = "No installation of " PRODUCT_FULL_NAME " was found in\r\n" + InstallFolder +
                            "\r\n\r\nNothing has been removed.";
      MessageBoxA(nullptr, message.c_str(), kCaption, MB_OK | MB_ICONERROR);
    }
    return kExitNotInstalled;
  }

  if (!silent) {
    std::string question = "Are you sure you want to remove " PRODUCT_FULL_NAME " and all of its components from\r\n" +
                           InstallFolder + "?";
    if (MessageBoxA(nullptr, question.c_str(), kCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
      return kExitCancelled;
    while (ProductRunning()) {
      if (MessageBoxA(nullptr, PRODUCT_FULL_NAME " is running. Please close it, then press Retry.", kCaption,
                      MB_RETRYCANCEL | MB_ICONEXCLAMATION) != IDRETRY)
        return kExitCancelled;
    }
  }

  bool com = SUCCEEDED(CoInitialize(nullptr));
  RemoveInstalledFiles();
  RemoveInstalledFolders();
  if (com)
    RemoveShortcuts();
  else
    Leave("the shortcuts (the shell's link service is not available)");
  RemoveUninstallEntry();
  bool scheduled = ScheduleSelf();
  if (com) CoUninitialize();

  if (!silent)
    MessageBoxA(nullptr, Report(scheduled).c_str(), kCaption,
                MB_OK | (Leftovers.empty() ? MB_ICONINFORMATION : MB_ICONWARNING));
  return Leftovers.empty() ? kExitRemoved : kExitLeftovers;
}
