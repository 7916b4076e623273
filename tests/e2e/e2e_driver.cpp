// Clicks a setup program through one scenario, as a user would, and saves a
// screenshot of every page it meets.
//
//   e2e_driver SCREENS SCENARIO SETUP.exe [ARGUMENT]
//
// The driver starts itself again inside a Wine virtual desktop of 1024 x 768
// (without a window manager Wine draws no captions) and starts the setup from
// there, so both share the desktop and the driver can see the setup's
// windows. Pages and message boxes are found by dialog class "#32770" and
// their exact title, never by title alone: the setup's main window carries
// the same title as its main page.
//
// Each line the driver prints starting with "RESULT " is read by the runner
// script; the exit code is 0 when every step of the scenario went as
// expected. Scenarios:
//   decline            licence page, "I do not accept"
//   cancel             licence accepted; main page cancelled: No keeps the
//                      page, Yes ends the setup
//   install            licence accepted, default folder, installation, finish
//   browse-list        as install, the folder chosen with the drive list and
//                      the folder list (ARGUMENT: the folder below C:\ to open)
//   browse-typed       the folder typed (ARGUMENT) reaches the main page, then
//                      the setup is left
//   folder-error       the typed folder (ARGUMENT) cannot be created: the
//                      error box, the page stays, then cancel
//   damaged            licence accepted, default folder: the failure message
//   refused            the Windows version refusal
//   product-running    look-alike windows do not block the setup; a
//                      "TApplication" window titled after the product does
//   handover           a second copy ends at once, the first stays alone
//   finish-close       as install, but the finish page is left by its close
//                      box
//   reinstall          over an earlier installation: the destination and
//                      the state of the browse button are reported, then as
//                      install
//   uninstall          the installed uninstaller (ARGUMENT: its path, given
//                      in place of SETUP.exe): Yes to the confirmation, Yes
//                      to removing the query folders, OK to the report
#include <windows.h>

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Profile.h"
#include "resource.h"
#include "PngFile.h"
#include "ScreenSupport.h"
#include "TestSupport.h"

namespace {

constexpr char kDesktopName[] = "VozE2E";
constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;

std::string Screens;
int ShotNumber = 0;
int Failures = 0;
DWORD SetupProcessId = 0;

void Fail(const std::string& what) {
    std::printf("FAIL %s\n", what.c_str());
    std::fflush(stdout);
    ++Failures;
}

void Note(const std::string& what) {
    std::printf("%s\n", what.c_str());
    std::fflush(stdout);
}

std::string Shown(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

// ---- Screenshots ---------------------------------------------------------------

// pixels as an RGB PNG at path.
bool SavePng(const voztest::TPixels& pixels, const std::string& path) {
    if (pixels.px.empty()) return false;
    const std::string png =
        voztest::PngFromPixels(pixels.px.data(), pixels.width, pixels.height, static_cast<size_t>(pixels.width));
    return !png.empty() && voztest::WriteBytes(path, png);
}

// Lets the page finish drawing, then saves "NN_name.png"; the pixels saved.
voztest::TPixels Shot(const char* name, DWORD settleMs = 700) {
    Sleep(settleMs);
    char file[64];
    std::snprintf(file, sizeof file, "%02d_%s.png", ++ShotNumber, name);
    const std::string path = Screens + "\\" + file;
    voztest::TPixels pixels = voztest::CaptureScreen(kScreenWidth, kScreenHeight);
    if (SavePng(pixels, path))
        Note(std::string("RESULT screenshot=") + file);
    else
        Fail(std::string("cannot save ") + path);
    return pixels;
}

// ---- Windows of the setup -----------------------------------------------------------

std::string TextOf(HWND window) {
    char text[4096];
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                             &length))
        return {};
    return std::string(text, length < sizeof text ? length : sizeof text - 1);
}

std::string ClassOf(HWND window) {
    char name[128];
    const int n = GetClassNameA(window, name, sizeof name);
    return n > 0 ? std::string(name, n) : std::string();
}

struct TSearch {
    const char* className;
    std::string title;
    DWORD processId;  // 0: any process but this one
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<TSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId()) return TRUE;
    if (search->processId != 0 && pid != search->processId) return TRUE;
    if (!IsWindowVisible(window)) return TRUE;
    if (ClassOf(window) != search->className) return TRUE;
    if (TextOf(window) != search->title) return TRUE;
    search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> Dialogs(const std::string& title, DWORD processId = SetupProcessId) {
    TSearch search{"#32770", title, processId, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

using voztest::Scaled;

// Product B gives its message boxes the title of its pages, and a page or a
// box just done with may stay enabled for a moment: where both can stand
// under one title, the main page is told apart by its destination edit.
enum TDialogKind { kAnyDialog, kMainPageOnly, kNotMainPage };

bool IsKind(HWND w, TDialogKind kind) {
    if (kind == kAnyDialog) return true;
    return (GetDlgItem(w, IDC_MAIN_DEST) != nullptr) == (kind == kMainPageOnly);
}

// The visible, enabled dialog titled title (a page that rolls or a page
// behind a message box is disabled) of the given kind; 0 after timeoutMs
// (scaled).
HWND WaitDialog(const std::string& title, DWORD timeoutMs, bool mustBeEnabled = true, TDialogKind kind = kAnyDialog) {
    timeoutMs = Scaled(timeoutMs);
    const DWORD start = GetTickCount();
    do {
        for (HWND w : Dialogs(title))
            if ((!mustBeEnabled || IsWindowEnabled(w)) && IsKind(w, kind)) return w;
        Sleep(100);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

HWND ExpectDialog(const std::string& title, DWORD timeoutMs, const char* what, TDialogKind kind = kAnyDialog) {
    HWND w = WaitDialog(title, timeoutMs, true, kind);
    if (!w)
        Fail(std::string("no ") + what + " (\"" + title + "\") within " + std::to_string(timeoutMs) + " ms");
    else
        Note(std::string("found ") + what);
    return w;
}

HWND WaitMainPage(DWORD timeoutMs) { return WaitDialog(kSetupWindowTitle, timeoutMs, true, kMainPageOnly); }
HWND ExpectMainPage(DWORD timeoutMs, const char* what) {
    return ExpectDialog(kSetupWindowTitle, timeoutMs, what, kMainPageOnly);
}

// The text of a message box: its longest static text.
std::string MessageTextOf(HWND box) {
    std::string best;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) != "Static") continue;
        const std::string text = TextOf(child);
        if (text.size() > best.size()) best = text;
    }
    return best;
}

// Message boxes turn a lone "\r" into a line break; what they keep as text
// is what the program passed. Compared exactly.
void ExpectMessage(HWND box, const char* expected, const char* what) {
    const std::string text = MessageTextOf(box);
    if (text != expected)
        Fail(std::string(what) + " text is \"" + Shown(text) + "\", expected \"" + Shown(expected) + "\"");
    else
        Note(std::string("RESULT message=") + what);
}

// Presses a control as a click does: posted, so that a modal loop the click
// starts does not hold the driver.
void Press(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) {
        Fail("control " + std::to_string(id) + " missing");
        return;
    }
    PostMessageA(control, BM_CLICK, 0, 0);
}

void Answer(HWND box, int id) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

bool StillThere(HWND window) { return IsWindow(window) && IsWindowVisible(window); }

// ---- The setup process ----------------------------------------------------------------

PROCESS_INFORMATION Launch(const std::string& setup) {
    std::string command = "\"" + setup + "\"";
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        Fail("cannot start " + setup);
    return pi;
}

// Waits for the setup to end and reports its exit code; -1 on a time-out
// (the setup is ended then).
long WaitExit(PROCESS_INFORMATION& pi, DWORD timeoutMs, const char* label = "exit_code") {
    if (!pi.hProcess) return -1;
    timeoutMs = Scaled(timeoutMs);
    long result = -1;
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 1;
        GetExitCodeProcess(pi.hProcess, &code);
        result = static_cast<long>(code);
    } else {
        Fail(std::string("the setup did not end within ") + std::to_string(timeoutMs) + " ms");
        TerminateProcess(pi.hProcess, 99);
    }
    std::printf("RESULT %s=%ld\n", label, result);
    std::fflush(stdout);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    pi = {};
    return result;
}

// ---- Steps shared by the scenarios ---------------------------------------------------

// The first window of a program just started waits for its start; the
// waits after it are for the program's own steps.
using voztest::kProgramStartMs;

HWND AcceptLicence() {
    HWND licence = ExpectDialog(kLicenceTitle, kProgramStartMs, "licence page");
    if (!licence) return nullptr;
    Shot("licence", 1500);
    Press(licence, IDOK);
    HWND main = ExpectMainPage(15000, "main page");
    if (main) Shot("main_page", 1500);
    // What became of the status window, as the window manager tells it
    // (reported only; whether it can be seen is judged from the pixels of
    // the picture taken during the installation).
    HWND status = nullptr;
    TSearch search{"#32770", "   Status", SetupProcessId, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    if (!search.found.empty()) status = search.found.front();
    Note(std::string("RESULT status_window=") + (status ? "visible" : "hidden or missing"));
    return main;
}

std::string Destination(HWND main) { return TextOf(GetDlgItem(main, IDC_MAIN_DEST)); }

// Whether the picture shows the status window with its progress under way,
// judged by the pixels where the window stands (not by what the window
// manager says): mostly the dialog face colour, and the progress colour in
// its bar. Under the main window the gradient would be there instead, which
// has neither colour.
void ReportStatusOnScreen(const voztest::TPixels& pixels) {
    TSearch search{"#32770", "   Status", SetupProcessId, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found.empty() || pixels.px.empty()) {
        Note("RESULT status_on_screen=no (no visible status window)");
        return;
    }
    HWND status = search.found.front();
    RECT window{};
    RECT bar{};
    GetWindowRect(status, &window);
    GetWindowRect(GetDlgItem(status, IDC_STATUS_PROGRESS), &bar);
    int windowArea = 0;
    int barArea = 0;
    const int face = voztest::CountColour(pixels, window, voztest::SysColour(COLOR_BTNFACE), &windowArea);
    const int filled = voztest::CountColour(pixels, bar, voztest::SysColour(COLOR_HIGHLIGHT), &barArea);
    std::printf("status window (%ld, %ld)-(%ld, %ld): %d of %d pixels dialog face, %d of %d bar pixels filled\n",
                window.left, window.top, window.right, window.bottom, face, windowArea, filled, barArea);
    const bool seen = windowArea > 0 && face * 2 >= windowArea && filled > 0 && filled < barArea;
    Note(std::string("RESULT status_on_screen=") + (seen ? "yes" : "no"));
}

// The folder question of the browser ("... does not exist ... created?"): Yes.
bool ConfirmCreateQuestion() {
    // The main page has the same title.
    HWND box = ExpectDialog(kSetupWindowTitle, 20000, "folder question", kNotMainPage);
    if (!box) return false;
    Note("RESULT question=" + Shown(MessageTextOf(box)));
    Shot("folder_question");
    Answer(box, IDYES);
    return true;
}

// The folder browser opened from the main page.
HWND OpenBrowser(HWND main) {
    Press(main, IDC_MAIN_BROWSE);
    HWND browser = ExpectDialog("Select Destination Folder", 10000, "folder browser");
    if (browser) Shot("folder_browser");
    return browser;
}

// What the finish page offers when it opens: the three options (1 ticked,
// 0 not), the chosen hot key entry and whether the list can be used.
void ReportFinishOptions(HWND finish) {
    auto ticked = [&](int id) {
        return SendMessageA(GetDlgItem(finish, id), BM_GETCHECK, 0, 0) == BST_CHECKED ? "1" : "0";
    };
    Note(std::string("RESULT finish_options=desktop:") + ticked(IDC_FIN_DESKTOP) +
         ",association:" + ticked(IDC_FIN_ASSOCIATE) + ",hotkey:" + ticked(IDC_FIN_HOTKEY));
    // A drop-down list's window text is its selected entry.
    HWND list = GetDlgItem(finish, IDC_FIN_HOTKEY_LIST);
    Note("RESULT finish_hotkey=" + TextOf(list) + (IsWindowEnabled(list) ? "" : " (disabled)"));
}

// Starts the installation on the main page and leaves the finish page with
// OK (every option as offered) or, when closeBox, with its close box.
void InstallAndFinish(HWND main, PROCESS_INFORMATION& pi, bool closeBox = false) {
    Note("RESULT destination=" + Destination(main));
    Press(main, IDC_MAIN_START);
    // Halfway through the presentation: slides and progress.
    Sleep(14000);
    ReportStatusOnScreen(Shot("installing", 0));
    HWND finish = ExpectDialog(kFinishTitle, 90000, "finish page");
    if (finish) {
        Shot("finish_page", 1500);
        ReportFinishOptions(finish);
        if (closeBox)
            PostMessageA(finish, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            Press(finish, IDOK);
    }
    WaitExit(pi, 60000);
}

// ---- Scenarios ------------------------------------------------------------------------

int Decline(PROCESS_INFORMATION& pi) {
    HWND licence = ExpectDialog(kLicenceTitle, kProgramStartMs, "licence page");
    if (!licence) return 1;
    Shot("licence", 1500);
    Press(licence, IDCANCEL);
    // The main page must never appear.
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(pi.hProcess, 100) == WAIT_TIMEOUT && GetTickCount() - start < 20000)
        if (!Dialogs(kSetupWindowTitle).empty()) {
            Fail("the main page appeared after the licence was declined");
            break;
        }
    WaitExit(pi, 20000);
    return 0;
}

int Cancel(PROCESS_INFORMATION& pi) {
    HWND main = AcceptLicence();
    if (!main) return 1;
    for (int answer : {IDNO, IDYES}) {
        Press(main, IDC_MAIN_CANCEL);
        HWND box = ExpectDialog(kConfirmExitCaption, 10000, "exit question");
        if (!box) return 1;
        ExpectMessage(box, kConfirmExitText, "confirm_exit");
        if (answer == IDNO) Shot("exit_question");
        Answer(box, answer);
        if (answer == IDNO) {
            Sleep(1000);
            if (!StillThere(main) || WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0)
                Fail("No on the exit question ended the page");
            else
                Note("RESULT after_no=page_stays");
            if (!WaitMainPage(5000)) Fail("the main page is not enabled again after No");
        }
    }
    WaitExit(pi, 20000);
    return 0;
}

int Install(PROCESS_INFORMATION& pi) {
    HWND main = AcceptLicence();
    if (!main) return 1;
    InstallAndFinish(main, pi);
    return 0;
}

int FinishClose(PROCESS_INFORMATION& pi) {
    HWND main = AcceptLicence();
    if (!main) return 1;
    InstallAndFinish(main, pi, true);
    return 0;
}

// Over an earlier installation the destination is that installation's
// folder and cannot be changed.
int Reinstall(PROCESS_INFORMATION& pi) {
    HWND main = AcceptLicence();
    if (!main) return 1;
    HWND browse = GetDlgItem(main, IDC_MAIN_BROWSE);
    Note(std::string("RESULT browse_button=") + (!browse                   ? "missing"
                                                 : IsWindowEnabled(browse) ? "enabled"
                                                                           : "disabled"));
    InstallAndFinish(main, pi);
    return 0;
}

// The uninstaller's message boxes share one caption: each is the box of
// that caption that is not the one answered before.
HWND NextUninstallBox(HWND previous, DWORD timeoutMs, const char* what) {
    timeoutMs = Scaled(timeoutMs);
    const std::string caption = std::string(kFullName) + " Uninstall";
    const DWORD start = GetTickCount();
    do {
        for (HWND w : Dialogs(caption))
            if (w != previous && IsWindowEnabled(w)) {
                Note(std::string("found ") + what);
                return w;
            }
        Sleep(100);
    } while (GetTickCount() - start < timeoutMs);
    Fail(std::string("no ") + what + " (\"" + caption + "\") within " + std::to_string(timeoutMs) + " ms");
    return nullptr;
}

int Uninstall(PROCESS_INFORMATION& pi) {
    HWND sure = NextUninstallBox(nullptr, kProgramStartMs, "confirmation");
    if (!sure) return 1;
    Note("RESULT confirmation=" + Shown(MessageTextOf(sure)));
    Shot("uninstall_confirmation");
    Answer(sure, IDYES);
    HWND queries = NextUninstallBox(sure, 20000, "query folder question");
    if (!queries) return 1;
    Note("RESULT queries_question=" + Shown(MessageTextOf(queries)));
    Shot("uninstall_queries");
    Answer(queries, IDYES);
    HWND report = NextUninstallBox(queries, 60000, "report");
    if (!report) return 1;
    Note("RESULT report=" + Shown(MessageTextOf(report)));
    Shot("uninstall_report");
    Answer(report, IDOK);
    WaitExit(pi, 20000);
    return 0;
}

int Damaged(PROCESS_INFORMATION& pi) {
    HWND main = AcceptLicence();
    if (!main) return 1;
    Note("RESULT destination=" + Destination(main));
    Press(main, IDC_MAIN_START);
    // Product B's failure caption is also the title of its pages.
    HWND box = ExpectDialog(kFailureCaption, 90000, "failure message", kNotMainPage);
    if (box) {
        ExpectMessage(box, kFailureMessage, "failure");
        Shot("failure_message");
        Answer(box, IDOK);
    }
    WaitExit(pi, 30000);
    return 0;
}

// Browse through the drive list and the folder list: to drive Z: and back
// to C:, then into C:\<folder>, then OK (the product folder is appended).
int BrowseList(PROCESS_INFORMATION& pi, const std::string& folder) {
    HWND main = AcceptLicence();
    if (!main) return 1;
    HWND browser = OpenBrowser(main);
    if (!browser) return 1;
    HWND drives = GetDlgItem(browser, IDC_SEL_DRIVES);
    HWND folders = GetDlgItem(browser, IDC_SEL_FOLDERS);
    auto chooseDrive = [&](const char* prefix) {
        const LRESULT index =
            SendMessageA(drives, CB_FINDSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(prefix));
        if (index == CB_ERR) {
            Fail(std::string("drive ") + prefix + " not in the drive list");
            return;
        }
        SendMessageA(drives, CB_SETCURSEL, index, 0);
        SendMessageA(browser, WM_COMMAND, MAKEWPARAM(IDC_SEL_DRIVES, CBN_SELENDOK), reinterpret_cast<LPARAM>(drives));
        Sleep(300);
        Note(std::string("RESULT drive_path_") + prefix[0] + "=" + TextOf(GetDlgItem(browser, IDC_SEL_PATH)));
    };
    chooseDrive("Z:");
    Shot("folder_browser_drive_z");
    chooseDrive("C:");
    const LRESULT index =
        SendMessageA(folders, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(folder.c_str()));
    if (index == LB_ERR) {
        Fail("folder " + folder + " not in the folder list");
        return 1;
    }
    SendMessageA(folders, LB_SETCURSEL, index, 0);
    SendMessageA(browser, WM_COMMAND, MAKEWPARAM(IDC_SEL_FOLDERS, LBN_DBLCLK), reinterpret_cast<LPARAM>(folders));
    Sleep(300);
    Note("RESULT browser_path=" + TextOf(GetDlgItem(browser, IDC_SEL_PATH)));
    Shot("folder_browser_opened");
    Press(browser, IDC_SEL_OK);
    if (!ConfirmCreateQuestion()) return 1;
    main = ExpectMainPage(10000, "main page again");
    if (!main) return 1;
    Shot("main_page_chosen");
    InstallAndFinish(main, pi);
    return 0;
}

HWND TypeFolder(HWND main, const std::string& folder) {
    HWND browser = OpenBrowser(main);
    if (!browser) return nullptr;
    SendMessageA(GetDlgItem(browser, IDC_SEL_PATH), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()));
    Shot("folder_browser_typed", 300);
    Press(browser, IDC_SEL_OK);
    if (!ConfirmCreateQuestion()) return nullptr;
    main = ExpectMainPage(10000, "main page again");
    if (main) Shot("main_page_chosen");
    return main;
}

// The typed folder reaches the main page with the product folder appended;
// then the setup is left.
int BrowseTyped(PROCESS_INFORMATION& pi, const std::string& folder) {
    HWND main = AcceptLicence();
    if (!main || !(main = TypeFolder(main, folder))) return 1;
    Note("RESULT destination=" + Destination(main));
    Press(main, IDC_MAIN_CANCEL);
    HWND question = ExpectDialog(kConfirmExitCaption, 10000, "exit question");
    if (question) Answer(question, IDYES);
    WaitExit(pi, 20000);
    return 0;
}

int FolderError(PROCESS_INFORMATION& pi, const std::string& folder) {
    HWND main = AcceptLicence();
    if (!main || !(main = TypeFolder(main, folder))) return 1;
    const std::string destination = Destination(main);
    Note("RESULT destination=" + destination);
    Press(main, IDC_MAIN_START);
    // The error box has the folder-creation caption; for product B that is
    // the page title too.
    HWND box = WaitDialog(kFolderErrorCaption, 15000, true, kNotMainPage);
    if (!box) {
        Fail("no folder-creation error");
        return 1;
    }
    const std::string expected = kFolderErrorStart + destination + kFolderErrorEnd;
    ExpectMessage(box, expected.c_str(), "folder_error");
    Shot("folder_error");
    Answer(box, IDOK);
    Sleep(1000);
    main = WaitMainPage(5000);
    if (!main || WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
        Fail("the main page did not stay after the folder error");
        return 1;
    }
    Note("RESULT after_error=page_stays");
    Press(main, IDC_MAIN_CANCEL);
    HWND question = ExpectDialog(kConfirmExitCaption, 10000, "exit question");
    if (question) Answer(question, IDYES);
    WaitExit(pi, 20000);
    return 0;
}

// A start-up refusal: one message box without owner, then the end.
int Refused(PROCESS_INFORMATION& pi, const char* expected, const char* what) {
    HWND box = ExpectDialog(kSetupWindowTitle, kProgramStartMs, what);
    if (!box) return 1;
    ExpectMessage(box, expected, what);
    if (GetWindow(box, GW_OWNER)) Fail(std::string(what) + " has an owner window");
    Shot(what);
    Answer(box, IDOK);
    WaitExit(pi, 20000);
    return 0;
}

LRESULT CALLBACK PlainWndProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }

// A top-level window of class className titled title, shown without
// activation.
HWND MakeWindow(const char* className, const std::string& title) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = PlainWndProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = className;
    RegisterClassA(&wc);
    HWND w = CreateWindowExA(0, className, title.c_str(), WS_OVERLAPPEDWINDOW, 10, 10, 300, 200, nullptr, nullptr,
                             wc.hInstance, nullptr);
    if (!w)
        Fail(std::string("cannot make a window of class ") + className);
    else
        ShowWindow(w, SW_SHOWNOACTIVATE);
    return w;
}

// Windows that only look like the running product do not block the setup:
// the product's name later in the title, or the name in a window of
// another class. The product's own application window, with a document
// open, does.
int ProductRunning(PROCESS_INFORMATION& pi, const std::string& setup) {
    HWND laterName = MakeWindow(kAppWindowClass, std::string("Report - ") + kFullName);
    HWND otherClass = MakeWindow("TOtherApplication", kFullName);
    pi = Launch(setup);
    SetupProcessId = pi.dwProcessId;
    HWND licence = ExpectDialog(kLicenceTitle, kProgramStartMs, "licence page beside look-alike windows");
    if (licence) {
        Note("RESULT lookalikes=not_blocking");
        Press(licence, IDCANCEL);
    }
    WaitExit(pi, 20000, "lookalike_exit_code");
    if (laterName) DestroyWindow(laterName);
    if (otherClass) DestroyWindow(otherClass);

    HWND product = MakeWindow(kAppWindowClass, std::string(kFullName) + " - Report.pqf");
    pi = Launch(setup);
    SetupProcessId = pi.dwProcessId;
    const int rc = Refused(pi, kProductRunningMessage, "product_running");
    if (product) DestroyWindow(product);
    return rc;
}

int Handover(PROCESS_INFORMATION& first, const std::string& setup) {
    HWND licence = ExpectDialog(kLicenceTitle, kProgramStartMs, "licence page");
    if (!licence) return 1;
    // Something else in front first, so that the hand-over shows.
    HWND other = MakeWindow("VozE2EFront", "Another program");
    if (other) {
        SetForegroundWindow(other);
        Sleep(300);
        Note("RESULT foreground_before=" + ClassOf(GetForegroundWindow()));
    }
    PROCESS_INFORMATION second = Launch(setup);
    const DWORD secondId = second.dwProcessId;
    if (WaitExit(second, 20000, "second_exit_code") != 0) Fail("the second copy did not end with code 0");
    if (Dialogs(kLicenceTitle, 0).size() != 1) Fail("more than one licence page");
    if (!Dialogs(kLicenceTitle, secondId).empty()) Fail("the second copy showed a page");
    if (WaitForSingleObject(first.hProcess, 0) == WAIT_OBJECT_0) Fail("the first copy ended");
    // The second copy brought the first one's main window to the front.
    HWND front = GetForegroundWindow();
    DWORD frontProcess = 0;
    GetWindowThreadProcessId(front, &frontProcess);
    Note("RESULT foreground=" + ClassOf(front) +
         (frontProcess == first.dwProcessId ? " of the first copy" : " of another process"));
    Shot("handover");
    if (other) DestroyWindow(other);
    Press(licence, IDCANCEL);
    WaitExit(first, 20000);
    return 0;
}

int RunScenario(const std::string& scenario, const std::string& setup, const std::string& argument) {
    PROCESS_INFORMATION pi{};
    // That scenario makes its windows first and starts the setup itself.
    if (scenario != "product-running") {
        pi = Launch(setup);
        if (!pi.hProcess) return 1;
        SetupProcessId = pi.dwProcessId;
    }
    int rc = 1;
    if (scenario == "decline")
        rc = Decline(pi);
    else if (scenario == "cancel")
        rc = Cancel(pi);
    else if (scenario == "install")
        rc = Install(pi);
    else if (scenario == "damaged")
        rc = Damaged(pi);
    else if (scenario == "browse-list")
        rc = BrowseList(pi, argument);
    else if (scenario == "browse-typed")
        rc = BrowseTyped(pi, argument);
    else if (scenario == "folder-error")
        rc = FolderError(pi, argument);
    else if (scenario == "refused")
        rc = Refused(pi, kWindowsVersionMessage, "windows_version");
    else if (scenario == "product-running")
        rc = ProductRunning(pi, setup);
    else if (scenario == "handover")
        rc = Handover(pi, setup);
    else if (scenario == "finish-close")
        rc = FinishClose(pi);
    else if (scenario == "reinstall")
        rc = Reinstall(pi);
    else if (scenario == "uninstall")
        rc = Uninstall(pi);
    else
        Fail("unknown scenario " + scenario);
    if (pi.hProcess) {
        // A scenario that stopped early leaves no setup behind.
        TerminateProcess(pi.hProcess, 99);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    return rc == 0 && Failures == 0 ? 0 : 1;
}

// ---- The starter ----------------------------------------------------------------------

int RunInVirtualDesktop(int argc, char** argv) {
    std::string arguments = "--inside";
    for (int i = 1; i < argc; ++i) arguments += std::string(" \"") + argv[i] + "\"";
    std::string error;
    const int code =
        voztest::RunSelfInVirtualDesktop(kDesktopName, kScreenWidth, kScreenHeight, arguments, 240000, &error);
    if (!error.empty()) std::printf("FAIL %s\n", error.c_str());
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    const bool inside = argc > 1 && std::string(argv[1]) == "--inside";
    const int first = inside ? 2 : 1;
    if (argc - first < 3) {
        std::fprintf(stderr, "usage: e2e_driver SCREENS SCENARIO SETUP.exe [ARGUMENT]\n");
        return 2;
    }
    if (!inside) return RunInVirtualDesktop(argc, argv);
    Screens = voztest::WinePath(argv[first]);
    CreateDirectoryA(Screens.c_str(), nullptr);
    const std::string argument = argc - first > 3 ? argv[first + 3] : "";
    return RunScenario(argv[first + 1], voztest::WinePath(argv[first + 2]), argument);
}
