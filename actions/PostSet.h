// Module PostSet: what the setup does to the machine around the extraction.
//
// PreserveCustomFiles runs before the payload is extracted and keeps the
// content of user-editable files that the extraction would overwrite;
// RunPostInstall runs after a successful extraction: program group and
// shortcuts, uninstall entry, browser button (Perusant only), settings file,
// the help program rebuilt from its patch, the preserved files put back,
// files of earlier versions and unusable readers removed, language files and
// default language (Perusant only), page cache (Perusant only) and the
// search-box helper.
//
// Built once per product profile (library postset_A / postset_B). Nothing
// here shows a message or raises an exception; one thread only.
#pragma once

#include <cstddef>
#include <string>

#include "Archive.h"  // TPumpProc

// A user file that a re-installation must not lose. FileName is relative to
// the destination folder (no leading backslash); Marker is the text a
// genuine file of this kind begins with (compared case-sensitively).
// Content is empty until PreserveCustomFiles finds such a file.
struct TCustomFileToSave {
    std::string Content;
    std::string FileName;
    std::string Marker;
};

// The product's preserved files (one entry per product); their Content is
// the only state carried from PreserveCustomFiles to RunPostInstall.
extern TCustomFileToSave CustomFilesToSave[1];
inline constexpr size_t kCustomFileCount = 1;

// For each entry, Content becomes ReadMarkedFile(destination + "\" +
// FileName, Marker). destination has no trailing backslash. Always true.
bool PreserveCustomFiles(const std::string& destination);

// The whole content of the file when it can be read and begins with marker
// (byte for byte, case-sensitive); empty otherwise (missing, unreadable,
// over-long path, different beginning). An empty marker accepts any file.
std::string ReadMarkedFile(const std::string& path, const std::string& marker);

// The post-install steps, in their fixed order, with pump (may be null)
// called between them and during the initial ten-second wait. destination
// is the installation folder without a trailing backslash.
//
// True when the help program was rebuilt from "\Help\PVQHelp.pch" and the
// main program; false only when that fails (the patch file is deleted
// either way). Every other failure (a shortcut, the uninstall key, a
// settings-file write, a file that cannot be deleted) is passed over and the
// sequence goes on. Paths that do not fit MAX_PATH are not touched; with an
// over-long destination the help program cannot be rebuilt, so the answer
// is false.
bool RunPostInstall(const std::string& destination, TPumpProc pump);

// The language name of the system default language (the primary language,
// the identifier's low ten bits): "English", "German", ...; every Chinese
// system gives "Chinese Traditional"; a language outside the product's
// table gives "".
std::string PickSystemLanguage();

// The name for a primary language id, as PickSystemLanguage looks it up;
// "" for ids outside the table.
std::string LanguageNameOf(unsigned primaryLanguage);

// Deletes cacheFolder + "*.HTM" (files only; read-only, hidden and system
// attributes are cleared first) for at most kCacheCleanBudgetMs. When the
// budget ran out, starts cacheFolder + "CACHETRM.EXE" without waiting for
// it; otherwise deletes that file. cacheFolder ends with a backslash.
// Perusant only in RunPostInstall, but available in both builds.
void CleanCache(const std::string& cacheFolder);
inline constexpr unsigned kCacheCleanBudgetMs = 8000;

// ---- Test seams --------------------------------------------------------------
// Each setter replaces one call to the system; nullptr restores the real one.

// The sleep of the initial wait (Sleep), so that a test's run does not take
// ten seconds.
using TPostSetSleepProc = void(__cdecl*)(unsigned ms);
void SetPostSetSleepProc(TPostSetSleepProc proc);

// The system default language identifier PickSystemLanguage reads
// (GetSystemDefaultLangID).
using TPostSetLanguageProc = unsigned short(__cdecl*)();
void SetPostSetLanguageProc(TPostSetLanguageProc proc);

// The tick count CleanCache measures its budget with (GetTickCount).
using TPostSetTickProc = unsigned(__cdecl*)();
void SetPostSetTickProc(TPostSetTickProc proc);
