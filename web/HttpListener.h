// Accepts browsers' connections and answers their HTTP requests: the page at "/", the
// WebSocket at "/ws", both only with the gateway's access token in the query ("?token=...");
// anything else is refused (403 without the token, 404 for another path, 405 for another
// method). A request is at most 8 KiB of header and no body, read within 30 seconds.
//
// Threads: the gateway's network thread only.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <memory>
#include <string>
#include <string_view>

namespace kwz_web {

class BrowserHub;

// Whether an HTTP request target ("/path?query") names path and carries token.
bool TargetMatches(std::string_view target, std::string_view path, std::string_view token);

class HttpListener : public std::enable_shared_from_this<HttpListener> {
 public:
  HttpListener(boost::asio::io_context& context, std::string token, std::string page,
               BrowserHub& hub);

  // Binds and listens. False with *error set when the address cannot be had.
  bool Listen(const boost::asio::ip::tcp::endpoint& endpoint, std::string* error);
  boost::asio::ip::tcp::endpoint LocalEndpoint() const;
  // Accepts connections until Stop.
  void Accept();
  void Stop();

 private:
  boost::asio::io_context& m_context;
  boost::asio::ip::tcp::acceptor m_acceptor;
  const std::string m_token;
  const std::string m_page;
  BrowserHub& m_hub;
};

}  // namespace kwz_web
