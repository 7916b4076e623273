// DOS time stamps (local time) from and to their parts.
#pragma once

#include <cstdint>

// A DOS stamp from broken-down local time; years before 1980 clamp to
// 1980-01-01 00:00:00, years after 2107 to 2107-12-31 23:59:58; seconds are
// rounded down to the 2-second resolution.
uint32_t DosStampFromParts(int year, int month, int day, int hour, int minute, int second);

// The stamp's fields; false when they do not form a valid date and time.
struct TDosParts {
    int year, month, day, hour, minute, second;
};
bool DosStampToParts(uint32_t stamp, TDosParts* parts);
