// The one way vozpack's commands report to the user: a line on stderr.
#pragma once

#include <cstdint>
#include <string>

// "vozpack: message" on stderr; returns status.
int Fail(int status, const std::string& message);
// "vozpack: what (code N)" on stderr; returns kExitFormat.
int FailCode(const std::string& what, int32_t code);
// "vozpack: warning: message" on stderr.
void Warn(const std::string& message);
// A name in a message: quoted, made printable, and shortened when it would
// not fit a line.
std::string Quoted(const std::string& name);
