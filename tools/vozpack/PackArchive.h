// vozpack pack: a folder's files into a setup file (stub, padding, marker,
// archive) or a bare archive.
#pragma once

#include "PackCompress.h"
#include "PackPlatform.h"

struct TPackRequest {
    fs::path stub;  // empty with archiveOnly
    fs::path out;
    fs::path folder;
    bool archiveOnly = false;
    TCompressOptions compress;
};
// Returns the exit status; the output file is replaced only when complete.
int PackCommand(const TPackRequest& request);
