// The main window with its gradient, logo and all six slides, and the status
// window at its lower left, as the user sees them during the installation
// run. The picture is captured from the screen and checked pixel by pixel,
// then kept as SCREENS\main_window.bmp and main_window.png.
//
//   screenshot_test SCREENS
//
// Without a window manager Wine draws no captions, so the test starts itself
// again inside a Wine virtual desktop of 1024 x 768 (a desktop whose name has
// a size under HKCU\Software\Wine\Explorer\Desktops) and waits for that run.
#include "PVQInst.h"

#include "Profile.h"
#include "Sounds.h"
#include "resource.h"

#include <commctrl.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>
#include "PngFile.h"
#include "ScreenSupport.h"
#include "TestSupport.h"

namespace {

constexpr char kDesktopName[] = "VozScreenshot";
constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
int Failures = 0;

void Fail(const std::string& what) {
    std::fprintf(stderr, "screenshot_test: %s\n", what.c_str());
    ++Failures;
}

using voztest::TPixels;

// The gradient on this test's screen.
uint32_t ExpectedBackground(int x, int y) { return voztest::ExpectedBackground(x, y, kScreenWidth, kScreenHeight); }

// Pixels of bitmap drawn transparently at (left, top): its non-black pixels as
// they are, the gradient behind the black ones.
void CheckDrawnAt(const TPixels& shot, HBITMAP bitmap, int left, int top, const char* what) {
    const TPixels b = voztest::ReadBitmap(bitmap);
    if (b.width == 0) return Fail(std::string(what) + ": bitmap not readable");
    int lit = 0;
    const int mismatches = voztest::CompareDrawnAt(
        shot, b, left, top, [](int x, int y) { return ExpectedBackground(x, y); }, &lit,
        [](int, int, uint32_t, uint32_t) {});
    if (mismatches != 0) Fail(std::string(what) + ": " + std::to_string(mismatches) + " pixels differ");
    if (lit < 100) Fail(std::string(what) + ": only " + std::to_string(lit) + " lit pixels");
    std::printf("%s at (%d, %d): %d x %d, %d lit pixels, %d differ\n", what, left, top, b.width, b.height, lit,
                mismatches);
}

// ---- Files ---------------------------------------------------------------------

// RGB PNG of the shot.
std::string PngBytes(const TPixels& p) {
    return voztest::PngFromPixels(p.px.data(), p.width, p.height, static_cast<size_t>(p.width));
}

std::string BmpBytes(const TPixels& p) {
    BITMAPINFOHEADER info = voztest::TopDownInfo(p.width, p.height).bmiHeader;
    const DWORD pixels = static_cast<DWORD>(p.px.size() * 4);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + pixels;
    std::string out(reinterpret_cast<const char*>(&file), sizeof file);
    out.append(reinterpret_cast<const char*>(&info), sizeof info);
    out.append(reinterpret_cast<const char*>(p.px.data()), pixels);
    return out;
}

// ---- The run inside the virtual desktop ----------------------------------------------

int RunInside(const std::string& screens) {
    InitCommonControls();
    InitSoundsModule("novoz_no_multimedia.dll");  // silent: nothing depends on a sound device

    MainWindow = CreateMainWindow(kMainWindowClass, kSetupWindowTitle);
    if (!MainWindow) {
        Fail("no main window");
        return 1;
    }
    StatusWindow =
        CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_STATUS), MainWindow, StatusDlgProc, 0);
    if (!StatusWindow) {
        Fail("no status window");
        return 1;
    }
    StartMusic(MainWindow, StatusWindow);  // shows the status window

    // The presentation part way: music faded in, 40 % progress, six slides.
    for (int i = 0; i < 18; ++i) SendMessageA(StatusWindow, WM_TIMER, 0, 0);
    ProgressTimer = SetTimer(StatusWindow, kProgressTimerId, 600000, nullptr);
    for (int i = 0; i < 40; ++i) SendMessageA(StatusWindow, WM_TIMER, kProgressTimerId, 0);
    SlideTimer = SetTimer(MainWindow, kSlideTimerId, 600000, nullptr);
    for (int i = 0; i < IDB_SLIDE_COUNT; ++i) SendMessageA(MainWindow, WM_TIMER, kSlideTimerId, 0);

    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 1500) {
        PumpMessages();
        Sleep(20);
    }
    const TPixels shot = voztest::CaptureScreen(kScreenWidth, kScreenHeight);
    if (shot.px.empty()) {
        Fail("cannot capture the screen");
        return 1;
    }

    const std::string bmpPath = screens + "\\main_window.bmp";
    const std::string pngPath = screens + "\\main_window.png";
    if (!voztest::WriteBytes(bmpPath, BmpBytes(shot))) Fail("cannot write " + bmpPath);
    if (!voztest::WriteBytes(pngPath, PngBytes(shot))) Fail("cannot write " + pngPath);

    // Slides at the left, logo at the lower right, each over the gradient.
    const POINT places[IDB_SLIDE_COUNT] = {{8, 50}, {8, 120}, {8, 190}, {8, 260}, {8, 330}, {8, 410}};
    for (int k = 0; k < IDB_SLIDE_COUNT; ++k) {
        const std::string what = "slide " + std::to_string(IDB_SLIDE_FIRST + k);
        if (!SlideTable[k].bitmap)
            Fail(what + " not loaded");
        else
            CheckDrawnAt(shot, SlideTable[k].bitmap, places[k].x, places[k].y, what.c_str());
    }
    CheckDrawnAt(shot, LogoBitmap, kScreenWidth - 140, kScreenHeight - 90, "logo");

    // The gradient where nothing else is drawn: right of the slides, above the logo.
    RECT status{};
    GetWindowRect(StatusWindow, &status);
    int gradientChecked = 0;
    int gradientWrong = 0;
    for (int y = 0; y < 660; y += 7)
        for (int x = 0; x < kScreenWidth; x += 5) {
            const bool slideRow = y >= 40 && y < 440;
            if (slideRow && x < 800) continue;
            ++gradientChecked;
            if (shot.At(x, y) != ExpectedBackground(x, y)) ++gradientWrong;
        }
    std::printf("gradient: %d points checked, %d differ\n", gradientChecked, gradientWrong);
    if (gradientWrong != 0) Fail("the background is not the gradient");

    // The status window sits on the lower left corner of the work area (the
    // screen less a taskbar) and is drawn over the gradient (caption, frame,
    // controls).
    RECT work{0, 0, kScreenWidth, kScreenHeight};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    if (status.left != work.left || status.bottom != work.bottom)
        Fail("status window at (" + std::to_string(status.left) + ", " + std::to_string(status.top) + ")");
    if (!IsWindowVisible(StatusWindow)) Fail("status window hidden");
    int covered = 0;
    int inside = 0;
    for (int y = status.top; y < status.bottom; ++y)
        for (int x = status.left; x < status.right; ++x) {
            ++inside;
            if (shot.At(x, y) != ExpectedBackground(x, y)) ++covered;
        }
    std::printf("status window (%ld, %ld)-(%ld, %ld): %d of %d pixels drawn over the gradient\n", status.left,
                status.top, status.right, status.bottom, covered, inside);
    if (inside == 0 || covered * 100 < inside * 95) Fail("the status window is not on the screen");
    // The caption bar (drawn by Wine inside its virtual desktop) is one colour
    // across, unlike the dialog face below it.
    const int captionY = status.top + GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYSMCAPTION) / 2;
    const uint32_t caption = shot.At(status.right - 40, captionY);
    const uint32_t face = shot.At(status.right - 8, status.bottom - 8);
    std::printf("caption colour %06x, face colour %06x\n", caption, face);
    if (caption == face) Fail("no caption bar on the status window");

    SendMessageA(StatusWindow, WM_CLOSE, 0, 0);
    DestroyWindow(StatusWindow);
    DestroyWindow(MainWindow);
    DoneSoundsModule();
    return Failures == 0 ? 0 : 1;
}

// ---- The starter ------------------------------------------------------------------

int RunInVirtualDesktop(const std::string& screens) {
    std::string error;
    const int code = voztest::RunSelfInVirtualDesktop(kDesktopName, kScreenWidth, kScreenHeight,
                                                      "\"" + screens + "\" --inside", 300000, &error);
    if (!error.empty()) Fail(error);
    return code == 0 && Failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: screenshot_test SCREENS_FOLDER\n");
        return 2;
    }
    const std::string screens = voztest::WinePath(argv[1]);
    CreateDirectoryA(screens.c_str(), nullptr);
    const int result =
        argc > 2 && std::string(argv[2]) == "--inside" ? RunInside(screens) : RunInVirtualDesktop(screens);
    std::printf("screenshot_test: %s\n", result == 0 ? "passed" : "FAILED");
    std::fflush(stdout);
    return result;
}
