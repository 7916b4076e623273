// Module SelDir: the path helpers on their own, and the folder browser run for
// real (SelectDestFolder) and driven by a thread timer that finds the dialog
// and its message boxes and sends them what a user's clicks would send.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "SelDir.h"
#include "TestSupport.h"
#include "resource.h"

namespace {

const char kDialogTitle[] = "Select Destination Folder";
const char kCaption[] = "SelDir Test";
const std::string kAddedLabel = "Destination f&older (\"Perus\" will be added):";
const std::string kPlainLabel = "Destination f&older:";

// ---------------------------------------------------------------------------
// Path helpers
// ---------------------------------------------------------------------------

class HelperTest : public ::testing::Test {
  protected:
    void SetUp() override { AppendedFolder = "Perus"; }
};

TEST_F(HelperTest, AddProductFolderAddsItUnlessTheLastComponentIsIt) {
    const struct {
        const char* path;
        const char* expected;
    } cases[] = {
        {"D:", "D:\\Perus"},
        {"D:\\", "D:\\Perus"},  // a root keeps a single separator
        {"C:\\Program Files", "C:\\Program Files\\Perus"},
        {"C:\\Apps\\Perus", "C:\\Apps\\Perus"},
        {"C:\\Apps\\pERUS", "C:\\Apps\\pERUS"},
        {"C:\\Apps\\XPerus", "C:\\Apps\\XPerus\\Perus"},  // whole component only
        {"C:\\Perus\\Bin", "C:\\Perus\\Bin\\Perus"},
        {"C:Perus", "C:Perus"},  // ":" ends a component too
    };
    for (const auto& c : cases) EXPECT_EQ(AddProductFolder(c.path), c.expected) << c.path;
}

TEST_F(HelperTest, EndsWithFolderIsASuffixTestWithoutCase) {
    const struct {
        const char* path;
        bool expected;
    } cases[] = {
        {"C:\\Perus", true},    {"C:\\apps\\PERUS", true}, {"perus", true}, {"C:\\XPerus", true},
        {"C:\\Perus\\", false}, {"Peru", false},           {"", false},     {"C:\\Perusx", false},
    };
    for (const auto& c : cases) EXPECT_EQ(EndsWithFolder(c.path), c.expected) << c.path;

    AppendedFolder = "Mailvane";
    EXPECT_TRUE(EndsWithFolder("D:\\Tools\\mailVANE"));
    EXPECT_FALSE(EndsWithFolder("vane"));
}

TEST_F(HelperTest, FullPathNameResolvesAndCollapsesDoubledBackslashes) {
    char cwd[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, cwd), 0u);
    std::string here = cwd;
    if (here.back() == '\\') here.pop_back();
    const std::string drive = here.substr(0, 2);

    const std::string longName(300, 'a');
    const struct {
        std::string path;
        std::string expected;
    } cases[] = {
        {"C:\\a\\\\b\\\\\\c", "C:\\a\\b\\c"},
        {"C:\\a\\..\\b", "C:\\b"},
        {"C:\\a\\.\\b\\", "C:\\a\\b\\"},
        {"sub", here + "\\sub"},
        {"\\top", drive + "\\top"},
        {"\\\\server\\share", "\\server\\share"},  // a leading pair collapses as well
        {"C:\\" + longName, ""},                   // the ANSI call takes MAX_PATH at most: fails cleanly
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(FullPathName(c.path), c.expected) << c.path;
}

// ---------------------------------------------------------------------------
// The dialog, driven step by step
// ---------------------------------------------------------------------------

struct TEntry {
    std::string text;
    LONG_PTR data;
};

std::string ItemText(HWND dialog, int id) {
    char text[1024] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

std::vector<TEntry> FolderEntries(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_SEL_FOLDERS);
    std::vector<TEntry> entries;
    const int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[MAX_PATH] = {};
        SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
        entries.push_back({text, static_cast<LONG_PTR>(SendMessageA(list, LB_GETITEMDATA, i, 0))});
    }
    return entries;
}

std::vector<TEntry> DriveEntries(HWND dialog) {
    HWND combo = GetDlgItem(dialog, IDC_SEL_DRIVES);
    std::vector<TEntry> entries;
    const int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[MAX_PATH + 8] = {};
        SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        entries.push_back({text, static_cast<LONG_PTR>(SendMessageA(combo, CB_GETITEMDATA, i, 0))});
    }
    return entries;
}

int DriveSelection(HWND dialog) {
    return static_cast<int>(SendDlgItemMessageA(dialog, IDC_SEL_DRIVES, CB_GETCURSEL, 0, 0));
}

int IndexOf(const std::vector<TEntry>& entries, const std::string& text) {
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].text == text) return static_cast<int>(i);
    return -1;
}

// "C:\a\b" -> {"C:\", "a", "b"}.
std::vector<std::string> Chain(const std::string& folder) {
    std::vector<std::string> chain;
    const size_t first = folder.find('\\');
    chain.push_back(folder.substr(0, first + 1));
    for (size_t start = first + 1; start < folder.size();) {
        size_t end = folder.find('\\', start);
        if (end == std::string::npos) end = folder.size();
        if (end > start) chain.push_back(folder.substr(start, end - start));
        start = end + 1;
    }
    return chain;
}

// The list shows the chain of folder, then (unless folder is the product
// folder) the product folder entry, then exactly the sub-folders given.
void ExpectFolderList(HWND dialog, const std::string& folder, bool productEntry,
                      const std::set<std::string>& subFolders) {
    const std::vector<std::string> chain = Chain(folder);
    const std::vector<TEntry> entries = FolderEntries(dialog);
    const int last = static_cast<int>(chain.size()) - 1;
    EXPECT_EQ(FolderBrowserState().currentIndex, last) << folder;
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_SEL_FOLDERS, LB_GETCURSEL, 0, 0), last) << folder;
    ASSERT_EQ(entries.size(), chain.size() + (productEntry ? 1 : 0) + subFolders.size()) << folder;
    for (int i = 0; i <= last; ++i) {
        EXPECT_EQ(entries[i].text, chain[i]);
        const LONG_PTR expected = (!productEntry && i == last) ? -6 * i : 6 * i;
        EXPECT_EQ(entries[i].data, expected) << chain[i];
    }
    size_t next = chain.size();
    if (productEntry) {
        EXPECT_EQ(entries[next].text, "Perus");
        EXPECT_EQ(entries[next].data, -6 * (last + 1));
        ++next;
    }
    std::set<std::string> listed;
    for (; next < entries.size(); ++next) {
        listed.insert(entries[next].text);
        EXPECT_EQ(entries[next].data, 6 * (last + 1)) << entries[next].text;
    }
    EXPECT_EQ(listed, subFolders) << folder;
    EXPECT_EQ(ItemText(dialog, IDC_SEL_LABEL), productEntry ? kAddedLabel : kPlainLabel) << folder;
}

void DoubleClick(HWND dialog, int index) {
    HWND list = GetDlgItem(dialog, IDC_SEL_FOLDERS);
    SendMessageA(list, LB_SETCURSEL, index, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SEL_FOLDERS, LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
}

void ChooseDrive(HWND dialog, int index, WORD notification = CBN_SELENDOK) {
    HWND combo = GetDlgItem(dialog, IDC_SEL_DRIVES);
    SendMessageA(combo, CB_SETCURSEL, index, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SEL_DRIVES, notification), reinterpret_cast<LPARAM>(combo));
}

// Posted, so that a message box it raises runs in the dialog's loop, not in
// the step that pressed the button.
void Press(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// A visible dialog of this thread with this title.
HWND FindDialog(const char* title) { return voztest::FindThreadDialog(title, nullptr, true); }

// A step runs on a timer tick with the browser's window; it returns false to
// be run again on the next tick (waiting for a message box, say).
using TStep = std::function<bool(HWND)>;

struct TScript {
    std::vector<TStep> steps;
    size_t next = 0;
    bool busy = false;
    int ticks = 0;
};
TScript* Script = nullptr;

constexpr int kTickMs = 20;
constexpr int kMaxTicks = 15000 / kTickMs;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (!Script || Script->busy) return;
    Script->busy = true;
    HWND dialog = FindDialog(kDialogTitle);
    if (++Script->ticks > static_cast<int>(voztest::Scaled(kMaxTicks))) {
        // Stuck: answer any box, then end the browser, so that the test fails
        // instead of hanging.
        if (HWND box = FindDialog(kCaption)) {
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            PostMessageA(box, WM_COMMAND, IDNO, 0);
        } else if (dialog) {
            EndDialog(dialog, 0);
        }
    } else if (dialog && Script->next < Script->steps.size()) {
        if (Script->steps[Script->next](dialog)) ++Script->next;
    }
    Script->busy = false;
}

// A step that waits for the message box, checks its text and presses answer.
TStep AnswerBox(std::string expectedText, int answer, UINT expectedIcon) {
    return [expectedText, answer, expectedIcon](HWND dialog) {
        HWND box = FindDialog(kCaption);
        if (!box) return false;
        EXPECT_EQ(GetWindow(box, GW_OWNER), dialog);
        EXPECT_EQ(ItemText(box, 0xFFFF), expectedText);
        if (expectedIcon == MB_ICONQUESTION) {
            EXPECT_TRUE(GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO) && !GetDlgItem(box, IDOK));
        } else {
            EXPECT_TRUE(GetDlgItem(box, IDOK) && !GetDlgItem(box, IDYES) && !GetDlgItem(box, IDCANCEL));
        }
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, answer)));
        return true;
    };
}

// A step that waits until the message box is gone (the dialog is back).
bool BoxGone(HWND) { return FindDialog(kCaption) == nullptr; }

std::string InvalidText(const std::string& text) {
    return "The specified folder \"" + text + "\" is invalid.\r\rPlease, enter a full path with drive letter.";
}

std::string CreateQuestion(const std::string& folder) {
    return "The folder \"" + folder + "\" does not exist.\r\rDo you want the folder to be created?";
}

std::string LongPathOf(const std::string& path) {
    char buffer[MAX_PATH];
    const DWORD length = GetLongPathNameA(path.c_str(), buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(buffer, length) : path;
}

class BrowserTest : public ::testing::Test {
  protected:
    void SetUp() override {
        AppendedFolder = "Perus";
        MessageCaption = kCaption;
        // The folders stand in the test's working folder, on the build's file
        // system: the hidden and system attributes must stick, and Wine keeps
        // them in extended attributes, which a temporary folder on a tmpfs (as
        // in the virtual machine) does not hold.
        char cwd[MAX_PATH] = {};
        const DWORD n = GetCurrentDirectoryA(MAX_PATH, cwd);
        ASSERT_TRUE(n > 0 && n < MAX_PATH);
        root = LongPathOf(cwd);
        if (root.back() == '\\') root.pop_back();
        root += "\\seldir_test_" + std::to_string(GetCurrentProcessId());
        voztest::RemoveTree(root);
        for (const char* sub :
             {"", "\\Alpha", "\\Alpha\\Inner", "\\Beta", "\\Gamma", "\\Hidden", "\\Sys", "\\perus", "\\perus\\Data"})
            ASSERT_TRUE(CreateDirectoryA((root + sub).c_str(), nullptr)) << sub;
        ASSERT_TRUE(SetFileAttributesA((root + "\\Hidden").c_str(), FILE_ATTRIBUTE_HIDDEN));
        ASSERT_TRUE(SetFileAttributesA((root + "\\Sys").c_str(), FILE_ATTRIBUTE_SYSTEM));
        ASSERT_TRUE(GetFileAttributesA((root + "\\Hidden").c_str()) & FILE_ATTRIBUTE_HIDDEN)
            << "the file system does not keep the hidden attribute";
        HANDLE file = CreateFileA((root + "\\file.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
    }
    void TearDown() override { voztest::RemoveTree(root); }

    // Runs the browser from initial through steps; every step must have run.
    std::string Run(const std::string& initial, std::vector<TStep> steps, HWND owner = nullptr) {
        TScript script;
        script.steps = std::move(steps);
        Script = &script;
        const UINT_PTR timer = SetTimer(nullptr, 0, kTickMs, Tick);
        EXPECT_NE(timer, 0u);
        const std::string result = SelectDestFolder(owner, initial);
        KillTimer(nullptr, timer);
        Script = nullptr;
        EXPECT_EQ(script.next, script.steps.size()) << "the browser ended before its script did";
        EXPECT_EQ(FindDialog(kDialogTitle), nullptr);
        return result;
    }

    std::string root;
    const std::set<std::string> rootSubs{"Alpha", "Beta", "Gamma"};
};

HICON DriveIcon(int id) {
    return static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, LR_SHARED));
}

TEST_F(BrowserTest, FillsBothListsAndCancelKeepsTheInitialFolder) {
    const std::string result =
        Run(root, {
                      [&](HWND dialog) {
                          EXPECT_EQ(ItemText(dialog, IDC_SEL_PATH), root);
                          // Hidden, system, the product folder (any case) and files stay out.
                          ExpectFolderList(dialog, root, true, rootSubs);
                          EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_SEL_PATH));

                          const std::vector<TEntry> drives = DriveEntries(dialog);
                          EXPECT_FALSE(drives.empty());
                          char previous = 0;
                          for (const TEntry& drive : drives) {
                              if (drive.text.size() < 3) {
                                  ADD_FAILURE() << "short drive entry " << drive.text;
                                  continue;
                              }
                              EXPECT_EQ(drive.text.substr(1, 2), ": ") << drive.text;
                              EXPECT_GT(drive.text[0], previous) << "drives in letter order";
                              previous = drive.text[0];
                              int icon = 0;
                              switch (GetDriveTypeA((drive.text.substr(0, 2) + "\\").c_str())) {
                              case DRIVE_REMOVABLE:
                                  icon = IDI_DRIVE_REMOVABLE;
                                  break;
                              case DRIVE_REMOTE:
                                  icon = IDI_DRIVE_NETWORK;
                                  break;
                              case DRIVE_CDROM:
                                  icon = IDI_DRIVE_CDROM;
                                  break;
                              default:
                                  icon = IDI_DRIVE_FIXED;
                                  break;
                              }
                              EXPECT_EQ(reinterpret_cast<HICON>(drive.data), DriveIcon(icon)) << drive.text;
                          }
                          const int selected = DriveSelection(dialog);
                          EXPECT_EQ(selected, FolderBrowserState().currentDrive);
                          EXPECT_GE(selected, 0);
                          if (selected >= 0) {
                              EXPECT_EQ(drives[selected].text[0], static_cast<char>(root[0] & ~0x20));
                          }
                          return true;
                      },
                      [&](HWND dialog) {
                          Press(dialog, IDCANCEL);
                          return true;
                      },
                  });
    EXPECT_EQ(result, root + "\\Perus");
    EXPECT_EQ(FolderBrowserState().chosenFolder, root);
}

TEST_F(BrowserTest, DoubleClicksGoIntoSubFoldersAndUpTheChain) {
    const std::vector<std::string> chain = Chain(root);
    const int rootIndex = static_cast<int>(chain.size()) - 1;
    const std::string parent = root.substr(0, root.rfind('\\'));
    const std::string drive = root.substr(0, 3);
    const std::string result =
        Run(root + "\\Beta", {
                                 [&](HWND dialog) {
                                     ExpectFolderList(dialog, root + "\\Beta", true, {});
                                     DoubleClick(dialog, rootIndex);  // the chain entry above: up one level
                                     EXPECT_EQ(ItemText(dialog, IDC_SEL_PATH), root);
                                     ExpectFolderList(dialog, root, true, rootSubs);
                                     DoubleClick(dialog, IndexOf(FolderEntries(dialog), "Alpha"));
                                     EXPECT_EQ(ItemText(dialog, IDC_SEL_PATH), root + "\\Alpha");
                                     ExpectFolderList(dialog, root + "\\Alpha", true, {"Inner"});
                                     DoubleClick(dialog, IndexOf(FolderEntries(dialog), "Inner"));
                                     EXPECT_EQ(ItemText(dialog, IDC_SEL_PATH), root + "\\Alpha\\Inner");
                                     DoubleClick(dialog, rootIndex - 1);  // two levels above the root of the test
                                     EXPECT_EQ(ItemText(dialog, IDC_SEL_PATH), parent);
                                     DoubleClick(dialog, 0);
                                     EXPECT_EQ(ItemText(dialog, IDC_SEL_PATH), drive);
                                     EXPECT_EQ(FolderEntries(dialog).at(0).text, drive);
                                     EXPECT_EQ(FolderBrowserState().currentIndex, 0);
                                     // The product folder entry is entered whether or not it exists.
                                     DoubleClick(dialog, 1);
                                     EXPECT_EQ(ItemText(dialog, IDC_SEL_PATH), drive + "Perus");
                                     ExpectFolderList(dialog, drive + "Perus", false, {});
                                     return true;
                                 },
                                 [&](HWND dialog) {
                                     PostMessageA(dialog, WM_CLOSE, 0, 0);
                                     return true;
                                 },
                             });
    EXPECT_EQ(result, root + "\\Beta\\Perus");
}

TEST_F(BrowserTest, TheProductFolderItselfGetsNoExtraEntryAndOkAcceptsIt) {
    const std::string result =
        Run(root + "\\perus\\", {
                                    [&](HWND dialog) {
                                        EXPECT_EQ(ItemText(dialog, IDC_SEL_PATH), root + "\\perus");
                                        ExpectFolderList(dialog, root + "\\perus", false, {"Data"});
                                        Press(dialog, IDC_SEL_OK);  // it exists: no question
                                        return true;
                                    },
                                });
    EXPECT_EQ(FolderBrowserState().chosenFolder, root + "\\perus");
    EXPECT_EQ(result, root + "\\perus");
}

TEST_F(BrowserTest, AMissingInitialFolderShowsItsNearestExistingAncestor) {
    const std::string initial = root + "\\Missing\\Deeper\\Perus";
    const std::string result = Run(initial, {
                                                [&](HWND dialog) {
                                                    EXPECT_EQ(ItemText(dialog, IDC_SEL_PATH), root);
                                                    ExpectFolderList(dialog, root, true, rootSubs);
                                                    Press(dialog, IDCANCEL);
                                                    return true;
                                                },
                                            });
    EXPECT_EQ(result, initial);
    EXPECT_EQ(FolderBrowserState().chosenFolder, initial);
    EXPECT_FALSE(GetFileAttributesA((root + "\\Missing").c_str()) != INVALID_FILE_ATTRIBUTES);
}

TEST_F(BrowserTest, AnUnreachableInitialFolderShowsTheCurrentDirectory) {
    char missing = 0;
    for (char letter = 'Y'; letter >= 'K' && !missing; --letter)
        if (GetDriveTypeA((std::string(1, letter) + ":\\").c_str()) == DRIVE_NO_ROOT_DIR) missing = letter;
    if (!missing) GTEST_SKIP() << "every drive letter is in use";
    char cwd[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, cwd), 0u);

    const std::string initial = std::string(1, missing) + ":\\Programs\\Perus";
    const std::string result =
        Run(initial, {
                         [&](HWND dialog) {
                             EXPECT_EQ(ItemText(dialog, IDC_SEL_PATH), cwd);
                             EXPECT_EQ(FolderEntries(dialog).at(0).text, std::string(cwd).substr(0, 3));
                             Press(dialog, IDCANCEL);
                             return true;
                         },
                     });
    EXPECT_EQ(result, initial);
}

TEST_F(BrowserTest, ADriveChoiceShowsItsRootAndAnUnreadableOneIsPutBack) {
    const std::string result =
        Run(root, {
                      [&](HWND dialog) {
                          const std::vector<TEntry> drives = DriveEntries(dialog);
                          const int first = DriveSelection(dialog);
                          int other = -1;
                          for (size_t i = 0; i < drives.size() && other < 0; ++i)
                              if (static_cast<int>(i) != first &&
                                  GetDriveTypeA((drives[i].text.substr(0, 2) + "\\").c_str()) == DRIVE_FIXED)
                                  other = static_cast<int>(i);
                          if (other < 0) {
                              ADD_FAILURE() << "no second fixed drive to choose (Wine maps Z: to /)";
                              return true;
                          }
                          const std::string otherRoot = drives[other].text.substr(0, 2) + "\\";
                          ChooseDrive(dialog, other);
                          EXPECT_EQ(ItemText(dialog, IDC_SEL_PATH), otherRoot);
                          EXPECT_EQ(FolderBrowserState().currentDrive, other);
                          EXPECT_EQ(DriveSelection(dialog), other);
                          EXPECT_EQ(FolderEntries(dialog).at(0).text, otherRoot);
                          EXPECT_EQ(FolderBrowserState().currentIndex, 0);

                          // Closing the drop-down without a choice puts the shown drive back.
                          ChooseDrive(dialog, first, CBN_SELENDCANCEL);
                          EXPECT_EQ(DriveSelection(dialog), other);

                          // A drive that cannot be listed: refused silently.
                          char missing = 0;
                          for (char letter = 'Y'; letter >= 'K' && !missing; --letter)
                              if (GetDriveTypeA((std::string(1, letter) + ":\\").c_str()) == DRIVE_NO_ROOT_DIR)
                                  missing = letter;
                          if (missing) {
                              const std::string entry = std::string(1, missing) + ": ";
                              const int added = static_cast<int>(SendDlgItemMessageA(
                                  dialog, IDC_SEL_DRIVES, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str())));
                              ChooseDrive(dialog, added);
                              EXPECT_EQ(DriveSelection(dialog), other);
                              EXPECT_EQ(FolderBrowserState().currentDrive, other);
                              EXPECT_EQ(ItemText(dialog, IDC_SEL_PATH), otherRoot);
                              EXPECT_EQ(FindDialog(kCaption), nullptr) << "no message for a refused drive";
                          }
                          ChooseDrive(dialog, first);
                          EXPECT_EQ(ItemText(dialog, IDC_SEL_PATH), drives[first].text.substr(0, 2) + "\\");
                          Press(dialog, IDCANCEL);
                          return true;
                      },
                  });
    EXPECT_EQ(result, root + "\\Perus");
}

TEST_F(BrowserTest, OkOnAMissingFolderAsksAndNoStaysYesAccepts) {
    const std::string typed = root + "\\New\\Place\\";
    const std::string folder = root + "\\New\\Place";
    const std::string result = Run(root, {
                                             [&](HWND dialog) {
                                                 SetDlgItemTextA(dialog, IDC_SEL_PATH, typed.c_str());
                                                 Press(dialog, IDC_SEL_OK);
                                                 return true;
                                             },
                                             AnswerBox(CreateQuestion(folder + "\\Perus"), IDNO, MB_ICONQUESTION),
                                             BoxGone,
                                             [&](HWND dialog) {
                                                 EXPECT_EQ(ItemText(dialog, IDC_SEL_PATH), typed)
                                                     << "still open after No";
                                                 EXPECT_EQ(FolderBrowserState().chosenFolder, root);
                                                 Press(dialog, IDC_SEL_OK);
                                                 return true;
                                             },
                                             AnswerBox(CreateQuestion(folder + "\\Perus"), IDYES, MB_ICONQUESTION),
                                         });
    EXPECT_EQ(FolderBrowserState().chosenFolder, folder);
    EXPECT_EQ(result, folder + "\\Perus");
    EXPECT_EQ(GetFileAttributesA((root + "\\New").c_str()), INVALID_FILE_ATTRIBUTES) << "nothing is created";
}

TEST_F(BrowserTest, InvalidPathsAreRefusedWithAWarning) {
    char cwd[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, cwd), 0u);
    const std::string tooLong = "C:\\" + std::string(300, 'x');
    std::vector<TStep> steps;
    for (const std::string& typed :
         {std::string("Q"), std::string("folder"), std::string("C:"), std::string("ab\\c"), tooLong}) {
        steps.push_back([typed](HWND dialog) {
            SetDlgItemTextA(dialog, IDC_SEL_PATH, typed.c_str());
            Press(dialog, IDC_SEL_OK);
            return true;
        });
        steps.push_back(AnswerBox(InvalidText(typed), IDOK, MB_ICONWARNING));
        steps.push_back(BoxGone);
    }
    // A drive-relative path passes the check and is resolved; the question
    // names the resolved folder.
    const std::string relative = std::string(cwd).substr(0, 2) + "seldir_relative_missing";
    const std::string resolved = FullPathName(relative);
    steps.push_back([relative](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_SEL_PATH, relative.c_str());
        Press(dialog, IDC_SEL_OK);
        return true;
    });
    steps.push_back(AnswerBox(CreateQuestion(resolved + "\\Perus"), IDYES, MB_ICONQUESTION));

    Run(root, steps);
    EXPECT_EQ(FolderBrowserState().chosenFolder, resolved);
    EXPECT_EQ(resolved, std::string(cwd) + (std::string(cwd).back() == '\\' ? "" : "\\") + "seldir_relative_missing");
}

TEST_F(BrowserTest, OkOnADriveRootGivesTheBareDrive) {
    const std::string drive = root.substr(0, 2);
    const std::string result =
        Run(root, {
                      [&](HWND dialog) {
                          SetDlgItemTextA(dialog, IDC_SEL_PATH, (drive + "\\").c_str());
                          Press(dialog, IDC_SEL_OK);
                          return true;
                      },
                      [&](HWND dialog) {  // a question only when the product folder is missing there
                          if (HWND box = FindDialog(kCaption)) {
                              EXPECT_EQ(ItemText(box, 0xFFFF), CreateQuestion(drive + "\\Perus"));
                              PostMessageA(box, WM_COMMAND, IDYES, 0);
                          }
                          (void)dialog;
                          return true;
                      },
                  });
    EXPECT_EQ(FolderBrowserState().chosenFolder, drive);
    EXPECT_EQ(result, drive + "\\Perus");
}

TEST_F(BrowserTest, EnterOpensTheHighlightedFolderThenAccepts) {
    const std::string result =
        Run(root, {
                      [&](HWND dialog) {
                          HWND list = GetDlgItem(dialog, IDC_SEL_FOLDERS);
                          SetFocus(list);
                          SendMessageA(list, LB_SETCURSEL, IndexOf(FolderEntries(dialog), "Gamma"), 0);
                          PostMessageA(list, WM_KEYDOWN, VK_RETURN, 0);
                          PostMessageA(list, WM_KEYUP, VK_RETURN, 0xC0000001);
                          return true;
                      },
                      [&](HWND dialog) {
                          EXPECT_EQ(ItemText(dialog, IDC_SEL_PATH), root + "\\Gamma") << "opened, not accepted";
                          ExpectFolderList(dialog, root + "\\Gamma", true, {});
                          // Now the shown folder is the highlighted one: Enter accepts.
                          HWND list = GetDlgItem(dialog, IDC_SEL_FOLDERS);
                          EXPECT_EQ(GetFocus(), list);
                          PostMessageA(list, WM_KEYDOWN, VK_RETURN, 0);
                          PostMessageA(list, WM_KEYUP, VK_RETURN, 0xC0000001);
                          return true;
                      },
                      AnswerBox(CreateQuestion(root + "\\Gamma\\Perus"), IDYES, MB_ICONQUESTION),
                  });
    EXPECT_EQ(FolderBrowserState().chosenFolder, root + "\\Gamma");
    EXPECT_EQ(result, root + "\\Gamma\\Perus");
}

TEST_F(BrowserTest, OpensAtTheOriginOfItsOwnersClientArea) {
    HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, 120, 90, 600, 450, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(owner, nullptr);
    POINT origin = {0, 0};
    ClientToScreen(owner, &origin);
    Run(root,
        {
            [&](HWND dialog) {
                // The template places the dialog's client area, frame around it.
                POINT client = {0, 0};
                ClientToScreen(dialog, &client);
                EXPECT_EQ(client.x, origin.x);
                EXPECT_EQ(client.y, origin.y);
                EXPECT_EQ(GetWindow(dialog, GW_OWNER), owner);
                EXPECT_FALSE(IsWindowEnabled(owner)) << "modal";
                Press(dialog, IDCANCEL);
                return true;
            },
        },
        owner);
    DestroyWindow(owner);
}

TEST_F(BrowserTest, ItemsAreDrawnIndentedWithTheirIcons) {
    Run(root, {
                  [&](HWND dialog) {
                      HWND list = GetDlgItem(dialog, IDC_SEL_FOLDERS);
                      // Both owner-drawn lists measure their items at 16 pixels.
                      EXPECT_EQ(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0), 16);
                      EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_SEL_DRIVES, CB_GETITEMHEIGHT, 0, 0), 16);
                      const std::vector<TEntry> entries = FolderEntries(dialog);
                      const int product = IndexOf(entries, "Perus");
                      if (product < 0) {
                          ADD_FAILURE() << "no product folder entry";
                          Press(dialog, IDCANCEL);
                          return true;
                      }
                      HDC screen = GetDC(nullptr);
                      HDC dc = CreateCompatibleDC(screen);
                      HBITMAP bitmap = CreateCompatibleBitmap(screen, 400, 16);
                      ReleaseDC(nullptr, screen);
                      HGDIOBJ old = SelectObject(dc, bitmap);
                      const COLORREF background = RGB(1, 2, 3);
                      SetBkColor(dc, background);
                      SetTextColor(dc, RGB(250, 250, 250));

                      DRAWITEMSTRUCT item = {};
                      item.CtlType = ODT_LISTBOX;
                      item.CtlID = IDC_SEL_FOLDERS;
                      item.itemID = static_cast<UINT>(product);
                      item.itemAction = ODA_DRAWENTIRE;
                      item.itemState = ODS_SELECTED | ODS_FOCUS;
                      item.hwndItem = list;
                      item.hDC = dc;
                      item.rcItem = {0, 0, 400, 16};
                      item.itemData = static_cast<ULONG_PTR>(entries[product].data);
                      SendMessageA(dialog, WM_DRAWITEM, IDC_SEL_FOLDERS, reinterpret_cast<LPARAM>(&item));
                      const int indent = static_cast<int>(-entries[product].data);
                      // Highlighted: the left margin is filled in the highlight colour,
                      // the colours of the DC come back afterwards.
                      EXPECT_EQ(GetPixel(dc, 1, 8), GetSysColor(COLOR_HIGHLIGHT));
                      EXPECT_EQ(GetPixel(dc, 399, 8), GetSysColor(COLOR_HIGHLIGHT));
                      EXPECT_EQ(GetBkColor(dc), background);
                      // The icon sits at 2 + indent: something other than the fill there.
                      bool iconDrawn = false;
                      for (int x = 2 + indent; x < 2 + indent + 16 && !iconDrawn; ++x)
                          for (int y = 0; y < 16 && !iconDrawn; ++y)
                              iconDrawn = GetPixel(dc, x, y) != GetSysColor(COLOR_HIGHLIGHT);
                      EXPECT_TRUE(iconDrawn);

                      // Not focused: the DC's own background.
                      item.itemState = ODS_SELECTED;
                      SendMessageA(dialog, WM_DRAWITEM, IDC_SEL_FOLDERS, reinterpret_cast<LPARAM>(&item));
                      EXPECT_EQ(GetPixel(dc, 1, 8), background);
                      EXPECT_EQ(GetPixel(dc, 399, 8), background);

                      SelectObject(dc, old);
                      DeleteObject(bitmap);
                      DeleteDC(dc);
                      Press(dialog, IDCANCEL);
                      return true;
                  },
              });
}

}  // namespace
