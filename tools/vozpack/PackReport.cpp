// vozpack's messages on stderr.
#include "PackReport.h"

#include <cstdio>

#include "PackPlatform.h"
#include "VozPack.h"

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "vozpack: %s\n", message.c_str());
    return status;
}

int FailCode(const std::string& what, int32_t code) {
    std::fprintf(stderr, "vozpack: %s (code %d)\n", what.c_str(), static_cast<int>(code));
    return kExitFormat;
}

void Warn(const std::string& message) { std::fprintf(stderr, "vozpack: warning: %s\n", message.c_str()); }

std::string Quoted(const std::string& name) { return "\"" + ShortenedText(PrintableText(name)) + "\""; }
