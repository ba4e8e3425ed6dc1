// The screen endpoint over loopback: what reaches the engine from a well-formed message, what
// is refused, and how buffers grow with the geometry that comes off the wire.
#include "network/CScreenReceiver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

#include "platform/ipp.h"
#include "tests/network/ReceiverTestSupport.h"

namespace {

using kwz_test::Bytes;
using kwz_test::Datagrams;
using kwz_test::Message;

class ScreenReceiver : public testing::Test {
 protected:
  void SetUp() override {
    link_.receiver().SetWaitMs(0);  // a call ends instead of waiting once nothing is left
    buffer_ = w7_ippsMalloc_8u(kEngineCapacity);
    capacity_ = kEngineCapacity;
  }
  void TearDown() override { w7_ippsFree(buffer_); }

  // One Receive as the engine makes it: its capacity goes in, the body length comes out, and
  // the capacity follows a growth to the image size.
  bool Receive() {
    std::memset(&header_, 0xAB, sizeof header_);
    size_ = capacity_;
    BYTE* before = buffer_;
    const bool accepted = link_.receiver().Receive(&header_, &blockIndex_, &buffer_, &size_);
    if (buffer_ != before) capacity_ = header_.biSizeImage;
    return accepted;
  }
  void Send(const Bytes& message, std::uint32_t timestamp = 1000) {
    link_.SendAll(Datagrams(sender_, message, timestamp));
  }
  Bytes Body() const { return Bytes(buffer_, buffer_ + size_); }

  static constexpr int kEngineCapacity = 180000;
  kwz_test::LoopbackLink<CScreenReceiver> link_;
  presenter::RtpPacketizer sender_{kwz_test::PacketizerOptions()};
  BITMAPINFOHEADER header_{};
  DWORD blockIndex_ = 0;
  BYTE* buffer_ = nullptr;
  DWORD capacity_ = 0;
  DWORD size_ = 0;
};

Bytes Screen(const presenter::ScreenMessageFields& fields, const Bytes& body) {
  Bytes out;
  presenter::WriteScreenMessage(fields, body.data(), body.size(), &out);
  return out;
}

TEST_F(ScreenReceiver, AcceptedMessageReachesTheEngine) {
  presenter::ScreenMessageFields fields;
  fields.streamMode = 4;
  fields.width = 1366;
  fields.height = 768;
  fields.cursorX = presenter::kNoCursor;
  fields.cursorY = 17;
  const Bytes body = Message(3000, 1);
  Send(Screen(fields, body));
  ASSERT_TRUE(Receive());
  // How the header maps to the frame description is the screen packet's; its size shows here.
  EXPECT_EQ(header_.biWidth, 1366);
  EXPECT_EQ(header_.biSizeImage, 4196352u);
  EXPECT_EQ(Body(), body);
  EXPECT_EQ(capacity_, 4196352u);  // grown to the decoded image
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer_) % 64, 0u);
  DWORD x = 0, y = 0;
  link_.receiver().GetRemoteCursor(&x, &y);
  EXPECT_EQ(x, 65504u);
  EXPECT_EQ(y, 17u);

  // The same screen again keeps the buffer; the block index is widened.
  BYTE* grown = buffer_;
  fields.blockIndex = 0xFFFE;
  Send(Screen(fields, Message(10, 2)), 2000);
  ASSERT_TRUE(Receive());
  EXPECT_EQ(buffer_, grown);
  EXPECT_EQ(size_, 10u);
  EXPECT_EQ(blockIndex_, 0xFFFEu);
}

// --- Refused messages: nothing of them reaches the engine. Which headers are refused is the
// screen packet's own business; two kinds show the path through the receiver ---

struct Refusal {
  const char* name;
  void (*corrupt)(Bytes*);
  int lengthDelta;
};

std::ostream& operator<<(std::ostream& out, const Refusal& r) {
  return out << r.name;
}

class ScreenRefusal : public ScreenReceiver, public testing::WithParamInterface<Refusal> {};

TEST_P(ScreenRefusal, DroppedAndTheNextOneComesThrough) {
  presenter::ScreenMessageFields fields;
  fields.streamMode = 2;
  fields.width = 100;
  fields.height = 100;
  Bytes bad = Screen(fields, Message(1500, 1));
  if (GetParam().corrupt != nullptr) GetParam().corrupt(&bad);
  bad.resize(bad.size() + GetParam().lengthDelta);
  Send(bad, 1000);
  BYTE* before = buffer_;
  EXPECT_FALSE(Receive());
  EXPECT_EQ(buffer_, before);
  EXPECT_EQ(header_.biWidth, static_cast<LONG>(0xABABABAB));  // untouched

  const Bytes good = Message(700, 2);
  Send(Screen(fields, good), 2000);
  ASSERT_TRUE(Receive());
  EXPECT_EQ(Body(), good);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ScreenRefusal,
    testing::Values(Refusal{"StreamModeSeven", [](Bytes* m) { (*m)[2] = 7; }, 0},
                    Refusal{"TrailingByte", nullptr, 1}),
    [](const testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST_F(ScreenReceiver, SmallCallerBufferGrowsToTheImageButNotToTheBody) {
  w7_ippsFree(buffer_);
  buffer_ = nullptr;
  capacity_ = 0;
  presenter::ScreenMessageFields fields;
  fields.streamMode = 0;  // geometry only, and no geometry at all
  Send(Screen(fields, Message(100, 1)), 1000);
  EXPECT_FALSE(Receive());  // a 0-byte image and no buffer: the body has nowhere to go
  EXPECT_EQ(buffer_, nullptr);

  fields.streamMode = 1;
  fields.width = 64;
  fields.height = 64;
  const Bytes body = Message(100, 2);
  Send(Screen(fields, body), 2000);
  ASSERT_TRUE(Receive());
  EXPECT_EQ(capacity_, 16384u);
  EXPECT_EQ(Body(), body);
}

TEST_F(ScreenReceiver, ReceivePacketGrowsWithTheLargestImage) {
  presenter::RtpPacketizer big(kwz_test::PacketizerOptions(100, 0x11223344, 60000));
  presenter::ScreenMessageFields fields;
  fields.streamMode = 3;
  // 240000 bytes in four datagrams: more than the receive packet's first 180000, less than a
  // 1366x768 screen. The last datagram overflows the packet.
  const Bytes oversize = Message(240000, 1);
  link_.SendAll(Datagrams(big, oversize, 1000));
  EXPECT_FALSE(Receive());
  DWORD lost = 0, received = 0;
  link_.receiver().TakeCounters(&lost, &received);
  EXPECT_EQ(lost, 1u);  // too large for the packet

  fields.width = 1366;
  fields.height = 768;
  link_.SendAll(Datagrams(big, Screen(fields, Message(100, 2)), 2000));
  ASSERT_TRUE(Receive());

  // Now the same size is reassembled, and refused only by its header.
  link_.SendAll(Datagrams(big, oversize, 3000));
  EXPECT_FALSE(Receive());
  link_.receiver().TakeCounters(&lost, &received);
  EXPECT_EQ(lost, 0u);
  EXPECT_EQ(received, 1u + 4u);
}

}  // namespace
