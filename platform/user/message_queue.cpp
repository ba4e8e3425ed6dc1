// Each thread's queue of posted messages and handed work.
#include "user/message_queue.h"

#include <algorithm>

#include <errno.h>
#include <poll.h>

#include "platform/kernel.h"

#include "kernel/handle_table.h"
#include "user/input_translator.h"
#include "user/keyboard_state.h"
#include "user/window_calls.h"

namespace kwz_platform {

// Closes the queue as its thread ends, completing whatever is still handed to it.
struct QueueHolder {
  std::shared_ptr<ThreadQueue> queue;
  ~QueueHolder() {
    if (queue) queue->Close();
  }
};

namespace {
thread_local QueueHolder t_queue;
}  // namespace

std::shared_ptr<ThreadQueue> ThreadQueue::ForThisThread() {
  if (!t_queue.queue) {
    auto wake = EventObject::Create(false, false);
    if (!wake) return nullptr;
    t_queue.queue.reset(new ThreadQueue(std::move(wake), GetCurrentThreadId()));
  }
  return t_queue.queue;
}

ThreadQueue* ThreadQueue::Existing() {
  return t_queue.queue.get();
}

ThreadQueue::ThreadQueue(std::shared_ptr<EventObject> wake, DWORD threadId)
    : wake_(std::move(wake)), threadId_(threadId) {}

ThreadQueue::~ThreadQueue() = default;

bool ThreadQueue::Post(const MSG& message) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (closed_) return false;
    posted_.push_back(message);
  }
  wake_->Set();
  return true;
}

bool ThreadQueue::Hand(Work work, bool apartmentCall) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (closed_ || (apartmentCall && !apartmentOpen_)) return false;
    handed_.push_back(Handed{std::move(work), apartmentCall});
  }
  wake_->Set();
  return true;
}

void ThreadQueue::AddInvalid(HWND window) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (closed_) return;
    if (std::find(invalid_.begin(), invalid_.end(), window) == invalid_.end()) {
      invalid_.push_back(window);
    }
  }
  wake_->Set();
}

void ThreadQueue::RemoveInvalid(HWND window) {
  std::lock_guard<std::mutex> guard(lock_);
  invalid_.erase(std::remove(invalid_.begin(), invalid_.end(), window), invalid_.end());
}

void ThreadQueue::Quit(int code) {
  quit_ = true;
  quitCode_ = code;
}

void ThreadQueue::OpenApartment() {
  std::lock_guard<std::mutex> guard(lock_);
  apartmentOpen_ = true;
}

void ThreadQueue::CloseApartment() {
  std::deque<Handed> refused;
  {
    std::lock_guard<std::mutex> guard(lock_);
    apartmentOpen_ = false;
    for (auto it = handed_.begin(); it != handed_.end();) {
      if (it->apartmentCall) {
        refused.push_back(std::move(*it));
        it = handed_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (Handed& h : refused) h.work(false);
}

void ThreadQueue::Close() {
  std::deque<Handed> refused;
  {
    std::lock_guard<std::mutex> guard(lock_);
    closed_ = true;
    apartmentOpen_ = false;
    refused.swap(handed_);
    posted_.clear();
    invalid_.clear();
  }
  input_.clear();
  for (Handed& h : refused) h.work(false);
  native_.clear();
}

void ThreadQueue::ClearWake() {
  wake_->TryAcquire();
}

bool ThreadQueue::RunHanded() {
  ClearWake();
  bool ran = false;
  for (;;) {
    Handed next;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (handed_.empty()) return ran;
      next = std::move(handed_.front());
      handed_.pop_front();
    }
    next.work(true);
    ran = true;
  }
}

void ThreadQueue::PumpNative() {
  std::vector<MSG> messages;
  for (auto& [backend, source] : native_) source->Drain(&messages);
  for (const MSG& message : messages) {
    switch (message.message) {
      case WM_SETFOCUS:
      case WM_KILLFOCUS:
        // The focus moves at once, as SetFocus moves it, rather than when the queue gets there.
        NativeFocusChanged(message.hwnd, message.message == WM_SETFOCUS);
        break;
      case WM_SIZE:
        NativeSizeChanged(message.hwnd, LOWORD(message.lParam), HIWORD(message.lParam));
        break;
      case WM_PAINT: {
        const LONG left = static_cast<SHORT>(LOWORD(message.wParam));
        const LONG top = static_cast<SHORT>(HIWORD(message.wParam));
        const RECT uncovered{left, top, left + LOWORD(message.lParam),
                             top + HIWORD(message.lParam)};
        InvalidateRect(message.hwnd, &uncovered, FALSE);
        break;
      }
      default:
        input_.push_back(message);
    }
  }
}

bool ThreadQueue::TakePosted(HWND window, UINT first, UINT last, bool remove, MSG* message) {
  auto passes = [&](const MSG& m) {
    // (HWND)-1 asks for the messages posted to the thread itself.
    if (window == reinterpret_cast<HWND>(-1)) {
      if (m.hwnd != nullptr) return false;
    } else if (window != nullptr && m.hwnd != window) {
      return false;
    }
    return (first == 0 && last == 0) || (m.message >= first && m.message <= last);
  };
  // Until a message goes out: a press may be eaten on the way, and the window asked about it
  // may have posted or taken messages meanwhile.
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      for (auto it = posted_.begin(); it != posted_.end(); ++it) {
        if (!passes(*it)) continue;
        *message = *it;
        if (remove) posted_.erase(it);
        return true;
      }
    }
    if (quit_ && ((first == 0 && last == 0) || (WM_QUIT >= first && WM_QUIT <= last))) {
      *message = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(quitCode_), 0, 0, POINT{0, 0}};
      if (remove) quit_ = false;
      return true;
    }
    const auto it = std::find_if(input_.begin(), input_.end(), passes);
    if (it == input_.end()) break;
    *message = *it;
    if (!remove) return true;
    input_.erase(it);
    ThreadKeyboardState().Take(*message);
    if (PressGoesOn(*message)) return true;
  }
  if ((first == 0 && last == 0) || (WM_PAINT >= first && WM_PAINT <= last)) {
    std::vector<HWND> invalid;
    {
      std::lock_guard<std::mutex> guard(lock_);
      invalid = invalid_;
    }
    // Hidden windows are painted once they are shown.
    for (HWND candidate : invalid) {
      const MSG paint{candidate, WM_PAINT, 0, 0, 0, POINT{0, 0}};
      if (!passes(paint) || !IsWindowVisible(candidate)) continue;
      *message = paint;
      if (remove) RemoveInvalid(candidate);
      return true;
    }
  }
  return false;
}

std::vector<std::size_t> ThreadQueue::Sleep(DWORD milliseconds, const std::vector<int>& extra) {
  std::vector<pollfd> polls;
  polls.push_back(pollfd{wake_->PollDescriptor(), POLLIN, 0});
  for (auto& [backend, source] : native_) {
    polls.push_back(pollfd{source->PollDescriptor(), POLLIN, 0});
    if (source->ManagerPollDescriptor() >= 0) {
      polls.push_back(pollfd{source->ManagerPollDescriptor(), POLLIN, 0});
    }
  }
  const std::size_t extraAt = polls.size();
  for (int fd : extra) polls.push_back(pollfd{fd, POLLIN, 0});
  const int timeout = milliseconds == INFINITE ? -1 : static_cast<int>(milliseconds);
  std::vector<std::size_t> ready;
  if (poll(polls.data(), polls.size(), timeout) <= 0) return ready;
  for (std::size_t i = extraAt; i < polls.size(); ++i) {
    if (polls[i].revents != 0) ready.push_back(i - extraAt);
  }
  return ready;
}

void ThreadQueue::WatchNative(GdiBackend& backend, NativeWindow& native, HWND window) {
  auto it = native_.find(&backend);
  if (it == native_.end()) {
    auto source = backend.CreateEventSource();
    if (!source) return;
    it = native_.emplace(&backend, std::move(source)).first;
  }
  it->second->Watch(native, window);
}

void ThreadQueue::UnwatchNative(HWND window) {
  for (auto& [backend, source] : native_) source->Unwatch(window);
}

void WaitRunningHanded(EventObject& done) {
  ThreadQueue* queue = ThreadQueue::Existing();
  while (!done.TryAcquire()) {
    if (queue == nullptr) {
      done.Wait(INFINITE);
      continue;
    }
    queue->RunHanded();
    if (done.TryAcquire()) return;
    queue->Sleep(INFINITE, {done.PollDescriptor()});
  }
}

}  // namespace kwz_platform
