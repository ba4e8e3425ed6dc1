// The presenter's remote-control socket where the program cannot take it: an address or a port
// it cannot listen on, and the port free again once a listener's thread has stopped. (Records,
// and datagrams that are not records, are kwz-present's remote-control test.)
#include <gtest/gtest.h>

#include <cstdio>

#include "presenter/CRemoteInputListener.h"

namespace presenter {
namespace {

TEST(RemoteInputListener, RefusesWhatItCannotListenOnAndFreesItsPortWhenStopped) {
  EXPECT_THROW(CRemoteInputListener("not-an-address", 0, false, stdout), exc_remote_input);
  std::uint16_t port = 0;
  {
    CRemoteInputListener first("127.0.0.1", 0, false, stdout);
    port = first.Port();
    ASSERT_NE(port, 0);
    EXPECT_THROW(CRemoteInputListener("127.0.0.1", port, false, stdout), exc_remote_input);
    EXPECT_TRUE(first.Stop());
  }
  EXPECT_EQ(CRemoteInputListener("127.0.0.1", port, false, stdout).Port(), port);
}

}  // namespace
}  // namespace presenter
