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
