// A control whose engine receives on 127.0.0.1 at a free even port, painting into a headless
// window, with a presenter stand-in aimed at it.
#pragma once

#include <memory>

#include "tests/control/ControlTestSupport.h"
#include "tests/engine/EngineFixture.h"

namespace kwz_test {

class ReceiverOnLoopback : public ControlTest {
 protected:
  static constexpr int kWidth = 300;
  static constexpr int kHeight = 200;

  void SetUp() override {
    ControlTest::SetUp();
    UseHeadlessGdi();
    kwz_platform::SetHeadlessDisplays({SIZE{1920, 1080}});
    port_ = FreeEvenPort();
    ASSERT_NE(port_, 0);
    Script s = script();
    ASSERT_EQ(s.PutText(u"SourceAddress", u"127.0.0.1").hr, S_OK);
    ASSERT_EQ(s.PutText(u"SourcePort", Widen(std::to_string(port_).c_str())).hr, S_OK);
    sender_ = std::make_unique<ScreenSender>("127.0.0.1", port_);
  }
  void TearDown() override {
    sender_.reset();
    ControlTest::TearDown();
  }

  bool PortHeld() const { return !CanBind("127.0.0.1", port_); }

  void SendPicture(std::uint32_t seed) {
    const std::vector<Bytes> blocks = ZlibBlocks(Picture(kWidth, kHeight, seed), kWidth, kHeight);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      sender_->Send(BlockFields(kWidth, kHeight, static_cast<std::uint16_t>(i)), blocks[i]);
    }
  }

  USHORT port_ = 0;
  std::unique_ptr<ScreenSender> sender_;
};

}  // namespace kwz_test
