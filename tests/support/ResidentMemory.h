// The process's resident size, for the tests that hold memory use to a bound. The sanitizers
// keep freed memory in quarantine and add shadow memory, so only a plain build measures what
// the code itself holds: tests check kMeasuresResidentMemory before they compare.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <fstream>

#include "tests/support/Sanitizers.h"

namespace kwz_test {

constexpr bool kMeasuresResidentMemory = !kUnderSanitizer;

inline std::size_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t total = 0, resident = 0;
  statm >> total >> resident;
  return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

}  // namespace kwz_test
