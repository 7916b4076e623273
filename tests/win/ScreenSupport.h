// Pictures of the screen for the tests that judge what a user sees: capture,
// reading a bitmap's pixels, counting a colour, the main window's gradient,
// and the start of a program inside a Wine virtual desktop (without a window
// manager Wine draws no captions). No test framework: the end-to-end driver
// uses it too.
#pragma once

#include <windows.h>

#include <float.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace voztest {

// 0x00RRGGBB values, top row first.
struct TPixels {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> px;
    uint32_t At(int x, int y) const { return px[static_cast<size_t>(y) * width + x] & 0xFFFFFF; }
};

// A 32-bit picture of w x h pixels, top row first.
inline BITMAPINFO TopDownInfo(int w, int h) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// The bitmap's pixels; empty (width 0) when they cannot be read.
inline TPixels ReadBitmap(HBITMAP bitmap) {
    TPixels out;
    BITMAP shape{};
    if (!GetObjectA(bitmap, sizeof shape, &shape)) return out;
    BITMAPINFO info = TopDownInfo(shape.bmWidth, shape.bmHeight);
    out.width = shape.bmWidth;
    out.height = shape.bmHeight;
    out.px.resize(static_cast<size_t>(out.width) * out.height);
    HDC screen = GetDC(nullptr);
    const int lines = GetDIBits(screen, bitmap, 0, out.height, out.px.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (lines != out.height) out = TPixels{};
    return out;
}

// The w x h pixels of source at (x, y); empty when no picture could be made.
inline TPixels Capture(HDC source, int x, int y, int w, int h) {
    TPixels out;
    BITMAPINFO info = TopDownInfo(w, h);
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!dib) return out;
    HDC memory = CreateCompatibleDC(source);
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, w, h, source, x, y, SRCCOPY);
    GdiFlush();
    out.width = w;
    out.height = h;
    out.px.assign(static_cast<const uint32_t*>(bits), static_cast<const uint32_t*>(bits) + static_cast<size_t>(w) * h);
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(dib);
    return out;
}

// The screen's top left w x h pixels.
inline TPixels CaptureScreen(int w, int h) {
    HDC screen = GetDC(nullptr);
    TPixels out = Capture(screen, 0, 0, w, h);
    ReleaseDC(nullptr, screen);
    return out;
}

// The window's client drawing, as large as the whole window.
inline TPixels CaptureWindow(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    HDC dc = GetDC(window);
    TPixels out = Capture(dc, 0, 0, r.right - r.left, r.bottom - r.top);
    ReleaseDC(window, dc);
    return out;
}

// A system colour as 0x00RRGGBB, the pictures' order.
inline uint32_t SysColour(int index) {
    const COLORREF c = GetSysColor(index);
    return static_cast<uint32_t>(GetRValue(c)) << 16 | static_cast<uint32_t>(GetGValue(c)) << 8 | GetBValue(c);
}

// Pixels of colour within rectangle r of the picture, and in *area how many
// pixels of the picture r covers.
inline int CountColour(const TPixels& pixels, RECT r, uint32_t colour, int* area) {
    if (r.left < 0) r.left = 0;
    if (r.top < 0) r.top = 0;
    if (r.right > pixels.width) r.right = pixels.width;
    if (r.bottom > pixels.height) r.bottom = pixels.height;
    int count = 0;
    *area = 0;
    for (LONG y = r.top; y < r.bottom; ++y)
        for (LONG x = r.left; x < r.right; ++x) {
            ++*area;
            if (pixels.At(x, y) == colour) ++count;
        }
    return count;
}

// Compares picture at (left, top) with bitmap drawn transparently there: its
// non-black pixels as they are, background(x, y) (picture coordinates)
// behind its black ones; what falls outside the picture is skipped. *lit
// counts the bitmap's non-black pixels compared; differ(x, y, seen,
// expected) hears of each pixel that differs. How many differed.
template <typename TBackground, typename TDiffer>
int CompareDrawnAt(const TPixels& picture, const TPixels& bitmap, int left, int top, TBackground background, int* lit,
                   TDiffer differ) {
    int differing = 0;
    *lit = 0;
    for (int y = 0; y < bitmap.height; ++y)
        for (int x = 0; x < bitmap.width; ++x) {
            const int px = left + x;
            const int py = top + y;
            if (px < 0 || py < 0 || px >= picture.width || py >= picture.height) continue;
            const uint32_t own = bitmap.At(x, y);
            if (own != 0) ++*lit;
            const uint32_t expected = own != 0 ? own : background(px, py);
            if (picture.At(px, py) != expected) {
                ++differing;
                differ(px, py, picture.At(px, py), expected);
            }
        }
    return differing;
}

// ---- The main window's background -------------------------------------------

// The background tile's pixel as its description gives it: v from the
// position (x across the band, line counted from the bottom), rounded to
// nearest with ties to even, then blue, green and red from v; the band's last
// column is black.
// Computed in IEEE double, every operation rounded to 53 bits, on every
// architecture: on i686 the x87 unit is set to double precision meanwhile.
inline uint32_t ExpectedTilePixel(int x, int line, int w, int h) {
    if (x == w - 1) return 0;
#if defined(__i386__)
    struct TPrecision {
        unsigned int saved = _controlfp(0, 0);
        TPrecision() { _controlfp(_PC_53, _MCW_PC); }
        ~TPrecision() { _controlfp(saved, _MCW_PC); }
    } precision;
#endif
    const double v = std::nearbyint(static_cast<double>(x) / w * 100 + static_cast<double>(line) / h * 100) + 50;
    const double d = std::nearbyint(v * 0.8);
    const auto blue = static_cast<uint32_t>(d);
    const auto green = static_cast<uint32_t>(std::nearbyint(d * 0.8));
    const auto red = static_cast<uint32_t>(std::nearbyint(d * 0.6));
    return red << 16 | green << 8 | blue;
}

// The main window's background at window pixel (x, y) of a w x h screen:
// 32 bands across, each one tile wide.
inline uint32_t ExpectedBackground(int x, int y, int w, int h) {
    return ExpectedTilePixel(x % (w / 32), h - 1 - y, w / 32, h);
}

// ---- A run inside a virtual desktop -----------------------------------------------

// Starts this program again with arguments inside the Wine virtual desktop
// desktopName of width x height (a desktop whose name has a size under
// HKCU\Software\Wine\Explorer\Desktops), sharing this one's standard
// handles, and waits up to ms for it. The run's exit code; 1 with *error set
// when it could not start or did not end (it is ended then).
inline int RunSelfInVirtualDesktop(const char* desktopName, int width, int height, const std::string& arguments,
                                   DWORD ms, std::string* error) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Explorer\\Desktops", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        *error = "cannot configure the virtual desktop";
        return 1;
    }
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    RegSetValueExA(key, desktopName, 0, REG_SZ, reinterpret_cast<const BYTE*>(size.c_str()),
                   static_cast<DWORD>(size.size() + 1));
    RegCloseKey(key);

    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    if (n == 0 || n >= sizeof self) {
        *error = "own file name too long";
        return 1;
    }
    std::string command = std::string("\"") + self + "\" " + arguments;
    std::string desktop = desktopName;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.lpDesktop = desktop.data();
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        *error = "cannot start the run inside the desktop";
        return 1;
    }
    DWORD code = 1;
    if (WaitForSingleObject(pi.hProcess, Scaled(ms)) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 5000);
        *error = "the run inside the desktop did not end";
    }
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return static_cast<int>(code);
}

}  // namespace voztest
