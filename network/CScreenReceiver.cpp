#include "network/CScreenReceiver.h"

#include "platform/ipp.h"
#include "runtime/NetResult.h"

CScreenReceiver::CScreenReceiver(CReorderQueue::Clock clock)
    : CNetworkReceiver(clock), m_packet(screen_packet::kInitialCapacity) {}

CScreenReceiver::~CScreenReceiver() = default;

bool CScreenReceiver::Receive(BITMAPINFOHEADER* header, DWORD* blockIndex, BYTE** buffer,
                              DWORD* bufferSize) {
  m_packet.m_bPayloadType = screen_packet::kPayloadType;
  if (ReceiveMessage(&m_packet, m_dwWaitMs) != static_cast<int>(NET_PACKET)) return false;

  m_packet.LoadHeader();
  if (m_packet.Check() != ScreenPacketVerdict::kAccepted) return false;
  BITMAPINFOHEADER parsed;
  DWORD index = 0;
  if (!m_packet.ParseHeader(&parsed, &index)) return false;

  // The engine knows its new capacity as the image size it grew to, so the buffer grows to
  // exactly that. Its buffer starts far above any body; a smaller one loses what does not fit.
  const DWORD bodyLength = m_packet.m_dwLength - screen_packet::kHeaderSize;
  const DWORD capacity = *buffer != nullptr ? *bufferSize : 0;
  if (capacity < parsed.biSizeImage) {
    BYTE* larger = w7_ippsMalloc_8u(static_cast<int>(parsed.biSizeImage));
    if (larger == nullptr) return false;
    w7_ippsFree(*buffer);
    *buffer = larger;
    *bufferSize = parsed.biSizeImage;
  }
  if (bodyLength > (*buffer != nullptr ? *bufferSize : 0)) return false;
  *header = parsed;
  *blockIndex = index;
  if (bodyLength != 0) m_packet.CopyBody(*buffer, bufferSize);
  *bufferSize = bodyLength;
  m_packet.Reset(parsed.biSizeImage);
  return true;
}

void CScreenReceiver::GetRemoteCursor(DWORD* x, DWORD* y) const {
  *x = m_packet.Header().CursorX;
  *y = m_packet.Header().CursorY;
}
