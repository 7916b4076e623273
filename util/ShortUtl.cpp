// Module ShortUtl: string, path, file and time-stamp helpers.
#include "ShortUtl.h"

#include <algorithm>
#include <new>

namespace {

DWORD LastErrorOr(DWORD fallback) {
    const DWORD e = GetLastError();
    return e != 0 ? e : fallback;
}

// MoveFileExA is bound by name: Windows 95, 98 and Me have only a stub of it
// (and no links either), where a file is replaced by deleting and renaming.
typedef BOOL(WINAPI* TMoveFileExProc)(LPCSTR from, LPCSTR to, DWORD flags);

TMoveFileExProc MoveFileExA_ = nullptr;
bool MoveFileExLooked = false;

TMoveFileExProc MoveFileExProc() {
    if (!MoveFileExLooked) {
        MoveFileExLooked = true;
        const HMODULE kernel = GetModuleHandleA("kernel32.dll");
        if (kernel != nullptr) {
            MoveFileExA_ =
                reinterpret_cast<TMoveFileExProc>(reinterpret_cast<void*>(GetProcAddress(kernel, "MoveFileExA")));
        }
    }
    return MoveFileExA_;
}

uint32_t UniqueSeed = 0;

}  // namespace

bool PathFitsAnsiCall(const std::string& path) {
    return !path.empty() && path.size() < MAX_PATH && path.find('\0') == std::string::npos;
}

size_t PCharLength(const char* s) {
    if (s == nullptr) return 0;
    size_t n = 0;
    while (s[n] != '\0') ++n;
    return n;
}

std::string UpperCaseAscii(const std::string& s) {
    std::string r = s;
    for (char& c : r) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
    }
    return r;
}

DWORD SetFileDosTime(HANDLE file, uint32_t dosStamp) {
    FILETIME local;
    FILETIME utc;
    SetLastError(0);
    if (!DosDateTimeToFileTime(static_cast<WORD>(dosStamp >> 16), static_cast<WORD>(dosStamp & 0xFFFF), &local)) {
        return LastErrorOr(ERROR_INVALID_PARAMETER);
    }
    if (!LocalFileTimeToFileTime(&local, &utc)) return LastErrorOr(ERROR_INVALID_PARAMETER);
    if (!SetFileTime(file, nullptr, nullptr, &utc)) return LastErrorOr(ERROR_INVALID_HANDLE);
    return 0;
}

size_t LastDelimiterPos(const std::string& delimiters, const std::string& s) {
    for (size_t i = s.size(); i > 0; --i) {
        if (delimiters.find(s[i - 1]) != std::string::npos) return i;
    }
    return 0;
}

std::string FilePathPart(const std::string& path) { return path.substr(0, LastDelimiterPos("\\:", path)); }

std::string FileNamePart(const std::string& path) { return path.substr(LastDelimiterPos("\\:", path)); }

std::string FileExtPart(const std::string& path) {
    const size_t i = LastDelimiterPos(".\\:", path);
    if (i > 0 && path[i - 1] == '.') return path.substr(i - 1);
    return std::string();
}

std::string FileDirPart(const std::string& path) {
    size_t i = LastDelimiterPos("\\:", path);  // 1-based; the folder ends before it
    if (i == 0) return std::string();
    --i;
    while (i > 0 && path[i - 1] == '\\') --i;
    return path.substr(0, i);
}

DWORD SetFileAttrs(const std::string& path, uint32_t attributes) {
    if (!PathFitsAnsiCall(path)) return path.size() >= MAX_PATH ? ERROR_FILENAME_EXCED_RANGE : ERROR_INVALID_NAME;
    SetLastError(0);
    if (!SetFileAttributesA(path.c_str(), attributes)) return LastErrorOr(ERROR_ACCESS_DENIED);
    return 0;
}

int32_t FileDosTime(const std::string& path) {
    // A pattern would match some other entry; the caller asks about this one.
    if (!PathFitsAnsiCall(path) || path.find_first_of("*?") != std::string::npos) return -1;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(path.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return -1;
    FindClose(h);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
    FILETIME local;
    WORD date = 0;
    WORD time = 0;
    if (!FileTimeToLocalFileTime(&found.ftLastWriteTime, &local)) return -1;
    if (!FileTimeToDosDateTime(&local, &date, &time)) return -1;
    return static_cast<int32_t>((static_cast<uint32_t>(date) << 16) | time);
}

bool FileIsPresent(const std::string& path) { return FileDosTime(path) != -1; }

bool FolderPresent(const std::string& path) {
    if (!PathFitsAnsiCall(path)) return false;
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void CreateFolderChain(const std::string& path) {
    std::string p = path;
    while (!p.empty() && p.back() == '\\') p.pop_back();
    // Checked before recursing, so an over-long path creates none of its parents
    // and the recursion depth stays below MAX_PATH.
    if (p.size() < 3 || !PathFitsAnsiCall(p)) return;
    if (FolderPresent(p)) return;
    const std::string parent = FilePathPart(p);
    if (parent == p) return;
    CreateFolderChain(parent);
    /* ok = */ (void)CreateDirectoryA(p.c_str(), nullptr);  // exists, denied, bad name: the caller finds out
}

bool OpenFileSize(HANDLE file, uint64_t* size) {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(file, &high);
    // All ones is also a valid low half: only the error code tells them apart.
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    *size = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}

bool SeekFileTo(HANDLE file, uint64_t offset) {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

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

HANDLE CreateUniqueFile(const std::string& folder, uint32_t shareMode, std::string* path) {
    path->clear();
    if (UniqueSeed == 0) UniqueSeed = (GetTickCount() ^ (GetCurrentProcessId() << 16)) | 1;
    static const char kHex[] = "0123456789ABCDEF";
    for (int attempt = 0; attempt < 64; ++attempt) {
        UniqueSeed = UniqueSeed * 1103515245u + 12345u;
        const uint32_t n = UniqueSeed >> 16;
        std::string candidate = folder;
        candidate += "~vz";
        for (int shift = 12; shift >= 0; shift -= 4) candidate += kHex[(n >> shift) & 15];
        candidate += ".tmp";
        if (!PathFitsAnsiCall(candidate)) return INVALID_HANDLE_VALUE;
        const HANDLE h = CreateFileA(candidate.c_str(), GENERIC_WRITE, shareMode, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            *path = candidate;
            return h;
        }
        // Taken (a file, a folder or a file pending deletion): try another name.
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) break;
    }
    return INVALID_HANDLE_VALUE;
}

bool MoveFileOver(const std::string& from, const std::string& to) {
    if (!PathFitsAnsiCall(from) || !PathFitsAnsiCall(to)) return false;
    const TMoveFileExProc moveEx = MoveFileExProc();
    if (moveEx != nullptr) {
        if (moveEx(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
        if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) {
            // A read-only file is not replaced until its attribute goes. A link is
            // left alone: its attributes would be its target's.
            const DWORD a = GetFileAttributesA(to.c_str());
            constexpr DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
            if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_READONLY) == 0 || (a & kNotPlain) != 0)
                return false;
            if (!SetFileAttributesA(to.c_str(), a & ~FILE_ATTRIBUTE_READONLY)) return false;
            if (moveEx(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
            /* res = */ (void)SetFileAttributesA(to.c_str(), a);  // as it was
            return false;
        }
    }
    // Delete and rename: the old file is gone only once the new one is whole.
    const DWORD a = GetFileAttributesA(to.c_str());
    if (a != INVALID_FILE_ATTRIBUTES) {
        if ((a & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
        /* res = */ (void)SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL);
        /* res = */ (void)DeleteFileA(to.c_str());
    }
    return MoveFileA(from.c_str(), to.c_str()) != FALSE;
}

bool ReadWholeFile(const std::string& path, std::string* data) {
    data->clear();
    if (!PathFitsAnsiCall(path)) return false;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = false;
    uint64_t size = 0;
    if (OpenFileSize(file, &size) && size <= INT32_MAX) {
        // A reference file may be large: a failed allocation is a failed read,
        // not the end of the setup.
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
    if (!PathFitsAnsiCall(path)) return false;
    std::string tempPath;
    HANDLE file = CreateUniqueFile(FilePathPart(path), 0, &tempPath);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = WriteAll(file, data.data(), data.size());
    if (!CloseHandle(file)) ok = false;
    ok = ok && MoveFileOver(tempPath, path);
    if (!ok) /* res = */
        (void)DeleteFileA(tempPath.c_str());
    return ok;
}
