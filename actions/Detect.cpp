// Module RegDetect: registry helpers and existing-installation detection.
#include "Detect.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Profile.h"
#include "ShortUtl.h"

// The version record is the 148-byte layout every Win32 system fills: size,
// major, minor, build, platform, then 128 bytes of service-pack text.
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");

OSVERSIONINFOA OsVersionInfo{};
std::string DefaultDestination;
bool ExistingInstall = false;
std::string SharedVendorFolder;
std::string SettingsSection;
std::string IntroText;

namespace {

constexpr char kWindowsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr char kBrowserKey[] = "Software\\Microsoft\\Internet Explorer";
constexpr char kFallbackDrive[] = "C:";

std::string introTemplate = kIntroText;

// Reads a value into buffer (of capacity bytes); the number of bytes
// returned, or -1 when the key or the value cannot be read (a value larger
// than the buffer included).
int QueryValue(const char* keyName, const char* valueName, BYTE* buffer, DWORD capacity) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return -1;
    DWORD size = capacity;
    const LONG rc = RegQueryValueExA(key, valueName, nullptr, nullptr, buffer, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || size > capacity) return -1;
    return static_cast<int>(size);
}

// The returned bytes up to the first zero byte among them.
std::string TextUpToZero(const BYTE* data, int size) {
    const char* text = reinterpret_cast<const char*>(data);
    const void* zero = std::memchr(text, 0, static_cast<size_t>(size));
    const size_t length =
        zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - text) : static_cast<size_t>(size);
    return std::string(text, length);
}

// The first "YYYY" becomes the current year (UTC), right-aligned in four
// characters; a text without it is left as it is.
void PutYearIntoText(std::string& text) {
    const size_t at = text.find(kYearPlaceholder);
    if (at == std::string::npos) return;
    SYSTEMTIME now;
    GetSystemTime(&now);
    // Digits by hand: the runtime's formatted printing would add tens of KB
    // to the setup for this one number.
    unsigned value = now.wYear;
    if (value > 9999) return;  // wider than the placeholder
    char year[4];
    for (int i = 3; i >= 0; --i) {
        year[i] = (value != 0 || i == 3) ? static_cast<char>('0' + value % 10) : ' ';
        value /= 10;
    }
    text.replace(at, 4, year, 4);
}

}  // namespace

void SetIntroTemplate(const std::string& text) { introTemplate = text; }

void InitRegDetect() {
    IntroText = introTemplate;
    PutYearIntoText(IntroText);

    // Kept complemented among the constants; restored into a buffer of its
    // own, so a second start-up cannot flip it back.
    SettingsSection.clear();
    for (unsigned char stored : kSettingsSectionStored) SettingsSection.push_back(static_cast<char>(~stored));

    OsVersionInfo = OSVERSIONINFOA{};
    OsVersionInfo.dwOSVersionInfoSize = sizeof(OsVersionInfo);  // 148
    if (!GetVersionExA(&OsVersionInfo)) {
        OsVersionInfo = OSVERSIONINFOA{};
        OsVersionInfo.dwOSVersionInfoSize = sizeof(OsVersionInfo);
    }

    SharedVendorFolder = kVendorFolder;
    ReadWindowsDir("CommonFilesDir", SharedVendorFolder);

    // An uninstall entry counts only while its folder still holds the program:
    // an earlier uninstallation may have left the key behind.
    const std::string folder = FileDirPart(ReadUninstallString(kUninstallKeyName));
    ExistingInstall = !folder.empty() && FileIsPresent(folder + kProductProgram);
    if (ExistingInstall) {
        DefaultDestination = folder;
    } else {
        DefaultDestination = kDefaultDestinationSuffix;
        ReadWindowsDir("ProgramFilesDir", DefaultDestination);
    }
}

void DoneRegDetect() {
    OsVersionInfo = OSVERSIONINFOA{};
    DefaultDestination.clear();
    DefaultDestination.shrink_to_fit();
    ExistingInstall = false;
    SharedVendorFolder.clear();
    SharedVendorFolder.shrink_to_fit();
    SettingsSection.clear();
    SettingsSection.shrink_to_fit();
    IntroText.clear();
    IntroText.shrink_to_fit();
}

void ReadWindowsDir(const std::string& valueName, std::string& text) {
    BYTE buffer[MAX_PATH];
    const int size = QueryValue(kWindowsKey, valueName.c_str(), buffer, sizeof(buffer));
    // An empty value would leave a relative path such as "\Ovantis\Perus";
    // the fallback drive is the better guess.
    const std::string folder = size > 0 ? TextUpToZero(buffer, size) : std::string();
    text.insert(0, folder.empty() ? std::string(kFallbackDrive) : folder);
}

std::string ReadUninstallString(const std::string& productKeyName) {
    BYTE buffer[MAX_PATH + 1];
    const std::string keyName = std::string(kUninstallKeyRoot) + productKeyName;
    const int size = QueryValue(keyName.c_str(), "UninstallString", buffer, sizeof(buffer));
    if (size <= 0) return std::string();
    std::string result = TextUpToZero(buffer, size);
    if (!result.empty() && result.front() == '"') result.erase(0, 1);
    if (!result.empty() && result.back() == '"') result.pop_back();
    return result;
}

int GetBrowserMajorVersion() {
    BYTE buffer[MAX_PATH + 1];
    const int size = QueryValue(kBrowserKey, "Version", buffer, sizeof(buffer));
    if (size <= 0) return 0;
    int end = 0;  // the first "." or zero byte
    while (end < size && buffer[end] != '.' && buffer[end] != 0) ++end;
    if (end == size || end == 0) return 0;  // no end mark in the data, or no digits
    long long value = 0;
    for (int i = 0; i < end; ++i) {
        if (buffer[i] < '0' || buffer[i] > '9') return 0;
        value = value * 10 + (buffer[i] - '0');
        if (value > INT_MAX) return 0;
    }
    return static_cast<int>(value);
}

bool GetFileVersionMS(const std::string& path, WORD& major, WORD& minor) {
    major = 0;
    minor = 0;
    if (path.find('\0') != std::string::npos) return false;
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0) return false;
    std::vector<BYTE> info(size_t{size} + 1);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, info.data())) return false;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize) || fixed == nullptr ||
        fixedSize < sizeof(VS_FIXEDFILEINFO)) {
        return false;
    }
    major = HIWORD(fixed->dwFileVersionMS);
    minor = LOWORD(fixed->dwFileVersionMS);
    return true;
}
