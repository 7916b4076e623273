// Module Archive: the payload marker and the payload locator.
//
// The product's files travel behind the setup's own program image: the
// upper-case marker, then one vozip archive (scrambled body and trailer).
// ExtractPayload finds the marker in the program file, copies the archive
// into the destination folder as "tempfile.$$$" and hands that copy to
// ExtractArchive, which unscrambles, verifies and extracts it in place.
#pragma once

#include <string>

// A procedure without arguments that dispatches the window messages waiting
// in the queue; called between units of work so the windows stay alive.
using TPumpProc = void (*)();

// Start-up and shutdown steps of the module. InitArchiveModule upper-cases
// the marker constant: the image stores only its lower-case form, so the
// search can never match the program's own copy. Until it has run (and
// after DoneArchiveModule) ExtractPayload fails without touching any file.
void InitArchiveModule();
void DoneArchiveModule();

// The marker as the search looks for it: 24 bytes after InitArchiveModule,
// empty before it and after DoneArchiveModule.
const std::string& PayloadMarker();

// Extracts the archive appended to the running program's own file into
// destination (absolute, existing, no trailing backslash). pump may be null.
//
// Returns true when the archive was copied without an input or output error
// and ExtractArchive returned 0. False when the program file cannot be opened
// or read, the temporary file cannot be created or written (a missing
// destination folder), a path does not fit MAX_PATH, the marker is missing
// (the whole program file is then taken as the archive and fails its body
// checksum) or ExtractArchive fails. The temporary file never outlives the
// call.
//
// The copy is never written through a link: whatever stands at the name
// "tempfile.$$$" is removed first without being followed (a file or a hard
// link of that name only loses its name), and the copy is created anew. A
// reparse point (a symbolic link, a junction) or a folder of that name is
// refused, as is a name that cannot be removed: false, and nothing is
// extracted.
//
// pump is called once per 65,536-byte chunk of the marker search, once per
// chunk of the copy, and once per progress report of ExtractArchive.
//
// A program file signed after packaging carries its certificate table behind
// the archive; when the PE headers, lying wholly before the marker, name a
// certificate table that starts at or after the archive's start and runs
// exactly to the end of the file, the copy stops where that table starts.
// Anything inconsistent in those headers makes the file count as unsigned,
// and the copy runs to the end of the file. The rule is the codec core's
// (VozReader.h, LocateArchive), so vozpack finds the same archive.
bool ExtractPayload(const std::string& destination, TPumpProc pump);

// ExtractPayload with the program file given: ExtractPayload passes its own
// module file name. Tests use it to feed crafted setup files.
bool ExtractPayloadFrom(const std::string& programPath, const std::string& destination, TPumpProc pump);
