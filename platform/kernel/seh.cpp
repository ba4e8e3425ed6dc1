// Structured exceptions around thread bodies: C++ exceptions through a catch-all, hardware
// faults through signal handlers that jump back to the body's caller.
#include "platform/seh.h"

#include <cxxabi.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>

#include <mutex>

namespace kwz_platform {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kContainFaults = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kContainFaults = false;
#else
constexpr bool kContainFaults = true;
#endif
#else
constexpr bool kContainFaults = true;
#endif

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int kFaultSignalCount = sizeof kFaultSignals / sizeof kFaultSignals[0];

// Where a fault on this thread jumps to; null outside a protected body.
struct FaultFrame {
  sigjmp_buf jump;
  DWORD code = 0;
};
thread_local FaultFrame* t_frame = nullptr;

// The actions in place before ours, for faults that are not ours to contain. Written once,
// before our handlers are installed.
struct sigaction g_previous[kFaultSignalCount];

DWORD ExceptionCode(int signal, const siginfo_t* info) {
  switch (signal) {
    case SIGSEGV:
      return EXCEPTION_ACCESS_VIOLATION;
    case SIGBUS:
      return EXCEPTION_IN_PAGE_ERROR;
    case SIGILL:
      return EXCEPTION_ILLEGAL_INSTRUCTION;
    default:
      break;
  }
  switch (info->si_code) {
    case FPE_INTDIV:
      return EXCEPTION_INT_DIVIDE_BY_ZERO;
    case FPE_INTOVF:
      return EXCEPTION_INT_OVERFLOW;
    case FPE_FLTDIV:
      return EXCEPTION_FLT_DIVIDE_BY_ZERO;
    case FPE_FLTOVF:
      return EXCEPTION_FLT_OVERFLOW;
    case FPE_FLTUND:
      return EXCEPTION_FLT_UNDERFLOW;
    default:
      return EXCEPTION_FLT_INVALID_OPERATION;
  }
}

// Not a fault of a protected body: behave as if we had never installed anything. The previous
// handler runs if there was one; otherwise the default action is restored, and returning
// re-executes the faulting instruction under it (a signal sent from outside is raised again).
void PassOn(int signal, siginfo_t* info, void* context) {
  int index = 0;
  while (kFaultSignals[index] != signal) ++index;
  const struct sigaction& previous = g_previous[index];
  if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
    previous.sa_sigaction(signal, info, context);
    return;
  }
  if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler != SIG_DFL &&
      previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal);
    return;
  }
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  if (info->si_code <= 0) raise(signal);
}

void OnFault(int signal, siginfo_t* info, void* context) {
  FaultFrame* frame = t_frame;
  if (frame == nullptr) {
    PassOn(signal, info, context);
    return;
  }
  t_frame = nullptr;  // a fault on the way out is not contained again
  frame->code = ExceptionCode(signal, info);
  siglongjmp(frame->jump, 1);
}

void InstallFaultHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction ours {};
    ours.sa_sigaction = OnFault;
    ours.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&ours.sa_mask);
    for (int i = 0; i < kFaultSignalCount; ++i) sigaction(kFaultSignals[i], &ours, &g_previous[i]);
  });
}

// The calling thread's alternate signal stack while a protected body runs, so that the handler
// still has a stack when the fault is an overflow of the thread's own. A stack the thread had
// already is kept.
class AlternateStack {
 public:
  AlternateStack() {
    stack_t current{};
    if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) == 0) return;
    void* memory = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return;
    stack_t ours{};
    ours.ss_sp = memory;
    ours.ss_size = kSize;
    if (sigaltstack(&ours, nullptr) != 0) {
      munmap(memory, kSize);
      return;
    }
    memory_ = memory;
  }
  ~AlternateStack() {
    if (memory_ == nullptr) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
    munmap(memory_, kSize);
  }
  AlternateStack(const AlternateStack&) = delete;
  AlternateStack& operator=(const AlternateStack&) = delete;

 private:
  static constexpr std::size_t kSize = 64 * 1024;
  void* memory_ = nullptr;
};

// Makes frame the calling thread's jump target while it lives, the previous one again after.
class FrameScope {
 public:
  explicit FrameScope(FaultFrame* frame) : outer_(t_frame) { t_frame = frame; }
  ~FrameScope() { t_frame = outer_; }
  FrameScope(const FrameScope&) = delete;
  FrameScope& operator=(const FrameScope&) = delete;

 private:
  FaultFrame* outer_;
};

// The forced-unwind "exception" of thread exit has no object, which UBSan's null-reference check
// reports when the handler binds it; binding it is the documented way to let it pass. Kept out
// of line: inlined into its caller, the check came back with the caller's instrumentation.
__attribute__((no_sanitize("null"), noinline)) BOOL CallCatchingExceptions(void (*body)(void*),
                                                                           void* context,
                                                                           DWORD* code) {
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

// A fault jumps out of this frame (and the body's) to the caller's sigsetjmp, which restores
// the jump target that the skipped FrameScope would have restored.
BOOL CallWithFrame(void (*body)(void*), void* context, DWORD* code, FaultFrame* frame) {
  FrameScope scope(frame);
  return CallCatchingExceptions(body, context, code);
}

}  // namespace
}  // namespace kwz_platform

BOOL CallWithExceptionHandler(void (*body)(void*), void* context, DWORD* code) {
  if (!kwz_platform::kContainFaults)
    return kwz_platform::CallCatchingExceptions(body, context, code);
  kwz_platform::InstallFaultHandlers();
  kwz_platform::AlternateStack stack;
  kwz_platform::FaultFrame frame;
  kwz_platform::FaultFrame* const outer = kwz_platform::t_frame;
  // The saved signal mask is restored by the jump, which unblocks the signal that faulted.
  if (sigsetjmp(frame.jump, 1) != 0) {
    kwz_platform::t_frame = outer;
    if (code != nullptr) *code = frame.code;
    return TRUE;
  }
  return kwz_platform::CallWithFrame(body, context, code, &frame);
}
