#include "mordant/RunHeader.h"

#include <cstdlib>
#include <ctime>

#include "platform/os/clock.h"

bool WantFileComments() { return std::getenv("NO_UNDO_OR_LOG_COMMENTS") == nullptr; }

std::string FormatRunDateTime() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  std::tm tm{};
  tm.tm_year = now.wYear - 1900;
  tm.tm_mon = now.wMonth - 1;
  tm.tm_mday = now.wDay;
  tm.tm_hour = now.wHour;
  tm.tm_min = now.wMinute;
  tm.tm_sec = now.wSecond;
  tm.tm_wday = now.wDayOfWeek;
  tm.tm_isdst = -1;
  char buffer[256];
  const size_t n = std::strftime(buffer, sizeof buffer, "%x %X", &tm);
  return std::string(buffer, n);
}
