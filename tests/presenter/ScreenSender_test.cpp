// Settings a sender must refuse at set-up: bad addresses, interfaces and TTLs. (What it sends, to
// an address or a multicast group, is kwz-present's test on the wire.)
#include <gtest/gtest.h>

#include "presenter/CScreenSender.h"

namespace kwz_test {
namespace {

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
