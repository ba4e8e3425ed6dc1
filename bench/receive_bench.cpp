// Screen messages through CScreenReceiver::Receive from a loopback socket, against a plain
// recvfrom loop over the same datagrams on a POSIX socket with the same receive buffer, in the
// same run. Each batch is sent first (not timed) and then received (timed), so the figures are
// the receiving side's alone. Each line reports messages and datagrams per second through
// Receive, the baseline's datagrams per second, and their ratio (baseline time / Receive time
// per datagram: how many times slower the receiving path is than the bare system call).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "bench/LoopbackUdp.h"
#include "network/CScreenReceiver.h"
#include "platform/ipp.h"
#include "platform/kernel.h"
#include "platform/winsock.h"
#include "presenter/RtpPacketizer.h"
#include "presenter/ScreenMessageWriter.h"

namespace {

using Clock = std::chrono::steady_clock;
using Datagram = std::vector<std::uint8_t>;

// About 100 datagrams of 1400 bytes per batch: well inside the socket's receive buffer.
constexpr std::size_t kBatchDatagrams = 100;
constexpr int kBaselineBatches = 200;

struct Stream {
  explicit Stream(std::size_t bodyLength) : packetizer(presenter::RtpPacketizer::Options{}) {
    std::vector<std::uint8_t> body(bodyLength);
    for (std::size_t i = 0; i < bodyLength; ++i) body[i] = static_cast<std::uint8_t>(i * 31);
    presenter::ScreenMessageFields fields;
    fields.streamMode = 4;
    fields.width = 1920;
    fields.height = 1080;
    presenter::WriteScreenMessage(fields, body.data(), body.size(), &message);
  }
  // The next batch of whole messages, numbered on from the last.
  std::vector<Datagram> Batch(std::size_t* messages) {
    std::vector<Datagram> out;
    *messages = 0;
    while (out.size() < kBatchDatagrams) {
      packetizer.Packetize(
          message.data(), message.size(), timestamp += 2,
          [&](const std::uint8_t* d, std::size_t n) { out.emplace_back(d, d + n); });
      ++*messages;
    }
    return out;
  }

  presenter::RtpPacketizer packetizer;
  std::vector<std::uint8_t> message;
  std::uint32_t timestamp = 0;
};

class ExposedReceiver : public CScreenReceiver {
 public:
  SOCKET Socket() { return m_Endpoint.Socket().GetSocket(); }
};

double BaselineSecondsPerDatagram(std::size_t bodyLength, kwz_bench::LoopbackUdp& sender) {
  kwz_bench::LoopbackUdp target(CRtpSocket::kReceiveBufferSize);
  Stream stream(bodyLength);
  std::vector<std::uint8_t> buffer(65536);
  Clock::duration spent{};
  std::size_t datagrams = 0;
  for (int b = 0; b < kBaselineBatches; ++b) {
    std::size_t messages = 0;
    const std::vector<Datagram> batch = stream.Batch(&messages);
    for (const Datagram& d : batch) sender.SendTo(target.port(), d.data(), d.size());
    const auto start = Clock::now();
    for (std::size_t i = 0; i < batch.size(); ++i) {
      benchmark::DoNotOptimize(target.Receive(buffer.data(), buffer.size()));
    }
    spent += Clock::now() - start;
    datagrams += batch.size();
  }
  return std::chrono::duration<double>(spent).count() / static_cast<double>(datagrams);
}

void BM_ReceiveScreenMessages(benchmark::State& state) {
  const std::size_t bodyLength = static_cast<std::size_t>(state.range(0));
  kwz_bench::LoopbackUdp sender(1 << 16);
  const double baseline = BaselineSecondsPerDatagram(bodyLength, sender);

  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ExposedReceiver receiver;
  receiver.SetWaitMs(0);  // drain, never wait
  if (receiver.Open(0, "127.0.0.1", stop) != 0) {
    state.SkipWithError("Open failed");
    CloseHandle(stop);
    return;
  }
  // The port through the platform's own Winsock, as the system would ask for it.
  sockaddr_in local{};
  int localLength = sizeof local;
  getsockname(receiver.Socket(), reinterpret_cast<sockaddr*>(&local), &localLength);
  const std::uint16_t port = ntohs(local.sin_port);

  Stream stream(bodyLength);
  DWORD capacity = 180000;
  BYTE* body = w7_ippsMalloc_8u(static_cast<int>(capacity));
  std::size_t messages = 0, datagrams = 0, failures = 0;
  Clock::duration spent{};
  for (auto _ : state) {
    std::size_t batchMessages = 0;
    const std::vector<Datagram> batch = stream.Batch(&batchMessages);
    for (const Datagram& d : batch) sender.SendTo(port, d.data(), d.size());
    const auto start = Clock::now();
    for (std::size_t m = 0; m < batchMessages; ++m) {
      BITMAPINFOHEADER header;
      DWORD blockIndex = 0;
      DWORD size = capacity;
      BYTE* before = body;
      if (!receiver.Receive(&header, &blockIndex, &body, &size)) {
        ++failures;
        continue;
      }
      if (body != before) capacity = header.biSizeImage;
    }
    const Clock::duration elapsed = Clock::now() - start;
    spent += elapsed;
    state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    messages += batchMessages;
    datagrams += batch.size();
  }
  w7_ippsFree(body);
  CloseHandle(stop);
  if (failures != 0) state.SkipWithError("a message was not delivered");

  const double seconds = std::chrono::duration<double>(spent).count();
  const double perDatagram = seconds / static_cast<double>(datagrams);
  state.counters["msgs_per_s"] = static_cast<double>(messages) / seconds;
  state.counters["dgrams_per_s"] = static_cast<double>(datagrams) / seconds;
  state.counters["baseline_dgrams_per_s"] = 1.0 / baseline;
  state.counters["ratio"] = perDatagram / baseline;
}

}  // namespace

// Body lengths: one datagram, a few, and the largest body a message can carry.
BENCHMARK(BM_ReceiveScreenMessages)
    ->Arg(1000)
    ->Arg(8000)
    ->Arg(65535)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
