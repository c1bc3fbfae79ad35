#pragma once
// Calendar time of a record from its base time ("hh:mm:ss") and date ("dd/mm/yyyy") texts.

#include <ctime>

// Local calendar time of the texts; an empty time is midnight, an empty date
// 1 January 1900. 0 when the conversion fails.
time_t GetRecordTime(const char* baseTime, const char* baseDate);
