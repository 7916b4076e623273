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
// The initial folder while the dialog runs; the accepted folder (without the
// product folder) after OK.
extern std::string ChosenFolder;

// Runs the folder browser modally, owned by owner, starting at
// initialFolder; returns AddProductFolder(ChosenFolder) whatever the dialog's
// result, so Cancel yields the initial folder with the product folder added.
std::string SelectDestFolder(HWND owner, const std::string& initialFolder);

// folder with "\" + AppendedFolder added unless its last component already
// is AppendedFolder.
std::string AddProductFolder(const std::string& folder);

// ---------------------------------------------------------------------------
// The rest of the module: the dialog and its helpers, public so that they can
// be exercised on their own.
// ---------------------------------------------------------------------------

// List index of the folder being shown: the last entry of the path chain in
// the folder list.
extern int32_t CurrentIndex;
// Drive-list index of the drive being shown, put back when a drive choice is
// refused or cancelled; -1 when the shown folder is on no listed drive.
extern int32_t CurrentDrive;

// Dialog procedure of the folder browser. True for WM_CLOSE, WM_DRAWITEM,
// WM_MEASUREITEM, WM_INITDIALOG and WM_COMMAND; false for everything else.
// WM_INITDIALOG takes the initial folder (const char*) as lParam.
INT_PTR CALLBACK FolderDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// path is at least as long as AppendedFolder and ends with it, ASCII letters
// compared without case. A plain suffix test: "C:\XPerus" passes for "Perus".
bool EndsWithFolder(const std::string& path);

// The absolute form of path (GetFullPathNameA), with every doubled "\"
// collapsed to one (a leading "\\" as well). Empty when the path cannot be
// resolved: an empty path, or one whose full form exceeds MAX_PATH - 1.
std::string FullPathName(const std::string& path);

// Fills the running dialog's folder list: the chain of folder's components
// (the first one with its "\", as in "C:\"), then the product folder entry
// unless folder already ends with it, then folder's visible sub-folders in
// the order the file system returns them. Sets CurrentIndex and the label
// above the path field. Item data: indentation in pixels, negative for the
// product folder entry.
void FillFolderList(const std::string& folder);

// Fills the running dialog's drive list with every drive A: to Z: that has a
// root ("C: label"), each with its drive icon as item data, and selects the
// drive of the folder in the path field (CurrentDrive).
void FillDriveList();

// The folder that the selected entry of the folder list stands for: a chain
// entry goes up to it, a sub-folder or the product folder entry goes into
// it. Empty when nothing is selected.
std::string PathFromList(HWND list);
