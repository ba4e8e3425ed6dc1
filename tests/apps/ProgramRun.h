// Runs a program as a child process with its output captured, for tests of the programs.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/WaitUntil.h"

namespace kwz_test {

class TempDir;

struct ProgramResult {
  int exitCode = -1;  // -1 when it did not end normally (killed, or no start)
  std::string out;
  std::string err;
};

// A program started with its output going to files, which can be read while it runs.
class RunningProgram {
 public:
  // folder: the program's working folder; empty for the test's own.
  RunningProgram(const std::string& path, const std::vector<std::string>& args,
                 const std::string& folder = {});
  ~RunningProgram();  // kills the program if still running
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // What the program has written to its standard output so far.
  std::string OutSoFar() const;
  // Waits until the output holds text, at most timeoutMs.
  bool WaitForOut(const std::string& text, int timeoutMs) const;
  // Asks the program to end, as Ctrl-C does.
  void Interrupt();
  // Waits up to timeoutMs for the program to end, then kills it.
  ProgramResult Wait(int timeoutMs);

 private:
  std::unique_ptr<TempDir> dir_;
  std::string outPath_;
  std::string errPath_;
  pid_t pid_ = -1;
};

// A UDP port on 127.0.0.1 that was free a moment ago; even when asked (RTP data takes even
// ports).
std::uint16_t FreeUdpPort(bool even = false);
// Waits up to timeoutMs until some socket of this machine is bound to the UDP port: the sign that
// a program started in the background now takes datagrams there.
bool WaitForUdpPort(std::uint16_t port, int timeoutMs);

// Runs path with args (in folder, when given) and waits up to timeoutMs, then kills it.
ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         int timeoutMs, const std::string& folder = {});

// kwz-regsvr and kwz-viewer unload the control's module, and with it the codec libraries that
// only the module needed; what those libraries allocated when they were loaded is then out of
// the leak checker's sight and would be reported as lost. Programs started while one of these
// lives run without leak checking; the module's own unloading is leak-checked in process by the
// module tests, where the codec libraries stay loaded.
class ScopedNoLeakCheck {
 public:
  ScopedNoLeakCheck();

 private:
  ScopedEnv asan_;
};

}  // namespace kwz_test
