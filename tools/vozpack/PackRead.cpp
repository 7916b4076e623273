// vozpack list, test and extract: stdio callbacks for the archive reader,
// and one visitor per command. The reader decides where the archive lies
// and whether an entry is good; this file only says so and moves bytes.
#include "PackRead.h"

#include <algorithm>
#include <cstring>

#include "PackDelta.h"
#include "PackDosTime.h"
#include "PackReport.h"
#include "Scramble.h"
#include "VozPack.h"
#include "VozReader.h"

namespace {

std::string AttributeLetters(uint32_t a) {
    std::string s = "----";
    if (a & 0x01) s[0] = 'R';
    if (a & 0x02) s[1] = 'H';
    if (a & 0x04) s[2] = 'S';
    if (a & 0x20) s[3] = 'A';
    return s;
}

// ---- stdio sources --------------------------------------------------------------------------

struct TFileSource {
    FILE* file;
    uint64_t base;  // file offset of offset 0
};

int64_t VOZ_CDECL ReadFileAt(uint64_t offset, void* buffer, uint32_t count, void* user) {
    const auto* s = static_cast<const TFileSource*>(user);
    if (!SeekFile(s->file, s->base + offset)) return -1;
    const size_t got = std::fread(buffer, 1, count, s->file);
    if (got != count && std::ferror(s->file)) return -1;
    return static_cast<int64_t>(got);
}

// The body read in order with the keystream applied.
struct TBodySource {
    FILE* file;
    uint32_t key;
    std::string errorText;  // the system's words for a failed read
};

int64_t VOZ_CDECL ReadBody(void* buffer, uint32_t count, void* user) {
    auto* b = static_cast<TBodySource*>(user);
    const size_t got = std::fread(buffer, 1, count, b->file);
    if (got != count) {
        // The walker never asks past the body's end, so a short read is a
        // failure too: the file changed or the device failed.
        b->errorText = std::ferror(b->file) ? ErrnoText() : "the file ended early";
        return -1;
    }
    ScrambleBytes(&b->key, static_cast<uint8_t*>(buffer), got);
    return static_cast<int64_t>(got);
}

// ---- One action per command -------------------------------------------------------------

// What every command's visitor shares: the entry being read, and the exit
// status of a failure it has already reported.
struct TAction {
    TEntryInfo entry;
    int reportedStatus = kExitOk;
};

int32_t VOZ_CDECL ListEntry(const TEntryInfo& e, void* /*user*/) {
    TDosParts p;
    DosStampToParts(e.header.timeStamp, &p);
    std::printf("%10u %10u  %04d-%02d-%02d %02d:%02d:%02d  %s  %s\n", e.header.contentSize, e.header.storedSize, p.year,
                p.month, p.day, p.hour, p.minute, p.second, AttributeLetters(e.header.attributes).c_str(),
                PrintableText(e.name).c_str());
    return kExtractOk;
}

struct TExtractAction : TAction {
    TExtractTarget target;
    TEntryFile out;
    fs::path written;       // the current entry's file
    std::string errorText;  // the system's words for a failed write
};

int32_t VOZ_CDECL OpenEntry(const TEntryInfo& e, void* user) {
    auto* a = static_cast<TExtractAction*>(user);
    a->entry = e;
    std::string message;
    const int32_t opened = OpenEntryFile(&a->target, e.name, &a->out, &message);
    a->written = a->out.target;
    if (opened == kExtractEntryFailed) {
        a->reportedStatus = FailCode("entry " + Quoted(e.name) + ": " + message, opened);
    } else if (opened != kExtractOk) {
        a->reportedStatus = Fail(kExitUsage, message + " (code " + std::to_string(opened) + ")");
    }
    return opened;
}

bool VOZ_CDECL WriteEntry(const void* data, int32_t count, void* user) {
    auto* a = static_cast<TExtractAction*>(user);
    if (count <= 0 || std::fwrite(data, 1, static_cast<size_t>(count), a->out.file) == static_cast<size_t>(count)) {
        return true;
    }
    a->errorText = ErrnoText();
    return false;
}

int32_t VOZ_CDECL CommitEntry(const TEntryInfo& e, void* user) {
    auto* a = static_cast<TExtractAction*>(user);
    std::string message;
    if (!CommitEntryFile(&a->target, &a->out, e.header.timeStamp, e.header.attributes, &message)) {
        a->reportedStatus = Fail(kExitUsage, message + " (code " + std::to_string(kExtractCannotCreate) + ")");
        return kExtractCannotCreate;
    }
    return kExtractOk;
}

void VOZ_CDECL AbandonEntry(const TEntryInfo& /*e*/, void* user) {
    auto* a = static_cast<TExtractAction*>(user);
    DiscardEntryFile(&a->target, &a->out);
}

// The one message of a walk that stopped at an entry.
int ReportWalkFailure(const TWalkResult& w, const TAction& action, const std::string& readError,
                      const std::string& readErrorText, const fs::path& written, const std::string& writeErrorText) {
    if (w.fault == TEntryFault::None) return action.reportedStatus != kExitOk ? action.reportedStatus : kExitFormat;
    const std::string what = "entry " + Quoted(w.name) + ": ";
    switch (w.fault) {
    case TEntryFault::InputError:
        return Fail(kExitUsage, readError + ": " + readErrorText + " (code " + std::to_string(w.code) + ")");
    case TEntryFault::OutputError:
        return Fail(kExitUsage, "cannot write " + PathText(written) + ": " + writeErrorText + " (code " +
                                    std::to_string(w.code) + ")");
    case TEntryFault::HeaderPastEnd:
    case TEntryFault::EmptyName:
        return FailCode(EntryFaultText(w.fault), w.code);
    case TEntryFault::NameRefused:
        return FailCode(what + EntryNameProblemText(w.nameProblem), w.code);
    case TEntryFault::TooMuchContent:
        return FailCode(
            what + "its stream holds more than the content size of " + std::to_string(w.header.contentSize) + " bytes",
            w.code);
    case TEntryFault::DoesNotDecode:
        return FailCode(what + DecodeResultText(w.decodeCode), w.code);
    default:
        return FailCode(what + EntryFaultText(w.fault), w.code);
    }
}

}  // namespace

int ReadArchiveCommand(TReadMode mode, const fs::path& file, const fs::path& destination) {
    std::string message;
    FILE* f = OpenInputFile(file, &message);
    if (f == nullptr) return Fail(kExitUsage, message);
    const int status = ReadArchiveFrom(mode, f, PathText(file), destination);
    std::fclose(f);
    return status;
}

int ReadArchiveFrom(TReadMode mode, FILE* file, const std::string& fileText, const fs::path& destination) {
    const std::string readError = "cannot read " + fileText;
    uint64_t size = 0;
    TArchiveSpan span;
    TFileSource whole = {file, 0};
    if (!FileSize(file, &size) || !LocateArchive(ReadFileAt, &whole, size, UpperCaseMarker(), &span)) {
        return Fail(kExitUsage, readError + ": " + ErrnoText());
    }
    const uint64_t archiveLength = span.end - span.start;
    if (archiveLength < kTrailerSize) {
        return FailCode("the archive is shorter than its 4-byte trailer", kExtractBodyChecksum);
    }

    // The body checksum, before anything is created.
    TFileSource archive = {file, span.start};
    const int32_t checked = CheckArchiveBody(ReadFileAt, nullptr, &archive, archiveLength, nullptr);
    if (checked == kExtractIoError) return Fail(kExitUsage, readError + ": " + ErrnoText());
    if (checked != kExtractOk) {
        return FailCode(
            std::string("the body checksum does not match: ") +
                (span.hasMarker ? "the archive is damaged" : "no payload marker was found and the file is no archive"),
            checked);
    }

    // The entries, read again from the body's start.
    TBodySource body = {file, PasswordSeed(nullptr, 0), std::string()};
    if (!SeekFile(file, span.start)) return Fail(kExitUsage, readError + ": " + ErrnoText());
    TEntryVisitor visitor;
    TAction listAction;
    TAction testAction;
    TExtractAction extractAction;
    extractAction.target.destination = destination;
    switch (mode) {
    case TReadMode::List:
        visitor.decode = false;
        visitor.begin = ListEntry;
        visitor.user = &listAction;
        break;
    case TReadMode::Test:
        visitor.user = &testAction;
        break;
    case TReadMode::Extract:
        visitor.begin = OpenEntry;
        visitor.write = WriteEntry;
        visitor.finish = CommitEntry;
        visitor.abandon = AbandonEntry;
        visitor.user = &extractAction;
        break;
    }
    const TWalkResult w = WalkArchiveEntries(ReadBody, &body, archiveLength - kTrailerSize, visitor);
    CloseExtractTarget(&extractAction.target);
    if (w.code != kExtractOk) {
        const TAction& action = mode == TReadMode::Extract ? static_cast<const TAction&>(extractAction)
                                : mode == TReadMode::Test  ? testAction
                                                           : listAction;
        return ReportWalkFailure(w, action, readError, body.errorText, extractAction.written, extractAction.errorText);
    }
    if (mode == TReadMode::Test) {
        std::printf("%s: %llu files, %llu bytes: all verified\n", fileText.c_str(),
                    static_cast<unsigned long long>(w.entries), static_cast<unsigned long long>(w.contentBytes));
    } else if (mode == TReadMode::Extract) {
        std::printf("extracted %llu files, %llu bytes, into %s\n", static_cast<unsigned long long>(w.entries),
                    static_cast<unsigned long long>(w.contentBytes), PathText(destination).c_str());
    }
    return kExitOk;
}
