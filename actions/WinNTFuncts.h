// Module WinNTFuncts: the administrator test and the creation of a folder
// that every user of the machine may write into.
//
// Nothing here shows a message; each operation answers with a boolean.
#pragma once

#include <windows.h>

#include <string>

// Start-up: keeps this module's own copy of the OS version record, which
// decides whether CreateOpenDirectory sets an access list. Shutdown forgets
// it. Call InitWinNTFuncts before the other shell services start.
void InitWinNTFuncts();
void DoneWinNTFuncts();

// True when the service control manager of this machine opens with generic
// read, write and execute access, which only an administrator gets.
bool IsAdministrator();

// Longest path CreateOpenDirectory takes; it works on a copy of this many
// characters plus the terminating zero.
inline constexpr size_t kOpenDirectoryMaxPath = MAX_PATH;

// Creates path and every missing parent folder ("\" and "/" both separate;
// trailing separators are ignored). Parents get default security. On the NT
// family from version 5 on, the last folder gets its parent's access list
// plus an entry for Everyone (delete and every file-specific right, inherited
// by files and sub-folders); when that list cannot be prepared it falls back
// to default security without saying so.
//
// True when the path existed already (as a folder or as a file) or when this
// call created its last folder. False for an empty path, one longer than
// kOpenDirectoryMaxPath or holding a zero byte (nothing is touched then), or
// when a folder cannot be created; parents created before the failure stay.
bool CreateOpenDirectory(const std::string& path);

// ---- Test seams --------------------------------------------------------------
// Each setter replaces one call to the system; nullptr restores the real one.

// The call CreateOpenDirectory makes for each folder it creates
// (CreateDirectoryA). Wine accepts the access list given at creation but does
// not keep it, so a test reads the security attributes here instead of from
// the folder.
using TCreateFolderProc = BOOL(WINAPI*)(LPCSTR path, LPSECURITY_ATTRIBUTES attributes);
void SetCreateFolderProc(TCreateFolderProc proc);
