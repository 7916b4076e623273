// The file-system side of vozpack: the only place with #ifdef _WIN32. Paths
// are std::filesystem paths (wide on Windows); archive names are byte
// strings of the ANSI code page with "\" as separator.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// fopen for a path of either kind.
FILE* OpenFile(const fs::path& path, const char* mode);
bool SeekFile(FILE* f, uint64_t offset);
// The file's size by seeking to its end (the position is left there).
bool FileSize(FILE* f, uint64_t* size);

// The whole file; message set on failure. Files larger than limit are
// refused without being read.
bool ReadFileBytes(const fs::path& path, uint64_t limit, std::vector<uint8_t>* data,
                   std::string* message);

// A new file beside target, written and then renamed over it, so that a
// failure leaves target as it was. mode is the POSIX permission bits the
// file ends with (ignored on Windows).
struct TTempFile {
  FILE* file = nullptr;
  fs::path path;
  fs::path target;
};
bool CreateTempBeside(const fs::path& target, unsigned mode, TTempFile* temp, std::string* message);
// Closes and renames; on any failure the temp file is removed.
bool CommitTemp(TTempFile* temp, std::string* message);
// Closes and removes the temp file (errors ignored).
void DiscardTemp(TTempFile* temp);
// Permission bits of an existing file, or the default for a new file.
unsigned FileModeOr(const fs::path& path, unsigned fallback);
unsigned DefaultNewFileMode();

// The last-write time as a DOS stamp in local time (clamped to the DOS
// range). False when the file cannot be looked at.
bool FileDosStamp(const fs::path& path, uint32_t* stamp);
// False when the file's owner may not write it (the read-only attribute).
bool FileIsWritable(const fs::path& path);

// Gives an extracted, closed file its time stamp (local time; an invalid
// stamp leaves the time alone) and attribute bits. Failures are ignored, as
// the setup ignores them.
void ApplyDosStampAndAttributes(const fs::path& path, uint32_t stamp, uint32_t attributes);
// Lets a new file be renamed over whatever non-folder stands at path (on
// Windows a read-only file cannot be replaced until its attribute goes).
void MakeReplaceable(const fs::path& path);

// A path component as archive name bytes (ANSI code page on Windows, the
// bytes as they are elsewhere); false when it has no such form.
bool ComponentToName(const fs::path& component, std::string* name);
// destination joined with an archive name ("\" separators).
fs::path NameToPath(const fs::path& destination, const std::string& name);
// A path for messages.
std::string PathText(const fs::path& path);

// The text of the last C library error.
std::string ErrnoText();
bool StderrIsTerminal();

// Removes the temp file of a pack in flight when the user interrupts it.
void WatchInterrupt(const fs::path& tempPath);
void UnwatchInterrupt();
