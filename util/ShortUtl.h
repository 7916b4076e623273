// Module ShortUtl: small string, path, file and time-stamp helpers shared by
// the other modules. Plain functions; the only state is the counter behind
// CreateUniqueFile's names and the once-bound MoveFileExA.
//
// Strings are byte strings of the ANSI code page, compared exactly (case
// matters); positions count from 1. Paths use "\" and go to the ...A calls,
// which take at most MAX_PATH - 1 bytes: a longer path, or one holding a zero
// byte (which would silently name a different file), fails cleanly in every
// helper that touches the file system.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Number of bytes before the first zero byte; 0 for a null pointer.
size_t PCharLength(const char* s);

// The path can go to an ...A call as it stands: not empty, shorter than
// MAX_PATH bytes, and without a zero byte (which would cut it short and name
// another file). Every helper here that touches the file system checks it.
bool PathFitsAnsiCall(const std::string& path);

// Same length; "a".."z" become "A".."Z", every other byte (those above 0x7F
// included) is kept. No locale is consulted.
std::string UpperCaseAscii(const std::string& s);

// Sets the open file's last-write time from a DOS stamp (date in the high 16
// bits, time in the low 16, local time); creation and last-access times stay.
// Returns 0, or the system error code (the file is unchanged when the stamp
// is not a valid DOS date and time). The handle needs write-attribute access.
DWORD SetFileDosTime(HANDLE file, uint32_t dosStamp);

// Size of an open file, through GetFileSize (which every Win32 system has;
// GetFileSizeEx does not exist before Windows 2000). False on an error.
bool OpenFileSize(HANDLE file, uint64_t* size);

// Moves an open file's pointer to offset from its start, through
// SetFilePointer (SetFilePointerEx does not exist before Windows 2000).
bool SeekFileTo(HANDLE file, uint64_t offset);

// 1-based position of the last byte of s that occurs in delimiters; 0 if none.
size_t LastDelimiterPos(const std::string& delimiters, const std::string& s);

// "C:\a\b.txt" -> "C:\a\" (with the final "\" or ":"); "" without delimiter.
std::string FilePathPart(const std::string& path);
// "C:\a\b.txt" -> "b.txt"; the whole path without delimiter; "C:" -> "".
std::string FileNamePart(const std::string& path);
// "C:\a\b.txt" -> ".txt" (dot included); "" when the last dot lies in a
// folder name or there is none.
std::string FileExtPart(const std::string& path);
// "C:\a\\b.txt" -> "C:\a": the folder without any trailing "\"; "C:\b" -> "C:".
std::string FileDirPart(const std::string& path);

// SetFileAttributesA; 0 or the system error code.
DWORD SetFileAttrs(const std::string& path, uint32_t attributes);

// Last-write time of the file as a local DOS stamp (date high, time low);
// -1 when the path names no file (a folder, nothing, a wildcard pattern) or
// the time does not convert.
int32_t FileDosTime(const std::string& path);

// The path names an existing file (not a folder).
bool FileIsPresent(const std::string& path);

// The path names an existing folder.
bool FolderPresent(const std::string& path);

// Creates the folder and its missing parents, outermost first. Trailing "\"
// are ignored; a drive ("C:", "C:\") or an empty path does nothing; a relative
// path is taken from the current directory. Errors are not reported: the
// caller finds out when it uses the folder. An over-long path creates nothing.
void CreateFolderChain(const std::string& path);

// ---- Whole files, new files and replacing old ones ------------------------

// Reads up to count bytes from the file's position, calling ReadFile again
// after a short read, so the result is short only at the end of the file.
// The number of bytes read, or -1 on a read error.
int64_t ReadUpTo(HANDLE file, void* buffer, DWORD count);

// Writes all count bytes at the file's position (in pieces of at most 1 GiB).
// False on a write error or a write that makes no progress (a full disk).
bool WriteAll(HANDLE file, const void* buffer, size_t count);

// A new, empty file "~vzXXXX.tmp" in folder (with its trailing "\", or ""
// for the current directory), opened for writing with shareMode; its path in
// *path. Made with CREATE_NEW, so nothing that stands at a name is opened or
// followed; a few names are tried. Returns the file handle, or
// INVALID_HANDLE_VALUE (and an empty *path).
HANDLE CreateUniqueFile(const std::string& folder, uint32_t shareMode, std::string* path);

// Moves the file from over the name to, replacing a file that stands there
// (a read-only one too) without following it when it is a link. Where the
// system has no MoveFileEx (Windows 95, 98 and Me, which have no links
// either) the old file is deleted and the new one renamed. False when the
// name cannot be replaced (a folder, a file in use); from is then left.
bool MoveFileOver(const std::string& from, const std::string& to);

// The whole file's bytes; true when it was opened and read without error.
// data is emptied first, and stays empty on a failure. Files of 2 GiB and
// more, and those that do not fit in memory, fail: the decoders that take
// these bytes work on 32-bit lengths.
bool ReadWholeFile(const std::string& path, std::string* data);

// Writes data to a new file beside path and moves it over path; true
// without error. On a failure (a full disk) an existing file of that name
// stays as it was, and a link at the name is replaced, never written
// through.
bool WriteWholeFile(const std::string& data, const std::string& path);
