// A browser that reads slower than the stream arrives, over a real WebSocket on loopback: the
// gateway's queue for it stays bounded however much is sent, and once it reads again it catches
// up from the current picture instead of replaying what it missed.
#include "web/BrowserSession.h"

#include <gtest/gtest.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "web/BrowserHub.h"
#include "web/HttpListener.h"

namespace kwz_web {
namespace {

namespace asio = boost::asio;
namespace websocket = boost::beast::websocket;
using tcp = asio::ip::tcp;

constexpr char kToken[] = "0123456789abcdef0123456789abcdef";
constexpr std::size_t kBody = 60000;

// A block of a 400 x 300 screen whose body starts with tag.
BrowserFramePtr Block(std::uint16_t index, std::uint32_t tag) {
  ScreenFields f;
  f.streamMode = 1;
  f.bytesPerPixel = 4;
  f.width = 400;
  f.height = 300;
  f.blockIndex = index;
  std::vector<std::uint8_t> body(kBody, 0x5A);
  std::memcpy(body.data(), &tag, sizeof tag);
  return MakeScreenFrame(f, body.data(), body.size(), false);
}

std::uint32_t TagOf(const std::string& wire) {
  std::uint32_t tag = 0;
  std::memcpy(&tag, wire.data() + kFrameFlagsSize + 29, sizeof tag);
  return tag;
}

TEST(SlowBrowser, QueueStaysBoundedAndTheBrowserCatchesUpFromThePicture) {
  asio::io_context io{1};
  auto work = asio::make_work_guard(io);
  BrowserHub hub{BrowserHub::Callbacks{}};
  auto listener = std::make_shared<HttpListener>(io, kToken, "page", hub);
  std::string error;
  ASSERT_TRUE(listener->Listen({asio::ip::address_v4::loopback(), 0}, &error)) << error;
  listener->Accept();
  std::jthread network([&] { io.run(); });
  // A failed check or a throwing client call leaves the body early: stop the loop first, then
  // the thread joins.
  struct StopLoop {
    asio::io_context& io;
    ~StopLoop() { io.stop(); }
  } stopLoop{io};
  // Runs f on the network thread and returns its result.
  auto onNetworkThread = [&](auto f) {
    std::packaged_task<decltype(f())()> task(std::move(f));
    auto result = task.get_future();
    asio::post(io, [&task] { task(); });
    return result.get();
  };
  onNetworkThread([&] {
    hub.OnFrame(Block(0, 1), false);
    return 0;
  });

  asio::io_context clientIo;
  websocket::stream<tcp::socket> ws(clientIo);
  ws.next_layer().connect({asio::ip::address_v4::loopback(), listener->LocalEndpoint().port()});
  ws.handshake("127.0.0.1", std::string("/ws?token=") + kToken);
  ws.binary(true);
  const std::uint8_t caps[] = {1, 7};
  ws.write(asio::buffer(caps));
  // The frames read until the one tagged tag (status lines may come between).
  auto framesUntil = [&](std::uint32_t tag) {
    boost::beast::flat_buffer buffer;
    int frames = 0;
    for (bool seen = false; !seen; buffer.consume(buffer.size())) {
      ws.read(buffer);
      frames += ws.got_binary() ? 1 : 0;
      seen = ws.got_binary() && TagOf(boost::beast::buffers_to_string(buffer.data())) == tag;
    }
    return frames;
  };
  framesUntil(1);  // the picture so far arrives first

  // The browser stops reading while the stream goes on.
  std::size_t most = 0;
  const std::uint32_t last = 1500;
  for (std::uint32_t n = 2; n <= last; ++n) {
    most = std::max(most, onNetworkThread([&] {
                      hub.OnFrame(Block(static_cast<std::uint16_t>(n % 12), n), false);
                      return hub.QueuedBytes();
                    }));
  }
  EXPECT_LE(most, BrowserSession::kMaxQueued + kBody + 64);
  EXPECT_GT(most, BrowserSession::kMaxQueued / 2) << "the browser's socket never filled";

  // Reading again, it reaches the newest frame without the whole backlog.
  EXPECT_LT(framesUntil(last), 1000);
  ws.close(websocket::close_code::normal);
  onNetworkThread([&] {
    listener->Stop();
    work.reset();
    return 0;
  });
}

}  // namespace
}  // namespace kwz_web
