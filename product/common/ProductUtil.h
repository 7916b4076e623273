// Small Win32 helpers shared by the sample product's programs. Paths are
// ANSI byte strings with backslashes; no helper shows a message.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Folder of the running program, without a trailing backslash; empty when
// the path does not fit MAX_PATH.
std::string ProgramFolder();

// Everything before the last backslash (the whole path when it has none).
std::string FolderOfPath(const std::string& path);
// Everything after the last backslash.
std::string NameOfPath(const std::string& path);

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);

// Reads the whole file when it is at most maxBytes long; false otherwise
// (missing, unreadable or too large). data is emptied first.
bool ReadFileBytes(const std::string& path, uint32_t maxBytes, std::string* data);
// Creates or truncates path and writes data; false when any step failed.
bool WriteFileBytes(const std::string& path, const std::string& data);

// A REG_SZ or REG_EXPAND_SZ value of at most maxChars characters (without
// the terminating zero); false when absent, of another type or too long.
bool ReadRegistryText(HKEY root, const char* key, const char* value, size_t maxChars, std::string* text);

// The folder an installed product was installed to, from its uninstall
// entry ("UninstallString" names the uninstaller in that folder, in
// quotes); empty when the product is not installed there any more (the
// folder lacks mainProgram).
std::string InstalledProductFolder(const char* fullName, const char* mainProgram);

// The vendor's folder under the common-files folder (as the registry gives
// it, or "C:" when it cannot be read): where the setups put the search-box
// helper and its lock file.
std::string SharedVendorFolder();

// Case-insensitive (ASCII) equality and prefix tests.
bool SameTextAscii(const std::string& a, const std::string& b);
bool StartsWithTextAscii(const std::string& text, const std::string& prefix);

// Registers a program's main window class: its window procedure, the
// "MAINICON" icon of the program's resources at both sizes, the arrow
// cursor and a background of the system colour backgroundColor (a COLOR_
// index). False when the class cannot be registered.
bool RegisterProgramClass(HINSTANCE instance, WNDPROC proc, const char* className, int backgroundColor);
