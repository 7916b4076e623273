// Module PVQInst: the setup program's main module.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "resource.h"

// ===========================================================================
// Main window, status window and window services
//
// The main window is a disabled full-screen pop-up: a generated blue gradient
// (the class brush), the product family logo at the lower right and, during
// the installation run, six slides that appear one per slide-timer tick. The
// status window (dialog 600, modeless, hidden until the music starts) fades
// the music in, lets the user set its volume and fills a timed progress bar.
// Every handler here runs from message dispatch on the program's one thread
// and touches only window, timer and sound state.
// ===========================================================================

// The driver's two windows; 0 until created.
extern HWND MainWindow;
extern HWND StatusWindow;

// Bitmap "PVQUITE", loaded by CreateMainWindow; kept until the process ends.
extern HBITMAP LogoBitmap;

// One product slide: bitmap resource IDB_SLIDE_FIRST + slot, loaded on a
// slide-timer tick; drawn at this offset from the main window's top-left.
struct TSlide {
    HBITMAP bitmap;
    int32_t x;
    int32_t y;
};
extern TSlide SlideTable[IDB_SLIDE_COUNT];

// Timer results stored by the driver; each is set to 0 here when its timer
// ends: the slide timer (main window, kSlideTimerId) on the tick after the
// last slide, the progress timer (status window, kProgressTimerId) when the
// bar is full or the status window closes. Non-zero while the presentation
// still runs. (The status window's fade-in has timer 0 of its own.)
inline constexpr UINT_PTR kSlideTimerId = 0;
inline constexpr UINT_PTR kProgressTimerId = 1;
extern UINT_PTR SlideTimer;
extern UINT_PTR ProgressTimer;

// Progress ticks received by the status window (one bar step each; full at 100).
extern int32_t ProgressCount;
// Current music level 0..255: the volume track bar's position.
extern int32_t MusicVolume;
// The greeting has been started by the fade-in (it plays once per run).
extern bool WelcomePlayed;

// Loads the icon, the gradient and the logo, registers the main window class
// className with a pattern brush of the gradient, and creates the visible,
// disabled full-screen pop-up titled title. 0 when the class cannot be
// registered (for instance because it already is); no window is made then.
HWND CreateMainWindow(const char* className, const char* title);

// The background tile for the current screen: 1/32 of the screen wide and as
// high as the screen, a gradient running light to the right and to the top,
// its last column black. The bitmap "BACKGRND" instead when the screen has
// fewer than 16 bits per pixel or the tile cannot be made.
HBITMAP MakeBackgroundBitmap();
// The same for a given screen shape; MakeBackgroundBitmap passes the real one.
HBITMAP MakeBackgroundBitmapFor(int screenWidth, int screenHeight, int bitsPerPixel);

// Covers area of dc with copies of tile laid side by side, their grid
// starting at (0, 0) of dc (so any part of a window is drawn as the whole
// would be). False, drawing nothing, when tile cannot be used. The main
// window paints its background with it: a pattern brush would do on NT, but
// Windows 95, 98 and Me take only the top-left 8 x 8 pixels of its bitmap.
bool TileBitmap(HDC dc, HBITMAP tile, const RECT& area);

// Draws bitmap with its top-left corner at (x, y) of dc; pixels of keyColour
// leave the target unchanged. The bitmap itself is left as it was; it must
// not be selected into another device context.
void DrawTransparentBitmap(HDC dc, HBITMAP bitmap, int16_t x, int16_t y, COLORREF keyColour);

// Window procedure of the main window: WM_ERASEBKGND tiles the background
// (TileBitmap with the gradient or stored tile) and answers 1; every other
// message gets the default handling first (its result is returned), then
// the logo and loaded slides on WM_PAINT, the next slide on each WM_TIMER
// (the tick after the sixth ends timer 0 and clears SlideTimer), and the
// music loop on MM_MCINOTIFY.
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Dialog procedure of the status window. WM_INITDIALOG puts it on the lower
// left corner of the work area (the screen less the taskbar). Timer 0
// (500 ms, started at creation) fades the music in, 2 levels per tick up to
// 36, and starts the greeting at level 10; moving the track bar ends the
// fade-in for good. Any other timer id is a progress tick. WM_CLOSE ends both timers, hides the
// window, silences and closes the music.
INT_PTR CALLBACK StatusDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Dispatches every message waiting in the thread's queue and returns when it
// is empty. WM_QUIT is dispatched like any other message. Passed to the
// extraction and the post-install actions as their message-pump callback.
void __cdecl PumpMessages();

// Puts StatusWindow directly above the main window that owns it (at the top
// of the z-order when the main window is, as after a page; never above
// another program's window that is above the main window), without
// activating it and without showing it: hidden (not yet started, or closed
// by the user) it stays hidden. Nothing without a status window.
void RaiseStatusWindow();

// Runs page dialogId of instance modally with pageProc, owned by MainWindow,
// and returns its result; afterwards dispatches the messages waiting and
// calls RaiseStatusWindow, since the owner comes to the front when the page
// ends.
INT_PTR RunPage(HINSTANCE instance, int dialogId, DLGPROC pageProc);

// Centres window on the desktop, 16 pixels above the middle; a window larger
// than the desktop overhangs it equally on both sides.
void CenterWindow(HWND window);

// Asks whether to leave the setup (No is the default); on Yes ends the
// page's modal dialog with result 0.
void ConfirmExit(HWND page);

// Shutdown animation: the window shrinks in 80 steps of 8 ms towards its top
// edge while the music fades from MusicVolume to 0.
void RollUpMainWindow(HWND window);

// ===========================================================================
// Driver state shared with the pages
// ===========================================================================

// The folder the product is installed into: set by the main page (from
// DefaultDestination, then the folder browser's result); the driver strips
// its trailing backslashes before the installation run.
extern std::string DestinationFolder;

// Font the main page made for its destination field; 0 when none. The
// driver deletes it at shutdown.
extern HFONT DestinationFont;

// Drives the blinking of the main page's browser note; starts at 1 and is
// never reset, so the note blinks on the first showing of the page only.
extern int32_t BlinkCount;

// ===========================================================================
// Pages (modal dialogs owned by MainWindow; each ends with 1 to go on, 0 to stop)
// ===========================================================================

// Licence agreement page, dialog IDD_LICENCEPAGE.
INT_PTR CALLBACK LicencePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Main setup page, dialog IDD_MAINPAGE: settles and creates DestinationFolder.
INT_PTR CALLBACK MainPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Free space of the drive holding path in MB of 1,048,576 bytes; -1.0 when
// the drive cannot be queried.
double FreeDiskSpaceMB(const std::string& path);
// Makes sure path exists (open to everyone where the system has access
// lists); path on success, empty on failure.
std::string CreateDestinationFolder(const std::string& path);

// Finish page, dialog IDD_FINISHPAGE: offers the desktop shortcut, the
// query-folder association and the hot key, and applies them on OK.
INT_PTR CALLBACK FinishPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Height in pixels of the finish page before its roll-down started.
extern int32_t FullHeight;

// The shell-link hot key of the finish page's hot-key choice index (0 for
// Ctrl + Alt + F1 .. 11 for Ctrl + Alt + F12); 0 (no hot key) for an index
// outside that range.
WORD FinishHotKeyCode(int index);

// Writes the query-folder file association for the main program in folder
// under HKEY_CLASSES_ROOT. Reports nothing.
void RegisterQueryFolderType(const std::string& folder);

// ===========================================================================
// Driver
// ===========================================================================

// The first top-level window of class className (whole name, case-sensitive)
// whose title begins with titlePrefix (case-sensitive); 0 when there is none.
HWND FindTopWindow(const char* className, const char* titlePrefix);

// Pumps messages until the slide and progress timers have ended or 28,000 ms
// have passed, then sleeps one second.
void WaitForPresentation();

// ---- Test seams --------------------------------------------------------------
// Each setter replaces one call to the system; nullptr restores the real one.

// The work area the status window is placed in (SystemParametersInfoA with
// SPI_GETWORKAREA).
using TSystemParametersProc = BOOL(WINAPI*)(UINT action, UINT param, PVOID data, UINT update);
void SetSystemParametersProc(TSystemParametersProc proc);

// The two questions the main page asks of the machine: the drive's free
// space (GetDiskFreeSpaceA) and the browser's version (GetBrowserMajorVersion).
using TDiskFreeSpaceProc = BOOL(WINAPI*)(LPCSTR root, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                                         LPDWORD freeClusters, LPDWORD totalClusters);
void SetDiskFreeSpaceProc(TDiskFreeSpaceProc proc);
using TBrowserVersionProc = int(__cdecl*)();
void SetBrowserVersionProc(TBrowserVersionProc proc);
