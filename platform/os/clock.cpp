#include "platform/os/clock.h"

#include <sys/time.h>

#include <cstring>
#include <ctime>

#include "platform/com/hresult.h"
#include "platform/fault/fault.h"
#include "platform/os/lasterror.h"
#include "platform/text/convert.h"

namespace {

SYSTEMTIME FromTm(const struct tm& tm, int milliseconds) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(tm.tm_year + 1900);
  st.wMonth = static_cast<WORD>(tm.tm_mon + 1);
  st.wDayOfWeek = static_cast<WORD>(tm.tm_wday);
  st.wDay = static_cast<WORD>(tm.tm_mday);
  st.wHour = static_cast<WORD>(tm.tm_hour);
  st.wMinute = static_cast<WORD>(tm.tm_min);
  st.wSecond = static_cast<WORD>(tm.tm_sec);
  st.wMilliseconds = static_cast<WORD>(milliseconds);
  return st;
}

void CopyName(WChar (&to)[32], const char* from) {
  const WString w = vr::text::Utf8ToWide(from ? from : "");
  const size_t n = w.size() < 31 ? w.size() : 31;
  std::memcpy(to, w.data(), n * sizeof(WChar));
  to[n] = 0;
}

struct Offset {
  long gmtoff;
  int isdst;
};

Offset OffsetAt(time_t t) {
  struct tm tm;
  localtime_r(&t, &tm);
  return {tm.tm_gmtoff, tm.tm_isdst > 0 ? 1 : 0};
}

// The first second at or after lo (before hi) whose daylight state is that of hi.
time_t FindChange(time_t lo, time_t hi) {
  const int target = OffsetAt(hi).isdst;
  while (hi - lo > 1) {
    const time_t mid = lo + (hi - lo) / 2;
    if (OffsetAt(mid).isdst == target) hi = mid;
    else lo = mid;
  }
  return hi;
}

// The change as local time on the clock that was running before it.
SYSTEMTIME ChangeTime(time_t change) {
  const Offset before = OffsetAt(change - 1);
  time_t shown = change + before.gmtoff;
  struct tm tm;
  gmtime_r(&shown, &tm);
  return FromTm(tm, 0);
}

}  // namespace

void GetLocalTime(SYSTEMTIME* time) {
  if (!time) return;
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm tm;
  const time_t now = tv.tv_sec;
  localtime_r(&now, &tm);
  *time = FromTm(tm, static_cast<int>(tv.tv_usec / 1000));
}

DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* info) {
  if (auto error = vr::fault::InjectedWin32("os.GetTimeZoneInformation", ERROR_GEN_FAILURE)) {
    SetLastError(static_cast<DWORD>(*error));
    return TIME_ZONE_ID_INVALID;
  }
  if (!info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return TIME_ZONE_ID_INVALID;
  }
  tzset();
  std::memset(info, 0, sizeof *info);
  const time_t now = std::time(nullptr);
  struct tm nowTm;
  localtime_r(&now, &nowTm);

  // Look at this year day by day for the standard offset, the daylight one and the changes.
  struct tm jan = {};
  jan.tm_year = nowTm.tm_year;
  jan.tm_mon = 0;
  jan.tm_mday = 1;
  jan.tm_hour = 12;
  jan.tm_isdst = -1;
  const time_t start = timegm(&jan) - 14 * 3600;
  constexpr time_t kDay = 24 * 3600;
  bool haveStandard = false, haveDaylight = false;
  long standardOff = 0, daylightOff = 0;
  time_t toDaylight = 0, toStandard = 0;
  Offset prev = OffsetAt(start);
  for (int d = 0; d <= 366; ++d) {
    const time_t t = start + d * kDay;
    const Offset o = OffsetAt(t);
    if (o.isdst) {
      haveDaylight = true;
      daylightOff = o.gmtoff;
    } else if (!haveStandard) {
      haveStandard = true;
      standardOff = o.gmtoff;
    }
    if (d > 0 && o.isdst != prev.isdst) {
      const time_t change = FindChange(t - kDay, t);
      if (o.isdst) toDaylight = change;
      else toStandard = change;
    }
    prev = o;
  }
  if (!haveStandard) standardOff = haveDaylight ? daylightOff - 3600 : nowTm.tm_gmtoff;

  info->Bias = static_cast<LONG>(-standardOff / 60);
  info->StandardBias = 0;
  CopyName(info->StandardName, tzname[0]);
  CopyName(info->DaylightName, tzname[1]);
  SetLastError(ERROR_SUCCESS);
  if (!haveDaylight) return TIME_ZONE_ID_UNKNOWN;
  info->DaylightBias = static_cast<LONG>(-(daylightOff - standardOff) / 60);
  if (toStandard) info->StandardDate = ChangeTime(toStandard);
  if (toDaylight) info->DaylightDate = ChangeTime(toDaylight);
  return nowTm.tm_isdst > 0 ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}
