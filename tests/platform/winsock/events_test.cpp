// Network events and waits over sockets and ordinary events where the network's receivers do
// not reach: records, cut datagrams, bad waits, waiters racing a socket's signal or close, and
// the order of a wait's events.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/kernel.h"
#include "platform/winsock.h"
#include "tests/support/ChildProcess.h"

namespace {

class NetworkEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data_), 0);
    receiver_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = inet_addr("127.0.0.1");
    ASSERT_EQ(bind(receiver_, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    int length = sizeof to_;
    ASSERT_EQ(getsockname(receiver_, reinterpret_cast<sockaddr*>(&to_), &length), 0);
    events_[0] = WSACreateEvent();
    events_[1] = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // the stop event
    ASSERT_EQ(WSAEventSelect(receiver_, events_[0], FD_READ | FD_CLOSE), 0);
    sender_ = socket(AF_INET, SOCK_DGRAM, 0);
  }
  void TearDown() override {
    closesocket(receiver_);
    closesocket(sender_);
    WSACloseEvent(events_[0]);
    CloseHandle(events_[1]);
    WSACleanup();
  }

  void Send(const std::string& payload) {
    ASSERT_EQ(sendto(sender_, payload.data(), static_cast<int>(payload.size()), 0,
                     reinterpret_cast<sockaddr*>(&to_), sizeof to_),
              static_cast<int>(payload.size()));
  }
  DWORD Wait(DWORD timeoutMs) {
    return WSAWaitForMultipleEvents(2, events_, FALSE, timeoutMs, FALSE);
  }
  long Enumerate() {
    WSANETWORKEVENTS network{};
    EXPECT_EQ(WSAEnumNetworkEvents(receiver_, events_[0], &network), 0);
    return network.lNetworkEvents;
  }
  std::string Receive() {
    char buffer[2048];
    int got = recvfrom(receiver_, buffer, sizeof buffer, 0, nullptr, nullptr);
    return got < 0 ? "error " + std::to_string(WSAGetLastError())
                   : std::string(buffer, static_cast<std::size_t>(got));
  }
  // Until the datagrams sent are queued, without a wait on the event, which would record them:
  // the kernel gives no other notice of a loopback datagram's arrival, so the queue is polled.
  void AwaitQueued() {
    ULONG pending = 0;
    for (int i = 0; i < 1000 && pending == 0; ++i) {
      ASSERT_EQ(ioctlsocket(receiver_, FIONREAD, &pending), 0);
      if (pending == 0) Sleep(1);
    }
    ASSERT_GT(pending, 0u);
  }

  WSADATA data_{};
  SOCKET receiver_ = INVALID_SOCKET;
  SOCKET sender_ = INVALID_SOCKET;
  sockaddr_in to_{};
  HANDLE events_[2] = {};
};

// Windows records a network event when it occurs and the enumeration reports and clears the
// record, whether or not the data is still there; without a record the socket is asked.
TEST_F(NetworkEvents, EnumerationTakesTheRecordOfTheWaitOrAsksTheSocket) {
  Send("first");
  Send("second");
  ASSERT_EQ(Wait(5000), WSA_WAIT_EVENT_0);
  EXPECT_EQ(Receive(), "first");
  ULONG pending = 0;
  ASSERT_EQ(ioctlsocket(receiver_, FIONREAD, &pending), 0);
  EXPECT_EQ(pending, 6u) << "the size of the next datagram";
  EXPECT_EQ(Receive(), "second");
  EXPECT_EQ(Enumerate(), FD_READ) << "the wait's record, though nothing is left";
  EXPECT_EQ(Enumerate(), 0);
  EXPECT_EQ(Receive(), "error " + std::to_string(WSAEWOULDBLOCK));  // selected: non-blocking
  Send("third");
  AwaitQueued();
  EXPECT_EQ(Enumerate(), FD_READ);  // no wait in between
  EXPECT_EQ(Enumerate(), FD_READ);  // still queued
  EXPECT_EQ(Receive(), "third");
}

// Selected sockets read through their queue, blocking ones (and selected ones when the queue
// cannot grow) straight from the system: both cut and say so.
TEST_F(NetworkEvents, DatagramLargerThanTheBufferIsCutAndReported) {
  for (const bool selected : {true, false}) {
    SCOPED_TRACE(selected ? "selected" : "blocking");
    ULONG blocking = 0;
    if (!selected) {
      ASSERT_EQ(WSAEventSelect(receiver_, nullptr, 0), 0);
      ASSERT_EQ(ioctlsocket(receiver_, FIONBIO, &blocking), 0);
    }
    Send("0123456789");
    char buffer[4];
    sockaddr_in from{};
    int fromLength = sizeof from;
    if (selected) AwaitQueued();
    EXPECT_EQ(recvfrom(receiver_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                       &fromLength),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(from.sin_addr.s_addr, inet_addr("127.0.0.1"));
  }
}

TEST_F(NetworkEvents, BadWaitsFail) {
  EXPECT_EQ(WSAWaitForMultipleEvents(0, events_, FALSE, 0, FALSE), WSA_WAIT_FAILED);
  EXPECT_EQ(WSAWaitForMultipleEvents(2, events_, TRUE, 0, FALSE), WSA_WAIT_FAILED);
  EXPECT_EQ(WSAGetLastError(), WSA_INVALID_PARAMETER);
  HANDLE bogus[2] = {events_[0], reinterpret_cast<HANDLE>(0x7FFFFFF0)};
  EXPECT_EQ(WSAWaitForMultipleEvents(2, bogus, FALSE, 0, FALSE), WSA_WAIT_FAILED);
  EXPECT_EQ(WSAGetLastError(), WSA_INVALID_HANDLE);
}

// A wait that polls the network event must also wake when another wait signals it from a
// socket's condition, as every waiter on Windows would; either may start first.
TEST_F(NetworkEvents, SignalFromOneWaitWakesAnotherWaiterOfTheEvent) {
  DWORD other = WAIT_FAILED;
  {
    std::jthread waiter([&] { other = WaitForSingleObject(events_[0], 20000); });
    Send("seen twice");
    EXPECT_EQ(Wait(5000), WSA_WAIT_EVENT_0);
  }
  EXPECT_EQ(other, WAIT_OBJECT_0);  // woken by the signal, not by its time-out
  EXPECT_EQ(WaitForSingleObject(events_[0], 0), WAIT_OBJECT_0);  // manual-reset: still set
  EXPECT_EQ(Enumerate(), FD_READ);
  EXPECT_EQ(WaitForSingleObject(events_[0], 0), WAIT_TIMEOUT);
}

// A wait keeps a socket closed under it until it ends, then lets its descriptor and those of
// its memberships go; later waits on the event no longer poll it. The close may also come
// before the wait starts.
TEST_F(NetworkEvents, SocketClosedWhileAWaitPollsIt) {
  const int before = kwz_test::OpenDescriptorCount();
  ip_mreq request{};
  request.imr_multiaddr.s_addr = inet_addr("224.76.12.19");
  request.imr_interface.s_addr = inet_addr("127.0.0.1");
  ASSERT_EQ(setsockopt(receiver_, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<char*>(&request),
                       sizeof request),
            0);
  EXPECT_EQ(kwz_test::OpenDescriptorCount(), before + 1);
  DWORD woken = WSA_WAIT_FAILED;
  {
    std::jthread waiter([&] { woken = Wait(10000); });
    EXPECT_EQ(closesocket(receiver_), 0);
    receiver_ = INVALID_SOCKET;
    SetEvent(events_[1]);
  }
  EXPECT_EQ(woken, WSA_WAIT_EVENT_0 + 1);
  EXPECT_EQ(kwz_test::OpenDescriptorCount(), before - 1);
  EXPECT_EQ(Wait(0), WSA_WAIT_TIMEOUT);
}

// A plain event's state is known without asking the system, a socket's readiness is not: a
// signalled plain event behind a socket's event must not win before that socket is asked, while
// one ahead of it may.
TEST_F(NetworkEvents, PlainEventBehindAReadySocketWaitsItsTurn) {
  HANDLE quiet = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE ready = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  Send("data");
  AwaitQueued();
  const HANDLE behind[3] = {quiet, events_[0], ready};
  EXPECT_EQ(WSAWaitForMultipleEvents(3, behind, FALSE, 0, FALSE), WSA_WAIT_EVENT_0 + 1);
  const HANDLE ahead[3] = {ready, events_[0], quiet};
  EXPECT_EQ(WSAWaitForMultipleEvents(3, ahead, FALSE, 0, FALSE), WSA_WAIT_EVENT_0);
  EXPECT_EQ(Receive(), "data");
  EXPECT_NE(Enumerate() & FD_READ, 0);
  EXPECT_EQ(WSAWaitForMultipleEvents(3, behind, FALSE, 0, FALSE), WSA_WAIT_EVENT_0 + 2);
  CloseHandle(quiet);
  CloseHandle(ready);
}

// Plain events in one wait: which index wins, and what each event is left with.
struct PlainWaitCase {
  bool manual[3];
  bool set[3];
  DWORD winner;  // WSA_WAIT_TIMEOUT when none is set
};

class PlainEventWait : public ::testing::TestWithParam<PlainWaitCase> {};

TEST_P(PlainEventWait, LowestSignalledWinsAndOnlyAnAutoResetWinnerIsConsumed) {
  const PlainWaitCase& c = GetParam();
  HANDLE events[3];
  for (int i = 0; i < 3; ++i) events[i] = CreateEventW(nullptr, c.manual[i], c.set[i], nullptr);
  EXPECT_EQ(WSAWaitForMultipleEvents(3, events, FALSE, 0, FALSE), c.winner);
  for (DWORD i = 0; i < 3; ++i) {
    const bool consumed = i == c.winner - WSA_WAIT_EVENT_0 && !c.manual[i];
    EXPECT_EQ(WaitForSingleObject(events[i], 0),
              c.set[i] && !consumed ? WAIT_OBJECT_0 : WAIT_TIMEOUT)
        << "event " << i;
    CloseHandle(events[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PlainEventWait,
    ::testing::Values(PlainWaitCase{{true, true, true}, {false, false, false}, WSA_WAIT_TIMEOUT},
                      PlainWaitCase{{true, true, true}, {false, true, true}, WSA_WAIT_EVENT_0 + 1},
                      PlainWaitCase{{false, true, true}, {true, true, true}, WSA_WAIT_EVENT_0}));

}  // namespace
