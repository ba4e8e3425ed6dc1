// The screen-sharing engine: owns one incoming screen stream from set-up to teardown. Each pass
// of its thread receives at most one screen message, hands it to the drawing surface and paints
// the surface into the control's window: after every message of a video mode, and at the frame
// interval for block modes, whose messages carry one block each.
//
// Ownership: the engine owns the surface, the endpoint, the body buffer (IPP allocation) and the
// stop event. The size sink, the tunnel factory and the window are not owned and must outlive
// the engine (or the next Setup).
// Threads: the control's thread configures the engine and calls Setup, Start, Stop, SetStretch,
// GetPacketLossReport and the destructor; the remote-control thread calls GetScreenRect; Run
// is the engine's own thread. Locks, when several are held: setup, then pass, then cursor.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/CBMPManager.h"
#include "engine/IScreenSharing.h"
#include "network/CScreenReceiver.h"
#include "network/ITunnel.h"
#include "packet/ScreenPacketFormat.h"
#include "platform/wingdi.h"
#include "platform/wintypes.h"
#include "runtime/CCriticalSection.h"
#include "runtime/CEvent.h"
#include "runtime/CMediaThread.h"

class CScreenSharing : public CMediaThread {
 public:
  static constexpr DWORD kDefaultPort = 60004;
  static constexpr const char* kDefaultLocalAddress = "0.0.0.0";
  static constexpr const char* kDefaultGroupAddress = "224.76.12.19";
  static constexpr DWORD kBodyBufferSize = 180000;
  static constexpr DWORD kBlockSize = 100;
  static constexpr DWORD kDefaultBitRate = 250;  // kbit/s
  static constexpr DWORD kDefaultFrameRate = 10;

  CScreenSharing();

  // One pass: at most one message received, decoded and painted. Always returns 0, so the
  // thread ends only through Stop.
  DWORD Run() override;
  // Stops the thread, then frees surface, endpoint (its tunnel handed back first) and body
  // buffer, in that order.
  ~CScreenSharing() override;
  // Resets the stop event and starts the thread; true at once when it already runs.
  bool Start() override;
  // Sets the stop event (waking a pass that waits for a datagram), stops the thread and hands
  // the endpoint's tunnel back. Returns the thread stop's result.
  bool Stop() override;

  // Replace the strings used by the next Setup. A null local address makes that Setup raise
  // exc_CNetwork; a null group joins nothing.
  void SetLocalAddress(const char* address);
  void SetGroupAddress(const char* address);
  // The window painted into; nothing is painted while it is null. Any thread.
  void SetWindow(HWND window) { m_hWindow.store(window, std::memory_order_relaxed); }
  // Forwarded to the surface; does nothing before the first Setup.
  void SetStretch(bool stretch);

  // Stops the thread and replaces surface, endpoint and body buffer. S_OK, or E_FAIL when the
  // endpoint cannot be opened (it stays, unopened, and Start then runs only timed draws). An
  // invalid or missing local address raises exc_CNetwork.
  HRESULT Setup();

  // "lost/received" datagram counts since the last call, which resets them; "0/0" without an
  // endpoint.
  std::u16string GetPacketLossReport();
  // 0, 0, width, height of the last accepted message; 0 x 0 before any. Any thread, no lock.
  void GetScreenRect(RECT* rect) const;

  // Read-only views for diagnostics and tests; meaningful while the thread does not run.
  const CBMPManager* Surface() const { return m_pSurface; }
  DWORD BodyCapacity() const { return m_dwBodyCapacity; }
  DWORD StreamMode() const { return m_dwStreamMode.load(std::memory_order_relaxed); }

  // The millisecond tick count that paces the timed draws (timeGetTime unless a test gives a
  // virtual one), and the wait of each receive (CScreenReceiver::kWaitMs unless a test sets
  // another). Set before Setup, which hands the wait on.
  using Clock = DWORD (*)();
  void SetClock(Clock clock) { m_clock = clock; }
  void SetReceiveWaitMs(DWORD milliseconds) { m_dwReceiveWaitMs = milliseconds; }

  // Plain settings the control writes before Setup, which hands them on; not read by the
  // engine's thread.
  IScreenSharing* m_pSizeSink = nullptr;       // not owned
  ITunnelFactory* m_pTunnelFactory = nullptr;  // not owned; null: the endpoint's own socket
  DWORD m_dwPort = kDefaultPort;               // the flags-and-port word of CNetwork::Open
  bool m_bReorder = true;                      // handed to the endpoint's receiver

 private:
  // A Draw as the pass makes it, with the cursor of the last message. Cursor lock held.
  void DrawSurface(HWND window);
  // Deletes the endpoint, handing its tunnel back first. Setup lock or destructor.
  void DeleteEndpoint();

  CBMPManager* m_pSurface = nullptr;  // owned; replaced by Setup with the thread stopped
  std::optional<std::string> m_localAddress{kDefaultLocalAddress};
  CCriticalSection m_cursorLock;  // cursor position and the per-message draw
  CCriticalSection m_passLock;    // held by the thread for the whole of each pass
  // Written by the thread, read by Setup with the thread stopped.
  std::atomic<DWORD> m_dwStreamMode{1};
  BYTE* m_pBody = nullptr;     // IPP allocation; the thread may replace it with a larger one
  DWORD m_dwBodyCapacity = 0;  // bytes at m_pBody
  const DWORD m_dwBlockWidth = kBlockSize;
  const DWORD m_dwBlockHeight = kBlockSize;
  // The last accepted message; biCompression carries the bytes per pixel once the pass has
  // taken the stream mode out of it. Thread only.
  BITMAPINFOHEADER m_header{};
  // Its width (low half) and height (high half), mirrored for GetScreenRect on other threads.
  // One word, so a reader without a lock never pairs one screen's width with another's height.
  std::atomic<std::uint64_t> m_screenSize{0};
  CCriticalSection m_setupLock;
  CScreenReceiver* m_pEndpoint = nullptr;  // owned; replaced by Setup with the thread stopped
  // Covers replacing the endpoint against GetPacketLossReport, which may run on another thread
  // than Setup and must not read the counters of a deleted endpoint.
  CCriticalSection m_endpointLock;
  std::optional<std::string> m_groupAddress{kDefaultGroupAddress};
  const DWORD m_dwBitRate = kDefaultBitRate;
  const DWORD m_dwFrameRate = kDefaultFrameRate;
  const std::uint64_t m_frameIntervalMs = 1000 / kDefaultFrameRate;
  Clock m_clock;
  DWORD m_dwReceiveWaitMs;
  std::uint64_t m_lastTimedDrawMs = 0;  // m_clock of the last interval draw; thread only
  // The cursor of the last message; 0xFFE0 means none. Guarded by m_cursorLock.
  DWORD m_dwCursorX = screen_packet::kNoCursor;
  DWORD m_dwCursorY = screen_packet::kNoCursor;
  std::atomic<HWND> m_hWindow{nullptr};
  CEvent m_stopEvent{true};  // manual reset: stays set from Stop until the next Start
};
