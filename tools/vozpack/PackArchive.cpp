// Setup files and archives: pack a folder, and list, test or extract what a
// setup file or bare archive carries. The archive's layout, scrambling and
// entry streams come from the codec core; this file only decides what goes
// in and moves bytes between files.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <system_error>

#include "CRC_32.h"
#include "PackCommands.h"
#include "Scramble.h"
#include "VozDecode.h"
#include "VozEncode.h"
#include "VozFormat.h"
#include "VozReader.h"

namespace {

// The archive as a whole stays below 2 GiB, like every size in it: the
// setup's reader works with signed 32-bit positions.
constexpr uint64_t kMaxArchiveSize = kMaxEntrySize;

// Pack reads files in batches of about this many bytes and compresses each
// batch's blocks together, so that many small files keep every core busy.
constexpr uint64_t kBatchBytes = uint64_t{64} << 20;
constexpr size_t kBatchFiles = 4096;

std::string MiB(uint64_t bytes) { return std::to_string((bytes + (1 << 19)) >> 20) + " MiB"; }

// A name in a message, quoted, and shortened when it would not fit a line.
std::string Quoted(const std::string& name) { return "\"" + ShortenedText(PrintableText(name)) + "\""; }

// ---- Walking the folder -------------------------------------------------------

struct TSourceFile {
  std::string name;  // archive name, "\" separators
  fs::path path;
  uint64_t size;
  uint32_t stamp;
  uint32_t attributes;
};

struct TWalk {
  std::vector<TSourceFile> files;
  std::vector<fs::path> ancestors;  // canonical folders from the root down
  fs::path root;                    // the packed folder, canonical
  // Every folder walked so far, by what it is on disk, with its name: a
  // folder reached again through a link is not packed twice, so links
  // cannot multiply the entries.
  std::map<TFileIdentity, std::string> folders;
  fs::path skip;                    // the output file, if it lies inside
  std::string error;
  bool nonAsciiWarned = false;
};

bool SamePath(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return !a.empty() && !b.empty() && fs::equivalent(a, b, ec) && !ec;
}

bool IsInside(const fs::path& path, const fs::path& folder) {
  const fs::path relative = path.lexically_relative(folder);
  return !relative.empty() && *relative.begin() != "..";
}

// A link whose target lies outside the packed folder: its content is packed
// all the same, but the user should know.
void WarnIfLinkLeaves(const fs::path& child, const TWalk& w) {
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(child, ec))) return;
  const fs::path target = fs::canonical(child, ec);
  if (ec || IsInside(target, w.root)) return;
  Warn(PathText(child) + " is a link to " + PathText(target) + ", outside " + PathText(w.root) +
       ": what it points to is packed");
}

// Adds the files below folder; false with w->error set on a refusal.
// *found counts the files added at or below folder.
bool WalkFolder(const fs::path& folder, const std::string& prefix, TWalk* w, size_t* found) {
  std::error_code ec;
  const fs::path canonical = fs::canonical(folder, ec);
  if (ec) {
    w->error = "cannot read folder " + PathText(folder) + ": " + ec.message();
    return false;
  }
  if (prefix.empty()) w->root = canonical;
  TFileIdentity id;
  if (FileIdentityOf(folder, &id)) w->folders.emplace(id, prefix);
  w->ancestors.push_back(canonical);
  std::vector<fs::path> children;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    children.push_back(it->path());
  }
  if (ec) {
    w->error = "cannot read folder " + PathText(folder) + ": " + ec.message();
    return false;
  }
  std::sort(children.begin(), children.end());  // warnings in a stable order

  size_t below = 0;
  bool hasSubfolder = false;
  for (const fs::path& child : children) {
    std::string component;
    if (!ComponentToName(child.filename(), &component)) {
      w->error = PathText(child) + ": the name has no form in the ANSI code page";
      return false;
    }
    const std::string name = prefix.empty() ? component : prefix + "\\" + component;
    if (component.find('\\') != std::string::npos) {
      w->error = Quoted(name) + " holds a backslash, which the setup reads as a folder separator";
      return false;
    }
    const fs::file_status st = fs::status(child, ec);
    if (ec || !fs::exists(st)) {
      Warn("skipped " + PathText(child) + ": a link to nothing");
      ec.clear();
      continue;
    }
    if (fs::is_directory(st)) {
      hasSubfolder = true;
      const fs::path target = fs::canonical(child, ec);
      if (ec) {
        w->error = "cannot read folder " + PathText(child) + ": " + ec.message();
        return false;
      }
      if (std::find(w->ancestors.begin(), w->ancestors.end(), target) != w->ancestors.end()) {
        w->error = PathText(child) + " links back to a folder above it (a loop)";
        return false;
      }
      TFileIdentity childId;
      if (FileIdentityOf(child, &childId)) {
        const auto seen = w->folders.find(childId);
        if (seen != w->folders.end()) {
          Warn("skipped " + PathText(child) + ": the same folder as " + Quoted(seen->second) +
               ", which is packed already");
          continue;
        }
      }
      WarnIfLinkLeaves(child, *w);
      if (!WalkFolder(child, name, w, &below)) return false;
      continue;
    }
    if (!fs::is_regular_file(st)) {
      Warn("skipped " + PathText(child) + ": not a regular file");
      continue;
    }
    if (SamePath(child, w->skip)) {
      Warn("skipped " + PathText(child) + ": it is the output file");
      continue;
    }
    if (name.size() > kMaxNameLength) {
      w->error = "the name of " + PathText(child) + " is longer than 65,535 bytes";
      return false;
    }
    const TEntryNameProblem problem = CheckEntryName(name.data(), name.size());
    if (problem != TEntryNameProblem::None) {
      w->error = Quoted(name) + " cannot be extracted on Windows: " + EntryNameProblemText(problem);
      return false;
    }
    WarnIfLinkLeaves(child, *w);
    TSourceFile f;
    f.name = name;
    f.path = child;
    f.size = fs::file_size(child, ec);
    if (ec || !FileDosStamp(child, &f.stamp)) {
      w->error = "cannot read " + PathText(child) + ": " + (ec ? ec.message() : ErrnoText());
      return false;
    }
    if (f.size > kMaxEntrySize) {
      w->error = PathText(child) + " is 2 GiB or larger, more than an archive entry can hold";
      return false;
    }
    f.attributes = 0x20 | (FileIsWritable(child) ? 0 : 0x01);
    w->files.push_back(std::move(f));
    below++;
  }
  w->ancestors.pop_back();
  if (below == 0 && !hasSubfolder && !prefix.empty()) {
    Warn("folder " + Quoted(prefix) + " holds no files; empty folders cannot be carried");
  }
  *found += below;
  return true;
}

void WarnAboutNames(const std::vector<TSourceFile>& files) {
  // Windows compares names without regard to letter case.
  std::map<std::string, const std::string*> folded;
  bool nonAscii = false;
  for (const TSourceFile& f : files) {
    std::string key = f.name;
    for (char& c : key) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
    }
    auto [it, added] = folded.emplace(key, &f.name);
    if (!added) {
      Warn(Quoted(*it->second) + " and " + Quoted(f.name) +
           " differ only in letter case: on Windows the later one replaces the earlier");
    }
    for (unsigned char c : f.name) nonAscii = nonAscii || c >= 0x80;
  }
#ifndef _WIN32
  if (nonAscii) {
    Warn("some names hold non-ASCII bytes; they are stored as they are, and the setup reads "
         "them in its ANSI code page");
  }
#endif
}

// ---- Progress -----------------------------------------------------------------------

struct TProgress {
  bool enabled = false;
  bool shown = false;
  uint64_t total = 0;
  uint64_t before = 0;  // bytes of the batches already done
  std::chrono::steady_clock::time_point start, last;
};

void VOZ_CDECL ShowProgress(uint64_t doneInBatch, void* user) {
  auto* p = static_cast<TProgress*>(user);
  if (!p->enabled) return;
  const auto now = std::chrono::steady_clock::now();
  // Only long runs get a progress line, refreshed a few times a second.
  if (now - p->start < std::chrono::seconds(1) || now - p->last < std::chrono::milliseconds(250)) {
    return;
  }
  p->last = now;
  const uint64_t done = std::min(p->total, p->before + doneInBatch);
  const int percent = p->total > 0 ? static_cast<int>(done * 100 / p->total) : 100;
  std::fprintf(stderr, "\rvozpack: packing %3d%% (%s of %s)", percent, MiB(done).c_str(),
               MiB(p->total).c_str());
  std::fflush(stderr);
  p->shown = true;
}

void EndProgress(TProgress* p) {
  if (p->shown) std::fprintf(stderr, "\r%60s\r", "");
  p->shown = false;
}

// ---- Encoding entries -----------------------------------------------------------------

struct TPendingEntry {
  const TSourceFile* source;
  TCommandWriter commands;
  std::vector<std::pair<size_t, size_t>> blocks;
  uint32_t contentSize;
  std::string error;
};

// Reads one file and lays out its entry stream's commands (on a worker).
void ReadEntry(size_t index, void* user) {
  TPendingEntry& e = (*static_cast<std::vector<TPendingEntry>*>(user))[index];
  thread_local std::vector<uint8_t> content;
  if (!ReadFileBytes(e.source->path, kMaxEntrySize, &content, &e.error)) return;
  e.contentSize = static_cast<uint32_t>(content.size());
  BeginCommands(&e.commands, kMaxBlockDecoded);
  // Room for the content and a literal command per block, so it is not
  // copied again while it grows.
  e.commands.bytes.reserve(content.size() + (content.size() / (kMaxBlockDecoded / 2) + 2) * 8);
  AddLiteral(&e.commands, content.data(), content.size());
  AddEnd(&e.commands);
  if (e.commands.failed) {
    e.error = "cannot encode " + PathText(e.source->path);
    return;
  }
  e.blocks = SplitIntoBlocks(e.commands);
}

// Reads and encodes files [first, last) and appends their entries to body.
int PackBatch(const std::vector<TSourceFile>& files, size_t first, size_t last,
              const TCompressOptions& options, TProgress* progress, std::vector<uint8_t>* body) {
  std::vector<TPendingEntry> pending(last - first);
  for (size_t i = first; i < last; i++) pending[i - first].source = &files[i];
  ParallelFor(pending.size(), options.threads, ReadEntry, &pending);
  std::vector<TBlockJob> jobs;
  for (const TPendingEntry& e : pending) {
    if (!e.error.empty()) return Fail(kExitUsage, e.error);
    for (const auto& [begin, end] : e.blocks) {
      jobs.push_back({e.commands.bytes.data() + begin, static_cast<int32_t>(end - begin)});
    }
  }
  std::vector<std::vector<uint8_t>> blocks;
  if (!EncodeBlocks(jobs, options, &blocks, ShowProgress, progress)) {
    return Fail(kExitUsage, "compression failed");
  }
  size_t job = 0;
  std::vector<uint8_t> stream;
  for (TPendingEntry& e : pending) {
    stream.clear();
    for (size_t b = 0; b < e.blocks.size(); b++, job++) {
      stream.insert(stream.end(), blocks[job].begin(), blocks[job].end());
      std::vector<uint8_t>().swap(blocks[job]);
    }
    TEntryHeader h;
    h.timeStamp = e.source->stamp;
    h.contentSize = e.contentSize;
    h.attributes = e.source->attributes;
    h.storedSize = static_cast<uint32_t>(stream.size());
    // Literal commands produce exactly the content, so the register the
    // writer kept over its output is the content's checksum.
    h.checksum = e.commands.outputRegister;
    const uint64_t grown = body->size() + 2 + e.source->name.size() + kEntryHeaderSize +
                           stream.size() + kTrailerSize;
    if (stream.size() > kMaxEntrySize || grown > kMaxArchiveSize) {
      return Fail(kExitUsage, "the archive would reach 2 GiB at " + Quoted(e.source->name) +
                                  ", more than a setup can carry");
    }
    if (!AppendArchiveEntry(body, e.source->name, h, stream.data(), stream.size())) {
      return Fail(kExitUsage, "cannot store " + Quoted(e.source->name));
    }
  }
  return kExitOk;
}

bool WriteAll(FILE* f, const void* data, size_t length) {
  return length == 0 || std::fwrite(data, 1, length, f) == length;
}

}  // namespace

// ---- Shared helpers ----------------------------------------------------------------------------

uint32_t DosStampFromParts(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1980) return (((0u << 9) | (1u << 5) | 1u) << 16);
  if (year > 2107) {
    return (((127u << 9) | (12u << 5) | 31u) << 16) | ((23u << 11) | (59u << 5) | 29u);
  }
  const uint32_t date = (static_cast<uint32_t>(year - 1980) << 9) |
                        (static_cast<uint32_t>(month) << 5) | static_cast<uint32_t>(day);
  // A leap second still lands inside the minute.
  const uint32_t half = static_cast<uint32_t>(std::min(second, 59) / 2);
  const uint32_t time = (static_cast<uint32_t>(hour) << 11) |
                        (static_cast<uint32_t>(minute) << 5) | half;
  return (date << 16) | time;
}

bool DosStampToParts(uint32_t stamp, TDosParts* p) {
  const uint32_t date = stamp >> 16, time = stamp & 0xFFFF;
  p->year = static_cast<int>(date >> 9) + 1980;
  p->month = static_cast<int>((date >> 5) & 15);
  p->day = static_cast<int>(date & 31);
  p->hour = static_cast<int>(time >> 11);
  p->minute = static_cast<int>((time >> 5) & 63);
  p->second = static_cast<int>(time & 31) * 2;
  static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (p->month < 1 || p->month > 12 || p->day < 1 || p->day > kDays[p->month - 1]) return false;
  const bool leap = (p->year % 4 == 0 && p->year % 100 != 0) || p->year % 400 == 0;
  if (p->month == 2 && p->day == 29 && !leap) return false;
  return p->hour <= 23 && p->minute <= 59 && p->second <= 58;
}

// ---- pack ------------------------------------------------------------------------------------

int PackCommand(const TPackRequest& request) {
  std::error_code ec;
  if (!fs::is_directory(request.folder, ec)) {
    return Fail(kExitUsage, PathText(request.folder) + " is not a folder");
  }
  std::vector<uint8_t> stub;
  std::string message;
  if (!request.archiveOnly) {
    // A setup program is far smaller; a larger "stub" is some other file.
    if (!ReadFileBytes(request.stub, kMaxArchiveSize, &stub, &message)) return Fail(kExitUsage, message);
    if (FindMarker(stub.data(), stub.size(), UpperCaseMarker()) >= 0) {
      return Fail(kExitUsage, PathText(request.stub) +
                                  " already holds a payload marker (is it a setup file already?)");
    }
  }

  TWalk walk;
  walk.skip = request.out;
  size_t found = 0;
  if (!WalkFolder(request.folder, "", &walk, &found)) return Fail(kExitUsage, walk.error);
  std::sort(walk.files.begin(), walk.files.end(),
            [](const TSourceFile& a, const TSourceFile& b) { return a.name < b.name; });
  WarnAboutNames(walk.files);
  if (walk.files.empty()) Warn(PathText(request.folder) + " holds no files: the archive is empty");

  TProgress progress;
  progress.enabled = StderrIsTerminal();
  progress.start = progress.last = std::chrono::steady_clock::now();
  for (const TSourceFile& f : walk.files) progress.total += f.size;

  std::vector<uint8_t> body;
  // The body never grows past the input and its headers (a stored block
  // only adds its header), so it is never moved while it grows.
  uint64_t bound = kTrailerSize;
  for (const TSourceFile& f : walk.files) {
    bound += 2 + f.name.size() + kEntryHeaderSize + f.size + (f.size / kMaxBlockDecoded + 1) * 32 + 16;
  }
  body.reserve(static_cast<size_t>(std::min<uint64_t>(bound, kMaxArchiveSize + 64)));
  for (size_t first = 0; first < walk.files.size();) {
    size_t last = first;
    uint64_t bytes = 0;
    while (last < walk.files.size() && (last == first || (bytes < kBatchBytes && last - first < kBatchFiles))) {
      bytes += walk.files[last].size;
      last++;
    }
    const int status = PackBatch(walk.files, first, last, request.compress, &progress, &body);
    if (status != kExitOk) {
      EndProgress(&progress);
      return status;
    }
    progress.before += bytes;
    first = last;
  }
  EndProgress(&progress);
  const std::vector<uint8_t> archive = FinishArchive(std::move(body), nullptr, 0);

  // Zeros before the marker make the whole file a multiple of 8 bytes long,
  // so a signing tool appends its certificate table right behind the trailer.
  const std::string marker = UpperCaseMarker();
  size_t padding = 0;
  if (!request.archiveOnly) {
    const uint64_t unpadded = stub.size() + marker.size() + archive.size();
    padding = static_cast<size_t>((8 - unpadded % 8) % 8);
  }

  TTempFile temp;
  if (!CreateTempBeside(request.out, DefaultNewFileMode(), &temp, &message)) {
    return Fail(kExitUsage, message);
  }
  WatchInterrupt(temp.path);
  const uint8_t zeros[8] = {};
  bool ok = true;
  if (!request.archiveOnly) {
    ok = WriteAll(temp.file, stub.data(), stub.size()) && WriteAll(temp.file, zeros, padding) &&
         WriteAll(temp.file, marker.data(), marker.size());
  }
  ok = ok && WriteAll(temp.file, archive.data(), archive.size());
  if (!ok) {
    message = "cannot write " + PathText(request.out) + ": " + ErrnoText();
    DiscardTemp(&temp);
    UnwatchInterrupt();
    return Fail(kExitUsage, message);
  }
  ok = CommitTemp(&temp, &message);
  UnwatchInterrupt();
  if (!ok) return Fail(kExitUsage, message);
  return kExitOk;
}
