// Product B: Mailvane. Included by Profile.h only; include Profile.h instead.
#pragma once

#ifndef VOZ_PROFILE_B
#error "ProfileB.h is included by Profile.h only"
#endif

// String pieces that other constants are built from.
#define VOZ_PROFILE_FULL_NAME "Mailvane"
#define VOZ_PROFILE_SHORT_NAME "Mailv"
#define VOZ_PROFILE_TRADEMARK_NAME "Mailvane(TM)"
#define VOZ_PROFILE_DISK_SPACE_NAME "Mailvane"
#define VOZ_PROFILE_FOLDER_ERROR_WINDOWS "Windows NT/2000/XP/2003/Vista"

// Features by build (preprocessor and C++ forms).
#define VOZ_FEATURE_BROWSER_BUTTON 0
#define VOZ_FEATURE_LANGUAGE_CHOICE 0
#define VOZ_FEATURE_EXTENSIONS_LIST 0
#define VOZ_FEATURE_CACHE_CLEANUP 0
#define VOZ_FEATURE_OBSOLETE_FILES 0
#define VOZ_FEATURE_SITE_MAPS 0

inline constexpr bool kHasBrowserButton = false;        // module IEToolbarUnit
inline constexpr bool kHasSearchBoxHelper = true;       // started at logon
inline constexpr bool kHasLanguageChoice = false;       // language file from the system language
inline constexpr bool kHasExtensionsList = false;       // "Extensions" in the settings file
inline constexpr bool kHasCacheCleanup = false;         // page cache and cache tool
inline constexpr bool kHasObsoleteFileRemoval = false;  // files left by earlier versions
inline constexpr bool kHasSiteMapsShortcut = false;     // "\SiteMaps" and its shortcut

// Identity and titles.
inline constexpr char kFullName[] = "Mailvane";
inline constexpr char kShortName[] = "Mailv";
inline constexpr char kTrademarkName[] = "Mailvane(TM)";
inline constexpr char kSetupWindowTitle[] = "Mailvane 5.2 Setup";
inline constexpr char kSetupCaption[] = "Mailvane Setup";
inline constexpr char kFailureCaption[] = "Mailvane 5.2 Setup";
inline constexpr char kFinishTitle[] = "Mailvane(TM) v5.2 has been installed";
inline constexpr char kLicenceTitle[] = "Mailvane(TM) End-User License Agreement";
inline constexpr char kBrowserVersionNote[] =
    "To be able to run Mailvane using a special box in MS Internet Explorer, consider the possibility either "
    "to install MS Internet Explorer 7+ or, to install Mailvane under Windows Vista or higher.";
// Main page: product name of the disk-space question and the two captions.
inline constexpr char kDiskSpaceCaption[] = "Mailvane Setup";
inline constexpr char kFolderErrorCaption[] = "Mailvane 5.2 Setup";

// Failure message of the installation run: lines separated by CR only.
inline constexpr char kFailureMessage[] =
    "Unable to extract data. Possible reasons include:\r"
    "\r"
    " * Only some part of the entire Mailvane Setup file has been downloaded or this file is corrupted.\r"
    "   Solution: obtain a correct copy by visiting the Orvane Technologies Web site at "
    "https://www.orvane.example/\r"
    "\r"
    " * A previous copy of Mailvane or some of its components are active.\r"
    "   Solution: close all applications you may be running (including Mailvane, Windows Explorer, Internet "
    "Explorer, and any other windows), after which execute this setup program, again.\r"
    "\r"
    " * Under Windows NT/2000/XP/2003/Vista you might not have enough permission to create and modify "
    "files in the folder, in which you are going to install Mailvane.\r"
    "   Solution 1: Run this utility once again and select another destination folder (such as, "
    "\"C:\\Ovantis\\Mailv\").\r"
    "   Solution 2: Log off now, then logon as a privileged user (such as, \"Administrator\"), and run this "
    "setup program, again.";

// Folders, files and registration.
inline constexpr char kDefaultDestinationSuffix[] = "\\Ovantis\\Mailv";
inline constexpr char kProductProgram[] = "\\Mailv.exe";
inline constexpr char kSettingsFile[] = "\\Mailv.ini";
inline constexpr char kProductDataFile[] = "\\Mailv.pch";
inline constexpr char kUninstallKeyName[] = "Mailvane";
inline constexpr char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mailvane";
inline constexpr char kPreservedFile[] = "Queries\\NoName.mvf";
// Differs from the full name in letter case; the test is case-sensitive.
inline constexpr char kPreservedFileStart[] = "MailVane";
inline constexpr char kQueryExtension[] = ".mvf";
inline constexpr char kQueryExtensionText[] = ".MVF";
inline constexpr char kQueryFileTypeKey[] = "mailv_query_folder";
inline constexpr char kQueryTypeDescription[] = "Mailv Query Folder";
inline constexpr char kQueryIconReference[] = "\\Mailv.exe,-104";

// Start menu: program group and its shortcuts, in the order they are made.
// kShortcutSiteMaps is empty in a build without kHasSiteMapsShortcut.
inline constexpr char kProgramGroupName[] = "Mailvane";
inline constexpr char kShortcutProgram[] = "Mailvane";
inline constexpr char kShortcutHelp[] = "Help";
inline constexpr char kShortcutLibrary[] = "Report Library";
inline constexpr char kShortcutSiteMaps[] = "";
inline constexpr char kShortcutLicence[] = "License Agreement";
inline constexpr char kLibraryFolder[] = "\\Library";
inline constexpr char kSiteMapsFolder[] = "";
inline constexpr char kLicenceFile[] = "\\License.txt";

// Finish page.
inline constexpr char kDesktopShortcutName[] = "Mailvane";
inline constexpr int kHotKeyPreselect = 6;  // Ctrl + Alt + F7

// Media.
inline constexpr char kMciAlias[] = "mailv";

// Long texts (licence, introduction with the year placeholder, thank-you),
// generated from setup/profile/texts/B by scripts/gen-assets.
#include "assets/TextsB.h"
