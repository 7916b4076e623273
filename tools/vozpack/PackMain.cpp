// The command line of vozpack.
#include "VozPack.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "PackCommands.h"

namespace {

const char kUsage[] =
    "usage:\n"
    "  vozpack pack --stub STUB.exe --out SETUP.exe [options] DIR\n"
    "  vozpack pack --archive-only --out ARCHIVE [options] DIR\n"
    "      write a setup file (the stub, the marker and an archive of the files\n"
    "      below DIR) or just the archive\n"
    "  vozpack list FILE        one line per entry: size, stored size, time, attributes, name\n"
    "  vozpack test FILE        decode and verify every entry, writing nothing\n"
    "  vozpack extract FILE DIR write the entries below DIR\n"
    "  vozpack diff REF NEW PATCH   make a patch that rebuilds NEW from REF\n"
    "  vozpack patch REF PATCH OUT  apply a patch to REF, writing OUT\n"
    "\n"
    "FILE is a setup file or a bare archive.\n"
    "options of pack and diff:\n"
    "  --level N    compression level, 0 (stored) to 9; pack's default 6\n"
    "  --best       the strongest compression (the default of diff)\n"
    "  --threads N  worker threads (default: one per core); the output is the same\n"
    "\n"
    "  vozpack --version        the version of vozpack\n"
    "\n"
    "exit status: 0 success, 1 usage or input/output error, 2 a damaged archive or patch\n";

const char kVersion[] = "1.0";

int Usage(const std::string& problem) {
    if (!problem.empty()) std::fprintf(stderr, "vozpack: %s\n", problem.c_str());
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

bool ParseCount(const std::string& text, int low, int high, int* value) {
    if (text.empty() || text.size() > 6) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    const int v = std::atoi(text.c_str());
    if (v < low || v > high) return false;
    *value = v;
    return true;
}

struct TArgs {
    std::vector<std::string> positional;
    std::string stub, out;
    bool archiveOnly = false;
    bool levelGiven = false;
    TCompressOptions compress;
};

// Options may come anywhere; "--name value" and "--name=value" both work;
// "--" ends them. Returns an empty string or the problem.
std::string ParseArgs(int argc, char** argv, bool packOptions, bool compressOptions, TArgs* a) {
    bool optionsDone = false;
    for (int i = 2; i < argc; i++) {
        std::string arg = argv[i];
        if (optionsDone || arg.size() < 2 || arg[0] != '-') {
            a->positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsDone = true;
            continue;
        }
        std::string name = arg, value;
        bool hasValue = false;
        const size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= argc) return false;
            value = argv[++i];
            return true;
        };
        if (packOptions && (name == "--stub" || name == "--out")) {
            if (!takeValue() || value.empty()) return name + " needs a file name";
            (name == "--stub" ? a->stub : a->out) = value;
        } else if (packOptions && name == "--archive-only" && !hasValue) {
            a->archiveOnly = true;
        } else if (compressOptions && name == "--level") {
            if (!takeValue() || !ParseCount(value, 0, 9, &a->compress.level)) {
                return "--level needs a number from 0 to 9";
            }
            a->compress.best = false;
            a->levelGiven = true;
        } else if (compressOptions && name == "--best" && !hasValue) {
            a->compress.best = true;
            a->compress.level = 9;
            a->levelGiven = true;
        } else if (compressOptions && name == "--threads") {
            if (!takeValue() || !ParseCount(value, 1, 256, &a->compress.threads)) {
                return "--threads needs a number from 1 to 256";
            }
        } else {
            return "unknown option " + arg;
        }
    }
    return std::string();
}

}  // namespace

namespace {

int RunCommand(int argc, char** argv) {
    if (argc < 2) return Usage("");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (command == "--version" || command == "version") {
        TCompressOptions defaults;
        std::printf("vozpack %s (vozip archives and patches; compresses with %s)\n", kVersion,
                    CompressorName(defaults));
        return kExitOk;
    }
    const bool isPack = command == "pack";
    const bool isDiff = command == "diff";
    TArgs a;
    if (command != "pack" && command != "list" && command != "test" && command != "extract" && command != "diff" &&
        command != "patch") {
        return Usage("unknown command " + command);
    }
    const std::string problem = ParseArgs(argc, argv, isPack, isPack || isDiff, &a);
    if (!problem.empty()) return Usage(problem);
    const auto& p = a.positional;

    if (isPack) {
        if (p.size() != 1) return Usage("pack needs one folder");
        if (a.out.empty()) return Usage("pack needs --out");
        if (a.archiveOnly && !a.stub.empty()) return Usage("--archive-only takes no --stub");
        if (!a.archiveOnly && a.stub.empty()) return Usage("pack needs --stub (or --archive-only)");
        TPackRequest r;
        r.stub = a.stub;
        r.out = a.out;
        r.folder = p[0];
        r.archiveOnly = a.archiveOnly;
        r.compress = a.compress;
        return PackCommand(r);
    }
    if (command == "list" || command == "test") {
        if (p.size() != 1) return Usage(command + " needs one file");
        return ReadArchiveCommand(command == "list" ? TReadMode::List : TReadMode::Test, p[0], fs::path());
    }
    if (command == "extract") {
        if (p.size() != 2) return Usage("extract needs a file and a folder");
        return ReadArchiveCommand(TReadMode::Extract, p[0], p[1]);
    }
    if (isDiff) {
        if (p.size() != 3) return Usage("diff needs REF NEW PATCH");
        if (!a.levelGiven) a.compress.best = true;
        return DiffCommand(p[0], p[1], p[2], a.compress);
    }
    if (p.size() != 3) return Usage("patch needs REF PATCH OUT");
    return PatchCommand(p[0], p[1], p[2]);
}

}  // namespace

int VozpackMain(int argc, char** argv) {
    // Whatever asks for more memory than there is ends with a message, not an
    // abort.
    try {
        return RunCommand(argc, argv);
    } catch (const std::bad_alloc&) {
        return Fail(kExitUsage, "out of memory");
    }
}
