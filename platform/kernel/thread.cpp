#include <errno.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "platform/kernel.h"
#include "platform/winerror.h"

#include "kernel/event_object.h"

namespace kwz_platform {
namespace {

// The signal that parks a thread for TerminateThread. Real-time signals are queued and never
// merged away; glibc keeps its own below SIGRTMIN, and this one sits at the other end.
int ParkSignal() {
  return SIGRTMAX - 1;
}

class ThreadObject;
thread_local ThreadObject* t_current = nullptr;

void OnPark(int);

class ThreadObject : public KernelObject {
 public:
  explicit ThreadObject(std::shared_ptr<EventObject> ended) : ended_(std::move(ended)) {
    sem_init(&parked_, 0, 0);
  }
  ~ThreadObject() override { sem_destroy(&parked_); }

  DWORD Wait(DWORD milliseconds) override { return ended_->Wait(milliseconds); }
  int PollDescriptor() const override { return ended_->PollDescriptor(); }

  // Called on the thread itself as it leaves, whichever way it leaves.
  void Finish(DWORD code) {
    std::lock_guard<std::mutex> guard(lock_);
    finished_ = true;
    if (!terminated_) exitCode_ = code;
    ended_->Set();
  }

  DWORD ExitCode() {
    std::lock_guard<std::mutex> guard(lock_);
    return exitCode_;
  }

  BOOL Terminate(DWORD code) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (finished_ || terminated_) return TRUE;
      terminated_ = true;
      exitCode_ = code;
      InstallParkHandler();
      // The thread has not reached Finish, so its pthread_t is still valid.
      pthread_kill(thread_, ParkSignal());
    }
    // From here the signal is pending: the thread runs no instruction of ours before the
    // handler, which never returns. The acknowledgement only says that it got there; a thread
    // held in the kernel (an uninterruptible wait) gets there when it comes back.
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += kParkAcknowledgeSeconds;
    while (sem_clockwait(&parked_, CLOCK_MONOTONIC, &deadline) != 0 && errno == EINTR) {
    }
    ended_->Set();
    return TRUE;
  }

  pthread_t thread_{};
  DWORD pendingExit_ = 0;  // written by _endthreadex on the thread itself
  sem_t parked_;           // posted by the parked thread's handler (async-signal-safe)

 private:
  static constexpr time_t kParkAcknowledgeSeconds = 1;

  static void InstallParkHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
      struct sigaction park {};
      park.sa_handler = OnPark;
      park.sa_flags = SA_ONSTACK;
      sigfillset(&park.sa_mask);
      sigaction(ParkSignal(), &park, nullptr);
    });
  }

  std::shared_ptr<EventObject> ended_;
  std::mutex lock_;
  bool finished_ = false;
  bool terminated_ = false;
  DWORD exitCode_ = STILL_ACTIVE;
};

struct StartBlock {
  std::shared_ptr<ThreadObject> self;
  _beginthreadex_proc_type start;
  void* argument;
};

// The thread never returns from here, so it executes nothing more of the program; whatever it
// holds stays held, as after TerminateThread on Windows. Its stack and start block are never
// freed, which also keeps its ThreadObject alive for the post.
void OnPark(int) {
  if (t_current != nullptr) sem_post(&t_current->parked_);
  sigset_t all;
  sigfillset(&all);
  for (;;) sigsuspend(&all);
}

// Runs on both ways out of a thread: a return and _endthreadex, which unwinds through its
// destructor. Without a return value the thread left through _endthreadex. (A terminated thread
// takes neither: it stays parked.)
class ExitGuard {
 public:
  explicit ExitGuard(StartBlock* block) : block_(block) {}
  ~ExitGuard() {
    block_->self->Finish(returned_ ? code_ : block_->self->pendingExit_);
    delete block_;
  }
  void Returned(DWORD code) {
    code_ = code;
    returned_ = true;
  }

 private:
  StartBlock* block_;
  DWORD code_ = 0;
  bool returned_ = false;
};

void* ThreadStart(void* raw) {
  auto* block = static_cast<StartBlock*>(raw);
  t_current = block->self.get();
  ExitGuard guard(block);
  guard.Returned(block->start(block->argument));
  return nullptr;
}

}  // namespace
}  // namespace kwz_platform

using kwz_platform::ThreadObject;

UINT_PTR _beginthreadex(void*, unsigned stackSize, _beginthreadex_proc_type start, void* argument,
                        unsigned initFlag, unsigned* threadId) {
  if (start == nullptr || (initFlag & CREATE_SUSPENDED) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    errno = EINVAL;
    return 0;
  }
  auto ended = kwz_platform::EventObject::Create(true, false);
  if (!ended) return 0;
  auto self = std::make_shared<ThreadObject>(std::move(ended));
  auto* block = new kwz_platform::StartBlock{self, start, argument};

  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  if (stackSize != 0) pthread_attr_setstacksize(&attributes, stackSize);
  int failed = pthread_create(&self->thread_, &attributes, kwz_platform::ThreadStart, block);
  pthread_attr_destroy(&attributes);
  if (failed != 0) {
    delete block;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    errno = failed;
    return 0;
  }
  if (threadId != nullptr) *threadId = 0;  // ids are not used by the system
  return reinterpret_cast<UINT_PTR>(kwz_platform::InsertHandle(std::move(self)));
}

void _endthreadex(unsigned exitCode) {
  if (kwz_platform::t_current != nullptr) kwz_platform::t_current->pendingExit_ = exitCode;
  pthread_exit(nullptr);
}

BOOL GetExitCodeThread(HANDLE handle, DWORD* exitCode) {
  auto thread = kwz_platform::LookupHandleAs<ThreadObject>(handle);
  if (!thread || exitCode == nullptr) return FALSE;
  *exitCode = thread->ExitCode();
  return TRUE;
}

DWORD GetCurrentThreadId() {
  return static_cast<DWORD>(syscall(SYS_gettid));
}

BOOL TerminateThread(HANDLE handle, DWORD exitCode) {
  auto thread = kwz_platform::LookupHandleAs<ThreadObject>(handle);
  if (!thread) return FALSE;
  return thread->Terminate(exitCode);
}

void Sleep(DWORD milliseconds) {
  timespec delay{static_cast<time_t>(milliseconds / 1000),
                 static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}
