#include "platform/clock.h"

#include <errno.h>
#include <time.h>

namespace {

void ToSystemTime(const timespec& now, bool local, SYSTEMTIME* out) {
  std::tm parts{};
  if (local) {
    localtime_r(&now.tv_sec, &parts);
  } else {
    gmtime_r(&now.tv_sec, &parts);
  }
  out->wYear = static_cast<WORD>(parts.tm_year + 1900);
  out->wMonth = static_cast<WORD>(parts.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(parts.tm_wday);
  out->wDay = static_cast<WORD>(parts.tm_mday);
  out->wHour = static_cast<WORD>(parts.tm_hour);
  out->wMinute = static_cast<WORD>(parts.tm_min);
  out->wSecond = static_cast<WORD>(parts.tm_sec);
  out->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

}  // namespace

DWORD timeGetTime() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  return static_cast<DWORD>(ms);
}

void GetLocalTime(SYSTEMTIME* time) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  ToSystemTime(now, true, time);
}

void GetSystemTime(SYSTEMTIME* time) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  ToSystemTime(now, false, time);
}

void _ftime(_timeb* time) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm parts{};
  localtime_r(&now.tv_sec, &parts);
  time->time = now.tv_sec;
  time->millitm = static_cast<unsigned short>(now.tv_nsec / 1000000);
  time->timezone = static_cast<short>(-parts.tm_gmtoff / 60);
  time->dstflag = static_cast<short>(parts.tm_isdst > 0 ? 1 : 0);
}

errno_t localtime_s(std::tm* result, const std::time_t* time) {
  if (result == nullptr || time == nullptr) return EINVAL;
  if (localtime_r(time, result) == nullptr) return EINVAL;
  return 0;
}
