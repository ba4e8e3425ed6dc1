// The endpoint of the screen stream: a CNetworkReceiver that asks for messages of payload type
// 113, accepts only well-formed screen messages and hands their header fields and body to the
// engine, one message per call.
//
// Threads: built, opened and destroyed on the thread that sets up and tears down the engine;
// Receive and GetRemoteCursor run on the engine's receiving thread only.
#pragma once

#include "network/CNetworkReceiver.h"
#include "packet/CSSPacket.h"
#include "platform/wingdi.h"

class CScreenReceiver : public CNetworkReceiver {
 public:
  // How long each wait for a datagram lasts before Receive gives up for this call, unless
  // SetWaitMs says otherwise.
  static constexpr DWORD kWaitMs = 1000;

  explicit CScreenReceiver(CReorderQueue::Clock clock = nullptr);
  ~CScreenReceiver() override;

  // Waits for the next screen message and accepts it when its magic, stream mode, body length
  // and geometry are sound. Then fills *header (stream mode in biCompression, DIB size of the
  // decoded image in biSizeImage) and *blockIndex; when *bufferSize (the capacity of *buffer,
  // an IPP allocation the caller owns) is below biSizeImage, replaces *buffer by one of exactly
  // biSizeImage bytes; copies the body there and sets *bufferSize to the body length. False
  // for a time-out, a stop, an oversize or rejected message, memory that could not be had, or
  // a body larger than the caller's buffer; the header is then untouched.
  bool Receive(BITMAPINFOHEADER* header, DWORD* blockIndex, BYTE** buffer, DWORD* bufferSize);

  // The cursor of the last message that reached the header checks, zero-extended; 65504 in
  // both when the presenter's cursor is off the shared area.
  void GetRemoteCursor(DWORD* x, DWORD* y) const;

  // The wait of each Receive: 0 takes only what has arrived, as a caller that drains the socket
  // between its own steps (a replay of recorded traffic) does.
  void SetWaitMs(DWORD milliseconds) { m_dwWaitMs = milliseconds; }

 private:
  CSSPacket m_packet;  // grows to the largest decoded image met
  DWORD m_dwWaitMs = kWaitMs;
};
