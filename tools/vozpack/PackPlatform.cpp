// File-system helpers of vozpack, with the few parts that differ between
// POSIX and Windows (file times, permissions, temp files, names).
#include "PackPlatform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <random>

#include "PackDosTime.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>
#endif

FILE* OpenFile(const fs::path& path, const char* mode) {
#ifdef _WIN32
    std::wstring wmode(mode, mode + std::strlen(mode));
    return _wfopen(path.c_str(), wmode.c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

FILE* OpenInputFile(const fs::path& path, std::string* message) {
#ifdef _WIN32
    FILE* f = OpenFile(path, "rb");
    if (f == nullptr) {
        std::error_code ec;
        *message = fs::is_directory(path, ec) ? PathText(path) + " is a folder"
                                              : "cannot open " + PathText(path) + ": " + ErrnoText();
        return nullptr;
    }
    // Devices and pipes open as files too: only a file on a disk is read.
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
    if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK) {
        std::fclose(f);
        *message = PathText(path) + " is not a regular file";
        return nullptr;
    }
    return f;
#else
    // O_NONBLOCK: opening a FIFO for reading would wait for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *message = "cannot open " + PathText(path) + ": " + ErrnoText();
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        *message = "cannot read " + PathText(path) + ": " + ErrnoText();
        close(fd);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        *message = PathText(path) + (S_ISDIR(st.st_mode) ? " is a folder" : " is not a regular file");
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags != -1) (void)fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    FILE* f = fdopen(fd, "rb");
    if (f == nullptr) {
        *message = "cannot open " + PathText(path) + ": " + ErrnoText();
        close(fd);
    }
    return f;
#endif
}

bool SeekFile(FILE* f, uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(f, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool FileSize(FILE* f, uint64_t* size) {
#ifdef _WIN32
    if (_fseeki64(f, 0, SEEK_END) != 0) return false;
    const __int64 at = _ftelli64(f);
#else
    if (fseeko(f, 0, SEEK_END) != 0) return false;
    const off_t at = ftello(f);
#endif
    if (at < 0) return false;
    *size = static_cast<uint64_t>(at);
    return true;
}

std::string ErrnoText() { return std::strerror(errno); }

bool ReadFileBytes(const fs::path& path, uint64_t limit, std::vector<uint8_t>* data, std::string* message) {
    data->clear();
    FILE* f = OpenInputFile(path, message);
    if (f == nullptr) return false;
    uint64_t size = 0;
    bool ok = FileSize(f, &size) && SeekFile(f, 0);
    if (!ok) {
        *message = "cannot read " + PathText(path) + ": " + ErrnoText();
    } else if (size > limit) {
        *message = PathText(path) + " is too large (" + std::to_string(size) + " bytes, at most " +
                   std::to_string(limit) + ")";
        ok = false;
    } else {
        try {
            data->resize(static_cast<size_t>(size));
        } catch (const std::bad_alloc&) {
            *message = "not enough memory to read " + PathText(path) + " (" + std::to_string(size) + " bytes)";
            ok = false;
        }
    }
    if (ok) {
        const size_t got = size > 0 ? std::fread(data->data(), 1, data->size(), f) : 0;
        if (std::ferror(f)) {
            *message = "cannot read " + PathText(path) + ": " + ErrnoText();
            ok = false;
        } else if (got != data->size() || std::fgetc(f) != EOF) {
            *message = PathText(path) + " changed while it was read";
            ok = false;
        }
    }
    std::fclose(f);
    if (!ok) std::vector<uint8_t>().swap(*data);
    return ok;
}

// ---- Temp files ---------------------------------------------------------------

namespace {

// The temp file of a pack in flight, for the interrupt handler (which may
// only use what is already in place).
#ifdef _WIN32
wchar_t InterruptPath[32768];
#else
char InterruptPath[8192];
#endif
volatile std::sig_atomic_t InterruptArmed = 0;

extern "C" void OnInterrupt(int sig) {
    if (InterruptArmed) {
#ifdef _WIN32
        _wremove(InterruptPath);
#else
        unlink(InterruptPath);
#endif
    }
    std::_Exit(128 + sig);
}

}  // namespace

void WatchInterrupt(const fs::path& tempPath) {
    const auto& native = tempPath.native();
    if (native.size() + 1 > sizeof(InterruptPath) / sizeof(InterruptPath[0])) return;
    std::memcpy(InterruptPath, native.c_str(), (native.size() + 1) * sizeof(InterruptPath[0]));
    InterruptArmed = 1;
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
}

void UnwatchInterrupt() {
    InterruptArmed = 0;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

unsigned DefaultNewFileMode() {
#ifdef _WIN32
    return 0666;
#else
    const mode_t mask = umask(0);
    umask(mask);
    return 0666u & ~static_cast<unsigned>(mask);
#endif
}

unsigned FileModeOr(const fs::path& path, unsigned fallback) {
#ifdef _WIN32
    (void)path;
    return fallback;
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return fallback;
    return static_cast<unsigned>(st.st_mode) & 07777u;
#endif
}

namespace {

// Six letters and digits for a temporary name; collisions are retried.
std::string RandomTag() {
    static std::mt19937_64 rng(static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                               (static_cast<uint64_t>(
#ifdef _WIN32
                                    _getpid()
#else
                                    getpid()
#endif
                                        )
                                << 32));
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string tag(6, 'x');
    for (char& c : tag) c = kChars[rng() % (sizeof kChars - 1)];
    return tag;
}

constexpr int kTempAttempts = 100;

}  // namespace

bool CreateTempBeside(const fs::path& target, unsigned mode, TTempFile* temp, std::string* message) {
    temp->file = nullptr;
    temp->target = target;
    const fs::path folder = target.parent_path();
    errno = 0;
    for (int attempt = 0; attempt < kTempAttempts; attempt++) {
        const fs::path candidate = folder / ("vozpack-" + RandomTag() + ".tmp");
#ifdef _WIN32
        (void)mode;
        const int fd = _wopen(candidate.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
        // mode applies as given (an open's mode is cut by the umask).
        const int fd = open(candidate.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
#endif
        if (fd < 0) {
            if (errno == EEXIST) continue;
            break;
        }
#ifdef _WIN32
        temp->file = _fdopen(fd, "wb");
#else
        (void)fchmod(fd, static_cast<mode_t>(mode));
        temp->file = fdopen(fd, "wb");
#endif
        if (temp->file == nullptr) {
#ifdef _WIN32
            _close(fd);
#else
            close(fd);
#endif
            std::error_code ec;
            fs::remove(candidate, ec);
            break;
        }
        temp->path = candidate;
        return true;
    }
    *message = "cannot create a file beside " + PathText(target) + ": " + ErrnoText();
    return false;
}

bool CommitTemp(TTempFile* temp, std::string* message) {
    bool ok = std::fflush(temp->file) == 0 && !std::ferror(temp->file);
    if (!ok) *message = "cannot write " + PathText(temp->target) + ": " + ErrnoText();
    if (std::fclose(temp->file) != 0 && ok) {
        *message = "cannot write " + PathText(temp->target) + ": " + ErrnoText();
        ok = false;
    }
    temp->file = nullptr;
    if (ok) {
#ifdef _WIN32
        ok = MoveFileExW(temp->path.c_str(), temp->target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
        if (!ok) {
            *message =
                "cannot replace " + PathText(temp->target) + " (Windows error " + std::to_string(GetLastError()) + ")";
        }
#else
        ok = std::rename(temp->path.c_str(), temp->target.c_str()) == 0;
        if (!ok) *message = "cannot replace " + PathText(temp->target) + ": " + ErrnoText();
#endif
    }
    if (!ok) {
        std::error_code ec;
        fs::remove(temp->path, ec);
    }
    return ok;
}

void DiscardTemp(TTempFile* temp) {
    if (temp->file != nullptr) std::fclose(temp->file);
    temp->file = nullptr;
    std::error_code ec;
    if (!temp->path.empty()) fs::remove(temp->path, ec);
}

// ---- Times and attributes ---------------------------------------------------

bool FileDosStamp(const fs::path& path, uint32_t* stamp) {
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    FILETIME local;
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToSystemTime(&local, &st)) {
        *stamp = DosStampFromParts(1980, 1, 1, 0, 0, 0);
        return true;
    }
    *stamp = DosStampFromParts(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
    return true;
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    const time_t t = st.st_mtime;
    struct tm local;
    if (localtime_r(&t, &local) == nullptr) {
        // Out of the calendar's range: clamp to the near end of the DOS range.
        *stamp = t < 0 ? DosStampFromParts(1980, 1, 1, 0, 0, 0) : DosStampFromParts(9999, 12, 31, 23, 59, 59);
        return true;
    }
    *stamp = DosStampFromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                               local.tm_sec);
    return true;
#endif
}

bool FileIsWritable(const fs::path& path) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (ec) return true;
    return (st.permissions() & fs::perms::owner_write) != fs::perms::none;
}

#ifndef _WIN32
namespace {

// The time_t of a DOS stamp in local time; false for an invalid stamp.
bool DosStampToTime(uint32_t stamp, time_t* t) {
    TDosParts p;
    if (!DosStampToParts(stamp, &p)) return false;
    struct tm local;
    std::memset(&local, 0, sizeof local);
    local.tm_year = p.year - 1900;
    local.tm_mon = p.month - 1;
    local.tm_mday = p.day;
    local.tm_hour = p.hour;
    local.tm_min = p.minute;
    local.tm_sec = p.second;
    local.tm_isdst = -1;  // whatever the zone's rule says for that date
    *t = mktime(&local);
    return *t != static_cast<time_t>(-1);
}

// The last-write time (the last-access time stays) and, for a read-only
// entry, no write permission, on an open file.
void ApplyToOpenFile(int fd, uint32_t stamp, uint32_t attributes) {
    time_t t;
    if (DosStampToTime(stamp, &t)) {
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = t;
        times[1].tv_nsec = 0;
        /* ok = */ (void)futimens(fd, times);
    }
    if ((attributes & 0x01) != 0) {
        struct stat st;
        if (fstat(fd, &st) == 0) /* ok = */
            (void)fchmod(fd, st.st_mode & ~static_cast<mode_t>(0222));
    }
}

}  // namespace
#endif

void ApplyDosStampAndAttributes(const fs::path& path, uint32_t stamp, uint32_t attributes) {
#ifdef _WIN32
    TDosParts p;
    if (DosStampToParts(stamp, &p)) {
        HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            FILETIME local, utc;
            if (DosDateTimeToFileTime(static_cast<WORD>(stamp >> 16), static_cast<WORD>(stamp & 0xFFFF), &local) &&
                LocalFileTimeToFileTime(&local, &utc)) {
                /* ok = */ SetFileTime(h, nullptr, nullptr, &utc);
            }
            CloseHandle(h);
        }
    }
    /* ok = */ SetFileAttributesW(path.c_str(), attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL);
#else
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) ApplyToOpenFile(fd, stamp, attributes);
    close(fd);
#endif
}

// ---- Extracting ------------------------------------------------------------------

namespace {

// The components of an archive name ("\" or "/" between them).
std::vector<std::string> NameComponents(const std::string& name) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); i++) {
        if (i == name.size() || name[i] == '\\' || name[i] == '/') {
            parts.push_back(name.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

std::string JoinName(const std::vector<std::string>& parts, size_t count) {
    std::string s;
    for (size_t i = 0; i < count; i++) s += (i > 0 ? "\\" : "") + parts[i];
    return s;
}

std::string FolderText(const TExtractTarget* t, const std::string& folderName) {
    return PathText(NameToPath(t->destination, folderName));
}

}  // namespace

#ifdef _WIN32

int32_t OpenEntryFile(TExtractTarget* t, const std::string& name, TEntryFile* e, std::string* message) {
    *e = TEntryFile();
    const std::vector<std::string> parts = NameComponents(name);
    if (t->checked.insert(std::string()).second) {
        std::error_code ec;
        fs::create_directories(t->destination, ec);  // the user's own folder, links and all
    }
    for (size_t i = 1; i < parts.size(); i++) {
        const std::string folderName = JoinName(parts, i);
        if (t->checked.count(folderName) != 0) continue;
        const fs::path folder = NameToPath(t->destination, folderName);
        DWORD a = GetFileAttributesW(folder.c_str());
        if (a == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = CreateDirectoryW(folder.c_str(), nullptr) ? 0 : GetLastError();
            if (error != 0 && error != ERROR_ALREADY_EXISTS) {
                *message = "cannot create the folder " + FolderText(t, folderName) + " (Windows error " +
                           std::to_string(error) + ")";
                return -2;
            }
            a = GetFileAttributesW(folder.c_str());
        }
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            *message = "the folder " + FolderText(t, folderName) + " is a link, and nothing is written through links";
            return -6;
        }
        if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            *message = "cannot create the folder " + FolderText(t, folderName) + ": a file stands in its place";
            return -2;
        }
        t->checked.insert(folderName);
    }
    e->target = NameToPath(t->destination, name);
    TTempFile temp;
    if (!CreateTempBeside(e->target, DefaultNewFileMode(), &temp, message)) return -2;
    e->file = temp.file;
    e->tempPath = temp.path;
    return 0;
}

bool CommitEntryFile(TExtractTarget*, TEntryFile* e, uint32_t stamp, uint32_t attributes, std::string* message) {
    bool ok = std::fflush(e->file) == 0 && !std::ferror(e->file);
    if (std::fclose(e->file) != 0) ok = false;
    e->file = nullptr;
    if (!ok) *message = "cannot write " + PathText(e->target) + ": " + ErrnoText();
    if (ok) {
        // A read-only file is not replaced until its attribute goes; a link
        // keeps its attributes, MoveFileEx replaces it as it is.
        const DWORD a = GetFileAttributesW(e->target.c_str());
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) != 0 &&
            (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
            /* ok = */ SetFileAttributesW(e->target.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
        }
        ok = MoveFileExW(e->tempPath.c_str(), e->target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
        if (!ok) {
            const DWORD error = GetLastError();
            *message = "cannot replace " + PathText(e->target) + " (Windows error " + std::to_string(error) + ")";
        }
    }
    if (!ok) {
        std::error_code ec;
        fs::remove(e->tempPath, ec);
        return false;
    }
    ApplyDosStampAndAttributes(e->target, stamp, attributes);
    return true;
}

void DiscardEntryFile(TExtractTarget*, TEntryFile* e) {
    if (e->file != nullptr) std::fclose(e->file);
    e->file = nullptr;
    std::error_code ec;
    if (!e->tempPath.empty()) fs::remove(e->tempPath, ec);
    e->tempPath.clear();
}

void CloseExtractTarget(TExtractTarget* t) { t->checked.clear(); }

#else

int32_t OpenEntryFile(TExtractTarget* t, const std::string& name, TEntryFile* e, std::string* message) {
    *e = TEntryFile();
    const std::vector<std::string> parts = NameComponents(name);
    const std::string folderName = JoinName(parts, parts.size() - 1);
    if (t->folderFd < 0 || folderName != t->folderName) {
        CloseExtractTarget(t);
        // The destination is the user's own choice, links and all.
        int fd = open(t->destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            std::error_code ec;
            fs::create_directories(t->destination, ec);
            fd = open(t->destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        }
        if (fd < 0) {
            *message = "cannot open the folder " + PathText(t->destination) + ": " + ErrnoText();
            return -2;
        }
        // Below it, every folder is opened without following a link, and made
        // first when it is missing.
        for (size_t i = 0; i + 1 < parts.size(); i++) {
            const char* part = parts[i].c_str();
            int next = openat(fd, part, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (next < 0 && errno == ENOENT) {
                if (mkdirat(fd, part, 0777) != 0 && errno != EEXIST) {
                    *message = "cannot create the folder " + FolderText(t, JoinName(parts, i + 1)) + ": " + ErrnoText();
                    close(fd);
                    return -2;
                }
                next = openat(fd, part, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            }
            if (next < 0) {
                const std::string error = ErrnoText();
                struct stat st;
                const bool link = fstatat(fd, part, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
                const bool file = !link && fstatat(fd, part, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode);
                close(fd);
                const std::string folder = FolderText(t, JoinName(parts, i + 1));
                if (link) {
                    *message = "the folder " + folder + " is a symbolic link, and nothing is written through links";
                    return -6;
                }
                *message =
                    "cannot create the folder " + folder + (file ? ": a file stands in its place" : ": " + error);
                return -2;
            }
            close(fd);
            fd = next;
        }
        t->folderFd = fd;
        t->folderName = folderName;
    }

    e->target = NameToPath(t->destination, name);
    e->leafName = parts.back();
    errno = 0;
    for (int attempt = 0; attempt < kTempAttempts; attempt++) {
        const std::string tempName = "vozpack-" + RandomTag() + ".tmp";
        const int fd =
            openat(t->folderFd, tempName.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            break;
        }
        (void)fchmod(fd, static_cast<mode_t>(DefaultNewFileMode()));
        e->file = fdopen(fd, "wb");
        if (e->file == nullptr) {
            close(fd);
            unlinkat(t->folderFd, tempName.c_str(), 0);
            break;
        }
        e->tempName = tempName;
        e->tempPath = e->target.parent_path() / tempName;
        return 0;
    }
    *message = "cannot create a file beside " + PathText(e->target) + ": " + ErrnoText();
    return -2;
}

bool CommitEntryFile(TExtractTarget* t, TEntryFile* e, uint32_t stamp, uint32_t attributes, std::string* message) {
    bool ok = std::fflush(e->file) == 0 && !std::ferror(e->file);
    if (ok) ApplyToOpenFile(fileno(e->file), stamp, attributes);
    if (std::fclose(e->file) != 0) ok = false;
    e->file = nullptr;
    if (!ok) {
        *message = "cannot write " + PathText(e->target) + ": " + ErrnoText();
    } else if (renameat(t->folderFd, e->tempName.c_str(), t->folderFd, e->leafName.c_str()) != 0) {
        *message = "cannot replace " + PathText(e->target) + ": " + ErrnoText();
        ok = false;
    }
    if (!ok) unlinkat(t->folderFd, e->tempName.c_str(), 0);
    e->tempName.clear();
    return ok;
}

void DiscardEntryFile(TExtractTarget* t, TEntryFile* e) {
    if (e->file != nullptr) std::fclose(e->file);
    e->file = nullptr;
    if (!e->tempName.empty() && t->folderFd >= 0) unlinkat(t->folderFd, e->tempName.c_str(), 0);
    e->tempName.clear();
}

void CloseExtractTarget(TExtractTarget* t) {
    if (t->folderFd >= 0) close(t->folderFd);
    t->folderFd = -1;
    t->folderName.clear();
}

#endif

bool FileIdentityOf(const fs::path& path, TFileIdentity* id) {
#ifdef _WIN32
    HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!ok) return false;
    id->device = info.dwVolumeSerialNumber;
    id->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    id->device = static_cast<uint64_t>(st.st_dev);
    id->index = static_cast<uint64_t>(st.st_ino);
    return true;
#endif
}

// ---- Names ------------------------------------------------------------------------

bool ComponentToName(const fs::path& component, std::string* name) {
#ifdef _WIN32
    const std::wstring& w = component.native();
    name->clear();
    if (w.empty()) return true;
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, &usedDefault);
    if (n <= 0 || usedDefault) return false;
    name->resize(static_cast<size_t>(n));
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w.data(), static_cast<int>(w.size()), name->data(), n, nullptr,
                        &usedDefault);
    return !usedDefault;
#else
    *name = component.native();
    return true;
#endif
}

fs::path NameToPath(const fs::path& destination, const std::string& name) {
#ifdef _WIN32
    std::wstring w;
    if (!name.empty()) {
        const int n = MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
        if (n > 0) {
            w.resize(static_cast<size_t>(n));
            MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), w.data(), n);
        }
    }
    return destination / fs::path(w);
#else
    std::string s = name;
    for (char& c : s) {
        if (c == '\\') c = '/';
    }
    return destination / fs::path(s);
#endif
}

std::string PrintableText(const std::string& bytes) {
    std::string s;
    s.reserve(bytes.size());
    const auto escape = [&s](unsigned char c) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02X", c);
        s += buf;
    };
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x20 || c == 0x7F) {
            escape(c);
            i++;
            continue;
        }
#ifdef _WIN32
        // Bytes of the ANSI code page: the console shows them as characters.
        s += static_cast<char>(c);
        i++;
#else
        // One UTF-8 sequence, kept whole when it is valid and no C1 control.
        size_t length = c < 0x80 ? 1
                        : c >= 0xC2 && c <= 0xDF ? 2
                        : c >= 0xE0 && c <= 0xEF ? 3
                        : c >= 0xF0 && c <= 0xF4 ? 4
                                                 : 0;
        uint32_t cp = length == 2 ? c & 0x1F : length == 3 ? c & 0x0F : c & 0x07;
        for (size_t k = 1; k < length; k++) {
            const unsigned char next = i + k < bytes.size() ? static_cast<unsigned char>(bytes[i + k]) : 0;
            if ((next & 0xC0) != 0x80) {
                length = 0;
                break;
            }
            cp = (cp << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are no UTF-8.
        if ((length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (length == 2 && cp <= 0x9F)) {
            length = 0;  // a C1 control (U+0080..U+009F) is escaped byte by byte too
        }
        if (length == 0) {
            escape(c);
            i++;
        } else {
            s.append(bytes, i, length);
            i += length;
        }
#endif
    }
    return s;
}

std::string ShortenedText(const std::string& text, size_t limit) {
    if (text.size() <= limit || limit < 16) return text;
    // A cut may not fall inside a UTF-8 sequence or a "\xNN" escape.
    const auto startsHere = [&text](size_t at) {
        if (at == 0 || at >= text.size()) return true;
        if ((static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) return false;
        for (size_t back = 1; back <= 3 && back <= at; back++) {
            if (text.compare(at - back, 2, "\\x") == 0) return false;
        }
        return true;
    };
    size_t head = limit / 3;
    size_t tail = text.size() - (limit - head - 3);
    while (head > 0 && !startsHere(head)) head--;
    while (tail < text.size() && !startsHere(tail)) tail++;
    return text.substr(0, head) + "..." + text.substr(tail);
}

std::string PathText(const fs::path& path) {
#ifdef _WIN32
    const std::wstring& w = path.native();
    if (w.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? static_cast<size_t>(n) : 0, '?');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return ShortenedText(PrintableText(s));
#else
    return ShortenedText(PrintableText(path.native()));
#endif
}

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

// ---- Worker threads ----------------------------------------------------------
// Plain Win32 threads on Windows: the Windows build has no thread library of
// the C++ runtime (it is built without the POSIX thread layer).

namespace {

struct TParallelWork {
    size_t count;
    void (*work)(size_t index, void* user);
    void* user;
    std::atomic<size_t> next{0};
};

void RunParallelWork(TParallelWork* w) {
    for (size_t i; (i = w->next.fetch_add(1)) < w->count;) w->work(i, w->user);
}

#ifdef _WIN32
DWORD WINAPI ParallelThread(LPVOID param) {
    RunParallelWork(static_cast<TParallelWork*>(param));
    return 0;
}
#endif

unsigned CoreCount() {
#ifdef _WIN32
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return std::max<unsigned>(1, info.dwNumberOfProcessors);
#else
    return std::max(1u, std::thread::hardware_concurrency());
#endif
}

}  // namespace

void ParallelFor(size_t count, int threads, void (*work)(size_t index, void* user), void* user) {
    unsigned n = threads > 0 ? static_cast<unsigned>(threads) : CoreCount();
    n = static_cast<unsigned>(std::min<size_t>({n, 64u, count}));
    TParallelWork w;
    w.count = count;
    w.work = work;
    w.user = user;
#ifdef _WIN32
    // A thread that cannot be started leaves its share to the others.
    HANDLE handles[64];
    DWORD started = 0;
    for (unsigned t = 1; t < n; t++) {
        HANDLE h = CreateThread(nullptr, 0, ParallelThread, &w, 0, nullptr);
        if (h != nullptr) handles[started++] = h;
    }
    RunParallelWork(&w);
    if (started > 0) WaitForMultipleObjects(started, handles, TRUE, INFINITE);
    for (DWORD t = 0; t < started; t++) CloseHandle(handles[t]);
#else
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < n; t++) pool.emplace_back(RunParallelWork, &w);
    RunParallelWork(&w);
    for (std::thread& t : pool) t.join();
#endif
}
