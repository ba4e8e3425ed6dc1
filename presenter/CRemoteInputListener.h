// The presenter's end of remote control: a UDP socket that takes the viewers' 24-byte input
// records, writes each one decoded as a line, and on request replays it into the desktop
// (SendInput). A datagram that is not a record (wrong length, unknown type) is counted and
// dropped with a line that says why.
//
// Ownership and threads: owned by the presenter program; its own thread reads the socket and
// writes the lines from construction to Stop. Counters() and Port() may be read from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "network/InputRecord.h"
#include "platform/winsock.h"
#include "presenter/RemoteInputReplay.h"
#include "runtime/CEvent.h"
#include "runtime/CMediaThread.h"
#include "runtime/base_exception.h"

class exc_remote_input : public base_exception {
 public:
  exc_remote_input(const WCHAR* file, LONG line, const WCHAR* message, DWORD code)
      : base_exception(file, line, u"remote_input", message, code) {}
};

namespace presenter {

// The line written for a record: its kind, position, buttons, message, wParam and lParam.
std::string FormatInputRecord(const InputRecord& record);

struct RemoteInputCounters {
  std::uint64_t records = 0;
  std::uint64_t dropped = 0;
  std::uint64_t replayed = 0;  // input events injected into the desktop
};

class CRemoteInputListener : public CMediaThread {
 public:
  // Binds to address:port (port 0: any free port) and starts the thread. replay: hand each
  // record's events to SendInput. Raises exc_remote_input when the socket cannot be had.
  CRemoteInputListener(const std::string& address, std::uint16_t port, bool replay,
                       std::FILE* lines);
  ~CRemoteInputListener() override;
  CRemoteInputListener(const CRemoteInputListener&) = delete;
  CRemoteInputListener& operator=(const CRemoteInputListener&) = delete;

  // Takes every datagram that is queued, waiting at most a moment for the first.
  DWORD Run() override;
  // Wakes the thread's wait and stops it.
  bool Stop() override;

  std::uint16_t Port() const { return m_port; }
  RemoteInputCounters Counters() const;

 private:
  void Take(const BYTE* data, int length);

  bool m_bWinsock = false;
  SOCKET m_socket = INVALID_SOCKET;
  WSAEVENT m_readable = WSA_INVALID_EVENT;
  CEvent m_stop{true};
  std::uint16_t m_port = 0;
  const bool m_bReplay;
  std::FILE* m_lines;
  RemoteInputReplay m_replay;  // thread only
  std::atomic<std::uint64_t> m_records{0};
  std::atomic<std::uint64_t> m_dropped{0};
  std::atomic<std::uint64_t> m_replayed{0};
};

}  // namespace presenter
