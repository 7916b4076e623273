// Module PVQInst: the main window, the status window and the window services.
#include "PVQInst.h"

#include "Profile.h"
#include "Sounds.h"
#include "resource.h"

#include <commctrl.h>

#include <cmath>
#include <vector>

// The DIB row header the gradient is written with is 40 bytes on every
// Windows, and so is the record the system reads.
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");

HWND MainWindow = nullptr;
HWND StatusWindow = nullptr;
HBITMAP LogoBitmap = nullptr;
TSlide SlideTable[IDB_SLIDE_COUNT] = {
    {nullptr, 8, 50}, {nullptr, 8, 120}, {nullptr, 8, 190}, {nullptr, 8, 260}, {nullptr, 8, 330}, {nullptr, 8, 410},
};
UINT_PTR SlideTimer = 0;
UINT_PTR ProgressTimer = 0;
int32_t ProgressCount = 0;
int32_t MusicVolume = 0;
bool WelcomePlayed = false;

// Shared with the pages and the installation run.
std::string DestinationFolder;
HFONT DestinationFont = nullptr;
int32_t BlinkCount = 1;

namespace {

constexpr COLORREF kKeyColour = RGB(0, 0, 0);
constexpr UINT_PTR kFadeTimerId = 0;

// The tile the main window's background is made of (the gradient or the
// stored tile); kept, like the class brush made from it, until the process ends.
HBITMAP BackgroundTile = nullptr;

// How the status window learns the work area; SystemParametersInfoA unless
// a test put something else here.
TSystemParametersProc SystemParametersProc = SystemParametersInfoA;

HINSTANCE ProgramInstance() { return GetModuleHandleA(nullptr); }

HBITMAP FallbackTile() { return LoadBitmapA(ProgramInstance(), IDB_BACKGRND); }

// Nearest integer, halves to the even neighbour, whatever rounding mode the
// floating-point unit has been left in.
// The tile's arithmetic is IEEE double, rounded after every operation, so
// that every build paints the same pixels. i686 code computes on the x87
// unit, whose registers keep 64-bit mantissas unless its precision control
// says 53 bits; the x86-64 build computes in SSE registers, always double.
class TDoubleRounding {
#if defined(__i386__)
    unsigned short saved_ = 0;

  public:
    TDoubleRounding() {
        __asm__ __volatile__("fnstcw %0" : "=m"(saved_) : : "memory");
        unsigned short doubleOnly = static_cast<unsigned short>((saved_ & ~0x0300u) | 0x0200u);
        __asm__ __volatile__("fldcw %0" : : "m"(doubleOnly) : "memory");
    }
    ~TDoubleRounding() { __asm__ __volatile__("fldcw %0" : : "m"(saved_) : "memory"); }
#endif
};

double RoundHalfEven(double value) {
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction > 0.5) return below + 1;
    if (fraction < 0.5) return below;
    return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

// One pixel of the gradient tile (line y counted from the bottom), computed
// out of line so that none of its arithmetic moves outside the caller's
// TDoubleRounding.
__attribute__((noinline)) uint32_t GradientPixel(int x, int y, int w, int h) {
    const double v = RoundHalfEven(static_cast<double>(x) / w * 100.0 + static_cast<double>(y) / h * 100.0) + 50.0;
    const double d = RoundHalfEven(v * 0.8);
    const auto blue = static_cast<uint32_t>(d);
    const auto green = static_cast<uint32_t>(RoundHalfEven(d * 0.8));
    const auto red = static_cast<uint32_t>(RoundHalfEven(d * 0.6));
    return (red << 16) | (green << 8) | blue;
}

// A device context taken with GetDC, released on every path.
struct TWindowDC {
    HWND window;
    HDC dc;
    explicit TWindowDC(HWND w) : window(w), dc(GetDC(w)) {}
    ~TWindowDC() {
        if (dc) ReleaseDC(window, dc);
    }
    TWindowDC(const TWindowDC&) = delete;
    TWindowDC& operator=(const TWindowDC&) = delete;
};

// A memory device context with one bitmap selected into it. On destruction
// the context's original bitmap goes back in and both context and (when
// owned) the bitmap are deleted.
struct TMemoryDC {
    HDC dc = nullptr;
    HGDIOBJ previous = nullptr;
    HBITMAP bitmap = nullptr;
    bool ownsBitmap = false;
    TMemoryDC() = default;
    TMemoryDC(const TMemoryDC&) = delete;
    TMemoryDC& operator=(const TMemoryDC&) = delete;
    // False when the context cannot be made or the bitmap not selected.
    bool Open(HDC compatibleWith, HBITMAP selected, bool owned) {
        bitmap = selected;
        ownsBitmap = owned;
        if (!selected) return false;
        dc = CreateCompatibleDC(compatibleWith);
        if (!dc) return false;
        previous = SelectObject(dc, selected);
        return previous != nullptr && previous != HGDI_ERROR;
    }
    ~TMemoryDC() {
        if (dc) {
            if (previous && previous != HGDI_ERROR) SelectObject(dc, previous);
            DeleteDC(dc);
        }
        if (ownsBitmap && bitmap) DeleteObject(bitmap);
    }
};

// Draws a slide or the logo at its place on the main window.
void DrawAt(HDC dc, HBITMAP bitmap, LONG x, LONG y) {
    DrawTransparentBitmap(dc, bitmap, static_cast<int16_t>(x), static_cast<int16_t>(y), kKeyColour);
}

void PaintMainWindow(HWND window) {
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    RECT r{};
    GetWindowRect(window, &r);
    {
        TWindowDC target(window);
        if (target.dc) {
            if (LogoBitmap) DrawAt(target.dc, LogoBitmap, r.right - 140, r.bottom - 90);
            for (const TSlide& slide : SlideTable)
                if (slide.bitmap) DrawAt(target.dc, slide.bitmap, r.left + slide.x, r.top + slide.y);
        }
    }
    EndPaint(window, &paint);
}

// One slide-timer tick: the next slide appears, or the timer ends.
void ShowNextSlide(HWND window) {
    RaiseStatusWindow();  // as on each progress tick
    for (int slot = 0; slot < IDB_SLIDE_COUNT; ++slot) {
        TSlide& slide = SlideTable[slot];
        if (slide.bitmap) continue;
        slide.bitmap = LoadBitmapA(ProgramInstance(), MAKEINTRESOURCEA(IDB_SLIDE_FIRST + slot));
        RECT r{};
        GetWindowRect(window, &r);
        TWindowDC target(window);
        if (target.dc && slide.bitmap) DrawAt(target.dc, slide.bitmap, r.left + slide.x, r.top + slide.y);
        return;
    }
    KillTimer(window, kSlideTimerId);
    SlideTimer = 0;
}

LRESULT SendItem(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendDlgItemMessageA(dialog, id, message, wParam, lParam);
}

void ApplyMusicLevel(int level) {
    MusicVolume = level;
    SetMusicVolume(MusicLevelVolume(level));
}

// The part of the screen that no taskbar or docked bar covers; the whole
// desktop when the system cannot say.
RECT WorkArea() {
    RECT area{};
    if (SystemParametersProc && SystemParametersProc(SPI_GETWORKAREA, 0, &area, 0) && area.right > area.left &&
        area.bottom > area.top)
        return area;
    GetWindowRect(GetDesktopWindow(), &area);
    return area;
}

void InitStatusWindow(HWND window) {
    // On the work area's lower left corner, so that a taskbar at the bottom
    // does not hide the progress bar.
    const RECT work = WorkArea();
    RECT own{};
    GetWindowRect(window, &own);
    SetWindowPos(window, nullptr, work.left, work.bottom - (own.bottom - own.top), 0, 0, SWP_NOSIZE | SWP_NOZORDER);

    SendItem(window, IDC_STATUS_VOLUME, TBM_SETRANGE, FALSE, MAKELPARAM(0, 255));
    SendItem(window, IDC_STATUS_VOLUME, TBM_SETPOS, TRUE, 0);
    SendItem(window, IDC_STATUS_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendItem(window, IDC_STATUS_PROGRESS, PBM_SETPOS, 0, 0);
    SendItem(window, IDC_STATUS_PROGRESS, PBM_SETSTEP, 1, 0);
    SetMusicVolume(0);
    MusicVolume = 0;
    SetTimer(window, kFadeTimerId, 500, nullptr);
}

void FadeInTick(HWND window) {
    int level = static_cast<int>(SendItem(window, IDC_STATUS_VOLUME, TBM_GETPOS, 0, 0));
    if (level >= 35) {
        KillTimer(window, kFadeTimerId);
        return;
    }
    level += 2;
    if (!WelcomePlayed && level > 8) {
        WelcomePlayed = true;
        PlaySoundResource(IDW_WELCOME, SND_ASYNC);
    }
    SendItem(window, IDC_STATUS_VOLUME, TBM_SETPOS, TRUE, level);
    ApplyMusicLevel(level);
}

void ProgressTick(HWND window) {
    // Wine, when busy, may stack the main window over the status window it
    // owns without telling either of them (seen as another program's window
    // came up during the installation); Windows never does. Each tick puts it
    // back, which costs nothing where it already stands.
    RaiseStatusWindow();
    ++ProgressCount;
    SendItem(window, IDC_STATUS_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(ProgressCount), 0);
    if (ProgressCount >= 100) {
        KillTimer(window, kProgressTimerId);
        ProgressTimer = 0;
    }
}

void CloseStatusWindow(HWND window) {
    KillTimer(window, kFadeTimerId);
    if (ProgressTimer != 0) {
        KillTimer(window, kProgressTimerId);
        ProgressTimer = 0;
    }
    EndDialog(window, 0);
    SetMusicVolume(0);
    MusicVolume = 0;
    CloseMusic();
}

// The first multiple of step at or below value.
LONG FloorToMultiple(LONG value, LONG step) {
    const LONG q = value / step;
    return (value % step != 0 && value < 0 ? q - 1 : q) * step;
}

// Windows 95, 98 and Me repeat only the top-left 8 x 8 pixels of a pattern
// brush's bitmap, which would squeeze the bands of the gradient (and the
// stored tile) into an 8-pixel pattern. The tile itself is copied instead;
// the class brush stays for whatever else may paint with it.
bool EraseMainWindow(HWND window, HDC dc) {
    RECT area{};
    if (GetClipBox(dc, &area) == ERROR) GetClientRect(window, &area);
    return TileBitmap(dc, BackgroundTile, area);
}

}  // namespace

HBITMAP MakeBackgroundBitmapFor(int screenWidth, int screenHeight, int bitsPerPixel) {
    if (bitsPerPixel < 16) return FallbackTile();
    const int w = screenWidth / 32;
    const int h = screenHeight;
    // A screen narrower than 32 pixels leaves no room for a band.
    if (w < 1 || h < 1) return FallbackTile();

    TWindowDC screen(nullptr);
    if (!screen.dc) return FallbackTile();
    HBITMAP tile = CreateCompatibleBitmap(screen.dc, w, h);
    if (!tile) return FallbackTile();

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;

    std::vector<uint32_t> row(static_cast<size_t>(w));
    [[maybe_unused]] TDoubleRounding rounding;
    for (int y = 0; y < h; ++y) {  // line 0 is the bottom line
        for (int x = 0; x < w; ++x) row[static_cast<size_t>(x)] = GradientPixel(x, y, w, h);
        row[static_cast<size_t>(w - 1)] = 0;
        if (!SetDIBits(screen.dc, tile, static_cast<UINT>(y), 1, row.data(), &info, DIB_RGB_COLORS)) {
            DeleteObject(tile);
            return FallbackTile();
        }
    }
    return tile;
}

HBITMAP MakeBackgroundBitmap() {
    int bitsPerPixel = 0;
    {
        TWindowDC screen(nullptr);
        if (screen.dc) bitsPerPixel = GetDeviceCaps(screen.dc, BITSPIXEL);
    }
    return MakeBackgroundBitmapFor(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), bitsPerPixel);
}

HWND CreateMainWindow(const char* className, const char* title) {
    HINSTANCE instance = ProgramInstance();
    HICON icon = LoadIconA(instance, IDI_MAINICON);
    HBITMAP background = MakeBackgroundBitmap();
    if (!LogoBitmap) LogoBitmap = LoadBitmapA(instance, IDB_PVQUITE);
    HBRUSH brush = background ? CreatePatternBrush(background) : nullptr;

    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWndProc;
    wc.hInstance = instance;
    wc.hIcon = icon;
    wc.hbrBackground = brush;
    wc.lpszClassName = className;
    if (!RegisterClassExA(&wc)) {
        if (brush) DeleteObject(brush);
        if (background) DeleteObject(background);
        return nullptr;
    }
    // The brush and its tile stay with the class for the rest of the run; the
    // tile also paints the background itself (see MainWndProc).
    BackgroundTile = background;
    return CreateWindowExA(0, className, title, WS_POPUP | WS_VISIBLE | WS_DISABLED | WS_CLIPCHILDREN, 0, 0,
                           GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr, instance,
                           nullptr);
}

bool TileBitmap(HDC dc, HBITMAP tile, const RECT& area) {
    if (!dc || !tile) return false;
    BITMAP shape{};
    if (!GetObjectA(tile, sizeof shape, &shape) || shape.bmWidth <= 0 || shape.bmHeight <= 0) return false;
    TMemoryDC source;
    if (!source.Open(dc, tile, false)) return false;
    const LONG w = shape.bmWidth;
    const LONG h = shape.bmHeight;
    // The grid starts at (0, 0) whatever part is drawn, as a brush's would;
    // copies at the edges are cut to the area.
    for (LONG y = FloorToMultiple(area.top, h); y < area.bottom; y += h) {
        const LONG top = y > area.top ? y : area.top;
        const LONG bottom = y + h < area.bottom ? y + h : area.bottom;
        for (LONG x = FloorToMultiple(area.left, w); x < area.right; x += w) {
            const LONG left = x > area.left ? x : area.left;
            const LONG right = x + w < area.right ? x + w : area.right;
            BitBlt(dc, left, top, right - left, bottom - top, source.dc, left - x, top - y, SRCCOPY);
        }
    }
    return true;
}

void DrawTransparentBitmap(HDC dc, HBITMAP bitmap, int16_t x, int16_t y, COLORREF keyColour) {
    if (!dc || !bitmap) return;
    BITMAP shape{};
    if (!GetObjectA(bitmap, sizeof shape, &shape)) return;

    TMemoryDC source;
    if (!source.Open(dc, bitmap, false)) return;
    POINT size{shape.bmWidth, shape.bmHeight};
    DPtoLP(source.dc, &size, 1);
    const int w = size.x;
    const int h = size.y;

    TMemoryDC mask;
    TMemoryDC inverse;
    TMemoryDC work;
    TMemoryDC save;
    if (!mask.Open(dc, CreateBitmap(w, h, 1, 1, nullptr), true) ||
        !inverse.Open(dc, CreateBitmap(w, h, 1, 1, nullptr), true) ||
        !work.Open(dc, CreateCompatibleBitmap(dc, w, h), true) ||
        !save.Open(dc, CreateCompatibleBitmap(dc, w, h), true))
        return;

    SetMapMode(source.dc, GetMapMode(dc));
    BitBlt(save.dc, 0, 0, w, h, source.dc, 0, 0, SRCCOPY);

    // Key-coloured pixels become white in the mask, all others black.
    const COLORREF background = SetBkColor(source.dc, keyColour);
    BitBlt(mask.dc, 0, 0, w, h, source.dc, 0, 0, SRCCOPY);
    SetBkColor(source.dc, background);
    BitBlt(inverse.dc, 0, 0, w, h, mask.dc, 0, 0, NOTSRCCOPY);

    BitBlt(work.dc, 0, 0, w, h, dc, x, y, SRCCOPY);
    BitBlt(work.dc, 0, 0, w, h, mask.dc, 0, 0, SRCAND);
    BitBlt(source.dc, 0, 0, w, h, inverse.dc, 0, 0, SRCAND);
    BitBlt(work.dc, 0, 0, w, h, source.dc, 0, 0, SRCPAINT);
    BitBlt(dc, x, y, w, h, work.dc, 0, 0, SRCCOPY);

    // The caller's bitmap comes back unchanged.
    BitBlt(source.dc, 0, 0, w, h, save.dc, 0, 0, SRCCOPY);
}

// After a change of the main or the status window's place in the z-order.
// Windows keeps an owned window above its owner by itself. Wine, when busy,
// may bring the main window to the front over the status window late, after
// a page has ended and the status window was raised: it is put back here.
static void KeepStatusAboveMain(const WINDOWPOS* pos) {
    if (!StatusWindow || !MainWindow || (pos->flags & SWP_NOZORDER)) return;
    for (HWND w = GetWindow(MainWindow, GW_HWNDNEXT); w; w = GetWindow(w, GW_HWNDNEXT))
        if (w == StatusWindow) {
            RaiseStatusWindow();
            return;
        }
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ERASEBKGND && EraseMainWindow(window, reinterpret_cast<HDC>(wParam))) return 1;
    const LRESULT result = DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
    case WM_PAINT:
        PaintMainWindow(window);
        break;
    case WM_WINDOWPOSCHANGED:
        KeepStatusAboveMain(reinterpret_cast<const WINDOWPOS*>(lParam));
        break;
    case WM_TIMER:
        ShowNextSlide(window);
        break;
    case MM_MCINOTIFY:
        HandleMusicNotify(wParam, window);
        break;
    default:
        break;
    }
    return result;
}

INT_PTR CALLBACK StatusDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        InitStatusWindow(window);
        return TRUE;
    case WM_TIMER:
        if (wParam == kFadeTimerId)
            FadeInTick(window);
        else
            ProgressTick(window);
        return TRUE;
    case WM_WINDOWPOSCHANGED:
        KeepStatusAboveMain(reinterpret_cast<const WINDOWPOS*>(lParam));
        return FALSE;
    case WM_HSCROLL:
        KillTimer(window, kFadeTimerId);
        ApplyMusicLevel(static_cast<int>(SendItem(window, IDC_STATUS_VOLUME, TBM_GETPOS, 0, 0)));
        return TRUE;
    case WM_CLOSE:
        CloseStatusWindow(window);
        return TRUE;
    default:
        return FALSE;
    }
}

void __cdecl PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void RaiseStatusWindow() {
    if (!StatusWindow) return;
    // Directly above the main window: at the top when the main window is
    // (as after a page), never above another program's windows.
    HWND above = MainWindow ? GetWindow(MainWindow, GW_HWNDPREV) : nullptr;
    if (above == StatusWindow) return;
    // Without SWP_SHOWWINDOW: a status window the user closed stays closed.
    SetWindowPos(StatusWindow, above ? above : HWND_TOP, 0, 0, 0, 0, SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
}

INT_PTR RunPage(HINSTANCE instance, int dialogId, DLGPROC pageProc) {
    const INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(dialogId), MainWindow, pageProc, 0);
    // The owner comes to the front when a modal page ends, and the status
    // window it owns belongs above it. Windows keeps it there by itself;
    // Wine puts the owner on top, the first time only once the queue is
    // looked at again, so the queue is emptied before the status window is
    // raised.
    PumpMessages();
    RaiseStatusWindow();
    return result;
}

void SetSystemParametersProc(TSystemParametersProc proc) { SystemParametersProc = proc ? proc : SystemParametersInfoA; }

void CenterWindow(HWND window) {
    RECT d{};
    RECT r{};
    GetWindowRect(GetDesktopWindow(), &d);
    GetWindowRect(window, &r);
    const LONG w = r.right - r.left;
    const LONG h = r.bottom - r.top;
    const LONG x = (d.left + d.right - w) / 2;
    const LONG y = (d.top + d.bottom - h) / 2 - 16;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void ConfirmExit(HWND page) {
    if (MessageBoxA(page, kConfirmExitText, kConfirmExitCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES)
        EndDialog(page, 0);
}

void RollUpMainWindow(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    const LONG w = r.right - r.left;
    const LONG h1 = r.bottom - r.top + 1;
    for (int n = 79; n >= 0; --n) {
        SetWindowPos(window, nullptr, 0, 0, w, h1 * n / 80, SWP_NOMOVE | SWP_NOZORDER);
        SetMusicVolume(MusicLevelVolume(MusicVolume * n / 80));
        Sleep(8);
    }
}
