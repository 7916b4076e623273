// Module ShortUtl: string, path, file and time-stamp helpers.
#include "ShortUtl.h"

namespace {

DWORD LastErrorOr(DWORD fallback) {
  const DWORD e = GetLastError();
  return e != 0 ? e : fallback;
}

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
  if (!DosDateTimeToFileTime(static_cast<WORD>(dosStamp >> 16), static_cast<WORD>(dosStamp & 0xFFFF),
                             &local)) {
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

std::string FilePathPart(const std::string& path) {
  return path.substr(0, LastDelimiterPos("\\:", path));
}

std::string FileNamePart(const std::string& path) {
  return path.substr(LastDelimiterPos("\\:", path));
}

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
