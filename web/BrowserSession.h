// One browser's WebSocket: frames out through a bounded queue, the browser's messages in, each
// checked before anything acts on it.
//
// A browser that reads slower than the stream arrives does not grow a queue: once kMaxQueued
// bytes wait, the waiting frames are dropped and, when the socket has drained, the browser is
// sent the current picture again (the last block screen or key frame and what followed it).
// A browser that sends anything unexpected (a text message, an unknown kind, a wrong size, more
// than kMaxMessage bytes, more than kMaxInputPerSecond input messages in a second) is
// disconnected; nothing it sent has any effect.
//
// Ownership: the hub holds each session from the handshake on; its reads and writes hold it
// only weakly. Beast keeps an operation that waits behind another inside the stream, so a
// strong hold there would keep the session alive for ever once the network thread has stopped.
//
// Threads: the gateway's network thread only.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>

#include "web/BrowserFrame.h"

namespace kwz_web {

class BrowserHub;

class BrowserSession : public std::enable_shared_from_this<BrowserSession> {
 public:
  static constexpr std::size_t kMaxQueued = std::size_t{8} << 20;
  static constexpr std::size_t kMaxMessage = 4096;
  static constexpr int kMaxInputPerSecond = 1000;

  BrowserSession(boost::asio::ip::tcp::socket socket, BrowserHub& hub);
  ~BrowserSession();

  // Completes the WebSocket handshake of an upgrade request that has been read and checked.
  void Start(boost::beast::http::request<boost::beast::http::empty_body> request);
  // Queues a frame, or drops it as described above. replay: part of a picture sent again, which
  // may exceed the bound once.
  void Send(const BrowserFramePtr& frame, bool replay = false);
  // Drops the connection at once.
  void Close();

  bool HasCaps() const { return m_hasCaps; }
  std::uint8_t Caps() const { return m_caps; }
  void SetCaps(std::uint8_t caps) {
    m_caps = caps;
    m_hasCaps = true;
  }
  std::size_t QueuedBytes() const { return m_queuedBytes; }

 private:
  void OnAccept(boost::beast::error_code error);
  void Read();
  void OnRead(boost::beast::error_code error, std::size_t bytes);
  bool Handle(const std::uint8_t* data, std::size_t length);
  bool CountInput();
  void Write();
  void OnWrite(boost::beast::error_code error, std::size_t bytes);

  boost::beast::websocket::stream<boost::beast::tcp_stream> m_ws;
  boost::beast::flat_buffer m_in;
  BrowserHub& m_hub;
  std::deque<BrowserFramePtr> m_queue;  // the front is being written while m_writing
  std::size_t m_queuedBytes = 0;
  bool m_writing = false;
  bool m_resync = false;  // frames were dropped: send the picture again once drained
  bool m_open = false;
  bool m_closed = false;
  bool m_hasCaps = false;
  std::uint8_t m_caps = 0;
  std::chrono::steady_clock::time_point m_inputWindow{};
  int m_inputCount = 0;
};

}  // namespace kwz_web
