// Module PVQInst: the setup program's entry point.
//
// One run, on the program's one thread: the modules start, the machine is
// checked (Windows version, a running product, a running copy of this
// setup, the colour depth), the main and status windows are made, the
// licence page and the main page settle whether and where to install, the
// payload is extracted and the post-install actions run while the slides
// and the progress bar play, and the finish page or the failure message
// closes the run. The shutdown always takes the same order, and the process
// ends with exit code 0 on every path.
#include "PVQInst.h"

#include <commctrl.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "Archive.h"
#include "Detect.h"
#include "PostSet.h"
#include "Profile.h"
#include "Sounds.h"
#include "WinNTFuncts.h"
#include "resource.h"
#include "shortcut.h"

namespace {

// How long the driver waits for the slides and the progress bar at most,
// and the pause that follows the wait.
constexpr DWORD kPresentationBoundMs = 28000;
constexpr DWORD kPauseMs = 1000;
constexpr UINT kSlideIntervalMs = 2000;
constexpr UINT kProgressIntervalMs = 300;

// What FindTopWindow looks for, handed to its callback through EnumWindows'
// LPARAM.
struct TWindowSearch {
    std::string className;
    std::string titlePrefix;
    HWND found = nullptr;
};

BOOL CALLBACK FindTopWindowCallback(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<TWindowSearch*>(lParam);
    char className[128];
    const int classLength = GetClassNameA(window, className, sizeof className);
    if (classLength <= 0 || search->className != std::string(className, classLength)) return TRUE;
    char title[128];
    const int titleLength = GetWindowTextA(window, title, sizeof title);
    const std::string text(title, titleLength > 0 ? titleLength : 0);
    if (text.compare(0, search->titlePrefix.size(), search->titlePrefix) != 0) return TRUE;
    search->found = window;
    return FALSE;
}

void StartModules() {
    InitWinNTFuncts();
    InitShortcut();
    InitRegDetect();
    InitArchiveModule();
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    InitSoundsModule();
}

void StopModules() {
    DoneSoundsModule();
    DoneArchiveModule();
    DoneRegDetect();
    DoneShortcut();
    DoneWinNTFuncts();
}

// The process ends here on every path: the modules release what they hold
// and the exit code is 0.
[[noreturn]] void EndProcess() {
    StopModules();
    ExitProcess(0);
}

// Windows 95 and Win32s are refused; Windows 98, Me and the NT family pass.
bool WindowsVersionRefused() {
    const DWORD platform = OsVersionInfo.dwPlatformId;
    if (platform < VER_PLATFORM_WIN32_WINDOWS) return true;
    return platform == VER_PLATFORM_WIN32_WINDOWS && OsVersionInfo.dwMajorVersion == 4 &&
           OsVersionInfo.dwMinorVersion == 0;
}

int ScreenBitsPerPixel() {
    HDC screen = GetDC(nullptr);
    const int bits = screen ? GetDeviceCaps(screen, BITSPIXEL) : 32;
    if (screen) ReleaseDC(nullptr, screen);
    return bits;
}

// The checks before any window exists. Returns only when the run may go on.
void RunStartupChecks() {
    if (WindowsVersionRefused()) {
        MessageBoxA(nullptr, kWindowsVersionMessage, kSetupWindowTitle, MB_OK | MB_ICONERROR);
        EndProcess();
    }
    if (FindTopWindow(kAppWindowClass, kAppWindowTitlePrefix) != nullptr) {
        MessageBoxA(nullptr, kProductRunningMessage, kSetupWindowTitle, MB_OK | MB_ICONINFORMATION);
        EndProcess();
    }
    if (HWND running = FindTopWindow(kMainWindowClass, kSetupWindowTitle)) {
        SetForegroundWindow(running);
        EndProcess();
    }
    if (ScreenBitsPerPixel() < 16)
        MessageBoxA(nullptr, kColourDepthMessage, kSetupWindowTitle, MB_OK | MB_ICONINFORMATION);
}

void CreateWindows(HINSTANCE instance) {
    InitCommonControls();
    MainWindow = CreateMainWindow(kMainWindowClass, kSetupWindowTitle);
    StatusWindow = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_STATUS), MainWindow, StatusDlgProc, 0);
}

// Both pages must end with 1 for the installation to take place. Each page
// leaves the status window above the main window (RunPage).
bool RunPages(HINSTANCE instance) {
    if (RunPage(instance, IDD_LICENCEPAGE, LicencePageProc) != 1) return false;
    return RunPage(instance, IDD_MAINPAGE, MainPageProc) == 1;
}

// "C:\Folder\\" becomes "C:\Folder"; a drive root "C:\" becomes "C:".
void NormaliseDestination() {
    while (!DestinationFolder.empty() && DestinationFolder.back() == '\\') DestinationFolder.pop_back();
}

bool InstallProduct() {
    SlideTimer = SetTimer(MainWindow, kSlideTimerId, kSlideIntervalMs, nullptr);
    ProgressTimer = SetTimer(StatusWindow, kProgressTimerId, kProgressIntervalMs, nullptr);
    return PreserveCustomFiles(DestinationFolder) && ExtractPayload(DestinationFolder, PumpMessages) &&
           RunPostInstall(DestinationFolder, PumpMessages);
}

void ShowOutcome(HINSTANCE instance, bool success) {
    SetForegroundWindow(MainWindow);
    RaiseStatusWindow();  // the full progress bar stays in sight
    if (success)
        RunPage(instance, IDD_FINISHPAGE, FinishPageProc);
    else
        MessageBoxA(MainWindow, kFailureMessage, kFailureCaption, MB_OK | MB_ICONERROR);
}

void ShutDown() {
    if (DestinationFont) {
        DeleteObject(DestinationFont);
        DestinationFont = nullptr;
    }
    ShowWindow(StatusWindow, SW_HIDE);
    RollUpMainWindow(MainWindow);
    SendMessageA(StatusWindow, WM_CLOSE, 0, 0);
    SendMessageA(MainWindow, WM_CLOSE, 0, 0);
    CloseMusic();
    if (!MusicFile.empty()) DeleteFileA(MusicFile.c_str());
    Sleep(kPauseMs);
    SetMusicVolume(0xFFFFFFFF);
}

}  // namespace

HWND FindTopWindow(const char* className, const char* titlePrefix) {
    TWindowSearch search;
    search.className = className;
    search.titlePrefix = titlePrefix;
    EnumWindows(FindTopWindowCallback, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void WaitForPresentation() {
    const DWORD start = GetTickCount();
    while ((SlideTimer != 0 || ProgressTimer != 0) && GetTickCount() - start < kPresentationBoundMs) PumpMessages();
    Sleep(kPauseMs);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    StartModules();
    RunStartupChecks();
    CreateWindows(instance);
    const bool install = RunPages(instance);
    NormaliseDestination();
    if (install) {
        const bool success = InstallProduct();
        WaitForPresentation();
        ShowOutcome(instance, success);
    }
    ShutDown();
    EndProcess();
}
