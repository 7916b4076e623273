// The writer side of the format. Whatever it writes decodes with the
// decoders of VozDecode.h; the tests hold it to that.
#include "VozEncode.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "CRC_32.h"
#include "Scramble.h"

namespace {

// The register over any number of bytes (Crc32Update takes 32-bit lengths).
uint32_t RegisterOver(const uint8_t* p, size_t n, uint32_t reg) {
    constexpr size_t kPiece = size_t{1} << 30;
    while (n > 0) {
        const size_t piece = std::min(n, kPiece);
        reg = Crc32Update(p, static_cast<int32_t>(piece), reg);
        p += piece;
        n -= piece;
    }
    return reg;
}

void PutLe(std::vector<uint8_t>* out, uint32_t v, int width) {
    for (int i = 0; i < width; i++) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

size_t BlockStart(const TCommandWriter& w) { return w.blockEnds.empty() ? 0 : w.blockEnds.back(); }

size_t Room(const TCommandWriter& w) { return static_cast<size_t>(w.blockSize) - (w.bytes.size() - BlockStart(w)); }

// Closes the current block when the next n bytes would not fit in it.
void MakeRoom(TCommandWriter* w, size_t n) {
    if (Room(*w) < n && w->bytes.size() > BlockStart(*w)) w->blockEnds.push_back(w->bytes.size());
}

}  // namespace

bool EncodeBlock(const uint8_t* commands, int32_t length, const TEncodeOptions& options, std::vector<uint8_t>* out) {
    if (out == nullptr || length < 0 || length > kMaxBlockDecoded) return false;
    if (commands == nullptr && length > 0) return false;
    if (options.level < Z_DEFAULT_COMPRESSION || options.level > Z_BEST_COMPRESSION) return false;
    const size_t at = out->size();
    TBlockHeader h = {kMethodStored, length, length, 0};
    if (options.level != 0 && length > 0) {
        uLongf packed = compressBound(static_cast<uLong>(length));
        out->resize(at + kBlockHeaderSize + packed);
        uint8_t* data = out->data() + at + kBlockHeaderSize;
        // Kept only when it is smaller than the stored form (and so also within
        // the stored-length limit).
        if (compress2(data, &packed, commands, static_cast<uLong>(length), options.level) == Z_OK &&
            packed < static_cast<uLongf>(length) && packed <= static_cast<uLongf>(kMaxBlockStored)) {
            h.method = kMethodZlib;
            h.storedLength = static_cast<int32_t>(packed);
            h.checksum = Crc32Update(data, h.storedLength, kRegisterStart);
            out->resize(at + kBlockHeaderSize + packed);
            PackBlockHeader(h, out->data() + at);
            return true;
        }
    }
    out->resize(at + kBlockHeaderSize + static_cast<size_t>(length));
    uint8_t* data = out->data() + at + kBlockHeaderSize;
    if (length > 0) std::memcpy(data, commands, static_cast<size_t>(length));
    h.checksum = Crc32Update(data, length, kRegisterStart);
    PackBlockHeader(h, out->data() + at);
    return true;
}

void BeginCommands(TCommandWriter* w, int32_t blockSize) {
    w->bytes.clear();
    w->blockEnds.clear();
    w->blockSize = std::clamp(blockSize, kMinCommandBlockSize, kMaxBlockDecoded);
    w->outputRegister = kRegisterStart;
    w->failed = false;
}

void AddLiteral(TCommandWriter* w, const uint8_t* data, size_t length) {
    if (length == 0) return;
    if (data == nullptr) {
        w->failed = true;
        return;
    }
    w->outputRegister = RegisterOver(data, length, w->outputRegister);
    while (length > 0) {
        // Command byte, length field and at least one data byte in this block.
        MakeRoom(w, 3);
        const size_t room = Room(*w) - 1;  // after the command byte
        size_t chunk = std::min(length, room - 1);
        int width = FieldWidthFor(static_cast<uint32_t>(chunk));
        if (chunk + width > room) {
            chunk = room - width;
            width = FieldWidthFor(static_cast<uint32_t>(chunk));
        }
        w->bytes.push_back(LiteralCommand(width));
        PutLe(&w->bytes, static_cast<uint32_t>(chunk), width);
        w->bytes.insert(w->bytes.end(), data, data + chunk);
        data += chunk;
        length -= chunk;
    }
}

void AddCopy(TCommandWriter* w, const uint8_t* base, uint32_t offset, uint32_t length) {
    if (offset > kMaxEntrySize || length > kMaxEntrySize || (base == nullptr && length > 0)) {
        w->failed = true;
        return;
    }
    const int offsetWidth = FieldWidthFor(offset);
    const int lengthWidth = FieldWidthFor(length);
    MakeRoom(w, 1 + offsetWidth + lengthWidth);
    w->bytes.push_back(CopyCommand(offsetWidth, lengthWidth));
    PutLe(&w->bytes, offset, offsetWidth);
    PutLe(&w->bytes, length, lengthWidth);
    if (length > 0) w->outputRegister = RegisterOver(base + offset, length, w->outputRegister);
}

void AddEnd(TCommandWriter* w) {
    MakeRoom(w, 5);
    w->bytes.push_back(kCmdEnd);
    PutLe(&w->bytes, w->outputRegister, 4);
}

std::vector<std::pair<size_t, size_t>> SplitIntoBlocks(const TCommandWriter& w) {
    std::vector<std::pair<size_t, size_t>> ranges;
    size_t begin = 0;
    for (size_t end : w.blockEnds) {
        ranges.emplace_back(begin, end);
        begin = end;
    }
    if (w.bytes.size() > begin) ranges.emplace_back(begin, w.bytes.size());
    return ranges;
}

bool EncodeCommands(const TCommandWriter& w, const TEncodeOptions& options, std::vector<uint8_t>* out) {
    if (w.failed || w.bytes.empty()) return false;
    for (const auto& [begin, end] : SplitIntoBlocks(w)) {
        if (end - begin > static_cast<size_t>(kMaxBlockDecoded)) return false;
        if (!EncodeBlock(w.bytes.data() + begin, static_cast<int32_t>(end - begin), options, out)) {
            return false;
        }
    }
    return true;
}

bool EncodeEntryStream(const uint8_t* content, size_t length, const TEncodeOptions& options,
                       std::vector<uint8_t>* out) {
    if (out == nullptr || length > kMaxEntrySize || (content == nullptr && length > 0)) return false;
    if (options.blockSize < kMinCommandBlockSize || options.blockSize > kMaxBlockDecoded) {
        return false;
    }
    TCommandWriter w;
    BeginCommands(&w, options.blockSize);
    AddLiteral(&w, content, length);
    AddEnd(&w);
    return EncodeCommands(w, options, out);
}

bool AppendArchiveEntry(std::vector<uint8_t>* body, const std::string& name, const TEntryHeader& h,
                        const uint8_t* stream, size_t streamLength) {
    if (body == nullptr || name.empty() || name.size() > kMaxNameLength) return false;
    if ((stream == nullptr && streamLength > 0) || h.storedSize != streamLength) return false;
    PutLe(body, static_cast<uint32_t>(name.size()), 2);
    body->insert(body->end(), name.begin(), name.end());
    uint8_t header[kEntryHeaderSize];
    PackEntryHeader(h, header);
    body->insert(body->end(), header, header + kEntryHeaderSize);
    if (streamLength > 0) body->insert(body->end(), stream, stream + streamLength);
    return true;
}

std::vector<uint8_t> FinishArchive(std::vector<uint8_t> body, const char* password, size_t passwordLength) {
    const uint32_t trailer = RegisterOver(body.data(), body.size(), kRegisterStart);
    uint32_t state = PasswordSeed(password, passwordLength);
    ScrambleBytes(&state, body.data(), body.size());
    PutLe(&body, trailer, 4);
    return body;
}

bool BuildArchive(const std::vector<TArchiveEntry>& entries, const TEncodeOptions& options,
                  std::vector<uint8_t>* archive) {
    if (archive == nullptr) return false;
    std::vector<uint8_t> body;
    std::vector<uint8_t> stream;
    for (const TArchiveEntry& e : entries) {
        stream.clear();
        if (!EncodeEntryStream(e.content.data(), e.content.size(), options, &stream)) return false;
        TEntryHeader h;
        h.timeStamp = e.timeStamp;
        h.contentSize = static_cast<uint32_t>(e.content.size());
        h.attributes = e.attributes;
        h.storedSize = static_cast<uint32_t>(stream.size());
        h.checksum = RegisterOver(e.content.data(), e.content.size(), kRegisterStart);
        if (!AppendArchiveEntry(&body, e.name, h, stream.data(), stream.size())) return false;
    }
    *archive = FinishArchive(std::move(body), nullptr, 0);
    return true;
}
