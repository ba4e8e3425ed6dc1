#include "web/HttpListener.h"

#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <chrono>
#include <optional>

#include "web/BrowserSession.h"

namespace kwz_web {
namespace {

namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = boost::asio::ip::tcp;

constexpr std::size_t kMaxHeader = 8192;
constexpr auto kRequestTimeout = std::chrono::seconds(30);

// Equal strings, compared in a time that does not depend on where they differ.
bool SameSecret(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

// One connection's HTTP requests, until it is upgraded to a WebSocket or closed.
class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
 public:
  HttpConnection(tcp::socket socket, const std::string& token, const std::string& page,
                 BrowserHub& hub)
      : m_stream(std::move(socket)), m_token(token), m_page(page), m_hub(hub) {}

  void Read() {
    m_parser.emplace();
    m_parser->header_limit(kMaxHeader);
    m_parser->body_limit(0);
    m_stream.expires_after(kRequestTimeout);
    http::async_read(
        m_stream, m_buffer, *m_parser,
        [self = shared_from_this()](beast::error_code error, std::size_t) { self->OnRead(error); });
  }

 private:
  void OnRead(beast::error_code error) {
    if (error) {
      beast::error_code ignored;
      m_stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
      return;
    }
    http::request<http::empty_body> request = m_parser->release();
    const std::string_view target(request.target().data(), request.target().size());
    if (beast::websocket::is_upgrade(request)) {
      if (!TargetMatches(target, "/ws", m_token)) {
        Respond(request, http::status::forbidden, "text/plain", "forbidden\n");
        return;
      }
      m_stream.expires_never();
      std::make_shared<BrowserSession>(m_stream.release_socket(), m_hub)->Start(std::move(request));
      return;
    }
    if (request.method() != http::verb::get && request.method() != http::verb::head) {
      Respond(request, http::status::method_not_allowed, "text/plain", "method not allowed\n");
    } else if (TargetMatches(target, "/", m_token)) {
      Respond(request, http::status::ok, "text/html; charset=utf-8", m_page);
    } else if (TargetMatches(target, "/", "") || TargetMatches(target, "/ws", "")) {
      Respond(request, http::status::forbidden, "text/plain", "forbidden\n");
    } else {
      Respond(request, http::status::not_found, "text/plain", "not found\n");
    }
  }

  void Respond(const http::request<http::empty_body>& request, http::status status,
               const char* type, const std::string& body) {
    auto response = std::make_shared<http::response<http::string_body>>(status, request.version());
    response->set(http::field::server, "kwz-web");
    response->set(http::field::content_type, type);
    response->set(http::field::cache_control, "no-store");
    // The token is in the page's address: it must not travel on to other sites.
    response->set("Referrer-Policy", "no-referrer");
    response->set("X-Content-Type-Options", "nosniff");
    if (request.method() != http::verb::head) response->body() = body;
    response->keep_alive(request.keep_alive() && status == http::status::ok);
    response->prepare_payload();
    if (request.method() == http::verb::head) response->content_length(body.size());
    http::async_write(m_stream, *response,
                      [self = shared_from_this(), response](beast::error_code error, std::size_t) {
                        if (!error && response->keep_alive()) {
                          self->Read();
                          return;
                        }
                        beast::error_code ignored;
                        self->m_stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
                      });
  }

  beast::tcp_stream m_stream;
  beast::flat_buffer m_buffer;
  std::optional<http::request_parser<http::empty_body>> m_parser;
  const std::string& m_token;
  const std::string& m_page;
  BrowserHub& m_hub;
};

}  // namespace

bool TargetMatches(std::string_view target, std::string_view path, std::string_view token) {
  const std::size_t question = target.find('?');
  if (target.substr(0, question) != path) return false;
  if (token.empty()) return true;
  if (question == std::string_view::npos) return false;
  std::string_view query = target.substr(question + 1);
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    if (pair.starts_with("token=") && SameSecret(pair.substr(6), token)) return true;
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return false;
}

HttpListener::HttpListener(boost::asio::io_context& context, std::string token, std::string page,
                           BrowserHub& hub)
    : m_context(context),
      m_acceptor(context),
      m_token(std::move(token)),
      m_page(std::move(page)),
      m_hub(hub) {}

bool HttpListener::Listen(const tcp::endpoint& endpoint, std::string* error) {
  beast::error_code code;
  m_acceptor.open(endpoint.protocol(), code);
  if (!code) m_acceptor.set_option(boost::asio::socket_base::reuse_address(true), code);
  if (!code) m_acceptor.bind(endpoint, code);
  if (!code) m_acceptor.listen(boost::asio::socket_base::max_listen_connections, code);
  if (code) {
    *error = code.message();
    return false;
  }
  return true;
}

tcp::endpoint HttpListener::LocalEndpoint() const {
  beast::error_code ignored;
  return m_acceptor.local_endpoint(ignored);
}

void HttpListener::Accept() {
  m_acceptor.async_accept(m_context, [self = shared_from_this()](beast::error_code error,
                                                                 tcp::socket socket) {
    if (error == boost::asio::error::operation_aborted || !self->m_acceptor.is_open()) return;
    if (!error) {
      std::make_shared<HttpConnection>(std::move(socket), self->m_token, self->m_page, self->m_hub)
          ->Read();
    }
    self->Accept();
  });
}

void HttpListener::Stop() {
  beast::error_code ignored;
  m_acceptor.close(ignored);
}

}  // namespace kwz_web
