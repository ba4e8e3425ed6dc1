#include "presenter/CRemoteInputListener.h"

#include <cinttypes>

#include "platform/gdi.h"
#include "platform/widestring.h"

namespace presenter {
namespace {

constexpr DWORD kWaitMs = 500;
// Larger than any record, so that an oversized datagram is seen whole and counted as one.
constexpr int kReceiveRoom = 2048;

[[noreturn]] void Raise(LONG line, const char* text, int error) {
  throw exc_remote_input(u"CRemoteInputListener.cpp", line, Widen(text).c_str(),
                         static_cast<DWORD>(error));
}

SIZE PrimaryDisplaySize() {
  HDC screen = GetDC(nullptr);
  const SIZE size{GetDeviceCaps(screen, HORZRES), GetDeviceCaps(screen, VERTRES)};
  ReleaseDC(nullptr, screen);
  return size;
}

}  // namespace

std::string FormatInputRecord(const InputRecord& record) {
  const char* kind = record.type == kInputRecordMouse ? "mouse" : "key";
  char line[160];
  std::snprintf(line, sizeof line,
                "remote: %s x=%d y=%d buttons=0x%X message=0x%04X wParam=0x%08X lParam=0x%08X",
                kind, static_cast<int>(record.x), static_cast<int>(record.y),
                static_cast<unsigned>(record.buttons), static_cast<unsigned>(record.message),
                static_cast<unsigned>(record.wParam), static_cast<unsigned>(record.lParam));
  return line;
}

CRemoteInputListener::CRemoteInputListener(const std::string& address, std::uint16_t port,
                                           bool replay, std::FILE* lines)
    : m_bReplay(replay),
      m_lines(lines),
      m_replay(replay ? PrimaryDisplaySize().cx : 0, replay ? PrimaryDisplaySize().cy : 0) {
  WSADATA data;
  if (int error = WSAStartup(MAKEWORD(2, 2), &data)) Raise(__LINE__, "WSAStartup failed", error);
  m_bWinsock = true;
  // The constructor may raise from here on; the destructor would not run, so each step undoes
  // the ones before it.
  auto fail = [this](LONG line, const char* text) {
    const int error = WSAGetLastError();
    if (m_readable != WSA_INVALID_EVENT) WSACloseEvent(m_readable);
    if (m_socket != INVALID_SOCKET) closesocket(m_socket);
    WSACleanup();
    Raise(line, text, error);
  };
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = inet_addr(address.c_str());
  local.sin_port = htons(port);
  if (local.sin_addr.s_addr == INADDR_NONE) fail(__LINE__, "not an IPv4 address to listen on");
  m_socket = socket(AF_INET, SOCK_DGRAM, 0);
  if (m_socket == INVALID_SOCKET) fail(__LINE__, "cannot create the remote-control socket");
  if (bind(m_socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    fail(__LINE__, "cannot bind the remote-control port");
  }
  sockaddr_in bound{};
  int boundLength = sizeof bound;
  getsockname(m_socket, reinterpret_cast<sockaddr*>(&bound), &boundLength);
  m_port = ntohs(bound.sin_port);
  m_readable = WSACreateEvent();
  if (m_readable == WSA_INVALID_EVENT || WSAEventSelect(m_socket, m_readable, FD_READ) != 0) {
    fail(__LINE__, "cannot wait on the remote-control socket");
  }
  Start();
}

CRemoteInputListener::~CRemoteInputListener() {
  Stop();
  WSACloseEvent(m_readable);
  closesocket(m_socket);
  if (m_bWinsock) WSACleanup();
}

bool CRemoteInputListener::Stop() {
  m_stop.Set();
  return CMediaThread::Stop();
}

RemoteInputCounters CRemoteInputListener::Counters() const {
  return RemoteInputCounters{m_records.load(), m_dropped.load(), m_replayed.load()};
}

DWORD CRemoteInputListener::Run() {
  const WSAEVENT events[2] = {m_readable, m_stop.GetHandle()};
  const DWORD woke = WSAWaitForMultipleEvents(2, events, FALSE, kWaitMs, FALSE);
  if (woke != WSA_WAIT_EVENT_0) return 0;
  BYTE buffer[kReceiveRoom];
  for (;;) {
    sockaddr_in from{};
    int fromLength = sizeof from;
    const int got = recvfrom(m_socket, reinterpret_cast<char*>(buffer), sizeof buffer, 0,
                             reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (got < 0) {
      // WSAEMSGSIZE: a datagram larger than any record; it is gone, and counted as dropped.
      if (WSAGetLastError() == WSAEMSGSIZE) {
        Take(buffer, kReceiveRoom + 1);
        continue;
      }
      break;  // nothing more queued
    }
    Take(buffer, got);
  }
  return 0;
}

void CRemoteInputListener::Take(const BYTE* data, int length) {
  InputRecord record;
  switch (ReadInputRecord(data, static_cast<std::size_t>(length), &record)) {
    case InputRecordError::kWrongLength:
      if (length > kReceiveRoom) {
        std::fprintf(m_lines,
                     "remote: dropped a datagram of more than %d bytes: a record has %zu (%" PRIu64
                     " dropped)\n",
                     kReceiveRoom, kInputRecordSize, ++m_dropped);
      } else {
        std::fprintf(m_lines,
                     "remote: dropped a datagram of %d bytes: a record has %zu (%" PRIu64
                     " dropped)\n",
                     length, kInputRecordSize, ++m_dropped);
      }
      break;
    case InputRecordError::kUnknownType:
      std::fprintf(m_lines, "remote: dropped a record of unknown type %u (%" PRIu64 " dropped)\n",
                   static_cast<unsigned>(data[12]), ++m_dropped);
      break;
    case InputRecordError::kNone: {
      ++m_records;
      std::fprintf(m_lines, "%s\n", FormatInputRecord(record).c_str());
      if (m_bReplay) {
        std::vector<INPUT> inputs = m_replay.Translate(record);
        if (!inputs.empty()) {
          m_replayed += SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
        }
      }
      break;
    }
  }
  std::fflush(m_lines);
}

}  // namespace presenter
