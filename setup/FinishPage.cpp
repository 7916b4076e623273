// Module PVQInst: the finish page and the query-folder file association.
#include "PVQInst.h"

#include "Profile.h"
#include "Sounds.h"
#include "resource.h"
#include "shortcut.h"

#include <commctrl.h>

#include <string>

int32_t FullHeight = 0;

namespace {

constexpr UINT_PTR kRollDownTimerId = 0;
constexpr UINT kRollDownStepMs = 30;
constexpr int kRollDownStep = 4;  // pixels per roll-down tick
constexpr UINT kRollFlags = SWP_SHOWWINDOW | SWP_NOZORDER | SWP_NOMOVE;
constexpr BYTE kHotKeyModifiers = HOTKEYF_CONTROL | HOTKEYF_ALT;

bool IsTicked(HWND page, int id) { return IsDlgButtonChecked(page, id) == BST_CHECKED; }

void InitFinishPage(HWND page) {
    CheckDlgButton(page, IDC_FIN_DESKTOP, BST_CHECKED);
    CheckDlgButton(page, IDC_FIN_ASSOCIATE, BST_CHECKED);
    CheckDlgButton(page, IDC_FIN_HOTKEY, BST_CHECKED);

    SetWindowTextA(page, kFinishTitle);
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), IDI_MAINICON);
    SendMessageA(page, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendDlgItemMessageA(page, IDC_FIN_TEXT, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kThankYouText));

    for (int key = 1; key <= kHotKeyEntryCount; ++key) {
        const std::string entry = kHotKeyEntryPrefix + std::to_string(key);
        SendDlgItemMessageA(page, IDC_FIN_HOTKEY_LIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    }
    SendDlgItemMessageA(page, IDC_FIN_HOTKEY_LIST, CB_SETCURSEL, kHotKeyPreselect, 0);
    EnableWindow(GetDlgItem(page, IDC_FIN_HOTKEY_LIST), TRUE);

    CenterWindow(page);

    // The page unrolls from nothing; without a timer it simply stays whole.
    if (SetTimer(page, kRollDownTimerId, kRollDownStepMs, nullptr)) {
        RECT r{};
        GetWindowRect(page, &r);
        FullHeight = r.bottom - r.top;
        SetWindowPos(page, nullptr, 0, 0, r.right - r.left, 0, kRollFlags);
        EnableWindow(page, FALSE);
    }
}

void RollDownStep(HWND page) {
    RECT r{};
    GetWindowRect(page, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top + kRollDownStep;
    if (height < FullHeight) {
        SetWindowPos(page, nullptr, 0, 0, width, height, kRollFlags);
        return;
    }
    SetWindowPos(page, nullptr, 0, 0, width, FullHeight, kRollFlags);
    KillTimer(page, kRollDownTimerId);
    EnableWindow(page, TRUE);
    SetFocus(GetDlgItem(page, IDOK));
    PlaySoundResource(IDW_FINISHED, SND_ASYNC);
}

void ApplyOptions(HWND page) {
    KillTimer(page, kRollDownTimerId);
    WORD hotKey = 0;
    if (IsTicked(page, IDC_FIN_HOTKEY))
        hotKey = FinishHotKeyCode(static_cast<int>(SendDlgItemMessageA(page, IDC_FIN_HOTKEY_LIST, CB_GETCURSEL, 0, 0)));
    const std::string program = DestinationFolder + kProductProgram;

    // The shell reports its own failures to nobody; neither do we.
    if (IsTicked(page, IDC_FIN_DESKTOP)) (void)CreateDesktopShortcut(kDesktopShortcutName, program, hotKey);
    // Replaces the group's program shortcut made earlier without a hot key.
    (void)CreateGroupShortcut(kProgramGroupName, kShortcutProgram, program, hotKey);
    if (IsTicked(page, IDC_FIN_ASSOCIATE)) RegisterQueryFolderType(DestinationFolder);
    EndDialog(page, 1);
}

// Creates or opens subKey of parent for access; nullptr on failure.
HKEY CreateClassKey(HKEY parent, const char* subKey, REGSAM access) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(parent, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return nullptr;
    return key;
}

// The key's default value, with the terminating zero counted in its size.
void SetDefaultValue(HKEY key, const std::string& value) {
    /* result = */ (void)RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                        static_cast<DWORD>(value.size() + 1));
}

// A sub-key of the type key with its default value; skipped when it cannot be made.
void WriteSubKey(HKEY typeKey, const char* subKey, const std::string& value) {
    HKEY key = CreateClassKey(typeKey, subKey, KEY_SET_VALUE);
    if (!key) return;
    SetDefaultValue(key, value);
    RegCloseKey(key);
}

}  // namespace

WORD FinishHotKeyCode(int index) {
    if (index < 0 || index >= kHotKeyEntryCount) return 0;
    return static_cast<WORD>((kHotKeyModifiers << 8) | (VK_F1 + index));
}

INT_PTR CALLBACK FinishPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        InitFinishPage(page);
        return TRUE;
    case WM_TIMER:
        RollDownStep(page);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            ApplyOptions(page);
            break;
        case IDC_FIN_HOTKEY:
            EnableWindow(GetDlgItem(page, IDC_FIN_HOTKEY_LIST), IsTicked(page, IDC_FIN_HOTKEY));
            break;
        case IDC_FIN_TEXT:
            if (HIWORD(wParam) == EN_SETFOCUS) PostMessageA(GetDlgItem(page, IDC_FIN_TEXT), EM_SETSEL, 0, 0);
            break;
        default:
            break;
        }
        return TRUE;
    case WM_CLOSE:
        // The close box leaves everything as the installation left it.
        KillTimer(page, kRollDownTimerId);
        EndDialog(page, 1);
        return TRUE;
    default:
        return FALSE;
    }
}

void RegisterQueryFolderType(const std::string& folder) {
    HKEY extensionKey = CreateClassKey(HKEY_CLASSES_ROOT, kQueryExtension, KEY_SET_VALUE);
    if (!extensionKey) return;
    SetDefaultValue(extensionKey, kQueryFileTypeKey);
    RegCloseKey(extensionKey);

    HKEY typeKey = CreateClassKey(HKEY_CLASSES_ROOT, kQueryFileTypeKey, KEY_SET_VALUE | KEY_CREATE_SUB_KEY);
    if (!typeKey) return;
    SetDefaultValue(typeKey, kQueryTypeDescription);
    WriteSubKey(typeKey, "DefaultIcon", folder + kQueryIconReference);
    WriteSubKey(typeKey, "shell\\open\\command", "\"" + folder + kProductProgram + "\" \"%1\"");
    RegCloseKey(typeKey);
}
