// File-system helpers of vozpack, with the few parts that differ between
// POSIX and Windows (file times, permissions, temp files, names).
#include "PackPlatform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "VozPack.h"

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

bool ReadFileBytes(const fs::path& path, uint64_t limit, std::vector<uint8_t>* data,
                   std::string* message) {
  data->clear();
  FILE* f = OpenFile(path, "rb");
  if (f == nullptr) {
    *message = "cannot open " + PathText(path) + ": " + ErrnoText();
    return false;
  }
  uint64_t size = 0;
  bool ok = FileSize(f, &size) && SeekFile(f, 0);
  if (!ok) {
    *message = "cannot read " + PathText(path) + ": " + ErrnoText();
  } else if (size > limit) {
    *message = PathText(path) + " is too large (" + std::to_string(size) + " bytes, at most " +
               std::to_string(limit) + ")";
    ok = false;
  } else {
    data->resize(static_cast<size_t>(size));
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
  if (!ok) data->clear();
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

bool CreateTempBeside(const fs::path& target, unsigned mode, TTempFile* temp,
                      std::string* message) {
  temp->file = nullptr;
  temp->target = target;
#ifdef _WIN32
  (void)mode;
  for (unsigned n = 0; n < 1000; n++) {
    fs::path candidate = target;
    candidate += L".vozpack-" + std::to_wstring(_getpid()) + L"-" + std::to_wstring(n);
    const int fd = _wopen(candidate.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                          _S_IREAD | _S_IWRITE);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      break;
    }
    temp->file = _fdopen(fd, "wb");
    if (temp->file == nullptr) {
      _close(fd);
      _wremove(candidate.c_str());
      break;
    }
    temp->path = candidate;
    return true;
  }
#else
  std::string pattern = target.native() + ".vozpack-XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd >= 0) {
    (void)fchmod(fd, static_cast<mode_t>(mode));  // mkstemp makes it private
    temp->file = fdopen(fd, "wb");
    if (temp->file != nullptr) {
      temp->path = pattern;
      return true;
    }
    close(fd);
    unlink(pattern.c_str());
  }
#endif
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
      *message = "cannot replace " + PathText(temp->target) + " (Windows error " +
                 std::to_string(GetLastError()) + ")";
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
    *stamp = t < 0 ? DosStampFromParts(1980, 1, 1, 0, 0, 0)
                   : DosStampFromParts(9999, 12, 31, 23, 59, 59);
    return true;
  }
  *stamp = DosStampFromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                             local.tm_min, local.tm_sec);
  return true;
#endif
}

bool FileIsWritable(const fs::path& path) {
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (ec) return true;
  return (st.permissions() & fs::perms::owner_write) != fs::perms::none;
}

void ApplyDosStampAndAttributes(const fs::path& path, uint32_t stamp, uint32_t attributes) {
  TDosParts p;
  const bool valid = DosStampToParts(stamp, &p);
#ifdef _WIN32
  if (valid) {
    HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      FILETIME local, utc;
      if (DosDateTimeToFileTime(static_cast<WORD>(stamp >> 16), static_cast<WORD>(stamp & 0xFFFF),
                                &local) &&
          LocalFileTimeToFileTime(&local, &utc)) {
        /* ok = */ SetFileTime(h, nullptr, nullptr, &utc);
      }
      CloseHandle(h);
    }
  }
  /* ok = */ SetFileAttributesW(path.c_str(), attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL);
#else
  if (valid) {
    struct tm local;
    std::memset(&local, 0, sizeof local);
    local.tm_year = p.year - 1900;
    local.tm_mon = p.month - 1;
    local.tm_mday = p.day;
    local.tm_hour = p.hour;
    local.tm_min = p.minute;
    local.tm_sec = p.second;
    local.tm_isdst = -1;  // whatever the zone's rule says for that date
    const time_t t = mktime(&local);
    if (t != static_cast<time_t>(-1)) {
      struct timespec times[2];
      times[0].tv_sec = 0;
      times[0].tv_nsec = UTIME_OMIT;  // the last-access time stays
      times[1].tv_sec = t;
      times[1].tv_nsec = 0;
      /* ok = */ utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
  }
  if ((attributes & 0x01) != 0) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
      /* ok = */ chmod(path.c_str(), st.st_mode & ~static_cast<mode_t>(0222));
    }
  }
#endif
}

void MakeReplaceable(const fs::path& path) {
#ifdef _WIN32
  const DWORD attrs = GetFileAttributesW(path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0) return;
  if ((attrs & FILE_ATTRIBUTE_READONLY) != 0) {
    /* ok = */ SetFileAttributesW(path.c_str(), attrs & ~FILE_ATTRIBUTE_READONLY);
  }
#else
  (void)path;  // rename replaces any file or link, whatever its mode
#endif
}

// ---- Names ------------------------------------------------------------------------

bool ComponentToName(const fs::path& component, std::string* name) {
#ifdef _WIN32
  const std::wstring& w = component.native();
  name->clear();
  if (w.empty()) return true;
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w.data(), static_cast<int>(w.size()),
                                    nullptr, 0, nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return false;
  name->resize(static_cast<size_t>(n));
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w.data(), static_cast<int>(w.size()),
                      name->data(), n, nullptr, &usedDefault);
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

std::string PathText(const fs::path& path) {
#ifdef _WIN32
  const std::wstring& w = path.native();
  if (w.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string s(n > 0 ? static_cast<size_t>(n) : 0, '?');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
#else
  return path.native();
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
