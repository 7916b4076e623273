// A document reader plug-in of the product: a library that pulls the
// readable text out of one family of office documents for the search. The
// same source makes the three readers; READER_KIND picks the family
// (1 word processing, 2 presentations, 3 spreadsheets).
//
// The readers work on Windows 2000 and later only: on older systems the
// library refuses to load, which is how the setup finds out that the
// platform-dependent readers must go.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "ProductFacts.h"

#if READER_KIND == 1
#define READER_NAME "Word processing documents"
#define READER_EXTENSIONS "DOC;DOT;RTF"
#elif READER_KIND == 2
#define READER_NAME "Presentations"
#define READER_EXTENSIONS "PPT;PPS;POT"
#elif READER_KIND == 3
#define READER_NAME "Spreadsheets"
#define READER_EXTENSIONS "XLS;XLT;XLB;XLC"
#else
#error "READER_KIND must be 1, 2 or 3"
#endif

namespace {

constexpr int kMinRun = 4;  // shorter runs of letters are noise
constexpr DWORD kChunk = 16 * 1024;

bool IsTextByte(unsigned char c) { return (c >= 0x20 && c < 0x7F) || c >= 0xA0 || c == '\t'; }

// Copies a zero-terminated text into a caller's buffer of size bytes,
// cutting it short when needed; the result is the length copied.
int CopyOut(const char* text, char* out, int size) {
    if (!out || size <= 0) return 0;
    int length = static_cast<int>(strlen(text));
    if (length >= size) length = size - 1;
    memcpy(out, text, static_cast<size_t>(length));
    out[length] = '\0';
    return length;
}

}  // namespace

extern "C" {

// The reader's description and its document extensions (separated by ";").
// Returns 1; the texts are cut to the buffers' sizes.
__declspec(dllexport) int __cdecl ReaderInfo(char* name, int nameSize, char* extensions, int extensionsSize) {
    CopyOut(READER_NAME, name, nameSize);
    CopyOut(READER_EXTENSIONS, extensions, extensionsSize);
    return 1;
}

// The runs of readable characters of the document at path (at least four
// in a row), separated by single blanks, into out (size bytes, always
// zero-terminated when size > 0). Returns the length written, or -1 when
// the file cannot be opened or read.
__declspec(dllexport) int __cdecl ExtractText(const char* path, char* out, int size) {
    if (!path || !out || size <= 0) return -1;
    out[0] = '\0';
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return -1;
    static_assert(kMinRun < 8, "the pending run fits its buffer");
    unsigned char chunk[kChunk];
    char pending[kMinRun];  // the start of a run not yet known to be long enough
    int pendingLength = 0;
    int written = 0;
    bool inRun = false;
    bool failed = false;
    const int room = size - 1;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(f, chunk, kChunk, &got, nullptr)) {
            failed = true;
            break;
        }
        if (got == 0) break;
        for (DWORD i = 0; i < got && written < room; ++i) {
            unsigned char c = chunk[i];
            if (!IsTextByte(c)) {
                inRun = false;
                pendingLength = 0;
                continue;
            }
            if (inRun) {
                out[written++] = static_cast<char>(c);
                continue;
            }
            pending[pendingLength++] = static_cast<char>(c);
            if (pendingLength == kMinRun) {
                if (written > 0 && written < room) out[written++] = ' ';
                for (int k = 0; k < kMinRun && written < room; ++k) out[written++] = pending[k];
                pendingLength = 0;
                inRun = true;
            }
        }
        if (written >= room) break;
    }
    CloseHandle(f);
    out[written] = '\0';
    return failed ? -1 : written;
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) return FALSE;
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 5;
}
