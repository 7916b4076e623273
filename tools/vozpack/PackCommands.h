// The commands of vozpack, each returning the exit status, and the one way
// they report to the user.
#pragma once

#include <cstdio>
#include <string>

#include "PackPlatform.h"
#include "PackRead.h"
#include "PackReport.h"
#include "VozPack.h"

struct TPackRequest {
  fs::path stub;  // empty with archiveOnly
  fs::path out;
  fs::path folder;
  bool archiveOnly = false;
  TCompressOptions compress;
};
int PackCommand(const TPackRequest& request);

int DiffCommand(const fs::path& reference, const fs::path& target, const fs::path& patch,
                const TCompressOptions& options);
int PatchCommand(const fs::path& reference, const fs::path& patch, const fs::path& out);
