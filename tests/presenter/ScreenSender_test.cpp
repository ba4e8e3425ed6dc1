// The sender on the loopback interface: what arrives is a well-formed screen stream carrying
// exactly the messages sent, to a unicast address or a multicast group. (The counters are
// checked against what arrives by the program's summary line.)
#include <gtest/gtest.h>

#include "presenter/CScreenSender.h"
#include "presenter/ScreenMessageWriter.h"
#include "tests/support/RtpStreamCheck.h"
#include "tests/support/UdpCollector.h"

namespace kwz_test {
namespace {

std::vector<std::uint8_t> Message(std::size_t bodyLength, std::uint16_t blockIndex) {
  std::vector<std::uint8_t> body(bodyLength);
  for (std::size_t i = 0; i < bodyLength; ++i) body[i] = static_cast<std::uint8_t>(i * 7 + 3);
  presenter::ScreenMessageFields fields;
  fields.streamMode = 1;
  fields.width = 640;
  fields.height = 480;
  fields.blockIndex = blockIndex;
  std::vector<std::uint8_t> out;
  presenter::WriteScreenMessage(fields, body.data(), body.size(), &out);
  return out;
}

struct Destination {
  const char* group;  // null: unicast to 127.0.0.1
};

class LoopbackSend : public ::testing::TestWithParam<Destination> {};

TEST_P(LoopbackSend, ArrivingStreamCarriesExactlyTheMessagesSent) {
  UdpCollector collector(GetParam().group);
  ASSERT_TRUE(collector.ok());
  presenter::ScreenSenderSettings settings;
  settings.address = GetParam().group ? GetParam().group : "127.0.0.1";
  settings.port = collector.port();
  settings.payloadSize = 100;
  presenter::CScreenSender sender(settings);

  // An empty body, one that fills exactly three datagrams, one that spills into an eleventh.
  const std::vector<std::vector<std::uint8_t>> sent = {Message(0, 1), Message(271, 2),
                                                       Message(1000, 3)};
  std::uint32_t timestamp = 9000;
  for (const auto& m : sent) {
    EXPECT_TRUE(sender.Send(m.data(), m.size(), timestamp));
    timestamp += 9000;
  }
  const auto datagrams = collector.Drain(300);
  ASSERT_EQ(datagrams.size(), 1u + 3u + 11u);
  EXPECT_EQ(CheckScreenStream(datagrams), sent);
}

INSTANTIATE_TEST_SUITE_P(Presenter, LoopbackSend,
                         ::testing::Values(Destination{nullptr}, Destination{"239.255.76.12"}));

// Settings a sender must refuse at set-up: bad addresses, interfaces and TTLs.
TEST(ScreenSender, RefusedSettingsRaiseTheSendersException) {
  const struct {
    const char* address;
    const char* multicastInterface;
    int ttl;
  } cases[] = {
      {"", "127.0.0.1", 0},        {"300.1.2.3", "127.0.0.1", 0},   {"localhost", "127.0.0.1", 0},
      {"239.1.2.3", "nowhere", 0}, {"239.1.2.3", "127.0.0.1", 256}, {"239.1.2.3", "127.0.0.1", -1}};
  for (const auto& c : cases) {
    presenter::ScreenSenderSettings settings;
    settings.address = c.address;
    settings.multicastInterface = c.multicastInterface;
    settings.multicastTtl = c.ttl;
    EXPECT_THROW(presenter::CScreenSender sender(settings), exc_screen_sender) << c.address;
  }
}

}  // namespace
}  // namespace kwz_test
