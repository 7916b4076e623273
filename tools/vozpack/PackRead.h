// vozpack list, test and extract: what a setup file or bare archive carries,
// read through the codec core's archive reader (VozReader.h), so that
// vozpack vouches for exactly the archive the setup would extract.
#pragma once

#include <cstdio>
#include <string>

#include "PackPlatform.h"

enum class TReadMode { List, Test, Extract };

// Opens file and reads it in mode; destination only for Extract. Returns
// the exit status: 0, 1 (the file cannot be read, an entry's file cannot be
// written) or 2 (a format failure, its reader code in the message).
int ReadArchiveCommand(TReadMode mode, const fs::path& file, const fs::path& destination);

// The same on a file already open for reading (a setup file or a bare
// archive); fileText names it in messages. Leaves the file open.
int ReadArchiveFrom(TReadMode mode, FILE* file, const std::string& fileText, const fs::path& destination);
