// The vozip format's packing helpers and the entry-name check.
#include "VozFormat.h"

#include <cstring>

namespace {

void PutU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Characters that no Windows file name may hold. ':' is among them, which
// also refuses drive letters ("C:x") and alternate data streams ("a:b").
bool IsForbiddenChar(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u < 0x20 || std::strchr(":*?<>|\"", c) != nullptr;
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

// A device name, with or without an extension, in any letter case. The
// base name ends at the first '.'; Windows ignores trailing spaces before it.
bool IsDeviceComponent(const char* s, size_t n) {
  size_t base = 0;
  while (base < n && s[base] != '.') base++;
  while (base > 0 && s[base - 1] == ' ') base--;
  char up[8];
  if (base < 3 || base > 7) return false;
  for (size_t i = 0; i < base; i++) up[i] = UpperAscii(s[i]);
  const auto is = [&](const char* name) {
    return std::strlen(name) == base && std::memcmp(up, name, base) == 0;
  };
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
  PutU32(out + 1, static_cast<uint32_t>(h.decodedLength));
  PutU32(out + 5, static_cast<uint32_t>(h.storedLength));
  PutU32(out + 9, h.checksum);
}

TBlockHeader UnpackBlockHeader(const uint8_t in[kBlockHeaderSize]) {
  TBlockHeader h;
  h.method = in[0];
  h.decodedLength = static_cast<int32_t>(GetU32(in + 1));
  h.storedLength = static_cast<int32_t>(GetU32(in + 5));
  h.checksum = GetU32(in + 9);
  return h;
}

void PackEntryHeader(const TEntryHeader& h, uint8_t out[kEntryHeaderSize]) {
  PutU32(out + 0, h.timeStamp);
  PutU32(out + 4, h.contentSize);
  PutU32(out + 8, h.attributes);
  PutU32(out + 12, h.storedSize);
  PutU32(out + 16, h.checksum);
}

TEntryHeader UnpackEntryHeader(const uint8_t in[kEntryHeaderSize]) {
  TEntryHeader h;
  h.timeStamp = GetU32(in + 0);
  h.contentSize = GetU32(in + 4);
  h.attributes = GetU32(in + 8);
  h.storedSize = GetU32(in + 12);
  h.checksum = GetU32(in + 16);
  return h;
}

bool IsSafeEntryName(const char* name, size_t length) {
  if (name == nullptr || length == 0) return false;
  if (IsSeparator(name[0])) return false;
  for (size_t i = 0; i < length; i++) {
    if (IsForbiddenChar(name[i])) return false;
  }
  size_t start = 0;
  while (start <= length) {
    size_t end = start;
    while (end < length && !IsSeparator(name[end])) end++;
    const char* component = name + start;
    const size_t n = end - start;
    if (IsDotComponent(component, n) || IsDeviceComponent(component, n)) return false;
    start = end + 1;
  }
  return true;
}
