// Extraction of an archive file into a destination folder, and patch files.
//
// Format notes for the reader:
// - The body check and the entry walk are the codec core's (VozReader.h);
//   this file gives them the archive file and makes the entries' files.
// - The body is unscrambled in place, chunk by chunk, and checked against
//   the trailer before any file is touched. From then on the archive file
//   holds the plain body; it is deleted when the extraction ends.
// - Nothing is written through a link. Folders are made one at a time below
//   the destination, and one that is a reparse point (a symbolic link, a
//   junction, a mount point) fails the entry. Each file is decoded under a
//   new name (CREATE_NEW) beside its target and then moved over it, so a link
//   that stands at the entry's own name is replaced, not followed, and the
//   file it replaces stays whole until its successor verified. (Wine, which
//   maps Unix links, deletes and truncates a file link's target; only a
//   rename replaces the link itself.)
// - An entry never leaves more on disk than its header declares: the reader
//   passes on nothing past the content size.
#include "Extract.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <set>
#include <vector>

#include "CRC_32.h"
#include "Scramble.h"
#include "ShortUtl.h"
#include "VozDecode.h"
#include "VozFormat.h"
#include "VozReader.h"

namespace {

// num / den rounded to the nearest integer, halves to even (num >= 0, den > 0).
int32_t RoundHalfEven(int64_t num, int64_t den) {
    int64_t q = num / den;
    const int64_t twiceRest = 2 * (num % den);
    if (twiceRest > den || (twiceRest == den && (q & 1) != 0)) ++q;
    return static_cast<int32_t>(q);
}

// Extraction state: one extraction at a time (the decoder is module state too).
struct TExtraction {
    HANDLE archive = INVALID_HANDLE_VALUE;
    HANDLE output = INVALID_HANDLE_VALUE;
    std::string destination;
    std::string outputPath;   // the new file being written, under its temporary name
    std::string currentPath;  // full path of the current entry; kept after the last one
    int64_t archiveSize = 0;
    int32_t percent = 0;
    ArchiveProgressProc progress = nullptr;
    void* progressUser = nullptr;
    std::set<std::string> folders;  // folders below the destination already checked
};

TExtraction g_extraction;
bool g_busy = false;  // an extraction or patch application is running

void Report(const TExtraction* x, int32_t percent) {
    if (x->progress != nullptr) x->progress(x->currentPath.c_str(), percent, x->progressUser);
}

// ---- The archive file, for the reader -----------------------------------------

int64_t VOZ_CDECL ReadArchiveAt(uint64_t offset, void* buffer, uint32_t count, void* user) {
    const auto* x = static_cast<const TExtraction*>(user);
    if (!SeekFileTo(x->archive, offset)) return -1;
    return ReadUpTo(x->archive, buffer, count);
}

bool VOZ_CDECL WriteArchiveAt(uint64_t offset, const void* buffer, uint32_t count, void* user) {
    const auto* x = static_cast<const TExtraction*>(user);
    return SeekFileTo(x->archive, offset) && WriteAll(x->archive, buffer, count);
}

// The plain body in order. The decoder asks for whole blocks (up to about
// 2 MB): one ReadFile each.
int64_t VOZ_CDECL ReadArchiveBody(void* buffer, uint32_t count, void* user) {
    return ReadUpTo(static_cast<const TExtraction*>(user)->archive, buffer, count);
}

// Closes and deletes the entry's new file, if there is one.
void DiscardOutput(TExtraction* x) {
    if (x->output != INVALID_HANDLE_VALUE) CloseHandle(x->output);
    x->output = INVALID_HANDLE_VALUE;
    if (!x->outputPath.empty()) /* res = */
        (void)DeleteFileA(x->outputPath.c_str());
    x->outputPath.clear();
}

// Makes the folders of an entry's name below the destination, outermost
// first, each checked before the next is made inside it: a folder that is a
// link could lead anywhere, so it fails the entry (-6); one that cannot be
// made, or a file in its place, gives -2.
int32_t MakeEntryFolders(TExtraction* x, const std::string& name) {
    for (size_t separator = name.find_first_of("\\/"); separator != std::string::npos;
         separator = name.find_first_of("\\/", separator + 1)) {
        const std::string relative = name.substr(0, separator);
        if (x->folders.count(relative) != 0) continue;
        const std::string folder = x->destination + "\\" + relative;
        DWORD a = GetFileAttributesA(folder.c_str());
        if (a == INVALID_FILE_ATTRIBUTES) {
            if (CreateDirectoryA(folder.c_str(), nullptr)) {
                a = FILE_ATTRIBUTE_DIRECTORY;
            } else {
                // Made by someone else meanwhile is as good, once it passes the check.
                a = GetFileAttributesA(folder.c_str());
                if (a == INVALID_FILE_ATTRIBUTES) return kExtractCannotCreate;
            }
        }
        if ((a & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return kExtractEntryFailed;
        if ((a & FILE_ATTRIBUTE_DIRECTORY) == 0) return kExtractCannotCreate;
        x->folders.insert(relative);
    }
    return kExtractOk;
}

// ---- The entries' files: the reader's visitor ------------------------------------

// The entry's name passed CheckEntryName: its folders, its new file, and
// the first progress report.
int32_t VOZ_CDECL BeginEntry(const TEntryInfo& entry, void* user) {
    auto* x = static_cast<TExtraction*>(user);
    const std::string path = x->destination + "\\" + entry.name;
    if (!PathFitsAnsiCall(path)) return kExtractCannotCreate;
    x->currentPath = path;

    const int32_t folders = MakeEntryFolders(x, entry.name);
    if (folders != kExtractOk) return folders;
    // The new content goes to a new file beside the old one; a path too long
    // for that name takes the destination folder itself (the same volume:
    // no link lies between them).
    x->output = CreateUniqueFile(FilePathPart(path), FILE_SHARE_READ, &x->outputPath);
    if (x->output == INVALID_HANDLE_VALUE) {
        x->output = CreateUniqueFile(x->destination + "\\", FILE_SHARE_READ, &x->outputPath);
        if (x->output == INVALID_HANDLE_VALUE) return kExtractCannotCreate;
    }
    x->percent = RoundHalfEven(static_cast<int64_t>(entry.streamOffset) * 100, std::max<int64_t>(1, x->archiveSize));
    Report(x, x->percent);
    return kExtractOk;
}

bool VOZ_CDECL WriteEntry(const void* buffer, int32_t count, void* user) {
    auto* x = static_cast<TExtraction*>(user);
    const bool ok = count <= 0 || WriteAll(x->output, buffer, static_cast<size_t>(count));
    Report(x, x->percent);
    return ok;
}

// The entry verified: dated, closed, moved over its name, given its attributes.
int32_t VOZ_CDECL FinishEntry(const TEntryInfo& entry, void* user) {
    auto* x = static_cast<TExtraction*>(user);
    // The stamp only dates the file: a bad one leaves the file's own time.
    /* res = */ (void)SetFileDosTime(x->output, entry.header.timeStamp);
    const BOOL closed = CloseHandle(x->output);
    x->output = INVALID_HANDLE_VALUE;
    if (!closed) return kExtractIoError;
    // Whatever stood at the name (a file in use, a folder) and cannot be
    // replaced stays as it was.
    if (!MoveFileOver(x->outputPath, x->currentPath)) return kExtractCannotCreate;
    x->outputPath.clear();
    // Attributes last, so a read-only entry could still be written and dated.
    // Most entries carry just what a new file already has (archive): no call.
    if (GetFileAttributesA(x->currentPath.c_str()) != entry.header.attributes) {
        /* res = */ (void)SetFileAttrs(x->currentPath, entry.header.attributes);
    }
    return kExtractOk;
}

void VOZ_CDECL AbandonEntry(const TEntryInfo& /*entry*/, void* user) { DiscardOutput(static_cast<TExtraction*>(user)); }

int32_t RunExtraction(TExtraction* x, const std::string& archivePath, const char* password) {
    x->archive = CreateFileA(archivePath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (x->archive == INVALID_HANDLE_VALUE) return kExtractCannotOpen;
    uint64_t size = 0;
    if (!OpenFileSize(x->archive, &size) || size > static_cast<uint64_t>(INT64_MAX)) return kExtractIoError;
    x->archiveSize = static_cast<int64_t>(size);

    const int32_t checked = CheckArchiveBody(ReadArchiveAt, WriteArchiveAt, x, size, password);
    if (checked != kExtractOk) return checked;

    if (!SeekFileTo(x->archive, 0)) return kExtractIoError;
    TEntryVisitor visitor;
    visitor.begin = BeginEntry;
    visitor.write = WriteEntry;
    visitor.finish = FinishEntry;
    visitor.abandon = AbandonEntry;
    visitor.user = x;
    const TWalkResult walk = WalkArchiveEntries(ReadArchiveBody, x, size - kTrailerSize, visitor);
    if (walk.code != kExtractOk) return walk.code;
    Report(x, 100);
    return kExtractOk;
}

}  // namespace

int32_t ExtractArchive(const char* archivePath, const char* destination, const char* password,
                       ArchiveProgressProc progress, void* progressUser) {
    if (g_busy) return kExtractCannotOpen;
    if (archivePath == nullptr || *archivePath == '\0') return kExtractCannotOpen;
    if (destination == nullptr || *destination == '\0') return kExtractCannotCreate;

    std::string path = archivePath;
    if (FilePathPart(path).empty()) {
        char current[MAX_PATH];
        const DWORD n = GetCurrentDirectoryA(sizeof current, current);
        if (n == 0 || n >= sizeof current) return kExtractCannotOpen;
        std::string folder(current, n);
        if (folder.back() != '\\') folder += '\\';
        path = folder + path;
    }
    if (FileExtPart(path).empty()) path += ".voz";
    if (!PathFitsAnsiCall(path)) return kExtractCannotOpen;

    std::string dest = destination;
    while (!dest.empty() && dest.back() == '\\') dest.pop_back();

    g_busy = true;
    TExtraction* x = &g_extraction;
    *x = TExtraction();
    x->progress = progress;
    x->progressUser = progressUser;
    x->destination = dest;
    const int32_t result = RunExtraction(x, path, password);

    DiscardOutput(x);
    if (x->archive != INVALID_HANDLE_VALUE) CloseHandle(x->archive);
    /* res = */ (void)DeleteFileA(path.c_str());
    *x = TExtraction();
    g_busy = false;
    return result;
}

namespace {

// The output of a patch, written as it is decoded through a buffer, so that
// memory follows the buffer, not the output's size. Outputs are below 2 GiB,
// like everything the decoders handle.
struct TFileSink {
    HANDLE file = INVALID_HANDLE_VALUE;
    std::vector<uint8_t> buffer;
    size_t used = 0;
    int64_t total = 0;
    bool failed = false;  // a write failed, or the output passed 2 GiB

    void Flush() {
        if (!failed && used > 0 && !WriteAll(file, buffer.data(), used)) failed = true;
        used = 0;
    }
};

constexpr size_t kSinkBufferSize = 256 * 1024;

void VOZ_CDECL SinkWrite(const void* data, int32_t count, void* user) {
    auto* sink = static_cast<TFileSink*>(user);
    if (sink->failed || count <= 0) return;
    if (!PatchOutputFits(sink->total + count)) {
        sink->failed = true;
        return;
    }
    sink->total += count;
    const auto* p = static_cast<const uint8_t*>(data);
    size_t left = static_cast<size_t>(count);
    while (left > 0 && !sink->failed) {
        if (sink->used == sink->buffer.size()) sink->Flush();
        const size_t n = std::min(left, sink->buffer.size() - sink->used);
        std::memcpy(sink->buffer.data() + sink->used, p, n);
        sink->used += n;
        p += n;
        left -= n;
    }
}

// A byte string read as a stream (the patch) or as the base (the reference).
// Once the output failed, both run dry, so the decoder stops at its next
// copy or block instead of working through the rest for nothing.
struct TMemorySource {
    const std::string* data;
    size_t position;
    const TFileSink* sink;
};

void VOZ_CDECL MemoryRead(void* buffer, int32_t count, int32_t* got, void* user) {
    auto* source = static_cast<TMemorySource*>(user);
    *got = 0;
    if (count <= 0 || source->sink->failed) return;
    const size_t n = std::min(static_cast<size_t>(count), source->data->size() - source->position);
    if (n > 0) std::memcpy(buffer, source->data->data() + source->position, n);
    source->position += n;
    *got = static_cast<int32_t>(n);
}

void VOZ_CDECL MemorySeek(int32_t offset, void* user) {
    auto* source = static_cast<TMemorySource*>(user);
    source->position = std::min(static_cast<size_t>(std::max(offset, 0)), source->data->size());
}

// Decodes the patch against the reference into a new file beside
// outputPath, then moves it over outputPath: an existing output file is
// replaced only by a complete, verified result.
bool RebuildFromPatch(const std::string& reference, const std::string& patch, const std::string& outputPath) {
    std::string tempPath;
    TFileSink sink;
    sink.file = CreateUniqueFile(FilePathPart(outputPath), 0, &tempPath);
    if (sink.file == INVALID_HANDLE_VALUE) return false;
    bool ok = false;
    try {
        sink.buffer.resize(kSinkBufferSize);
        TMemorySource base = {&reference, 0, &sink};
        TMemorySource stream = {&patch, 0, &sink};
        const int32_t code = ApplyPatchStream(MemoryRead, MemorySeek, &base, SinkWrite, &sink, MemoryRead,
                                              static_cast<int32_t>(patch.size()), &stream, nullptr, nullptr);
        sink.Flush();
        ok = code == kDecodeOk && !sink.failed;
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!CloseHandle(sink.file)) ok = false;
    ok = ok && MoveFileOver(tempPath, outputPath);
    if (!ok) /* res = */
        (void)DeleteFileA(tempPath.c_str());
    return ok;
}

}  // namespace

bool ApplyPatchFile(const std::string& referencePath, const std::string& outputPath, const std::string& patchPath) {
    bool result = false;
    // The decoder is shared with a running extraction (a progress procedure
    // must not get here); the patch still goes.
    if (!g_busy && PathFitsAnsiCall(outputPath)) {
        g_busy = true;
        std::string reference;
        std::string patch;
        if (ReadWholeFile(referencePath, &reference) && ReadWholeFile(patchPath, &patch)) {
            result = RebuildFromPatch(reference, patch, outputPath);
        }
        g_busy = false;
    }
    if (PathFitsAnsiCall(patchPath)) /* res = */
        (void)DeleteFileA(patchPath.c_str());
    return result;
}
