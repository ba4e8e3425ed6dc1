// Runs a function in a forked child process, with a pipe each way for one-byte signals, so
// tests can hold cross-process objects in another process and kill it.
#pragma once

#include <sys/types.h>

#include <functional>

namespace kwz_test {

class ChildProcess {
 public:
  // Channel handed to the child's function.
  class Channel {
   public:
    Channel(int in, int out) : in_(in), out_(out) {}
    void Send(char signal) const;
    // Waits for the next signal from the parent; returns 0 when the parent went away.
    char Receive() const;

   private:
    int in_;
    int out_;
  };

  // The child runs body and then exits with its result (0 by default). It must not return into
  // the test framework.
  explicit ChildProcess(std::function<int(const Channel&)> body);
  ~ChildProcess();  // kills the child if still alive

  void Send(char signal) const;
  // Waits up to timeoutMs for the next signal; returns 0 on time-out or when the child is gone.
  char Receive(int timeoutMs = 10000) const;
  // True when a signal is waiting to be read now.
  bool HasPending() const;
  void Kill();
  // Waits for the child to exit and returns its exit status (or -1 when killed by a signal).
  int Wait();

 private:
  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
};

// A temporary folder, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const char* path() const { return path_; }

 private:
  char path_[64];
};

// Sets an environment variable for the life of the object, then restores it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);  // null value unsets
  ~ScopedEnv();

 private:
  const char* name_;
  bool had_;
  char saved_[4096];
};

// Number of open descriptors of this process.
int OpenDescriptorCount();

}  // namespace kwz_test
