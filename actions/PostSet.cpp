// Module PostSet: the steps around the extraction (see PostSet.h).
#include "PostSet.h"

#include <windows.h>

#include "Detect.h"
#include "Extract.h"
#include "Profile.h"
#include "SearchBox.h"
#include "ShortUtl.h"
#include "shortcut.h"
#if VOZ_FEATURE_BROWSER_BUTTON
#include "IEToolbarUnit.h"
#endif

namespace {

// ---- Product constants --------------------------------------------------------

// Files that earlier versions installed and this one no longer uses, deleted
// in this order (each with its folder, when that is left empty).
constexpr const char* kObsoleteFiles[] = {
    "\\Plugins\\Markup.ini",
    "\\Plugins\\Markup9x.dll",
    "\\Plugins\\Extras\\mkpcore.dll",
    "\\Plugins\\Extras\\mkpcore.ini",
    "\\Plugins\\OfficeRd.dll",
    "\\Plugins\\OfficeRd.ini",
    "\\patchset.dat",
    "\\patchset.exe",
};

// The document readers that work only on newer systems; the first one is
// loaded as the probe for all of them.
constexpr const char* kPlatformReaders[] = {
    "\\Plugins\\WordRd.dll", "\\Plugins\\WordRd.ini", "\\Plugins\\ShowRd.dll",
    "\\Plugins\\ShowRd.ini", "\\Plugins\\CalcRd.dll", "\\Plugins\\CalcRd.ini",
};

struct TLanguageName {
    unsigned primary;
    const char* name;
};

// Language files are named after these; a primary language id not listed
// has no language file of its own.
constexpr TLanguageName kLanguageNames[] = {
    {1, "Arabic"},    {2, "Bulgarian"},   {3, "Catalan"},     {4, "Chinese Traditional"},
    {5, "Czech"},     {6, "Danish"},      {7, "German"},      {8, "Greek"},
    {9, "English"},   {10, "Spanish"},    {11, "Finnish"},    {12, "French"},
    {13, "Hebrew"},   {14, "Hungarian"},  {15, "Icelandic"},  {16, "Italian"},
    {17, "Japanese"}, {18, "Korean"},     {19, "Dutch"},      {20, "Norwegian"},
    {21, "Polish"},   {22, "Portuguese"}, {24, "Romanian"},   {25, "Russian"},
    {27, "Slovak"},   {29, "Swedish"},    {31, "Turkish"},    {33, "Indonesian"},
    {37, "Estonian"}, {38, "Latvian"},    {39, "Lithuanian"}, {54, "Afrikaans"},
};

constexpr char kExtensionsList[] =
    "ASCX; ASPX; CFM; DOC; DOT; HHC; HTW; HTX; INF; INI; JSP; LOG; LST; MSP; MSPX; ODC; PDF; PHP; POT; "
    "PPS; PPT; RTF; SCP; SCT; STM; TXT; WSC; WTX; XLB; XLC; XLS; XLT; XML; ZAP";

constexpr char kRemoverProgram[] = "\\remover.exe";
constexpr char kLanguageFolder[] = "\\Language\\";
constexpr char kLanguageExtension[] = ".PQL";
constexpr char kCacheFolder[] = "\\Cache\\";
constexpr char kCacheTool[] = "CACHETRM.EXE";

// ---- Seams --------------------------------------------------------------------

void SystemSleep(unsigned ms) { Sleep(ms); }
unsigned SystemTicks() { return GetTickCount(); }
unsigned short SystemLanguage() { return GetSystemDefaultLangID(); }

TPostSetSleepProc sleepProc = SystemSleep;
TPostSetTickProc tickProc = SystemTicks;
TPostSetLanguageProc languageProc = SystemLanguage;

// ---- Helpers ------------------------------------------------------------------

void Pump(TPumpProc pump) {
    if (pump) pump();
}

// The settings section's name; restored here too when the start-up code
// has not run, so that the keys never land in a nameless section.
std::string SettingsSectionName() {
    if (!SettingsSection.empty()) return SettingsSection;
    std::string name;
    for (unsigned char c : kSettingsSectionStored) name += static_cast<char>(static_cast<unsigned char>(~c));
    return name;
}

void WriteSetting(const std::string& ini, const std::string& section, const char* key, const char* value) {
    if (!PathFitsAnsiCall(ini)) return;
    /* ok = */ (void)WritePrivateProfileStringA(section.c_str(), key, value, ini.c_str());
}

[[maybe_unused]] std::string ReadSetting(const std::string& ini, const std::string& section, const char* key) {
    if (!PathFitsAnsiCall(ini)) return std::string();
    char value[512 + 1] = {};
    DWORD got = GetPrivateProfileStringA(section.c_str(), key, "", value, sizeof value, ini.c_str());
    return std::string(value, got < sizeof value ? got : sizeof value - 1);
}

void DeletePath(const std::string& path) {
    if (PathFitsAnsiCall(path)) /* ok = */
        (void)DeleteFileA(path.c_str());
}

// Makes a folder of the installation; one that exists already is fine.
void MakeFolder(const std::string& path) {
    if (PathFitsAnsiCall(path)) /* ok = */
        (void)CreateDirectoryA(path.c_str(), nullptr);
}

void Shortcut(const char* name, const std::string& target) {
    /* ok = */ (void)CreateGroupShortcut(kProgramGroupName, name, target, 0);
}

void WriteUninstallEntry(const std::string& destination) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    // Quoted even without a blank in the path, so that it reads back as one
    // program name whatever the folder holds.
    std::string command = "\"" + destination + kRemoverProgram + "\"";
    (void)RegSetValueExA(key, "DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(kFullName),
                         static_cast<DWORD>(sizeof kFullName));
    (void)RegSetValueExA(key, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                         static_cast<DWORD>(command.size() + 1));
    RegCloseKey(key);
}

void RestorePreservedFiles(const std::string& destination) {
    for (const TCustomFileToSave& entry : CustomFilesToSave) {
        if (entry.Content.empty()) continue;
        std::string path = destination + "\\" + entry.FileName;
        if (PathFitsAnsiCall(path)) /* ok = */
            (void)WriteWholeFile(entry.Content, path);
    }
}

#if VOZ_FEATURE_OBSOLETE_FILES
void RemoveObsoleteFiles(const std::string& destination, TPumpProc pump) {
    for (const char* relative : kObsoleteFiles) {
        std::string path = destination + relative;
        DeletePath(path);
        // The folder goes too once nothing is left in it; the installation
        // folder itself always stays.
        std::string folder = FileDirPart(path);
        if (folder != destination && PathFitsAnsiCall(folder)) (void)RemoveDirectoryA(folder.c_str());
        Pump(pump);
    }
}
#endif

// Loads the probe reader; when the system cannot load it, none of the
// platform-dependent readers can work, so all of them go and the product is
// told so in its settings file.
void CheckPlatformReaders(const std::string& destination, const std::string& ini) {
    std::string probe = destination + kPlatformReaders[0];
    HMODULE library = nullptr;
    if (PathFitsAnsiCall(probe)) {
        // A library that refuses to load must not bring up a system message box.
        UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        library = LoadLibraryA(probe.c_str());
        SetErrorMode(oldMode);
    }
    if (library) {
        FreeLibrary(library);
        return;
    }
    for (const char* relative : kPlatformReaders) DeletePath(destination + relative);
    WriteSetting(ini, kOptionsSection, "Outdated Platform", "1");
}

#if VOZ_FEATURE_LANGUAGE_CHOICE
// A language file is usable when it names its code page, or when it is
// the template for other languages.
void RemoveUnusableLanguageFiles(const std::string& destination, TPumpProc pump) {
    std::string folder = destination + kLanguageFolder;
    std::string pattern = folder + "*" + kLanguageExtension;
    if (!PathFitsAnsiCall(pattern)) return;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = entry.cFileName;
        if (UpperCaseAscii(name).find("(OTHER)") == std::string::npos) {
            std::string path = folder + name;
            std::string content;
            if (PathFitsAnsiCall(path) && ReadWholeFile(path, &content) &&
                content.find("CODEPAGE=") == std::string::npos)
                DeletePath(path);
        }
        Pump(pump);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}

void SettleDefaultLanguage(const std::string& destination, const std::string& ini, const std::string& section) {
    std::string current = ReadSetting(ini, section, "Default Language");
    if (!current.empty() && FileIsPresent(destination + kLanguageFolder + current + kLanguageExtension)) return;
    std::string system = PickSystemLanguage();
    if (!system.empty()) WriteSetting(ini, section, "Default Language", system.c_str());
}
#endif

}  // namespace

TCustomFileToSave CustomFilesToSave[1] = {{std::string(), kPreservedFile, kPreservedFileStart}};

void SetPostSetSleepProc(TPostSetSleepProc proc) { sleepProc = proc ? proc : SystemSleep; }
void SetPostSetTickProc(TPostSetTickProc proc) { tickProc = proc ? proc : SystemTicks; }
void SetPostSetLanguageProc(TPostSetLanguageProc proc) { languageProc = proc ? proc : SystemLanguage; }

std::string ReadMarkedFile(const std::string& path, const std::string& marker) {
    std::string content;
    if (!PathFitsAnsiCall(path) || !ReadWholeFile(path, &content)) return std::string();
    if (content.compare(0, marker.size(), marker) != 0) return std::string();
    return content;
}

bool PreserveCustomFiles(const std::string& destination) {
    for (TCustomFileToSave& entry : CustomFilesToSave)
        entry.Content = ReadMarkedFile(destination + "\\" + entry.FileName, entry.Marker);
    return true;
}

std::string LanguageNameOf(unsigned primaryLanguage) {
    for (const TLanguageName& language : kLanguageNames)
        if (language.primary == primaryLanguage) return language.name;
    return std::string();
}

std::string PickSystemLanguage() { return LanguageNameOf(PRIMARYLANGID(languageProc())); }

void CleanCache(const std::string& cacheFolder) {
    unsigned start = tickProc();
    bool spent = false;
    std::string pattern = cacheFolder + "*.HTM";
    WIN32_FIND_DATAA entry;
    HANDLE find = PathFitsAnsiCall(pattern) ? FindFirstFileA(pattern.c_str(), &entry) : INVALID_HANDLE_VALUE;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                std::string page = cacheFolder + entry.cFileName;
                if (PathFitsAnsiCall(page)) {
                    (void)SetFileAttributesA(page.c_str(), FILE_ATTRIBUTE_ARCHIVE);
                    (void)DeleteFileA(page.c_str());
                }
            }
            // Unsigned difference: right across the tick counter's wrap.
            spent = tickProc() - start > kCacheCleanBudgetMs;
        } while (!spent && FindNextFileA(find, &entry));
        FindClose(find);
    }
    std::string tool = cacheFolder + kCacheTool;
    if (!spent) {
        DeletePath(tool);
        return;
    }
    if (!PathFitsAnsiCall(tool)) return;
    // The tool finishes the pages on its own; nobody waits for it.
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    std::string command = "\"" + tool + "\"";
    if (CreateProcessA(tool.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

bool RunPostInstall(const std::string& destination, TPumpProc pump) {
    bool result = true;
    const std::string ini = destination + kSettingsFile;
    const std::string section = SettingsSectionName();

    // Give the extraction's last writes and the windows time to settle.
    for (int i = 0; i < 100; ++i) {
        Pump(pump);
        sleepProc(100);
    }

    DeleteGroupLinks(kProgramGroupName);
    Pump(pump);
    /* ok = */ (void)CreateProgramGroup(kProgramGroupName);
    Pump(pump);
    Shortcut(kShortcutProgram, destination + kProductProgram);
    Pump(pump);
    Shortcut(kShortcutHelp, destination + kHelpProgram);
    Pump(pump);
    MakeFolder(destination + kLibraryFolder);
    Shortcut(kShortcutLibrary, destination + kLibraryFolder);
    Pump(pump);
#if VOZ_FEATURE_SITE_MAPS
    MakeFolder(destination + kSiteMapsFolder);
    Shortcut(kShortcutSiteMaps, destination + kSiteMapsFolder);
    Pump(pump);
#endif
    Shortcut(kShortcutLicence, destination + kLicenceFile);
    Pump(pump);

    WriteUninstallEntry(destination);
#if VOZ_FEATURE_BROWSER_BUTTON
    /* ok = */ (void)RegisterBrowserButton(destination + kProductProgram);
    Pump(pump);
#endif

    WriteSetting(ini, section, "Last Updated", "0");

    // The help program travels as a patch against the main program.
    result = ApplyPatchFile(destination + kProductProgram, destination + kHelpProgram, destination + kHelpPatch);
    Pump(pump);

    DeletePath(destination + kProductDataFile);
    Pump(pump);

    RestorePreservedFiles(destination);
    Pump(pump);

#if VOZ_FEATURE_OBSOLETE_FILES
    RemoveObsoleteFiles(destination, pump);
#endif

    CheckPlatformReaders(destination, ini);
    Pump(pump);

#if VOZ_FEATURE_LANGUAGE_CHOICE
    RemoveUnusableLanguageFiles(destination, pump);
    SettleDefaultLanguage(destination, ini, section);
#endif
#if VOZ_FEATURE_EXTENSIONS_LIST
    WriteSetting(ini, section, "Extensions", kExtensionsList);
#endif
#if VOZ_FEATURE_CACHE_CLEANUP
    CleanCache(destination + kCacheFolder);
    Pump(pump);
#endif

    InstallSearchBoxHelper(destination, SharedVendorFolder);
    Pump(pump);

    return result;
}
