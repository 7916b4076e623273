// The product's cache tool: empties the page cache, the "*.HTM" pages in
// the folder the tool sits in. The setup clears the cache itself within a
// time budget and starts this tool only when the budget ran out, so the
// tool takes its time, shows nothing and works without a command line.
// Exit code 0 when every page went, 1 when some could not be deleted.
#include <windows.h>

#include <string>

#include "ProductUtil.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    std::string folder = ProgramFolder();
    if (folder.empty()) return 1;
    // Deleting while enumerating may make some file systems skip entries, so
    // the search runs again until a pass deletes nothing more.
    bool left = false;
    for (int pass = 0; pass < 4; ++pass) {
        left = false;
        int deleted = 0;
        WIN32_FIND_DATAA entry;
        std::string pattern = folder + "\\*.HTM";
        HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
        if (find == INVALID_HANDLE_VALUE) break;
        do {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            std::string path = folder + "\\" + entry.cFileName;
            // Cached pages may be read-only, hidden or system.
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_ARCHIVE);
            if (DeleteFileA(path.c_str()))
                ++deleted;
            else
                left = true;
        } while (FindNextFileA(find, &entry));
        FindClose(find);
        if (deleted == 0) break;
    }
    return left ? 1 : 0;
}
