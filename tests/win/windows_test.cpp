// Main window, status window and window services under Wine (Xvfb screen of
// 1024 x 768). Sound calls go to recording procedures put in place of the
// bound entry points, and timer ticks are delivered by sending WM_TIMER, so
// nothing waits for real time except where the real timer itself is tested.
#include "PVQInst.h"

#include "Profile.h"
#include "Sounds.h"
#include "resource.h"
#include "ScreenSupport.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// ---- Recording stand-ins for the multimedia entry points -------------------

struct TVolumeCall {
    UINT_PTR device;
    DWORD volume;
    LONG mainTop;     // the main window's top edge at the time of the call
    LONG mainHeight;  // and its height (-1 without a main window)
};
struct TMciCall {
    std::string command;
    HWND callback;
};

std::vector<TVolumeCall> VolumeCalls;
std::vector<TMciCall> MciCalls;
std::vector<std::string> PlayedSounds;
std::vector<DWORD> PlayFlags;

MMRESULT WINAPI RecordSetVolume(HMIDIOUT device, DWORD volume) {
    RECT r{};
    const bool shown = MainWindow && GetWindowRect(MainWindow, &r);
    VolumeCalls.push_back(
        {reinterpret_cast<UINT_PTR>(device), volume, shown ? r.top : -1, shown ? r.bottom - r.top : -1});
    return 0;
}
UINT WINAPI OneDevice() { return 1; }
BOOL WINAPI RecordPlaySound(LPCSTR sound, HMODULE, DWORD flags) {
    PlayedSounds.push_back(sound);
    PlayFlags.push_back(flags);
    return TRUE;
}
MCIERROR WINAPI RecordMci(LPCSTR command, LPSTR, UINT, HWND callback) {
    MciCalls.push_back({command, callback});
    return 0;
}

void InstallRecorders() {
    VolumeCalls.clear();
    MciCalls.clear();
    PlayedSounds.clear();
    PlayFlags.clear();
    SetMidiOutSetVolumeProc(RecordSetVolume);
    SetMidiOutGetNumDevsProc(OneDevice);
    SetPlaySoundProc(RecordPlaySound);
    SetMciSendProc(RecordMci);
}

void RemoveRecorders() {
    SetMidiOutSetVolumeProc(nullptr);
    SetMidiOutGetNumDevsProc(nullptr);
    SetPlaySoundProc(nullptr);
    SetMciSendProc(nullptr);
}

int Level(DWORD volume) { return static_cast<int>(volume & 0xFFFF) / 256; }

// ---- Pixels ----------------------------------------------------------------

using voztest::Capture;
using voztest::CaptureWindow;
using voztest::ExpectedBackground;
using voztest::ExpectedTilePixel;
using voztest::ReadBitmap;
using voztest::TPixels;

// Checks that bitmap appears on the captured window at (left, top) drawn
// transparently: its non-black pixels as they are, the background elsewhere.
void ExpectDrawnAt(const TPixels& window, HBITMAP bitmap, int left, int top) {
    const TPixels b = ReadBitmap(bitmap);
    ASSERT_GT(b.width, 0);
    int opaque = 0;
    int reported = 0;
    const int mismatches = voztest::CompareDrawnAt(
        window, b, left, top, [&](int x, int y) { return ExpectedBackground(x, y, window.width, window.height); },
        &opaque,
        [&](int x, int y, uint32_t seen, uint32_t expected) {
            if (++reported <= 3)
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex << seen << ", expected "
                              << expected;
        });
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(opaque, 50) << "the bitmap has hardly any visible pixels";
}

// A 32-bit top-down picture of w x h pixels selected into a memory context,
// every pixel fill, for messages and calls that draw into a given context.
struct TCanvas {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    uint32_t* bits = nullptr;
    int width = 0;
    int height = 0;
    TCanvas(int w, int h, uint32_t fill) : width(w), height(h) {
        BITMAPINFO info = voztest::TopDownInfo(w, h);
        bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
        dc = CreateCompatibleDC(nullptr);
        old = SelectObject(dc, bitmap);
        for (int i = 0; i < w * h; ++i) bits[i] = fill;
    }
    ~TCanvas() {
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;
    uint32_t At(int x, int y) const {
        GdiFlush();
        return bits[y * width + x] & 0xFFFFFF;
    }
};

// ---- Background tile ---------------------------------------------------------

TEST(BackgroundTile, MatchesTheGradientForSeveralScreens) {
    const SIZE screens[] = {{1024, 768}, {1280, 1024}, {800, 600}, {1600, 1200}};
    for (const SIZE s : screens) {
        SCOPED_TRACE(std::to_string(s.cx) + " x " + std::to_string(s.cy));
        HBITMAP tile = MakeBackgroundBitmapFor(s.cx, s.cy, 32);
        ASSERT_NE(tile, nullptr);
        const TPixels p = ReadBitmap(tile);
        DeleteObject(tile);
        ASSERT_EQ(p.width, s.cx / 32);
        ASSERT_EQ(p.height, s.cy);
        int mismatches = 0;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                const uint32_t expected = ExpectedTilePixel(x, p.height - 1 - y, p.width, p.height);
                if (p.At(x, y) != expected && ++mismatches <= 3)
                    ADD_FAILURE() << "(" << x << ", line " << p.height - 1 - y << ") is " << std::hex << p.At(x, y)
                                  << ", expected " << expected;
            }
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(BackgroundTile, CornersBandsAndTiesOn1024x768) {
    HBITMAP tile = MakeBackgroundBitmapFor(1024, 768, 32);
    const TPixels p = ReadBitmap(tile);
    DeleteObject(tile);
    ASSERT_EQ(p.width, 32);
    ASSERT_EQ(p.height, 768);
    auto line = [&](int x, int fromBottom) { return p.At(x, 767 - fromBottom); };

    EXPECT_EQ(line(0, 0), 0x182028u) << "bottom left: red 24, green 32, blue 40";
    EXPECT_EQ(line(0, 767), 0x486078u) << "top left: v 150, red 72, green 96, blue 120";
    EXPECT_EQ(line(30, 767), 0x759CC3u) << "top right of the band: v 244, red 117, green 156, blue 195";
    // v = 37.5 + 50 exactly: ties to even gives 88 (blue 70), not 89 (71).
    EXPECT_EQ(line(8, 96) & 0xFF, 70u);
    for (int y = 0; y < 768; ++y) EXPECT_EQ(line(31, y), 0u) << "the band ends in a black column";

    // Lighter to the right within a band, lighter towards the top.
    for (int y = 0; y < 768; y += 97)
        for (int x = 1; x < 31; ++x) EXPECT_GE(line(x, y) & 0xFF, line(x - 1, y) & 0xFF);
    for (int x = 0; x < 31; x += 5)
        for (int y = 1; y < 768; ++y) EXPECT_GE(line(x, y) & 0xFF, line(x, y - 1) & 0xFF);
}

TEST(BackgroundTile, FallsBackToTheStoredTile) {
    HBITMAP stored = LoadBitmapA(GetModuleHandleA(nullptr), IDB_BACKGRND);
    ASSERT_NE(stored, nullptr);
    const TPixels expected = ReadBitmap(stored);
    DeleteObject(stored);
    ASSERT_EQ(expected.width, 32);
    ASSERT_EQ(expected.height, 32);

    struct TCase {
        int w, h, bpp;
    };
    // 8 and 15 bits per pixel, and a screen too narrow for a band.
    for (const TCase c : {TCase{1024, 768, 8}, TCase{1024, 768, 15}, TCase{31, 768, 32}, TCase{1024, 0, 32}}) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h) + " x " + std::to_string(c.bpp));
        HBITMAP tile = MakeBackgroundBitmapFor(c.w, c.h, c.bpp);
        const TPixels p = ReadBitmap(tile);
        DeleteObject(tile);
        EXPECT_EQ(p.width, 32);
        EXPECT_EQ(p.height, 32);
        EXPECT_EQ(p.px, expected.px);
    }

    // The real screen (1024 x 768, 32 bits per pixel) gets the gradient.
    HBITMAP real = MakeBackgroundBitmap();
    const TPixels r = ReadBitmap(real);
    DeleteObject(real);
    EXPECT_EQ(r.width, 32);
    EXPECT_EQ(r.height, 768);
}

TEST(TileBitmap, CoversTheAreaWithTheGridFromTheOrigin) {
    HBITMAP tile = LoadBitmapA(GetModuleHandleA(nullptr), IDB_BACKGRND);
    ASSERT_NE(tile, nullptr);
    const TPixels t = ReadBitmap(tile);
    ASSERT_EQ(t.width, 32);
    constexpr uint32_t kMarker = 0xFF00FF;
    // The whole picture, then a part that starts off the grid: copies begin
    // at multiples of the tile's size, and nothing outside the area changes.
    const RECT areas[] = {{0, 0, 100, 70}, {40, 10, 77, 69}};
    for (const RECT& area : areas) {
        SCOPED_TRACE(std::to_string(area.left) + ", " + std::to_string(area.top));
        TCanvas canvas(100, 70, kMarker);
        EXPECT_TRUE(TileBitmap(canvas.dc, tile, area));
        int wrong = 0;
        for (int y = 0; y < canvas.height; ++y)
            for (int x = 0; x < canvas.width; ++x) {
                const bool inside = x >= area.left && x < area.right && y >= area.top && y < area.bottom;
                if (canvas.At(x, y) != (inside ? t.At(x % 32, y % 32) : kMarker)) ++wrong;
            }
        EXPECT_EQ(wrong, 0);
    }
    TCanvas canvas(8, 8, kMarker);
    EXPECT_FALSE(TileBitmap(canvas.dc, nullptr, RECT{0, 0, 8, 8}));
    EXPECT_EQ(canvas.At(3, 3), kMarker);
    DeleteObject(tile);
}

// ---- Transparent drawing -------------------------------------------------------

class TransparentDraw : public ::testing::Test {
  protected:
    static constexpr uint32_t kGround = 0x123456;
    void SetUp() override {
        BITMAPINFO info = voztest::TopDownInfo(8, 6);
        target = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
        dc = CreateCompatibleDC(nullptr);
        old = SelectObject(dc, target);
        for (int i = 0; i < 48; ++i) bits[i] = kGround;

        // 3 x 2: black, red, black / green, black, white.
        const uint32_t picture[6] = {0x000000, 0xFF0000, 0x000000, 0x00FF00, 0x000000, 0xFFFFFF};
        HDC screen = GetDC(nullptr);
        source = CreateCompatibleBitmap(screen, 3, 2);
        info.bmiHeader.biWidth = 3;
        info.bmiHeader.biHeight = -2;
        SetDIBits(screen, source, 0, 2, picture, &info, DIB_RGB_COLORS);
        ReleaseDC(nullptr, screen);
    }
    void TearDown() override {
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(target);
        DeleteObject(source);
    }
    uint32_t At(int x, int y) const {
        GdiFlush();
        return bits[y * 8 + x] & 0xFFFFFF;
    }
    // Every target pixel: the listed ones with their colour, the rest ground.
    void ExpectTarget(std::vector<std::pair<POINT, uint32_t>> drawn) const {
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 8; ++x) {
                uint32_t expected = kGround;
                for (const auto& d : drawn)
                    if (d.first.x == x && d.first.y == y) expected = d.second;
                EXPECT_EQ(At(x, y), expected) << "(" << x << ", " << y << ")";
            }
    }
    HBITMAP target = nullptr;
    HBITMAP source = nullptr;
    uint32_t* bits = nullptr;
    HDC dc = nullptr;
    HGDIOBJ old = nullptr;
};

TEST_F(TransparentDraw, KeyColourLeavesTheTargetAndTheSourceStaysUnchanged) {
    const TPixels before = ReadBitmap(source);
    DrawTransparentBitmap(dc, source, 2, 1, RGB(0, 0, 0));
    ExpectTarget({{{3, 1}, 0xFF0000}, {{2, 2}, 0x00FF00}, {{4, 2}, 0xFFFFFF}});
    EXPECT_EQ(ReadBitmap(source).px, before.px);

    // A second draw of the same bitmap gives the same picture.
    DrawTransparentBitmap(dc, source, 2, 1, RGB(0, 0, 0));
    ExpectTarget({{{3, 1}, 0xFF0000}, {{2, 2}, 0x00FF00}, {{4, 2}, 0xFFFFFF}});
}

TEST_F(TransparentDraw, NegativeOffsetsAndOtherKeys) {
    DrawTransparentBitmap(dc, source, -1, -1, RGB(0, 0, 0));
    ExpectTarget({{{1, 0}, 0xFFFFFF}});

    for (int i = 0; i < 48; ++i) bits[i] = kGround;
    DrawTransparentBitmap(dc, source, 0, 0, RGB(255, 0, 0));  // red is the key now, black is drawn
    ExpectTarget({{{0, 0}, 0}, {{2, 0}, 0}, {{0, 1}, 0x00FF00}, {{1, 1}, 0}, {{2, 1}, 0xFFFFFF}});
}

TEST_F(TransparentDraw, UnusableBitmapDrawsNothing) {
    DrawTransparentBitmap(dc, nullptr, 0, 0, RGB(0, 0, 0));
    HDC holder = CreateCompatibleDC(nullptr);  // a bitmap held by another context cannot be selected
    HGDIOBJ held = SelectObject(holder, source);
    DrawTransparentBitmap(dc, source, 0, 0, RGB(0, 0, 0));
    SelectObject(holder, held);
    DeleteDC(holder);
    ExpectTarget({});
}

// ---- Main window -------------------------------------------------------------

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        InstallRecorders();
        MainWindow = CreateMainWindow(kMainWindowClass, kSetupWindowTitle);
        ASSERT_NE(MainWindow, nullptr);
        UpdateWindow(MainWindow);
        PumpMessages();
    }
    void TearDown() override {
        if (MainWindow) DestroyWindow(MainWindow);
        MainWindow = nullptr;
        UnregisterClassA(kMainWindowClass, GetModuleHandleA(nullptr));
        for (TSlide& s : SlideTable) {
            if (s.bitmap) DeleteObject(s.bitmap);
            s.bitmap = nullptr;
        }
        SlideTimer = 0;
        MusicVolume = 0;
        RemoveRecorders();
    }
};

TEST_F(MainWindowTest, CoversTheScreenDisabledWithItsClass) {
    RECT r{};
    GetWindowRect(MainWindow, &r);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 1024);
    EXPECT_EQ(r.bottom, 768);
    const LONG_PTR style = GetWindowLongPtrA(MainWindow, GWL_STYLE);
    const LONG_PTR wanted = WS_POPUP | WS_VISIBLE | WS_DISABLED | WS_CLIPCHILDREN;
    EXPECT_EQ(style & wanted, wanted);
    EXPECT_EQ(style & WS_CAPTION, 0);
    EXPECT_FALSE(IsWindowEnabled(MainWindow));
    EXPECT_EQ(GetClassLongPtrA(MainWindow, GCL_STYLE), static_cast<ULONG_PTR>(CS_HREDRAW | CS_VREDRAW));
    EXPECT_NE(GetClassLongPtrA(MainWindow, GCLP_HBRBACKGROUND), 0u);
    EXPECT_NE(GetClassLongPtrA(MainWindow, GCLP_HICON), 0u);
    EXPECT_EQ(GetClassLongPtrA(MainWindow, GCLP_HCURSOR), 0u);
    // A second setup finds the running one by class and title.
    EXPECT_EQ(FindWindowA(kMainWindowClass, kSetupWindowTitle), MainWindow);

    BITMAP logo{};
    ASSERT_TRUE(GetObjectA(LogoBitmap, sizeof logo, &logo));
    EXPECT_EQ(logo.bmWidth, 130);
    EXPECT_EQ(logo.bmHeight, 83);

    // The class exists now: registration fails and no window is made.
    EXPECT_EQ(CreateMainWindow(kMainWindowClass, "another"), nullptr);
    EXPECT_EQ(FindWindowA(kMainWindowClass, "another"), nullptr);
}

TEST_F(MainWindowTest, PaintsTheGradientAndTheLogoAtTheLowerRight) {
    const TPixels shot = CaptureWindow(MainWindow);
    ASSERT_EQ(shot.width, 1024);
    ASSERT_EQ(shot.height, 768);
    ExpectDrawnAt(shot, LogoBitmap, 884, 678);
    // Background well away from the logo and the slide area.
    for (int y = 0; y < 670; y += 37)
        for (int x = 800; x < 1024; x += 13)
            EXPECT_EQ(shot.At(x, y), ExpectedBackground(x, y, 1024, 768)) << x << ", " << y;
    // No slide before the installation run.
    for (const TSlide& s : SlideTable) EXPECT_EQ(s.bitmap, nullptr);
}

// What Windows 95, 98 and Me make of a pattern brush: only the top-left
// 8 x 8 pixels of its bitmap, repeated.
HBRUSH EightByEightBrush(HBITMAP tile) {
    HDC screen = GetDC(nullptr);
    HBITMAP corner = CreateCompatibleBitmap(screen, 8, 8);
    HDC from = CreateCompatibleDC(screen);
    HDC to = CreateCompatibleDC(screen);
    HGDIOBJ oldFrom = SelectObject(from, tile);
    HGDIOBJ oldTo = SelectObject(to, corner);
    BitBlt(to, 0, 0, 8, 8, from, 0, 0, SRCCOPY);
    SelectObject(from, oldFrom);
    SelectObject(to, oldTo);
    DeleteDC(from);
    DeleteDC(to);
    ReleaseDC(nullptr, screen);
    HBRUSH brush = CreatePatternBrush(corner);
    DeleteObject(corner);
    return brush;
}

TEST_F(MainWindowTest, ErasingDrawsTheBandsWhateverThePatternBrushRepeats) {
    HBITMAP tile = MakeBackgroundBitmap();
    HBRUSH squeezed = EightByEightBrush(tile);
    DeleteObject(tile);
    ASSERT_NE(squeezed, nullptr);
    const ULONG_PTR classBrush = SetClassLongPtrA(MainWindow, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(squeezed));

    constexpr uint32_t kMarker = 0xFF00FF;
    {
        TCanvas canvas(1024, 768, kMarker);
        EXPECT_NE(SendMessageA(MainWindow, WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.dc), 0), 0) << "erased";
        int wrong = 0;
        for (int y = 0; y < 768; y += 3)
            for (int x = 0; x < 1024; ++x)
                if (canvas.At(x, y) != ExpectedBackground(x, y, 1024, 768) && ++wrong <= 3)
                    ADD_FAILURE() << "(" << x << ", " << y << ") is " << std::hex << canvas.At(x, y);
        EXPECT_EQ(wrong, 0);
    }
    {
        // Only part of the window to erase: the bands stay where they belong
        // on the screen, and nothing else is drawn.
        TCanvas canvas(1024, 768, kMarker);
        IntersectClipRect(canvas.dc, 301, 250, 517, 400);
        SendMessageA(MainWindow, WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.dc), 0);
        int wrong = 0;
        for (int y = 0; y < 768; y += 5)
            for (int x = 0; x < 1024; ++x) {
                const bool inside = x >= 301 && x < 517 && y >= 250 && y < 400;
                if (canvas.At(x, y) != (inside ? ExpectedBackground(x, y, 1024, 768) : kMarker)) ++wrong;
            }
        EXPECT_EQ(wrong, 0);
    }
    SetClassLongPtrA(MainWindow, GCLP_HBRBACKGROUND, static_cast<LONG_PTR>(classBrush));
    DeleteObject(squeezed);
}

TEST_F(MainWindowTest, SlideTicksShowTheSlidesInOrderThenEndTheTimer) {
    const POINT places[IDB_SLIDE_COUNT] = {{8, 50}, {8, 120}, {8, 190}, {8, 260}, {8, 330}, {8, 410}};
    SlideTimer = SetTimer(MainWindow, 0, 600000, nullptr);  // only the sent ticks below arrive
    ASSERT_NE(SlideTimer, 0u);
    for (int k = 0; k < IDB_SLIDE_COUNT; ++k) {
        SCOPED_TRACE("slide " + std::to_string(k));
        SendMessageA(MainWindow, WM_TIMER, static_cast<WPARAM>(k % 2), 0);  // any timer id counts
        for (int j = 0; j < IDB_SLIDE_COUNT; ++j) EXPECT_EQ(SlideTable[j].bitmap != nullptr, j <= k);
        EXPECT_NE(SlideTimer, 0u);
        // Drawn at once, without waiting for a paint.
        ExpectDrawnAt(CaptureWindow(MainWindow), SlideTable[k].bitmap, places[k].x, places[k].y);
    }
    SendMessageA(MainWindow, WM_TIMER, 0, 0);
    EXPECT_EQ(SlideTimer, 0u);
    EXPECT_FALSE(KillTimer(MainWindow, 0)) << "the seventh tick kills the timer";

    // A full repaint brings the logo and all slides back over the gradient.
    InvalidateRect(MainWindow, nullptr, TRUE);
    UpdateWindow(MainWindow);
    const TPixels shot = CaptureWindow(MainWindow);
    for (int k = 0; k < IDB_SLIDE_COUNT; ++k) ExpectDrawnAt(shot, SlideTable[k].bitmap, places[k].x, places[k].y);
    ExpectDrawnAt(shot, LogoBitmap, 884, 678);
}

TEST_F(MainWindowTest, SuccessfulMusicCompletionRestartsTheMusic) {
    SendMessageA(MainWindow, MM_MCINOTIFY, MCI_NOTIFY_SUCCESSFUL, 1);
    ASSERT_EQ(MciCalls.size(), 2u);
    EXPECT_EQ(MciCalls[0].command, "seek perus to start");
    EXPECT_EQ(MciCalls[0].callback, nullptr);
    EXPECT_EQ(MciCalls[1].command, "play perus notify ");
    EXPECT_EQ(MciCalls[1].callback, MainWindow);
    SendMessageA(MainWindow, MM_MCINOTIFY, MCI_NOTIFY_ABORTED, 1);
    SendMessageA(MainWindow, MM_MCINOTIFY, MCI_NOTIFY_FAILURE, 1);
    EXPECT_EQ(MciCalls.size(), 2u);
}

TEST_F(MainWindowTest, RollUpShrinksTowardsTheTopWhileTheMusicFades) {
    for (int start : {36, 255}) {
        SCOPED_TRACE("level " + std::to_string(start));
        SetWindowPos(MainWindow, nullptr, 0, 0, 1024, 768, SWP_NOZORDER | SWP_NOACTIVATE);
        MusicVolume = start;
        VolumeCalls.clear();
        RollUpMainWindow(MainWindow);
        ASSERT_EQ(VolumeCalls.size(), 80u);
        for (int i = 0; i < 80; ++i) {
            const int n = 79 - i;
            const TVolumeCall& c = VolumeCalls[static_cast<size_t>(i)];
            EXPECT_EQ(Level(c.volume), start * n / 80) << "step " << i;
            EXPECT_EQ(c.volume >> 16, c.volume & 0xFFFF) << "both channels";
            EXPECT_EQ(c.mainHeight, 769 * n / 80) << "step " << i;
            EXPECT_EQ(c.mainTop, 0);
        }
        RECT r{};
        GetWindowRect(MainWindow, &r);
        EXPECT_EQ(r.bottom - r.top, 0);
        EXPECT_EQ(r.right - r.left, 1024);
        if (start == 36) {  // 35, 35, 34, 34, 33, 33 ... 0
            const int first[] = {35, 35, 34, 34, 33, 33};
            for (int i = 0; i < 6; ++i) EXPECT_EQ(Level(VolumeCalls[static_cast<size_t>(i)].volume), first[i]);
        }
        EXPECT_EQ(Level(VolumeCalls.back().volume), 0);
    }
}

TEST(RollUp, WithoutAMainWindowTheMusicStillFades) {
    InstallRecorders();
    MusicVolume = 100;
    RollUpMainWindow(nullptr);
    ASSERT_EQ(VolumeCalls.size(), 80u);
    EXPECT_EQ(Level(VolumeCalls.front().volume), 98);
    EXPECT_EQ(Level(VolumeCalls.back().volume), 0);
    MusicVolume = 0;
    RemoveRecorders();
}

// ---- Status window ---------------------------------------------------------------

class StatusWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        InitCommonControls();
        InstallRecorders();
        WelcomePlayed = false;
        ProgressCount = 0;
        ProgressTimer = 0;
        StatusWindow =
            CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_STATUS), nullptr, StatusDlgProc, 0);
        ASSERT_NE(StatusWindow, nullptr);
        trackBar = GetDlgItem(StatusWindow, IDC_STATUS_VOLUME);
        progress = GetDlgItem(StatusWindow, IDC_STATUS_PROGRESS);
    }
    void TearDown() override {
        if (StatusWindow) DestroyWindow(StatusWindow);
        StatusWindow = nullptr;
        ProgressTimer = 0;
        MusicVolume = 0;
        RemoveRecorders();
    }
    int Position() const { return static_cast<int>(SendMessageA(trackBar, TBM_GETPOS, 0, 0)); }
    int Progress() const { return static_cast<int>(SendMessageA(progress, PBM_GETPOS, 0, 0)); }
    void Pump(DWORD ms) {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < ms) {
            PumpMessages();
            Sleep(10);
        }
    }
    HWND trackBar = nullptr;
    HWND progress = nullptr;
};

TEST_F(StatusWindowTest, StartsHiddenAtTheLowerLeftSilentAndEmpty) {
    EXPECT_FALSE(IsWindowVisible(StatusWindow));
    RECT r{};
    GetWindowRect(StatusWindow, &r);
    RECT work{};
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    EXPECT_EQ(r.left, work.left);
    EXPECT_EQ(r.bottom, work.bottom);
    EXPECT_EQ(SendMessageA(trackBar, TBM_GETRANGEMIN, 0, 0), 0);
    EXPECT_EQ(SendMessageA(trackBar, TBM_GETRANGEMAX, 0, 0), 255);
    EXPECT_EQ(Position(), 0);
    PBRANGE range{};
    SendMessageA(progress, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    EXPECT_EQ(Progress(), 0);
    SendMessageA(progress, PBM_STEPIT, 0, 0);
    EXPECT_EQ(Progress(), 1) << "step 1";
    ASSERT_EQ(VolumeCalls.size(), 1u);
    EXPECT_EQ(VolumeCalls[0].volume, 0u);
    EXPECT_EQ(MusicVolume, 0);
}

TEST_F(StatusWindowTest, FadeInClimbsToThirtySixAndGreetsOnceAtTen) {
    VolumeCalls.clear();
    for (int tick = 1; tick <= 18; ++tick) {
        SCOPED_TRACE("tick " + std::to_string(tick));
        SendMessageA(StatusWindow, WM_TIMER, 0, 0);
        EXPECT_EQ(Position(), 2 * tick);
        EXPECT_EQ(MusicVolume, 2 * tick);
        ASSERT_EQ(VolumeCalls.size(), static_cast<size_t>(tick));
        EXPECT_EQ(VolumeCalls.back().volume, MusicLevelVolume(2 * tick));
        EXPECT_EQ(PlayedSounds.size(), tick >= 5 ? 1u : 0u) << "the greeting starts at level 10";
    }
    ASSERT_EQ(PlayedSounds.size(), 1u);
    EXPECT_EQ(PlayedSounds[0], "WELCOME");
    EXPECT_EQ(PlayFlags[0], static_cast<DWORD>(SND_ASYNC | SND_RESOURCE));
    EXPECT_FALSE(IsWindowVisible(StatusWindow)) << "it greets while still hidden";

    SendMessageA(StatusWindow, WM_TIMER, 0, 0);  // the nineteenth tick ends the fade-in
    EXPECT_EQ(Position(), 36);
    EXPECT_EQ(VolumeCalls.size(), 18u);
    EXPECT_FALSE(KillTimer(StatusWindow, 0));
}

TEST_F(StatusWindowTest, FadeInRunsOnItsOwnTimer) {
    const DWORD start = GetTickCount();
    while (Position() < 4 && GetTickCount() - start < voztest::Scaled(10000)) {
        PumpMessages();
        Sleep(10);
    }
    EXPECT_GE(Position(), 4);
    EXPECT_EQ(MusicVolume, Position());
}

TEST_F(StatusWindowTest, MovingTheTrackBarEndsTheFadeInForGood) {
    for (int i = 0; i < 3; ++i) SendMessageA(StatusWindow, WM_TIMER, 0, 0);
    ASSERT_EQ(Position(), 6);
    // The user presses End on the track bar: it goes to 255 and tells the window.
    SendMessageA(trackBar, WM_KEYDOWN, VK_END, 0);
    SendMessageA(trackBar, WM_KEYUP, VK_END, 0);
    EXPECT_EQ(Position(), 255);
    EXPECT_EQ(MusicVolume, 255);
    EXPECT_EQ(VolumeCalls.back().volume, 0xFF00FF00u);
    EXPECT_FALSE(KillTimer(StatusWindow, 0)) << "the fade-in timer is gone";

    Pump(1200);  // a running fade-in would have ticked twice by now
    EXPECT_EQ(Position(), 255);
    EXPECT_TRUE(PlayedSounds.empty()) << "the greeting never came";

    // A lower position is taken as it is.
    SendMessageA(trackBar, TBM_SETPOS, TRUE, 20);
    SendMessageA(StatusWindow, WM_HSCROLL, TB_THUMBPOSITION, reinterpret_cast<LPARAM>(trackBar));
    EXPECT_EQ(MusicVolume, 20);
    EXPECT_EQ(VolumeCalls.back().volume, MusicLevelVolume(20));
}

TEST_F(StatusWindowTest, ProgressTimerEndsAfterAHundredTicks) {
    ProgressTimer = SetTimer(StatusWindow, 1, 600000, nullptr);
    ASSERT_NE(ProgressTimer, 0u);
    for (int tick = 1; tick <= 99; ++tick) SendMessageA(StatusWindow, WM_TIMER, 1, 0);
    EXPECT_EQ(Progress(), 99);
    EXPECT_EQ(ProgressCount, 99);
    EXPECT_NE(ProgressTimer, 0u);
    SendMessageA(StatusWindow, WM_TIMER, 1, 0);
    EXPECT_EQ(Progress(), 100);
    EXPECT_EQ(ProgressTimer, 0u);
    EXPECT_FALSE(KillTimer(StatusWindow, 1));
    EXPECT_EQ(Position(), 0) << "progress ticks leave the volume alone";
}

TEST_F(StatusWindowTest, ClosingSilencesEndsTheTimersAndHides) {
    ShowWindow(StatusWindow, SW_SHOWNOACTIVATE);
    ProgressTimer = SetTimer(StatusWindow, 1, 600000, nullptr);
    for (int i = 0; i < 10; ++i) SendMessageA(StatusWindow, WM_TIMER, 0, 0);
    for (int i = 0; i < 30; ++i) SendMessageA(StatusWindow, WM_TIMER, 1, 0);
    ASSERT_EQ(MusicVolume, 20);

    SendMessageA(StatusWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ(ProgressTimer, 0u);
    EXPECT_FALSE(KillTimer(StatusWindow, 1));
    EXPECT_FALSE(KillTimer(StatusWindow, 0));
    EXPECT_FALSE(IsWindowVisible(StatusWindow));
    EXPECT_TRUE(IsWindow(StatusWindow));
    EXPECT_EQ(VolumeCalls.back().volume, 0u);
    EXPECT_EQ(MusicVolume, 0);
    ASSERT_EQ(MciCalls.size(), 1u);
    EXPECT_EQ(MciCalls[0].command, "close perus");
    EXPECT_EQ(MciCalls[0].callback, nullptr);

    // Without the MCI entry point closing still silences; no command is sent.
    DoneSoundsModule();
    SetMciSendProc(nullptr);
    SendMessageA(StatusWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ(MciCalls.size(), 1u);
}

// The work area as a stand-in for SystemParametersInfoA reports it.
BOOL FakeWorkAreaAnswer = TRUE;
RECT FakeWorkArea{};
UINT FakeWorkAreaAsked = 0;
BOOL WINAPI FakeSystemParameters(UINT action, UINT, PVOID data, UINT) {
    FakeWorkAreaAsked = action;
    if (action != SPI_GETWORKAREA || !FakeWorkAreaAnswer) return FALSE;
    *static_cast<RECT*>(data) = FakeWorkArea;
    return TRUE;
}

TEST(StatusWindowPlace, LowerLeftCornerOfTheWorkArea) {
    InitCommonControls();
    struct TCase {
        const char* what;
        BOOL answer;
        RECT area;
        LONG left;
        LONG bottom;
    };
    const TCase cases[] = {
        {"taskbar at the bottom", TRUE, {0, 0, 1024, 738}, 0, 738},
        {"taskbar at the left", TRUE, {60, 0, 1024, 768}, 60, 768},
        {"taskbar at the top", TRUE, {0, 30, 1024, 768}, 0, 768},
        {"no answer: the desktop", FALSE, {0, 0, 500, 500}, 0, 768},
        {"an empty area: the desktop", TRUE, {0, 0, 0, 0}, 0, 768},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        FakeWorkAreaAnswer = c.answer;
        FakeWorkArea = c.area;
        FakeWorkAreaAsked = 0;
        SetSystemParametersProc(FakeSystemParameters);
        HWND status =
            CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_STATUS), nullptr, StatusDlgProc, 0);
        SetSystemParametersProc(nullptr);
        ASSERT_NE(status, nullptr);
        EXPECT_EQ(FakeWorkAreaAsked, static_cast<UINT>(SPI_GETWORKAREA));
        RECT r{};
        GetWindowRect(status, &r);
        EXPECT_EQ(r.left, c.left);
        EXPECT_EQ(r.bottom, c.bottom);
        EXPECT_GT(r.bottom - r.top, 40) << "the size stays";
        DestroyWindow(status);
    }
    MusicVolume = 0;
}

// ---- Pages and the status window ------------------------------------------------

// A page that ends with 7 as soon as its modal loop runs.
INT_PTR CALLBACK QuickPageProc(HWND page, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        PostMessageA(page, WM_APP, 0, 0);
        return TRUE;
    }
    if (message == WM_APP) {
        EndDialog(page, 7);
        return TRUE;
    }
    return FALSE;
}

// upper comes before lower in the z-order of the top-level windows.
bool IsAbove(HWND upper, HWND lower) {
    for (HWND w = GetWindow(upper, GW_HWNDNEXT); w; w = GetWindow(w, GW_HWNDNEXT))
        if (w == lower) return true;
    return false;
}

class PageRunTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        InitCommonControls();
        StatusWindow =
            CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_STATUS), MainWindow, StatusDlgProc, 0);
        ASSERT_NE(StatusWindow, nullptr);
    }
    void TearDown() override {
        if (StatusWindow) DestroyWindow(StatusWindow);
        StatusWindow = nullptr;
        ProgressTimer = 0;
        MainWindowTest::TearDown();
    }
};

TEST_F(PageRunTest, AfterEachPageTheStatusWindowIsAboveTheMainWindowAndNotActive) {
    ShowWindow(StatusWindow, SW_SHOWNOACTIVATE);
    for (int page : {IDD_LICENCEPAGE, IDD_MAINPAGE}) {
        SCOPED_TRACE("page " + std::to_string(page));
        EXPECT_EQ(RunPage(GetModuleHandleA(nullptr), page, QuickPageProc), 7);
        // The setup goes on dispatching messages, as the next page or the
        // installation run does.
        for (int i = 0; i < 5; ++i) {
            PumpMessages();
            Sleep(50);
        }
        EXPECT_TRUE(IsAbove(StatusWindow, MainWindow));
        EXPECT_TRUE(IsWindowVisible(StatusWindow));
        EXPECT_NE(GetActiveWindow(), StatusWindow);
        EXPECT_NE(GetForegroundWindow(), StatusWindow);
    }
    // Drawn where it stands: its own pixels, not the main window's gradient.
    RECT r{};
    GetWindowRect(StatusWindow, &r);
    HDC screen = GetDC(nullptr);
    const TPixels shot = Capture(screen, r.left, r.top, r.right - r.left, r.bottom - r.top);
    ReleaseDC(nullptr, screen);
    int gradient = 0;
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x)
            if (shot.At(x, y) == ExpectedBackground(r.left + x, r.top + y, 1024, 768)) ++gradient;
    EXPECT_LT(gradient * 20, shot.width * shot.height) << gradient << " pixels show the main window";
}

TEST_F(PageRunTest, NeitherTopmostNorAboveAnotherProgramsWindow) {
    ShowWindow(StatusWindow, SW_SHOWNOACTIVATE);
    // A topmost window, as a taskbar is: the status window does not join it.
    HWND topmost = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP | WS_VISIBLE, 600, 10, 50,
                                   20, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(topmost, nullptr);
    EXPECT_EQ(RunPage(GetModuleHandleA(nullptr), IDD_LICENCEPAGE, QuickPageProc), 7);
    PumpMessages();
    EXPECT_TRUE(IsAbove(StatusWindow, MainWindow));
    EXPECT_EQ(GetWindowLongA(StatusWindow, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    EXPECT_TRUE(IsAbove(topmost, StatusWindow));

    // A window of someone else's above the main window stays above the
    // status window too: it goes directly above its owner, no higher.
    HWND other = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 700, 10, 50, 20, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(other, nullptr);
    SetWindowPos(StatusWindow, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetWindowPos(other, StatusWindow, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetWindowPos(MainWindow, other, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ASSERT_TRUE(IsAbove(StatusWindow, other));
    ASSERT_TRUE(IsAbove(other, MainWindow));
    RaiseStatusWindow();
    EXPECT_TRUE(IsAbove(StatusWindow, MainWindow));
    EXPECT_TRUE(IsAbove(other, StatusWindow));
    DestroyWindow(other);
    DestroyWindow(topmost);
}

TEST_F(PageRunTest, AStatusWindowClosedByTheUserStaysClosed) {
    ShowWindow(StatusWindow, SW_SHOWNOACTIVATE);
    SendMessageA(StatusWindow, WM_CLOSE, 0, 0);
    ASSERT_FALSE(IsWindowVisible(StatusWindow));
    EXPECT_EQ(RunPage(GetModuleHandleA(nullptr), IDD_LICENCEPAGE, QuickPageProc), 7);
    PumpMessages();
    EXPECT_FALSE(IsWindowVisible(StatusWindow));
    // Not yet shown (before the music starts): raising leaves it hidden too.
    DestroyWindow(StatusWindow);
    StatusWindow =
        CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_STATUS), MainWindow, StatusDlgProc, 0);
    RaiseStatusWindow();
    EXPECT_FALSE(IsWindowVisible(StatusWindow));
}

// ---- Window services -------------------------------------------------------------

TEST(CenterWindow, CentresSixteenPixelsHighAndOverhangsEqually) {
    struct TCase {
        int w, h, x, y;
    };
    const TCase cases[] = {
        {300, 200, 362, 268},
        {1400, 300, -188, 218},  // wider than the desktop
        {1024, 900, 0, -82},
        {1025, 769, 0, -16},  // halves truncate towards zero
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
        HWND w = CreateWindowExA(0, "STATIC", "", WS_POPUP, 5, 5, c.w, c.h, nullptr, nullptr, GetModuleHandleA(nullptr),
                                 nullptr);
        ASSERT_NE(w, nullptr);
        CenterWindow(w);
        RECT r{};
        GetWindowRect(w, &r);
        EXPECT_EQ(r.left, c.x);
        EXPECT_EQ(r.top, c.y);
        EXPECT_EQ(r.right - r.left, c.w);
        EXPECT_EQ(r.bottom - r.top, c.h);
        DestroyWindow(w);
    }
}

// Pump: a window that records the messages it receives.
std::vector<UINT> Received;
LRESULT CALLBACK SinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_APP || message == WM_KEYDOWN || message == WM_CHAR) Received.push_back(message);
    // A handler may post more work; the pump takes it in the same call.
    if (message == WM_APP + 2) PostMessageA(window, WM_APP + 3, 0, 0);
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST(PumpMessages, DispatchesEverythingUntilTheQueueIsEmpty) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = SinkProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "VozPumpSink";
    RegisterClassA(&wc);
    HWND sink = CreateWindowExA(0, "VozPumpSink", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(sink, nullptr);
    PumpMessages();
    Received.clear();

    PostMessageA(sink, WM_APP + 1, 0, 0);
    PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0);  // no special treatment
    PostMessageA(sink, WM_APP + 2, 0, 0);
    PostMessageA(sink, WM_KEYDOWN, 'A', static_cast<LPARAM>(MapVirtualKeyA('A', MAPVK_VK_TO_VSC) << 16 | 1));
    PumpMessages();

    const std::vector<UINT> expected = {WM_APP + 1, WM_APP + 2, WM_KEYDOWN, WM_APP + 3, WM_CHAR};
    EXPECT_EQ(Received, expected) << "translated key, handler's post and the message after WM_QUIT";
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    DestroyWindow(sink);
    UnregisterClassA("VozPumpSink", wc.hInstance);
}

// ConfirmExit: a page made from an in-memory template asks; a timer answers
// the message box and records what it showed.
struct TBoxSeen {
    bool found = false;
    std::string text;
    HWND owner = nullptr;
    bool noIsDefault = false;
    bool yesNoOnly = false;
};
TBoxSeen Seen;
int Answer = IDYES;
bool AskedAndStayed = false;

BOOL CALLBACK FindExitBox(HWND window, LPARAM found) {
    char cls[64] = {};
    char title[64] = {};
    GetClassNameA(window, cls, sizeof cls);
    GetWindowTextA(window, title, sizeof title);
    if (std::string(cls) == "#32770" && std::string(title) == "Exit Setup") {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK AnswerBox(HWND page, UINT, UINT_PTR id, DWORD) {
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindExitBox, reinterpret_cast<LPARAM>(&box));
    if (!box) return;  // not up yet: try again on the next tick
    KillTimer(page, id);
    char text[256] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    Seen.found = true;
    Seen.text = text;
    Seen.owner = GetWindow(box, GW_OWNER);
    // Wine answers DM_GETDEFID of a message box with junk; the button style
    // tells the default button on both systems.
    Seen.noIsDefault = (GetWindowLongA(GetDlgItem(box, IDNO), GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON &&
                       (GetWindowLongA(GetDlgItem(box, IDYES), GWL_STYLE) & 0xF) != BS_DEFPUSHBUTTON;
    Seen.yesNoOnly =
        GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO) && !GetDlgItem(box, IDOK) && !GetDlgItem(box, IDCANCEL);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(Answer, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, Answer)));
}

HWND Page = nullptr;

void CALLBACK GiveUp(HWND page, UINT, UINT_PTR id, DWORD) {
    KillTimer(page, id);
    EndDialog(page, 9);  // ConfirmExit did not end the page
}

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        Page = page;
        PostMessageA(page, WM_APP, 0, 0);
        return TRUE;
    }
    if (message == WM_APP) {
        SetTimer(page, 77, 50, AnswerBox);
        ConfirmExit(page);
        if (Answer == IDNO) {
            // Still running after No: the test ends the page itself.
            AskedAndStayed = true;
            EndDialog(page, 5);
        } else {
            SetTimer(page, 78, 5000, GiveUp);
        }
        return TRUE;
    }
    return FALSE;
}

INT_PTR RunPage() {
    alignas(4) WORD buffer[32] = {};
    auto* t = reinterpret_cast<DLGTEMPLATE*>(buffer);
    t->style = WS_POPUP | WS_CAPTION | DS_MODALFRAME;
    t->cx = 200;
    t->cy = 100;
    // Menu, class and title words follow, all zero.
    return DialogBoxIndirectParamA(GetModuleHandleA(nullptr), t, nullptr, PageProc, 0);
}

TEST(ConfirmExit, YesEndsThePageWithZeroNoLeavesItRunning) {
    Seen = {};
    Answer = IDYES;
    AskedAndStayed = false;
    EXPECT_EQ(RunPage(), 0);
    ASSERT_TRUE(Seen.found);
    EXPECT_EQ(Seen.text, "Setup is not complete yet. Are you sure you want to exit setup now?");
    EXPECT_EQ(Seen.owner, Page) << "owned by the page";
    EXPECT_TRUE(Seen.noIsDefault);
    EXPECT_TRUE(Seen.yesNoOnly);

    Seen = {};
    Answer = IDNO;
    AskedAndStayed = false;
    EXPECT_EQ(RunPage(), 5);
    EXPECT_TRUE(Seen.found);
    EXPECT_TRUE(AskedAndStayed);
}

}  // namespace
