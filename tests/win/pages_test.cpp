// The setup's pages (licence agreement, main page, finish page) run for real
// with DialogBoxParamA under Wine and driven by messages: a thread timer
// finds the page by dialog class and title, posts it clicks as a user's
// would arrive, and answers message boxes found the same way. Built once per
// product; every expectation comes from the product's own profile.
//
// Sounds go to a recording procedure; the free-space figure and the browser
// version come from seams; the desktop and Programs folders point into this
// run's own temp folder. The query-folder association is real registry state
// (HKEY_CLASSES_ROOT) and is removed before and after each test that writes it.
#include "PVQInst.h"

#include "Detect.h"
#include "Profile.h"
#include "SelDir.h"
#include "ShortUtl.h"
#include "Sounds.h"
#include "TestSupport.h"
#include "WinNTFuncts.h"
#include "resource.h"
#include "shortcut.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <functional>
#include <string>
#include <vector>

using voztest::ReadLink;
using voztest::RemoveTree;

namespace {

// ---- Recording stand-ins ----------------------------------------------------

std::vector<std::string> PlayedSounds;
BOOL WINAPI RecordPlaySound(LPCSTR sound, HMODULE, DWORD) {
    PlayedSounds.push_back(sound ? sound : "");
    return TRUE;
}

// Free space as a number of 4096-byte clusters: 256 of them make a megabyte.
double FakeFreeMB = 100.0;
bool FakeDiskFails = false;
std::vector<std::string> QueriedRoots;
BOOL WINAPI FakeDiskFreeSpace(LPCSTR root, LPDWORD sectors, LPDWORD bytes, LPDWORD freeClusters, LPDWORD total) {
    QueriedRoots.push_back(root);
    if (FakeDiskFails) return FALSE;
    *sectors = 8;
    *bytes = 512;
    *freeClusters = static_cast<DWORD>(FakeFreeMB * 256.0);
    *total = 1000000;
    return TRUE;
}

int FakeBrowserVersion = 8;
int FakeBrowser() { return FakeBrowserVersion; }

// ---- Files, links and registry ------------------------------------------------

std::string TestRoot() {
    static std::string root;
    if (root.empty()) {
        root = voztest::TempPath() + "voz_pages_" + kShortName + "_" + std::to_string(GetCurrentProcessId());
    }
    CreateDirectoryA(root.c_str(), nullptr);  // again after a test removed it
    return root;
}

void WriteFileText(const std::string& path, const std::string& text) {
    ASSERT_TRUE(voztest::WriteBytes(path, text)) << path;
}

// Default value of a key under HKEY_CLASSES_ROOT; found is false when the key
// or value is missing. size is the stored size, terminator included.
struct TClassValue {
    bool found = false;
    DWORD type = 0;
    DWORD size = 0;
    std::string text;
};
TClassValue ReadClassValue(const std::string& subKey) {
    TClassValue v;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return v;
    char data[1024] = {};
    DWORD size = sizeof data - 1;
    if (RegQueryValueExA(key, nullptr, nullptr, &v.type, reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS) {
        v.found = true;
        v.size = size;
        v.text = data;
    }
    RegCloseKey(key);
    return v;
}
bool ClassKeyExists(const std::string& subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}
void RemoveQueryFolderType() {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kQueryExtension);
    RegDeleteKeyA(HKEY_CLASSES_ROOT, kQueryExtension);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kQueryFileTypeKey);
    RegDeleteKeyA(HKEY_CLASSES_ROOT, kQueryFileTypeKey);
}

// ---- The page driver ------------------------------------------------------------

constexpr DWORD kStepTimeoutMs = 12000;
constexpr INT_PTR kAborted = 99;

struct TStep {
    std::string what;
    std::function<bool(HWND page)> run;  // true when done; called again on the next tick otherwise
};

struct TDriver {
    std::string pageTitle;
    std::vector<TStep> steps;
    std::function<void(HWND page)> observe;  // every tick while the page is up
    // What happened.
    HWND page = nullptr;
    size_t next = 0;
    DWORD stepStart = 0;
    DWORD started = 0;
    std::string failure;
    std::vector<std::string> boxesSeen;  // captions of every other dialog that came up
    std::vector<HWND> boxesUp;           // those up at the last tick
    bool busy = false;
};
TDriver* Active = nullptr;

// A dialog of this thread with this title, other than except.
HWND FindDialog(const std::string& title, HWND except = nullptr) {
    return voztest::FindThreadDialog(title.c_str(), except);
}

BOOL CALLBACK CollectDialogsProc(HWND window, LPARAM param) {
    char cls[64] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (std::string(cls) == "#32770") reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}
std::vector<HWND> ThreadDialogs() {
    std::vector<HWND> all;
    EnumThreadWindows(GetCurrentThreadId(), CollectDialogsProc, reinterpret_cast<LPARAM>(&all));
    return all;
}

std::string WindowText(HWND window) {
    char text[16384] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}
std::string ItemText(HWND page, int id) { return WindowText(GetDlgItem(page, id)); }

// Ends every dialog of the thread, message boxes first, then the page.
void AbortAll(TDriver& d) {
    for (HWND w : ThreadDialogs())
        if (w != d.page) EndDialog(w, IDCANCEL);
    if (d.page && IsWindow(d.page)) EndDialog(d.page, kAborted);
}

void CALLBACK DriverTick(HWND, UINT, UINT_PTR, DWORD) {
    if (!Active || Active->busy) return;
    TDriver& d = *Active;
    d.busy = true;
    // The page is the first dialog with its title; kept once found, since a
    // message box may carry the same caption.
    if (!d.page || !IsWindow(d.page)) d.page = FindDialog(d.pageTitle);
    HWND page = d.page && IsWindow(d.page) ? d.page : nullptr;
    std::vector<HWND> up;
    for (HWND w : ThreadDialogs()) {
        if (w == page) continue;
        up.push_back(w);
        bool known = false;
        for (HWND seen : d.boxesUp) known = known || seen == w;
        if (!known) d.boxesSeen.push_back(WindowText(w));
    }
    d.boxesUp = up;
    if (!page && d.failure.empty() && GetTickCount() - d.stepStart > voztest::Scaled(kStepTimeoutMs)) {
        // Not up under its title: a wrong title ends here rather than hanging.
        d.failure = "no dialog titled \"" + d.pageTitle + "\"";
        for (HWND w : ThreadDialogs()) EndDialog(w, kAborted);
    }
    if (page && d.observe) d.observe(page);
    if (page && d.failure.empty()) {
        if (d.next < d.steps.size()) {
            if (d.steps[d.next].run(page)) {
                ++d.next;
                d.stepStart = GetTickCount();
            } else if (GetTickCount() - d.stepStart > voztest::Scaled(kStepTimeoutMs)) {
                d.failure = "timed out at: " + d.steps[d.next].what;
                AbortAll(d);
            }
        } else if (GetTickCount() - d.stepStart > voztest::Scaled(kStepTimeoutMs)) {
            d.failure = "the page did not end after the last step";
            AbortAll(d);
        }
    }
    d.busy = false;
}

INT_PTR RunPage(int dialogId, DLGPROC proc, TDriver& d) {
    Active = &d;
    d.started = d.stepStart = GetTickCount();
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, DriverTick);
    const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(dialogId), nullptr, proc, 0);
    KillTimer(nullptr, timer);
    Active = nullptr;
    return result;
}

// Pumps this thread's messages for ms milliseconds.
void PumpFor(DWORD ms) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(5);
    }
}

// ---- Steps ------------------------------------------------------------------------

void Click(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}
TStep ClickStep(int id) {
    return {"click " + std::to_string(id), [id](HWND page) {
                Click(page, id);
                return true;
            }};
}
TStep CloseBox() {
    return {"close box", [](HWND page) {
                PostMessageA(page, WM_SYSCOMMAND, SC_CLOSE, 0);
                return true;
            }};
}
TStep WaitEnabled() {
    return {"page enabled", [](HWND page) { return IsWindowEnabled(page) != FALSE; }};
}
TStep WaitMs(DWORD ms) {
    return {"wait " + std::to_string(ms), [ms](HWND) { return GetTickCount() - Active->stepStart >= ms; }};
}
TStep Do(const std::string& what, std::function<void(HWND)> action) {
    return {what, [action](HWND page) {
                action(page);
                return true;
            }};
}
// Waits for the message box with this caption, keeps its text, presses button.
TStep Answer(const std::string& caption, int button, std::string* text = nullptr) {
    return {"message box " + caption, [caption, button, text](HWND page) {
                HWND box = FindDialog(caption, page);
                if (!box || !IsWindowVisible(box)) return false;
                if (text) {
                    char buffer[4096] = {};
                    GetDlgItemTextA(box, 0xFFFF, buffer, sizeof buffer);
                    *text = buffer;
                }
                Click(box, button);
                return true;
            }};
}
// Ends the page from outside with a marker result (the page itself would not end).
TStep EndWith(INT_PTR result) {
    return {"end page", [result](HWND page) {
                EndDialog(page, result);
                return true;
            }};
}

int WindowHeight(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    return r.bottom - r.top;
}

// Every height the setup gives a disabled page, as the page itself learns
// it: a driver sampling on its timer misses steps when the machine is busy.
std::vector<int>* RolledHeights = nullptr;

LRESULT CALLBACK RecordRolledHeight(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && RolledHeights && call->message == WM_WINDOWPOSCHANGED) {
        const auto* pos = reinterpret_cast<const WINDOWPOS*>(call->lParam);
        char title[128] = {};
        GetWindowTextA(call->hwnd, title, sizeof title);
        if (!(pos->flags & SWP_NOSIZE) && !IsWindowEnabled(call->hwnd) && !GetParent(call->hwnd) &&
            std::string(title) == kSetupWindowTitle)
            RolledHeights->push_back(pos->cy);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// ---- Fixture ---------------------------------------------------------------------

class PagesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // No multimedia library: the music start writes no music file and
        // plays nothing, it only shows the status window.
        InitSoundsModule("voz_no_multimedia.dll");
        PlayedSounds.clear();
        SetPlaySoundProc(RecordPlaySound);
        QueriedRoots.clear();
        FakeFreeMB = 100.0;
        FakeDiskFails = false;
        SetDiskFreeSpaceProc(FakeDiskFreeSpace);
        FakeBrowserVersion = 8;
        SetBrowserVersionProc(FakeBrowser);
        OsVersionInfo.dwPlatformId = VER_PLATFORM_WIN32_NT;
        ExistingInstall = false;
        IntroText = "Intro first line\r\nSecond line of the introduction.";
        folder_ = TestRoot() + "\\" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : folder_)
            if (c == '/') c = '_';
        RemoveTree(folder_);
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << folder_;
        DefaultDestination = folder_ + kDefaultDestinationSuffix;  // ...\Ovantis\Perus
        DestinationFolder.clear();
        // A stand-in status window: the music start shows it.
        StatusWindow =
            CreateWindowExA(0, "STATIC", "status", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    }
    void TearDown() override {
        if (StatusWindow) DestroyWindow(StatusWindow);
        StatusWindow = nullptr;
        DoneSoundsModule();
        SetPlaySoundProc(nullptr);
        SetDiskFreeSpaceProc(nullptr);
        SetBrowserVersionProc(nullptr);
        RemoveTree(folder_);
        RemoveDirectoryA(TestRoot().c_str());  // the run leaves nothing behind
    }
    bool Played(const std::string& name) const {
        for (const std::string& s : PlayedSounds)
            if (s == name) return true;
        return false;
    }
    std::string folder_;
};

void ExpectClean(const TDriver& d) {
    EXPECT_EQ(d.failure, "");
    EXPECT_EQ(d.next, d.steps.size()) << "steps left undone";
}

// ==== Licence agreement page =======================================================

TEST_F(PagesTest, LicenceShowsTheAgreementAndStartsTheMusicAfterAMoment) {
    TDriver d;
    d.pageTitle = kLicenceTitle;
    DWORD shownAfter = 0;
    bool hiddenAtFirst = false;
    std::string text;
    DWORD selStart = 1, selEnd = 1;
    bool bigIcon = false;
    d.steps = {
        Do("first look",
           [&](HWND page) {
               hiddenAtFirst = !IsWindowVisible(StatusWindow);
               text = ItemText(page, IDC_LICENCE_TEXT);
               bigIcon = SendMessageA(page, WM_GETICON, ICON_BIG, 0) != 0;
           }),
        {"music started",
         [&](HWND) {
             if (!IsWindowVisible(StatusWindow)) return false;
             shownAfter = GetTickCount() - d.started;
             return true;
         }},
        Do("selection",
           [&](HWND page) {
               // The dialog manager focused the agreement and selected it all; the page took that back.
               EXPECT_EQ(GetFocus(), GetDlgItem(page, IDC_LICENCE_TEXT));
               SendDlgItemMessageA(page, IDC_LICENCE_TEXT, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart),
                                   reinterpret_cast<LPARAM>(&selEnd));
           }),
        ClickStep(IDOK),
    };
    EXPECT_EQ(RunPage(IDD_LICENCEPAGE, LicencePageProc, d), 1);
    ExpectClean(d);
    EXPECT_TRUE(hiddenAtFirst);
    EXPECT_GE(shownAfter, 250u);
    EXPECT_LT(shownAfter, 3000u);
    EXPECT_EQ(text, kLicenceText);
    EXPECT_TRUE(bigIcon);
    EXPECT_EQ(selStart, 0u);
    EXPECT_EQ(selEnd, 0u);
    EXPECT_TRUE(d.boxesSeen.empty());
}

// Every way out but "I accept" declines; declining at once means no music.
TEST_F(PagesTest, LicenceDeclinedByButtonEscapeOrCloseBox) {
    struct TCase {
        const char* name;
        std::function<TStep()> action;
        INT_PTR result;
        bool waitForMusic;
    };
    const TCase cases[] = {
        {"I accept", [] { return ClickStep(IDOK); }, 1, false},
        {"I do not accept", [] { return ClickStep(IDCANCEL); }, 0, false},
        {"close box", [] { return CloseBox(); }, 0, false},
        {"close box after the music started", [] { return CloseBox(); }, 0, true},
        {"Escape",
         [] {
             return Do("Escape", [](HWND page) {
                 HWND focus = GetFocus();
                 PostMessageA(focus ? focus : page, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
             });
         },
         0, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        ShowWindow(StatusWindow, SW_HIDE);
        TDriver d;
        d.pageTitle = kLicenceTitle;
        if (c.waitForMusic) d.steps.push_back({"music", [](HWND) { return IsWindowVisible(StatusWindow) != FALSE; }});
        d.steps.push_back(c.action());
        EXPECT_EQ(RunPage(IDD_LICENCEPAGE, LicencePageProc, d), c.result);
        ExpectClean(d);
        EXPECT_TRUE(d.boxesSeen.empty());
        PumpFor(450);  // past the music delay: an ended page starts nothing
        EXPECT_EQ(IsWindowVisible(StatusWindow) != FALSE, c.waitForMusic);
    }
    EXPECT_FALSE(BoundSoundEntries().mciSendString);
}

// ==== Main setup page ================================================================

TEST_F(PagesTest, MainPageShowsItsTextsAndCancelAsksFirst) {
    TDriver d;
    d.pageTitle = kSetupWindowTitle;
    std::string intro, destination, exitText, afterTyping;
    bool browseEnabled = false, noteVisible = true, bigIcon = false;
    HFONT font = nullptr;
    int height = 0;
    d.steps = {
        Do("look",
           [&](HWND page) {
               intro = ItemText(page, IDC_MAIN_INTRO);
               destination = ItemText(page, IDC_MAIN_DEST);
               browseEnabled = IsWindowEnabled(GetDlgItem(page, IDC_MAIN_BROWSE));
               bigIcon = SendMessageA(page, WM_GETICON, ICON_BIG, 0) != 0;
               font = reinterpret_cast<HFONT>(SendDlgItemMessageA(page, IDC_MAIN_DEST, WM_GETFONT, 0, 0));
               height = WindowHeight(page);
               // The note lies below the bottom edge, out of sight.
               RECT note{}, client{};
               GetWindowRect(GetDlgItem(page, IDC_MAIN_BROWSER_NOTE), &note);
               MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&note), 2);
               GetClientRect(page, &client);
               noteVisible = note.top < client.bottom;
           }),
        // Escape is ignored: no question, the page stays.
        Do("Escape",
           [](HWND page) {
               HWND focus = GetFocus();
               PostMessageA(focus ? focus : page, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
           }),
        WaitMs(300),
        // Typing does not change the destination field.
        Do("type",
           [&](HWND page) {
               SendDlgItemMessageA(page, IDC_MAIN_DEST, WM_CHAR, 'x', 0);
               afterTyping = ItemText(page, IDC_MAIN_DEST);
           }),
        ClickStep(IDC_MAIN_CANCEL),
        Answer(kConfirmExitCaption, IDNO, &exitText),
        WaitMs(300),
        {"still open", [](HWND page) { return IsWindowVisible(page) && IsWindowEnabled(page); }},
        CloseBox(),
        Answer(kConfirmExitCaption, IDYES),
    };
    EXPECT_EQ(RunPage(IDD_MAINPAGE, MainPageProc, d), 0);
    ExpectClean(d);
    EXPECT_EQ(intro, IntroText);
    EXPECT_EQ(destination, DefaultDestination);
    EXPECT_EQ(DestinationFolder, DefaultDestination);
    EXPECT_TRUE(browseEnabled);
    EXPECT_TRUE(bigIcon);
    EXPECT_FALSE(noteVisible);
    EXPECT_EQ(exitText, kConfirmExitText);
    // The two exit questions, no other box.
    EXPECT_EQ(d.boxesSeen, (std::vector<std::string>{kConfirmExitCaption, kConfirmExitCaption}));
    EXPECT_EQ(afterTyping, DefaultDestination);
    EXPECT_FALSE(Played(IDW_HIGHERVERSION));
    ASSERT_NE(DestinationFont, nullptr);
    EXPECT_EQ(font, DestinationFont);
    LOGFONTA lf{};
    ASSERT_TRUE(GetObjectA(DestinationFont, sizeof lf, &lf));
    EXPECT_EQ(lf.lfHeight, -11);
    EXPECT_GT(height, 0);
    // Nothing was created by cancelling.
    EXPECT_FALSE(voztest::FolderExists(DefaultDestination));
}

TEST_F(PagesTest, MainPageLocksTheDestinationOfAnExistingInstallation) {
    ExistingInstall = true;
    TDriver d;
    d.pageTitle = kSetupWindowTitle;
    bool browseEnabled = true;
    d.steps = {
        Do("look", [&](HWND page) { browseEnabled = IsWindowEnabled(GetDlgItem(page, IDC_MAIN_BROWSE)); }),
        EndWith(7),
    };
    EXPECT_EQ(RunPage(IDD_MAINPAGE, MainPageProc, d), 7);
    ExpectClean(d);
    EXPECT_FALSE(browseEnabled);
}

// The start button: the free-space question at 16 MB, then the folder, then
// the roll-up that ends the page with 1.
TEST_F(PagesTest, MainPageStartAsksAboutDiskSpaceBelowSixteenMegabytes) {
    struct TCase {
        const char* name;
        double freeMB;
        bool diskFails;
        int answer;  // 0: no question expected
        INT_PTR result;
    };
    const TCase cases[] = {
        {"exactly 16 MB", 16.0, false, 0, 1},
        {"15.9 MB, No", 15.9, false, IDNO, 0},
        {"15.9 MB, Yes", 15.9, false, IDYES, 1},
        {"drive not queryable, Yes", 0, true, IDYES, 1},
    };
    const std::string question = kDiskSpaceQuestion;
    EXPECT_NE(question.find(VOZ_PROFILE_DISK_SPACE_NAME ".\r\rWould"), std::string::npos);
    int n = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeFreeMB = c.freeMB;
        FakeDiskFails = c.diskFails;
        PlayedSounds.clear();
        // Three missing levels: the page creates them all.
        DefaultDestination = folder_ + "\\case" + std::to_string(++n) + kDefaultDestinationSuffix;
        TDriver d;
        d.pageTitle = kSetupWindowTitle;
        std::string asked;
        std::vector<int> heights;
        bool disabledWhileRolling = false;
        bool createdBeforeRolling = false;
        d.observe = [&](HWND page) {
            if (!IsWindowEnabled(page) && d.boxesUp.empty()) {
                if (!disabledWhileRolling) createdBeforeRolling = voztest::FolderExists(DefaultDestination);
                disabledWhileRolling = true;
            }
        };
        d.steps.push_back(ClickStep(IDC_MAIN_START));
        if (c.answer) d.steps.push_back(Answer(kDiskSpaceCaption, c.answer, &asked));
        if (c.result == 0) {
            d.steps.push_back(WaitMs(300));
            d.steps.push_back({"unchanged", [](HWND page) { return IsWindowEnabled(page) != FALSE; }});
            d.steps.push_back(ClickStep(IDC_MAIN_CANCEL));
            d.steps.push_back(Answer(kConfirmExitCaption, IDYES));
        }
        RolledHeights = &heights;
        HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROCRET, RecordRolledHeight, nullptr, GetCurrentThreadId());
        ASSERT_NE(hook, nullptr);
        EXPECT_EQ(RunPage(IDD_MAINPAGE, MainPageProc, d), c.result);
        UnhookWindowsHookEx(hook);
        RolledHeights = nullptr;
        ExpectClean(d);
        EXPECT_EQ(asked, c.answer ? question : "");
        EXPECT_EQ(d.boxesSeen.size(), (c.answer ? 1u : 0u) + (c.result == 0 ? 1u : 0u));
        EXPECT_EQ(voztest::FolderExists(DefaultDestination), c.result == 1);
        ASSERT_FALSE(QueriedRoots.empty());
        EXPECT_EQ(QueriedRoots.back(), DefaultDestination.substr(0, 2) + "\\");
        if (c.result == 1) {
            // Rolled up in 4-pixel steps while disabled, then "WAIT".
            EXPECT_TRUE(createdBeforeRolling);
            EXPECT_TRUE(disabledWhileRolling);
            ASSERT_GE(heights.size(), 3u);
            std::string all;
            for (int h : heights) all += std::to_string(h) + " ";
            SCOPED_TRACE(all);
            // Wine holds a captioned window at its minimum height for one step.
            int distinct = 1;
            for (size_t i = 1; i < heights.size(); ++i) {
                EXPECT_LE(heights[i], heights[i - 1] + 4) << i;
                EXPECT_GE(heights[i], heights[i - 1] - 12) << i;
                if (heights[i] != heights[i - 1]) ++distinct;
            }
            EXPECT_GE(distinct, heights.front() / 8);
            EXPECT_GT(heights.front(), 200);
            EXPECT_LT(heights.back(), 4);
            EXPECT_TRUE(Played(IDW_WAIT));
        } else {
            EXPECT_FALSE(disabledWhileRolling);
            EXPECT_FALSE(Played(IDW_WAIT));
        }
    }
}

TEST_F(PagesTest, MainPageReportsAFolderItCannotCreateAndStays) {
    // A file stands where a parent folder would have to be.
    const std::string blocker = folder_ + "\\blocker";
    WriteFileText(blocker, "x");
    DefaultDestination = blocker + kDefaultDestinationSuffix;
    TDriver d;
    d.pageTitle = kSetupWindowTitle;
    std::string error;
    int heightBefore = 0, heightAfter = 0;
    d.steps = {
        Do("height", [&](HWND page) { heightBefore = WindowHeight(page); }),
        ClickStep(IDC_MAIN_START),
        Answer(kFolderErrorCaption, IDOK, &error),
        WaitMs(300),
        {"stays",
         [&](HWND page) {
             heightAfter = WindowHeight(page);
             return IsWindowEnabled(page) != FALSE;
         }},
        ClickStep(IDC_MAIN_CANCEL),
        Answer(kConfirmExitCaption, IDYES),
    };
    EXPECT_EQ(RunPage(IDD_MAINPAGE, MainPageProc, d), 0);
    ExpectClean(d);
    EXPECT_EQ(error, std::string(kFolderErrorStart) + DefaultDestination + kFolderErrorEnd);
    EXPECT_NE(error.find("\r\rMake sure"), std::string::npos);
    EXPECT_NE(error.find("Under " VOZ_PROFILE_FOLDER_ERROR_WINDOWS " it is"), std::string::npos);
    EXPECT_EQ(heightAfter, heightBefore);
    EXPECT_EQ(DestinationFolder, DefaultDestination);
    EXPECT_FALSE(Played(IDW_WAIT));
    EXPECT_TRUE(voztest::FileExists(blocker));
}

// The browser note: shown below the grown page, blinking for five seconds,
// counted once per process. Both runs are in one test because BlinkCount
// carries over from the first run to the second.
TEST_F(PagesTest, MainPageBrowserNoteGrowsThePageAndBlinksOncePerProcess) {
    ASSERT_EQ(BlinkCount, 1) << "an earlier test blinked the note";

    // Height without the note, for the growth.
    int plainHeight = 0;
    {
        TDriver d;
        d.pageTitle = kSetupWindowTitle;
        d.steps = {Do("height", [&](HWND page) { plainHeight = WindowHeight(page); }), EndWith(7)};
        EXPECT_EQ(RunPage(IDD_MAINPAGE, MainPageProc, d), 7);
        ExpectClean(d);
    }

    struct TRun {
        DWORD platform;
        const char* noteText;
        int countAtEnd;
        std::vector<bool> visibility;  // the note after each tick
    };
    const std::string resourceNote =
        "For better processing of international (unicode) HTML, TXT, Adobe PDF, Microsoft Word and other MS "
        "Office files, it is recommended that you install this product under MS Windows 2000, XP, etc.";
    TRun runs[] = {
        {VER_PLATFORM_WIN32_NT, kBrowserVersionNote, 11, {}},
        {VER_PLATFORM_WIN32_WINDOWS, resourceNote.c_str(), 13, {}},
    };
    for (TRun& run : runs) {
        SCOPED_TRACE(run.platform);
        FakeBrowserVersion = 6;
        OsVersionInfo.dwPlatformId = run.platform;
        PlayedSounds.clear();
        TDriver d;
        d.pageTitle = kSetupWindowTitle;
        std::string note;
        int height = 0;
        bool noteInView = false;
        int lastCount = BlinkCount;
        d.observe = [&](HWND page) {
            if (BlinkCount != lastCount) {
                lastCount = BlinkCount;
                run.visibility.push_back(IsWindowVisible(GetDlgItem(page, IDC_MAIN_BROWSER_NOTE)) != FALSE);
            }
        };
        d.steps = {
            Do("look",
               [&](HWND page) {
                   note = ItemText(page, IDC_MAIN_BROWSER_NOTE);
                   height = WindowHeight(page);
                   RECT r{}, client{};
                   GetWindowRect(GetDlgItem(page, IDC_MAIN_BROWSER_NOTE), &r);
                   MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&r), 2);
                   GetClientRect(page, &client);
                   noteInView = r.top < client.bottom;
               }),
            {"blinking over", [&](HWND) { return BlinkCount == run.countAtEnd; }},
            WaitMs(1200),  // no further ticks
            EndWith(7),
        };
        EXPECT_EQ(RunPage(IDD_MAINPAGE, MainPageProc, d), 7);
        ExpectClean(d);
        EXPECT_EQ(note, run.noteText);
        EXPECT_EQ(height, plainHeight + 34);
        EXPECT_TRUE(noteInView);
        EXPECT_EQ(BlinkCount, run.countAtEnd);
        EXPECT_TRUE(Played(IDW_HIGHERVERSION));
    }
    // First run: hidden, shown, ... ten ticks ending shown. Second run: the
    // count is already past ten, so one hide and one show end it.
    EXPECT_EQ(runs[0].visibility, (std::vector<bool>{false, true, false, true, false, true, false, true, false, true}));
    EXPECT_EQ(runs[1].visibility, (std::vector<bool>{false, true}));
}

TEST_F(PagesTest, MainPageBrowsesThroughTheFolderBrowser) {
    TDriver d;
    d.pageTitle = kSetupWindowTitle;
    std::string shown;
    d.steps = {
        ClickStep(IDC_MAIN_BROWSE),
        {"browser cancelled",
         [](HWND page) {
             HWND browser = FindDialog("Select Destination Folder", page);
             if (!browser) return false;
             Click(browser, IDCANCEL);
             return true;
         }},
        WaitMs(200),
        Do("shown", [&](HWND page) { shown = ItemText(page, IDC_MAIN_DEST); }),
        EndWith(7),
    };
    EXPECT_EQ(RunPage(IDD_MAINPAGE, MainPageProc, d), 7);
    ExpectClean(d);
    EXPECT_EQ(AppendedFolder, FileNamePart(DefaultDestination));
    EXPECT_EQ(AppendedFolder, kDefaultDestinationSuffix + 9);  // "\Ovantis\" skipped
    EXPECT_EQ(MessageCaption, kSetupWindowTitle);
    // Cancelled on a folder that already ends with the product folder: unchanged.
    EXPECT_EQ(DestinationFolder, DefaultDestination);
    EXPECT_EQ(shown, DefaultDestination);
}

// ---- Main page helpers ----

TEST_F(PagesTest, FreeDiskSpaceAsksTheDriveRootAndCountsMegabytes) {
    FakeFreeMB = 16.0;
    EXPECT_DOUBLE_EQ(FreeDiskSpaceMB("c:\\some\\folder"), 16.0);
    ASSERT_EQ(QueriedRoots.size(), 1u);
    EXPECT_EQ(QueriedRoots[0], "C:\\");
    FakeFreeMB = 15.9;
    EXPECT_LT(FreeDiskSpaceMB("D:\\x"), 16.0);
    EXPECT_EQ(QueriedRoots.back(), "D:\\");
    FakeDiskFails = true;
    EXPECT_EQ(FreeDiskSpaceMB("Q:\\x"), -1.0);
    EXPECT_EQ(FreeDiskSpaceMB("Q"), -1.0);  // too short to name a drive
    EXPECT_EQ(FreeDiskSpaceMB(""), -1.0);
    // The real drive of the temp folder.
    SetDiskFreeSpaceProc(nullptr);
    EXPECT_GT(FreeDiskSpaceMB(folder_), 0.0);
    EXPECT_EQ(FreeDiskSpaceMB("Q:\\"), -1.0);  // no such drive in the prefix
}

int RefusedFolders = 0;
BOOL WINAPI RefuseFolder(LPCSTR, LPSECURITY_ATTRIBUTES) {
    ++RefusedFolders;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

TEST_F(PagesTest, DestinationFolderIsCreatedWithItsParents) {
    const std::string nested = folder_ + "\\a b\\c\\d";
    EXPECT_EQ(CreateDestinationFolder(nested), nested);
    EXPECT_TRUE(voztest::FolderExists(nested));
    // Again: it exists, nothing to do.
    EXPECT_EQ(CreateDestinationFolder(nested), nested);
    // A trailing backslash is kept in the answer.
    const std::string trailing = folder_ + "\\e\\f\\";
    EXPECT_EQ(CreateDestinationFolder(trailing), trailing);
    EXPECT_TRUE(voztest::FolderExists(folder_ + "\\e\\f"));

    // Impossible: a file in the way, or a drive that does not exist.
    WriteFileText(folder_ + "\\file", "x");
    EXPECT_EQ(CreateDestinationFolder(folder_ + "\\file\\sub"), "");
    EXPECT_EQ(CreateDestinationFolder("Q:\\Ovantis\\Perus"), "");
    EXPECT_EQ(CreateDestinationFolder(""), "");
    EXPECT_FALSE(voztest::FolderExists(folder_ + "\\file\\sub"));

    // When the open folder cannot be made, the plain one still is.
    SetCreateFolderProc(RefuseFolder);
    const std::string fallback = folder_ + "\\j\\k";
    EXPECT_EQ(CreateDestinationFolder(fallback), fallback);
    EXPECT_TRUE(voztest::FolderExists(fallback));
    EXPECT_GT(RefusedFolders, 0);
    SetCreateFolderProc(nullptr);

    // The fall-back alone (ShortUtl's chain).
    CreateFolderChain(folder_ + "\\g\\h\\i\\");
    EXPECT_TRUE(voztest::FolderExists(folder_ + "\\g\\h\\i"));
    CreateFolderChain("C:\\");
    CreateFolderChain("");
    EXPECT_TRUE(FolderPresent(folder_ + "\\g\\h\\i\\"));
    EXPECT_FALSE(FolderPresent(folder_ + "\\file"));
    EXPECT_FALSE(FolderPresent(folder_ + "\\nothing"));
    EXPECT_FALSE(FolderPresent(std::string(300, 'a')));
}

// ==== Finish page =====================================================================

class FinishPageTest : public PagesTest {
  protected:
    void SetUp() override {
        PagesTest::SetUp();
        RemoveQueryFolderType();
        savedPrograms_ = ProgramsFolder;
        savedDesktop_ = DesktopFolder;
        ProgramsFolder = folder_ + "\\Programs";
        DesktopFolder = folder_ + "\\Desktop";
        CreateDirectoryA(ProgramsFolder.c_str(), nullptr);
        CreateDirectoryA(DesktopFolder.c_str(), nullptr);
        CreateDirectoryA(GroupFolder().c_str(), nullptr);
        // The installed program, in a folder with blanks.
        DestinationFolder = folder_ + "\\Program Files" + kDefaultDestinationSuffix;
        ASSERT_EQ(CreateDestinationFolder(DestinationFolder), DestinationFolder);
        WriteFileText(Program(), "MZ");
        // The program-group shortcut of the post-install actions: no hot key.
        ASSERT_TRUE(CreateGroupShortcut(kProgramGroupName, kShortcutProgram, Program(), 0));
    }
    void TearDown() override {
        RemoveQueryFolderType();
        ProgramsFolder = savedPrograms_;
        DesktopFolder = savedDesktop_;
        PagesTest::TearDown();
    }
    std::string GroupFolder() const { return ProgramsFolder + "\\" + kProgramGroupName; }
    std::string GroupLink() const { return GroupFolder() + "\\" + kShortcutProgram + ".lnk"; }
    std::string DesktopLink() const { return DesktopFolder + "\\" + kDesktopShortcutName + ".lnk"; }
    std::string Program() const { return DestinationFolder + kProductProgram; }
    std::string savedPrograms_, savedDesktop_;
};

TEST_F(FinishPageTest, RollsDownOffersTwelveHotKeysAndTheCloseBoxAppliesNothing) {
    TDriver d;
    d.pageTitle = kFinishTitle;
    int firstHeight = -1;
    bool disabledAtFirst = false;
    std::vector<std::string> entries;
    int selected = -1;
    bool ticked = false, comboEnabled = false, focusOnOk = false, bigIcon = false;
    std::string text;
    int finalHeight = 0;
    d.observe = [&](HWND page) {
        if (firstHeight < 0) {
            firstHeight = WindowHeight(page);
            disabledAtFirst = !IsWindowEnabled(page);
        }
    };
    d.steps = {
        WaitEnabled(),
        Do("look",
           [&](HWND page) {
               const int count = static_cast<int>(SendDlgItemMessageA(page, IDC_FIN_HOTKEY_LIST, CB_GETCOUNT, 0, 0));
               for (int i = 0; i < count; ++i) {
                   char entry[64] = {};
                   SendDlgItemMessageA(page, IDC_FIN_HOTKEY_LIST, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry));
                   entries.push_back(entry);
               }
               selected = static_cast<int>(SendDlgItemMessageA(page, IDC_FIN_HOTKEY_LIST, CB_GETCURSEL, 0, 0));
               ticked = IsDlgButtonChecked(page, IDC_FIN_DESKTOP) == BST_CHECKED &&
                        IsDlgButtonChecked(page, IDC_FIN_ASSOCIATE) == BST_CHECKED &&
                        IsDlgButtonChecked(page, IDC_FIN_HOTKEY) == BST_CHECKED;
               comboEnabled = IsWindowEnabled(GetDlgItem(page, IDC_FIN_HOTKEY_LIST));
               focusOnOk = GetFocus() == GetDlgItem(page, IDOK);
               bigIcon = SendMessageA(page, WM_GETICON, ICON_BIG, 0) != 0;
               text = ItemText(page, IDC_FIN_TEXT);
               finalHeight = WindowHeight(page);
           }),
        CloseBox(),
    };
    EXPECT_EQ(RunPage(IDD_FINISHPAGE, FinishPageProc, d), 1);
    ExpectClean(d);
    EXPECT_TRUE(d.boxesSeen.empty());
    // Rolled down from (almost) nothing while disabled, to its full height.
    EXPECT_TRUE(disabledAtFirst);
    EXPECT_LT(firstHeight, FullHeight / 2);
    EXPECT_GT(FullHeight, 100);
    EXPECT_EQ(finalHeight, FullHeight);
    EXPECT_TRUE(focusOnOk);
    EXPECT_TRUE(Played(IDW_FINISHED));

    std::vector<std::string> expected;
    for (int k = 1; k <= 12; ++k) expected.push_back("Ctrl + Alt + F" + std::to_string(k));
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(selected, kHotKeyPreselect);
    EXPECT_TRUE(ticked);
    EXPECT_TRUE(comboEnabled);
    EXPECT_TRUE(bigIcon);
    EXPECT_EQ(text, kThankYouText);

    // The close box applied nothing.
    EXPECT_FALSE(voztest::FileExists(DesktopLink()));
    const voztest::TLinkInfo group = ReadLink(GroupLink());
    ASSERT_TRUE(group.loaded);
    EXPECT_EQ(group.hotKey, 0);
    EXPECT_FALSE(ClassKeyExists(kQueryExtension));
    EXPECT_FALSE(ClassKeyExists(kQueryFileTypeKey));
}

TEST_F(FinishPageTest, OkAppliesTheTickedOptions) {
    struct TCase {
        const char* name;
        bool desktop;
        bool associate;
        bool hotKey;
        int select;  // -1 keeps the preselected entry
        WORD expected;
    };
#if defined(VOZ_PROFILE_A)
    constexpr WORD kPreselected = 0x0674;  // Ctrl + Alt + F5
#else
    constexpr WORD kPreselected = 0x0676;  // Ctrl + Alt + F7
#endif
    const TCase cases[] = {
        {"everything as offered", true, true, true, -1, kPreselected},
        {"no desktop, F12", false, true, true, 11, 0x067B},
        {"no hot key, no association", true, false, false, 9, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveQueryFolderType();
        DeleteFileA(DesktopLink().c_str());
        ASSERT_TRUE(CreateGroupShortcut(kProgramGroupName, kShortcutProgram, Program(), 0));
        TDriver d;
        d.pageTitle = kFinishTitle;
        bool comboEnabled = true;
        d.steps = {
            WaitEnabled(),
            Do("choose",
               [c](HWND page) {
                   if (!c.desktop) CheckDlgButton(page, IDC_FIN_DESKTOP, BST_UNCHECKED);
                   if (!c.associate) CheckDlgButton(page, IDC_FIN_ASSOCIATE, BST_UNCHECKED);
                   if (c.select >= 0) SendDlgItemMessageA(page, IDC_FIN_HOTKEY_LIST, CB_SETCURSEL, c.select, 0);
                   if (!c.hotKey) {
                       CheckDlgButton(page, IDC_FIN_HOTKEY, BST_UNCHECKED);
                       Click(page, IDC_FIN_HOTKEY);
                   }
               }),
            WaitMs(100),
            Do("combo", [&](HWND page) { comboEnabled = IsWindowEnabled(GetDlgItem(page, IDC_FIN_HOTKEY_LIST)); }),
            ClickStep(IDOK),
        };
        EXPECT_EQ(RunPage(IDD_FINISHPAGE, FinishPageProc, d), 1);
        ExpectClean(d);
        EXPECT_TRUE(d.boxesSeen.empty());
        EXPECT_EQ(comboEnabled, c.hotKey);

        const voztest::TLinkInfo desktop = ReadLink(DesktopLink());
        EXPECT_EQ(desktop.loaded, c.desktop);
        if (c.desktop) {
            EXPECT_EQ(desktop.hotKey, c.expected);
            EXPECT_EQ(desktop.path, Program());
        }
        const voztest::TLinkInfo group = ReadLink(GroupLink());
        ASSERT_TRUE(group.loaded);
        EXPECT_EQ(group.hotKey, c.expected);
        EXPECT_EQ(group.path, Program());

        EXPECT_EQ(ClassKeyExists(kQueryExtension), c.associate);
        EXPECT_EQ(ClassKeyExists(kQueryFileTypeKey), c.associate);
        if (c.associate) {
            EXPECT_EQ(ReadClassValue(std::string(kQueryFileTypeKey) + "\\shell\\open\\command").text,
                      "\"" + Program() + "\" \"%1\"");
        }
    }
}

TEST_F(FinishPageTest, RegisterQueryFolderTypeWritesTheAssociation) {
    const std::string folder = std::string("C:\\Program Files") + kDefaultDestinationSuffix;
    RegisterQueryFolderType(folder);
    const std::string program = folder + kProductProgram;
    struct TExpected {
        std::string key;
        std::string value;
    };
    const TExpected expected[] = {
        {kQueryExtension, kQueryFileTypeKey},
        {kQueryFileTypeKey, kQueryTypeDescription},
        {std::string(kQueryFileTypeKey) + "\\DefaultIcon", program + ",-104"},
        {std::string(kQueryFileTypeKey) + "\\shell\\open\\command", "\"" + program + "\" \"%1\""},
    };
    for (const TExpected& e : expected) {
        SCOPED_TRACE(e.key);
        const TClassValue v = ReadClassValue(e.key);
        ASSERT_TRUE(v.found);
        EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(v.text, e.value);
        EXPECT_EQ(v.size, e.value.size() + 1);  // terminator stored
    }
    // Written again over itself: same result.
    RegisterQueryFolderType(folder);
    EXPECT_EQ(ReadClassValue(kQueryExtension).text, kQueryFileTypeKey);
}

TEST(FinishHotKey, CodesForTheTwelveEntries) {
    EXPECT_EQ(FinishHotKeyCode(0), 0x0670);
    EXPECT_EQ(FinishHotKeyCode(4), 0x0674);
    EXPECT_EQ(FinishHotKeyCode(11), 0x067B);
    EXPECT_EQ(FinishHotKeyCode(-1), 0);  // no selection: no hot key rather than a wrong one
    EXPECT_EQ(FinishHotKeyCode(12), 0);
}

}  // namespace
