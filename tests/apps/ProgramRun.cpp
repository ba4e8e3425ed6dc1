#include "tests/apps/ProgramRun.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/support/ChildProcess.h"

extern char** environ;

namespace kwz_test {
namespace {

std::string ReadAll(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

}  // namespace

RunningProgram::RunningProgram(const std::string& path, const std::vector<std::string>& args,
                               const std::string& folder)
    : dir_(std::make_unique<TempDir>()),
      outPath_(std::string(dir_->path()) + "/out"),
      errPath_(std::string(dir_->path()) + "/err") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
}

RunningProgram::~RunningProgram() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
}

std::string RunningProgram::OutSoFar() const {
  return ReadAll(outPath_);
}

bool RunningProgram::WaitForOut(const std::string& text, int timeoutMs) const {
  return WaitUntil([&] { return OutSoFar().find(text) != std::string::npos; }, timeoutMs);
}

void RunningProgram::Interrupt() {
  if (pid_ > 0) kill(pid_, SIGINT);
}

ProgramResult RunningProgram::Wait(int timeoutMs) {
  ProgramResult result;
  if (pid_ <= 0) return result;
  // The process's descriptor becomes readable when it ends.
  pollfd ended{static_cast<int>(syscall(SYS_pidfd_open, pid_, 0)), POLLIN, 0};
  int status = 0;
  if (ended.fd < 0 || poll(&ended, 1, timeoutMs) != 1) kill(pid_, SIGKILL);
  if (ended.fd >= 0) close(ended.fd);
  waitpid(pid_, &status, 0);
  pid_ = -1;
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  result.out = ReadAll(outPath_);
  result.err = ReadAll(errPath_);
  return result;
}

std::uint16_t FreeUdpPort(bool even) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int probe = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    close(probe);
    const std::uint16_t port = ntohs(address.sin_port);
    if (bound && (!even || port % 2 == 0)) return port;
  }
  return 0;
}

bool WaitForUdpPort(std::uint16_t port, int timeoutMs) {
  char local[8];
  std::snprintf(local, sizeof local, ":%04X", port);
  return WaitUntil(
      [&] {
        // Each line: "sl: ADDRESS:PORT ADDRESS:PORT ...", in hexadecimal.
        std::istringstream table(ReadAll("/proc/net/udp"));
        for (std::string line, slot, address; std::getline(table, line);) {
          std::istringstream(line) >> slot >> address;
          if (address.size() > 5 && address.compare(address.size() - 5, 5, local) == 0) return true;
        }
        return false;
      },
      timeoutMs);
}

ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         int timeoutMs, const std::string& folder) {
  return RunningProgram(path, args, folder).Wait(timeoutMs);
}

ScopedNoLeakCheck::ScopedNoLeakCheck()
    : asan_("ASAN_OPTIONS",
            (std::string(std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "") +
             ":detect_leaks=0")
                .c_str()) {}

}  // namespace kwz_test
