#include "ProductUtil.h"
#include "ProductFacts.h"

#include <cstring>

std::string ProgramFolder() {
    char buffer[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH + 1);
    // A result that fills the buffer may be cut short: refuse it.
    if (length == 0 || length >= MAX_PATH) return std::string();
    return FolderOfPath(std::string(buffer, length));
}

std::string FolderOfPath(const std::string& path) {
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(0, slash);
}

std::string NameOfPath(const std::string& path) {
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool FileExists(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ReadFileBytes(const std::string& path, uint32_t maxBytes, std::string* data) {
    data->clear();
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    // GetFileSize is there on every Win32 system the setup supports;
    // GetFileSizeEx is not.
    DWORD high = 0;
    DWORD low = GetFileSize(f, &high);
    bool ok = high == 0 && low != INVALID_FILE_SIZE && low <= maxBytes;
    if (ok) {
        data->resize(low);
        DWORD got = 0;
        ok = data->empty() ||
             (ReadFile(f, data->data(), static_cast<DWORD>(data->size()), &got, nullptr) && got == data->size());
    }
    CloseHandle(f);
    if (!ok) data->clear();
    return ok;
}

bool WriteFileBytes(const std::string& path, const std::string& data) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = data.empty() ||
              (WriteFile(f, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) && written == data.size());
    ok = CloseHandle(f) && ok;
    return ok;
}

bool ReadRegistryText(HKEY root, const char* key, const char* value, size_t maxChars, std::string* text) {
    text->clear();
    HKEY k;
    if (RegOpenKeyExA(root, key, 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return false;
    std::string buffer(maxChars + 2, '\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(buffer.size());
    LONG r = RegQueryValueExA(k, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    RegCloseKey(k);
    if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size > buffer.size()) return false;
    // The stored data need not end with a zero; take it up to the first one.
    size_t length = strnlen(buffer.data(), size);
    if (length > maxChars) return false;
    text->assign(buffer.data(), length);
    return true;
}

std::string InstalledProductFolder(const char* fullName, const char* mainProgram) {
    std::string command;
    std::string key = std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + fullName;
    if (!ReadRegistryText(HKEY_LOCAL_MACHINE, key.c_str(), "UninstallString", MAX_PATH + 2, &command))
        return std::string();
    if (!command.empty() && command.front() == '"') {
        size_t close = command.find('"', 1);
        command = command.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    std::string folder = FolderOfPath(command);
    if (folder.empty() || folder == command || !FileExists(folder + "\\" + mainProgram)) return std::string();
    return folder;
}

static char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameTextAscii(const std::string& a, const std::string& b) {
    return a.size() == b.size() && StartsWithTextAscii(a, b);
}

bool StartsWithTextAscii(const std::string& text, const std::string& prefix) {
    if (prefix.size() > text.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
    return true;
}

std::string SharedVendorFolder() {
    std::string common;
    if (!ReadRegistryText(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir",
                          MAX_PATH - 1, &common))
        common = "C:";
    while (!common.empty() && common.back() == '\\') common.pop_back();
    return common + VENDOR_FOLDER;
}

bool RegisterProgramClass(HINSTANCE instance, WNDPROC proc, const char* className, int backgroundColor) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, "MAINICON");
    wc.hIconSm = static_cast<HICON>(LoadImageA(instance, "MAINICON", IMAGE_ICON, 16, 16, 0));
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(backgroundColor + 1));
    wc.lpszClassName = className;
    return RegisterClassExA(&wc) != 0;
}
