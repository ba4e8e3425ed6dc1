#include "web/BrowserSession.h"

#include <boost/asio/buffer.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include "web/BrowserHub.h"
#include "web/BrowserInputMessage.h"

namespace kwz_web {
namespace {

namespace beast = boost::beast;
namespace websocket = boost::beast::websocket;

}  // namespace

BrowserSession::BrowserSession(boost::asio::ip::tcp::socket socket, BrowserHub& hub)
    : m_ws(std::move(socket)), m_hub(hub) {}

BrowserSession::~BrowserSession() = default;

void BrowserSession::Start(beast::http::request<beast::http::empty_body> request) {
  m_ws.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
  m_ws.set_option(websocket::stream_base::decorator([](websocket::response_type& response) {
    response.set(beast::http::field::server, "kwz-web");
  }));
  m_ws.read_message_max(kMaxMessage);
  m_ws.auto_fragment(false);
  m_ws.async_accept(
      request, [self = shared_from_this()](beast::error_code error) { self->OnAccept(error); });
}

void BrowserSession::OnAccept(beast::error_code error) {
  if (error || m_closed) return;
  m_open = true;
  m_hub.Join(shared_from_this());
  Read();
}

void BrowserSession::Close() {
  if (m_closed) return;
  m_closed = true;
  m_queue.clear();
  m_queuedBytes = 0;
  beast::error_code ignored;
  beast::get_lowest_layer(m_ws).socket().shutdown(boost::asio::ip::tcp::socket::shutdown_both,
                                                  ignored);
  beast::get_lowest_layer(m_ws).close();
  if (m_open) m_hub.Leave(this);
}

void BrowserSession::Read() {
  m_ws.async_read(m_in, [weak = weak_from_this()](beast::error_code error, std::size_t bytes) {
    if (const auto self = weak.lock()) self->OnRead(error, bytes);
  });
}

void BrowserSession::OnRead(beast::error_code error, std::size_t) {
  if (m_closed) return;
  if (error || !m_ws.got_binary()) {
    Close();
    return;
  }
  const auto data = m_in.data();
  const bool good = Handle(static_cast<const std::uint8_t*>(data.data()), data.size());
  m_in.consume(m_in.size());
  if (!good) {
    Close();
    return;
  }
  Read();
}

bool BrowserSession::CountInput() {
  const auto now = std::chrono::steady_clock::now();
  if (now - m_inputWindow >= std::chrono::seconds(1)) {
    m_inputWindow = now;
    m_inputCount = 0;
  }
  return ++m_inputCount <= kMaxInputPerSecond;
}

bool BrowserSession::Handle(const std::uint8_t* data, std::size_t length) {
  const std::optional<BrowserInputMessage> message = ParseBrowserInputMessage(data, length);
  if (!message || !CountInput()) return false;
  if (const auto* caps = std::get_if<BrowserCaps>(&*message)) {
    m_hub.OnCaps(this, caps->codecs);
  } else if (const auto* control = std::get_if<BrowserControl>(&*message)) {
    m_hub.OnControl(this, control->take);
  } else if (const auto* pointer = std::get_if<BrowserPointer>(&*message)) {
    m_hub.OnPointer(this, *pointer);
  } else if (const auto* key = std::get_if<BrowserKey>(&*message)) {
    m_hub.OnKey(this, *key);
  }
  return true;
}

void BrowserSession::Send(const BrowserFramePtr& frame, bool replay) {
  if (m_closed || !frame) return;
  if (!replay && !frame->text) {
    if (m_resync) return;  // the picture sent once drained covers this frame
    if (m_queuedBytes + frame->wire.size() > kMaxQueued) {
      // Keep only the frame being written; the browser catches up from the current picture.
      while (m_queue.size() > (m_writing ? 1u : 0u)) {
        m_queuedBytes -= m_queue.back()->wire.size();
        m_queue.pop_back();
      }
      m_resync = true;
      return;
    }
  }
  m_queue.push_back(frame);
  m_queuedBytes += frame->wire.size();
  if (!m_writing) Write();
}

void BrowserSession::Write() {
  if (m_queue.empty() || m_closed) return;
  m_writing = true;
  const BrowserFramePtr& frame = m_queue.front();
  m_ws.text(frame->text);
  m_ws.async_write(boost::asio::buffer(frame->wire),
                   [weak = weak_from_this()](beast::error_code error, std::size_t bytes) {
                     if (const auto self = weak.lock()) self->OnWrite(error, bytes);
                   });
}

void BrowserSession::OnWrite(beast::error_code error, std::size_t) {
  m_writing = false;
  if (m_closed) return;
  if (error) {
    Close();
    return;
  }
  m_queuedBytes -= m_queue.front()->wire.size();
  m_queue.pop_front();
  if (m_queue.empty() && m_resync) {
    m_resync = false;
    m_hub.Resync(this);
  }
  Write();
}

}  // namespace kwz_web
