// Module PVQInst: the main setup page, where the destination folder is
// settled and created before the installation run.
#include "PVQInst.h"

#include "Detect.h"
#include "Profile.h"
#include "SelDir.h"
#include "ShortUtl.h"
#include "Sounds.h"
#include "WinNTFuncts.h"
#include "resource.h"

#include <cstddef>

namespace {

constexpr UINT_PTR kRollUpTimerId = 0;
constexpr UINT_PTR kBlinkTimerId = 1;
constexpr UINT kRollUpStepMs = 20;
constexpr UINT kBlinkStepMs = 500;
constexpr int kRollUpStep = 4;       // pixels per roll-up tick
constexpr int kNoteGrowth = 34;      // brings the browser note below the bottom edge into view
constexpr int kFontHeight = -11;     // character height of 11 pixels for the destination field
constexpr int kBlinkLastCount = 10;  // the note stays shown once BlinkCount passes this
constexpr double kRecommendedFreeMB = 16.0;
constexpr int kFirstBrowserWithSearchBox = 7;

// NONCLIENTMETRICSA as every Windows version since 95 knows it (without the
// padded-border field newer headers add), so the query succeeds everywhere.
constexpr UINT kNonClientMetricsSize = 340;
static_assert(offsetof(NONCLIENTMETRICSA, lfMessageFont) + sizeof(LOGFONTA) == kNonClientMetricsSize);

TDiskFreeSpaceProc DiskFreeSpaceProc = GetDiskFreeSpaceA;
TBrowserVersionProc BrowserVersionProc = GetBrowserMajorVersion;

void ShowDestination(HWND page) { SetDlgItemTextA(page, IDC_MAIN_DEST, DestinationFolder.c_str()); }

// The destination field gets the system's message font at 11 pixels; it
// keeps the dialog font when the metrics or the font are not available.
void MakeDestinationFont(HWND page) {
    // A font left by an earlier showing of the page is no longer in use.
    if (DestinationFont) DeleteObject(DestinationFont);
    DestinationFont = nullptr;
    alignas(NONCLIENTMETRICSA) unsigned char buffer[sizeof(NONCLIENTMETRICSA)] = {};
    auto* metrics = reinterpret_cast<NONCLIENTMETRICSA*>(buffer);
    metrics->cbSize = kNonClientMetricsSize;
    if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, kNonClientMetricsSize, metrics, 0)) return;
    LOGFONTA font = metrics->lfMessageFont;
    font.lfHeight = kFontHeight;
    DestinationFont = CreateFontIndirectA(&font);
    if (DestinationFont)
        SendDlgItemMessageA(page, IDC_MAIN_DEST, WM_SETFONT, reinterpret_cast<WPARAM>(DestinationFont), TRUE);
}

void InitMainPage(HWND page) {
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), IDI_MAINICON);
    SendMessageA(page, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SetWindowTextA(page, kSetupWindowTitle);
    MakeDestinationFont(page);
    SetDlgItemTextA(page, IDC_MAIN_INTRO, IntroText.c_str());

    // Older browsers cannot host the product's search box: say so below the
    // page and make the note blink for a few seconds.
    if (BrowserVersionProc() < kFirstBrowserWithSearchBox) {
        PlaySoundResource(IDW_HIGHERVERSION, SND_ASYNC);
        if (OsVersionInfo.dwPlatformId >= VER_PLATFORM_WIN32_NT)
            SetDlgItemTextA(page, IDC_MAIN_BROWSER_NOTE, kBrowserVersionNote);
        RECT r{};
        GetWindowRect(page, &r);
        SetWindowPos(page, nullptr, 0, 0, r.right - r.left, r.bottom - r.top + kNoteGrowth, SWP_NOZORDER | SWP_NOMOVE);
        SetTimer(page, kBlinkTimerId, kBlinkStepMs, nullptr);
    }

    DestinationFolder = DefaultDestination;
    ShowDestination(page);
    // An earlier installation fixes the destination.
    EnableWindow(GetDlgItem(page, IDC_MAIN_BROWSE), !ExistingInstall);
    CenterWindow(page);  // after the growth, so the grown page is centred
}

void BrowseForDestination(HWND page) {
    AppendedFolder = FileNamePart(DefaultDestination);
    MessageCaption = kSetupWindowTitle;
    DestinationFolder = SelectDestFolder(page, DestinationFolder);
    if (DestinationFolder.size() == 2) DestinationFolder += '\\';  // a bare drive such as "D:"
    ShowDestination(page);
}

void StartInstallation(HWND page) {
    if (FreeDiskSpaceMB(DestinationFolder) < kRecommendedFreeMB &&
        MessageBoxA(page, kDiskSpaceQuestion, kDiskSpaceCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;

    if (CreateDestinationFolder(DestinationFolder).empty()) {
        const std::string text = kFolderErrorStart + DestinationFolder + kFolderErrorEnd;
        MessageBoxA(page, text.c_str(), kFolderErrorCaption, MB_OK | MB_ICONERROR);
        return;  // the page stays: the user may browse for another folder or cancel
    }

    if (SetTimer(page, kRollUpTimerId, kRollUpStepMs, nullptr))
        EnableWindow(page, FALSE);  // for the duration of the roll-up
    else
        EndDialog(page, 1);
}

void RollUpStep(HWND page) {
    RECT r{};
    GetWindowRect(page, &r);
    const int height = r.bottom - r.top - kRollUpStep;
    if (height < 0) {
        KillTimer(page, kRollUpTimerId);
        EndDialog(page, 1);
        PlaySoundResource(IDW_WAIT, SND_ASYNC);
        return;
    }
    SetWindowPos(page, nullptr, 0, 0, r.right - r.left, height, SWP_SHOWWINDOW | SWP_NOZORDER | SWP_NOMOVE);
}

void BlinkStep(HWND page) {
    ++BlinkCount;
    HWND note = GetDlgItem(page, IDC_MAIN_BROWSER_NOTE);
    if (BlinkCount % 2 != 0) {
        ShowWindow(note, SW_SHOW);
        if (BlinkCount > kBlinkLastCount) KillTimer(page, kBlinkTimerId);
    } else {
        ShowWindow(note, SW_HIDE);
    }
}

}  // namespace

void SetDiskFreeSpaceProc(TDiskFreeSpaceProc proc) { DiskFreeSpaceProc = proc ? proc : GetDiskFreeSpaceA; }

void SetBrowserVersionProc(TBrowserVersionProc proc) { BrowserVersionProc = proc ? proc : GetBrowserMajorVersion; }

INT_PTR CALLBACK MainPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        InitMainPage(page);
        return TRUE;
    case WM_TIMER:
        if (wParam == kRollUpTimerId)
            RollUpStep(page);
        else
            BlinkStep(page);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_MAIN_START:
            StartInstallation(page);
            break;
        case IDC_MAIN_BROWSE:
            BrowseForDestination(page);
            break;
        case IDC_MAIN_CANCEL:
            ConfirmExit(page);
            break;
        case IDC_MAIN_INTRO:
            if (HIWORD(wParam) == EN_SETFOCUS) PostMessageA(GetDlgItem(page, IDC_MAIN_INTRO), EM_SETSEL, 0, 0);
            break;
        default:
            break;  // the Escape key's IDCANCEL among them: it does not leave the setup
        }
        return TRUE;
    case WM_CLOSE:
        ConfirmExit(page);
        return TRUE;
    default:
        return FALSE;
    }
}

double FreeDiskSpaceMB(const std::string& path) {
    if (path.size() < 2) return -1.0;
    std::string root = path.substr(0, 2) + "\\";
    root[0] = static_cast<char>(static_cast<unsigned char>(root[0]) & ~0x20u);
    DWORD sectorsPerCluster = 0;
    DWORD bytesPerSector = 0;
    DWORD freeClusters = 0;
    DWORD totalClusters = 0;
    if (!DiskFreeSpaceProc(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters))
        return -1.0;
    const DWORD clusterSize = sectorsPerCluster * bytesPerSector;
    return static_cast<double>(clusterSize) / 1024.0 * static_cast<double>(freeClusters) / 1024.0;
}

std::string CreateDestinationFolder(const std::string& path) {
    /* ok = */ (void)CreateOpenDirectory(path);
    CreateFolderChain(path);  // whatever the first attempt left missing
    return FolderPresent(path) ? path : std::string();
}
