// Remote control seen from the presenter's side: a control whose records go to a UDP socket on
// 127.0.0.1 or into a tunnel of the tests' own that records every call with its thread.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <chrono>

#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "network/ITunnel.h"
#include "network/InputRecord.h"
#include "network/TunnelRegistry.h"
#include "tests/control/ReceiverOnLoopback.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/UdpCollector.h"

namespace kwz_test {

// A tunnel that keeps what it is asked: its sending instances record each datagram with the
// thread that sent it and the destination.
class RecordingTunnel final : public ITunnel {
 public:
  struct Sent {
    InputRecord record;
    int length;
    TunnelAddress to;
    DWORD thread;
  };

  // receiving: an instance for the engine's endpoint, which waits on its event and reads
  // nothing; otherwise a sending instance for remote control.
  explicit RecordingTunnel(bool receiving = false)
      : receiving_(receiving), event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~RecordingTunnel() { CloseHandle(event_); }

  void Reserved0() override { ADD_FAILURE() << "slot 0 called"; }
  int Receive(BYTE*, int, TunnelAddress*) override {
    EXPECT_TRUE(receiving_) << "a sending instance was asked to receive";
    return 0;
  }
  void Reserved2() override { ADD_FAILURE() << "slot 2 called"; }
  int Send(const BYTE* data, int length, TunnelAddress to) override {
    Sent sent{};
    EXPECT_EQ(ReadInputRecord(data, static_cast<std::size_t>(length), &sent.record),
              InputRecordError::kNone);
    sent.length = length;
    sent.to = to;
    sent.thread = GetCurrentThreadId();
    std::lock_guard<std::mutex> guard(lock_);
    sent_.push_back(sent);
    return length;
  }
  HANDLE GetEvent() override {
    EXPECT_TRUE(receiving_) << "a sending instance was asked for its event";
    return event_;
  }
  void Reserved5() override { ADD_FAILURE() << "slot 5 called"; }
  void SetOption(BYTE option) override {
    std::lock_guard<std::mutex> guard(lock_);
    options_.push_back(option);
  }

  std::vector<Sent> SentAll() {
    std::lock_guard<std::mutex> guard(lock_);
    return sent_;
  }
  // The records that the given thread sent (the container's: the event-driven ones).
  std::vector<InputRecord> SentBy(DWORD thread) {
    std::vector<InputRecord> records;
    for (const Sent& s : SentAll()) {
      if (s.thread == thread) records.push_back(s.record);
    }
    return records;
  }
  std::vector<BYTE> Options() {
    std::lock_guard<std::mutex> guard(lock_);
    return options_;
  }

 private:
  const bool receiving_;
  const HANDLE event_;
  std::mutex lock_;
  std::vector<Sent> sent_;
  std::vector<BYTE> options_;
};

class RecordingTunnelFactory final : public ITunnelFactory {
 public:
  ~RecordingTunnelFactory() {
    for (RecordingTunnel* t : handedOut_) delete t;
    for (RecordingTunnel* t : receiving_) delete t;
  }
  ITunnel* CreateReceiver(TunnelAddress) override {
    ++receivers;
    receiving_.push_back(new RecordingTunnel(true));
    return receiving_.back();
  }
  ITunnel* CreateSender() override {
    ++senders;
    if (refuse) return nullptr;
    handedOut_.push_back(new RecordingTunnel);
    return handedOut_.back();
  }
  void Release(ITunnel* tunnel) override { released.push_back(tunnel); }

  RecordingTunnel* Instance(std::size_t i) {
    return i < handedOut_.size() ? handedOut_[i] : nullptr;
  }

  // Touched on the container's thread only, as the control calls these slots there.
  int senders = 0;
  int receivers = 0;
  bool refuse = false;
  std::vector<ITunnel*> released;

 private:
  // Kept to the end: an instance used after it was handed back still records the call.
  std::vector<RecordingTunnel*> handedOut_;
  std::vector<RecordingTunnel*> receiving_;
};

// Threads of this process now. A thread whose end was waited for may still be leaving.
inline int ThreadCount() {
  int count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(tasks)) {
      if (entry->d_name[0] != '.') ++count;
    }
    closedir(tasks);
  }
  return count;
}

// The thread count once no thread is still leaving: the same on two readings 10 ms apart (at
// most 2 s). A baseline read at once may include the thread SetUp has just joined.
inline int SettledThreadCount() {
  int previous = ThreadCount();
  for (int i = 0; i < 200; ++i) {
    usleep(10000);
    const int now = ThreadCount();
    if (now == previous) return now;
    previous = now;
  }
  return previous;
}

// Whether the process comes down to count threads within 2 s.
inline bool ThreadCountSettlesAt(int count) {
  for (int i = 0; i < 200; ++i) {
    if (ThreadCount() == count) return true;
    usleep(10000);
  }
  return false;
}

class RemoteControlTest : public ReceiverOnLoopback {
 protected:
  void SetUp() override {
    ReceiverOnLoopback::SetUp();
    // ThreadSanitizer starts a helper thread at the process's first thread creation; let it
    // exist before the tests count threads.
    std::thread([] {}).join();
    ASSERT_TRUE(server_.ok());
    Script s = script();
    ASSERT_EQ(s.PutText(u"ServerAddress", u"127.0.0.1").hr, S_OK);
    ASSERT_EQ(s.PutText(u"ServerPort", Widen(std::to_string(server_.port()).c_str())).hr, S_OK);
  }
  void TearDown() override {
    if (tunnelId_ != 0) UnregisterTunnelFactory(tunnelId_);
    ReceiverOnLoopback::TearDown();
  }

  // Routes remote control through factory_ from the next StartRemoteControl on.
  void UseTunnel() {
    tunnelId_ = RegisterTunnelFactory(&factory_);
    ASSERT_NE(tunnelId_, 0u);
    ASSERT_EQ(
        script()
            .Call(u"SetProperties", {u"enable_tunnel", Widen(std::to_string(tunnelId_).c_str())})
            .hr,
        S_OK);
  }

  // The next record that reaches the server within timeoutMs.
  std::optional<InputRecord> NextRecord(int timeoutMs = 2000) {
    std::vector<std::uint8_t> datagram;
    if (!server_.Receive(&datagram, timeoutMs)) return std::nullopt;
    InputRecord record;
    EXPECT_EQ(ReadInputRecord(datagram.data(), datagram.size(), &record), InputRecordError::kNone)
        << datagram.size() << " bytes";
    return record;
  }
  // Waits for a record that satisfies match, at most timeoutMs.
  template <typename Match>
  std::optional<InputRecord> RecordWhere(Match match, int timeoutMs = 3000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      std::optional<InputRecord> record = NextRecord(100);
      if (record && match(*record)) return record;
    }
    return std::nullopt;
  }

  // Throws away what arrives for ms: records sent before a change the test made.
  void SkipRecordsFor(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::vector<std::uint8_t> datagram;
    while (std::chrono::steady_clock::now() < until) server_.Receive(&datagram, 20);
  }

  UdpCollector server_;
  // Outlives the control, which hands its instance back as it goes.
  RecordingTunnelFactory factory_;
  DWORD tunnelId_ = 0;
};

}  // namespace kwz_test
