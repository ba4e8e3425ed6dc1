// The process's resident size, for the tests that hold memory use to a bound. The sanitizers
// keep freed memory in quarantine and add shadow memory, so only a plain build measures what
// the code itself holds: tests check kMeasuresResidentMemory before they compare.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <fstream>

namespace kwz_test {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMeasuresResidentMemory = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kMeasuresResidentMemory = false;
#else
constexpr bool kMeasuresResidentMemory = true;
#endif
#else
constexpr bool kMeasuresResidentMemory = true;
#endif

inline std::size_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t total = 0, resident = 0;
  statm >> total >> resident;
  return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

}  // namespace kwz_test
