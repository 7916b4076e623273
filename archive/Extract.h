// Extraction of a vozip archive file into a destination folder, and the
// patch application that rebuilds a program from a reference file.
//
// Both share the decoder's module state (VozDecode.h): one extraction or
// patch application at a time, on one thread.
#pragma once

#include <cstdint>
#include <string>

// Progress of an extraction: the entry's full destination path (zero-
// terminated) and a percentage 0..100 of the archive consumed.
typedef void (*ArchiveProgressProc)(const char* path, int32_t percent);

// ExtractArchive result codes.
constexpr int32_t kExtractOk = 0;
constexpr int32_t kExtractCannotOpen = -1;     // no archive path, or it cannot be opened
constexpr int32_t kExtractCannotCreate = -2;   // no destination, or an entry's file cannot be made
constexpr int32_t kExtractIoError = -3;        // reading the archive or writing a file failed
constexpr int32_t kExtractBodyChecksum = -5;   // body checksum wrong, or archive shorter than its trailer
constexpr int32_t kExtractEntryFailed = -6;    // an entry is malformed or does not verify

// Unscrambles the archive file in place, checks its body checksum and
// extracts every entry below destination, each verified, dated (last-write
// time) and given its attributes after it is closed. Returns one of the codes
// above; the first failure ends the run.
//
// archivePath without a folder part is taken from the current directory,
// and ".voz" is appended when it has no extension. Trailing "\" of
// destination are ignored; a null or empty destination gives -2 before the
// archive is touched. password may be null (no password); progress may be
// null.
//
// The archive file is consumed: it is deleted on every return once it was
// opened (or an attempt to open it was made). Entry names that would leave
// the destination or name a device (VozFormat.h, IsSafeEntryName), and an
// empty name, fail with -6 before anything of that entry is created; so does
// an entry whose name or header runs past the body's end. A joined path that
// does not fit MAX_PATH gives -2. Files extracted before a failure stay; a
// file being written when it failed stays too, without its time stamp and
// attributes.
//
// progress is called once per entry before its decoding and once per output
// write (both with the percentage of the archive consumed up to the entry's
// stream, rounded half to even), and once with 100 at the end, with the last
// entry's path or "" when there was none. It must not start another
// extraction or patch application (such a call returns -1 and does nothing).
int32_t ExtractArchive(const char* archivePath, const char* destination, const char* password,
                       ArchiveProgressProc progress);

// Rebuilds outputPath from referencePath and the patch at patchPath (a
// command stream, VozDecode.h ApplyPatchBuffer). True when the output file
// was written with the patch's result. outputPath is only written on
// success; the patch file is deleted in every case.
bool ApplyPatchFile(const std::string& referencePath, const std::string& outputPath,
                    const std::string& patchPath);

// The whole file's bytes; true when it was opened and read without error.
// data is emptied first.
bool ReadWholeFile(const std::string& path, std::string* data);

// Creates or truncates path and writes data to it; true without error.
bool WriteWholeFile(const std::string& data, const std::string& path);
