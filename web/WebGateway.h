// kwz-web's whole run: the screen stream received on a thread of its own, and the browsers
// served on one network thread (the caller's), until Stop or a signal.
//
// Threads: Open and Run on one thread; Stop from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "web/ScreenFeed.h"

namespace kwz_web {

struct GatewayOptions {
  StreamSource source;
  std::string httpAddress = "127.0.0.1";
  std::uint16_t httpPort = 8080;  // 0: any free port
  // Remote control: where the records go. Unset: the page offers no remote control.
  std::optional<std::string> serverAddress;
  std::uint16_t serverPort = 0;
  std::string token;  // empty: a random one
};

class WebGateway {
 public:
  static constexpr unsigned kMaxPendingFrames = 4096;

  explicit WebGateway(GatewayOptions options);
  ~WebGateway();
  WebGateway(const WebGateway&) = delete;
  WebGateway& operator=(const WebGateway&) = delete;

  // Opens the stream's endpoint and the HTTP listener. False with *error set for the user.
  bool Open(std::string* error);
  // The address to open in a browser, token included; valid after Open.
  std::string Url() const;
  // Serves until Stop, SIGINT or SIGTERM.
  void Run();
  void Stop();

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

// 32 hexadecimal digits from the system's random source.
std::string RandomToken();

}  // namespace kwz_web
