// Extraction of an archive file into a destination folder, and patch files.
//
// Format notes for the reader:
// - The body is unscrambled in place, chunk by chunk, and checked against
//   the trailer before any file is touched. From then on the archive file
//   holds the plain body; it is deleted when the extraction ends.
// - Header fields are not trusted beyond the body checksum: a name or header
//   that runs past the body's end fails the entry (-6) before anything is
//   created, and an entry's reader never delivers bytes past the body's end,
//   so a stored size that claims more fails the entry's size check (-6).
#include "Extract.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "CRC_32.h"
#include "Scramble.h"
#include "ShortUtl.h"
#include "VozDecode.h"
#include "VozFormat.h"

namespace {

// The ...A calls take fewer than MAX_PATH bytes, and a zero byte would cut
// the path short.
bool FitsAnsiPath(const std::string& path) {
  return !path.empty() && path.size() < MAX_PATH && path.find('\0') == std::string::npos;
}

uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// num / den rounded to the nearest integer, halves to even (num >= 0, den > 0).
int32_t RoundHalfEven(int64_t num, int64_t den) {
  int64_t q = num / den;
  const int64_t twiceRest = 2 * (num % den);
  if (twiceRest > den || (twiceRest == den && (q & 1) != 0)) ++q;
  return static_cast<int32_t>(q);
}

// Reads up to count bytes, calling ReadFile again after a short read, so the
// result is short only at the end of the file. -1 on a read error.
int64_t ReadUpTo(HANDLE file, void* buffer, DWORD count) {
  auto* p = static_cast<uint8_t*>(buffer);
  DWORD total = 0;
  while (total < count) {
    DWORD got = 0;
    if (!ReadFile(file, p + total, count - total, &got, nullptr)) return -1;
    if (got == 0) break;
    total += got;
  }
  return total;
}

bool WriteAll(HANDLE file, const void* buffer, size_t count) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const DWORD want = static_cast<DWORD>(std::min<size_t>(count, 0x40000000));
    DWORD done = 0;
    if (!WriteFile(file, p, want, &done, nullptr) || done == 0) return false;
    p += done;
    count -= done;
  }
  return true;
}

bool SeekTo(HANDLE file, int64_t position) {
  return position >= 0 && SeekFileTo(file, static_cast<uint64_t>(position));
}

// Extraction state: one extraction at a time (the decoder is module state too).
struct TExtraction {
  HANDLE archive = INVALID_HANDLE_VALUE;
  HANDLE output = INVALID_HANDLE_VALUE;
  std::string currentPath;  // full path of the current entry; kept after the last one
  int64_t remaining = 0;    // stream bytes of the entry not yet handed to the decoder
  int64_t readCount = 0;    // stream bytes handed to the decoder
  int64_t written = 0;      // bytes written to the output file
  uint32_t reg = kRegisterStart;
  int32_t percent = 0;
  ArchiveProgressProc progress = nullptr;
  bool ioError = false;  // a read of the archive or a write of the output failed
};

TExtraction g_extraction;
bool g_busy = false;  // an extraction or patch application is running

// The decoder asks for whole blocks (up to about 2 MB): one ReadFile each.
int32_t EntryRead(void* buffer, int32_t count, void* context) {
  auto* x = static_cast<TExtraction*>(context);
  if (x->ioError || count <= 0) return 0;  // after a failure, let the decoder stop soon
  const DWORD want = static_cast<DWORD>(std::min<int64_t>(x->remaining, count));
  if (want == 0) return 0;
  const int64_t got = ReadUpTo(x->archive, buffer, want);
  if (got < 0) {
    x->ioError = true;
    return 0;
  }
  x->readCount += got;
  x->remaining -= got;
  return static_cast<int32_t>(got);
}

void EntryWrite(const void* buffer, int32_t count, void* context) {
  auto* x = static_cast<TExtraction*>(context);
  if (count > 0) {
    if (!x->ioError && !WriteAll(x->output, buffer, static_cast<size_t>(count))) x->ioError = true;
    x->reg = Crc32Update(buffer, count, x->reg);
    x->written += count;
  }
  if (x->progress != nullptr) x->progress(x->currentPath.c_str(), x->percent);
}

// Unscrambles the whole body in place and checks it against the trailer.
int32_t UnscrambleAndCheck(TExtraction* x, int64_t archiveSize, const char* password) {
  uint32_t state = PasswordSeed(password, password != nullptr ? std::strlen(password) : 0);
  uint32_t reg = kRegisterStart;
  uint8_t chunk[kUnscrambleChunk];
  int64_t position = 0;
  int64_t left = archiveSize - kTrailerSize;
  while (left > 0) {
    const DWORD want = static_cast<DWORD>(std::min<int64_t>(left, kUnscrambleChunk));
    const int64_t got = ReadUpTo(x->archive, chunk, want);
    // A file that shrinks under us would otherwise never finish.
    if (got <= 0) return kExtractIoError;
    left -= got;
    ScrambleBytes(&state, chunk, static_cast<size_t>(got));
    reg = Crc32Update(chunk, static_cast<int32_t>(got), reg);
    if (!SeekTo(x->archive, position) || !WriteAll(x->archive, chunk, static_cast<size_t>(got))) {
      return kExtractIoError;
    }
    position += got;
  }
  // Bytes missing from a short trailer count as zero.
  uint8_t trailer[kTrailerSize] = {0, 0, 0, 0};
  if (ReadUpTo(x->archive, trailer, kTrailerSize) < 0) return kExtractIoError;
  return LoadU32(trailer) == reg ? kExtractOk : kExtractBodyChecksum;
}

// Extracts the entry that starts at *position (before the body's end).
int32_t ExtractEntry(TExtraction* x, const std::string& destination, int64_t* position,
                     int64_t bodyEnd, int64_t archiveSize) {
  int64_t pos = *position;
  uint8_t lengthBytes[2];
  if (bodyEnd - pos < 2) return kExtractEntryFailed;
  int64_t got = ReadUpTo(x->archive, lengthBytes, 2);
  if (got < 0) return kExtractIoError;
  if (got < 2) return kExtractEntryFailed;
  pos += 2;
  const uint32_t nameLength = static_cast<uint32_t>(lengthBytes[0]) | (static_cast<uint32_t>(lengthBytes[1]) << 8);
  if (nameLength == 0 || bodyEnd - pos < static_cast<int64_t>(nameLength) + kEntryHeaderSize) {
    return kExtractEntryFailed;
  }
  std::string name(nameLength, '\0');
  uint8_t headerBytes[kEntryHeaderSize];
  got = ReadUpTo(x->archive, name.data(), nameLength);
  if (got < 0) return kExtractIoError;
  if (got != nameLength) return kExtractEntryFailed;
  got = ReadUpTo(x->archive, headerBytes, kEntryHeaderSize);
  if (got < 0) return kExtractIoError;
  if (got != kEntryHeaderSize) return kExtractEntryFailed;
  pos += nameLength + kEntryHeaderSize;
  const TEntryHeader h = UnpackEntryHeader(headerBytes);

  // Nothing of a refused entry is created, not even its folders.
  if (!IsSafeEntryName(name.data(), name.size())) return kExtractEntryFailed;
  const std::string path = destination + "\\" + name;
  if (!FitsAnsiPath(path)) return kExtractCannotCreate;
  x->currentPath = path;

  CreateFolderChain(FilePathPart(path));
  // A read-only file of that name must go too; a file in use stays and the
  // create below fails. Both calls would fail on a missing file anyway, and
  // each costs a round trip on some systems, so they run only when needed.
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    /* res = */ (void)SetFileAttrs(path, 0);
    /* res = */ (void)DeleteFileA(path.c_str());
  }
  x->output = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (x->output == INVALID_HANDLE_VALUE) return kExtractCannotCreate;

  x->remaining = std::min<int64_t>(h.storedSize, bodyEnd - pos);
  x->readCount = 0;
  x->written = 0;
  x->reg = kRegisterStart;
  x->percent = RoundHalfEven(pos * 100, std::max<int64_t>(1, archiveSize));
  if (x->progress != nullptr) x->progress(x->currentPath.c_str(), x->percent);

  int32_t code = DecodeEntryStream(EntryRead, EntryWrite, x);
  if (x->ioError) return kExtractIoError;
  // An empty file may carry four stored bytes that are not a stream at all.
  if (h.contentSize == 0 && h.storedSize == 4 && code == kDecodeEntryFailed) code = 0;
  if (x->readCount != h.storedSize || x->written != h.contentSize || x->reg != h.checksum || code != 0) {
    return kExtractEntryFailed;
  }

  // The stamp only dates the file: a bad one leaves the file's own time.
  /* res = */ (void)SetFileDosTime(x->output, h.timeStamp);
  const BOOL closed = CloseHandle(x->output);
  x->output = INVALID_HANDLE_VALUE;
  if (!closed) return kExtractIoError;
  // Attributes last, so a read-only entry could still be written and dated.
  // Most entries carry just what a new file already has (archive): no call.
  if (GetFileAttributesA(path.c_str()) != h.attributes) /* res = */ (void)SetFileAttrs(path, h.attributes);
  *position = pos + x->readCount;
  return kExtractOk;
}

int32_t RunExtraction(TExtraction* x, const std::string& archivePath, const std::string& destination,
                      const char* password) {
  x->archive = CreateFileA(archivePath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (x->archive == INVALID_HANDLE_VALUE) return kExtractCannotOpen;
  uint64_t size = 0;
  if (!OpenFileSize(x->archive, &size) || size > static_cast<uint64_t>(INT64_MAX)) return kExtractIoError;
  const int64_t archiveSize = static_cast<int64_t>(size);

  int32_t result = UnscrambleAndCheck(x, archiveSize, password);
  if (result != kExtractOk) return result;

  const int64_t bodyEnd = archiveSize - kTrailerSize;
  int64_t position = 0;
  if (!SeekTo(x->archive, 0)) return kExtractIoError;
  while (position < bodyEnd) {
    result = ExtractEntry(x, destination, &position, bodyEnd, archiveSize);
    if (result != kExtractOk) return result;
  }
  if (x->progress != nullptr) x->progress(x->currentPath.c_str(), 100);
  return kExtractOk;
}

}  // namespace

int32_t ExtractArchive(const char* archivePath, const char* destination, const char* password,
                       ArchiveProgressProc progress) {
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
  if (!FitsAnsiPath(path)) return kExtractCannotOpen;

  std::string dest = destination;
  while (!dest.empty() && dest.back() == '\\') dest.pop_back();

  g_busy = true;
  TExtraction* x = &g_extraction;
  *x = TExtraction();
  x->progress = progress;
  const int32_t result = RunExtraction(x, path, dest, password);

  if (x->output != INVALID_HANDLE_VALUE) CloseHandle(x->output);
  if (x->archive != INVALID_HANDLE_VALUE) CloseHandle(x->archive);
  /* res = */ (void)DeleteFileA(path.c_str());
  *x = TExtraction();
  g_busy = false;
  return result;
}

bool ReadWholeFile(const std::string& path, std::string* data) {
  data->clear();
  if (!FitsAnsiPath(path)) return false;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = false;
  uint64_t size = 0;
  // The decoders take 32-bit lengths; a larger file cannot be a reference or a patch.
  if (OpenFileSize(file, &size) && size <= INT32_MAX) {
    try {
      data->resize(static_cast<size_t>(size));
      ok = ReadUpTo(file, data->data(), static_cast<DWORD>(data->size())) == static_cast<int64_t>(size);
    } catch (const std::bad_alloc&) {
      ok = false;
    }
  }
  if (!CloseHandle(file)) ok = false;
  if (!ok) data->clear();
  return ok;
}

bool WriteWholeFile(const std::string& data, const std::string& path) {
  if (!FitsAnsiPath(path)) return false;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = WriteAll(file, data.data(), data.size());
  if (!CloseHandle(file)) ok = false;
  return ok;
}

namespace {

// The patch's output for the reference: a first pass with 256 KiB more room
// than the reference, and at most one more with the exact size it reports.
bool RebuildFromPatch(const std::string& reference, const std::string& patch, std::string* output) {
  constexpr int64_t kExtraRoom = 0x40000;
  if (static_cast<int64_t>(reference.size()) > INT32_MAX - kExtraRoom) return false;
  int32_t capacity = static_cast<int32_t>(reference.size() + kExtraRoom);
  for (int pass = 0; pass < 2; ++pass) {
    try {
      output->resize(static_cast<size_t>(capacity));
    } catch (const std::bad_alloc&) {
      return false;
    }
    int32_t size = capacity;
    const int32_t code =
        ApplyPatchBuffer(reference.data(), static_cast<int32_t>(reference.size()), output->data(), &size,
                         patch.data(), static_cast<int32_t>(patch.size()), nullptr, nullptr);
    if (code == kDecodeOk && size >= 0 && size <= capacity) {
      output->resize(static_cast<size_t>(size));
      return true;
    }
    if (code != kDecodeOutputTooSmall || size <= capacity) return false;
    capacity = size;
  }
  return false;
}

}  // namespace

bool ApplyPatchFile(const std::string& referencePath, const std::string& outputPath,
                    const std::string& patchPath) {
  bool result = false;
  // The decoder is shared with a running extraction (a progress procedure
  // must not get here); the patch still goes.
  if (!g_busy) {
    g_busy = true;
    std::string reference;
    std::string patch;
    std::string output;
    if (ReadWholeFile(referencePath, &reference) && ReadWholeFile(patchPath, &patch) &&
        RebuildFromPatch(reference, patch, &output)) {
      result = WriteWholeFile(output, outputPath);
    }
    g_busy = false;
  }
  if (FitsAnsiPath(patchPath)) /* res = */ (void)DeleteFileA(patchPath.c_str());
  return result;
}
