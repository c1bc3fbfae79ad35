// Base time and date of a record as a calendar time.

#include "platform/record_time.h"

#include <cstdio>

// Dates past 2038 and before 1901 need a 64-bit time_t, which the 32-bit ARM builds get from _TIME_BITS=64.
static_assert(sizeof(time_t) == 8, "time_t is 64 bits on every target");

time_t GetRecordTime(const char* baseTime, const char* baseDate) {
    int hour = 0, minute = 0, second = 0;
    if (baseTime != nullptr && baseTime[0] != '\0') std::sscanf(baseTime, "%d:%d:%d", &hour, &minute, &second);
    int day = 1, month = 1, year = 1900;
    if (baseDate != nullptr && baseDate[0] != '\0') std::sscanf(baseDate, "%d/%d/%d", &day, &month, &year);
    tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = 0;
    const time_t result = mktime(&local);
    return result == static_cast<time_t>(-1) ? 0 : result;
}
