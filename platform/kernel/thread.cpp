#include <cxxabi.h>
#include <errno.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "platform/kernel.h"
#include "platform/seh.h"
#include "platform/winerror.h"

#include "kernel/event_object.h"

namespace kwz_platform {
namespace {

class ThreadObject : public KernelObject {
 public:
  explicit ThreadObject(std::shared_ptr<EventObject> ended) : ended_(std::move(ended)) {}

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
      // The thread has not left its start routine, so its pthread_t is still valid.
      pthread_cancel(thread_);
    }
    if (ended_->Wait(500) != WAIT_OBJECT_0) ended_->Set();  // see TerminateThread in kernel.h
    return TRUE;
  }

  pthread_t thread_{};
  DWORD pendingExit_ = 0;  // written by _endthreadex on the thread itself

 private:
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

thread_local ThreadObject* t_current = nullptr;

// Runs on every way out of a thread: return, _endthreadex and cancellation all unwind through
// its destructor. Without a return value the thread left through _endthreadex (or was
// cancelled, when its handle keeps the termination code).
class ExitGuard {
 public:
  explicit ExitGuard(StartBlock* block) : block_(block) {}
  ~ExitGuard() {
    int old;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old);
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

// The forced-unwind "exception" of thread exit has no object, which UBSan's null-reference check
// reports when the handler binds it; binding it is the documented way to let it pass.
__attribute__((no_sanitize("null"))) BOOL CallWithExceptionHandler(void (*body)(void*),
                                                                   void* context, DWORD* code) {
  try {
    body(context);
    return FALSE;
  } catch (abi::__forced_unwind&) {
    throw;  // thread exit and cancellation must finish unwinding
  } catch (...) {
    if (code != nullptr) *code = EXCEPTION_CPP;
    return TRUE;
  }
}
