// The screen endpoint over loopback: what reaches the caller from a well-formed message, what
// a refused one leaves, and how buffers grow with the geometry that comes off the wire. The
// engine's tests drive its cursor and its body buffer's growth from the engine's capacity; here
// the caller starts without a buffer, which the engine never does.
#include "network/CScreenReceiver.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/ipp.h"
#include "tests/network/ReceiverTestSupport.h"

namespace {

using kwz_test::Bytes;
using kwz_test::Datagrams;
using kwz_test::Message;

class ScreenReceiver : public testing::Test {
 protected:
  void SetUp() override { link_.receiver().SetWaitMs(0); }  // ends once nothing is left
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
  void Send(const presenter::ScreenMessageFields& fields, const Bytes& body,
            bool trailingByte = false) {
    Bytes message;
    presenter::WriteScreenMessage(fields, body.data(), body.size(), &message);
    if (trailingByte) message.push_back(0);
    link_.SendAll(Datagrams(sender_, message, timestamp_ += 1000));
  }
  Bytes Body() const { return Bytes(buffer_, buffer_ + size_); }

  kwz_test::LoopbackLink<CScreenReceiver> link_;
  presenter::RtpPacketizer sender_{kwz_test::PacketizerOptions()};
  std::uint32_t timestamp_ = 0;
  BITMAPINFOHEADER header_{};
  DWORD blockIndex_ = 0;
  BYTE* buffer_ = nullptr;
  DWORD capacity_ = 0;
  DWORD size_ = 0;
};

TEST_F(ScreenReceiver, BodiesLandInABufferGrownToTheImageAndRefusalsLeaveItAlone) {
  presenter::ScreenMessageFields fields;
  fields.streamMode = 0;  // geometry only, and no geometry at all
  Send(fields, Message(100, 1));
  EXPECT_FALSE(Receive());  // a 0-byte image and no buffer: the body has nowhere to go
  EXPECT_EQ(buffer_, nullptr);

  fields.streamMode = 1;
  fields.width = 64;
  fields.height = 64;
  Send(fields, Message(100, 2));
  ASSERT_TRUE(Receive());
  EXPECT_EQ(capacity_, 16384u);  // the image, not the body
  EXPECT_EQ(Body(), Message(100, 2));

  // Refused (which headers are is the screen packet's business): nothing reaches the caller.
  BYTE* before = buffer_;
  Send(fields, Message(100, 3), true);  // a trailing byte
  EXPECT_FALSE(Receive());
  EXPECT_EQ(buffer_, before);
  EXPECT_EQ(header_.biWidth, static_cast<LONG>(0xABABABAB));  // untouched

  fields.streamMode = 4;
  fields.width = 1366;
  fields.height = 768;
  fields.cursorX = presenter::kNoCursor;
  fields.cursorY = 17;
  fields.blockIndex = 0xFFFE;
  Send(fields, Message(3000, 4));
  ASSERT_TRUE(Receive());
  // How the header maps to the frame description is the screen packet's; its size shows here.
  EXPECT_EQ(header_.biWidth, 1366);
  EXPECT_EQ(capacity_, 4196352u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer_) % 64, 0u);
  EXPECT_EQ(Body(), Message(3000, 4));
  EXPECT_EQ(blockIndex_, 0xFFFEu);  // widened
  DWORD x = 0, y = 0;
  link_.receiver().GetRemoteCursor(&x, &y);
  EXPECT_EQ(x, 65504u);
  EXPECT_EQ(y, 17u);
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
  Bytes screen;
  presenter::WriteScreenMessage(fields, oversize.data(), 100, &screen);
  link_.SendAll(Datagrams(big, screen, 2000));
  ASSERT_TRUE(Receive());

  // Now the same size is reassembled, and refused only by its header.
  link_.SendAll(Datagrams(big, oversize, 3000));
  EXPECT_FALSE(Receive());
  link_.receiver().TakeCounters(&lost, &received);
  EXPECT_EQ(lost, 0u);
  EXPECT_EQ(received, 1u + 4u);
}

}  // namespace
