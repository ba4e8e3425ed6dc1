// Remote control: the transport (own UDP socket or the tunnel's sending instance), the re-send
// thread, and the mouse and keyboard messages that become input records.
#include "control/AutomationBoundary.h"
#include "control/CKWZ_ScreenReceiver.h"
#include "control/RemoteControlThread.h"
#include "control/RemoteInputRules.h"
#include "network/TunnelRegistry.h"
#include "platform/debug.h"
#include "platform/winerror.h"

namespace {

// ToUnicode's room; a dead key that cannot combine gives two characters, never more here.
constexpr int kCharacterRoom = 10;

}  // namespace

HRESULT CKWZ_ScreenReceiver::StartRemoteControl() {
  return kwz_control::RunAtBoundary(
      "KWZ Unknown exception\nCKWZ_ScreenReceiver::StartRemoteControl", [this]() -> HRESULT {
        EndRemoteControl();
        CCritSecLock remote(&m_csRemote);
        if (m_nTunnel != 0) {
          // An id that names no factory, or a factory without a sending instance, counts as a
          // transport that cannot be opened.
          ITunnelFactory* factory = FindTunnelFactory(m_nTunnel);
          ITunnel* tunnel = factory != nullptr ? factory->CreateSender() : nullptr;
          if (tunnel == nullptr) return S_FALSE;
          tunnel->SetOption(0);
          m_pRemoteFactory = factory;
          m_pTunnel = tunnel;
          // Taken now, as the socket's destination is: the re-send thread must not read the
          // property while the container writes it.
          m_nTunnelPort = static_cast<DWORD>(m_nServerPort);
        } else {
          const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
          if (s == INVALID_SOCKET) return S_FALSE;
          m_socket = s;
          m_addrServer = sockaddr_in{};
          m_addrServer.sin_family = AF_INET;
          // A malformed address is not reported: the records go to 255.255.255.255, which
          // the socket, not allowed to broadcast, refuses.
          m_addrServer.sin_addr.s_addr = inet_addr(m_strServerAddress.c_str());
          m_addrServer.sin_port = htons(static_cast<USHORT>(m_nServerPort));
        }
        m_mouseRecord = InputRecord{};
        m_mouseRecord.type = kInputRecordMouse;
        m_mouseRecord.message = 0;
        m_pRemoteThread = new RemoteControlThread(
            this,
            m_nResendPeriodMs != 0 ? m_nResendPeriodMs : RemoteControlThread::kResendIntervalMs);
        OutputDebugStringA("Running ScreenReceiver RemoteControlThread\n");
        return S_OK;
      });
}

HRESULT CKWZ_ScreenReceiver::EndRemoteControl() {
  // The thread is stopped before m_csRemote is taken: it holds the lock only around one send,
  // so the stop cannot wait on this thread.
  if (m_pRemoteThread != nullptr) {
    OutputDebugStringA("Ending ScreenReceiver RemoteControlThread\n");
    m_pRemoteThread->Stop();
    delete m_pRemoteThread;
    m_pRemoteThread = nullptr;
  }
  CCritSecLock remote(&m_csRemote);
  CloseRemoteTransport();
  return S_OK;
}

void CKWZ_ScreenReceiver::SetResendPeriod(DWORD periodMs) {
  m_nResendPeriodMs = periodMs;
}

void CKWZ_ScreenReceiver::ResendNow() {
  if (m_pRemoteThread != nullptr) m_pRemoteThread->Wake();
}

bool CKWZ_ScreenReceiver::RemoteControlRunning() const {
  return m_pRemoteThread != nullptr && m_pRemoteThread->IsRunning();
}

bool CKWZ_ScreenReceiver::HasFocus() const {
  CCritSecLock remote(&m_csRemote);
  return m_bHasFocus;
}

void CKWZ_ScreenReceiver::CloseRemoteTransport() {
  // The instance goes back to the factory that gave it, even when "enable_tunnel" has been
  // changed since.
  if (m_pTunnel != nullptr) {
    m_pRemoteFactory->Release(m_pTunnel);
    m_pTunnel = nullptr;
    m_pRemoteFactory = nullptr;
  }
  if (m_socket != INVALID_SOCKET) {
    closesocket(m_socket);
    m_socket = INVALID_SOCKET;
  }
}

void CKWZ_ScreenReceiver::ResendMouseRecord() {
  CCritSecLock remote(&m_csRemote);
  SendInputRecord(m_mouseRecord, static_cast<int>(kInputRecordSize));
}

void CKWZ_ScreenReceiver::SendInputRecord(const InputRecord& record, int length) {
  // The cursor is read whichever record goes out, so the mouse record follows the cursor even
  // while only keys are typed. record may be the mouse record itself: it is written out below,
  // after the update.
  const HWND window = m_hWnd.load(std::memory_order_relaxed);
  POINT cursor;
  RECT bounds;
  if (window != nullptr && GetCursorPos(&cursor) && GetWindowRect(window, &bounds) &&
      cursor.x >= bounds.left && cursor.x <= bounds.right && cursor.y >= bounds.top &&
      cursor.y <= bounds.bottom) {
    LONG x = cursor.x - bounds.left;
    LONG y = cursor.y - bounds.top;
    if (m_bEnableStretch.load(std::memory_order_relaxed) && m_pEngine != nullptr) {
      RECT screen;
      m_pEngine->GetScreenRect(&screen);
      const long long width = bounds.right - bounds.left;
      const long long height = bounds.bottom - bounds.top;
      // A window without width or height cannot be scaled from; its offsets stand.
      if (width > 0) x = static_cast<LONG>((screen.right - screen.left) * 1LL * x / width);
      if (height > 0) y = static_cast<LONG>((screen.bottom - screen.top) * 1LL * y / height);
    }
    m_mouseRecord.x = x;
    m_mouseRecord.y = y;
  }

  BYTE bytes[kInputRecordSize];
  WriteInputRecord(record, bytes);
  const int size =
      length < static_cast<int>(kInputRecordSize) ? length : static_cast<int>(kInputRecordSize);
  // Send failures are not acted on: the next record goes out as usual.
  if (m_pTunnel != nullptr) {
    m_pTunnel->Send(bytes, size, TunnelAddress{0, m_nTunnelPort});
  } else if (m_socket != INVALID_SOCKET) {
    sendto(m_socket, reinterpret_cast<const char*>(bytes), size, 0,
           reinterpret_cast<const sockaddr*>(&m_addrServer), sizeof m_addrServer);
  }
}

LRESULT CKWZ_ScreenReceiver::OnMouseButton(UINT message) {
  CCritSecLock remote(&m_csRemote);
  m_mouseRecord.buttons = UpdateButtonBits(m_mouseRecord.buttons, message);
  // SetFocus runs the focus handler at once, on this thread, inside this lock.
  if (IsButtonPress(message) && !m_bHasFocus) SetFocus(m_hWnd.load(std::memory_order_relaxed));
  SendInputRecord(m_mouseRecord, static_cast<int>(kInputRecordSize));
  return 0;
}

LRESULT CKWZ_ScreenReceiver::OnKey(UINT message, WPARAM vk, LPARAM lParam) {
  BYTE state[256] = {};
  WCHAR characters[kCharacterRoom] = {};
  int count = 0;
  if (KeyNeedsCharacters(message, vk)) {
    GetKeyboardState(state);
    // The scan-code half of lParam: its high bit tells a released key, as ToUnicode expects.
    const UINT scan = static_cast<UINT>((static_cast<DWORD>(lParam) >> 16) & 0xFFFF);
    count = ToUnicode(static_cast<UINT>(vk), scan, state, characters, kCharacterRoom, 0);
  }
  const KeyOutcome outcome =
      ComposeKeyRecord(message, vk, lParam, state[VK_CONTROL], count, characters[0]);
  if (!outcome.send) return outcome.result;
  CCritSecLock remote(&m_csRemote);
  m_keyRecord.message = outcome.message;
  m_keyRecord.wParam = outcome.wParam;
  m_keyRecord.lParam = outcome.lParam;
  SendInputRecord(m_keyRecord, static_cast<int>(kInputRecordSize));
  return 0;
}
