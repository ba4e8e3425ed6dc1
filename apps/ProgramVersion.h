// The answer to --version: one line "<program> <version>", the form that help2man and packaging
// tools read. The build gives each program's main the project's version as KWZ_VERSION.
#pragma once

#include <cstdio>

namespace kwz_apps {

inline int PrintVersion(const char* program) {
  std::printf("%s %s\n", program, KWZ_VERSION);
  return 0;
}

}  // namespace kwz_apps
