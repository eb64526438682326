// Local time and the time zone, in the shapes of GetLocalTime and GetTimeZoneInformation.
// The zone is the process's (TZ, else the system's). Biases are minutes to add to local time to
// get UTC: a zone one hour east of UTC has Bias -60.
#pragma once
#include "platform/com/types.h"
#include "platform/text/wstring.h"

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;      // 1..12
  WORD wDayOfWeek;  // 0 = Sunday
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

struct TIME_ZONE_INFORMATION {
  LONG Bias;              // UTC = local + Bias, for standard time
  WChar StandardName[32];
  SYSTEMTIME StandardDate;  // this year's change to standard time (local time), all zero without one
  LONG StandardBias;      // added to Bias during standard time (0)
  WChar DaylightName[32];
  SYSTEMTIME DaylightDate;  // this year's change to daylight time (local time)
  LONG DaylightBias;      // added to Bias during daylight time (usually -60)
};

constexpr DWORD TIME_ZONE_ID_UNKNOWN = 0;   // the zone has no daylight time
constexpr DWORD TIME_ZONE_ID_STANDARD = 1;
constexpr DWORD TIME_ZONE_ID_DAYLIGHT = 2;
constexpr DWORD TIME_ZONE_ID_INVALID = 0xFFFFFFFF;

void GetLocalTime(SYSTEMTIME* time);
// Which of the zone's times is in effect now, or TIME_ZONE_ID_INVALID with the error for
// GetLastError. Point "os.GetTimeZoneInformation" (usual failure ERROR_GEN_FAILURE).
DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* info);
