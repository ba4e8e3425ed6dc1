// The Winsock 2.2 subset of the system: IPv4 UDP sockets, multicast membership, network events
// and host-name lookup, over BSD sockets and poll(2).
//
// A SOCKET names an entry of the process-wide handle table (as HANDLE values do), never a raw
// descriptor: a socket closed twice, or a stale value read from a shared record, fails with
// WSAENOTSOCK instead of closing a descriptor that something else has reused. Values fit in 32
// bits and are never 0.
//
// Every call except WSAStartup, WSACleanup, the byte-order helpers and inet_addr fails with
// WSANOTINITIALISED while no WSAStartup is outstanding in the process, as on Windows. Errors are
// reported through WSAGetLastError (the thread's last error, shared with GetLastError).
//
// Windows semantics kept where Linux differs:
// - A socket bound to a unicast address receives the datagrams of the multicast groups it joined
//   on that address (Linux delivers a group's datagrams only to sockets bound to the group or to
//   INADDR_ANY). Each such membership is carried by a companion descriptor bound to group:port;
//   reads, FIONREAD and network events cover the socket and its companions.
// - WSAEventSelect makes the socket non-blocking; a wait finds the event signalled while the
//   socket has a selected condition (FD_READ: a datagram is queued; FD_CLOSE: the socket was
//   shut down), and signals it then, so it stays signalled until reset.
// Not kept: SO_REUSEADDR does not let a socket take over a port that another socket bound
// without it (Linux refuses the second bind, Windows lets it steal the port).
#pragma once

#include "platform/winerror.h"
#include "platform/wintypes.h"

#pragma GCC visibility push(default)

using SOCKET = UINT_PTR;
#define INVALID_SOCKET (~static_cast<SOCKET>(0))
#define SOCKET_ERROR (-1)

// Start-up data. Filled with version 2.2 on success.
#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128
struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
};
using LPWSADATA = WSADATA*;
#define MAKEWORD(low, high) \
  (static_cast<WORD>((static_cast<BYTE>(low)) | (static_cast<WORD>(static_cast<BYTE>(high)) << 8)))

// Counted: each successful WSAStartup must be balanced by one WSACleanup. Returns 0 or a WSA
// error code (WSAVERNOTSUPPORTED for versions below 1.1, WSAEFAULT for a null data pointer).
int WSAStartup(WORD versionRequested, LPWSADATA data);
// SOCKET_ERROR with WSANOTINITIALISED when there is no start-up left to balance.
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

// Addresses. in_addr and sockaddr_in have the Windows field names and the wire layout.
#define AF_INET 2
#define PF_INET AF_INET
#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define IPPROTO_IP 0
#define IPPROTO_UDP 17
#define INADDR_ANY 0x00000000u
#define INADDR_LOOPBACK 0x7F000001u
#define INADDR_NONE 0xFFFFFFFFu

struct in_addr {
  union {
    struct {
      BYTE s_b1, s_b2, s_b3, s_b4;
    } S_un_b;
    ULONG S_addr;
  } S_un;
};
#define s_addr S_un.S_addr

struct sockaddr {
  USHORT sa_family;
  char sa_data[14];
};
struct sockaddr_in {
  SHORT sin_family;
  USHORT sin_port;
  in_addr sin_addr;
  char sin_zero[8];
};
using SOCKADDR = sockaddr;
using SOCKADDR_IN = sockaddr_in;
static_assert(sizeof(sockaddr_in) == 16 && sizeof(sockaddr) == 16);

USHORT htons(USHORT value);
USHORT ntohs(USHORT value);
ULONG htonl(ULONG value);
ULONG ntohl(ULONG value);

// Windows' parser: one to four parts, each decimal, octal (leading 0) or hexadecimal (0x); a
// blank ends the text. Network byte order; INADDR_NONE for a null, empty or malformed text (and
// for "255.255.255.255"); a text that starts with a blank gives 0.
ULONG inet_addr(const char* text);

// Sockets. Only AF_INET is supported.
SOCKET socket(int family, int type, int protocol);
int closesocket(SOCKET s);
int bind(SOCKET s, const sockaddr* name, int nameLength);
int getsockname(SOCKET s, sockaddr* name, int* nameLength);
int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* fromLength);
int sendto(SOCKET s, const char* buffer, int length, int flags, const sockaddr* to, int toLength);

// Options understood by setsockopt; others fail with WSAENOPROTOOPT.
#define SOL_SOCKET 0xFFFF
#define SO_REUSEADDR 0x0004
#define SO_BROADCAST 0x0020
#define SO_RCVBUF 0x1002
#define SO_SNDBUF 0x1001
#define IP_MULTICAST_IF 9
#define IP_MULTICAST_TTL 10
#define IP_MULTICAST_LOOP 11
#define IP_ADD_MEMBERSHIP 12
#define IP_DROP_MEMBERSHIP 13
struct ip_mreq {
  in_addr imr_multiaddr;
  in_addr imr_interface;
};
int setsockopt(SOCKET s, int level, int name, const char* value, int length);
int getsockopt(SOCKET s, int level, int name, char* value, int* length);

#define FIONREAD 0x4004667Fu
#define FIONBIO 0x8004667Eu
// FIONREAD gives at least the size of the next datagram (0 when none is queued).
int ioctlsocket(SOCKET s, long command, ULONG* argument);

// Network events. A WSAEVENT is a manual-reset event handle, so a wait can cover it together
// with ordinary events.
using WSAEVENT = HANDLE;
#define WSA_INVALID_EVENT (static_cast<WSAEVENT>(nullptr))
#define WSA_MAXIMUM_WAIT_EVENTS 64
#define WSA_WAIT_EVENT_0 0x00000000u
#define WSA_WAIT_TIMEOUT 0x00000102u
#define WSA_WAIT_FAILED 0xFFFFFFFFu
#define WSA_INFINITE 0xFFFFFFFFu
#define WSA_INVALID_HANDLE 6
#define WSA_INVALID_PARAMETER 87
#define FD_READ_BIT 0
#define FD_READ (1 << FD_READ_BIT)
#define FD_CLOSE_BIT 5
#define FD_CLOSE (1 << FD_CLOSE_BIT)
#define FD_MAX_EVENTS 10
struct WSANETWORKEVENTS {
  long lNetworkEvents;
  int iErrorCode[FD_MAX_EVENTS];
};
using LPWSANETWORKEVENTS = WSANETWORKEVENTS*;

WSAEVENT WSACreateEvent();
BOOL WSACloseEvent(WSAEVENT event);
BOOL WSASetEvent(WSAEVENT event);
BOOL WSAResetEvent(WSAEVENT event);
// Selects FD_READ and/or FD_CLOSE of the socket into the event (replacing an earlier selection
// of that socket; 0 cancels it) and makes the socket non-blocking. Other FD_ bits are not part
// of the subset (WSAEINVAL).
int WSAEventSelect(SOCKET s, WSAEVENT event, long networkEvents);
// Waits until any one of the events is signalled, a network event counting as signalled while
// its socket has a selected condition. Returns WSA_WAIT_EVENT_0 + the lowest such index,
// WSA_WAIT_TIMEOUT or WSA_WAIT_FAILED. An auto-reset event is consumed by the wait that reports
// it. A bad handle fails with WSA_INVALID_HANDLE. Waiting for all events and alertable waits
// are not part of the subset (WSA_WAIT_FAILED with WSA_INVALID_PARAMETER).
DWORD WSAWaitForMultipleEvents(DWORD count, const WSAEVENT* events, BOOL waitAll, DWORD timeout,
                               BOOL alertable);
// Resets the event, when given, and reports the socket's network events: those recorded since
// the last enumeration (a wait that finds a selected condition records it, as Windows records
// the event when it occurs, so a datagram read meanwhile is still reported), or, with none
// recorded, the selected conditions the socket has now. A wait finds FD_READ again while a
// datagram is queued (Windows re-records it after each read that leaves data queued, which
// comes to the same). Selecting anew clears the record.
int WSAEnumNetworkEvents(SOCKET s, WSAEVENT event, LPWSANETWORKEVENTS networkEvents);

// Host names. gethostbyname returns a per-thread entry, valid until the thread's next call.
struct hostent {
  char* h_name;
  char** h_aliases;
  short h_addrtype;
  short h_length;
  char** h_addr_list;
};
#define h_addr h_addr_list[0]
int gethostname(char* name, int length);
hostent* gethostbyname(const char* name);

#pragma GCC visibility pop
