// The file-system side of vozpack: the only place with #ifdef _WIN32. Paths
// are std::filesystem paths (wide on Windows); archive names are byte
// strings of the ANSI code page with "\" as separator.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "VozCall.h"

namespace fs = std::filesystem;

// fopen for a path of either kind.
FILE* OpenFile(const fs::path& path, const char* mode);
// An input opened for reading, only when it is a regular file: a folder, a
// FIFO or a device is refused before anything waits on it or reads it
// ("... is a folder", "... is not a regular file"). Null with *message set.
FILE* OpenInputFile(const fs::path& path, std::string* message);
bool SeekFile(FILE* f, uint64_t offset);
// The file's size by seeking to its end (the position is left there).
bool FileSize(FILE* f, uint64_t* size);

// The whole file (a regular file only, OpenInputFile); message set on
// failure. Files larger than limit are refused without being read, and one
// that does not fit in memory fails with a message instead of ending the
// program.
bool ReadFileBytes(const fs::path& path, uint64_t limit, std::vector<uint8_t>* data, std::string* message);

// A new file beside target, written and then renamed over it, so that a
// failure leaves target as it was. Its name is short ("vozpack-XXXXXX.tmp"),
// so that a target with the longest name a folder can hold still gets one.
// mode is the POSIX permission bits the file ends with (ignored on Windows).
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
// ---- Extracting below a folder without following links -------------------

// The destination of extract and the folders below it opened or checked so
// far. A folder below the destination that is a link (a symbolic link, a
// junction or another reparse point) is never entered: whatever it points
// to, nothing is written there.
struct TExtractTarget {
    fs::path destination;
    int folderFd = -1;              // POSIX: the folder of the last entry, opened without following links
    std::string folderName;         // its archive name ("" for the destination itself)
    std::set<std::string> checked;  // Windows: folders checked so far (archive names)
};
// One entry's new file: written under a temporary name in the entry's
// folder, then renamed over the entry's name (a link of that name is
// replaced, not followed).
struct TEntryFile {
    FILE* file = nullptr;
    fs::path tempPath;
    fs::path target;
    std::string tempName, leafName;  // POSIX: the names inside folderFd
};
// Makes the entry's folders (one at a time, none through a link) and its
// new file. Returns 0, -2 (a folder or the file cannot be made, a file
// stands where a folder should) or -6 (a folder of the name is a link), with
// *message set. name is an archive name that passed CheckEntryName.
int32_t OpenEntryFile(TExtractTarget* t, const std::string& name, TEntryFile* e, std::string* message);
// Dates the new file and gives it its attributes, then renames it over the
// entry's name. False with *message set (the new file is removed).
bool CommitEntryFile(TExtractTarget* t, TEntryFile* e, uint32_t stamp, uint32_t attributes, std::string* message);
// Closes and removes the new file (errors ignored).
void DiscardEntryFile(TExtractTarget* t, TEntryFile* e);
void CloseExtractTarget(TExtractTarget* t);

// ---- Walking a folder ---------------------------------------------------------

// What a path is on disk, after following links: device and file number.
struct TFileIdentity {
    uint64_t device = 0;
    uint64_t index = 0;
    bool operator<(const TFileIdentity& o) const { return device != o.device ? device < o.device : index < o.index; }
};
bool FileIdentityOf(const fs::path& path, TFileIdentity* id);

// A path component as archive name bytes (ANSI code page on Windows, the
// bytes as they are elsewhere); false when it has no such form.
bool ComponentToName(const fs::path& component, std::string* name);
// destination joined with an archive name ("\" separators).
fs::path NameToPath(const fs::path& destination, const std::string& name);
// A path for messages: control bytes and (on POSIX) bytes that are no UTF-8
// escaped (PrintableText), and a path longer than fits a line shortened in
// its middle (ShortenedText).
std::string PathText(const fs::path& path);
// Bytes as they may be shown on a terminal: C0 controls, DEL, and on POSIX
// the C1 controls and every byte that is not part of valid UTF-8 become
// \xNN; everything else stays.
std::string PrintableText(const std::string& bytes);
// text with its middle replaced by "..." when it is longer than limit
// bytes; never cuts inside an escape or a UTF-8 sequence.
std::string ShortenedText(const std::string& text, size_t limit = 160);

// The text of the last C library error.
std::string ErrnoText();
bool StderrIsTerminal();

// Removes the temp file of a pack in flight when the user interrupts it.
void WatchInterrupt(const fs::path& tempPath);
void UnwatchInterrupt();

// ---- Threads ------------------------------------------------------------------

// Runs work(i) for every i below count on up to threads threads (0: one per
// core), the calling thread among them; returns when all are done.
void ParallelFor(size_t count, int threads, void(VOZ_CDECL* work)(size_t index, void* user), void* user);
