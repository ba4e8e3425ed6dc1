// Remote control seen from the presenter's side: a control whose records go to a UDP socket on
// 127.0.0.1 or into a tunnel of the tests' own that records every call. The re-send thread
// sends only when told (ResendNow).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "network/ITunnel.h"
#include "network/InputRecord.h"
#include "network/TunnelRegistry.h"
#include "tests/control/ControlTestSupport.h"
#include "tests/support/UdpCollector.h"

namespace kwz_test {

// A tunnel that keeps what it is asked to send; the engine's endpoint waits on its event and
// reads nothing. Calls come from the control's threads.
class RecordingTunnel final : public ITunnel {
 public:
  struct Sent {
    InputRecord record;
    int length;
    TunnelAddress to;
  };

  ~RecordingTunnel() { CloseHandle(event_); }
  void Reserved0() override { ADD_FAILURE() << "slot 0 called"; }
  int Receive(BYTE*, int, TunnelAddress*) override { return 0; }
  void Reserved2() override { ADD_FAILURE() << "slot 2 called"; }
  int Send(const BYTE* data, int length, TunnelAddress to) override {
    Sent sent{{}, length, to};
    EXPECT_EQ(ReadInputRecord(data, static_cast<std::size_t>(length), &sent.record),
              InputRecordError::kNone);
    std::lock_guard<std::mutex> guard(lock_);
    sent_.push_back(sent);
    return length;
  }
  HANDLE GetEvent() override { return event_; }
  void Reserved5() override { ADD_FAILURE() << "slot 5 called"; }
  void SetOption(BYTE) override {}

  std::vector<Sent> SentAll() {
    std::lock_guard<std::mutex> guard(lock_);
    return sent_;
  }

 private:
  const HANDLE event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::mutex lock_;
  std::vector<Sent> sent_;
};

// Touched on the container's thread only, as the control calls these slots there.
class RecordingTunnelFactory final : public ITunnelFactory {
 public:
  ITunnel* CreateReceiver(TunnelAddress) override {
    ++receivers;
    return handedOut_.emplace_back(std::make_unique<RecordingTunnel>()).get();
  }
  ITunnel* CreateSender() override {
    ++senders;
    if (refuse) return nullptr;
    return sending_ = handedOut_.emplace_back(std::make_unique<RecordingTunnel>()).get();
  }
  void Release(ITunnel* tunnel) override { released.push_back(tunnel); }

  // The last sending instance handed out.
  RecordingTunnel* Sender() { return sending_; }

  int senders = 0;
  int receivers = 0;
  bool refuse = false;
  std::vector<ITunnel*> released;

 private:
  // Kept to the end: an instance used after it was handed back still records the call.
  std::vector<std::unique_ptr<RecordingTunnel>> handedOut_;
  RecordingTunnel* sending_ = nullptr;
};

inline InputRecord MouseRecord(LONG x, LONG y, DWORD buttons) {
  return InputRecord{x, y, buttons, kInputRecordMouse, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF};
}

class RemoteControlTest : public ReceiverOnLoopback {
 protected:
  void SetUp() override {
    ReceiverOnLoopback::SetUp();
    ASSERT_TRUE(server_.ok());
    control_->SetResendPeriod(INFINITE);
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
  std::optional<InputRecord> NextRecord(int timeoutMs = 5000) {
    std::vector<std::uint8_t> datagram;
    if (!server_.Receive(&datagram, timeoutMs)) return std::nullopt;
    InputRecord record;
    EXPECT_EQ(ReadInputRecord(datagram.data(), datagram.size(), &record), InputRecordError::kNone)
        << datagram.size() << " bytes";
    return record;
  }
  // The record of one re-send.
  std::optional<InputRecord> Resend() {
    control_->ResendNow();
    return NextRecord();
  }

  UdpCollector server_;
  // Outlives the control, which hands its instance back as it goes.
  RecordingTunnelFactory factory_;
  DWORD tunnelId_ = 0;
};

}  // namespace kwz_test
