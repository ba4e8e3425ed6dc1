#include "engine/CScreenSharing.h"

#include <climits>

#include "platform/clock.h"
#include "platform/ipp.h"
#include "platform/widestring.h"
#include "platform/winerror.h"
#include "platform/winsock.h"

namespace {

constexpr DWORD kFirstVideoMode = 3;

// The endpoint grows the body buffer to a message's decoded image size, which the packet
// checks keep within kMaxImageSize; the allocator takes that size as an int.
static_assert(screen_packet::kMaxImageSize <= static_cast<std::uint64_t>(INT_MAX));

bool IsClassD(const char* address) {
  if (address == nullptr) return false;
  const DWORD group = ntohl(inet_addr(address));
  return (group >> 28) == 0xE;
}

}  // namespace

CScreenSharing::CScreenSharing()
    : m_clock(&timeGetTime), m_dwReceiveWaitMs(CScreenReceiver::kWaitMs) {}

CScreenSharing::~CScreenSharing() {
  Stop();
  delete m_pSurface;
  m_pSurface = nullptr;
  DeleteEndpoint();
  w7_ippsFree(m_pBody);
  m_pBody = nullptr;
  m_dwBodyCapacity = 0;
  // The stop event and the critical sections go with the members; the base's Stop then finds
  // no thread.
}

bool CScreenSharing::Start() {
  if (IsRunning()) return true;
  m_stopEvent.Reset();
  return CMediaThread::Start();
}

bool CScreenSharing::Stop() {
  m_stopEvent.Set();
  const bool stopped = CMediaThread::Stop();
  if (m_pEndpoint != nullptr && m_pEndpoint->GetTunnelFactory() != nullptr)
    m_pEndpoint->DetachTunnel();
  return stopped;
}

void CScreenSharing::SetLocalAddress(const char* address) {
  m_localAddress = address != nullptr ? std::optional<std::string>(address) : std::nullopt;
}

void CScreenSharing::SetGroupAddress(const char* address) {
  m_groupAddress = address != nullptr ? std::optional<std::string>(address) : std::nullopt;
}

void CScreenSharing::SetStretch(bool stretch) {
  if (m_pSurface != nullptr) m_pSurface->SetStretch(stretch);
}

void CScreenSharing::DeleteEndpoint() {
  if (m_pEndpoint == nullptr) return;
  if (m_pEndpoint->GetTunnelFactory() != nullptr) m_pEndpoint->DetachTunnel();
  CCritSecLock guard(&m_endpointLock);
  delete m_pEndpoint;
  m_pEndpoint = nullptr;
}

HRESULT CScreenSharing::Setup() {
  CCritSecLock setup(&m_setupLock);
  Stop();

  delete m_pSurface;
  m_pSurface = nullptr;
  m_pSurface = new CBMPManager(m_dwBlockWidth, m_dwBlockHeight);
  const DWORD mode = m_dwStreamMode.load(std::memory_order_relaxed);
  if (mode < screen_packet::kStreamModeCount) m_pSurface->SetStreamMode(mode);
  m_pSurface->SetEncoderBitRate(m_dwBitRate);
  m_pSurface->SetFrameRate(m_dwFrameRate);
  m_pSurface->SetSizeSink(m_pSizeSink);

  DeleteEndpoint();
  auto* endpoint = new CScreenReceiver();
  endpoint->SetTunnelFactory(m_pTunnelFactory);
  endpoint->SetReorderEnabled(m_bReorder);
  endpoint->SetWaitMs(m_dwReceiveWaitMs);
  {
    CCritSecLock guard(&m_endpointLock);
    m_pEndpoint = endpoint;
  }

  const char* local = m_localAddress ? m_localAddress->c_str() : nullptr;
  if (endpoint->Open(m_dwPort, local, m_stopEvent.GetHandle()) < 0) return E_FAIL;

  // Neither result matters: an endpoint that joined nothing still receives unicast.
  if (m_pTunnelFactory != nullptr) {
    endpoint->AttachTunnel();
  } else {
    const char* group = m_groupAddress ? m_groupAddress->c_str() : nullptr;
    if (IsClassD(group)) endpoint->JoinGroup(group);
  }

  w7_ippsFree(m_pBody);
  m_pBody = w7_ippsMalloc_8u(static_cast<int>(kBodyBufferSize));
  m_dwBodyCapacity = m_pBody != nullptr ? kBodyBufferSize : 0;
  return S_OK;
}

std::u16string CScreenSharing::GetPacketLossReport() {
  DWORD lost = 0;
  DWORD received = 0;
  {
    CCritSecLock guard(&m_endpointLock);
    if (m_pEndpoint != nullptr) m_pEndpoint->TakeCounters(&lost, &received);
  }
  return FormatWide(u"%u/%u", lost, received);
}

void CScreenSharing::GetScreenRect(RECT* rect) const {
  rect->left = 0;
  rect->top = 0;
  const std::uint64_t size = m_screenSize.load(std::memory_order_relaxed);
  rect->right = static_cast<LONG>(static_cast<std::int32_t>(size & 0xFFFFFFFFu));
  rect->bottom = static_cast<LONG>(static_cast<std::int32_t>(size >> 32));
}

void CScreenSharing::DrawSurface(HWND window) {
  m_pSurface->Draw(m_header, window, static_cast<std::uint16_t>(m_dwCursorX),
                   static_cast<std::uint16_t>(m_dwCursorY));
}

DWORD CScreenSharing::Run() {
  CScreenReceiver* endpoint = m_pEndpoint;
  if (endpoint == nullptr || m_pSurface == nullptr) {
    // Nothing to receive from or paint into (a Setup failed half-way): wait as a pass would,
    // so the thread does not spin until it is stopped.
    m_stopEvent.Wait(CScreenReceiver::kWaitMs);
    return 0;
  }
  CCritSecLock pass(&m_passLock);

  bool accepted = false;
  DWORD blockIndex = 0;
  DWORD bodyLength = m_dwBodyCapacity;
  if (endpoint->IsOpened()) {
    BYTE* const before = m_pBody;
    accepted = endpoint->Receive(&m_header, &blockIndex, &m_pBody, &bodyLength);
    // A replaced buffer holds the image size of the message that asked for it. (Only an
    // accepted message can grow it: the body always fits the smallest capacity.)
    if (m_pBody != before) m_dwBodyCapacity = accepted ? m_header.biSizeImage : 0;
  } else {
    // An endpoint that failed to open has nothing to wait on and its wait fails at once; pace
    // the timed draws by the stop event instead of spinning.
    m_stopEvent.Wait(static_cast<DWORD>(m_frameIntervalMs));
  }

  if (accepted) {
    const DWORD mode = m_header.biCompression;
    m_dwStreamMode.store(mode, std::memory_order_relaxed);
    if (mode < screen_packet::kStreamModeCount) m_pSurface->SetStreamMode(mode);
    m_screenSize.store(static_cast<std::uint32_t>(m_header.biWidth) |
                           std::uint64_t{static_cast<std::uint32_t>(m_header.biHeight)} << 32,
                       std::memory_order_relaxed);
    // From here on the field tells the surface the bytes per pixel.
    m_header.biCompression = m_header.biBitCount / 8u;
    m_pSurface->DecodeMessage(m_header, blockIndex, m_pBody, bodyLength);

    CCritSecLock cursor(&m_cursorLock);
    endpoint->GetRemoteCursor(&m_dwCursorX, &m_dwCursorY);
    const HWND window = m_hWindow.load(std::memory_order_relaxed);
    if (mode >= kFirstVideoMode && window != nullptr) DrawSurface(window);
  }

  // Block modes paint at the frame interval, whether or not a block arrived, so a burst of
  // blocks costs one paint. The clock is read once a pass, in every mode, and again after a
  // timed draw: the interval runs from the end of the last draw.
  const DWORD now = m_clock();
  if (m_dwStreamMode.load(std::memory_order_relaxed) < kFirstVideoMode) {
    const DWORD elapsed = now - static_cast<DWORD>(m_lastTimedDrawMs);
    if (elapsed > m_frameIntervalMs) {
      CCritSecLock cursor(&m_cursorLock);
      const HWND window = m_hWindow.load(std::memory_order_relaxed);
      if (window != nullptr) DrawSurface(window);
      m_lastTimedDrawMs = m_clock();
    }
  }
  return 0;
}
