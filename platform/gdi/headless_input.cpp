// The headless windows' input: events that tests inject, read on the window's thread as the X11
// backend reads the server's.
#include <deque>
#include <mutex>
#include <unordered_map>

#include "platform/clock.h"
#include "platform/kernel.h"

#include "gdi/backend.h"
#include "gdi/objects.h"
#include "kernel/event_object.h"
#include "user/input_translator.h"

namespace kwz_platform {
namespace {

struct InjectedEvent {
  enum class Kind { kKey, kButton, kMotion, kFocus };
  Kind kind;
  HWND window;
  unsigned code;  // evdev key or X button
  bool down;      // pressed, or the focus gained
  POINT client;
  DWORD time;
};

// Where the injected events of one thread's windows wait.
struct Channel {
  std::shared_ptr<EventObject> wake = EventObject::Create(true, false);
  std::mutex lock;
  std::deque<InjectedEvent> events;  // guarded by lock
};

struct Channels {
  std::mutex lock;
  std::unordered_map<HWND, std::shared_ptr<Channel>> byWindow;  // guarded by lock
};

Channels& Registry() {
  static auto* channels = new Channels;  // never destroyed: threads may end after statics
  return *channels;
}

class HeadlessEventSource final : public NativeEventSource {
 public:
  ~HeadlessEventSource() override {
    Channels& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    for (auto it = registry.byWindow.begin(); it != registry.byWindow.end();) {
      it = it->second == channel_ ? registry.byWindow.erase(it) : std::next(it);
    }
  }

  int PollDescriptor() const override { return channel_->wake->PollDescriptor(); }

  void Watch(NativeWindow&, HWND handle) override {
    Channels& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.byWindow[handle] = channel_;
  }

  void Unwatch(HWND handle) override {
    Channels& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.byWindow.erase(handle);
  }

  void Drain(std::vector<MSG>* messages) override {
    std::deque<InjectedEvent> events;
    {
      std::lock_guard<std::mutex> guard(channel_->lock);
      events.swap(channel_->events);
      channel_->wake->Reset();
    }
    for (const InjectedEvent& event : events) Translate(event, messages);
  }

 private:
  WPARAM MouseKeys() const {
    WPARAM keys = buttons_;
    if (translator_.KeyDown(42) || translator_.KeyDown(54)) keys |= MK_SHIFT;
    if (translator_.KeyDown(29) || translator_.KeyDown(97)) keys |= MK_CONTROL;
    return keys;
  }

  void Translate(const InjectedEvent& event, std::vector<MSG>* messages) {
    RECT frame{0, 0, 0, 0};
    GetWindowRect(event.window, &frame);
    const POINT screen{frame.left + event.client.x, frame.top + event.client.y};
    switch (event.kind) {
      case InjectedEvent::Kind::kKey: {
        KeyContext context;
        if (event.code == kEvdevNumLock && event.down && !translator_.KeyDown(event.code)) {
          numLock_ = !numLock_;
        }
        context.numLock = numLock_;
        translator_.Key(event.window, event.code, event.down, context, event.time, pointer_,
                        messages);
        return;
      }
      case InjectedEvent::Kind::kButton: {
        const WPARAM before = MouseKeys();
        translator_.Button(event.window, event.code, event.down, event.client, screen, before,
                           event.time, messages);
        const WPARAM flag = ButtonFlag(event.code);
        buttons_ = event.down ? (buttons_ | flag) : (buttons_ & ~flag);
        pointer_ = screen;
        return;
      }
      case InjectedEvent::Kind::kMotion:
        translator_.Motion(event.window, event.client, screen, MouseKeys(), event.time, messages);
        pointer_ = screen;
        return;
      case InjectedEvent::Kind::kFocus:
        if (!event.down) buttons_ = 0;
        translator_.Focus(event.window, event.down, messages);
        return;
    }
  }

  const std::shared_ptr<Channel> channel_ = std::make_shared<Channel>();
  // Owner thread only:
  InputTranslator translator_;
  WPARAM buttons_ = 0;
  bool numLock_ = false;
  POINT pointer_{0, 0};
};

bool Inject(const InjectedEvent& event) {
  auto record = Windows().Find(event.window);
  if (!record || record->backend == nullptr ||
      record->backend->Kind() != GdiBackendKind::kHeadless) {
    return false;
  }
  std::shared_ptr<Channel> channel;
  {
    Channels& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto it = registry.byWindow.find(event.window);
    if (it == registry.byWindow.end()) return false;
    channel = it->second;
  }
  std::lock_guard<std::mutex> guard(channel->lock);
  channel->events.push_back(event);
  channel->wake->Set();
  return true;
}

}  // namespace

std::unique_ptr<NativeEventSource> MakeHeadlessEventSource() {
  return std::make_unique<HeadlessEventSource>();
}

bool InjectKeyForTesting(HWND window, unsigned evdevKey, bool down) {
  return Inject({InjectedEvent::Kind::kKey, window, evdevKey, down, POINT{0, 0}, timeGetTime()});
}

bool InjectButtonForTesting(HWND window, unsigned button, bool down, POINT client, DWORD time) {
  return Inject({InjectedEvent::Kind::kButton, window, button, down, client, time});
}

bool InjectMotionForTesting(HWND window, POINT client, DWORD time) {
  return Inject({InjectedEvent::Kind::kMotion, window, 0, false, client, time});
}

bool InjectFocusForTesting(HWND window, bool gained) {
  return Inject({InjectedEvent::Kind::kFocus, window, 0, gained, POINT{0, 0}, timeGetTime()});
}

}  // namespace kwz_platform
