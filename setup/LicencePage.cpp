// Module PVQInst: the licence agreement page. It also starts the
// background music a moment after it appears, so that the page is drawn
// before the music file is written and the status window comes up.
#include "PVQInst.h"

#include "Profile.h"
#include "Sounds.h"
#include "resource.h"

namespace {

constexpr UINT_PTR kMusicTimerId = 0;
constexpr UINT kMusicDelayMs = 300;

void InitLicencePage(HWND page) {
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), IDI_MAINICON);
    SendMessageA(page, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SetDlgItemTextA(page, IDC_LICENCE_TEXT, kLicenceText);
    CenterWindow(page);
    // Without a timer the music starts now rather than never.
    if (!SetTimer(page, kMusicTimerId, kMusicDelayMs, nullptr)) StartMusic(MainWindow, StatusWindow);
}

}  // namespace

INT_PTR CALLBACK LicencePageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        InitLicencePage(page);
        return TRUE;  // the dialog manager focuses the agreement, the first tab stop
    case WM_TIMER:
        // One shot: whichever tick comes first starts the music once.
        KillTimer(page, kMusicTimerId);
        StartMusic(MainWindow, StatusWindow);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            EndDialog(page, 1);
            break;
        case IDCANCEL:
            EndDialog(page, 0);
            break;
        case IDC_LICENCE_TEXT:
            // Tabbing into the agreement would select all of it.
            if (HIWORD(wParam) == EN_SETFOCUS) PostMessageA(GetDlgItem(page, IDC_LICENCE_TEXT), EM_SETSEL, 0, 0);
            break;
        default:
            break;
        }
        return TRUE;
    case WM_CLOSE:
        EndDialog(page, 0);
        return TRUE;
    default:
        return FALSE;
    }
}
