// Small helpers shared by the Windows tests and benchmarks.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace voztest {

// Deletes folder and everything below it, read-only files included.
// Best effort: what cannot be deleted stays.
inline void RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      const std::string child = folder + "\\" + name;
      SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());
}

inline bool FileExists(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

inline bool FolderExists(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// ASCII letters upper-cased; other bytes as they are.
inline std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// The whole file, read while others may still have it open.
inline bool ReadBytes(const std::string& path, std::string* data) {
  data->clear();
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD size = GetFileSize(f, nullptr);
  data->resize(size);
  DWORD got = 0;
  bool ok = size == 0 || (ReadFile(f, data->data(), size, &got, nullptr) && got == size);
  CloseHandle(f);
  return ok;
}

// Creates or replaces path with data; true when every byte is written.
inline bool WriteBytes(const std::string& path, const std::string& data) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = data.empty() || (WriteFile(f, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
                             written == data.size());
  return CloseHandle(f) && ok;
}

// The deletions Windows was asked to do at the next restart whose source
// lies below folder; with remove, they are taken out of the list again.
inline std::vector<std::string> PendingDeletes(const std::string& folder, bool remove) {
  constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  std::vector<std::string> found;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return found;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      type == REG_MULTI_SZ) {
    std::string data(size + 2, '\0');
    if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                         &size) == ERROR_SUCCESS) {
      // Pairs of source and target; a deletion has an empty target, so the
      // list is cut by its size, not by the first empty string.
      std::vector<std::string> items;
      for (size_t at = 0; at < size;) {
        items.emplace_back(data.c_str() + at);
        at += items.back().size() + 1;
      }
      std::string kept;
      for (size_t i = 0; i + 1 < items.size(); i += 2) {
        if (Upper(items[i]).find(Upper(folder)) != std::string::npos)
          found.push_back(items[i]);
        else
          kept += items[i] + '\0' + items[i + 1] + '\0';
      }
      if (remove && !found.empty()) {
        if (kept.empty())
          RegDeleteValueA(key, "PendingFileRenameOperations");
        else
          RegSetValueExA(key, "PendingFileRenameOperations", 0, REG_MULTI_SZ,
                         reinterpret_cast<const BYTE*>(kept.data()), static_cast<DWORD>(kept.size() + 1));
      }
    }
  }
  RegCloseKey(key);
  return found;
}

}  // namespace voztest
