// libFuzzer target for the archive layer: vozpack's reader (the locator,
// the body checksum, the entry walk and each entry's decoding) on setup
// files and archives made from the input, and the entry-name rule that the
// setup and vozpack share, checked against a model of how Windows reads a
// path.
//
// Input: one mode byte, then the rest.
//   bits 0-1: 0 the rest is a plain body: it is scrambled and given its
//             trailer, so the entry walk is reached past the checksum;
//             1 the same behind a stub and the marker;
//             2 the rest is a whole file as it stands (locator, PE headers);
//             3 the rest is one entry name, for the name rule alone.
//   bits 2-3: 0 test, 1 list, 2 extract (into a folder of this process; the
//             check is that nothing appears beside it), 3 test.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "CRC_32.h"
#include "PackCommands.h"
#include "Scramble.h"
#include "VozFormat.h"

namespace {

namespace fs = std::filesystem;

// ---- The name rule against a model of Windows ------------------------------

std::string Upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

bool IsDevice(const std::string& component) {
    // Windows looks at the part before the first dot, trailing blanks dropped.
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    base = Upper(base);
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* d : kDevices) {
        if (base == d) return true;
    }
    if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)) {
        const unsigned char digit = static_cast<unsigned char>(base[3]);
        return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return false;
}

// What Windows makes of destination + "\" + name, part by part: either
// slash separates, a part of dots and blanks is "." (stays) or ".." (climbs,
// counted as such when it has two dots or more), and other parts lose their
// trailing dots and blanks. False when a part names a device or holds a
// character Windows refuses.
bool WindowsView(const std::string& name, std::vector<std::string>* parts) {
    parts->clear();
    std::string part;
    for (size_t i = 0; i <= name.size(); i++) {
        if (i < name.size() && name[i] != '\\' && name[i] != '/') {
            const unsigned char c = static_cast<unsigned char>(name[i]);
            if (c < 0x20 || std::strchr(":*?<>|\"", name[i]) != nullptr) return false;
            part += name[i];
            continue;
        }
        const size_t dots = static_cast<size_t>(std::count(part.begin(), part.end(), '.'));
        if (part.find_first_not_of(". ") == std::string::npos && dots > 0) {
            part = dots >= 2 ? ".." : ".";
        } else {
            while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
        }
        if (IsDevice(part)) return false;
        parts->push_back(part);
        part.clear();
    }
    return true;
}

// An accepted name must mean exactly what it says: Windows keeps every part
// of it (only a "." in the middle may go), inside the destination, without
// a device, without the setup's temporary file at the top, and it names a
// file.
void CheckNameRule(const uint8_t* data, size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    if (!IsSafeEntryName(name.data(), name.size())) return;
    std::vector<std::string> written;  // the parts as the entry gives them
    std::string part;
    for (size_t i = 0; i <= name.size(); i++) {
        if (i == name.size() || name[i] == '\\' || name[i] == '/') {
            written.push_back(part);
            part.clear();
        } else {
            part += name[i];
        }
    }
    std::vector<std::string> seen;
    if (!WindowsView(name, &seen) || seen.size() != written.size()) std::abort();
    size_t kept = 0;
    for (size_t i = 0; i < written.size(); i++) {
        const bool last = i + 1 == written.size();
        if (written[i] == "." && !last) continue;  // dropped by Windows, harmless
        // Trimmed parts would alias another name; ".." would climb out.
        if (seen[i] != written[i] || seen[i].empty() || seen[i] == "..") std::abort();
        kept++;
    }
    if (kept == 0) std::abort();
    if (Upper(written[0]) == Upper(kSetupTempName)) std::abort();
}

// ---- The reader -------------------------------------------------------------

std::vector<uint8_t> ArchiveFromBody(const uint8_t* data, size_t size) {
    std::vector<uint8_t> archive(data, data + size);
    const uint32_t trailer = Crc32Update(archive.data(), static_cast<int32_t>(archive.size()), kRegisterStart);
    uint32_t key = PasswordSeed(nullptr, 0);
    ScrambleBytes(&key, archive.data(), archive.size());
    for (int i = 0; i < 4; i++) archive.push_back(static_cast<uint8_t>(trailer >> (8 * i)));
    return archive;
}

fs::path ExtractRootPath;

void RemoveExtractRoot() {
    std::error_code ec;
    fs::remove_all(ExtractRootPath, ec);
}

// A folder of this process for extraction, gone when the process ends.
fs::path ExtractRoot() {
    if (ExtractRootPath.empty()) {
        char pattern[] = "/tmp/fuzz-archive-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr) std::abort();
        ExtractRootPath = made;
        std::atexit(RemoveExtractRoot);
    }
    return ExtractRootPath;
}

void ReadWith(TReadMode mode, std::vector<uint8_t>& file) {
    FILE* f = fmemopen(file.empty() ? nullptr : file.data(), file.size(), "rb");
    if (f == nullptr) return;  // an empty buffer cannot be opened
    if (mode != TReadMode::Extract) {
        (void)ReadArchiveFrom(mode, f, "fuzz input", fs::path());
        std::fclose(f);
        return;
    }
    // Extraction goes into root/dest; nothing may appear in root beside it.
    const fs::path root = ExtractRoot();
    (void)ReadArchiveFrom(mode, f, "fuzz input", root / "dest");
    std::fclose(f);
    for (const auto& entry : fs::directory_iterator(root)) {
        if (entry.path().filename() != "dest") std::abort();
    }
    std::error_code ec;
    fs::remove_all(root / "dest", ec);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    data++;
    size--;
    const int layout = mode & 3;
    const int command = (mode >> 2) & 3;
    if (layout == 3) {
        CheckNameRule(data, size);
        return 0;
    }
    std::vector<uint8_t> file;
    if (layout == 2) {
        file.assign(data, data + size);
    } else {
        const std::vector<uint8_t> archive = ArchiveFromBody(data, size);
        if (layout == 1) {
            static const char kStub[] = "MZ stub of a setup program";
            file.assign(kStub, kStub + sizeof kStub);
            std::string marker(kMarkerLowerCase);
            for (char& c : marker) {
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            }
            file.insert(file.end(), marker.begin(), marker.end());
        }
        file.insert(file.end(), archive.begin(), archive.end());
    }
    const TReadMode modes[] = {TReadMode::Test, TReadMode::List, TReadMode::Extract, TReadMode::Test};
    ReadWith(modes[command], file);
    // Every name of a plain body goes through the rule's model as well.
    if (layout == 0 && size >= 2) {
        const size_t length = data[0] | (data[1] << 8);
        if (length <= size - 2) CheckNameRule(data + 2, length);
    }
    return 0;
}
