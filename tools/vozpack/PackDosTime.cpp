// DOS time stamps from and to their parts.
#include "PackDosTime.h"

#include <algorithm>

uint32_t DosStampFromParts(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1980) return (((0u << 9) | (1u << 5) | 1u) << 16);
    if (year > 2107) {
        return (((127u << 9) | (12u << 5) | 31u) << 16) | ((23u << 11) | (59u << 5) | 29u);
    }
    const uint32_t date =
        (static_cast<uint32_t>(year - 1980) << 9) | (static_cast<uint32_t>(month) << 5) | static_cast<uint32_t>(day);
    // A leap second still lands inside the minute.
    const uint32_t half = static_cast<uint32_t>(std::min(second, 59) / 2);
    const uint32_t time = (static_cast<uint32_t>(hour) << 11) | (static_cast<uint32_t>(minute) << 5) | half;
    return (date << 16) | time;
}

bool DosStampToParts(uint32_t stamp, TDosParts* p) {
    const uint32_t date = stamp >> 16, time = stamp & 0xFFFF;
    p->year = static_cast<int>(date >> 9) + 1980;
    p->month = static_cast<int>((date >> 5) & 15);
    p->day = static_cast<int>(date & 31);
    p->hour = static_cast<int>(time >> 11);
    p->minute = static_cast<int>((time >> 5) & 63);
    p->second = static_cast<int>(time & 31) * 2;
    static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (p->month < 1 || p->month > 12 || p->day < 1 || p->day > kDays[p->month - 1]) return false;
    const bool leap = (p->year % 4 == 0 && p->year % 100 != 0) || p->year % 400 == 0;
    if (p->month == 2 && p->day == 29 && !leap) return false;
    return p->hour <= 23 && p->minute <= 59 && p->second <= 58;
}
