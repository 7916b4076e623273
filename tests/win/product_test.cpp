// The payload folders of both products, as scripts/make-payload assembles
// them, checked against what the setups rely on after the extraction: the
// main program's window and icons, the help patch and the data file patch,
// the readers, the search-box helper's lock file, the language files, the
// query folder file's marker, the cache tool and the uninstaller.
//
// VOZ_PRODUCT_PAYLOAD names the folder that holds the payloads A and B (a
// Unix path is taken as one on Wine's Z: drive).
//
// Run as "product_tests --load-library PATH" the program only loads PATH
// and exits 0 when that worked: the reader test starts a copy of it that
// Wine shows an older Windows.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "VozDecode.h"
#include "VozFormat.h"
#include "TestSupport.h"

using voztest::CopyTree;
using voztest::FileExists;
using voztest::FilesBelow;
using voztest::FolderExists;
using voztest::MakeLink;
using voztest::PendingDeletes;
using voztest::ReadBytes;
using voztest::TProcess;
using voztest::TTempFolder;
using voztest::Upper;
using voztest::WinePath;
using voztest::WriteBytes;

namespace {

struct TProduct {
    const char* id;  // payload sub-folder
    const char* fullName;
    const char* mainProgram;
    const char* dataFile;
    const char* settingsFile;
    const char* queryFile;
    const char* queryExtension;
    const char* marker;
    bool languages;
    bool cacheTool;
};

const TProduct kProducts[] = {
    {"A", "Perusant", "Perus.exe", "Perus.pch", "Perus.ini", "Queries\\NoName.pqf", ".pqf", "Perusant", true, true},
    {"B", "Mailvane", "Mailv.exe", "Mailv.pch", "Mailv.ini", "Queries\\NoName.mvf", ".mvf", "MailVane", false, false},
};

// Names the product in failure messages instead of dumping the record's bytes.
void PrintTo(const TProduct& p, std::ostream* out) { *out << p.fullName; }

// ---- Files and folders ----------------------------------------------------

std::string PayloadRoot() {
    const char* env = getenv("VOZ_PRODUCT_PAYLOAD");
    return env && *env ? WinePath(env) : std::string();
}

std::string Payload(const TProduct& p) { return PayloadRoot() + "\\" + p.id; }

// ---- Processes and windows --------------------------------------------------

// The top-level window of class cls that the process shows, waiting for it
// up to ms (scaled).
HWND WaitForWindow(const TProcess& process, const char* cls, DWORD ms = voztest::kProgramStartMs) {
    if (!process.started) return nullptr;
    for (DWORD waited = 0; waited < voztest::Scaled(ms); waited += 100) {
        if (HWND found = voztest::FindTopWindow(process.pi.dwProcessId, cls)) return found;
        if (WaitForSingleObject(process.pi.hProcess, 100) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
}

std::string Title(HWND wnd) {
    char title[256] = {};
    GetWindowTextA(wnd, title, sizeof title);
    return title;
}

// ---- Version resources and patches -----------------------------------------

struct TVersion {
    bool found = false;
    uint32_t fileVersionMS = 0;
    std::string originalFilename;
};

TVersion ReadVersion(const std::string& path) {
    TVersion v;
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return v;
    std::vector<char> block(size + 1);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data())) return v;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed) return v;
    v.found = true;
    v.fileVersionMS = fixed->dwFileVersionMS;
    char* name = nullptr;
    if (VerQueryValueA(block.data(), "\\StringFileInfo\\040904E4\\OriginalFilename", reinterpret_cast<void**>(&name),
                       &length) &&
        name)
        v.originalFilename = name;
    return v;
}

// Applies a patch with the setup's decoder; the result code comes back.
int32_t ApplyPatch(const std::string& base, const std::string& patch, std::string* out) {
    out->assign(4u << 20, '\0');
    int32_t size = static_cast<int32_t>(out->size());
    int32_t r = ApplyPatchBuffer(base.data(), static_cast<int32_t>(base.size()), out->data(), &size, patch.data(),
                                 static_cast<int32_t>(patch.size()), nullptr, nullptr);
    if (r == kDecodeOutputTooSmall && size > 0) {
        out->assign(static_cast<size_t>(size), '\0');
        r = ApplyPatchBuffer(base.data(), static_cast<int32_t>(base.size()), out->data(), &size, patch.data(),
                             static_cast<int32_t>(patch.size()), nullptr, nullptr);
    }
    out->resize(r == kDecodeOk ? static_cast<size_t>(size) : 0);
    return r;
}

std::string SharedVendorFolder() { return voztest::CommonFilesFolder() + "\\Ovantis"; }

class ProductPayload : public ::testing::TestWithParam<TProduct> {
  protected:
    void SetUp() override {
        ASSERT_FALSE(PayloadRoot().empty()) << "VOZ_PRODUCT_PAYLOAD is not set";
        folder = Payload(GetParam());
        ASSERT_TRUE(FolderExists(folder)) << folder << " does not exist (run scripts/make-payload)";
    }
    std::string At(const std::string& relative) const { return folder + "\\" + relative; }
    std::string folder;
};

// ---- The payload, row by row -------------------------------------------------

TEST_P(ProductPayload, CarriesEveryFileTheSetupRelieOn) {
    const TProduct& p = GetParam();
    std::vector<std::string> required = {p.mainProgram,
                                         p.dataFile,
                                         "Help\\PVQHelp.pch",
                                         "remover.exe",
                                         "License.txt",
                                         "SeekBox.exe",
                                         "Plugins\\WordRd.dll",
                                         "Plugins\\WordRd.ini",
                                         "Plugins\\ShowRd.dll",
                                         "Plugins\\ShowRd.ini",
                                         "Plugins\\CalcRd.dll",
                                         "Plugins\\CalcRd.ini",
                                         p.queryFile};
    if (p.cacheTool) required.push_back("Cache\\CACHETRM.EXE");
    for (const std::string& f : required) EXPECT_TRUE(FileExists(At(f))) << f;
    // The help program is rebuilt by the setup; shipping it would hide a
    // broken patch.
    EXPECT_FALSE(FileExists(At("Help\\PVQHelp.exe")));
    EXPECT_EQ(p.languages, FolderExists(At("Language")));
}

TEST_P(ProductPayload, LicenceIsProductTextWithCrLfLines) {
    std::string text;
    ASSERT_TRUE(ReadBytes(At("License.txt"), &text));
    EXPECT_NE(text.find(GetParam().fullName), std::string::npos);
    size_t lines = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
            ++lines;
        } else if (text[i] == '\r') {
            ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at " << i;
        }
    }
    EXPECT_GT(lines, 10u);
}

TEST_P(ProductPayload, MainProgramShowsItsApplicationWindow) {
    const TProduct& p = GetParam();
    TProcess app(At(p.mainProgram), "", folder);
    ASSERT_TRUE(app.started);
    HWND wnd = WaitForWindow(app, "TApplication");
    ASSERT_NE(wnd, nullptr) << "no TApplication window";
    // The setup compares the title's beginning with the full name, case and all.
    std::string title = Title(wnd);
    EXPECT_EQ(title.compare(0, strlen(p.fullName), p.fullName), 0) << title;
    PostMessageA(wnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(app.Wait(15000), 0u);
}

TEST_P(ProductPayload, MainProgramSearchesTheLibraryInTheDefaultLanguage) {
    // The setup writes "Default Language"; the search box starts the program
    // with "/query WORDS".
    const TProduct& p = GetParam();
    TTempFolder dest("main");
    ASSERT_TRUE(CopyTree(folder, dest.path));
    ASSERT_TRUE(WriteBytes(dest.path + "\\" + p.settingsFile, "[General]\r\nDefault Language=German\r\n"));
    ASSERT_TRUE(CreateDirectoryA((dest.path + "\\Library").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((dest.path + "\\Library\\2025").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(dest.path + "\\Library\\2025\\q3.txt", "Annual Figures of the third quarter"));
    ASSERT_TRUE(WriteBytes(dest.path + "\\Library\\memo.txt", "nothing of interest"));

    TProcess app(dest.path + "\\" + p.mainProgram, "/query \"annual figures\"", "");
    HWND wnd = WaitForWindow(app, "TApplication");
    ASSERT_NE(wnd, nullptr);
    // Window texts cross processes; menus and list box strings do not under
    // Wine, so the language shows in the query label and the search in the
    // status line and the list's length.
    char status[128] = {};
    for (int i = 0; i < 100 && !status[0]; ++i) {
        GetDlgItemTextA(wnd, 203, status, sizeof status);
        if (!status[0]) Sleep(100);
    }
    EXPECT_STREQ(status, "1 document found.");
    char label[64] = {};
    GetDlgItemTextA(wnd, 200, label, sizeof label);
    EXPECT_STREQ(label, p.languages ? "&Abfrage:" : "&Query:");
    EXPECT_EQ(SendMessageA(GetDlgItem(wnd, 202), LB_GETCOUNT, 0, 0), 1);
    // The query came from the command line, not from the query folder file,
    // so closing asks whether to save it; a WM_CLOSE then waits for an answer.
    PostMessageA(wnd, WM_CLOSE, 0, 0);
    HWND question = WaitForWindow(app, "#32770", 10000);
    ASSERT_NE(question, nullptr) << "no save question";
    // The message box gets its caption after the window is made.
    for (int i = 0; i < 50 && Title(question).empty(); ++i) Sleep(100);
    EXPECT_EQ(Title(question), p.fullName);
    PostMessageA(question, WM_COMMAND, IDNO, 0);
    EXPECT_EQ(app.Wait(15000), 0u);
}

TEST_P(ProductPayload, MainProgramCarriesTheIconsTheSetupNames) {
    std::string program = At(GetParam().mainProgram);
    HMODULE module = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    for (int id : {104, 1001, 1002, 1003, 1004}) {
        EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */), nullptr)
            << "icon group " << id;
        HICON icon = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, 0));
        EXPECT_NE(icon, nullptr) << "icon " << id;
        if (icon) DestroyIcon(icon);
    }
    FreeLibrary(module);
    // The query folder type names its icon as "program,-104": a resource id.
    HICON large = nullptr;
    EXPECT_EQ(ExtractIconExA(program.c_str(), -104, &large, nullptr, 1), 1u);
    if (large) DestroyIcon(large);
}

TEST_P(ProductPayload, HelpPatchRebuildsTheHelpProgram) {
    const TProduct& p = GetParam();
    std::string base, patch, help;
    ASSERT_TRUE(ReadBytes(At(p.mainProgram), &base));
    ASSERT_TRUE(ReadBytes(At("Help\\PVQHelp.pch"), &patch));
    ASSERT_EQ(ApplyPatch(base, patch, &help), kDecodeOk);
    ASSERT_GT(help.size(), 2u);
    EXPECT_EQ(help.compare(0, 2, "MZ"), 0);

    TTempFolder temp("help");
    std::string exe = temp.path + "\\PVQHelp.exe";
    ASSERT_TRUE(WriteBytes(exe, help));
    TVersion v = ReadVersion(exe);
    ASSERT_TRUE(v.found) << "no version resource";
    EXPECT_EQ(v.fileVersionMS, 0x00050002u);
    EXPECT_EQ(v.originalFilename, "PVQHelp.exe");

    TProcess run(exe, "", temp.path);
    HWND wnd = WaitForWindow(run, "PVQHelpWnd");
    ASSERT_NE(wnd, nullptr) << "the rebuilt help program shows no window";
    EXPECT_EQ(Title(wnd), std::string(p.fullName) + " Help");
    PostMessageA(wnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(run.Wait(15000), 0u);
}

TEST_P(ProductPayload, HelpPatchIsBoundToItsMainProgram) {
    // The same patch against another reference must fail its checks rather
    // than write a damaged help program.
    std::string other, patch, out;
    const TProduct& p = GetParam();
    ASSERT_TRUE(ReadBytes(At("SeekBox.exe"), &other));
    ASSERT_TRUE(ReadBytes(At("Help\\PVQHelp.pch"), &patch));
    EXPECT_NE(ApplyPatch(other, patch, &out), kDecodeOk) << p.id;
}

TEST_P(ProductPayload, DataFileIsAPatchOfTheMainProgram) {
    const TProduct& p = GetParam();
    std::string base, patch, out;
    ASSERT_TRUE(ReadBytes(At(p.mainProgram), &base));
    ASSERT_TRUE(ReadBytes(At(p.dataFile), &patch));
    ASSERT_EQ(ApplyPatch(base, patch, &out), kDecodeOk);
    EXPECT_TRUE(out == base);
}

TEST_P(ProductPayload, ReadersLoadAndExtractText) {
    TTempFolder temp("reader");
    std::string document = temp.path + "\\memo.doc";
    static const char kDocument[] =
        "\x01\x02"
        "Quarterly report"
        "\x00\x07"
        "ab"
        "\x03\x04"
        "Sales"
        "\x05";
    ASSERT_TRUE(WriteBytes(document, std::string(kDocument, sizeof kDocument - 1)));
    typedef int(__cdecl * TReaderInfo)(char*, int, char*, int);
    typedef int(__cdecl * TExtractText)(const char*, char*, int);
    for (const char* reader : {"WordRd", "ShowRd", "CalcRd"}) {
        SCOPED_TRACE(reader);
        std::string ini;
        ASSERT_TRUE(ReadBytes(At(std::string("Plugins\\") + reader + ".ini"), &ini));
        EXPECT_NE(ini.find(std::string("Library=") + reader + ".dll"), std::string::npos);
        HMODULE dll = LoadLibraryA(At(std::string("Plugins\\") + reader + ".dll").c_str());
        ASSERT_NE(dll, nullptr) << GetLastError();
        auto info = reinterpret_cast<TReaderInfo>(reinterpret_cast<void*>(GetProcAddress(dll, "ReaderInfo")));
        auto extract = reinterpret_cast<TExtractText>(reinterpret_cast<void*>(GetProcAddress(dll, "ExtractText")));
        ASSERT_TRUE(info && extract);
        char name[64], extensions[64];
        EXPECT_EQ(info(name, sizeof name, extensions, sizeof extensions), 1);
        EXPECT_GT(strlen(name), 0u);
        char text[64];
        EXPECT_EQ(extract(document.c_str(), text, sizeof text), 22);
        EXPECT_STREQ(text, "Quarterly report Sales");
        // A small buffer cuts the text short and still ends it.
        char small[8];
        EXPECT_EQ(extract(document.c_str(), small, sizeof small), 7);
        EXPECT_STREQ(small, "Quarter");
        EXPECT_EQ(extract((temp.path + "\\missing.doc").c_str(), text, sizeof text), -1);
        FreeLibrary(dll);
    }
}

TEST_P(ProductPayload, QueryFolderFileBeginsWithItsMarker) {
    const TProduct& p = GetParam();
    std::string content;
    ASSERT_TRUE(ReadBytes(At(p.queryFile), &content));
    // The setup's test is case-sensitive; for B the marker differs from the
    // full name in letter case.
    EXPECT_EQ(content.compare(0, strlen(p.marker), p.marker), 0) << content.substr(0, 20);
    if (strcmp(p.marker, p.fullName) != 0) {
        EXPECT_NE(content.compare(0, strlen(p.fullName), p.fullName), 0);
    }
}

TEST_P(ProductPayload, LanguageFilesFollowTheUsabilityRules) {
    const TProduct& p = GetParam();
    if (!p.languages) GTEST_SKIP() << "product without language files";
    int withCodePage = 0, other = 0, unusable = 0;
    bool englishUsable = false;
    WIN32_FIND_DATAA e;
    HANDLE find = FindFirstFileA(At("Language\\*.PQL").c_str(), &e);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do {
        std::string content;
        ASSERT_TRUE(ReadBytes(At(std::string("Language\\") + e.cFileName), &content));
        bool codePage = content.find("CODEPAGE=") != std::string::npos;
        bool otherName = Upper(e.cFileName).find("(OTHER)") != std::string::npos;
        withCodePage += codePage;
        other += otherName && !codePage;
        unusable += !otherName && !codePage;
        if (Upper(e.cFileName) == "ENGLISH.PQL") englishUsable = codePage || otherName;
    } while (FindNextFileA(find, &e));
    FindClose(find);
    EXPECT_GE(withCodePage, 2);
    EXPECT_GE(other, 1) << "a file kept for its (OTHER) name alone";
    EXPECT_GE(unusable, 1) << "a file the setup prunes";
    EXPECT_TRUE(englishUsable);

    // A file is shipped in the code page it names, not in UTF-8.
    std::string russian;
    ASSERT_TRUE(ReadBytes(At("Language\\Russian.PQL"), &russian));
    ASSERT_NE(russian.find("CODEPAGE=1251"), std::string::npos);
    wchar_t wide[512];
    int n = MultiByteToWideChar(1251, 0, russian.data(), static_cast<int>(russian.size()), wide, 512);
    ASSERT_GT(n, 0);
    std::wstring text(wide, static_cast<size_t>(n));
    EXPECT_NE(text.find(L"File=&\x0424\x0430\x0439\x043B"), std::wstring::npos);  // "&Файл"
}

TEST_P(ProductPayload, CacheToolEmptiesThePageCache) {
    const TProduct& p = GetParam();
    if (!p.cacheTool) GTEST_SKIP() << "product without page cache";
    TTempFolder cache("cache");
    std::string tool = cache.path + "\\CACHETRM.EXE";
    ASSERT_TRUE(CopyFileA(At("Cache\\CACHETRM.EXE").c_str(), tool.c_str(), FALSE));
    for (int i = 0; i < 30; ++i) ASSERT_TRUE(WriteBytes(cache.path + "\\page" + std::to_string(i) + ".HTM", "<p>"));
    ASSERT_TRUE(WriteBytes(cache.path + "\\locked.htm", "<p>"));
    SetFileAttributesA((cache.path + "\\locked.htm").c_str(),
                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    ASSERT_TRUE(WriteBytes(cache.path + "\\keep.txt", "not a page"));
    ASSERT_TRUE(CreateDirectoryA((cache.path + "\\folder.HTM").c_str(), nullptr));

    TProcess run(tool, "", "");
    EXPECT_EQ(run.Wait(30000), 0u);
    std::vector<std::string> left = FilesBelow(cache.path);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"CACHETRM.EXE", "keep.txt"}));
    EXPECT_TRUE(FolderExists(cache.path + "\\folder.HTM"));
}

// ---- The uninstaller ---------------------------------------------------------

// Saves the product's uninstall entry and puts it back at the end.
struct TUninstallEntry {
    std::string key;
    std::string saved;
    bool had = false;
    explicit TUninstallEntry(const TProduct& p)
        : key(std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + p.fullName) {
        char value[MAX_PATH + 4] = {};
        DWORD size = sizeof value - 1;
        HKEY k;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &k) == ERROR_SUCCESS) {
            had = RegQueryValueExA(k, "UninstallString", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) ==
                  ERROR_SUCCESS;
            saved = value;
            RegCloseKey(k);
        }
    }
    void Set(const std::string& command) {
        HKEY k;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(k, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       static_cast<DWORD>(command.size() + 1));
        RegCloseKey(k);
    }
    bool Exists() const {
        HKEY k;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return false;
        RegCloseKey(k);
        return true;
    }
    ~TUninstallEntry() {
        if (had)
            Set(saved);
        else
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    }
};

std::string DesktopFolder() {
    char path[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOPDIRECTORY, TRUE);
    return path;
}

TEST_P(ProductPayload, RemoverTakesTheInstallationAwayAndKeepsUserFiles) {
    const TProduct& p = GetParam();
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    struct TCom {
        ~TCom() { CoUninitialize(); }
    } com;

    // Two installations: a fresh one, and one where the user added files.
    for (bool userFiles : {false, true}) {
        SCOPED_TRACE(userFiles ? "with user files" : "fresh");
        TTempFolder dest("install");
        ASSERT_TRUE(CopyTree(folder, dest.path));
        const std::vector<std::string> installed = FilesBelow(dest.path);
        // What the setup makes after the extraction.
        ASSERT_TRUE(WriteBytes(dest.path + "\\Help\\PVQHelp.exe", "MZ"));
        ASSERT_TRUE(WriteBytes(dest.path + "\\" + p.settingsFile, "[General]\r\n"));
        CreateDirectoryA((dest.path + "\\Library").c_str(), nullptr);
        if (userFiles) {
            ASSERT_TRUE(WriteBytes(dest.path + "\\Queries\\Mine" + p.queryExtension, "mine"));
            ASSERT_TRUE(WriteBytes(dest.path + "\\Library\\report.txt", "report"));
        }

        TUninstallEntry entry(p);
        std::string remover = dest.path + "\\remover.exe";
        entry.Set("\"" + remover + "\"");
        std::string desktop = DesktopFolder();
        std::string tag = std::to_string(GetCurrentProcessId()) + (userFiles ? "u" : "f");
        std::string ourLink = desktop + "\\voz remover test " + tag + ".lnk";
        std::string otherLink = desktop + "\\voz remover other " + tag + ".lnk";
        ASSERT_TRUE(MakeLink(ourLink, dest.path + "\\" + p.mainProgram));
        ASSERT_TRUE(MakeLink(otherLink, "C:\\windows\\notepad.exe"));

        TProcess run(remover, "/S", dest.path);
        DWORD code = run.Wait(60000);
        EXPECT_EQ(code, userFiles ? 1u : 0u);

        // Every installed file but the running uninstaller is gone.
        for (const std::string& rel : installed) {
            // "/S" keeps the user's query folders.
            if (rel != "remover.exe" && rel.compare(0, 8, "Queries\\") != 0) {
                EXPECT_FALSE(FileExists(dest.path + "\\" + rel)) << rel;
            }
        }
        EXPECT_FALSE(FileExists(dest.path + "\\Help\\PVQHelp.exe"));
        EXPECT_FALSE(FolderExists(dest.path + "\\Help"));
        EXPECT_FALSE(FolderExists(dest.path + "\\Plugins"));
        EXPECT_EQ(userFiles, FileExists(dest.path + "\\Library\\report.txt"));
        EXPECT_TRUE(FileExists(dest.path + "\\" + p.queryFile));
        EXPECT_FALSE(entry.Exists()) << "the uninstall entry naming this uninstaller stays";
        EXPECT_FALSE(FileExists(ourLink));
        EXPECT_TRUE(FileExists(otherLink));
        DeleteFileA(otherLink.c_str());
        DeleteFileA(ourLink.c_str());

        // Windows is asked to delete the uninstaller at the next restart.
        std::vector<std::string> pending = PendingDeletes(dest.path, true);
        ASSERT_FALSE(pending.empty());
        EXPECT_NE(Upper(pending[0]).find("REMOVER.EXE"), std::string::npos) << pending[0];
        EXPECT_EQ(pending.size(), 1u) << "the folder still holds the query folders";
    }
}

TEST_P(ProductPayload, RemoverLeavesOtherInstallationsAlone) {
    const TProduct& p = GetParam();
    // An uninstall entry that names another folder stays, and a copy of the
    // uninstaller in a folder without the product removes nothing.
    TTempFolder dest("install");
    ASSERT_TRUE(CopyFileA(At("remover.exe").c_str(), (dest.path + "\\remover.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(At("License.txt").c_str(), (dest.path + "\\License.txt").c_str(), FALSE));
    TUninstallEntry entry(p);
    entry.Set("\"C:\\elsewhere\\remover.exe\"");
    TProcess run(dest.path + "\\remover.exe", "/S", dest.path);
    EXPECT_EQ(run.Wait(30000), 2u);
    EXPECT_TRUE(FileExists(dest.path + "\\License.txt"));
    EXPECT_TRUE(entry.Exists());
    EXPECT_TRUE(PendingDeletes(dest.path, true).empty());
}

INSTANTIATE_TEST_SUITE_P(Products, ProductPayload, ::testing::ValuesIn(kProducts),
                         [](const ::testing::TestParamInfo<TProduct>& param) { return std::string(param.param.id); });

// ---- Shared programs ----------------------------------------------------------

TEST(SearchBoxHelper, CarriesAVersionResource) {
    ASSERT_FALSE(PayloadRoot().empty());
    TVersion v = ReadVersion(Payload(kProducts[0]) + "\\SeekBox.exe");
    ASSERT_TRUE(v.found);
    EXPECT_EQ(v.fileVersionMS, 0x00050002u);
    EXPECT_EQ(v.originalFilename, "SeekBox.exe");
}

TEST(SearchBoxHelper, HoldsItsLockWhileRunningAndQuitsOnWmQuit) {
    ASSERT_FALSE(PayloadRoot().empty());
    std::string program = Payload(kProducts[0]) + "\\SeekBox.exe";
    std::string lock = SharedVendorFolder() + "\\SeekBox.tmp";
    // A lock left by a helper that crashed must not stop a new one.
    CreateDirectoryA(SharedVendorFolder().c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(lock, "stale"));

    TProcess helper(program, "", "");
    HWND wnd = WaitForWindow(helper, "VTSeekBoxWnd");
    ASSERT_NE(wnd, nullptr);
    // The lock is written right after the window is made; give it a moment.
    std::string content;
    for (int i = 0; i < 100 && !(ReadBytes(lock, &content) && content.size() >= 4 && content != "stale"); ++i)
        Sleep(100);
    ASSERT_GE(content.size(), 4u);
    uint32_t stored = static_cast<uint8_t>(content[0]) | static_cast<uint8_t>(content[1]) << 8 |
                      static_cast<uint8_t>(content[2]) << 16 |
                      static_cast<uint32_t>(static_cast<uint8_t>(content[3])) << 24;
    EXPECT_EQ(stored, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(wnd)));
    EXPECT_FALSE(DeleteFileA(lock.c_str())) << "the lock file of a running helper could be deleted";

    // A second copy finds the lock taken and ends without touching it.
    {
        TProcess second(program, "", "");
        EXPECT_EQ(second.Wait(15000), 0u);
        std::string after;
        ASSERT_TRUE(ReadBytes(lock, &after));
        EXPECT_EQ(after, content);
    }

    // What a setup does to stop it: WM_QUIT to the window from the lock file.
    HWND named = reinterpret_cast<HWND>(static_cast<uintptr_t>(stored));
    ASSERT_TRUE(IsWindow(named));
    ASSERT_TRUE(PostMessageA(named, WM_QUIT, 0, 0));
    EXPECT_EQ(helper.Wait(15000), 0u);
    EXPECT_FALSE(FileExists(lock)) << "the lock file stays after the helper ended";
    DeleteFileA(lock.c_str());
}

// ---- The readers on older systems -----------------------------------------------

// A copy of this test program, shown windowsVersion by Wine, loads the
// reader as that system would. Its exit code comes back: 0 it loaded, 1 it
// refused; anything else means the probe itself failed.
DWORD LoadUnder(const std::string& dll, const char* windowsVersion) {
    TTempFolder temp("probe");
    return voztest::RunSelfUnder(windowsVersion, temp.path, "vozprobe", "--load-library \"" + dll + "\"", 30000);
}

TEST(DocumentReaders, LoadOnlyOnWindows2000AndLater) {
    ASSERT_FALSE(PayloadRoot().empty());
    std::string dll = Payload(kProducts[0]) + "\\Plugins\\WordRd.dll";
    EXPECT_EQ(LoadUnder(dll, "win2k"), 0u);
    EXPECT_EQ(LoadUnder(dll, "winxp"), 0u);
    EXPECT_EQ(LoadUnder(dll, "nt40"), 1u);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "--load-library") == 0) return LoadLibraryA(argv[2]) ? 0 : 1;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
