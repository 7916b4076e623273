// Module SelDir: the folder browser.
#include "SelDir.h"

#include <winnetwk.h>

#include <vector>

#include "ShortUtl.h"
#include "resource.h"

std::string AppendedFolder;
std::string MessageCaption;

namespace {

// The initial folder while the dialog runs; the accepted folder (without the
// product folder) after OK.
std::string ChosenFolder;
// List index of the folder being shown: the last entry of the path chain in
// the folder list.
int32_t CurrentIndex = 0;
// Drive-list index of the drive being shown, put back when a drive choice is
// refused or cancelled; -1 when the shown folder is on no listed drive.
int32_t CurrentDrive = 0;

// Fills the running dialog's folder list: the chain of folder's components
// (the first one with its "\", as in "C:\"), then the product folder entry
// unless folder already ends with it, then folder's visible sub-folders in
// the order the file system returns them. Sets CurrentIndex and the label
// above the path field. Item data: indentation in pixels, negative for the
// product folder entry.
void FillFolderList(const std::string& folder);

// Fills the running dialog's drive list with every drive A: to Z: that has a
// root ("C: label"), each with its drive icon as item data, and selects the
// drive of the folder in the path field (CurrentDrive).
void FillDriveList();

// The folder that the selected entry of the folder list stands for: a chain
// entry goes up to it, a sub-folder or the product folder entry goes into
// it. Empty when nothing is selected.
std::string PathFromList(HWND list);

// The running dialog; the fill operations work on its controls.
HWND FolderDialog = nullptr;

// Shared icons (never destroyed), loaded at each dialog start.
HICON ChainIcon = nullptr;    // folders on the path
HICON ProductIcon = nullptr;  // the product folder entry
HICON SubIcon = nullptr;      // sub-folders of the shown folder

constexpr int kIndentPerLevel = 6;  // pixels
constexpr int kItemHeight = 16;     // pixels, both lists
constexpr int kIconAdvance = 20;    // pixels from the icon to the text
// The path field is read up to this many characters; a longer text is refused
// rather than cut, so that a truncated path is never accepted.
constexpr int kMaxPathText = MAX_PATH - 1;

const char kAddedLabelHead[] = "Destination f&older (\"";
const char kAddedLabelTail[] = "\" will be added):";
const char kPlainLabel[] = "Destination f&older:";

HICON LoadSmallIcon(int id) {
    return static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, LR_SHARED));
}

bool SameAscii(const std::string& a, const std::string& b) {
    return a.size() == b.size() && UpperCaseAscii(a) == UpperCaseAscii(b);
}

void CollapseDoubleBackslashes(std::string& path) {
    for (size_t i = path.find("\\\\"); i != std::string::npos; i = path.find("\\\\", i)) path.erase(i, 1);
}

void RemoveTrailingBackslash(std::string& path) {
    if (!path.empty() && path.back() == '\\') path.pop_back();
}

// Outcome of looking for folder + "\*.*" (folder without trailing "\"):
// ERROR_SUCCESS when something was found, else the search's error code.
// An empty removable drive answers with an error code, not with the
// system's "insert a disk" box.
DWORD ProbeFolder(const std::string& folder) {
    const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*.*").c_str(), &found);
    const DWORD result = search == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    SetErrorMode(oldMode);
    return result;
}

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthA(window);
    if (length <= 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    const int got = GetWindowTextA(window, buffer.data(), length + 1);
    return std::string(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

std::string ListText(HWND list, int index) {
    const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR || length < 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    const LRESULT got = SendMessageA(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(buffer.data()));
    return got == LB_ERR ? std::string() : std::string(buffer.data(), static_cast<size_t>(got));
}

std::string ComboText(HWND combo, int index) {
    const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR || length < 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    const LRESULT got = SendMessageA(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(buffer.data()));
    return got == CB_ERR ? std::string() : std::string(buffer.data(), static_cast<size_t>(got));
}

void AddListEntry(HWND list, const std::string& text, LONG_PTR data) {
    const LRESULT index =
        SendMessageA(list, LB_INSERTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
    if (index >= 0) SendMessageA(list, LB_SETITEMDATA, index, static_cast<LPARAM>(data));
}

// The nearest folder at or above folder that can be listed; empty when the
// drive itself cannot be reached (or the path is no folder at all).
std::string WalkUpToListable(std::string folder) {
    while (folder.size() >= 3) {
        RemoveTrailingBackslash(folder);
        const DWORD result = ProbeFolder(folder);
        if (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) break;  // empty folders are fine
        if (result != ERROR_PATH_NOT_FOUND) {
            folder.clear();
            break;
        }
        const size_t cut = folder.rfind('\\');
        folder = cut == std::string::npos ? std::string() : folder.substr(0, cut + 1);
    }
    return folder;
}

std::string CurrentFolder() {
    char buffer[MAX_PATH];
    const DWORD length = GetCurrentDirectoryA(MAX_PATH, buffer);
    if (length == 0 || length >= MAX_PATH) return std::string();
    return std::string(buffer, length);
}

void InitFolderDialog(HWND dialog, const char* initialFolder) {
    FolderDialog = dialog;
    std::string folder = WalkUpToListable(FullPathName(initialFolder ? initialFolder : ""));
    if (folder.size() == 2) {
        folder += '\\';  // a bare drive such as "C:"
    } else if (folder.size() < 2) {
        folder = CurrentFolder();
    }

    ChainIcon = LoadSmallIcon(IDI_OPEN_FOLDER);
    ProductIcon = LoadSmallIcon(IDI_PRODUCT_FOLDER);
    SubIcon = LoadSmallIcon(IDI_FOLDER);

    SetDlgItemTextA(dialog, IDC_SEL_PATH, folder.c_str());
    FillDriveList();
    FillFolderList(folder);
}

void ShowFolder(HWND dialog, const std::string& folder) {
    SetDlgItemTextA(dialog, IDC_SEL_PATH, folder.c_str());
    FillFolderList(folder);
}

void OpenSelectedFolder(HWND dialog) {
    const std::string path = PathFromList(GetDlgItem(dialog, IDC_SEL_FOLDERS));
    if (!path.empty()) ShowFolder(dialog, path);
}

void ChooseDrive(HWND dialog) {
    HWND combo = GetDlgItem(dialog, IDC_SEL_DRIVES);
    const int selected = static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0));
    const std::string entry = selected >= 0 ? ComboText(combo, selected) : std::string();
    if (entry.size() >= 2) {
        const std::string root = entry.substr(0, 2) + "\\";
        const DWORD result = ProbeFolder(entry.substr(0, 2));             // root + "*.*"
        if (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) {  // an empty drive is fine
            CurrentDrive = selected;
            ShowFolder(dialog, root);
            return;
        }
    }
    // No medium, not ready, no access: the previous drive stays, silently.
    SendMessageA(combo, CB_SETCURSEL, CurrentDrive, 0);
}

void WarnInvalidFolder(HWND dialog, const std::string& text) {
    const std::string message =
        "The specified folder \"" + text + "\" is invalid.\r\rPlease, enter a full path with drive letter.";
    MessageBoxA(dialog, message.c_str(), MessageCaption.c_str(), MB_ICONWARNING | MB_OK);
}

void AcceptFolder(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_SEL_FOLDERS);
    if (GetFocus() == list) {
        // Enter on a highlighted folder opens it instead of ending the dialog.
        const LRESULT selected = SendMessageA(list, LB_GETCURSEL, 0, 0);
        if (selected >= 0 && selected != CurrentIndex) {
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SEL_FOLDERS, LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
            return;
        }
    }

    HWND edit = GetDlgItem(dialog, IDC_SEL_PATH);
    const std::string text = WindowText(edit);
    if (text.size() > static_cast<size_t>(kMaxPathText) || text.size() < 3 || (text[1] != ':' && text[0] != '\\')) {
        WarnInvalidFolder(dialog, text);
        return;
    }

    std::string folder = FullPathName(text);
    RemoveTrailingBackslash(folder);
    const std::string target = AddProductFolder(folder);
    // A folder that resolves to nothing, or whose product folder would not
    // fit a path, could never be created: refuse it like a malformed one.
    if (folder.empty() || target.size() >= MAX_PATH) {
        WarnInvalidFolder(dialog, text);
        return;
    }

    if (ProbeFolder(target) == ERROR_PATH_NOT_FOUND) {
        const std::string question =
            "The folder \"" + target + "\" does not exist.\r\rDo you want the folder to be created?";
        if (MessageBoxA(dialog, question.c_str(), MessageCaption.c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    }
    ChosenFolder = folder;
    EndDialog(dialog, 1);
}

void DrawEntry(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    if (static_cast<int>(item.itemID) == -1) {  // empty control
        DrawFocusRect(dc, &item.rcItem);
        return;
    }

    const bool highlighted = (item.itemState & ODS_SELECTED) && (item.itemState & ODS_FOCUS);
    COLORREF oldText = 0;
    COLORREF oldBack = 0;
    if (highlighted) {
        oldText = SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
        oldBack = SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));
    }

    HBRUSH brush = CreateSolidBrush(GetBkColor(dc));
    if (brush) {
        FillRect(dc, &item.rcItem, brush);
        DeleteObject(brush);
    }

    const int index = static_cast<int>(item.itemID);
    const LONG_PTR data = static_cast<LONG_PTR>(item.itemData);
    int left = item.rcItem.left + 2;
    std::string text;
    HICON icon = nullptr;
    if (item.CtlID == IDC_SEL_FOLDERS) {
        left += static_cast<int>(data < 0 ? -data : data);
        icon = data < 0 ? ProductIcon : (index <= CurrentIndex ? ChainIcon : SubIcon);
        text = ListText(item.hwndItem, index);
    } else {
        icon = reinterpret_cast<HICON>(item.itemData);
        text = ComboText(item.hwndItem, index);
    }
    if (icon) DrawIconEx(dc, left, item.rcItem.top, icon, 0, 0, 0, nullptr, DI_NORMAL);
    left += kIconAdvance;

    const RECT opaque = {left, item.rcItem.top, item.rcItem.right, item.rcItem.bottom};
    ExtTextOutA(dc, left, item.rcItem.top, ETO_OPAQUE, &opaque, text.c_str(), static_cast<UINT>(text.size()), nullptr);

    if (highlighted) {
        SetTextColor(dc, oldText);
        SetBkColor(dc, oldBack);
    }
}

}  // namespace

bool EndsWithFolder(const std::string& path) {
    if (path.size() < AppendedFolder.size()) return false;
    return SameAscii(path.substr(path.size() - AppendedFolder.size()), AppendedFolder);
}

std::string AddProductFolder(const std::string& folder) {
    const std::string last = folder.substr(LastDelimiterPos("\\:", folder));
    if (SameAscii(last, AppendedFolder)) return folder;
    // A root such as "D:\" already ends with its separator.
    const bool separated = !folder.empty() && folder.back() == '\\';
    return folder + (separated ? "" : "\\") + AppendedFolder;
}

std::string FullPathName(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return std::string();
    std::vector<char> buffer(path.size() + MAX_PATH);
    DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length >= buffer.size()) {  // did not fit: the call told the size it needs
        buffer.resize(static_cast<size_t>(length) + 1);
        length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length >= buffer.size()) return std::string();
    }
    if (length == 0) return std::string();
    std::string result(buffer.data(), length);
    CollapseDoubleBackslashes(result);
    return result;
}

namespace {

void FillFolderList(const std::string& folderIn) {
    HWND dialog = FolderDialog;
    HWND list = GetDlgItem(dialog, IDC_SEL_FOLDERS);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);

    // The chain: "C:\", then each component between backslashes.
    int32_t index = 0;
    const size_t firstSlash = folderIn.find('\\');
    const size_t headEnd = firstSlash == std::string::npos ? folderIn.size() : firstSlash + 1;
    AddListEntry(list, folderIn.substr(0, headEnd), 0);
    for (size_t start = headEnd; start < folderIn.size();) {
        size_t end = folderIn.find('\\', start);
        if (end == std::string::npos) end = folderIn.size();
        if (end > start) {
            ++index;
            AddListEntry(list, folderIn.substr(start, end - start), kIndentPerLevel * index);
        }
        start = end + 1;
    }
    CurrentIndex = index;
    SendMessageA(list, LB_SETCURSEL, CurrentIndex, 0);

    std::string folder = folderIn;
    RemoveTrailingBackslash(folder);
    if (EndsWithFolder(folder)) {
        SendMessageA(list, LB_SETITEMDATA, CurrentIndex, static_cast<LPARAM>(-kIndentPerLevel * CurrentIndex));
        SetDlgItemTextA(dialog, IDC_SEL_LABEL, kPlainLabel);
    } else {
        AddListEntry(list, AppendedFolder, -kIndentPerLevel * (CurrentIndex + 1));
        const std::string label = kAddedLabelHead + AppendedFolder + kAddedLabelTail;
        SetDlgItemTextA(dialog, IDC_SEL_LABEL, label.c_str());
    }

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const DWORD attributes = found.dwFileAttributes;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
            continue;
        const std::string name = found.cFileName;
        if (name == "." || name == ".." || SameAscii(name, AppendedFolder)) continue;
        AddListEntry(list, name, kIndentPerLevel * (CurrentIndex + 1));
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

void FillDriveList() {
    HWND dialog = FolderDialog;
    HWND combo = GetDlgItem(dialog, IDC_SEL_DRIVES);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    const std::string shown = WindowText(GetDlgItem(dialog, IDC_SEL_PATH));
    const char shownDrive = shown.empty() ? '\0' : static_cast<char>(shown[0] & ~0x20);
    CurrentDrive = -1;

    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const std::string root = std::string(1, letter) + ":\\";
        char label[MAX_PATH + 1] = "";
        HICON icon = nullptr;
        switch (GetDriveTypeA(root.c_str())) {
        case DRIVE_REMOVABLE:
            icon = LoadSmallIcon(IDI_DRIVE_REMOVABLE);
            break;
        case DRIVE_FIXED:
            icon = LoadSmallIcon(IDI_DRIVE_FIXED);
            if (!GetVolumeInformationA(root.c_str(), label, MAX_PATH, nullptr, nullptr, nullptr, nullptr, 0))
                label[0] = '\0';
            break;
        case DRIVE_REMOTE: {
            icon = LoadSmallIcon(IDI_DRIVE_NETWORK);
            DWORD size = MAX_PATH;
            if (WNetGetConnectionA(root.substr(0, 2).c_str(), label, &size) != NO_ERROR) label[0] = '\0';
            break;
        }
        case DRIVE_CDROM:
            icon = LoadSmallIcon(IDI_DRIVE_CDROM);
            break;
        case DRIVE_RAMDISK:
            icon = LoadSmallIcon(IDI_DRIVE_FIXED);
            break;
        default:  // unknown, or no root directory
            continue;
        }
        label[MAX_PATH] = '\0';

        const std::string entry = std::string(1, letter) + ": " + label;
        const LRESULT index = SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
        if (index < 0) continue;
        SendMessageA(combo, CB_SETITEMDATA, index, reinterpret_cast<LPARAM>(icon));
        if (letter == shownDrive) {
            CurrentDrive = static_cast<int32_t>(index);
            SendMessageA(combo, CB_SETCURSEL, index, 0);
        }
    }
}

std::string PathFromList(HWND list) {
    const LRESULT selected = SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (selected < 0) return std::string();
    const int s = static_cast<int>(selected);
    if (s <= CurrentIndex) CurrentIndex = s - 1;

    std::string path;
    for (int i = 0; i <= CurrentIndex; ++i) path += ListText(list, i) + "\\";
    path += ListText(list, s);
    CollapseDoubleBackslashes(path);
    return path;
}

// Dialog procedure of the folder browser. True for WM_CLOSE, WM_DRAWITEM,
// WM_MEASUREITEM, WM_INITDIALOG and WM_COMMAND; false for everything else.
// WM_INITDIALOG takes the initial folder (const char*) as lParam.
INT_PTR CALLBACK FolderDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        InitFolderDialog(window, reinterpret_cast<const char*>(lParam));
        return TRUE;  // the focus goes to the path field
    case WM_MEASUREITEM:
        reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->itemHeight = kItemHeight;
        return TRUE;
    case WM_DRAWITEM:
        DrawEntry(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_CLOSE:
        EndDialog(window, 0);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_SEL_FOLDERS:
            if (HIWORD(wParam) == LBN_DBLCLK) OpenSelectedFolder(window);
            break;
        case IDC_SEL_DRIVES:
            if (HIWORD(wParam) == CBN_SELENDOK) {
                ChooseDrive(window);
            } else if (HIWORD(wParam) == CBN_SELENDCANCEL) {
                SendDlgItemMessageA(window, IDC_SEL_DRIVES, CB_SETCURSEL, CurrentDrive, 0);
            }
            break;
        case IDC_SEL_OK:
        case IDOK:  // Enter, should the default button ever be unknown
            AcceptFolder(window);
            break;
        case IDCANCEL:
            EndDialog(window, 0);
            break;
        default:
            break;
        }
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

std::string SelectDestFolder(HWND owner, const std::string& initialFolder) {
    ChosenFolder = initialFolder;
    const std::string initial = initialFolder;  // the caller may pass the variable it assigns the result to
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_FOLDERBROWSER), owner, FolderDlgProc,
                    reinterpret_cast<LPARAM>(initial.c_str()));
    FolderDialog = nullptr;
    return AddProductFolder(ChosenFolder);
}

TFolderBrowserState FolderBrowserState() {
    TFolderBrowserState state;
    state.currentIndex = CurrentIndex;
    state.currentDrive = CurrentDrive;
    state.chosenFolder = ChosenFolder;
    return state;
}
