// The vozip format's packing helpers and the entry-name check.
#include "VozFormat.h"

#include <cstring>

namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Characters that no Windows file name may hold (':' is checked on its
// own, to say why).
bool IsForbiddenChar(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u < 0x20 || std::strchr("*?<>|\"", c) != nullptr;
}

// "..", and also "...", ". ." and the like: Windows trims trailing dots and
// spaces from a component, so any component of dots and spaces with two or
// more dots is refused rather than guessed at.
bool IsDotComponent(const char* s, size_t n) {
    size_t dots = 0;
    for (size_t i = 0; i < n; i++) {
        if (s[i] == '.') {
            dots++;
        } else if (s[i] != ' ') {
            return false;
        }
    }
    return dots >= 2;
}

bool EqualsIgnoringCase(const char* s, size_t n, const char* what) {
    if (std::strlen(what) != n) return false;
    for (size_t i = 0; i < n; i++) {
        if (UpperAscii(s[i]) != UpperAscii(what[i])) return false;
    }
    return true;
}

// A device name, with or without an extension, in any letter case. The
// base name ends at the first '.'; Windows ignores trailing spaces before it.
bool IsDeviceComponent(const char* s, size_t n) {
    size_t base = 0;
    while (base < n && s[base] != '.') base++;
    while (base > 0 && s[base - 1] == ' ') base--;
    char up[8];
    if (base < 3 || base > 7) return false;
    for (size_t i = 0; i < base; i++) up[i] = UpperAscii(s[i]);
    const auto is = [&](const char* name) { return std::strlen(name) == base && std::memcmp(up, name, base) == 0; };
    if (is("CON") || is("PRN") || is("AUX") || is("NUL") || is("CONIN$") || is("CONOUT$")) {
        return true;
    }
    if (base == 4 && (std::memcmp(up, "COM", 3) == 0 || std::memcmp(up, "LPT", 3) == 0)) {
        const unsigned char d = static_cast<unsigned char>(up[3]);
        // COM1-COM9, LPT1-LPT9, and the superscript digits 1-3 of the ANSI code
        // page, which Windows also maps to these devices.
        return (d >= '1' && d <= '9') || d == 0xB9 || d == 0xB2 || d == 0xB3;
    }
    return false;
}

}  // namespace

void PackBlockHeader(const TBlockHeader& h, uint8_t out[kBlockHeaderSize]) {
    out[0] = h.method;
    StoreLe32(out + 1, static_cast<uint32_t>(h.decodedLength));
    StoreLe32(out + 5, static_cast<uint32_t>(h.storedLength));
    StoreLe32(out + 9, h.checksum);
}

TBlockHeader UnpackBlockHeader(const uint8_t in[kBlockHeaderSize]) {
    TBlockHeader h;
    h.method = in[0];
    h.decodedLength = static_cast<int32_t>(LoadLe32(in + 1));
    h.storedLength = static_cast<int32_t>(LoadLe32(in + 5));
    h.checksum = LoadLe32(in + 9);
    return h;
}

void PackEntryHeader(const TEntryHeader& h, uint8_t out[kEntryHeaderSize]) {
    StoreLe32(out + 0, h.timeStamp);
    StoreLe32(out + 4, h.contentSize);
    StoreLe32(out + 8, h.attributes);
    StoreLe32(out + 12, h.storedSize);
    StoreLe32(out + 16, h.checksum);
}

TEntryHeader UnpackEntryHeader(const uint8_t in[kEntryHeaderSize]) {
    TEntryHeader h;
    h.timeStamp = LoadLe32(in + 0);
    h.contentSize = LoadLe32(in + 4);
    h.attributes = LoadLe32(in + 8);
    h.storedSize = LoadLe32(in + 12);
    h.checksum = LoadLe32(in + 16);
    return h;
}

TEntryNameProblem CheckEntryName(const char* name, size_t length) {
    using P = TEntryNameProblem;
    if (name == nullptr || length == 0) return P::Empty;
    if (IsSeparator(name[0])) return P::Absolute;
    for (size_t i = 0; i < length; i++) {
        if (name[i] == ':') return P::Colon;
        if (IsForbiddenChar(name[i])) return P::ForbiddenCharacter;
    }
    for (size_t start = 0; start <= length;) {
        size_t end = start;
        while (end < length && !IsSeparator(name[end])) end++;
        const char* component = name + start;
        const size_t n = end - start;
        const bool last = end == length;
        if (n == 0) return P::EmptyComponent;
        if (IsDotComponent(component, n)) return P::ParentComponent;
        if (n == 1 && component[0] == '.') {
            if (last) return P::FolderItself;
        } else if (component[n - 1] == '.' || component[n - 1] == ' ') {
            return P::TrailingDotOrBlank;
        }
        if (IsDeviceComponent(component, n)) return P::DeviceName;
        if (start == 0 && EqualsIgnoringCase(component, n, kSetupTempName)) return P::SetupTempFile;
        start = end + 1;
    }
    return P::None;
}

const char* EntryNameProblemText(TEntryNameProblem problem) {
    using P = TEntryNameProblem;
    switch (problem) {
    case P::None:
        return "the name is fine";
    case P::Empty:
        return "the name is empty";
    case P::Absolute:
        return "the name starts with a separator, so it would leave the destination folder";
    case P::Colon:
        return "the name holds a ':' (a drive letter or a stream name)";
    case P::ForbiddenCharacter:
        return "the name holds a control character or one of *?<>|\" that Windows forbids";
    case P::EmptyComponent:
        return "the name has an empty part (a doubled or trailing separator)";
    case P::ParentComponent:
        return "the name has a \"..\" part, so it would leave the destination folder";
    case P::FolderItself:
        return "the name ends in \".\", which names a folder, not a file";
    case P::TrailingDotOrBlank:
        return "a part of the name ends in a dot or a blank, which Windows drops, so the file would land on "
               "another name";
    case P::DeviceName:
        return "a part of the name is a device name of Windows (CON, NUL, COM1, LPT1 and the like)";
    case P::SetupTempFile:
        return "\"tempfile.$$$\" is the name of the setup's own temporary file";
    }
    return "the name cannot be used";
}

bool IsSafeEntryName(const char* name, size_t length) {
    return CheckEntryName(name, length) == TEntryNameProblem::None;
}
