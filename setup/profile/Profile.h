// Product profile: every name, title, file name, text and feature that
// differs between the two setup builds. A build selects exactly one profile
// with the compile definition VOZ_PROFILE_A (Perusant) or VOZ_PROFILE_B
// (Mailvane); nothing is chosen at run time.
//
// Every constant is a zero-terminated byte string (char array, so sizeof
// works and it converts to const char*), an integer, or a bool feature flag.
// Paths that are appended to a folder begin with a backslash.
#pragma once

#include <array>
#include <cstddef>

#include "ProductFacts.h"

#if defined(VOZ_PROFILE_A) && defined(VOZ_PROFILE_B)
#error "Both VOZ_PROFILE_A and VOZ_PROFILE_B are defined: a build carries one product profile"
#elif !defined(VOZ_PROFILE_A) && !defined(VOZ_PROFILE_B)
#error "Neither VOZ_PROFILE_A nor VOZ_PROFILE_B is defined: link against a NAME_A or NAME_B profile library"
#endif

// The settings section name is kept complemented among the constants so that
// it does not stand in the program as plain text; the start-up code restores
// it in a buffer of its own.
namespace VozProfileDetail {
template <std::size_t N>
consteval std::array<unsigned char, N - 1> Complement(const char (&text)[N]) {
    std::array<unsigned char, N - 1> out{};
    for (std::size_t i = 0; i + 1 < N; ++i) out[i] = static_cast<unsigned char>(~static_cast<unsigned char>(text[i]));
    return out;
}
}  // namespace VozProfileDetail

#if defined(VOZ_PROFILE_A)
#include "ProfileA.h"
#else
#include "ProfileB.h"
#endif

// ---- Shared by both products -------------------------------------------

inline constexpr char kVersionShown[] = PRODUCT_VERSION_TEXT;
inline constexpr char kMainWindowClass[] = "PVQInstWnd";
// The installed product's application window, looked for before the setup runs.
inline constexpr char kAppWindowClass[] = "TApplication";
inline constexpr const char* kAppWindowTitlePrefix = kFullName;
inline constexpr char kVendorFolder[] = VENDOR_FOLDER;
inline constexpr char kHelpProgram[] = "\\" PRODUCT_HELP_PROGRAM;
inline constexpr char kHelpPatch[] = "\\Help\\PVQHelp.pch";
inline constexpr char kUninstallKeyRoot[] = PRODUCT_UNINSTALL_ROOT;
inline constexpr char kMusicFileName[] = "_vtsetup.mid";
// Size of the music resource (RCDATA "MUSIC", a standard MIDI file).
inline constexpr unsigned kMusicSize = 3785;
// Name of the settings section in the product's INI file (seven characters,
// the same in both products), stored complemented.
inline constexpr std::array<unsigned char, 7> kSettingsSectionStored =
    VozProfileDetail::Complement(PRODUCT_SETTINGS_SECTION);
inline constexpr char kOptionsSection[] = "Options";

// Placeholder in kIntroText that the start-up code replaces with the year.
inline constexpr char kYearPlaceholder[] = "YYYY";

// Hot key choices of the finish page: "Ctrl + Alt + F1" .. "Ctrl + Alt + F12".
inline constexpr char kHotKeyEntryPrefix[] = "Ctrl + Alt + F";
inline constexpr int kHotKeyEntryCount = 12;

// Start-up check messages (their caption is kSetupWindowTitle).
inline constexpr char kProductRunningMessage[] =
    "Unable to proceed while " PRODUCT_FULL_NAME " is running. Please, close " PRODUCT_FULL_NAME
    " and run this setup program, again.";
inline constexpr char kWindowsVersionMessage[] = VOZ_PROFILE_TRADEMARK_NAME
    " requires MS Windows 98 or later editions to function. Please, consider the "
    "possibility to install this product under a later version of MS Windows.\r\n\r\n"
    "The setup program will now discontinue.";
inline constexpr char kColourDepthMessage[] = VOZ_PROFILE_TRADEMARK_NAME
    " has been designed to function on systems which have a color depth of more "
    "than 256 colors.\r\n\r\n"
    "Please, consider the possibility to increase your current display color depth by setting it to at least "
    "16 bits per a pixel; recommended is, a 32-bit (\"true color\") mode. The setup will now proceed, but some "
    "of its screens might not look properly in the current mode.";

// Main page: the disk-space question and the folder-creation error. The
// folder error is kFolderErrorStart + folder + kFolderErrorEnd.
inline constexpr char kDiskSpaceQuestion[] =
    "There is not enough disk space on the destination drive (recommended is at least 16MB). This may cause "
    "errors while installing or running " VOZ_PROFILE_DISK_SPACE_NAME
    ".\r\rWould you, nevertheless, wish to "
    "proceed now?";
inline constexpr char kFolderErrorStart[] = "The setup was unable to create the destination folder\r\"";
inline constexpr char kFolderErrorEnd[] =
    "\"\r\rMake sure that the full path to the folder is valid and that you have permission to create and "
    "modify files in it. Under " VOZ_PROFILE_FOLDER_ERROR_WINDOWS
    " it is recommended that you logon as "
    "\"Administrator\" and run this program, again.";

// Exit confirmation of the pages.
inline constexpr char kConfirmExitText[] = "Setup is not complete yet. Are you sure you want to exit setup now?";
inline constexpr char kConfirmExitCaption[] = "Exit Setup";

// ---- Build guards ----------------------------------------------------------
// A module that belongs to one product only starts its header with
//     #include "Profile.h"
//     VOZ_REQUIRE_FEATURE(kHasBrowserButton);
// so that the other product's build cannot compile it. The VOZ_FEATURE_...
// macros of ProductFacts.h carry the same flags for the preprocessor (#if).
#define VOZ_REQUIRE_FEATURE(flag) static_assert((flag), #flag " is not part of the " PRODUCT_FULL_NAME " build")
