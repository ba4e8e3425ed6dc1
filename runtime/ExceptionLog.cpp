#include "runtime/ExceptionLog.h"

#include <cstdio>

#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/dxerr.h"
#include "platform/shell.h"
#include "platform/textfile.h"
#include "platform/widestring.h"
#include "runtime/CCriticalSection.h"

namespace {

constexpr size_t kEntryRoom = 1024;
constexpr size_t kStampRoom = 26;
const char kLogFolder[] = "/Orvana/Client/Log/";
const char kLogFile[] = "kwz_debug.txt";

// Serialises the appends of one process; lives from first use until the module unloads.
CCriticalSection& LogLock() {
  static CCriticalSection lock;
  return lock;
}

// Null when the folder is unknown, the path does not fit or the file cannot be opened.
std::FILE* OpenLogForAppend() {
  char path[kLogPathSize];
  if (!BuildLogPath(path)) return nullptr;
  std::FILE* file = nullptr;
  return fopen_s(&file, path, "a") == 0 ? file : nullptr;
}

}  // namespace

bool BuildLogPath(char* path) {
  char folder[MAX_PATH];
  if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, folder) != 0) return false;
  return _snprintf_s(path, kLogPathSize, _TRUNCATE, "%s%s%s", folder, kLogFolder, kLogFile) >= 0;
}

std::u16string FormatExceptionEntry(const base_exception& error) {
  const WCHAR* name =
      error.code() == 0 ? u"" : DXGetErrorStringW(static_cast<HRESULT>(error.code()));
  WCHAR text[kEntryRoom];
  _snwprintf_s(text, kEntryRoom, _TRUNCATE, u"%s\n%s\n%s(%d)\n0x%08X %s\n", error.message(),
               error.source(), error.file(), static_cast<int>(error.line()), error.code(), name);
  return text;
}

void AppendExceptionEntry(const WCHAR* entryText) {
  CCritSecLock guard(&LogLock());
  std::FILE* file = OpenLogForAppend();
  if (file == nullptr) return;

  // Milliseconds from the first reading, the calendar from the second: near a change of second
  // the two may disagree, as they always have.
  _timeb now;
  _ftime(&now);
  std::time_t seconds = std::time(nullptr);
  std::tm local{};
  localtime_s(&local, &seconds);
  WCHAR stamp[kStampRoom];
  _snwprintf_s(stamp, kStampRoom, _TRUNCATE, u"%04d-%02d-%02d %02d:%02d:%02d.%03hu",
               local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
               local.tm_sec, now.millitm);
  fwprintf_s(file, u"%ls [Exception]\n", stamp);
  fwprintf_s(file, u"%s\n", entryText);
  std::fclose(file);
}

std::u16string ReportException(const base_exception& error) {
  std::u16string entry = FormatExceptionEntry(error);
  OutputDebugStringW(entry.c_str());
  AppendExceptionEntry(entry.c_str());
  return entry;
}

void AppendThreadFaultEntry(DWORD exceptionCode) {
  std::FILE* file = OpenLogForAppend();
  if (file == nullptr) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[32];
  _snprintf_s(stamp, sizeof stamp, _TRUNCATE, "%04d-%02d-%02d %02d:%02d:%02d.%03hu", now.wYear,
              now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  std::fprintf(file, "%s [CMediaThread] -> ", stamp);
  std::fprintf(file, "Exception code: 0x%X\n", static_cast<unsigned>(exceptionCode));
  std::fclose(file);
}
