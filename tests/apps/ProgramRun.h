// Runs a program as a child process with its output captured, for tests of the programs.
#pragma once

#include <string>
#include <vector>

namespace kwz_test {

struct ProgramResult {
  int exitCode = -1;  // -1 when it did not end normally (killed, or no start)
  std::string out;
  std::string err;
};

// Runs path with args and waits up to timeoutMs, then kills it.
ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         int timeoutMs);

}  // namespace kwz_test
