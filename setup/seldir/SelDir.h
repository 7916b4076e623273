// Module SelDir: the folder browser (dialog IDD_FOLDERBROWSER).
//
// The product always goes into a folder of its own: whatever folder the user
// picks gets AppendedFolder added, unless it already is such a folder. The
// dialog creates nothing; the main page creates the folder at installation.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Product folder name appended to the choice; set by the caller before each use.
extern std::string AppendedFolder;
// Caption of the dialog's message boxes; set by the caller.
extern std::string MessageCaption;

// Runs the folder browser modally, owned by owner, starting at
// initialFolder; returns AddProductFolder of the accepted folder, or of
// initialFolder when the dialog is cancelled or closed.
std::string SelectDestFolder(HWND owner, const std::string& initialFolder);

// folder with "\" + AppendedFolder added unless its last component already
// is AppendedFolder.
std::string AddProductFolder(const std::string& folder);

// path is at least as long as AppendedFolder and ends with it, ASCII letters
// compared without case. A plain suffix test: "C:\XPerus" passes for "Perus".
bool EndsWithFolder(const std::string& path);

// The absolute form of path (GetFullPathNameA), with every doubled "\"
// collapsed to one (a leading "\\" as well). Empty when the path cannot be
// resolved: an empty path, or one whose full form exceeds MAX_PATH - 1.
std::string FullPathName(const std::string& path);

// ---- Test seams --------------------------------------------------------------
// The browser calls nothing a test needs to replace; a test reads its state.
struct TFolderBrowserState {
    // List index of the folder being shown: the last entry of the path chain
    // in the folder list.
    int32_t currentIndex = 0;
    // Drive-list index of the drive being shown, put back when a drive choice
    // is refused or cancelled; -1 when the shown folder is on no listed drive.
    int32_t currentDrive = 0;
    // The initial folder while the dialog runs; the accepted folder (without
    // the product folder) after OK.
    std::string chosenFolder;
};
TFolderBrowserState FolderBrowserState();
