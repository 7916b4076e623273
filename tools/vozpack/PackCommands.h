// The commands of vozpack, each returning the exit status, and the one way
// they report to the user.
#pragma once

#include <cstdio>
#include <string>

#include "PackPlatform.h"
#include "VozPack.h"

// "vozpack: message" on stderr; returns status.
int Fail(int status, const std::string& message);
// "vozpack: what (code N)" on stderr; returns kExitFormat.
int FailCode(const std::string& what, int32_t code);
// "vozpack: warning: message" on stderr.
void Warn(const std::string& message);

struct TPackRequest {
  fs::path stub;  // empty with archiveOnly
  fs::path out;
  fs::path folder;
  bool archiveOnly = false;
  TCompressOptions compress;
};
int PackCommand(const TPackRequest& request);

enum class TReadMode { List, Test, Extract };
int ReadArchiveCommand(TReadMode mode, const fs::path& file, const fs::path& destination);
// The same on a file already open for reading (a setup file or a bare
// archive); fileText names it in messages. Leaves the file open.
int ReadArchiveFrom(TReadMode mode, FILE* file, const std::string& fileText, const fs::path& destination);

int DiffCommand(const fs::path& reference, const fs::path& target, const fs::path& patch,
                const TCompressOptions& options);
int PatchCommand(const fs::path& reference, const fs::path& patch, const fs::path& out);
