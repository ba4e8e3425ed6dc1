#include "platform/debug.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/widestring.h"

namespace {

std::mutex& SinkLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

DebugOutputSink& Sink() {
  static DebugOutputSink* sink = new DebugOutputSink;
  return *sink;
}

bool ToStderr() {
  static const bool enabled = [] {
    const char* value = std::getenv("KWZ_DEBUG_OUTPUT");
    return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
  }();
  return enabled;
}

}  // namespace

void OutputDebugStringW(LPCWSTR text) {
  if (text == nullptr) return;
  if (ToStderr()) {
    std::string narrow = Narrow(text);
    std::fputs(narrow.c_str(), stderr);
  }
  std::lock_guard<std::mutex> guard(SinkLock());
  if (Sink()) Sink()(text);
}

void OutputDebugStringA(LPCSTR text) {
  if (text == nullptr) return;
  std::u16string wide = Widen(text);
  OutputDebugStringW(wide.c_str());
}

DebugOutputSink SetDebugOutputSink(DebugOutputSink sink) {
  std::lock_guard<std::mutex> guard(SinkLock());
  DebugOutputSink previous = std::move(Sink());
  Sink() = std::move(sink);
  return previous;
}
