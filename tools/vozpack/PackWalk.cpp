// Walking the folder to pack.
#include "PackWalk.h"

#include <algorithm>
#include <map>
#include <system_error>

#include "PackReport.h"
#include "VozFormat.h"

namespace {

struct TWalk {
    std::vector<TSourceFile> files;
    std::vector<fs::path> ancestors;  // canonical folders from the root down
    fs::path root;                    // the packed folder, canonical
    // Every folder walked so far, by what it is on disk, with its name: a
    // folder reached again through a link is not packed twice, so links
    // cannot multiply the entries.
    std::map<TFileIdentity, std::string> folders;
    fs::path skip;  // the output file, if it lies inside
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
        Warn(
            "some names hold non-ASCII bytes; they are stored as they are, and the setup reads "
            "them in its ANSI code page");
    }
#endif
}

}  // namespace

bool WalkPackFolder(const fs::path& folder, const fs::path& skip, std::vector<TSourceFile>* files, std::string* error) {
    TWalk walk;
    walk.skip = skip;
    size_t found = 0;
    if (!WalkFolder(folder, "", &walk, &found)) {
        *error = walk.error;
        return false;
    }
    std::sort(walk.files.begin(), walk.files.end(),
              [](const TSourceFile& a, const TSourceFile& b) { return a.name < b.name; });
    WarnAboutNames(walk.files);
    *files = std::move(walk.files);
    return true;
}
