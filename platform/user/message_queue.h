// Internal to platform/: each thread's queue, behind both the window-message calls of
// winuser.h and the single-threaded apartments of com.h.
//
// It holds the messages posted to the thread and the work that other threads hand it and wait
// for: cross-thread sent messages and calls into its apartment. An eventfd wakes the owner when
// either arrives; the thread's native event sources (an X connection per backend that offers
// one) are polled beside it, so one wait covers all.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/winuser.h"

#include "gdi/backend.h"
#include "kernel/event_object.h"

namespace kwz_platform {

class ThreadQueue {
 public:
  // Work for the owner thread. It runs once on the owner, with run false when the queue or
  // apartment was closed first: then it must only complete (release, report failure).
  using Work = std::function<void(bool run)>;

  // The calling thread's queue, made on first use; closed when the thread ends.
  static std::shared_ptr<ThreadQueue> ForThisThread();
  // Null when the calling thread has none yet.
  static ThreadQueue* Existing();

  ~ThreadQueue();
  DWORD ThreadId() const { return threadId_; }

  // Any thread. False once the queue is closed.
  bool Post(const MSG& message);
  // Any thread. A call (apartmentCall) is refused once the apartment is closed too.
  bool Hand(Work work, bool apartmentCall);

  // Any thread: the window has an update pending (WM_PAINT comes when nothing else does), or
  // no longer has.
  void AddInvalid(HWND window);
  void RemoveInvalid(HWND window);

  // Owner thread only.
  void Quit(int code);
  void OpenApartment();
  // Completes the queued apartment calls unrun; later ones are refused.
  void CloseApartment();
  // Runs the work handed so far (sent messages and calls); whether any ran.
  bool RunHanded();
  // Moves pending native events, as messages, to the input queue.
  void PumpNative();
  // Takes the first message that passes the filter: posted messages first, then WM_QUIT, then
  // input, as Windows orders them (so a WM_CHAR that TranslateMessage posts comes before the
  // next key), then WM_PAINT for a window with an update pending.
  bool TakePosted(HWND window, UINT first, UINT last, bool remove, MSG* message);
  // Sleeps until something may have arrived, at most milliseconds (INFINITE: no limit), also
  // waking for the extra descriptors. Returns the indexes of extra descriptors that are ready.
  std::vector<std::size_t> Sleep(DWORD milliseconds, const std::vector<int>& extra);
  // Starts turning the native window's input into messages for window.
  void WatchNative(GdiBackend& backend, NativeWindow& native, HWND window);
  void UnwatchNative(HWND window);

 private:
  ThreadQueue(std::shared_ptr<EventObject> wake, DWORD threadId);
  void Close();
  void ClearWake();
  friend struct QueueHolder;

  struct Handed {
    Work work;
    bool apartmentCall;
  };

  const std::shared_ptr<EventObject> wake_;
  const DWORD threadId_;
  std::mutex lock_;
  std::deque<MSG> posted_;      // guarded by lock_
  std::deque<MSG> input_;       // owner thread only
  std::deque<Handed> handed_;   // guarded by lock_
  std::vector<HWND> invalid_;   // guarded by lock_; oldest first
  bool closed_ = false;         // guarded by lock_
  bool apartmentOpen_ = false;  // guarded by lock_
  // Owner thread only:
  bool quit_ = false;
  int quitCode_ = 0;
  std::map<GdiBackend*, std::unique_ptr<NativeEventSource>> native_;
};

// Waits until done is signalled, running the work handed to this thread meanwhile (so two
// threads calling each other do not deadlock).
void WaitRunningHanded(EventObject& done);

}  // namespace kwz_platform
