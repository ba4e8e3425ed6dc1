// Internal to platform/: the kernel object behind a SOCKET, in neutral types, so that the Winsock
// functions (which reuse the BSD names with Windows layouts) and the BSD socket calls never meet
// in one translation unit. Every method may be called from any thread.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <atomic>
#include <memory>
#include <memory_resource>
#include <mutex>
#include <vector>

#include "kernel/handle_table.h"
#include "winsock/datagram_queue.h"

namespace kwz_platform {

class EventObject;

// The one translation of errno values into Winsock error codes.
int WsaErrorFromErrno(int error);

// False, with WSANOTINITIALISED as the last error, while no WSAStartup is outstanding.
bool WinsockStarted();

// An IPv4 address and port, both in network byte order.
struct Ipv4Endpoint {
  std::uint32_t address;
  std::uint16_t port;
};

// An open descriptor, closed with its last reference: a wait in progress keeps the descriptors
// it polls open even when another thread closes the socket.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor();
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int fd() const { return fd_; }

 private:
  const int fd_;
};

enum class SocketOption {
  kReuseAddress,
  kBroadcast,
  kReceiveBuffer,
  kSendBuffer,
  kMulticastInterface,  // value: the interface address, network order
  kMulticastTtl,
  kMulticastLoop,
};

// Methods return 0 or a Winsock error code.
class SocketObject : public KernelObject {
 public:
  // Null with *error set when the descriptor cannot be made.
  static std::shared_ptr<SocketObject> Create(bool datagram, int* error);
  ~SocketObject() override;

  // A socket is not a waitable object of the subset.
  DWORD Wait(DWORD milliseconds) override;

  int Bind(Ipv4Endpoint local);
  int LocalName(Ipv4Endpoint* local);
  int ReceiveFrom(void* buffer, std::size_t length, Ipv4Endpoint* from, int* received);
  int SendTo(const void* data, std::size_t length, Ipv4Endpoint to, int* sent);
  int SetOption(SocketOption option, std::uint32_t value);
  int GetOption(SocketOption option, std::uint32_t* value);
  // Group and interface in network byte order.
  int AddMembership(std::uint32_t group, std::uint32_t interfaceAddress);
  int DropMembership(std::uint32_t group, std::uint32_t interfaceAddress);
  int PendingBytes(std::uint32_t* count);
  int SetNonBlocking(bool nonBlocking);
  // Whether datagrams taken from the descriptor wait in the socket: it is readable then, whatever
  // a poll of the descriptor says.
  bool HasQueued();

  // What network events poll: [0] is the socket itself, then one companion per membership that
  // the socket's own binding would not receive. Appended to *out.
  void AppendDescriptors(std::pmr::vector<std::shared_ptr<Descriptor>>* out);

  // The network-event selection (WSAEventSelect): the event and the FD_ bits, or none.
  // Selecting anew clears the record below, as on Windows.
  void Select(const std::shared_ptr<EventObject>& event, long mask);
  std::shared_ptr<EventObject> SelectedEvent();
  // The selected bits while the selection is into event, else 0.
  long SelectedMaskFor(const EventObject* event);
  long SelectedMask();

  // Network events recorded by the waits that saw them, until an enumeration takes them.
  void Record(long events) { recorded_.fetch_or(events, std::memory_order_relaxed); }
  long TakeRecorded() { return recorded_.exchange(0, std::memory_order_relaxed); }

 private:
  struct Companion {
    std::uint32_t group;
    std::uint32_t interfaceAddress;
    std::shared_ptr<Descriptor> descriptor;
  };

  SocketObject(int fd, bool datagram)
      : main_(std::make_shared<Descriptor>(fd)), datagram_(datagram) {}
  int JoinOnCompanion(std::uint32_t group, std::uint32_t interfaceAddress);
  // Without companions (the usual case) the calls use main_ alone and copy no list.
  bool HasCompanions();
  // Reads from the queue, filling it first from every descriptor when batch is set (a
  // non-blocking datagram socket). Returns false when the caller must read as before.
  bool ReceiveQueued(void* buffer, std::size_t length, bool batch, Ipv4Endpoint* from,
                     int* received, int* error);
  // Fills the empty queue from the socket's descriptors; the queue lock is held.
  int FillQueueLocked();

  const std::shared_ptr<Descriptor> main_;
  const bool datagram_;
  std::atomic<long> recorded_{0};
  std::mutex queueLock_;  // when both are held, taken before lock_
  DatagramQueue queue_;   // guarded by queueLock_
  std::mutex lock_;
  std::weak_ptr<EventObject> selectedEvent_;  // guarded by lock_
  long selectedMask_ = 0;                     // guarded by lock_
  std::vector<Companion> companions_;         // guarded by lock_
  bool nonBlocking_ = false;                  // guarded by lock_
  std::uint32_t receiveBuffer_ = 0;           // guarded by lock_; the size asked for, 0 until set
};

// Host names, for gethostname and gethostbyname.
int LocalHostName(char* name, std::size_t length);  // 0 or a Winsock error code
// The IPv4 addresses of a host, network order; false when the name does not resolve.
bool ResolveHostIPv4(const char* name, std::vector<std::uint32_t>* addresses);

}  // namespace kwz_platform
