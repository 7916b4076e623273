// Registry helpers and existing-installation detection, run under Wine
// against the real registry keys the module reads. Every value a test
// writes is put back as it was, also when an assertion fails.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "Detect.h"
#include "Profile.h"
#include "TestSupport.h"

using voztest::RemoveTree;

namespace {

constexpr char kWindowsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr char kBrowserKey[] = "Software\\Microsoft\\Internet Explorer";

struct TRegData {
    DWORD type = REG_SZ;
    std::string bytes;  // raw value data
};

TRegData Text(const std::string& s) { return {REG_SZ, std::string(s.c_str(), s.size() + 1)}; }
TRegData Binary(const std::string& bytes) { return {REG_BINARY, bytes}; }

std::optional<TRegData> ReadValue(const char* keyName, const char* valueName) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return std::nullopt;
    DWORD type = 0, size = 0;
    std::optional<TRegData> result;
    if (RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::string bytes(size, '\0');
        if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &size) ==
            ERROR_SUCCESS) {
            bytes.resize(size);
            result = TRegData{type, bytes};
        }
    }
    RegCloseKey(key);
    return result;
}

bool KeyExists(const char* keyName) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Writes (value) or deletes (nullopt) one value, creating the key if needed.
void WriteValue(const char* keyName, const char* valueName, const std::optional<TRegData>& value) {
    HKEY key;
    if (!value) {
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
        RegDeleteValueA(key, valueName);
        RegCloseKey(key);
        return;
    }
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << keyName;
    EXPECT_EQ(RegSetValueExA(key, valueName, 0, value->type, reinterpret_cast<const BYTE*>(value->bytes.data()),
                             static_cast<DWORD>(value->bytes.size())),
              ERROR_SUCCESS)
        << valueName;
    RegCloseKey(key);
}

// Restores one value (and removes its key if the test created it) at scope end.
class TSavedValue {
  public:
    TSavedValue(const char* keyName, const char* valueName)
        : key_(keyName), value_(valueName), keyExisted_(KeyExists(keyName)), saved_(ReadValue(keyName, valueName)) {}
    TSavedValue(const TSavedValue&) = delete;
    TSavedValue& operator=(const TSavedValue&) = delete;
    ~TSavedValue() {
        WriteValue(key_.c_str(), value_.c_str(), saved_);
        if (!keyExisted_) RegDeleteKeyA(HKEY_LOCAL_MACHINE, key_.c_str());
    }
    void Set(const std::optional<TRegData>& value) { WriteValue(key_.c_str(), value_.c_str(), value); }
    const std::optional<TRegData>& Saved() const { return saved_; }

  private:
    std::string key_, value_;
    bool keyExisted_;
    std::optional<TRegData> saved_;
};

std::string SavedText(const TSavedValue& v) {
    if (!v.Saved()) return std::string();
    return std::string(v.Saved()->bytes.c_str());
}

void WriteTextFile(const std::string& path, const std::string& content) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    ::WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(h);
}

// A scratch folder in the temp folder, removed afterwards.
class DetectTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(voztest::FolderExists(base_)) << base_; }
    void TearDown() override {
        DoneRegDetect();
        SetIntroTemplate(kIntroText);
    }
    voztest::TTempFolder scratch_{"detect"};
    std::string base_ = scratch_.path;
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// ---- Start-up: earlier installation and default destination ---------------

struct TStartupCase {
    const char* what;
    std::optional<std::string> uninstallString;  // "{dir}" stands for the installation folder
    bool programPresent;
    bool programFilesDir;  // "ProgramFilesDir" present
    bool commonFilesDir;   // "CommonFilesDir" present
    bool expectExisting;
    const char*
        expectDestination;  // "{dir}", "{pf}" (Program Files folder) or "C:"; the profile's suffix follows the last two
};

const TStartupCase kStartupCases[] = {
    {"no uninstall entry", std::nullopt, true, true, true, false, "{pf}"},
    {"entry left behind by an uninstallation", "\"{dir}\\remover.exe\"", false, true, true, false, "{pf}"},
    {"quoted uninstall string", "\"{dir}\\remover.exe\"", true, true, true, true, "{dir}"},
    {"arguments after the closing quote", "\"{dir}\\remover.exe\" /S", true, true, true, true, "{dir}"},
    {"unquoted uninstall string", "{dir}\\remover.exe", true, true, true, true, "{dir}"},
    {"doubled backslash before the name", "\"{dir}\\\\remover.exe\"", true, true, true, true, "{dir}"},
    {"empty uninstall string", "", true, true, true, false, "{pf}"},
    {"bare file name", "remover.exe", true, true, true, false, "{pf}"},
    {"no ProgramFilesDir", std::nullopt, true, false, true, false, "C:"},
    {"no CommonFilesDir", std::nullopt, true, true, false, false, "{pf}"},
};

TEST_F(DetectTest, StartupFindsEarlierInstallationOrDefault) {
    TSavedValue uninstall(kUninstallKey, "UninstallString");
    TSavedValue programFiles(kWindowsKey, "ProgramFilesDir");
    TSavedValue commonFiles(kWindowsKey, "CommonFilesDir");
    const std::string pf = SavedText(programFiles);
    const std::string cf = SavedText(commonFiles);
    ASSERT_FALSE(pf.empty()) << "the Wine prefix has no ProgramFilesDir to start from";
    ASSERT_FALSE(cf.empty()) << "the Wine prefix has no CommonFilesDir to start from";

    const std::string dir = base_ + "\\Installed Here";
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    for (const TStartupCase& c : kStartupCases) {
        SCOPED_TRACE(c.what);
        DeleteFileA((dir + kProductProgram).c_str());
        if (c.programPresent) WriteTextFile(dir + kProductProgram, "MZ");
        if (c.uninstallString) {
            uninstall.Set(Text(Replace(*c.uninstallString, "{dir}", dir)));
        } else {
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
        }
        programFiles.Set(c.programFilesDir ? programFiles.Saved() : std::nullopt);
        commonFiles.Set(c.commonFilesDir ? commonFiles.Saved() : std::nullopt);

        InitRegDetect();

        std::string expect = c.expectDestination;
        if (expect == "{dir}") {
            expect = dir;
        } else {
            expect = Replace(expect, "{pf}", pf) + kDefaultDestinationSuffix;
        }
        EXPECT_EQ(ExistingInstall, c.expectExisting);
        EXPECT_EQ(DefaultDestination, expect);
        EXPECT_EQ(SharedVendorFolder, (c.commonFilesDir ? cf : std::string("C:")) + "\\Ovantis");
    }
}

// ---- ReadUninstallString ---------------------------------------------------

TEST_F(DetectTest, ReadUninstallStringStripsOneQuoteAtEachEnd) {
    TSavedValue uninstall(kUninstallKey, "UninstallString");
    const std::string longest(260, 'x');  // with its zero byte it fills the 261-byte buffer
    struct TCase {
        const char* what;
        std::optional<TRegData> value;
        std::string expect;
    } cases[] = {
        {"quoted", Text("\"C:\\App\\remover.exe\""), "C:\\App\\remover.exe"},
        {"arguments after the quote", Text("\"C:\\App\\remover.exe\" /S"), "C:\\App\\remover.exe\" /S"},
        {"unquoted", Text("C:\\App\\remover.exe"), "C:\\App\\remover.exe"},
        {"doubled quotes lose one each", Text("\"\"C:\\App\"\""), "\"C:\\App\""},
        {"a lone quote", Text("\""), ""},
        {"empty", Text(""), ""},
        {"cut at the first zero byte", Binary(std::string("\"C:\\A\0B\"", 8)), "C:\\A"},
        {"data without a zero byte", Binary("\"C:\\App\""), "C:\\App"},
        {"260 characters fit", Text(longest), longest},
        {"261 characters do not", Text(longest + "y"), ""},
        {"no value", std::nullopt, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        uninstall.Set(Text("placeholder"));  // makes sure the key exists
        uninstall.Set(c.value);
        EXPECT_EQ(ReadUninstallString(kUninstallKeyName), c.expect);
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
    EXPECT_EQ(ReadUninstallString(kUninstallKeyName), "");
}

// ---- ReadWindowsDir ----------------------------------------------------------

TEST_F(DetectTest, ReadWindowsDirPutsFolderOrDriveInFront) {
    const std::string valueName = "VozTestDir" + std::to_string(GetCurrentProcessId());
    TSavedValue probe(kWindowsKey, valueName.c_str());
    struct TCase {
        const char* what;
        std::optional<TRegData> value;
        std::string expectFront;
    } cases[] = {
        {"text value", Text("D:\\Programs"), "D:\\Programs"},
        {"no value", std::nullopt, "C:"},
        {"empty value", Text(""), "C:"},
        {"data without a zero byte keeps its last character", Binary("D:\\Tools"), "D:\\Tools"},
        {"259 characters fit", Text(std::string(259, 'p')), std::string(259, 'p')},
        {"260 characters do not", Text(std::string(260, 'p')), "C:"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        probe.Set(c.value);
        std::string text = "\\Ovantis";
        ReadWindowsDir(valueName, text);
        EXPECT_EQ(text, c.expectFront + "\\Ovantis");
    }
}

// ---- GetBrowserMajorVersion ----------------------------------------------

TEST_F(DetectTest, BrowserMajorVersion) {
    TSavedValue version(kBrowserKey, "Version");
    struct TCase {
        const char* what;
        std::optional<TRegData> value;
        int expect;
    } cases[] = {
        {"11.0.9600", Text("11.0.9600"), 11},
        {"9.11.9600.18376", Text("9.11.9600.18376"), 9},
        {"no dot", Text("7"), 7},
        {"abc", Text("abc"), 0},
        {"digits then letters", Text("8a.0"), 0},
        {"leading dot", Text(".5"), 0},
        {"empty", Text(""), 0},
        {"too large for an integer", Text("99999999999.0"), 0},
        {"neither dot nor zero byte in the data", Binary("123"), 0},
        {"binary with a dot", Binary("6.0"), 6},
        {"a DWORD value", TRegData{REG_DWORD, std::string("\x0b\0\0\0", 4)}, 0},
        {"missing", std::nullopt, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        version.Set(c.value);
        EXPECT_EQ(GetBrowserMajorVersion(), c.expect);
    }
}

// ---- GetFileVersionMS ------------------------------------------------------

// A version resource holding only the fixed information.
std::string VersionResource(DWORD fileMS, DWORD fileLS, DWORD productMS) {
    std::string blob(92, '\0');
    auto put16 = [&](size_t at, WORD v) { std::memcpy(&blob[at], &v, 2); };
    put16(0, 92);  // wLength
    put16(2, 52);  // wValueLength: sizeof(VS_FIXEDFILEINFO)
    put16(4, 0);   // binary
    const wchar_t key[] = L"VS_VERSION_INFO";
    std::memcpy(&blob[6], key, sizeof(key));  // 32 bytes, then padding to 40
    VS_FIXEDFILEINFO fixed{};
    fixed.dwSignature = 0xFEEF04BD;
    fixed.dwStrucVersion = 0x00010000;
    fixed.dwFileVersionMS = fileMS;
    fixed.dwFileVersionLS = fileLS;
    fixed.dwProductVersionMS = productMS;
    fixed.dwFileOS = VOS_NT_WINDOWS32;
    fixed.dwFileType = VFT_APP;
    std::memcpy(&blob[40], &fixed, sizeof(fixed));
    return blob;
}

TEST_F(DetectTest, FileVersionFromVersionResource) {
    char self[MAX_PATH];
    ASSERT_NE(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    const std::string versioned = base_ + "\\versioned.exe";
    ASSERT_TRUE(CopyFileA(self, versioned.c_str(), FALSE));
    const std::string blob = VersionResource(0x00070003, 0x00090001, 0x00020001);
    HANDLE update = BeginUpdateResourceA(versioned.c_str(), FALSE);
    const bool written =
        update != nullptr &&
        UpdateResourceA(update, RT_VERSION, MAKEINTRESOURCEA(1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                        const_cast<char*>(blob.data()), static_cast<DWORD>(blob.size())) &&
        EndUpdateResourceA(update, FALSE);
    if (!written) {
        if (update != nullptr) EndUpdateResourceA(update, TRUE);
        GTEST_SKIP() << "Wine could not add a version resource to a copy of this program (UpdateResourceA)";
    }
    WriteTextFile(base_ + "\\plain.txt", "no resources here");

    struct TCase {
        const char* what;
        std::string path;
        bool expect;
        WORD major, minor;
    } cases[] = {
        {"file version 7.3.9.1, product version 2.1", versioned, true, 7, 3},
        {"text file", base_ + "\\plain.txt", false, 0, 0},
        {"missing file", base_ + "\\missing.exe", false, 0, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        WORD major = 0xFFFF, minor = 0xFFFF;  // must be reset even when nothing is found
        EXPECT_EQ(GetFileVersionMS(c.path, major, minor), c.expect);
        EXPECT_EQ(major, c.major);
        EXPECT_EQ(minor, c.minor);
    }
}

// ---- Introduction text, settings section, lifecycle ---------------------

std::string CurrentYear() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    return std::to_string(now.wYear);
}

TEST_F(DetectTest, YearReplacesFirstPlaceholderOnly) {
    struct TCase {
        const char* what;
        std::string text;
        std::string expect;  // "{year}" stands for the current year
    } cases[] = {
        {"profile text", kIntroText, Replace(kIntroText, "YYYY", "{year}")},  // the profile has exactly one
        {"closing line", "Intro.\r\n\r\nCopyright (c) 2001-YYYY Orvane",
         "Intro.\r\n\r\nCopyright (c) 2001-{year} Orvane"},
        {"two placeholders", "YYYY and YYYY", "{year} and YYYY"},
        {"no placeholder", "Copyright Orvane", "Copyright Orvane"},
        {"three Ys only", "YYY", "YYY"},
        {"empty", "", ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        SetIntroTemplate(c.text);
        InitRegDetect();
        // Read the year after start-up and accept the one before it too, in case
        // the test straddles midnight of New Year's Eve (UTC).
        const std::string year = CurrentYear();
        const std::string before = std::to_string(std::stoi(year) - 1);
        EXPECT_TRUE(IntroText == Replace(c.expect, "{year}", year) || IntroText == Replace(c.expect, "{year}", before))
            << IntroText;
    }
}

TEST_F(DetectTest, StartupStateAndShutdown) {
    InitRegDetect();
    // The section name is stored complemented; a start-up that flipped it in
    // place would turn it back on its second run.
    const std::string section = SettingsSection;
    ASSERT_EQ(section.size(), kSettingsSectionStored.size());
    for (size_t i = 0; i < section.size(); ++i) {
        EXPECT_TRUE(section[i] >= 0x20 && section[i] < 0x7F) << "byte " << i << " is not printable text";
    }
    InitRegDetect();
    EXPECT_EQ(SettingsSection, section);

    OSVERSIONINFOA expect{};
    expect.dwOSVersionInfoSize = sizeof(expect);
    ASSERT_TRUE(GetVersionExA(&expect));
    EXPECT_EQ(OsVersionInfo.dwOSVersionInfoSize, 148u);
    EXPECT_EQ(OsVersionInfo.dwPlatformId, expect.dwPlatformId);
    EXPECT_EQ(OsVersionInfo.dwMajorVersion, expect.dwMajorVersion);
    EXPECT_EQ(OsVersionInfo.dwMinorVersion, expect.dwMinorVersion);
    EXPECT_FALSE(DefaultDestination.empty());

    DoneRegDetect();
    EXPECT_TRUE(DefaultDestination.empty());
    EXPECT_TRUE(SharedVendorFolder.empty());
    EXPECT_TRUE(SettingsSection.empty());
    EXPECT_FALSE(ExistingInstall);
    EXPECT_EQ(OsVersionInfo.dwOSVersionInfoSize, 0u);
}

}  // namespace
