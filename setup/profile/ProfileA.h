// Product A: Perusant. Included by Profile.h only; include Profile.h instead.
#pragma once

#ifndef VOZ_PROFILE_A
#error "ProfileA.h is included by Profile.h only"
#endif

// String pieces that other constants are built from.
#define VOZ_PROFILE_FULL_NAME "Perusant"
#define VOZ_PROFILE_SHORT_NAME "Perus"
#define VOZ_PROFILE_TRADEMARK_NAME "Perus(TM)"
#define VOZ_PROFILE_DISK_SPACE_NAME "Perus"
#define VOZ_PROFILE_FOLDER_ERROR_WINDOWS "Windows NT/2000/XP/Vista"

// Features by build (preprocessor and C++ forms).
#define VOZ_FEATURE_BROWSER_BUTTON 1
#define VOZ_FEATURE_LANGUAGE_CHOICE 1
#define VOZ_FEATURE_EXTENSIONS_LIST 1
#define VOZ_FEATURE_CACHE_CLEANUP 1
#define VOZ_FEATURE_OBSOLETE_FILES 1
#define VOZ_FEATURE_SITE_MAPS 1

inline constexpr bool kHasBrowserButton = true;        // module IEToolbarUnit
inline constexpr bool kHasSearchBoxHelper = true;      // started at logon
inline constexpr bool kHasLanguageChoice = true;       // language file from the system language
inline constexpr bool kHasExtensionsList = true;       // "Extensions" in the settings file
inline constexpr bool kHasCacheCleanup = true;         // page cache and cache tool
inline constexpr bool kHasObsoleteFileRemoval = true;  // files left by earlier versions
inline constexpr bool kHasSiteMapsShortcut = true;     // "\SiteMaps" and its shortcut

// Identity and titles.
inline constexpr char kFullName[] = "Perusant";
inline constexpr char kShortName[] = "Perus";
inline constexpr char kTrademarkName[] = "Perus(TM)";
inline constexpr char kSetupWindowTitle[] = "Perusant 5.2 Setup";
inline constexpr char kSetupCaption[] = "Perus Setup";
inline constexpr char kFailureCaption[] = "Perus Setup";
inline constexpr char kFinishTitle[] = "Perus(TM) v5.2 has been installed";
inline constexpr char kLicenceTitle[] = "Perusant(TM) End-User License Agreement";
inline constexpr char kBrowserVersionNote[] =
    "To be able to issue Perus queries using a special search box in MS Internet Explorer, consider the "
    "possibility either to install MS Internet Explorer 7+ or, to install Perus under Windows Vista or higher.";
// Main page: product name of the disk-space question and the two captions.
inline constexpr char kDiskSpaceCaption[] = "Perus Setup";
inline constexpr char kFolderErrorCaption[] = "Perus Setup";

// Failure message of the installation run: lines separated by CR only.
inline constexpr char kFailureMessage[] =
    "Unable to extract data. Possible reasons include:\r"
    "\r"
    " * Only some part of the entire Perus Setup file has been downloaded or this file is just corrupted.\r"
    "   Solution: obtain a correct copy by visiting the Orvane Technologies Web site at "
    "https://www.orvane.example/\r"
    "\r"
    " * A previous copy of Perus or some of its components are active.\r"
    "   Solution: close all applications you may be running (including Perus, Windows Explorer, Internet "
    "Explorer, and any other windows), after which execute this setup program, again.\r"
    "\r"
    " * Under the Windows NT/2000/XP/2003/Vista you might not have enough permission to create and modify "
    "files in the folder, in which you are going to install Perus.\r"
    "   Solution 1: Run this utility once again and select another destination folder (such as, "
    "\"C:\\Ovantis\\Perus\").\r"
    "   Solution 2: Log off now, then logon as a privileged user (such as, \"Administrator\"), and run this "
    "setup program, again.";

// Folders, files and registration.
inline constexpr char kDefaultDestinationSuffix[] = "\\Ovantis\\Perus";
inline constexpr char kProductProgram[] = "\\Perus.exe";
inline constexpr char kSettingsFile[] = "\\Perus.ini";
inline constexpr char kProductDataFile[] = "\\Perus.pch";
inline constexpr char kUninstallKeyName[] = "Perusant";
inline constexpr char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Perusant";
inline constexpr char kPreservedFile[] = "Queries\\NoName.pqf";
inline constexpr char kPreservedFileStart[] = "Perusant";
inline constexpr char kQueryExtension[] = ".pqf";
inline constexpr char kQueryExtensionText[] = ".PQF";
inline constexpr char kQueryFileTypeKey[] = "perus_query_folder";
inline constexpr char kQueryTypeDescription[] = "Perus Query Folder";
inline constexpr char kQueryIconReference[] = "\\Perus.exe,-104";

// Start menu: program group and its shortcuts, in the order they are made.
// kShortcutSiteMaps is empty in a build without kHasSiteMapsShortcut.
inline constexpr char kProgramGroupName[] = "Perusant";
inline constexpr char kShortcutProgram[] = "Perus";
inline constexpr char kShortcutHelp[] = "Perus Help";
inline constexpr char kShortcutLibrary[] = "Perus Report Library";
inline constexpr char kShortcutSiteMaps[] = "Perus Site Maps";
inline constexpr char kShortcutLicence[] = "Perus License Agreement";
inline constexpr char kLibraryFolder[] = "\\Library";
inline constexpr char kSiteMapsFolder[] = "\\SiteMaps";
inline constexpr char kLicenceFile[] = "\\License.txt";

// Finish page.
inline constexpr char kDesktopShortcutName[] = "Perusant";
inline constexpr int kHotKeyPreselect = 4;  // Ctrl + Alt + F5

// Media.
inline constexpr char kMciAlias[] = "perus";

// Long texts (licence, introduction with the year placeholder, thank-you),
// generated from setup/profile/texts/A by scripts/gen-assets.
#include "assets/TextsA.h"
