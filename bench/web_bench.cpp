// The gateway's cost per browser: kwz-web as a process receives the presenter's 1080p H.264
// stream over loopback and passes it to N WebSocket browsers (N = 0, 1, 10, 50) that read
// everything. Its CPU time per frame with no browser is the baseline of the same run; each
// browser adds (CPU per frame - baseline) / N.
//
//   web_bench KWZ_WEB_PATH [frames per round, default 200]
//
// Prints one JSON line per round. With --send PORT FPS FILE it only sends the stream to
// 127.0.0.1:PORT at FPS and writes each frame's last-datagram time (Unix ms) to FILE, for
// bench/web_latency.py.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>
#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/LoopbackUdp.h"
#include "bench/WebBenchStream.h"

extern char** environ;

namespace {

namespace asio = boost::asio;
namespace websocket = boost::beast::websocket;
using tcp = asio::ip::tcp;
using Frames = std::vector<std::vector<std::vector<std::uint8_t>>>;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 30;

// CPU time of every thread of a process, in nanoseconds.
std::uint64_t ProcessCpuNs(pid_t pid) {
  std::uint64_t total = 0;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (dir == nullptr) return 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream stat(tasks + "/" + entry->d_name + "/schedstat");
    std::uint64_t ns = 0;
    if (stat >> ns) total += ns;
  }
  closedir(dir);
  return total;
}

std::uint64_t UnixMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
}

// Sends every frame at the pace of fps; calls last(frame) just before each frame's last datagram
// (after it, the woken receiver may already have taken this thread's core).
template <typename Last>
void SendFrames(const Frames& frames, std::uint16_t port, int fps, Last last) {
  kwz_bench::LoopbackUdp socket(1 << 20);
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t n = 0; n < frames.size(); ++n) {
    std::this_thread::sleep_until(start + std::chrono::microseconds(1000000 * n / fps));
    for (std::size_t d = 0; d < frames[n].size(); ++d) {
      if (d + 1 == frames[n].size()) last(n);
      socket.SendTo(port, frames[n][d].data(), frames[n][d].size());
    }
  }
}

// kwz-web as a child process; its page address comes from its first line.
struct Gateway {
  pid_t pid = -1;
  std::string host;
  std::string port;
  std::string target;

  Gateway(const char* path, std::uint16_t sourcePort) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string portText = std::to_string(sourcePort);
    const char* argv[] = {
        path,     "--source-address", "127.0.0.1", "--source-port", portText.c_str(),
        "--http", "127.0.0.1:0",      nullptr};
    if (posix_spawn(&pid, path, &actions, nullptr, const_cast<char**>(argv), environ) != 0)
      pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    close(out[0]);
    // "kwz-web: http://127.0.0.1:PORT/?token=..."
    const std::size_t at = line.find("http://");
    if (at == std::string::npos) return;
    const std::string url = line.substr(at + 7);
    const std::size_t colon = url.find(':');
    const std::size_t slash = url.find('/');
    host = url.substr(0, colon);
    port = url.substr(colon + 1, slash - colon - 1);
    target = "/ws" + url.substr(url.find('?'));
  }
  ~Gateway() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
  }
};

// N browsers that read everything, on one thread.
class Browsers {
 public:
  Browsers(const Gateway& gateway, int count) {
    for (int i = 0; i < count; ++i) {
      auto browser = std::make_unique<Browser>(m_io);
      tcp::resolver resolver(m_io);
      asio::connect(browser->ws.next_layer(), resolver.resolve(gateway.host, gateway.port));
      browser->ws.handshake(gateway.host, gateway.target);
      browser->ws.binary(true);
      const std::uint8_t caps[] = {1, 7};
      browser->ws.write(asio::buffer(caps));
      m_browsers.push_back(std::move(browser));
    }
    for (auto& browser : m_browsers) Read(*browser);
    m_thread = std::thread([this] { m_io.run(); });
  }
  ~Browsers() {
    m_io.stop();
    m_thread.join();
  }
  // Screen messages the browser that received the fewest has had.
  long Fewest() const {
    long fewest = -1;
    for (const auto& browser : m_browsers) {
      const long n = browser->frames.load();
      if (fewest < 0 || n < fewest) fewest = n;
    }
    return fewest < 0 ? 0 : fewest;
  }

 private:
  struct Browser {
    explicit Browser(asio::io_context& io) : ws(io) {}
    websocket::stream<tcp::socket> ws;
    boost::beast::flat_buffer buffer;
    std::atomic<long> frames{0};
  };
  void Read(Browser& browser) {
    browser.ws.async_read(browser.buffer,
                          [this, &browser](boost::beast::error_code error, std::size_t) {
                            if (error) return;
                            if (browser.ws.got_binary()) ++browser.frames;
                            browser.buffer.consume(browser.buffer.size());
                            Read(browser);
                          });
  }

  asio::io_context m_io;
  std::vector<std::unique_ptr<Browser>> m_browsers;
  std::thread m_thread;
};

int Send(int argc, char** argv) {
  if (argc < 5) return 2;
  const auto port = static_cast<std::uint16_t>(std::atoi(argv[2]));
  const int fps = std::atoi(argv[3]);
  std::ofstream times(argv[4]);
  const int frames = argc > 5 ? std::atoi(argv[5]) : 100;
  const Frames stream = kwz_bench::H264Datagrams(frames, kWidth, kHeight, fps);
  SendFrames(stream, port, fps, [&](std::size_t) { times << UnixMs() << "\n" << std::flush; });
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--send") return Send(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s KWZ_WEB_PATH [frames]\n", argv[0]);
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  const int frames = argc > 2 ? std::atoi(argv[2]) : 200;
  const Frames stream = kwz_bench::H264Datagrams(frames, kWidth, kHeight, kFps);
  std::uint16_t port = static_cast<std::uint16_t>(47400 + 2 * (getpid() % 200));
  for (const int count : {0, 1, 10, 50}) {
    port += 2;
    Gateway gateway(argv[1], port);
    if (gateway.target.empty()) {
      std::fprintf(stderr, "web_bench: kwz-web did not start\n");
      return 1;
    }
    Browsers browsers(gateway, count);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // every browser has joined
    const std::uint64_t before = ProcessCpuNs(gateway.pid);
    SendFrames(stream, port, kFps, [](std::size_t) {});
    // Every browser has what was sent, or what it will get.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (count > 0 && browsers.Fewest() < static_cast<long>(stream.size()) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::uint64_t used = ProcessCpuNs(gateway.pid) - before;
    std::printf(
        "{\"bench\":\"web\",\"browsers\":%d,\"frames\":%zu,\"received\":%ld,"
        "\"cpu_us_per_frame\":%.1f}\n",
        count, stream.size(), browsers.Fewest(), used / 1000.0 / stream.size());
    std::fflush(stdout);
  }
  return 0;
}
