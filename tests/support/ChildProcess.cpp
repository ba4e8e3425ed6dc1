#include "tests/support/ChildProcess.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace kwz_test {

void ChildProcess::Channel::Send(char signal) const {
  ssize_t n = write(out_, &signal, 1);
  (void)n;
}

char ChildProcess::Channel::Receive() const {
  char signal = 0;
  return read(in_, &signal, 1) == 1 ? signal : 0;
}

ChildProcess::ChildProcess(std::function<int(const Channel&)> body) {
  int down[2];
  int up[2];
  if (pipe(down) != 0 || pipe(up) != 0) std::abort();
  pid_ = fork();
  if (pid_ == 0) {
    close(down[1]);
    close(up[0]);
    int status = body(Channel(down[0], up[1]));
    _exit(status);
  }
  close(down[0]);
  close(up[1]);
  toChild_ = down[1];
  fromChild_ = up[0];
}

ChildProcess::~ChildProcess() {
  Kill();
  close(toChild_);
  close(fromChild_);
}

void ChildProcess::Send(char signal) const {
  ssize_t n = write(toChild_, &signal, 1);
  (void)n;
}

char ChildProcess::Receive(int timeoutMs) const {
  pollfd p{fromChild_, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) != 1) return 0;
  char signal = 0;
  return read(fromChild_, &signal, 1) == 1 ? signal : 0;
}

bool ChildProcess::HasPending() const {
  pollfd p{fromChild_, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

void ChildProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  Wait();
}

int ChildProcess::Wait() {
  if (pid_ <= 0) return -1;
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TempDir::TempDir() {
  std::snprintf(path_, sizeof path_, "/tmp/kwz-test-XXXXXX");
  if (mkdtemp(path_) == nullptr) std::abort();
}

TempDir::~TempDir() {
  std::string command = std::string("rm -rf '") + path_ + "'";
  int rc = std::system(command.c_str());
  (void)rc;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  const char* old = getenv(name);
  had_ = old != nullptr;
  if (had_) std::snprintf(saved_, sizeof saved_, "%s", old);
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (had_) {
    setenv(name_, saved_, 1);
  } else {
    unsetenv(name_);
  }
}

int OpenDescriptorCount() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

}  // namespace kwz_test
