// Browser integration under Wine: the toolbar button's definition and its
// place in each user hive's stored layout (Perusant), and the search-box
// helper's installation (both products).
//
// The layout cases run on a scratch key laid out like a user hive. Cases
// that need the real keys (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER,
// HKEY_USERS, the logon Run key, the shared vendor folder) put back what
// they change, also when an assertion fails. Behaviour that depends on the
// Windows version runs in a copy of this program that Wine treats as
// another version (HKCU\Software\Wine\AppDefaults\<copy>.exe, "Version").
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "Detect.h"
#include "Profile.h"
#include "SearchBox.h"
#include "TestSupport.h"
#if VOZ_FEATURE_BROWSER_BUTTON
#include "IEToolbarUnit.h"
#endif

using voztest::FileExists;
using voztest::RemoveTree;
using voztest::WinePath;

namespace {

std::string FakeHelper(const char* version) {
    return WinePath(VOZ_FAKE_HELPER_DIR) + "\\browser_fakehelper_" + version + ".exe";
}

DWORD FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return data.nFileSizeLow;
}

bool AppendByte(const std::string& path) {
    HANDLE f = CreateFileA(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(f, "X", 1, &written, nullptr) && written == 1;
    CloseHandle(f);
    return ok;
}

bool WriteText(const std::string& path, const std::string& text) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
    return ok && written == text.size();
}

// Waits up to ms (scaled) for the file to appear.
bool WaitForFile(const std::string& path, DWORD ms) {
    const DWORD start = GetTickCount();
    while (!FileExists(path)) {
        if (GetTickCount() - start > voztest::Scaled(ms)) return false;
        Sleep(50);
    }
    return true;
}

// A helper stand-in started a moment ago may still hold its program file;
// retries until the file or folder is gone (at most about 10 seconds).
bool DeleteWaiting(const std::string& path) {
    for (int i = 0; i < 100; ++i) {
        const DWORD a = GetFileAttributesA(path.c_str());
        if (a == INVALID_FILE_ATTRIBUTES) return true;
        if (a & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(path);
        } else {
            DeleteFileA(path.c_str());
        }
        if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
        Sleep(100);
    }
    return false;
}

std::string TempBase(const char* what) {
    return voztest::TempPath() + "voz_browser_" + what + "_" + std::to_string(GetCurrentProcessId());
}

// ---- Registry: raw values, snapshots of whole keys -----------------------

struct TRegValue {
    std::string name;
    DWORD type = 0;
    std::string data;
    bool operator==(const TRegValue&) const = default;
};

std::optional<TRegValue> ReadValue(HKEY root, const std::string& key, const std::string& name) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return std::nullopt;
    std::optional<TRegValue> result;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(k, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::string data(size, '\0');
        if (RegQueryValueExA(k, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) ==
            ERROR_SUCCESS) {
            data.resize(size);
            result = TRegValue{name, type, data};
        }
    }
    RegCloseKey(k);
    return result;
}

[[maybe_unused]] void SetValue(HKEY root, const std::string& key, const std::string& name, DWORD type,
                               const std::string& data) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr), ERROR_SUCCESS)
        << key;
    EXPECT_EQ(RegSetValueExA(k, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(k);
}

void DeleteValue(HKEY root, const std::string& key, const std::string& name) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_SET_VALUE, &k) != ERROR_SUCCESS) return;
    RegDeleteValueA(k, name.c_str());
    RegCloseKey(k);
}

std::string Dword(uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
}

std::string Sz(const std::string& s) { return std::string(s.c_str(), s.size() + 1); }

// Every value of one key in enumeration order; nullopt when the key is missing.
std::optional<std::vector<TRegValue>> KeyValues(HKEY root, const std::string& key) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return std::nullopt;
    std::vector<TRegValue> values;
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameChars = sizeof name, type = 0, size = 0;
        if (RegEnumValueA(k, i, name, &nameChars, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::string data(size, '\0');
        nameChars = sizeof name;
        if (RegEnumValueA(k, i, name, &nameChars, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
            ERROR_SUCCESS)
            break;
        data.resize(size);
        values.push_back({name, type, data});
    }
    RegCloseKey(k);
    return values;
}

// Puts a set of keys (values only) back as they were when it was made; a
// key that did not exist is removed with everything below it. List parents
// before their children.
class TKeysSnapshot {
  public:
    TKeysSnapshot(HKEY root, std::vector<std::string> keys) : root_(root), keys_(std::move(keys)) {
        for (const std::string& k : keys_) saved_.push_back(KeyValues(root_, k));
    }
    TKeysSnapshot(const TKeysSnapshot&) = delete;
    TKeysSnapshot& operator=(const TKeysSnapshot&) = delete;
    ~TKeysSnapshot() {
        for (size_t i = keys_.size(); i-- > 0;) {
            if (!saved_[i]) {
                RegDeleteTreeA(root_, keys_[i].c_str());
                continue;
            }
            HKEY k;
            if (RegCreateKeyExA(root_, keys_[i].c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &k,
                                nullptr) != ERROR_SUCCESS)
                continue;
            if (auto now = KeyValues(root_, keys_[i]))
                for (const TRegValue& v : *now) RegDeleteValueA(k, v.name.c_str());
            for (const TRegValue& v : *saved_[i])
                RegSetValueExA(k, v.name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                               static_cast<DWORD>(v.data.size()));
            RegCloseKey(k);
        }
    }

  private:
    HKEY root_;
    std::vector<std::string> keys_;
    std::vector<std::optional<std::vector<TRegValue>>> saved_;
};

constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// ---- A copy of this program under another Windows version -----------------

// Runs this program as "<copy> args" with Wine reporting windowsVersion;
// the copy and its version setting are removed afterwards. The child's
// exit code, or -1 when it could not run.
int RunUnderVersion(const std::string& windowsVersion, const std::string& scratch, const std::string& args) {
    return static_cast<int>(voztest::RunSelfUnder(windowsVersion, scratch, "vozbrowser", args));
}

// Child side. "--child-version FILE": the version Wine reports, as
// "major minor". "--child-searchbox DEST VENDOR": the start-up detection,
// then the helper installation. "--child-button PATH": the button definition.
int RunChild(int argc, char** argv) {
    const std::string mode = argv[1];
    if (mode == "--child-version" && argc == 3) {
        OSVERSIONINFOA v{};
        v.dwOSVersionInfoSize = sizeof v;
        GetVersionExA(&v);
        const std::string text = std::to_string(v.dwMajorVersion) + " " + std::to_string(v.dwMinorVersion);
        return WriteText(argv[2], text) ? 0 : 1;
    }
    if (mode == "--child-searchbox" && argc == 4) {
        InitRegDetect();
        InstallSearchBoxHelper(argv[2], argv[3]);
        DoneRegDetect();
        return 0;
    }
#if VOZ_FEATURE_BROWSER_BUTTON
    if (mode == "--child-button" && argc == 3) return WriteButtonKey(argv[2]) ? 0 : 1;
#endif
    return 2;
}

// ---- Search-box helper ---------------------------------------------------

class SearchBoxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        base_ = TempBase("sb");
        RemoveTree(base_);
        ASSERT_TRUE(CreateDirectoryA(base_.c_str(), nullptr));
        dest_ = base_ + "\\dest";
        vendor_ = base_ + "\\vendor";
        ASSERT_TRUE(CreateDirectoryA(dest_.c_str(), nullptr));
        runKey_.emplace(HKEY_LOCAL_MACHINE, std::vector<std::string>{kRunKey});
        DeleteValue(HKEY_LOCAL_MACHINE, kRunKey, "VTSeekBox");
        InitRegDetect();
    }
    void TearDown() override {
        DoneRegDetect();
        runKey_.reset();
        DeleteWaiting(base_);
    }
    std::optional<TRegValue> RunValue() { return ReadValue(HKEY_LOCAL_MACHINE, kRunKey, "VTSeekBox"); }
    std::string Extracted() const { return dest_ + "\\SeekBox.exe"; }
    std::string Installed() const { return vendor_ + "\\SeekBox.exe"; }

    std::string base_, dest_, vendor_;
    std::optional<TKeysSnapshot> runKey_;
};

std::string VersionOf(const std::string& path) {
    WORD major = 0, minor = 0;
    if (!GetFileVersionMS(path, major, minor)) return "none";
    return std::to_string(major) + "." + std::to_string(minor);
}

// Which copy ends up installed, by version; every installation registers
// and starts the installed copy and deletes the extracted one.
TEST_F(SearchBoxTest, ReplacesTheInstalledCopyOnlyWhenTheExtractedOneIsNewer) {
    ASSERT_TRUE(OsVersionInfo.dwMajorVersion > 5 ||
                (OsVersionInfo.dwMajorVersion == 5 && OsVersionInfo.dwMinorVersion >= 1))
        << "this case needs Wine to report Windows XP or later";
    struct TCase {
        const char* installed;  // version of the stand-in, "" none, "text" a file without version resource
        const char* extracted;
        bool replaced;
    } cases[] = {
        {"", "5_2", true},    {"5_1", "5_2", true},  {"5_2", "5_2", false}, {"5_3", "5_2", false},
        {"4_9", "5_2", true}, {"6_0", "5_3", false}, {"text", "5_1", true}, {"5_2", "text", false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string("installed ") + c.installed + ", extracted " + c.extracted);
        ASSERT_TRUE(DeleteWaiting(vendor_));
        DeleteValue(HKEY_LOCAL_MACHINE, kRunKey, "VTSeekBox");
        const auto place = [](const char* what, const std::string& to) {
            if (std::string(what) == "text") return WriteText(to, "no version here");
            return CopyFileA(FakeHelper(what).c_str(), to.c_str(), FALSE) != 0;
        };
        ASSERT_TRUE(place(c.extracted, Extracted()));
        DWORD oldSize = 0;
        if (*c.installed) {
            ASSERT_TRUE(CreateDirectoryA(vendor_.c_str(), nullptr));
            ASSERT_TRUE(place(c.installed, Installed()));
            // One byte more tells the old copy apart from an equal new one.
            ASSERT_TRUE(AppendByte(Installed()));
            oldSize = FileSize(Installed());
        }
        const std::string newVersion = VersionOf(Extracted());
        const DWORD newSize = FileSize(Extracted());

        InstallSearchBoxHelper(dest_, vendor_);

        EXPECT_FALSE(FileExists(Extracted())) << "the extracted copy stays behind";
        ASSERT_TRUE(FileExists(Installed()));
        EXPECT_EQ(FileSize(Installed()), c.replaced ? newSize : oldSize);
        if (c.replaced) {
            EXPECT_EQ(VersionOf(Installed()), newVersion);
        }
        const std::optional<TRegValue> run = RunValue();
        ASSERT_TRUE(run.has_value()) << "the installed copy is not registered";
        EXPECT_EQ(run->type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(run->data, Sz(Installed()));
        if (std::string(c.replaced ? c.extracted : c.installed) != "text") {
            EXPECT_TRUE(WaitForFile(Installed() + ".started", voztest::kProgramStartMs))
                << "the installed copy was not started";
        }
    }
}

// Windows 2000 and earlier get no helper, Windows XP and later do; the
// extracted copy goes on every system.
TEST_F(SearchBoxTest, InstallsOnlyOnWindowsXpAndLater) {
    struct TCase {
        const char* version;
        DWORD major, minor;
        bool installs;
    } cases[] = {{"win2k", 5, 0, false}, {"winxp", 5, 1, true}, {"win7", 6, 1, true}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.version);
        ASSERT_TRUE(DeleteWaiting(vendor_));
        DeleteValue(HKEY_LOCAL_MACHINE, kRunKey, "VTSeekBox");
        const std::string report = base_ + "\\version.txt";
        ASSERT_EQ(RunUnderVersion(c.version, base_, "--child-version \"" + report + "\""), 0);
        HANDLE f = CreateFileA(report.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        char text[32] = {};
        DWORD read = 0;
        ReadFile(f, text, sizeof text - 1, &read, nullptr);
        CloseHandle(f);
        ASSERT_EQ(std::string(text), std::to_string(c.major) + " " + std::to_string(c.minor))
            << "Wine did not apply the per-program version";

        ASSERT_TRUE(CopyFileA(FakeHelper("5_3").c_str(), Extracted().c_str(), FALSE));
        ASSERT_EQ(RunUnderVersion(c.version, base_, "--child-searchbox \"" + dest_ + "\" \"" + vendor_ + "\""), 0);
        EXPECT_FALSE(FileExists(Extracted()));
        EXPECT_EQ(FileExists(Installed()), c.installs);
        EXPECT_EQ(RunValue().has_value(), c.installs);
        if (c.installs) {
            EXPECT_EQ(VersionOf(Installed()), "5.3");
            EXPECT_TRUE(WaitForFile(Installed() + ".started", voztest::kProgramStartMs));
        }
    }
}

// A lock file that can be deleted is stale: no waiting. One held with a
// handle that names no window: no waiting either. One held by a window that
// does not quit: the wait ends after about 10.5 seconds and the copy goes on.
TEST_F(SearchBoxTest, LockFileDecidesWhetherAndHowLongToWait) {
    const std::string lock = vendor_ + "\\SeekBox.tmp";
    HWND stubborn =
        CreateWindowExA(0, "STATIC", "stubborn helper", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(stubborn, nullptr);
    struct TCase {
        const char* what;
        bool held;
        bool realWindow;
        DWORD minMs, maxMs;
    } cases[] = {
        {"stale lock", false, true, 0, 3000},
        {"handle of no window", true, false, 0, 3000},
        {"window that does not quit", true, true, 10000, 14000},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(DeleteWaiting(vendor_));
        ASSERT_TRUE(CreateDirectoryA(vendor_.c_str(), nullptr));
        ASSERT_TRUE(CopyFileA(FakeHelper("5_1").c_str(), Installed().c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(FakeHelper("5_2").c_str(), Extracted().c_str(), FALSE));
        const uint32_t handle =
            c.realWindow ? static_cast<uint32_t>(reinterpret_cast<uintptr_t>(stubborn)) : 0x7FFFFFF0u;
        ASSERT_TRUE(WriteText(lock, Dword(handle)));
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.held) {
            held = CreateFileA(lock.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        }
        const DWORD start = GetTickCount();
        InstallSearchBoxHelper(dest_, vendor_);
        const DWORD elapsed = GetTickCount() - start;
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        EXPECT_GE(elapsed, c.minMs);
        EXPECT_LE(elapsed, c.maxMs);
        EXPECT_EQ(FileExists(lock), c.held) << "a stale lock is removed, a held one stays";
        EXPECT_EQ(VersionOf(Installed()), "5.2");
        MSG msg;
        bool quitPosted = false;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            if (msg.message == WM_QUIT) quitPosted = true;
        EXPECT_EQ(quitPosted, c.held && c.realWindow);
    }
    DestroyWindow(stubborn);
}

// An old copy that cannot be overwritten (its program still in use) stays,
// and is still registered; the extracted copy goes all the same.
TEST_F(SearchBoxTest, OldCopyInUseStaysInstalledAndRegistered) {
    ASSERT_TRUE(CreateDirectoryA(vendor_.c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(FakeHelper("5_1").c_str(), Installed().c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(FakeHelper("5_3").c_str(), Extracted().c_str(), FALSE));
    HANDLE inUse = CreateFileA(Installed().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(inUse, INVALID_HANDLE_VALUE);
    InstallSearchBoxHelper(dest_, vendor_);
    CloseHandle(inUse);
    EXPECT_EQ(VersionOf(Installed()), "5.1");
    EXPECT_FALSE(FileExists(Extracted()));
    const std::optional<TRegValue> run = RunValue();
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->data, Sz(Installed()));
}

// The product's own helper, running from the machine's shared vendor
// folder, is asked to quit through its lock file and replaced by a newer one.
TEST_F(SearchBoxTest, StopsARunningHelperBeforeReplacingIt) {
    const std::string vendor = SharedVendorFolder;
    const std::string installed = vendor + "\\SeekBox.exe";
    const std::string lock = vendor + "\\SeekBox.tmp";
    const std::string aside = base_ + "\\SeekBox.saved";
    ASSERT_FALSE(FileExists(lock) && !DeleteFileA(lock.c_str())) << "a helper runs already";
    const bool hadInstalled = FileExists(installed);
    if (hadInstalled) {
        ASSERT_TRUE(CopyFileA(installed.c_str(), aside.c_str(), FALSE));
    }
    const bool hadVendor = GetFileAttributesA(vendor.c_str()) != INVALID_FILE_ATTRIBUTES;
    CreateDirectoryA(vendor.c_str(), nullptr);

    ASSERT_TRUE(CopyFileA(WinePath(VOZ_SEEKBOX_EXE).c_str(), installed.c_str(), FALSE));
    voztest::TProcess helper(installed, "");
    ASSERT_TRUE(helper.started);
    // The helper holds its lock once its window is up.
    bool running = false;
    const DWORD lockWaitStart = GetTickCount();
    while (!running && GetTickCount() - lockWaitStart < voztest::Scaled(voztest::kProgramStartMs)) {
        Sleep(50);
        running = FileExists(lock) && !DeleteFileA(lock.c_str());
    }
    EXPECT_TRUE(running) << "the helper did not take its lock";

    WORD major = 0, minor = 0;
    ASSERT_TRUE(GetFileVersionMS(installed, major, minor));
    // A stand-in one minor version newer than the product's helper.
    const std::string newer = std::to_string(major) + "_" + std::to_string(minor + 1);
    const std::string source = FakeHelper(newer.c_str());
    const bool haveNewer = FileExists(source);
    if (haveNewer) {
        ASSERT_TRUE(CopyFileA(source.c_str(), Extracted().c_str(), FALSE));
        const DWORD start = GetTickCount();
        InstallSearchBoxHelper(dest_, vendor);
        const DWORD elapsed = GetTickCount() - start;
        EXPECT_NE(helper.Wait(5000), DWORD{STILL_ACTIVE}) << "the helper did not quit";
        EXPECT_LT(elapsed, 9000u) << "the wait did not end when the lock went";
        EXPECT_FALSE(FileExists(lock));
        EXPECT_EQ(VersionOf(installed), std::to_string(major) + "." + std::to_string(minor + 1));
        EXPECT_FALSE(FileExists(Extracted()));
        const std::optional<TRegValue> run = RunValue();
        ASSERT_TRUE(run.has_value());
        EXPECT_EQ(run->data, Sz(installed));
        EXPECT_TRUE(WaitForFile(installed + ".started", voztest::kProgramStartMs));
    }
    // Ended before its program file is deleted.
    if (helper.Wait(0) == STILL_ACTIVE) TerminateProcess(helper.pi.hProcess, 1);
    helper.Wait(5000);
    DeleteFileA(lock.c_str());
    DeleteFileA((installed + ".started").c_str());
    EXPECT_TRUE(DeleteWaiting(installed)) << "the helper stand-in stays in the shared vendor folder";
    if (hadInstalled) CopyFileA(aside.c_str(), installed.c_str(), FALSE);
    if (!hadVendor) RemoveDirectoryA(vendor.c_str());
    ASSERT_TRUE(haveNewer) << "no stand-in of version " << newer << " beside the tests";
}

#if VOZ_FEATURE_BROWSER_BUTTON

// ---- Browser button ----------------------------------------------------------

constexpr char kToolbarKey[] = "Software\\Microsoft\\Internet Explorer\\Toolbar";
constexpr char kExtensionsKey[] = "Software\\Microsoft\\Internet Explorer\\Extensions";
constexpr char kCmdMappingKey[] = "Software\\Microsoft\\Internet Explorer\\Extensions\\CmdMapping";
constexpr char kLayoutValue[] = "{1E796980-9CC5-11D1-A83F-00C04FC99D61}";
constexpr char kClassId[] = "{5B1E0A77-3C42-4D19-8E6F-27A9C0D4B312}";
constexpr char kButtonKey[] =
    "Software\\Microsoft\\Internet Explorer\\Extensions\\{5B1E0A77-3C42-4D19-8E6F-27A9C0D4B312}";
const std::string kLayoutGuid("\x80\x69\x79\x1E\xC5\x9C\xD1\x11\xA8\x3F\x00\xC0\x4F\xC9\x9D\x61", 16);

struct TRecord {
    uint32_t slot;
    uint32_t command;
    uint32_t flags;
    std::string guid;  // 16 bytes
};

TRecord OldRecord(int i) {
    std::string guid(16, '\0');
    for (int k = 0; k < 16; ++k) guid[k] = static_cast<char>(0x30 + i * 16 + k);
    return {static_cast<uint32_t>(0x100 + i), static_cast<uint32_t>(0x2000 + i), static_cast<uint32_t>(i), guid};
}

TRecord NewRecord(uint32_t id) { return {id, id, 4, kLayoutGuid}; }

std::string Layout(const std::vector<TRecord>& records) {
    std::string bytes = Dword(0x0C);  // header
    for (const TRecord& r : records) bytes += Dword(r.slot) + r.guid + Dword(r.command) + Dword(r.flags);
    return bytes;
}

// A scratch key under HKEY_CURRENT_USER laid out like a user hive.
class LayoutTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = "Software\\VozBrowserTest" + std::to_string(GetCurrentProcessId());
        RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
        ASSERT_EQ(
            RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hive_, nullptr),
            ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(hive_);
        RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
    }
    std::string path_;
    HKEY hive_ = nullptr;
};

struct TLayoutCase {
    const char* what;
    std::optional<TRegValue> layout;  // name ignored
    std::optional<TRegValue> nextId;  // "NextId"
    std::optional<uint32_t> mapping;  // the class id's command id
    bool changed;                     // layout rewritten and mapping allocated
    std::string expectLayout;         // when changed
    std::optional<TRegValue> expectNextId;
    std::optional<uint32_t> expectMapping;
};

std::vector<TLayoutCase> LayoutCases() {
    const TRecord r0 = OldRecord(0), r1 = OldRecord(1), r2 = OldRecord(2), r3 = OldRecord(3);
    TRecord m1 = r1;
    m1.slot = 0xFFFFFFFFu;
    TRecord m3 = r3;
    m3.slot = 0xFFFFFFFFu;
    const auto bin = [](const std::string& d) { return TRegValue{"", REG_BINARY, d}; };
    const auto dw = [](uint32_t v) { return TRegValue{"NextId", REG_DWORD, Dword(v)}; };
    const TRegValue next = dw(0x41);
    std::vector<TLayoutCase> c;
    c.push_back({"marker at index 1: inserted at 2, later records shift", bin(Layout({r0, m1, r2, r3})), next,
                 std::nullopt, true, Layout({r0, m1, NewRecord(0x41), r2, r3}), dw(0x42), 0x41});
    c.push_back({"marker on the last record", bin(Layout({r0, r1, r2, m3})), next, std::nullopt, true,
                 Layout({r0, r1, r2, m3, NewRecord(0x41)}), dw(0x42), 0x41});
    c.push_back({"two markers: after the first", bin(Layout({m1, r2, m3})), next, std::nullopt, true,
                 Layout({m1, NewRecord(0x41), r2, m3}), dw(0x42), 0x41});
    c.push_back({"no marker: appended", bin(Layout({r0, r1, r2})), next, std::nullopt, true,
                 Layout({r0, r1, r2, NewRecord(0x41)}), dw(0x42), 0x41});
    c.push_back({"header only: appended", bin(Layout({})), next, std::nullopt, true, Layout({NewRecord(0x41)}),
                 dw(0x42), 0x41});
    c.push_back({"existing mapping reused, NextId kept", bin(Layout({r0, m1, r2})), next, 0x33u, true,
                 Layout({r0, m1, NewRecord(0x33), r2}), next, 0x33});
    c.push_back({"NextId of another type keeps its type", bin(Layout({r0})), TRegValue{"NextId", REG_BINARY, Dword(7)},
                 std::nullopt, true, Layout({r0, NewRecord(7)}), TRegValue{"NextId", REG_BINARY, Dword(8)}, 7});
    // Untouched hives.
    c.push_back({"button already in the layout", bin(Layout({r0, m1, r2})), next, 0x2002u, false, "", next, 0x2002});
    c.push_back({"layout of type REG_NONE", TRegValue{"", REG_NONE, Layout({r0, m1})}, next, std::nullopt, false, "",
                 next, std::nullopt});
    c.push_back({"layout of type REG_SZ", TRegValue{"", REG_SZ, Layout({r0, m1})}, next, std::nullopt, false, "", next,
                 std::nullopt});
    c.push_back({"size minus 4 not a multiple of 28", bin(Layout({r0, m1}) + "x"), next, std::nullopt, false, "", next,
                 std::nullopt});
    c.push_back({"shorter than its header", bin(std::string("\x0C\x00", 2)), next, std::nullopt, false, "", next,
                 std::nullopt});
    c.push_back({"empty layout", bin(std::string()), next, std::nullopt, false, "", next, std::nullopt});
    c.push_back({"no layout value", std::nullopt, next, std::nullopt, false, "", next, std::nullopt});
    c.push_back(
        {"no NextId", bin(Layout({r0, m1})), std::nullopt, std::nullopt, false, "", std::nullopt, std::nullopt});
    c.push_back({"NextId of 2 bytes", bin(Layout({r0, m1})),
                 TRegValue{"NextId", REG_BINARY, std::string("\x05\x00", 2)}, std::nullopt, false, "",
                 TRegValue{"NextId", REG_BINARY, std::string("\x05\x00", 2)}, std::nullopt});
    c.push_back({"NextId of 0", bin(Layout({r0, m1})), dw(0), std::nullopt, false, "", dw(0), std::nullopt});
    return c;
}

TEST_F(LayoutTest, AddsTheButtonOrLeavesTheHiveUntouched) {
    for (const TLayoutCase& c : LayoutCases()) {
        SCOPED_TRACE(c.what);
        const std::string toolbar = path_ + "\\" + kToolbarKey;
        const std::string mapping = path_ + "\\" + kCmdMappingKey;
        RegDeleteTreeA(HKEY_CURRENT_USER, (path_ + "\\Software").c_str());
        if (c.layout) {
            SetValue(HKEY_CURRENT_USER, toolbar, kLayoutValue, c.layout->type, c.layout->data);
        } else {
            HKEY k;
            ASSERT_EQ(
                RegCreateKeyExA(HKEY_CURRENT_USER, toolbar.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr),
                ERROR_SUCCESS);
            RegCloseKey(k);
        }
        if (c.nextId) SetValue(HKEY_CURRENT_USER, mapping, "NextId", c.nextId->type, c.nextId->data);
        if (c.mapping) SetValue(HKEY_CURRENT_USER, mapping, kClassId, REG_DWORD, Dword(*c.mapping));

        AddButtonToLayout(hive_);

        const std::optional<TRegValue> layout = ReadValue(HKEY_CURRENT_USER, toolbar, kLayoutValue);
        ASSERT_EQ(layout.has_value(), c.layout.has_value());
        if (layout) {
            EXPECT_EQ(layout->type, c.layout->type);
            EXPECT_EQ(layout->data, c.changed ? c.expectLayout : c.layout->data);
        }
        std::optional<TRegValue> next = ReadValue(HKEY_CURRENT_USER, mapping, "NextId");
        ASSERT_EQ(next.has_value(), c.expectNextId.has_value());
        if (next) {
            EXPECT_EQ(next->type, c.expectNextId->type);
            EXPECT_EQ(next->data, c.expectNextId->data);
        }
        const std::optional<TRegValue> mapped = ReadValue(HKEY_CURRENT_USER, mapping, kClassId);
        ASSERT_EQ(mapped.has_value(), c.expectMapping.has_value());
        if (mapped) {
            EXPECT_EQ(*mapped, (TRegValue{kClassId, REG_DWORD, Dword(*c.expectMapping)}));
        }
    }
}

// Without the Toolbar key the hive's command mapping is not touched either.
TEST_F(LayoutTest, HiveWithoutToolbarKeyKeepsItsNextId) {
    const std::string mapping = path_ + "\\" + kCmdMappingKey;
    SetValue(HKEY_CURRENT_USER, mapping, "NextId", REG_DWORD, Dword(9));
    AddButtonToLayout(hive_);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, mapping, "NextId")->data, Dword(9));
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, mapping, kClassId).has_value());
}

// The eight values in order; the icons depend on the Windows version.
TEST(ButtonKeyTest, EightValuesInOrderWithIconsByWindowsVersion) {
    TKeysSnapshot saved(HKEY_LOCAL_MACHINE, {kExtensionsKey, kButtonKey});
    const std::string base = TempBase("button");
    RemoveTree(base);
    ASSERT_TRUE(CreateDirectoryA(base.c_str(), nullptr));
    const std::string program = "C:\\Program Files\\Ovantis\\Perus\\Perus.exe";
    struct TCase {
        const char* version;
        const char* hot;
        const char* icon;
    } cases[] = {{"win2k", ",1002", ",1001"}, {"winxp", ",1004", ",1003"}, {"win7", ",1004", ",1003"}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.version);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kButtonKey);
        ASSERT_EQ(RunUnderVersion(c.version, base, "--child-button \"" + program + "\""), 0);
        const std::optional<std::vector<TRegValue>> values = KeyValues(HKEY_LOCAL_MACHINE, kButtonKey);
        ASSERT_TRUE(values.has_value());
        const std::vector<TRegValue> expected = {
            {"ButtonText", REG_SZ, Sz("Perus")},
            {"clsid", REG_SZ, Sz("{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}")},
            {"Default Visible", REG_SZ, Sz("Yes")},
            {"Exec", REG_SZ, Sz(program)},
            {"HotIcon", REG_SZ, Sz(program + c.hot)},
            {"Icon", REG_SZ, Sz(program + c.icon)},
            {"MenuStatusBar", REG_SZ, Sz("Runs Perusant")},
            {"MenuText", REG_SZ, Sz("Run Perus")},
        };
        ASSERT_EQ(values->size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ((*values)[i].name, expected[i].name) << "value " << i;
            EXPECT_EQ((*values)[i].type, expected[i].type) << expected[i].name;
            EXPECT_EQ((*values)[i].data, expected[i].data) << expected[i].name;
        }
    }
    RemoveTree(base);
}

// The current user's layout gets the button once although the hive is
// visited twice (as HKEY_CURRENT_USER and under HKEY_USERS); another loaded
// hive gets it too; ".Default" is passed over. A definition that cannot be
// written leaves every layout alone.
TEST(RegisterButtonTest, EveryLoadedUserHiveButDefault) {
    TKeysSnapshot machine(HKEY_LOCAL_MACHINE, {kExtensionsKey, kButtonKey});
    TKeysSnapshot user(HKEY_CURRENT_USER,
                       {"Software\\Microsoft\\Internet Explorer", kExtensionsKey, kCmdMappingKey, kToolbarKey});
    const std::string defaultHive = ".DEFAULT";
    TKeysSnapshot defaults(
        HKEY_USERS, {defaultHive + "\\Software\\Microsoft\\Internet Explorer", defaultHive + "\\" + kExtensionsKey,
                     defaultHive + "\\" + kCmdMappingKey, defaultHive + "\\" + kToolbarKey});
    const std::string otherHive = "S-1-5-21-7070-7070-7070-" + std::to_string(GetCurrentProcessId());

    const TRecord r0 = OldRecord(0);
    TRecord m1 = OldRecord(1);
    m1.slot = 0xFFFFFFFFu;
    const std::string before = Layout({r0, m1});
    const auto prepare = [&](HKEY root, const std::string& prefix) {
        SetValue(root, prefix + kToolbarKey, kLayoutValue, REG_BINARY, before);
        SetValue(root, prefix + kCmdMappingKey, "NextId", REG_DWORD, Dword(0x55));
        DeleteValue(root, prefix + kCmdMappingKey, kClassId);
    };
    prepare(HKEY_CURRENT_USER, "");
    prepare(HKEY_USERS, defaultHive + "\\");
    HKEY other = nullptr;
    const bool haveOther = RegCreateKeyExA(HKEY_USERS, otherHive.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &other, nullptr) == ERROR_SUCCESS;
    if (haveOther) {
        RegCloseKey(other);
        prepare(HKEY_USERS, otherHive + "\\");
    }

    // A zero byte in the path: no definition, no layout touched.
    EXPECT_FALSE(RegisterBrowserButton(std::string("C:\\Pe\0rus.exe", 13)));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kToolbarKey, kLayoutValue)->data, before);

    EXPECT_TRUE(RegisterBrowserButton("C:\\Ovantis\\Perus\\Perus.exe"));
    const std::string after = Layout({r0, m1, NewRecord(0x55)});
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kToolbarKey, kLayoutValue)->data, after);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kCmdMappingKey, "NextId")->data, Dword(0x56));
    EXPECT_EQ(ReadValue(HKEY_USERS, defaultHive + "\\" + kToolbarKey, kLayoutValue)->data, before);
    EXPECT_EQ(ReadValue(HKEY_USERS, defaultHive + "\\" + kCmdMappingKey, "NextId")->data, Dword(0x55));
    if (haveOther) {
        EXPECT_EQ(ReadValue(HKEY_USERS, otherHive + "\\" + kToolbarKey, kLayoutValue)->data, after);
        RegDeleteTreeA(HKEY_USERS, otherHive.c_str());
    }
    EXPECT_TRUE(KeyValues(HKEY_LOCAL_MACHINE, kButtonKey).has_value());
    if (!haveOther) GTEST_SKIP() << "Wine would not make a further hive under HKEY_USERS";
}

#endif  // VOZ_FEATURE_BROWSER_BUTTON

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]).rfind("--child-", 0) == 0) return RunChild(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
