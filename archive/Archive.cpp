// Module Archive: the payload marker and the payload locator (Win32).
//
// Format notes:
// - The search reads the program file in chunks of 65,536 bytes and steps
//   back by the marker length before every chunk but the first, so a marker
//   cut by a chunk end is read whole by the next chunk.
// - The archive runs from the byte after the marker to the end of the file,
//   except in a file signed after packaging: there the certificate table
//   (PE data directory 4, a file offset and a size) follows the archive, and
//   the copy stops where it starts. Signing tools append the table at an
//   8-byte boundary; the packaging tool pads the stub so that no padding
//   lands between the archive's trailer and the table.
#include "Archive.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Extract.h"
#include "ShortUtl.h"
#include "VozFormat.h"

namespace {

constexpr DWORD kChunkSize = 65536;

// The marker as searched for; set by InitArchiveModule.
std::string Marker;

// The caller's pump, for the progress procedure handed to ExtractArchive
// (which carries no context of its own). Set only during ExtractArchive.
TPumpProc ProgressPump = nullptr;

void CallPump(TPumpProc pump) {
  if (pump != nullptr) pump();
}

void VOZ_CDECL PumpOnProgress(const char* /*path*/, int32_t /*percent*/) { CallPump(ProgressPump); }

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

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Where the archive ends in the program file. fileSize unless the file is a
// PE image whose certificate table lies wholly inside the archive area and
// ends exactly at the end of the file; then the table's start. Every field is
// checked against the file before it is trusted; anything that does not add
// up leaves the file unsigned. False only on an input error.
bool FindArchiveEnd(HANDLE h, uint64_t fileSize, uint64_t archiveStart, uint64_t* archiveEnd) {
  *archiveEnd = fileSize;

  // DOS header: "MZ", and at 0x3C the file offset of the PE signature.
  constexpr DWORD kDosHeaderSize = 64;
  constexpr uint32_t kLfanewOffset = 0x3C;
  uint8_t dos[kDosHeaderSize];
  DWORD got = 0;
  if (fileSize < kDosHeaderSize) return true;
  if (!FileReadAt(h, 0, dos, kDosHeaderSize, &got)) return false;
  if (got != kDosHeaderSize || dos[0] != 'M' || dos[1] != 'Z') return true;
  const uint64_t peOffset = GetU32(dos + kLfanewOffset);

  // "PE\0\0", the 20-byte file header, then the optional header: its magic
  // decides where the data directories stand. Directory 4 (security) holds
  // a file offset, not a virtual address.
  constexpr DWORD kSignatureSize = 4;
  constexpr DWORD kFileHeaderSize = 20;
  constexpr uint32_t kSizeOfOptionalHeaderOffset = 16;  // within the file header
  constexpr uint16_t kMagicPe32 = 0x10B;
  constexpr uint16_t kMagicPe32Plus = 0x20B;
  constexpr uint32_t kDirCountOffset32 = 92, kDirsOffset32 = 96;
  constexpr uint32_t kDirCountOffset64 = 108, kDirsOffset64 = 112;
  constexpr uint32_t kSecurityDir = 4;
  constexpr uint32_t kDirEntrySize = 8;
  // Enough for the headers up to the security entry of either kind.
  constexpr DWORD kHeadSize =
      kSignatureSize + kFileHeaderSize + kDirsOffset64 + (kSecurityDir + 1) * kDirEntrySize;
  uint8_t head[kHeadSize];
  if (peOffset >= fileSize || fileSize - peOffset < kSignatureSize + kFileHeaderSize + 2) {
    return true;  // no room for the signature, the file header and a magic
  }
  const DWORD want = static_cast<DWORD>(std::min<uint64_t>(kHeadSize, fileSize - peOffset));
  if (!FileReadAt(h, peOffset, head, want, &got)) return false;
  if (got != want || std::memcmp(head, "PE\0\0", kSignatureSize) != 0) return true;

  const uint32_t optionalSize = GetU16(head + kSignatureSize + kSizeOfOptionalHeaderOffset);
  const uint8_t* optional = head + kSignatureSize + kFileHeaderSize;
  const DWORD optionalAvailable = got - kSignatureSize - kFileHeaderSize;
  uint32_t dirCountOffset = 0, dirsOffset = 0;
  const uint16_t magic = GetU16(optional);
  if (magic == kMagicPe32) {
    dirCountOffset = kDirCountOffset32;
    dirsOffset = kDirsOffset32;
  } else if (magic == kMagicPe32Plus) {
    dirCountOffset = kDirCountOffset64;
    dirsOffset = kDirsOffset64;
  } else {
    return true;
  }
  const uint32_t entryEnd = dirsOffset + (kSecurityDir + 1) * kDirEntrySize;
  if (entryEnd > optionalSize || entryEnd > optionalAvailable) return true;
  // The headers belong to the program image, which ends where the marker
  // begins; headers read out of the archive are not the program's.
  const uint64_t headersEnd = peOffset + kSignatureSize + kFileHeaderSize + entryEnd;
  if (archiveStart > 0 && headersEnd + kMarkerLength > archiveStart) return true;
  if (GetU32(optional + dirCountOffset) <= kSecurityDir) return true;

  const uint8_t* entry = optional + dirsOffset + kSecurityDir * kDirEntrySize;
  const uint64_t tableStart = GetU32(entry);
  const uint64_t tableSize = GetU32(entry + 4);
  if (tableStart == 0 || tableSize == 0) return true;  // not signed
  if (tableStart < archiveStart || tableStart + tableSize != fileSize) return true;
  *archiveEnd = tableStart;
  return true;
}

// Offset of the first byte after the first marker in the file, or 0 when
// there is none. False on an input error.
bool FindArchiveStart(HANDLE h, uint64_t fileSize, TPumpProc pump, std::vector<char>* chunk,
                      uint64_t* start) {
  *start = 0;
  const uint64_t markerLength = Marker.size();
  uint64_t pos = 0;
  while (pos < fileSize) {
    CallPump(pump);
    if (pos > 0) pos -= std::min(pos, markerLength);
    const DWORD want = static_cast<DWORD>(std::min<uint64_t>(kChunkSize, fileSize - pos));
    DWORD got = 0;
    // Nobody can write the file while we hold it, so a short read means the
    // device failed; going on with it could step back forever.
    if (!FileReadAt(h, pos, chunk->data(), want, &got) || got != want) return false;
    const auto chunkEnd = chunk->begin() + got;
    const auto found = std::search(chunk->begin(), chunkEnd, Marker.begin(), Marker.end());
    if (found != chunkEnd) {
      *start = pos + static_cast<uint64_t>(found - chunk->begin()) + markerLength;
      return true;
    }
    pos += got;
  }
  return true;
}

bool PathFits(const std::string& path) {
  return !path.empty() && path.size() < MAX_PATH && path.find('\0') == std::string::npos;
}

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

void InitArchiveModule() { Marker = UpperCaseAscii(kMarkerLowerCase); }

void DoneArchiveModule() {
  Marker.clear();
  Marker.shrink_to_fit();
}

const std::string& PayloadMarker() { return Marker; }

bool ExtractPayloadFrom(const std::string& programPath, const std::string& destination,
                        TPumpProc pump) {
  if (Marker.size() != static_cast<size_t>(kMarkerLength)) return false;  // not initialised
  const std::string tempPath = destination + "\\" + kSetupTempName;
  if (!PathFits(programPath) || destination.empty() || !PathFits(tempPath)) return false;

  // Open the program file, find the archive, copy it beside the destination.
  // One I/O result for the whole group: the first failure ends it.
  bool ioOk = true;
  bool tempCreated = false;  // the copy exists under the temporary name: ours to delete
  {
    TFileGuard program;
    TFileGuard temp;
    std::vector<char> chunk(kChunkSize);
    uint64_t fileSize = 0;
    uint64_t start = 0, end = 0;

    program.h = CreateFileA(programPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ioOk = program.IsOpen() && OpenFileSize(program.h, &fileSize);
    ioOk = ioOk && FindArchiveStart(program.h, fileSize, pump, &chunk, &start);
    ioOk = ioOk && FindArchiveEnd(program.h, fileSize, start, &end);

    ioOk = ioOk && ClearTempName(destination, tempPath);
    if (ioOk) {
      temp.h = CreateFileA(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
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
    ProgressPump = pump;
    result = ExtractArchive(tempPath.c_str(), destination.c_str(), nullptr, PumpOnProgress) == 0;
    ProgressPump = nullptr;
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
