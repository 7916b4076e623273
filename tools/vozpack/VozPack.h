// vozpack: the packaging tool. Writes setup files and bare archives, lists,
// tests and extracts them, and makes and applies patches. One portable
// source for Linux and Windows; the format itself comes from the codec core
// (archive/Voz*.h), nothing of it is restated here.
//
// Exit statuses: 0 success, 1 usage or input/output error, 2 a format
// failure (an archive or patch that does not decode or verify). Every
// failure prints one line "vozpack: <what went wrong>" on stderr; format
// failures end it with " (code -N)".
//
// Each source file has its header: PackMain.cpp this one (the command
// line), PackArchive.h (pack), PackRead.h (list, test, extract), PackDelta.h
// (diff, patch), PackWalk.h (the folder to pack), PackCompress.h (blocks),
// PackDosTime.h (time stamps), PackReport.h (messages), PackPlatform.h (the
// file system); PackCommands.h gathers the commands.
#pragma once

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;   // usage, input or output error
constexpr int kExitFormat = 2;  // the archive or patch is bad

// The command line: argv[1] is the command. Returns the exit status.
int VozpackMain(int argc, char** argv);
