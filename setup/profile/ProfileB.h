// Product B: Mailvane. Included by Profile.h only; include Profile.h instead.
#pragma once

#ifndef VOZ_PROFILE_B
#error "ProfileB.h is included by Profile.h only"
#endif

// String pieces that other constants are built from.
#define VOZ_PROFILE_TRADEMARK_NAME "Mailvane(TM)"
#define VOZ_PROFILE_DISK_SPACE_NAME "Mailvane"
#define VOZ_PROFILE_FOLDER_ERROR_WINDOWS "Windows NT/2000/XP/2003/Vista"

// Features by build (the preprocessor forms are in ProductFacts.h).
inline constexpr bool kHasBrowserButton = false;        // module IEToolbarUnit
inline constexpr bool kHasSearchBoxHelper = true;       // started at logon
inline constexpr bool kHasLanguageChoice = false;       // language file from the system language
inline constexpr bool kHasExtensionsList = false;       // "Extensions" in the settings file
inline constexpr bool kHasCacheCleanup = false;         // page cache and cache tool
inline constexpr bool kHasObsoleteFileRemoval = false;  // files left by earlier versions
inline constexpr bool kHasSiteMapsShortcut = false;     // "\SiteMaps" and its shortcut

// Identity and titles.
inline constexpr char kFullName[] = PRODUCT_FULL_NAME;
inline constexpr char kShortName[] = PRODUCT_SHORT_NAME;
inline constexpr char kTrademarkName[] = "Mailvane(TM)";
inline constexpr char kSetupWindowTitle[] = PRODUCT_FULL_NAME " " PRODUCT_VERSION_TEXT " Setup";
inline constexpr char kSetupCaption[] = "Mailvane Setup";
inline constexpr char kFailureCaption[] = PRODUCT_FULL_NAME " " PRODUCT_VERSION_TEXT " Setup";
inline constexpr char kFinishTitle[] = VOZ_PROFILE_TRADEMARK_NAME " v" PRODUCT_VERSION_TEXT " has been installed";
inline constexpr char kLicenceTitle[] = "Mailvane(TM) End-User License Agreement";
inline constexpr char kBrowserVersionNote[] =
    "To be able to run Mailvane using a special box in MS Internet Explorer, consider the possibility either "
    "to install MS Internet Explorer 7+ or, to install Mailvane under Windows Vista or higher.";
// Main page: product name of the disk-space question and the two captions.
inline constexpr char kDiskSpaceCaption[] = "Mailvane Setup";
inline constexpr char kFolderErrorCaption[] = PRODUCT_FULL_NAME " " PRODUCT_VERSION_TEXT " Setup";

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
inline constexpr char kDefaultDestinationSuffix[] = VENDOR_FOLDER "\\" PRODUCT_SHORT_NAME;
inline constexpr char kProductProgram[] = "\\" PRODUCT_MAIN_PROGRAM;
inline constexpr char kSettingsFile[] = "\\" PRODUCT_SETTINGS_FILE;
inline constexpr char kProductDataFile[] = "\\" PRODUCT_DATA_FILE;
inline constexpr char kUninstallKeyName[] = PRODUCT_FULL_NAME;
inline constexpr char kUninstallKey[] = PRODUCT_UNINSTALL_KEY;
inline constexpr char kPreservedFile[] = PRODUCT_QUERY_FILE;
inline constexpr char kPreservedFileStart[] = PRODUCT_QUERY_MARKER;
inline constexpr char kQueryExtension[] = PRODUCT_QUERY_EXTENSION;
inline constexpr char kQueryExtensionText[] = ".MVF";
inline constexpr char kQueryFileTypeKey[] = PRODUCT_QUERY_TYPE;
inline constexpr char kQueryTypeDescription[] = "Mailv Query Folder";
inline constexpr char kQueryIconReference[] = "\\" PRODUCT_MAIN_PROGRAM ",-104";

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
