// PNG encoding of screenshots, shared by the Windows screenshot test and the
// end-to-end driver. zlib does the compression and the chunk checksums.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>

namespace voztest {

inline void PutU32BE(std::string& s, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<char>(v >> shift));
}

inline void PngChunk(std::string& png, const char* type, const std::string& data) {
    PutU32BE(png, static_cast<uint32_t>(data.size()));
    const size_t start = png.size();
    png += type;
    png += data;
    const auto* bytes = reinterpret_cast<const Bytef*>(png.data() + start);
    PutU32BE(png, static_cast<uint32_t>(crc32(0, bytes, static_cast<uInt>(png.size() - start))));
}

// An 8-bit RGB PNG of width x height pixels 0x00RRGGBB, top row first, rows
// stride pixels apart; empty when compression fails.
inline std::string PngFromPixels(const uint32_t* pixels, int width, int height, size_t stride) {
    std::string raw;
    raw.reserve(static_cast<size_t>(height) * (1 + 3 * static_cast<size_t>(width)));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);  // filter: none
        for (int x = 0; x < width; ++x) {
            const uint32_t c = pixels[static_cast<size_t>(y) * stride + x];
            raw.push_back(static_cast<char>(c >> 16));
            raw.push_back(static_cast<char>(c >> 8));
            raw.push_back(static_cast<char>(c));
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
                  static_cast<uLong>(raw.size()), 6) != Z_OK)
        return std::string();
    packed.resize(packedSize);
    std::string header;
    PutU32BE(header, static_cast<uint32_t>(width));
    PutU32BE(header, static_cast<uint32_t>(height));
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
    std::string png = "\x89PNG\r\n\x1a\n";
    PngChunk(png, "IHDR", header);
    PngChunk(png, "IDAT", packed);
    PngChunk(png, "IEND", "");
    return png;
}

}  // namespace voztest
