// The folder vozpack packs: its files with their archive names, time
// stamps and attributes, each name checked against the setup's rule.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PackPlatform.h"

struct TSourceFile {
    std::string name;  // archive name, "\" separators
    fs::path path;
    uint64_t size;
    uint32_t stamp;
    uint32_t attributes;
};

// The files below folder, sorted by archive name; skip (the output file) is
// left out. Links are followed (a link out of the folder is named in a
// warning), a folder reached twice is packed once, a loop, a name the
// setup could not extract or a file of 2 GiB is refused: false with *error.
// Warns about names that differ only in letter case and about empty folders.
bool WalkPackFolder(const fs::path& folder, const fs::path& skip, std::vector<TSourceFile>* files, std::string* error);
