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
    // The focus moves at once, as SetFocus moves it, rather than when the queue gets there.
    if (message.message == WM_SETFOCUS || message.message == WM_KILLFOCUS) {
      NativeFocusChanged(message.hwnd, message.message == WM_SETFOCUS);
    } else {
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
    if (it == input_.end()) return false;
    *message = *it;
    if (!remove) return true;
    input_.erase(it);
    ThreadKeyboardState().Take(*message);
    if (PressGoesOn(*message)) return true;
  }
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
