// Module PostSet, built for one product (VOZ_PROFILE_A or VOZ_PROFILE_B):
// the post-install run on a copy of the real payload folder, the preserved
// user file, the language files and the default language, the page cache,
// the readers on an older system, the help program and its patch.
//
// VOZ_PRODUCT_PAYLOAD names the folder holding the payloads A and B (a Unix
// path is taken as one on Wine's Z: drive); VOZ_HELP_EXE is the help program
// the patch must rebuild. The Programs, desktop and shared vendor folders
// point into the test's own folder; the registry values the run writes under
// HKEY_LOCAL_MACHINE are put back afterwards.
//
// Run as "postset_test_X --post-install DEST PROGRAMS VENDOR" the program
// only runs RunPostInstall there and exits 0 when it answered true, 1 when
// false: the reader test starts a copy of it that Wine shows an older
// Windows.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "Detect.h"
#include "PostSet.h"
#include "Profile.h"
#include "shortcut.h"
#include "TestSupport.h"

using voztest::CopyTree;
using voztest::FileExists;
using voztest::FilesBelow;
using voztest::FolderExists;
using voztest::Names;
using voztest::ReadBytes;
using voztest::RemoveTree;
using voztest::TTempFolder;
using voztest::Upper;
using voztest::WinePath;
using voztest::WriteBytes;

namespace {

// ---- Files and folders ----------------------------------------------------------

std::string Payload() {
    const char* env = getenv("VOZ_PRODUCT_PAYLOAD");
    if (!env || !*env) return std::string();
    return WinePath(env) + (VOZ_FEATURE_BROWSER_BUTTON ? "\\A" : "\\B");
}

// ---- Settings file --------------------------------------------------------------

std::string Section() {
    std::string name;
    for (unsigned char c : kSettingsSectionStored) name += static_cast<char>(static_cast<unsigned char>(~c));
    return name;
}

constexpr char kAbsent[] = "<absent>";

std::string Setting(const std::string& ini, const std::string& section, const char* key) {
    char value[1024] = {};
    GetPrivateProfileStringA(section.c_str(), key, kAbsent, value, sizeof value, ini.c_str());
    return value;
}

// ---- Registry ---------------------------------------------------------------------

// One value under HKEY_LOCAL_MACHINE, put back (or deleted, with its key
// when the key was not there) at the end.
struct TSavedValue {
    std::string key, name, data;
    DWORD type = REG_SZ;
    bool keyExisted = false, valueExisted = false;
    TSavedValue(std::string k, std::string n) : key(std::move(k)), name(std::move(n)) {
        HKEY h;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) return;
        keyExisted = true;
        DWORD size = 0;
        if (RegQueryValueExA(h, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
            data.resize(size);
            valueExisted = RegQueryValueExA(h, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                                            &size) == ERROR_SUCCESS;
        }
        RegCloseKey(h);
    }
    ~TSavedValue() {
        HKEY h;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, &h) != ERROR_SUCCESS) return;
        if (valueExisted)
            RegSetValueExA(h, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                           static_cast<DWORD>(data.size()));
        else
            RegDeleteValueA(h, name.c_str());
        RegCloseKey(h);
        if (!keyExisted) RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    }
    TSavedValue(const TSavedValue&) = delete;
    TSavedValue& operator=(const TSavedValue&) = delete;
};

// The string value, or kAbsent; raw bytes, so a missing terminating zero shows.
std::string RegString(const std::string& key, const char* name) {
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) return kAbsent;
    char value[1024] = {};
    DWORD size = sizeof value, type = 0;
    LONG rc = RegQueryValueExA(h, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return kAbsent;
    return std::string(value, size);
}

constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kExtensionsKey[] = "Software\\Microsoft\\Internet Explorer\\Extensions";
constexpr char kButtonKey[] =
    "Software\\Microsoft\\Internet Explorer\\Extensions\\{5B1E0A77-3C42-4D19-8E6F-27A9C0D4B312}";

// Everything a run writes under HKEY_LOCAL_MACHINE.
struct TMachineState {
    TSavedValue displayName{kUninstallKey, "DisplayName"};
    TSavedValue uninstall{kUninstallKey, "UninstallString"};
    TSavedValue run{kRunKey, "VTSeekBox"};
    std::vector<TSavedValue*> button;
    bool buttonKeyExisted = KeyExists(kButtonKey);
    bool extensionsKeyExisted = KeyExists(kExtensionsKey);
    ~TMachineState() {
        if (!buttonKeyExisted) RegDeleteKeyA(HKEY_LOCAL_MACHINE, kButtonKey);
        if (!extensionsKeyExisted) RegDeleteKeyA(HKEY_LOCAL_MACHINE, kExtensionsKey);
    }
    static bool KeyExists(const char* key) {
        HKEY h;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) return false;
        RegCloseKey(h);
        return true;
    }
};

// ---- Seams -------------------------------------------------------------------------

// The shared vendor folder as the start-up code found it.
std::string machineVendorFolder;

int pumpCalls = 0;
unsigned sleptMs = 0;
int sleepCalls = 0;
int pumpCallsAtFirstSleep = -1;
void CountPump() { ++pumpCalls; }
void FakeSleep(unsigned ms) {
    if (pumpCallsAtFirstSleep < 0) pumpCallsAtFirstSleep = pumpCalls;
    sleptMs += ms;
    ++sleepCalls;
}
void NoSleep(unsigned) {}

unsigned short systemLanguage = 0x0407;  // German (Germany)
unsigned short FakeLanguage() { return systemLanguage; }

// ---- The installation under test ------------------------------------------------

// A destination made from the payload, with the Programs, desktop and
// vendor folders in the test's own folder, and the machine's state kept.
class PostInstall : public ::testing::Test {
  protected:
    TTempFolder root{"post"};
    TMachineState machine;
    std::string dest, programs, vendor, ini;

    void SetUp() override {
        ASSERT_FALSE(Payload().empty()) << "VOZ_PRODUCT_PAYLOAD is not set";
        dest = root.path + "\\Install";
        programs = root.path + "\\Programs";
        vendor = root.path + "\\Vendor";
        ini = dest + kSettingsFile;
        CreateDirectoryA(programs.c_str(), nullptr);
        CreateDirectoryA((root.path + "\\Desktop").c_str(), nullptr);
        ProgramsFolder = programs;
        DesktopFolder = root.path + "\\Desktop";
        SharedVendorFolder = vendor;
        pumpCalls = 0;
        sleptMs = 0;
        sleepCalls = 0;
        pumpCallsAtFirstSleep = -1;
        systemLanguage = 0x0407;
        SetPostSetSleepProc(FakeSleep);
        SetPostSetLanguageProc(FakeLanguage);
        for (TCustomFileToSave& entry : CustomFilesToSave) entry.Content.clear();
    }

    void TearDown() override {
        StopSearchBoxHelper();
        SetPostSetSleepProc(nullptr);
        SetPostSetLanguageProc(nullptr);
        SetPostSetTickProc(nullptr);
        for (TCustomFileToSave& entry : CustomFilesToSave) entry.Content.clear();
    }

    // A helper started by the run holds its lock file in the machine's shared
    // vendor folder (it finds that folder itself), with its window handle in
    // front; WM_QUIT ends it, and the lock goes with it.
    void StopSearchBoxHelper() {
        for (const std::string& folder : {machineVendorFolder, vendor}) {
            std::string lock = folder + "\\SeekBox.tmp";
            for (int i = 0; i < 50 && FileExists(lock); ++i) {
                std::string content;
                if (ReadBytes(lock, &content) && content.size() >= 4) {
                    uint32_t handle = static_cast<uint8_t>(content[0]) | static_cast<uint8_t>(content[1]) << 8 |
                                      static_cast<uint8_t>(content[2]) << 16 |
                                      static_cast<uint32_t>(static_cast<uint8_t>(content[3])) << 24;
                    PostMessageA(reinterpret_cast<HWND>(static_cast<uintptr_t>(handle)), WM_QUIT, 0, 0);
                }
                Sleep(200);
            }
        }
    }

    void CopyPayload() { ASSERT_TRUE(CopyTree(Payload(), dest)); }
};

// ---- The whole run ------------------------------------------------------------------

struct TShortcut {
    const char* name;
    const char* target;
};

#if VOZ_FEATURE_BROWSER_BUTTON
const TShortcut kShortcuts[] = {{"Perus", "\\Perus.exe"},
                                {"Perus Help", "\\Help\\PVQHelp.exe"},
                                {"Perus Report Library", "\\Library"},
                                {"Perus Site Maps", "\\SiteMaps"},
                                {"Perus License Agreement", "\\License.txt"}};
#else
const TShortcut kShortcuts[] = {{"Mailvane", "\\Mailv.exe"},
                                {"Help", "\\Help\\PVQHelp.exe"},
                                {"Report Library", "\\Library"},
                                {"License Agreement", "\\License.txt"}};
#endif

TEST_F(PostInstall, FreshInstallationOfThePayload) {
    ASSERT_TRUE(PreserveCustomFiles(dest));  // nothing installed yet
    CopyPayload();
    std::string group = programs + "\\" + kProgramGroupName;
    // Links of an earlier installation, and one that is not the product's.
    CreateDirectoryA(group.c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(group + "\\Old Name.lnk", "old"));
    ASSERT_TRUE(WriteBytes(group + "\\Not Ours.lnk", "other"));
    ASSERT_TRUE(WriteBytes(group + "\\readme.txt", "kept"));
    const std::vector<std::string> before = FilesBelow(dest);

    // Files that earlier versions left behind (removed by Perusant only).
    const char* obsolete[] = {"Plugins\\Markup.ini",
                              "Plugins\\Markup9x.dll",
                              "Plugins\\Extras\\mkpcore.dll",
                              "Plugins\\Extras\\mkpcore.ini",
                              "Plugins\\OfficeRd.dll",
                              "Plugins\\OfficeRd.ini",
                              "patchset.dat",
                              "patchset.exe"};
    CreateDirectoryA((dest + "\\Plugins\\Extras").c_str(), nullptr);
    for (const char* rel : obsolete) ASSERT_TRUE(WriteBytes(dest + "\\" + rel, "old"));

    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    EXPECT_TRUE(RunPostInstall(dest, CountPump));

    for (const char* rel : obsolete) EXPECT_NE(FileExists(dest + "\\" + rel), kHasObsoleteFileRemoval) << rel;
    // An emptied folder goes, one that still holds files stays.
    EXPECT_NE(FolderExists(dest + "\\Plugins\\Extras"), kHasObsoleteFileRemoval);
    EXPECT_TRUE(FolderExists(dest + "\\Plugins"));

    // The initial wait: a hundred pumps and sleeps of 100 ms, pump first.
    EXPECT_EQ(sleepCalls, 100);
    EXPECT_EQ(sleptMs, 10000u);
    EXPECT_EQ(pumpCallsAtFirstSleep, 1);
    // Then one pump per step (and per obsolete file and language file).
#if VOZ_FEATURE_BROWSER_BUTTON
    EXPECT_EQ(pumpCalls, 100 + 7 + 1 + 3 + 8 + 1 + 6 + 1 + 1);
#else
    EXPECT_EQ(pumpCalls, 100 + 6 + 3 + 1 + 1);
#endif

    // Program group: exactly the product's links, each to its target.
    std::set<std::string> expected;
    for (const TShortcut& s : kShortcuts) {
        expected.insert(std::string(s.name) + ".lnk");
        EXPECT_EQ(Upper(voztest::ReadLink(group + "\\" + s.name + ".lnk").path), Upper(dest + s.target)) << s.name;
    }
    EXPECT_EQ(Names(group, "*.lnk"), expected);
    EXPECT_TRUE(FileExists(group + "\\readme.txt"));
    CoUninitialize();
    EXPECT_TRUE(FolderExists(dest + "\\Library"));
    EXPECT_EQ(FolderExists(dest + "\\SiteMaps"), kHasSiteMapsShortcut);

    // Uninstall entry: the quoted uninstaller, with terminating zeros.
    EXPECT_EQ(RegString(kUninstallKey, "DisplayName"), std::string(kFullName) + '\0');
    EXPECT_EQ(RegString(kUninstallKey, "UninstallString"), "\"" + dest + "\\remover.exe\"" + '\0');

    // Browser integration: the helper moved to the vendor folder and starts
    // at logon; Perusant's button runs the main program.
    EXPECT_TRUE(FileExists(vendor + "\\SeekBox.exe"));
    EXPECT_FALSE(FileExists(dest + "\\SeekBox.exe"));
    EXPECT_EQ(RegString(kRunKey, "VTSeekBox"), vendor + "\\SeekBox.exe" + '\0');
#if VOZ_FEATURE_BROWSER_BUTTON
    EXPECT_EQ(RegString(kButtonKey, "Exec"), dest + kProductProgram + '\0');
#else
    EXPECT_EQ(RegString(kButtonKey, "Exec"), kAbsent);
#endif

    // The help program is rebuilt exactly; both patches are gone.
    std::string rebuilt, reference;
    ASSERT_TRUE(ReadBytes(dest + "\\Help\\PVQHelp.exe", &rebuilt));
    ASSERT_TRUE(ReadBytes(WinePath(VOZ_HELP_EXE), &reference));
    EXPECT_TRUE(rebuilt == reference) << "the rebuilt help program differs from the built one";
    EXPECT_FALSE(FileExists(dest + "\\Help\\PVQHelp.pch"));
    EXPECT_FALSE(FileExists(dest + kProductDataFile));
    EXPECT_TRUE(FileExists(dest + kProductProgram));

    // The readers load here: all six stay and the platform is not outdated.
    for (const char* r : {"WordRd.dll", "WordRd.ini", "ShowRd.dll", "ShowRd.ini", "CalcRd.dll", "CalcRd.ini"})
        EXPECT_TRUE(FileExists(dest + "\\Plugins\\" + r)) << r;
    EXPECT_EQ(Setting(ini, "Options", "Outdated Platform"), kAbsent);

    // Settings file.
    EXPECT_EQ(Setting(ini, Section(), "Last Updated"), "0");
#if VOZ_FEATURE_LANGUAGE_CHOICE
    EXPECT_EQ(Setting(ini, Section(), "Default Language"), "German");
    EXPECT_EQ(Setting(ini, Section(), "Extensions"),
              "ASCX; ASPX; CFM; DOC; DOT; HHC; HTW; HTX; INF; INI; JSP; LOG; LST; MSP; MSPX; ODC; PDF; PHP; POT; "
              "PPS; PPT; RTF; SCP; SCT; STM; TXT; WSC; WTX; XLB; XLC; XLS; XLT; XML; ZAP");
    // The language file without a code page goes; the template stays.
    EXPECT_EQ(Names(dest + "\\Language"), (std::set<std::string>{"English.PQL", "French.PQL", "German.PQL",
                                                                 "Russian.PQL", "Template (Other).PQL"}));
    // An empty page cache: the cache tool is not needed.
    EXPECT_FALSE(FileExists(dest + "\\Cache\\CACHETRM.EXE"));
#else
    EXPECT_EQ(Setting(ini, Section(), "Default Language"), kAbsent);
    EXPECT_EQ(Setting(ini, Section(), "Extensions"), kAbsent);
#endif

    // Nothing else of the payload was touched.
    for (const std::string& rel : before) {
        if (rel == "Help\\PVQHelp.pch" || "\\" + rel == kProductDataFile) continue;
        if (rel.rfind("Language\\Esperanto", 0) == 0 || rel == "Cache\\CACHETRM.EXE") continue;
        if (rel == "SeekBox.exe") continue;  // installed into the vendor folder instead
        EXPECT_TRUE(FileExists(dest + "\\" + rel)) << rel;
    }
}

TEST_F(PostInstall, FailedHelpRebuildIsTheOnlyFailureAndTheRunGoesOn) {
    CopyPayload();
    ASSERT_TRUE(WriteBytes(dest + "\\Help\\PVQHelp.pch", "not a patch at all"));
    ProgramsFolder.clear();  // no shortcut can be made: not a failure
    EXPECT_FALSE(RunPostInstall(dest, CountPump));
    EXPECT_FALSE(FileExists(dest + "\\Help\\PVQHelp.exe"));
    EXPECT_FALSE(FileExists(dest + "\\Help\\PVQHelp.pch")) << "the patch is deleted even when it fails";
    // The steps after it still ran.
    EXPECT_FALSE(FileExists(dest + kProductDataFile));
    EXPECT_EQ(Setting(ini, Section(), "Last Updated"), "0");
    EXPECT_NE(RegString(kUninstallKey, "UninstallString"), kAbsent);
#if VOZ_FEATURE_EXTENSIONS_LIST
    EXPECT_NE(Setting(ini, Section(), "Extensions"), kAbsent);
#endif

    // Without any patch the rebuild fails too.
    ASSERT_TRUE(WriteBytes(dest + kProductDataFile, "x"));
    EXPECT_FALSE(RunPostInstall(dest, nullptr));
    EXPECT_FALSE(FileExists(dest + "\\Help\\PVQHelp.exe"));
}

// ---- Preserved user files ---------------------------------------------------------------

TEST(ReadMarkedFile, GivesTheWholeFileOnlyWhenItBeginsWithTheMarker) {
    TTempFolder root{"post"};
    std::string path = root.path + "\\file.txt";
    struct TCase {
        const char* content;  // nullptr: no file
        const char* marker;
        bool kept;
    } cases[] = {
        {"Perusant Query Folder\r\nuser data", "Perusant", true},
        {"Perusant", "Perusant", true},
        {"MailVane mine", "MailVane", true},
        {"Mailvane mine", "MailVane", false},  // letter case counts
        {" Perusant", "Perusant", false},
        {"Peru", "Perusant", false},
        {"", "Perusant", false},
        {nullptr, "Perusant", false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.content ? c.content : "(no file)");
        DeleteFileA(path.c_str());
        std::string content = c.content ? c.content : "";
        if (c.content) {
            ASSERT_TRUE(WriteBytes(path, content));
        }
        EXPECT_EQ(ReadMarkedFile(path, c.marker), c.kept ? content : std::string());
    }
    // Bytes beyond a zero byte belong to the content too.
    std::string binary = std::string("Perusant\0\x01\xff tail", 14);
    ASSERT_TRUE(WriteBytes(path, binary));
    EXPECT_EQ(ReadMarkedFile(path, "Perusant"), binary);
    EXPECT_EQ(ReadMarkedFile(root.path, "Perusant"), "") << "a folder";
    EXPECT_EQ(ReadMarkedFile(root.path + "\\" + std::string(300, 'x'), "Perusant"), "");
}

TEST_F(PostInstall, ReinstallationKeepsTheUsersFileOnlyWhenItIsGenuine) {
    std::string file = dest + "\\" + kPreservedFile;
    std::string payloadCopy;
    ASSERT_TRUE(ReadBytes(Payload() + "\\" + kPreservedFile, &payloadCopy));
    struct TCase {
        std::string before;
        bool kept;
    } cases[] = {
        {std::string(kPreservedFileStart) + " Query Folder 5.1\r\n[Query]\r\nText=my own search\r\n", true},
        {"Something else that happens to have this name\r\n", false},
        // The full name in the other letter case is not the marker (product B).
        {std::string(kFullName) + " mine\r\n", std::string(kFullName) == kPreservedFileStart},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.before);
        RemoveTree(dest);
        CreateDirectoryA(dest.c_str(), nullptr);
        CreateDirectoryA((dest + "\\Queries").c_str(), nullptr);
        ASSERT_TRUE(WriteBytes(file, c.before));
        ASSERT_TRUE(PreserveCustomFiles(dest));
        EXPECT_EQ(CustomFilesToSave[0].Content, c.kept ? c.before : std::string());
        CopyPayload();  // the extraction overwrites it
        RunPostInstall(dest, nullptr);
        std::string after;
        ASSERT_TRUE(ReadBytes(file, &after));
        EXPECT_EQ(after, c.kept ? c.before : payloadCopy);
        StopSearchBoxHelper();
    }
}

// ---- Language files and the default language (Perusant) ---------------------------------

#if VOZ_FEATURE_LANGUAGE_CHOICE
TEST(PickSystemLanguage, FollowsThePrimaryLanguage) {
    struct TCase {
        unsigned short langId;
        const char* name;
    } cases[] = {
        {0x0409, "English"},
        {0x0809, "English"},
        {0x0407, "German"},
        {0x040C, "French"},
        {0x0419, "Russian"},
        {0x0404, "Chinese Traditional"},
        {0x0804, "Chinese Traditional"},
        {0x0416, "Portuguese"},
        {0x0436, "Afrikaans"},
        {0x0427, "Lithuanian"},
        {0x0414, "Norwegian"},
        {0x041A, ""},  // Croatian shares its id with Serbian: not a product language
        {0x0417, ""},  // 23 is not in the table
        {0x0456, ""},  // Galician
        {0x0000, ""},
    };
    for (const TCase& c : cases) {
        systemLanguage = c.langId;
        SetPostSetLanguageProc(FakeLanguage);
        EXPECT_EQ(PickSystemLanguage(), c.name) << std::hex << c.langId;
    }
    SetPostSetLanguageProc(nullptr);
    EXPECT_EQ(PickSystemLanguage(), LanguageNameOf(PRIMARYLANGID(GetSystemDefaultLangID())));
}

TEST_F(PostInstall, LanguageFilesArePrunedAndTheDefaultLanguageSettled) {
    struct TCase {
        const char* before;  // nullptr: no value
        unsigned short system;
        const char* after;
    } cases[] = {
        {"French", 0x0407, "French"},      // its file exists: unchanged
        {"Klingon", 0x0407, "German"},     // no such file: the system's
        {"Esperanto", 0x0409, "English"},  // its file was just removed
        {"", 0x0409, "English"},          {nullptr, 0x0804, "Chinese Traditional"},
        {"Klingon", 0x0456, "Klingon"},  // system language unknown: left as it is
        {nullptr, 0x0456, nullptr},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.before ? c.before : "(none)") + " / " + std::to_string(c.system));
        RemoveTree(dest);
        CreateDirectoryA(dest.c_str(), nullptr);
        std::string lang = dest + "\\Language\\";
        CreateDirectoryA(lang.c_str(), nullptr);
        ASSERT_TRUE(WriteBytes(lang + "French.PQL", "[Language]\r\nCODEPAGE=1252\r\n"));
        ASSERT_TRUE(WriteBytes(lang + "Esperanto.PQL", "[Language]\r\nName=Esperanto\r\n"));
        ASSERT_TRUE(WriteBytes(lang + "Mixed (other).pql", "no code page"));
        ASSERT_TRUE(WriteBytes(lang + "Late.PQL", "[Language]\r\nName=Late\r\nCODEPAGE=1251"));
        ASSERT_TRUE(WriteBytes(lang + "Empty.PQL", ""));
        ASSERT_TRUE(CreateDirectoryA((lang + "Folder.PQL").c_str(), nullptr));
        ASSERT_TRUE(WriteBytes(lang + "notes.txt", "no code page"));
        if (c.before) WritePrivateProfileStringA(Section().c_str(), "Default Language", c.before, ini.c_str());
        systemLanguage = c.system;
        pumpCalls = 0;
        EXPECT_FALSE(RunPostInstall(dest, CountPump));  // no help patch here
        EXPECT_EQ(Names(lang),
                  (std::set<std::string>{"French.PQL", "Mixed (other).pql", "Late.PQL", "Folder.PQL", "notes.txt"}));
        EXPECT_EQ(Setting(ini, Section(), "Default Language"), c.after ? c.after : kAbsent);
        // One pump per language entry, the folder among them.
        EXPECT_EQ(pumpCalls, 100 + 7 + 1 + 3 + 8 + 1 + 6 + 1 + 1);
    }
}
#endif

// ---- Readers on an older system -------------------------------------------------------------

// A copy of this program, shown windowsVersion by Wine, runs RunPostInstall
// on dest; its exit code (voztest::kCopyDidNotRun when it could not run).
DWORD PostInstallUnder(const std::string& dest, const std::string& programs, const std::string& vendor,
                       const char* windowsVersion) {
    TTempFolder temp("post");
    return voztest::RunSelfUnder(windowsVersion, temp.path, "vozpost",
                                 "--post-install \"" + dest + "\" \"" + programs + "\" \"" + vendor + "\"");
}

TEST_F(PostInstall, ReadersThatCannotLoadAreRemovedAndThePlatformMarkedOutdated) {
    CopyPayload();
    ASSERT_TRUE(WriteBytes(dest + "\\Plugins\\Other.dll", "kept"));
    EXPECT_EQ(PostInstallUnder(dest, programs, vendor, "nt40"), 0u);
    for (const char* r : {"WordRd.dll", "WordRd.ini", "ShowRd.dll", "ShowRd.ini", "CalcRd.dll", "CalcRd.ini"})
        EXPECT_FALSE(FileExists(dest + "\\Plugins\\" + r)) << r;
    EXPECT_TRUE(FileExists(dest + "\\Plugins\\Other.dll"));
    EXPECT_EQ(Setting(ini, "Options", "Outdated Platform"), "1");
    EXPECT_EQ(Setting(ini, Section(), "Last Updated"), "0");
    EXPECT_TRUE(FileExists(dest + "\\Help\\PVQHelp.exe"));
}

// ---- Page cache ---------------------------------------------------------------------------------

unsigned fakeTick = 0;
unsigned fakeTickStep = 0;
unsigned FakeTicks() {
    unsigned now = fakeTick;
    fakeTick += fakeTickStep;
    return now;
}

TEST(CleanCache, EmptiesTheCacheInTimeAndDeletesTheTool) {
    TTempFolder root{"post"};
    std::string cache = root.path + "\\Cache\\";
    CreateDirectoryA(cache.c_str(), nullptr);
    for (const char* page : {"a.HTM", "b.htm", "c.HTM"}) ASSERT_TRUE(WriteBytes(cache + page, "<html>"));
    SetFileAttributesA((cache + "b.htm").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesA((cache + "c.HTM").c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(WriteBytes(cache + "index.dat", "kept"));
    ASSERT_TRUE(CreateDirectoryA((cache + "sub.HTM").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(cache + "CACHETRM.EXE", "MZ"));
    // Ticks that wrap around during the run still count as little time.
    fakeTick = 0xFFFFF000u;
    fakeTickStep = 1000;
    SetPostSetTickProc(FakeTicks);
    CleanCache(cache);
    SetPostSetTickProc(nullptr);
    EXPECT_EQ(Names(cache), (std::set<std::string>{"index.dat", "sub.HTM"}));

    // No cache folder at all: nothing to do, nothing to fail.
    CleanCache(root.path + "\\Missing\\");
    EXPECT_FALSE(FolderExists(root.path + "\\Missing"));
}

TEST(CleanCache, StartsTheToolWhenTheBudgetIsSpent) {
    ASSERT_FALSE(Payload().empty());
    if (!VOZ_FEATURE_CACHE_CLEANUP) {
        GTEST_SKIP() << "the cache tool belongs to Perusant";
    }
    TTempFolder root{"post"};
    std::string cache = root.path + "\\Cache\\";
    CreateDirectoryA(cache.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA((Payload() + "\\Cache\\CACHETRM.EXE").c_str(), (cache + "CACHETRM.EXE").c_str(), FALSE));
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(WriteBytes(cache + "page" + std::to_string(i) + ".HTM", "<html>"));
    // Each page seems to take three seconds: the budget is gone after three.
    fakeTick = 5000;
    fakeTickStep = 3000;
    SetPostSetTickProc(FakeTicks);
    CleanCache(cache);
    SetPostSetTickProc(nullptr);
    EXPECT_EQ(fakeTick, 5000u + 4 * 3000u) << "the cleaning went on after the budget was spent";
    EXPECT_TRUE(FileExists(cache + "CACHETRM.EXE"));
    // The tool deletes the pages that were left.
    bool emptied = false;
    for (int i = 0; i < 150 && !emptied; ++i) {
        emptied = Names(cache, "*.HTM").empty();
        if (!emptied) Sleep(100);
    }
    EXPECT_TRUE(emptied) << "the cache tool did not run";
    // Let the tool end before the folder goes.
    Sleep(500);
}

TEST(CleanCache, RealClockWithinBudget) {
    TTempFolder root{"post"};
    std::string cache = root.path + "\\Cache\\";
    CreateDirectoryA(cache.c_str(), nullptr);
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(WriteBytes(cache + std::to_string(i) + ".HTM", "x"));
    ASSERT_TRUE(WriteBytes(cache + "CACHETRM.EXE", "MZ"));
    CleanCache(cache);
    EXPECT_TRUE(Names(cache).empty());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && strcmp(argv[1], "--post-install") == 0) {
        ProgramsFolder = argv[3];
        SharedVendorFolder = argv[4];
        SetPostSetSleepProc(NoSleep);
        bool ok = RunPostInstall(argv[2], nullptr);
        return ok ? 0 : 1;
    }
    // The settings-section name and the OS version record the run relies on.
    InitRegDetect();
    machineVendorFolder = SharedVendorFolder;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
