#include "web/ScreenFeed.h"

#include <atomic>
#include <vector>

#include "network/CScreenReceiver.h"
#include "platform/clock.h"
#include "platform/ipp.h"
#include "platform/winsock.h"
#include "runtime/CEvent.h"
#include "runtime/CMediaThread.h"
#include "web/KeyFrame.h"
#include "web/LateJoinCache.h"
#include "web/VideoToBlocks.h"

namespace kwz_web {
namespace {

constexpr DWORD kBodyBufferSize = 180000;
constexpr DWORD kCountersPeriodMs = 1000;

bool IsDottedAddress(const std::string& address) {
  return inet_addr(address.c_str()) != INADDR_NONE || address == "255.255.255.255";
}

}  // namespace

class ScreenFeed::Thread : public CMediaThread {
 public:
  explicit Thread(Sink sink) : m_sink(std::move(sink)) {
    WSADATA data;
    m_bStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~Thread() override {
    Stop();
    w7_ippsFree(m_pBody);
    m_endpoint.reset();
    if (m_bStarted) WSACleanup();
  }

  bool Open(const StreamSource& source);
  DWORD Run() override;
  bool Start() override {
    if (IsRunning()) return true;
    m_stopEvent.Reset();
    return CMediaThread::Start();
  }
  bool Stop() override {
    m_stopEvent.Set();
    return CMediaThread::Stop();
  }

  std::atomic<std::uint32_t> m_decodedModes{0};
  std::atomic<std::uint64_t> m_lost{0};
  std::atomic<std::uint64_t> m_received{0};

 private:
  void Decode(const BrowserFramePtr& frame);
  void TakeCounters();

  Sink m_sink;
  bool m_bStarted = false;
  CEvent m_stopEvent{true};
  std::unique_ptr<CScreenReceiver> m_endpoint = std::make_unique<CScreenReceiver>();
  BYTE* m_pBody = nullptr;  // IPP allocation; Receive may replace it with a larger one
  DWORD m_dwBodyCapacity = 0;
  std::uint32_t m_decodingModes = 0;  // what the thread decoded last; thread only
  LateJoinCache m_recent;             // the video frames a rising mode catches up from
  VideoToBlocks m_video;
  DWORD m_lastCountersMs = 0;
};

ScreenFeed::ScreenFeed(Sink sink) : m_thread(std::make_unique<Thread>(std::move(sink))) {}
ScreenFeed::~ScreenFeed() = default;
bool ScreenFeed::Open(const StreamSource& source) {
  return m_thread->Open(source);
}
bool ScreenFeed::Start() {
  return m_thread->Start();
}
bool ScreenFeed::Stop() {
  return m_thread->Stop();
}
void ScreenFeed::SetDecodedModes(std::uint32_t modes) {
  m_thread->m_decodedModes.store(modes, std::memory_order_relaxed);
}
std::uint64_t ScreenFeed::Lost() const {
  return m_thread->m_lost.load(std::memory_order_relaxed);
}
std::uint64_t ScreenFeed::Received() const {
  return m_thread->m_received.load(std::memory_order_relaxed);
}

bool ScreenFeed::Thread::Open(const StreamSource& source) {
  if (!IsDottedAddress(source.address)) return false;
  if (source.group && (ntohl(inet_addr(source.group->c_str())) >> 28) != 0xE) return false;
  if (m_endpoint->Open(source.port, source.address.c_str(), m_stopEvent.GetHandle()) < 0)
    return false;
  if (source.group && m_endpoint->JoinGroup(source.group->c_str()) != 0) return false;
  w7_ippsFree(m_pBody);
  m_pBody = w7_ippsMalloc_8u(static_cast<int>(kBodyBufferSize));
  m_dwBodyCapacity = m_pBody != nullptr ? kBodyBufferSize : 0;
  m_lastCountersMs = timeGetTime();
  return m_pBody != nullptr;
}

void ScreenFeed::Thread::TakeCounters() {
  const DWORD now = timeGetTime();
  if (now - m_lastCountersMs < kCountersPeriodMs) return;
  m_lastCountersMs = now;
  DWORD lost = 0;
  DWORD received = 0;
  m_endpoint->TakeCounters(&lost, &received);
  m_lost.fetch_add(lost, std::memory_order_relaxed);
  m_received.fetch_add(received, std::memory_order_relaxed);
}

DWORD ScreenFeed::Thread::Run() {
  if (!m_endpoint->IsOpened() || m_pBody == nullptr) {
    m_stopEvent.Wait(CScreenReceiver::kWaitMs);
    return 0;
  }
  BITMAPINFOHEADER header{};
  DWORD blockIndex = 0;
  DWORD bodyLength = m_dwBodyCapacity;
  BYTE* const before = m_pBody;
  const bool accepted = m_endpoint->Receive(&header, &blockIndex, &m_pBody, &bodyLength);
  // A replaced buffer holds the image size of the message that asked for it.
  if (m_pBody != before) m_dwBodyCapacity = accepted ? header.biSizeImage : 0;
  TakeCounters();
  if (!accepted) return 0;

  ScreenFields fields;
  fields.streamMode = static_cast<std::uint8_t>(header.biCompression);
  fields.bytesPerPixel = static_cast<std::uint8_t>(header.biBitCount / 8);
  fields.width = static_cast<std::uint16_t>(header.biWidth);
  fields.height = static_cast<std::uint16_t>(header.biHeight);
  fields.blockIndex = static_cast<std::uint16_t>(blockIndex);
  DWORD cursorX = 0;
  DWORD cursorY = 0;
  m_endpoint->GetRemoteCursor(&cursorX, &cursorY);
  fields.cursorX = static_cast<std::uint16_t>(cursorX);
  fields.cursorY = static_cast<std::uint16_t>(cursorY);
  const BrowserFramePtr frame = MakeScreenFrame(fields, m_pBody, bodyLength,
                                                IsKeyFrame(fields.streamMode, m_pBody, bodyLength));
  m_sink(frame, false);
  if (frame->IsVideo()) Decode(frame);
  return 0;
}

void ScreenFeed::Thread::Decode(const BrowserFramePtr& frame) {
  const std::uint32_t wanted = m_decodedModes.load(std::memory_order_relaxed);
  const std::uint32_t bit = 1u << frame->fields.streamMode;
  const bool rising = (wanted & bit) != 0 && (m_decodingModes & bit) == 0;
  m_decodingModes = wanted;
  std::vector<BrowserFramePtr> decoded;
  if (rising && !frame->keyFrame) {
    // Catch up from the last key frame, so the first decoded picture is the current one.
    m_video.Reset();
    for (const BrowserFramePtr& earlier : m_recent.Snapshot()) m_video.Decode(*earlier, &decoded);
  } else if (rising) {
    m_video.Reset();
  }
  m_recent.Add(frame);
  if ((wanted & bit) == 0) return;
  m_video.Decode(*frame, &decoded);
  for (const BrowserFramePtr& block : decoded) m_sink(block, true);
}

}  // namespace kwz_web
