// libFuzzer target for a stream of datagrams through sequence extension, the reorder queue and
// reassembly, on a virtual clock. Input layout:
//
//   byte 0      bit 0: structured (1) or raw (0); bit 1: reordering on; bit 2 (raw): ask for
//               payload type 113 instead of any
//   bytes 1-4   the clock's start, little-endian (so that its wrap is reached too)
//
//   raw         byte 5: the packet capacity, 256 << (n % 10) bytes; then records of
//               u16 length, u8 milliseconds that pass after it, that many bytes
//   structured  u16 first sequence number, u8 message count - 1 (mod 12), u8 (payload size
//               - 32) / 4, then per message u8 stream mode and u16 body length (mod 2000); then
//               pairs of (op, parameter) that decide the arrival: op % 4 = 0 deliver the next
//               datagram and let op / 4 ms pass, 1 drop it, 2 swap it with the one parameter % 24
//               further on and deliver, 3 deliver a copy of the one parameter % 40 before it
//
// Always: the reorder queue never holds more than its limit and is empty once the clock has
// moved past the longest wait; no datagram is counted or copied twice. Structured: every
// delivered message is byte for byte one that was sent; without copies none comes twice;
// delivered untouched, every message arrives once, in order, with nothing counted lost.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "fuzz/StreamHarness.h"
#include "fuzz/mutate/InputMutators.h"
#include "network/CNetworkReceiver.h"
#include "network/NetworkErrors.h"
#include "packet/CPacket.h"
#include "packet/ScreenPacketFormat.h"
#include "presenter/RtpPacketizer.h"
#include "presenter/ScreenMessageWriter.h"
#include "runtime/NetResult.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using kwz_fuzz::Reader;
using Harness = kwz_fuzz::StreamHarness<CNetworkReceiver>;

// Runs the receiver until it waits for a datagram that is not there, handing each whole
// message to onMessage.
template <class OnMessage>
void Drain(Harness& harness, CPacket* packet, BYTE payloadType, OnMessage&& onMessage) {
  CNetworkReceiver& receiver = harness.endpoint();
  // Each call consumes a datagram or ends the loop, so this bound only trips on a hang.
  std::size_t budget = 4 * (harness.tunnel().Pending() + receiver.QueuedDatagrams()) + 8;
  for (;;) {
    KWZ_FUZZ_CHECK(budget-- != 0);
    packet->m_bPayloadType = payloadType;
    const int result = receiver.ReceiveMessage(packet, 0);
    KWZ_FUZZ_CHECK(receiver.QueuedDatagrams() <= CReorderQueue::kLimit);
    if (result == static_cast<int>(NET_PACKET)) {
      KWZ_FUZZ_CHECK(packet->m_dwLength <= packet->m_dwCapacity);
      onMessage(*packet);
    } else if (result != static_cast<int>(NET_TOO_LARGE) && result != RTPERR_NO_RTP_DATA) {
      // Nothing pending: the wait of 0 ms has ended.
      KWZ_FUZZ_CHECK(result == static_cast<int>(NET_TIMEOUT));
      return;
    }
  }
}

// Lets every queued datagram wait out its time and drains again: nothing may stay behind. Adds
// the counters, which count no datagram twice, to the outcome and returns them.
template <class OnMessage>
std::pair<DWORD, DWORD> Flush(Harness& harness, CPacket* packet, BYTE payloadType,
                              OnMessage&& onMessage, kwz_fuzz::Outcome* outcome) {
  harness.Advance(CReorderQueue::kMaxWaitMs + 1);
  Drain(harness, packet, payloadType, onMessage);
  KWZ_FUZZ_CHECK(harness.endpoint().QueuedDatagrams() == 0);
  KWZ_FUZZ_CHECK(harness.tunnel().Pending() == 0);
  DWORD lost = 0, received = 0;
  harness.endpoint().TakeCounters(&lost, &received);
  KWZ_FUZZ_CHECK(received <= harness.tunnel().HandedOut());
  outcome->Add(lost, received);
  return {lost, received};
}

// A whole message and its bookkeeping.
void AddMessage(kwz_fuzz::Outcome* outcome, const CPacket& message) {
  outcome->AddBytes(message.m_pData, message.m_dwLength);
  outcome->Add(message.m_dwLength, message.m_dwTimestamp, message.m_dwSequence, message.m_dwLost,
               message.m_bPayloadType);
}

void RunRaw(Reader& in, Harness& harness, BYTE payloadType, kwz_fuzz::Outcome* outcome) {
  CPacket packet(256u << (in.U8() % 10));
  std::uint64_t payloadBytes = 0;    // of the well-formed datagrams handed over
  std::uint64_t deliveredBytes = 0;  // of the whole messages that came out
  auto onMessage = [&](const CPacket& message) {
    deliveredBytes += message.m_dwLength;
    KWZ_FUZZ_CHECK(deliveredBytes <= payloadBytes);
    AddMessage(outcome, message);
  };
  while (!in.Empty()) {
    const std::uint16_t length = in.U16();
    const DWORD step = in.U8();
    Bytes datagram = in.Bytes(length);
    RtpPacketInfo info{};
    if (ParseRtpHeader(datagram.data(), static_cast<DWORD>(datagram.size()), &info))
      payloadBytes += info.payloadLength;
    harness.Deliver(std::move(datagram));
    Drain(harness, &packet, payloadType, onMessage);
    harness.Advance(step);
  }
  Flush(harness, &packet, payloadType, onMessage, outcome);
}

void RunStructured(Reader& in, Harness& harness, kwz_fuzz::Outcome* outcome) {
  presenter::RtpPacketizer::Options options;
  options.firstSequence = in.U16();
  options.ssrc = 0x5EED0001;
  const int messageCount = 1 + in.U8() % 12;
  options.payloadSize = 32 + 4 * std::size_t{in.U8()};
  presenter::RtpPacketizer packetizer(options);

  std::vector<Bytes> sent;
  std::vector<Bytes> datagrams;
  for (int i = 0; i < messageCount; ++i) {
    const presenter::ScreenMessageFields fields{
        .streamMode = static_cast<std::uint8_t>(in.U8() % screen_packet::kStreamModeCount),
        .width = 64,
        .height = 48};
    // Led by the message's index, so that every message differs from every other.
    Bytes body(4 + in.U16() % 2000);
    for (std::size_t b = 0; b < body.size(); ++b)
      body[b] = static_cast<std::uint8_t>(b * 31 + static_cast<std::size_t>(i) * 7);
    std::memcpy(body.data(), &i, sizeof i);
    Bytes message;
    presenter::WriteScreenMessage(fields, body.data(), body.size(), &message);
    packetizer.Packetize(
        message.data(), message.size(), 0x1000u * static_cast<std::uint32_t>(i),
        [&](const std::uint8_t* d, std::size_t n) { datagrams.emplace_back(d, d + n); });
    sent.push_back(std::move(message));
  }

  CPacket packet(65536 + 64);
  std::vector<int> deliveredIndex;
  auto onMessage = [&](const CPacket& message) {
    const Bytes got(message.m_pData, message.m_pData + message.m_dwLength);
    KWZ_FUZZ_CHECK(got.size() >= presenter::kScreenHeaderSize + 4);
    int index = -1;
    std::memcpy(&index, got.data() + presenter::kScreenHeaderSize, sizeof index);
    KWZ_FUZZ_CHECK(index >= 0 && index < messageCount);
    KWZ_FUZZ_CHECK(got == sent[static_cast<std::size_t>(index)]);
    deliveredIndex.push_back(index);
    AddMessage(outcome, message);
  };

  bool untouched = true;  // every datagram delivered once, in order
  bool copies = false;
  std::size_t next = 0;
  auto deliver = [&](std::size_t i) {
    harness.Deliver(datagrams[i]);
    Drain(harness, &packet, screen_packet::kPayloadType, onMessage);
  };
  while (next < datagrams.size() && !in.Empty()) {
    const std::uint8_t op = in.U8();
    const std::uint8_t parameter = in.U8();
    switch (op % 4) {
      case 0:
        deliver(next++);
        harness.Advance(op / 4u);
        if (op / 4u != 0) untouched = false;
        break;
      case 1:
        ++next;
        untouched = false;
        break;
      case 2: {
        const std::size_t other = next + 1 + parameter % 24;
        if (other < datagrams.size()) {
          std::swap(datagrams[next], datagrams[other]);
          untouched = false;
        }
        deliver(next++);
        break;
      }
      case 3:
        if (next > parameter % 40) {
          deliver(next - 1 - parameter % 40);
          copies = true;
          untouched = false;
        }
        break;
    }
  }
  while (next < datagrams.size()) deliver(next++);
  const auto [lost, received] =
      Flush(harness, &packet, screen_packet::kPayloadType, onMessage, outcome);

  std::vector<int> sorted = deliveredIndex;
  std::sort(sorted.begin(), sorted.end());
  if (!copies) KWZ_FUZZ_CHECK(std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end());
  if (untouched) {
    KWZ_FUZZ_CHECK(static_cast<int>(deliveredIndex.size()) == messageCount);
    for (int i = 0; i < messageCount; ++i) KWZ_FUZZ_CHECK(deliveredIndex[i] == i);
    KWZ_FUZZ_CHECK(lost == 0);
    KWZ_FUZZ_CHECK(received == datagrams.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // One endpoint for the run: opening one per input cost most of each input's time.
  static Harness harness(0);
  kwz_fuzz::RunInput([&] {
    Reader in(data, size);
    const std::uint8_t flags = in.U8();
    const DWORD clockStart = in.U32();
    harness.Restart(clockStart);
    harness.endpoint().SetReorderEnabled((flags & 2) != 0);
    kwz_fuzz::Outcome outcome;
    if ((flags & 1) != 0) {
      RunStructured(in, harness, &outcome);
    } else {
      RunRaw(in, harness, (flags & 4) != 0 ? screen_packet::kPayloadType : 0, &outcome);
    }
    return outcome.value();
  });
  return 0;
}

// Raw streams keep their RTP framing plausible under mutation (see InputMutators.h).
KWZ_FUZZ_CUSTOM_MUTATOR(kwz_fuzz::MutateDatagramInput, kwz_fuzz::CrossOverDatagramInput)
