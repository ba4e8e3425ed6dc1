// The datagram tunnel that a sibling module of the same process may hand to the control through
// the "enable_tunnel" setting. This system only calls these slots; the tunnel module implements
// them. The order of the virtual methods is the slot order of the module's object, so no method
// may be added, removed or moved, and neither interface has a virtual destructor (instances are
// handed back through the factory instead).
#pragma once

#include "platform/wintypes.h"

// An address pair passed by value or filled by the tunnel: an IPv4 address (always 0 from this
// system) and a port as a 32-bit word.
struct TunnelAddress {
  DWORD address;
  DWORD port;
};
static_assert(sizeof(TunnelAddress) == 8);

class ITunnel {
 public:
  // Slot 0: not called by this system.
  virtual void Reserved0() = 0;
  // Slot 1: receives one datagram into buffer (capacity 65535 from this system) and may fill
  // *from, which the caller zeroes. Returns the byte count; 0 or less means nothing was pending.
  // Called on the engine's receiving thread.
  virtual int Receive(BYTE* buffer, int capacity, TunnelAddress* from) = 0;
  // Slot 2: not called by this system.
  virtual void Reserved2() = 0;
  // Slot 3: sends one datagram to {0, destination port}; the count returned is not used. Called
  // with the remote-control lock held, from the container's or the remote-control thread.
  virtual int Send(const BYTE* data, int length, TunnelAddress to) = 0;
  // Slot 4: the event that is signalled while a datagram is ready. Owned by the tunnel.
  virtual HANDLE GetEvent() = 0;
  // Slot 5: not called by this system.
  virtual void Reserved5() = 0;
  // Slot 6: an option byte handed over right after creation (always false/0 from this system).
  virtual void SetOption(BYTE option) = 0;

 protected:
  ~ITunnel() = default;
};

class ITunnelFactory {
 public:
  // Slot 0: a receiving instance for the endpoint's local port ({0, port}).
  virtual ITunnel* CreateReceiver(TunnelAddress local) = 0;
  // Slot 1: a sending instance, for remote control.
  virtual ITunnel* CreateSender() = 0;
  // Slot 2: takes back an instance that slot 0 or 1 gave out.
  virtual void Release(ITunnel* tunnel) = 0;

 protected:
  ~ITunnelFactory() = default;
};
