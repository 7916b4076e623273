// Module IEToolbarUnit: the browser button of the product's main program.
#include "IEToolbarUnit.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "VozFormat.h"

static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");

namespace {

// The product's own extension class id; the button's definition key and
// each hive's command mapping value are named after it.
constexpr char kButtonClassId[] = BROWSER_BUTTON_CLASS_ID;
constexpr char kButtonKey[] = BROWSER_BUTTON_KEY;
// The browser's class id for a button that runs a program.
constexpr char kRunProgramClassId[] = "{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}";

constexpr char kToolbarKey[] = "Software\\Microsoft\\Internet Explorer\\Toolbar";
constexpr char kCmdMappingKey[] = "Software\\Microsoft\\Internet Explorer\\Extensions\\CmdMapping";
constexpr char kNextIdValue[] = "NextId";
// The stored toolbar layout value; its name is also the GUID every button
// record carries.
constexpr char kLayoutValue[] = "{1E796980-9CC5-11D1-A83F-00C04FC99D61}";
constexpr uint8_t kLayoutGuid[16] = {0x80, 0x69, 0x79, 0x1E, 0xC5, 0x9C, 0xD1, 0x11,
                                     0xA8, 0x3F, 0x00, 0xC0, 0x4F, 0xC9, 0x9D, 0x61};

// Layout format notes: a 4-byte header, then records of seven little-endian
// 32-bit words: slot word, GUID (four words), command id, flags. Only these
// words are read or written; the rest belongs to the browser.
constexpr DWORD kLayoutHeader = 4;
constexpr DWORD kRecordSize = 28;
constexpr DWORD kSlotOffset = 0;
constexpr DWORD kGuidOffset = 4;
constexpr DWORD kCommandOffset = 20;
constexpr DWORD kFlagsOffset = 24;
constexpr uint32_t kInsertAfterSlot = 0xFFFFFFFFu;
constexpr uint32_t kNewButtonFlags = 4;
// No real layout comes near this; it keeps size + one record far from overflow.
constexpr DWORD kMaxLayoutSize = 1u << 24;

constexpr char kDefaultHive[] = ".default";
constexpr DWORD kHiveNameChars = 261;

bool IsXpOrLater() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) return false;
    return version.dwMajorVersion > 5 || (version.dwMajorVersion == 5 && version.dwMinorVersion >= 1);
}

bool SetText(HKEY key, const char* name, const std::string& text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

// Reads a value of exactly four bytes; type may be null.
bool ReadDword(HKEY key, const char* name, DWORD* type, uint32_t& value) {
    uint8_t bytes[4] = {};
    DWORD size = sizeof bytes;
    if (RegQueryValueExA(key, name, nullptr, type, bytes, &size) != ERROR_SUCCESS || size != sizeof bytes) return false;
    value = LoadLe32(bytes);
    return true;
}

bool WriteDword(HKEY key, const char* name, DWORD type, uint32_t value) {
    uint8_t bytes[4];
    StoreLe32(bytes, value);
    return RegSetValueExA(key, name, 0, type, bytes, sizeof bytes) == ERROR_SUCCESS;
}

// The button's command id in this hive, allocated from "NextId" when the
// hive has none yet; 0 when there is none and none can be allocated.
uint32_t ButtonCommandId(HKEY hiveRoot) {
    HKEY mapping;
    if (RegOpenKeyExA(hiveRoot, kCmdMappingKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &mapping) != ERROR_SUCCESS)
        return 0;
    uint32_t id = 0;
    if (!ReadDword(mapping, kButtonClassId, nullptr, id)) {
        id = 0;
        DWORD nextType = 0;
        uint32_t next = 0;
        // A NextId of 0 (or one that would wrap) allocates nothing usable: the
        // hive keeps its mapping as it is.
        if (ReadDword(mapping, kNextIdValue, &nextType, next) && next != 0 && next != 0xFFFFFFFFu) {
            if (WriteDword(mapping, kNextIdValue, nextType, next + 1) &&
                WriteDword(mapping, kButtonClassId, REG_DWORD, next))
                id = next;
        }
    }
    RegCloseKey(mapping);
    return id;
}

void InsertIntoLayout(HKEY toolbar, DWORD type, DWORD size, uint32_t commandId) {
    const DWORD count = (size - kLayoutHeader) / kRecordSize;
    std::vector<uint8_t> layout(size + kRecordSize);
    DWORD readType = 0, readSize = size;
    if (RegQueryValueExA(toolbar, kLayoutValue, nullptr, &readType, layout.data(), &readSize) != ERROR_SUCCESS ||
        readType != type || readSize != size)
        return;

    bool haveMark = false;
    DWORD mark = 0;
    for (DWORD i = 0; i < count; ++i) {
        const uint8_t* record = layout.data() + kLayoutHeader + i * kRecordSize;
        if (!haveMark && LoadLe32(record + kSlotOffset) == kInsertAfterSlot) {
            haveMark = true;
            mark = i;
        }
        if (LoadLe32(record + kCommandOffset) == commandId) return;  // already there
    }

    const DWORD at = haveMark ? mark + 1 : count;
    uint8_t* slot = layout.data() + kLayoutHeader + at * kRecordSize;
    std::memmove(slot + kRecordSize, slot, (count - at) * kRecordSize);
    StoreLe32(slot + kSlotOffset, commandId);
    std::memcpy(slot + kGuidOffset, kLayoutGuid, sizeof kLayoutGuid);
    StoreLe32(slot + kCommandOffset, commandId);
    StoreLe32(slot + kFlagsOffset, kNewButtonFlags);
    /* result ignored: a layout that cannot be written stays as it was */
    (void)RegSetValueExA(toolbar, kLayoutValue, 0, type, layout.data(), size + kRecordSize);
}

bool IsDefaultHive(const char* name) {
    for (size_t i = 0;; ++i) {
        char a = name[i], b = kDefaultHive[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != b) return false;
        if (a == '\0') return true;
    }
}

}  // namespace

bool WriteButtonKey(const std::string& mainProgramPath) {
    // A zero byte inside would store a different, shorter path.
    if (mainProgramPath.find('\0') != std::string::npos) return false;
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kButtonKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    const bool xp = IsXpOrLater();
    const std::string hotIcon = mainProgramPath + (xp ? ",1004" : ",1002");
    const std::string icon = mainProgramPath + (xp ? ",1003" : ",1001");
    const struct {
        const char* name;
        std::string data;
    } values[] = {
        {"ButtonText", kButtonText},
        {"clsid", kRunProgramClassId},
        {"Default Visible", "Yes"},
        {"Exec", mainProgramPath},
        {"HotIcon", hotIcon},
        {"Icon", icon},
        {"MenuStatusBar", kButtonStatusText},
        {"MenuText", kButtonMenuText},
    };
    bool ok = true;
    for (const auto& v : values) ok = SetText(key, v.name, v.data) && ok;
    RegCloseKey(key);
    return ok;
}

void AddButtonToLayout(HKEY hiveRoot) {
    HKEY toolbar;
    if (RegOpenKeyExA(hiveRoot, kToolbarKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &toolbar) != ERROR_SUCCESS) return;
    DWORD type = 0, size = 0;
    // A layout shorter than its header would make the record count wrap.
    if (RegQueryValueExA(toolbar, kLayoutValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_BINARY && size >= kLayoutHeader && size <= kMaxLayoutSize &&
        (size - kLayoutHeader) % kRecordSize == 0) {
        const uint32_t commandId = ButtonCommandId(hiveRoot);
        if (commandId != 0) InsertIntoLayout(toolbar, type, size, commandId);
    }
    RegCloseKey(toolbar);
}

bool RegisterBrowserButton(const std::string& mainProgramPath) {
    if (!WriteButtonKey(mainProgramPath)) return false;
    AddButtonToLayout(HKEY_CURRENT_USER);
    // The current user shows up here again under its security id; that
    // visit finds the button in place and changes nothing.
    for (DWORD index = 0;; ++index) {
        char name[kHiveNameChars];
        DWORD nameChars = kHiveNameChars;
        const LONG answer = RegEnumKeyExA(HKEY_USERS, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
        if (answer == ERROR_MORE_DATA) continue;  // a name too long to hold: not a hive we can name
        if (answer != ERROR_SUCCESS) break;
        if (IsDefaultHive(name)) continue;
        HKEY hive;
        if (RegOpenKeyExA(HKEY_USERS, name, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_ENUMERATE_SUB_KEYS, &hive) ==
            ERROR_SUCCESS) {
            AddButtonToLayout(hive);
            RegCloseKey(hive);
        }
    }
    return true;
}
