// Extraction of a vozip archive file into a destination folder, and the
// patch application that rebuilds a program from a reference file.
//
// Both share the decoder's module state (VozDecode.h): one extraction or
// patch application at a time, on one thread.
#pragma once

#include <cstdint>
#include <string>

#include "VozCall.h"
#include "VozReader.h"

// Progress of an extraction: the entry's full destination path (zero-
// terminated), a percentage 0..100 of the archive consumed, and the user
// value given to ExtractArchive.
typedef void(VOZ_CDECL* ArchiveProgressProc)(const char* path, int32_t percent, void* user);

// ExtractArchive's result codes are the archive reader's (VozReader.h):
// 0 kExtractOk, -1 kExtractCannotOpen, -2 kExtractCannotCreate,
// -3 kExtractIoError, -5 kExtractBodyChecksum, -6 kExtractEntryFailed.

// Unscrambles the archive file in place, checks its body checksum and
// extracts every entry below destination, each verified, dated (last-write
// time) and given its attributes after it is closed. Returns one of the codes
// above; the first failure ends the run.
//
// archivePath without a folder part is taken from the current directory,
// and ".voz" is appended when it has no extension. Trailing "\" of
// destination are ignored; a null or empty destination gives -2 before the
// archive is touched. password may be null (no password); progress may be
// null; progressUser is handed to it unchanged.
//
// The archive file is consumed: it is deleted on every return once it was
// opened (or an attempt to open it was made). Entry names that would leave
// the destination, name a device or alias another name (VozFormat.h,
// CheckEntryName) fail with -6 before anything of that entry is created; so
// does an entry whose name, header or stored stream runs past the body's
// end. The archive is read through the codec core's reader (VozReader.h),
// the one vozpack test vouches with. A joined path
// that does not fit MAX_PATH gives -2.
//
// Nothing is written through a link. An entry's folders are made one at a
// time below the destination; one that exists as a reparse point (a
// symbolic link, a junction) fails the entry with -6, one that cannot be
// made or is a file gives -2. Each file is decoded into a new file of its
// own (CreateUniqueFile) beside its target, and only a complete, verified
// result is moved over the target (MoveFileOver): a file of that name stays
// as it was when the entry fails, and a link standing at the name is
// replaced, not followed. An entry that decodes to more than its declared
// content size stops there and fails with -6. Files extracted before a
// failure stay; the entry that failed leaves nothing.
//
// progress is called once per entry before its decoding and once per output
// write (both with the percentage of the archive consumed up to the entry's
// stream, rounded half to even), and once with 100 at the end, with the last
// entry's path or "" when there was none. It must not start another
// extraction or patch application (such a call returns -1 and does nothing).
int32_t ExtractArchive(const char* archivePath, const char* destination, const char* password,
                       ArchiveProgressProc progress, void* progressUser = nullptr);

// Rebuilds outputPath from referencePath and the patch at patchPath (a
// command stream, VozDecode.h). True when the output file was written with
// the patch's result. The output is decoded straight into a new file beside
// outputPath, so memory holds the reference and the patch, whatever size the
// patch asks for (outputs stop at 2 GiB); outputPath is replaced only by a
// verified result. The patch file is deleted in every case.
bool ApplyPatchFile(const std::string& referencePath, const std::string& outputPath, const std::string& patchPath);
