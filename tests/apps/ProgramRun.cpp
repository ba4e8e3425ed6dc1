#include "tests/apps/ProgramRun.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/ChildProcess.h"

extern char** environ;

namespace kwz_test {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
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
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (OutSoFar().find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void RunningProgram::Interrupt() {
  if (pid_ > 0) kill(pid_, SIGINT);
}

ProgramResult RunningProgram::Wait(int timeoutMs) {
  ProgramResult result;
  if (pid_ <= 0) return result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  result.out = ReadAll(outPath_);
  result.err = ReadAll(errPath_);
  return result;
}

ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         int timeoutMs, const std::string& folder) {
  RunningProgram program(path, args, folder);
  return program.Wait(timeoutMs);
}

namespace {

std::string WithoutLeakCheck() {
  const char* options = std::getenv("ASAN_OPTIONS");
  return std::string(options != nullptr ? options : "") + ":detect_leaks=0";
}

}  // namespace

ScopedNoLeakCheck::ScopedNoLeakCheck() : asan_("ASAN_OPTIONS", WithoutLeakCheck().c_str()) {}

}  // namespace kwz_test
