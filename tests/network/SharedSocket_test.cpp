// Publishing and adopting a socket through the named records, and the records' failures.
#include <gtest/gtest.h>

#include <memory>

#include "network/CNetwork.h"
#include "network/NetworkErrors.h"
#include "platform/kernel.h"
#include "platform/memoryapi.h"
#include "runtime/base_exception.h"
#include "tests/network/NetworkTestSupport.h"

namespace {

using kwz_test::TestableNetwork;

SharedSocketRecord ReadRecord(const WCHAR* name) {
  CNetwork reader;
  SharedSocketRecord record{0xDEAD, 0xDEAD, 0xDEAD};
  reader.get_shared_socket(&record, name);
  return record;
}

class SharedSocket : public ::testing::Test {
 protected:
  kwz_test::StopEvent stop_;
};

// The adopter receives on the publisher's socket, and fails safely once the publisher has
// closed it.
TEST_F(SharedSocket, AdopterReceivesOnThePublishersSocketAndOutlivesItSafely) {
  auto publisher = std::make_unique<TestableNetwork>();
  ASSERT_EQ(publisher->Open(OPEN_PUBLISH_AUDIO, "127.0.0.1", stop_), 0);
  const SharedSocketRecord published = ReadRecord(SHARED_SOCKET_AUDIO);
  EXPECT_EQ(published.socket, static_cast<DWORD>(publisher->m_EventSocket));
  EXPECT_EQ(published.reserved1 | published.reserved2, 0u);

  TestableNetwork adopter;
  ASSERT_EQ(adopter.Open(OPEN_ADOPT_AUDIO, "127.0.0.1", stop_), 0);
  EXPECT_EQ(adopter.m_EventSocket, publisher->m_EventSocket);
  kwz_test::LoopbackSender sender;
  ASSERT_EQ(sender.Send("127.0.0.1", kwz_test::BoundPort(publisher->m_EventSocket), "both", 4), 4);
  EXPECT_EQ(WSAWaitForMultipleEvents(2, adopter.m_hEvents, FALSE, 5000, FALSE), WSA_WAIT_EVENT_0);
  char buffer[16];
  EXPECT_EQ(recvfrom(adopter.m_EventSocket, buffer, sizeof buffer, 0, nullptr, nullptr), 4);

  publisher.reset();
  ULONG pending = 0;
  EXPECT_EQ(ioctlsocket(adopter.m_EventSocket, FIONREAD, &pending), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(adopter.JoinGroup("224.76.12.19"), RTPERR_CANT_JOIN_GROUP);
}

TEST_F(SharedSocket, RecordIsGoneWithItsLastUser) {
  {
    TestableNetwork publisher;
    ASSERT_EQ(publisher.Open(OPEN_PUBLISH_AUDIO, "127.0.0.1", stop_), 0);
  }
  // The handle it names was closed with the publisher; a later adopter must not get it.
  TestableNetwork adopter;
  EXPECT_EQ(adopter.Open(OPEN_ADOPT_AUDIO, "127.0.0.1", stop_), RTPERR_CANT_CREATE_SOCKET);
}

TEST_F(SharedSocket, PublishingWinsOverAdoptingTheSameChannel) {
  TestableNetwork first;
  ASSERT_EQ(first.Open(OPEN_PUBLISH_AUDIO, "127.0.0.1", stop_), 0);
  TestableNetwork second;
  ASSERT_EQ(second.Open(OPEN_PUBLISH_AUDIO | OPEN_ADOPT_AUDIO, "127.0.0.1", stop_), 0);
  EXPECT_NE(second.m_EventSocket, first.m_EventSocket);
  EXPECT_NE(kwz_test::BoundPort(second.m_EventSocket), 0);  // made and bound its own
  EXPECT_EQ(ReadRecord(SHARED_SOCKET_AUDIO).socket, static_cast<DWORD>(second.m_EventSocket));
}

TEST_F(SharedSocket, BothChannelsNamedUseTheFirstMappedRecord) {
  TestableNetwork network;
  // Adopting audio maps "KWZ_SOCKET_AUDIO" first; the video publication lands in that view.
  ASSERT_EQ(network.Open(OPEN_ADOPT_AUDIO | OPEN_PUBLISH_VIDEO, "127.0.0.1", stop_), 0);
  EXPECT_EQ(ReadRecord(SHARED_SOCKET_AUDIO).socket, static_cast<DWORD>(network.m_EventSocket));
  EXPECT_EQ(ReadRecord(SHARED_SOCKET_VIDEO).socket, 0u);
}

// Record faults raise before anything is made.
TEST_F(SharedSocket, RecordFaultsRaise) {
  {
    TestableNetwork n;
    // Kept as the object keeps it, so its destructor unmaps the view and the name goes away.
    n.m_pSharedView = n.create_shared_memory(12, SHARED_SOCKET_AUDIO);
    EXPECT_THROW(n.create_shared_memory(12, SHARED_SOCKET_VIDEO), exc_create_shared_memory);
  }
  TestableNetwork n;
  EXPECT_THROW(n.create_shared_memory(0, SHARED_SOCKET_AUDIO), exc_create_shared_memory);
  EXPECT_THROW(n.set_shared_socket(nullptr, SHARED_SOCKET_AUDIO), base_exception);
  EXPECT_THROW(n.get_shared_socket(nullptr, SHARED_SOCKET_AUDIO), base_exception);
}

// Another module made the name read-only, so no writable view can be had: Open raises before
// any socket is made.
TEST_F(SharedSocket, ReadOnlyRecordStopsOpenBeforeAnySocketIsMade) {
  HANDLE readOnly =
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 12, SHARED_SOCKET_AUDIO);
  const int before = kwz_test::OpenDescriptorCount();
  TestableNetwork network;
  EXPECT_THROW(network.Open(OPEN_ADOPT_AUDIO, "127.0.0.1", stop_), exc_create_shared_memory);
  EXPECT_EQ(network.JoinGroup("224.76.12.19"), RTPERR_OUT_OF_MEMORY);  // not opened
  EXPECT_EQ(kwz_test::OpenDescriptorCount(), before);
  CloseHandle(readOnly);
}

}  // namespace
