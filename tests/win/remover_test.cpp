// The product's uninstaller, run as its own process on an installation
// made here the way the setup makes it: the installed files with a user's
// query folders, the program group and the desktop shortcut, the uninstall
// entry, the query-folder file association, the search-box helper (its
// copy in the shared vendor folder, running, with its logon start) and, in
// product A, the browser button. The test answers the uninstaller's
// message boxes and checks what is left.
//
// Built once per product (VOZ_PROFILE_A / VOZ_PROFILE_B); VOZ_REMOVER_EXE
// and VOZ_SEEKBOX_EXE name the built uninstaller and search-box helper.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ProductFacts.h"
#include "TestSupport.h"

using voztest::FileExists;
using voztest::FolderExists;
using voztest::MakeLink;
using voztest::PendingDeletes;
using voztest::RemoveTree;
using voztest::TProcess;
using voztest::Upper;
using voztest::WinePath;
using voztest::WriteBytes;

namespace {

#if defined(VOZ_PROFILE_A)
constexpr char kTypeName[] = "perus_query_folder";
constexpr char kOtherName[] = "Mailvane";
constexpr char kOtherProgram[] = "Mailv.exe";
constexpr bool kButton = true;
const std::vector<std::string> kGroupLinks = {"Perus", "Perus Help", "Perus Report Library", "Perus Site Maps",
                                              "Perus License Agreement"};
#else
constexpr char kTypeName[] = "mailv_query_folder";
constexpr char kOtherName[] = "Perusant";
constexpr char kOtherProgram[] = "Perus.exe";
constexpr bool kButton = false;
const std::vector<std::string> kGroupLinks = {"Mailvane", "Help", "Report Library", "License Agreement"};
#endif
constexpr char kCaption[] = PRODUCT_FULL_NAME " Uninstall";
constexpr char kUninstallKey[] = PRODUCT_UNINSTALL_KEY;
constexpr char kOtherUninstallPrefix[] = PRODUCT_UNINSTALL_ROOT;
constexpr char kButtonKey[] =
    "Software\\Microsoft\\Internet Explorer\\Extensions\\{5B1E0A77-3C42-4D19-8E6F-27A9C0D4B312}";
constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// ---- Files ------------------------------------------------------------------

// The file's bytes; empty when it cannot be read.
std::string ReadBytes(const std::string& path) {
    std::string data;
    return voztest::ReadBytes(path, &data) ? data : std::string();
}

std::string SpecialFolder(int csidl) {
    char path[MAX_PATH + 1] = {};
    if (!SHGetSpecialFolderPathA(nullptr, path, csidl, TRUE)) return std::string();
    return path;
}

std::string SharedVendorFolder() { return voztest::CommonFilesFolder() + VENDOR_FOLDER; }

// ---- Registry -----------------------------------------------------------------

bool SetText(HKEY root, const std::string& key, const char* value, const std::string& data) {
    HKEY k;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &k, nullptr) !=
        ERROR_SUCCESS)
        return false;
    bool ok = RegSetValueExA(k, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
    RegCloseKey(k);
    return ok;
}

bool KeyExists(HKEY root, const std::string& key) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

// The value's text; "<absent>" when it cannot be read.
std::string GetText(HKEY root, const std::string& key, const char* value) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return "<absent>";
    char data[1024] = {};
    DWORD size = sizeof data - 1;
    LONG r = RegQueryValueExA(k, value, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(k);
    return r == ERROR_SUCCESS ? std::string(data) : std::string("<absent>");
}

void DeleteTree(HKEY root, const std::string& key) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return;
    std::vector<std::string> children;
    char name[256];
    DWORD length = sizeof name;
    for (DWORD i = 0; RegEnumKeyExA(k, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, length = sizeof name)
        children.emplace_back(name);
    RegCloseKey(k);
    for (const std::string& child : children) DeleteTree(root, key + "\\" + child);
    RegDeleteKeyA(root, key.c_str());
}

void DeleteValue(HKEY root, const std::string& key, const char* value) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_SET_VALUE, &k) != ERROR_SUCCESS) return;
    RegDeleteValueA(k, value);
    RegCloseKey(k);
}

// ---- The uninstaller's process and its message boxes -------------------------

BOOL CALLBACK CollectStaticText(HWND wnd, LPARAM context) {
    char cls[64] = {};
    char text[4096] = {};
    if (GetClassNameA(wnd, cls, sizeof cls) && _stricmp(cls, "Static") == 0 && GetWindowTextA(wnd, text, sizeof text))
        *reinterpret_cast<std::string*>(context) += text;
    return TRUE;
}

// The message of a message box: the text of its static controls (the
// control's id differs between systems).
std::string BoxText(HWND box) {
    std::string text;
    EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(&text));
    return text;
}

// Waits for the uninstaller's next message box, presses the button and
// gives back the box's text; "<no box>" when none came (the process ended
// or nothing showed within the time).
std::string Answer(TProcess& process, int button, DWORD ms = 30000) {
    for (DWORD waited = 0; process.started && waited < voztest::Scaled(ms); waited += 100) {
        if (HWND box = voztest::FindTopWindow(process.pi.dwProcessId, "#32770", kCaption, true)) {
            std::string text = BoxText(box);
            HWND control = GetDlgItem(box, button);
            if (!control) return std::string("<no button ") + std::to_string(button) + "> " + text;
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(control));
            for (int i = 0; i < 100 && IsWindow(box); ++i) Sleep(50);
            return text;
        }
        if (WaitForSingleObject(process.pi.hProcess, 100) == WAIT_OBJECT_0) break;
    }
    return "<no box>";
}

// ---- An installation as the setup leaves it -----------------------------------

// Files relative to the install folder; folders end with a backslash.
std::vector<std::string> InstalledItems() {
    std::vector<std::string> items = {"\\" PRODUCT_MAIN_PROGRAM,
                                      "\\" PRODUCT_SETTINGS_FILE,
                                      "\\License.txt",
                                      "\\Help\\PVQHelp.exe",
                                      "\\Plugins\\WordRd.dll",
                                      "\\Plugins\\WordRd.ini",
                                      "\\Plugins\\ShowRd.dll",
                                      "\\Plugins\\ShowRd.ini",
                                      "\\Plugins\\CalcRd.dll",
                                      "\\Plugins\\CalcRd.ini",
                                      "\\Library\\"};
// Product A: languages, the page cache, site maps.
#if VOZ_FEATURE_LANGUAGE_CHOICE && VOZ_FEATURE_CACHE_CLEANUP && VOZ_FEATURE_SITE_MAPS
    for (const char* item : {"\\Language\\English.PQL", "\\Language\\Template (Other).PQL", "\\Cache\\page1.HTM",
                             "\\Cache\\CACHETRM.EXE", "\\SiteMaps\\"})
        items.push_back(item);
#endif
    return items;
}

struct TInstallation {
    std::string folder;
    std::string remover;
    std::string vendor = SharedVendorFolder();
    std::string helper = vendor + "\\SeekBox.exe";
    std::string group;
    std::string desktopLink;
    std::string queryFile;
    std::string userQuery;
    std::string otherFolder;  // another product of the vendor, when installed

    std::string MainProgram() const { return folder + "\\" PRODUCT_MAIN_PROGRAM; }

    // where: a tag for the folder name. elsewhere: the association and the
    // browser button name another installation's program.
    void Make(const char* where, bool elsewhere = false) {
        ASSERT_FALSE(voztest::TempPath().empty());
        folder = voztest::TempPath() + "voz remover " + where + " " + std::to_string(GetCurrentProcessId());
        RemoveTree(folder);
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
        for (const std::string& item : InstalledItems()) {
            std::string path = folder + item;
            for (size_t slash = path.find('\\', folder.size() + 1); slash != std::string::npos;
                 slash = path.find('\\', slash + 1))
                CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
            if (path.back() != '\\') {
                ASSERT_TRUE(WriteBytes(path, "MZ " + item)) << path;
            }
        }
        ASSERT_TRUE(CreateDirectoryA((folder + "\\Queries").c_str(), nullptr));
        queryFile = folder + "\\" PRODUCT_QUERY_FILE;
        userQuery = folder + "\\Queries\\Mine" PRODUCT_QUERY_EXTENSION;
        ASSERT_TRUE(WriteBytes(queryFile, PRODUCT_QUERY_MARKER " the user's queries"));
        ASSERT_TRUE(WriteBytes(userQuery, PRODUCT_QUERY_MARKER " more of them"));
        remover = folder + "\\remover.exe";
        ASSERT_TRUE(CopyFileA(WinePath(VOZ_REMOVER_EXE).c_str(), remover.c_str(), FALSE));

        // Program group and desktop shortcut (made where the setup makes them
        // when run by an administrator).
        std::string programs = SpecialFolder(CSIDL_COMMON_PROGRAMS);
        if (programs.empty()) programs = SpecialFolder(CSIDL_PROGRAMS);
        ASSERT_FALSE(programs.empty());
        group = programs + "\\" PRODUCT_FULL_NAME;
        RemoveTree(group);
        ASSERT_TRUE(CreateDirectoryA(group.c_str(), nullptr));
        std::vector<std::string> targets = {MainProgram(), folder + "\\Help\\PVQHelp.exe", folder + "\\Library"};
#if VOZ_FEATURE_SITE_MAPS
        targets.push_back(folder + "\\SiteMaps");
#endif
        targets.push_back(folder + "\\License.txt");
        ASSERT_EQ(targets.size(), kGroupLinks.size());
        for (size_t i = 0; i < targets.size(); ++i)
            ASSERT_TRUE(MakeLink(group + "\\" + kGroupLinks[i] + ".lnk", targets[i])) << kGroupLinks[i];
        std::string desktop = SpecialFolder(CSIDL_DESKTOPDIRECTORY);
        ASSERT_FALSE(desktop.empty());
        desktopLink = desktop + "\\" PRODUCT_FULL_NAME ".lnk";
        ASSERT_TRUE(MakeLink(desktopLink, MainProgram()));

        // Registry, with the setup's keys, names and values.
        ASSERT_TRUE(SetText(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", PRODUCT_FULL_NAME));
        ASSERT_TRUE(SetText(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", "\"" + remover + "\""));
        std::string program = elsewhere ? "C:\\Elsewhere\\" PRODUCT_MAIN_PROGRAM : MainProgram();
        ASSERT_TRUE(SetText(HKEY_CLASSES_ROOT, PRODUCT_QUERY_EXTENSION, "", kTypeName));
        ASSERT_TRUE(SetText(HKEY_CLASSES_ROOT, kTypeName, "", "Query Folder"));
        ASSERT_TRUE(SetText(HKEY_CLASSES_ROOT, std::string(kTypeName) + "\\DefaultIcon", "", program + ",-104"));
        ASSERT_TRUE(SetText(HKEY_CLASSES_ROOT, std::string(kTypeName) + "\\shell\\open\\command", "",
                            "\"" + program + "\" \"%1\""));
        if (kButton) {
            ASSERT_TRUE(SetText(HKEY_LOCAL_MACHINE, kButtonKey, "ButtonText", "Perus"));
            ASSERT_TRUE(SetText(HKEY_LOCAL_MACHINE, kButtonKey, "clsid", "{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}"));
            ASSERT_TRUE(SetText(HKEY_LOCAL_MACHINE, kButtonKey, "Exec", program));
            ASSERT_TRUE(SetText(HKEY_LOCAL_MACHINE, kButtonKey, "Icon", program + ",1003"));
        }

        // The search-box helper, installed in the shared vendor folder.
        CreateDirectoryA(FolderOfVendor().c_str(), nullptr);
        CreateDirectoryA(vendor.c_str(), nullptr);
        ASSERT_TRUE(CopyFileA(WinePath(VOZ_SEEKBOX_EXE).c_str(), helper.c_str(), FALSE)) << helper;
        ASSERT_TRUE(SetText(HKEY_LOCAL_MACHINE, kRunKey, "VTSeekBox", helper));
    }

    std::string FolderOfVendor() const { return vendor.substr(0, vendor.find_last_of('\\')); }

    // The vendor's other product, installed in a folder of its own.
    void InstallOtherProduct() {
        otherFolder = voztest::TempPath() + "voz remover other " + std::to_string(GetCurrentProcessId());
        RemoveTree(otherFolder);
        ASSERT_TRUE(CreateDirectoryA(otherFolder.c_str(), nullptr));
        ASSERT_TRUE(WriteBytes(otherFolder + "\\" + kOtherProgram, "MZ"));
        ASSERT_TRUE(SetText(HKEY_LOCAL_MACHINE, std::string(kOtherUninstallPrefix) + kOtherName, "UninstallString",
                            "\"" + otherFolder + "\\remover.exe\""));
    }

    ~TInstallation() {
        if (folder.empty()) return;
        PendingDeletes(folder, true);
        RemoveTree(folder);
        if (!otherFolder.empty()) {
            RemoveTree(otherFolder);
            DeleteTree(HKEY_LOCAL_MACHINE, std::string(kOtherUninstallPrefix) + kOtherName);
        }
        RemoveTree(group);
        DeleteFileA(desktopLink.c_str());
        DeleteTree(HKEY_LOCAL_MACHINE, kUninstallKey);
        DeleteTree(HKEY_CLASSES_ROOT, PRODUCT_QUERY_EXTENSION);
        DeleteTree(HKEY_CLASSES_ROOT, kTypeName);
        if (kButton) DeleteTree(HKEY_LOCAL_MACHINE, kButtonKey);
        DeleteValue(HKEY_LOCAL_MACHINE, kRunKey, "VTSeekBox");
        DeleteFileA(helper.c_str());
        DeleteFileA((vendor + "\\SeekBox.tmp").c_str());
        RemoveDirectoryA(vendor.c_str());
    }
};

// What an untouched installation still has.
void ExpectInstalled(const TInstallation& inst) {
    for (const std::string& item : InstalledItems()) {
        std::string path = inst.folder + item;
        if (path.back() == '\\')
            EXPECT_TRUE(FolderExists(path.substr(0, path.size() - 1))) << item;
        else
            EXPECT_TRUE(FileExists(path)) << item;
    }
    EXPECT_TRUE(FileExists(inst.remover));
    EXPECT_TRUE(FileExists(inst.queryFile));
    EXPECT_TRUE(FileExists(inst.userQuery));
    for (const std::string& name : kGroupLinks) EXPECT_TRUE(FileExists(inst.group + "\\" + name + ".lnk")) << name;
    EXPECT_TRUE(FileExists(inst.desktopLink));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_EQ(GetText(HKEY_CLASSES_ROOT, PRODUCT_QUERY_EXTENSION, ""), kTypeName);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::string(kTypeName) + "\\shell\\open\\command"));
    if (kButton) {
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kButtonKey));
    }
    EXPECT_EQ(GetText(HKEY_LOCAL_MACHINE, kRunKey, "VTSeekBox"), inst.helper);
    EXPECT_TRUE(FileExists(inst.helper));
}

class Remover : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(Remover, DecliningTheFirstQuestionChangesNothing) {
    TInstallation inst;
    ASSERT_NO_FATAL_FAILURE(inst.Make("decline"));
    TProcess run(inst.remover, "");
    ASSERT_TRUE(run.started);
    std::string question = Answer(run, IDNO);
    EXPECT_NE(question.find("Are you sure"), std::string::npos) << question;
    EXPECT_EQ(run.Wait(20000), 3u);
    ExpectInstalled(inst);
    EXPECT_TRUE(PendingDeletes(inst.folder, false).empty());
}

// Everything the setup made goes; the answer to the second question decides
// about the user's query folders. A running helper is asked to quit, and it
// goes with its logon start unless the vendor's other product still uses it.
TEST_F(Remover, RemovesTheInstallationAndAsksAboutTheQueryFolders) {
    for (bool removeQueries : {false, true}) {
        SCOPED_TRACE(removeQueries ? "query folders removed" : "query folders kept");
        TInstallation inst;
        ASSERT_NO_FATAL_FAILURE(inst.Make(removeQueries ? "all" : "keep"));
        bool otherProduct = removeQueries;
        if (otherProduct) {
            ASSERT_NO_FATAL_FAILURE(inst.InstallOtherProduct());
        }

        // The helper runs from its installed copy and holds its lock file.
        TProcess helper(inst.helper, "");
        ASSERT_TRUE(helper.started);
        std::string lock = inst.vendor + "\\SeekBox.tmp";
        for (int i = 0; i < 100 && ReadBytes(lock).size() < 4; ++i) Sleep(100);
        ASSERT_GE(ReadBytes(lock).size(), 4u) << "the helper did not take its lock";

        TProcess run(inst.remover, "");
        ASSERT_TRUE(run.started);
        EXPECT_NE(Answer(run, IDYES).find("Are you sure"), std::string::npos);
        std::string second = Answer(run, removeQueries ? IDYES : IDNO);
        EXPECT_NE(second.find("query folders"), std::string::npos) << second;
        std::string report = Answer(run, IDOK, 60000);
        EXPECT_NE(report.find("has been removed"), std::string::npos) << report;
        EXPECT_EQ(report.find("could not"), std::string::npos) << report;
        EXPECT_EQ(run.Wait(20000), 0u) << report;

        for (const std::string& item : InstalledItems()) {
            std::string path = inst.folder + item;
            if (path.back() == '\\') path.pop_back();
            EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << item;
        }
        for (const char* sub : {"\\Help", "\\Plugins", "\\Language", "\\Cache"})
            EXPECT_FALSE(FolderExists(inst.folder + sub)) << sub;
        EXPECT_EQ(FileExists(inst.queryFile), !removeQueries);
        EXPECT_EQ(FileExists(inst.userQuery), !removeQueries);
        if (!removeQueries) {
            EXPECT_EQ(ReadBytes(inst.queryFile), PRODUCT_QUERY_MARKER " the user's queries");
        }
        EXPECT_FALSE(FolderExists(inst.group));
        EXPECT_FALSE(FileExists(inst.desktopLink));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, PRODUCT_QUERY_EXTENSION));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kTypeName));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kButtonKey));

        if (otherProduct) {
            // Still in use: the helper keeps running, installed and registered.
            EXPECT_EQ(helper.Wait(0), static_cast<DWORD>(STILL_ACTIVE));
            EXPECT_TRUE(FileExists(inst.helper));
            EXPECT_EQ(GetText(HKEY_LOCAL_MACHINE, kRunKey, "VTSeekBox"), inst.helper);
            PostThreadMessageA(helper.pi.dwThreadId, WM_QUIT, 0, 0);
            helper.Wait(15000);
        } else {
            EXPECT_EQ(helper.Wait(0), 0u) << "the helper was not stopped";
            EXPECT_FALSE(FileExists(inst.helper));
            EXPECT_FALSE(FileExists(lock));
            EXPECT_EQ(GetText(HKEY_LOCAL_MACHINE, kRunKey, "VTSeekBox"), "<absent>");
        }

        // The uninstaller goes at the next restart, and with it the folder when
        // nothing of the user's is left there.
        std::vector<std::string> pending = PendingDeletes(inst.folder, true);
        ASSERT_FALSE(pending.empty());
        EXPECT_NE(Upper(pending[0]).find("REMOVER.EXE"), std::string::npos) << pending[0];
        EXPECT_EQ(pending.size(), removeQueries ? 2u : 1u);
    }
}

// A file in use stays and is named in the final message, which does not
// claim success; an association and a browser button of another
// installation stay too.
TEST_F(Remover, ReportsWhatItCouldNotRemove) {
    TInstallation inst;
    ASSERT_NO_FATAL_FAILURE(inst.Make("busy", true));
    // The setup joins a common-files folder given with a trailing backslash
    // and the vendor folder as they come.
    size_t cut = inst.vendor.find_last_of('\\');
    std::string doubled = inst.vendor.substr(0, cut) + "\\" + inst.vendor.substr(cut);
    ASSERT_TRUE(SetText(HKEY_LOCAL_MACHINE, kRunKey, "VTSeekBox", doubled + "\\SeekBox.exe"));
    std::string busy = inst.folder + "\\Plugins\\WordRd.dll";
    HANDLE held = CreateFileA(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    TProcess run(inst.remover, "");
    ASSERT_TRUE(run.started);
    Answer(run, IDYES);
    Answer(run, IDNO);
    std::string report = Answer(run, IDOK, 60000);
    CloseHandle(held);
    EXPECT_EQ(run.Wait(20000), 1u) << report;
    EXPECT_EQ(report.find("has been removed"), std::string::npos) << report;
    EXPECT_NE(report.find("could not be removed"), std::string::npos) << report;
    EXPECT_NE(Upper(report).find(Upper(busy)), std::string::npos) << report;
    EXPECT_TRUE(FileExists(busy));
    EXPECT_FALSE(FileExists(inst.folder + "\\Plugins\\ShowRd.dll"));
    EXPECT_FALSE(FileExists(inst.MainProgram()));

    EXPECT_EQ(GetText(HKEY_CLASSES_ROOT, PRODUCT_QUERY_EXTENSION, ""), kTypeName);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::string(kTypeName) + "\\shell\\open\\command"));
    if (kButton) {
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kButtonKey));
    }
    EXPECT_EQ(GetText(HKEY_LOCAL_MACHINE, kRunKey, "VTSeekBox"), "<absent>");
    EXPECT_FALSE(FileExists(inst.helper));
}

}  // namespace
