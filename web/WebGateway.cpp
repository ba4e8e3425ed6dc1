#include "web/WebGateway.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstdio>
#include <random>

#include "web/BrowserHub.h"
#include "web/BrowserRemoteControl.h"
#include "web/HttpListener.h"
#include "web/PageAssets.h"

namespace kwz_web {
namespace {

namespace asio = boost::asio;

constexpr auto kStatusPeriod = std::chrono::seconds(1);
// The mouse record goes out again this often while a browser holds control, as the control
// re-sends it, so the presenter's side sees the cursor follow moves that send nothing.
constexpr auto kResendPeriod = std::chrono::milliseconds(100);

}  // namespace

std::string RandomToken() {
  std::random_device source;
  std::string token;
  static const char kDigits[] = "0123456789abcdef";
  for (int i = 0; i < 4; ++i) {
    const std::uint32_t word = source();
    for (int shift = 28; shift >= 0; shift -= 4) token.push_back(kDigits[(word >> shift) & 0xF]);
  }
  return token;
}

struct WebGateway::State {
  explicit State(GatewayOptions gatewayOptions)
      : options(std::move(gatewayOptions)),
        controlSocket(context),
        remote(MakeRemoteControl()),
        feed([this](const BrowserFramePtr& frame, bool decoded) { Post(frame, decoded); }),
        hub(HubCallbacks()),
        signals(context, SIGINT, SIGTERM),
        statusTimer(context),
        resendTimer(context) {
    if (options.token.empty()) options.token = RandomToken();
  }

  BrowserHub::Callbacks HubCallbacks() {
    BrowserHub::Callbacks callbacks;
    callbacks.setDecodedModes = [this](std::uint32_t modes) { feed.SetDecodedModes(modes); };
    callbacks.counters = [this] { return HubCounters{feed.Lost(), feed.Received()}; };
    callbacks.remote = remote.get();
    return callbacks;
  }

  std::unique_ptr<BrowserRemoteControl> MakeRemoteControl() {
    if (!options.serverAddress) return nullptr;
    return std::make_unique<BrowserRemoteControl>([this](const InputRecord& record) {
      BYTE bytes[kInputRecordSize];
      WriteInputRecord(record, bytes);
      boost::system::error_code ignored;  // a lost record is followed by the next
      controlSocket.send_to(asio::buffer(bytes), server, 0, ignored);
    });
  }

  bool OpenRemoteControl(std::string* error) {
    if (!remote) return true;
    boost::system::error_code code;
    server = {asio::ip::make_address_v4(*options.serverAddress, code), options.serverPort};
    if (!code) controlSocket.open(asio::ip::udp::v4(), code);
    if (code) {
      *error = "cannot send remote control to " + *options.serverAddress + ": " + code.message();
      return false;
    }
    return true;
  }

  void ResendTick() {
    resendTimer.expires_after(kResendPeriod);
    resendTimer.async_wait([this](boost::system::error_code error) {
      if (error) return;
      if (hub.HasController()) remote->Resend();
      ResendTick();
    });
  }

  // On the feed's thread: hands the frame to the network thread, unless that thread is so far
  // behind that frames would pile up without bound.
  void Post(const BrowserFramePtr& frame, bool decoded) {
    if (pending.fetch_add(1, std::memory_order_relaxed) >= kMaxPendingFrames) {
      pending.fetch_sub(1, std::memory_order_relaxed);
      return;
    }
    asio::post(context, [this, frame, decoded] {
      pending.fetch_sub(1, std::memory_order_relaxed);
      hub.OnFrame(frame, decoded);
    });
  }

  void StatusTick() {
    statusTimer.expires_after(kStatusPeriod);
    statusTimer.async_wait([this](boost::system::error_code error) {
      if (error) return;
      hub.SendStatus();
      StatusTick();
    });
  }

  GatewayOptions options;
  asio::io_context context{1};
  asio::ip::udp::socket controlSocket;
  asio::ip::udp::endpoint server;
  std::unique_ptr<BrowserRemoteControl> remote;  // null without remote control
  // The hub goes first: closing its browsers reads and updates the feed.
  ScreenFeed feed;
  BrowserHub hub;
  std::shared_ptr<HttpListener> listener;
  asio::signal_set signals;
  asio::steady_timer statusTimer;
  asio::steady_timer resendTimer;
  std::atomic<unsigned> pending{0};
};

WebGateway::WebGateway(GatewayOptions options)
    : m_state(std::make_unique<State>(std::move(options))) {}

WebGateway::~WebGateway() {
  m_state->feed.Stop();
  if (m_state->listener) m_state->listener->Stop();
}

bool WebGateway::Open(std::string* error) {
  State& s = *m_state;
  if (!s.feed.Open(s.options.source)) {
    *error = "cannot receive on " + s.options.source.address + ":" +
             std::to_string(s.options.source.port) +
             (s.options.source.group ? " in group " + *s.options.source.group : std::string());
    return false;
  }
  boost::system::error_code code;
  const auto address = asio::ip::make_address_v4(s.options.httpAddress, code);
  if (code) {
    *error = "not an IPv4 address: " + s.options.httpAddress;
    return false;
  }
  if (!s.OpenRemoteControl(error)) return false;
  s.listener = std::make_shared<HttpListener>(s.context, s.options.token, PageHtml(), s.hub);
  std::string why;
  if (!s.listener->Listen({address, s.options.httpPort}, &why)) {
    *error = "cannot serve HTTP on " + s.options.httpAddress + ":" +
             std::to_string(s.options.httpPort) + ": " + why;
    return false;
  }
  return true;
}

std::string WebGateway::Url() const {
  const auto endpoint = m_state->listener->LocalEndpoint();
  return "http://" + endpoint.address().to_string() + ":" + std::to_string(endpoint.port()) +
         "/?token=" + m_state->options.token;
}

void WebGateway::Run() {
  State& s = *m_state;
  s.feed.Start();
  s.listener->Accept();
  s.signals.async_wait([this](boost::system::error_code error, int) {
    if (!error) Stop();
  });
  s.StatusTick();
  if (s.remote) s.ResendTick();
  s.context.run();
  s.feed.Stop();
}

void WebGateway::Stop() {
  State& s = *m_state;
  asio::post(s.context, [&s] {
    s.listener->Stop();
    s.signals.cancel();
    s.statusTimer.cancel();
    s.resendTimer.cancel();
    s.context.stop();
  });
}

}  // namespace kwz_web
