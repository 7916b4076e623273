// Module Archive: the payload marker and the payload locator (Win32).
//
// Where the archive lies is the codec core's rule (VozReader.h: the marker
// search in chunks of 65,536 bytes, the certificate table of a file signed
// after packaging); this file reads the program file for it, copies the
// archive beside the destination and hands the copy to ExtractArchive.
#include "Archive.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Extract.h"
#include "ShortUtl.h"
#include "VozFormat.h"
#include "VozReader.h"

namespace {

constexpr DWORD kChunkSize = 65536;

// The marker as searched for; set by InitArchiveModule.
std::string Marker;

void CallPump(TPumpProc pump) {
    if (pump != nullptr) pump();
}

// ExtractArchive's progress, pumping: user points at the caller's pump.
void VOZ_CDECL PumpOnProgress(const char* /*path*/, int32_t /*percent*/, void* user) {
    CallPump(*static_cast<const TPumpProc*>(user));
}

// Closes the handle once, on whichever path leaves the function first.
struct TFileGuard {
    HANDLE h = INVALID_HANDLE_VALUE;
    TFileGuard() = default;
    TFileGuard(const TFileGuard&) = delete;
    TFileGuard& operator=(const TFileGuard&) = delete;
    ~TFileGuard() { (void)Close(); }
    bool IsOpen() const { return h != INVALID_HANDLE_VALUE; }
    // False when the close itself fails (buffered data that cannot be written).
    bool Close() {
        if (!IsOpen()) return true;
        const BOOL ok = CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
        return ok != FALSE;
    }
};

// Reads up to count bytes at offset. False on an input error; *got holds
// the bytes actually read (fewer at the end of the file).
bool FileReadAt(HANDLE h, uint64_t offset, void* buffer, DWORD count, DWORD* got) {
    *got = 0;
    if (!SeekFileTo(h, offset)) return false;
    return ReadFile(h, buffer, count, got, nullptr) != FALSE;
}

// The program file as the locator reads it.
struct TProgramFile {
    HANDLE h;
    TPumpProc pump;
};

int64_t VOZ_CDECL ReadProgramAt(uint64_t offset, void* buffer, uint32_t count, void* user) {
    DWORD got = 0;
    if (!FileReadAt(static_cast<TProgramFile*>(user)->h, offset, buffer, count, &got)) return -1;
    return got;
}

void VOZ_CDECL PumpOnSearchChunk(void* user) { CallPump(static_cast<TProgramFile*>(user)->pump); }

// The temporary copy must land in the destination and nowhere else: a link
// of its name, left there by whoever could write the folder, would have the
// copy written over its target (and, where links are Unix links under Wine,
// the target deleted with it). So whatever stands at the name goes first,
// and the copy is then created anew (CREATE_NEW never opens what exists). A
// reparse point (a symbolic link, a junction) or a folder is refused. Any
// other entry is not deleted by its name, which would follow a link that
// Windows does not show as one: a new empty file is moved over it, so it
// only loses its name, and that file of ours is deleted.
bool ClearTempName(const std::string& destination, const std::string& tempPath) {
    const DWORD a = GetFileAttributesA(tempPath.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return true;
    if ((a & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) return false;
    std::string emptyPath;
    const HANDLE empty = CreateUniqueFile(destination + "\\", 0, &emptyPath);
    if (empty == INVALID_HANDLE_VALUE) return false;
    CloseHandle(empty);
    if (!MoveFileOver(emptyPath, tempPath)) {
        /* res = */ (void)DeleteFileA(emptyPath.c_str());
        return false;
    }
    return DeleteFileA(tempPath.c_str()) != FALSE;
}

}  // namespace

void InitArchiveModule() { Marker = UpperCaseMarker(); }

void DoneArchiveModule() {
    Marker.clear();
    Marker.shrink_to_fit();
}

const std::string& PayloadMarker() { return Marker; }

bool ExtractPayloadFrom(const std::string& programPath, const std::string& destination, TPumpProc pump) {
    if (Marker.size() != static_cast<size_t>(kMarkerLength)) return false;  // not initialised
    const std::string tempPath = destination + "\\" + kSetupTempName;
    if (!PathFitsAnsiCall(programPath) || destination.empty() || !PathFitsAnsiCall(tempPath)) return false;

    // Open the program file, find the archive, copy it beside the destination.
    // One I/O result for the whole group: the first failure ends it.
    bool ioOk = true;
    bool tempCreated = false;  // the copy exists under the temporary name: ours to delete
    {
        TFileGuard program;
        TFileGuard temp;
        std::vector<char> chunk(kChunkSize);
        uint64_t fileSize = 0;
        TArchiveSpan span;

        program.h = CreateFileA(programPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
        TProgramFile source = {program.h, pump};
        ioOk = program.IsOpen() && OpenFileSize(program.h, &fileSize);
        ioOk = ioOk && LocateArchive(ReadProgramAt, &source, fileSize, Marker, &span, PumpOnSearchChunk);
        const uint64_t start = span.start, end = span.end;

        ioOk = ioOk && ClearTempName(destination, tempPath);
        if (ioOk) {
            temp.h =
                CreateFileA(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            tempCreated = temp.IsOpen();
            ioOk = tempCreated && SeekFileTo(program.h, start);
        }
        for (uint64_t pos = start; ioOk && pos < end;) {
            CallPump(pump);
            const DWORD want = static_cast<DWORD>(std::min<uint64_t>(kChunkSize, end - pos));
            DWORD got = 0, written = 0;
            ioOk = ReadFile(program.h, chunk.data(), want, &got, nullptr) != FALSE && got == want &&
                   WriteFile(temp.h, chunk.data(), got, &written, nullptr) != FALSE && written == got;
            pos += got;
        }
        const bool tempClosed = temp.Close();
        const bool programClosed = program.Close();
        ioOk = ioOk && tempClosed && programClosed;
    }
    bool result = false;
    if (ioOk) {
        result = ExtractArchive(tempPath.c_str(), destination.c_str(), nullptr, PumpOnProgress, &pump) == 0;
    }
    // After ExtractArchive the copy is normally gone already.
    if (tempCreated) (void)DeleteFileA(tempPath.c_str());
    return result;
}

bool ExtractPayload(const std::string& destination, TPumpProc pump) {
    char path[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH + 1);
    // A full buffer means the name was cut.
    if (length == 0 || length > MAX_PATH) return false;
    return ExtractPayloadFrom(std::string(path, length), destination, pump);
}
