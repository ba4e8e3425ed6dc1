// The tunnel factories of this process, each under a 32-bit id that the "enable_tunnel" setting
// carries. The setting is a 32-bit number while a factory's address needs 64 bits here, so the
// sibling module registers its factory and hands out the id instead of the address.
//
// Ownership: the registry holds factories without owning them; a module unregisters its
// factory before it goes away. Every function may be called from any thread.
#pragma once

#include "network/ITunnel.h"
#include "platform/wintypes.h"

// A new id (never 0, never reused while the process lives) for factory; 0 for a null factory.
DWORD RegisterTunnelFactory(ITunnelFactory* factory);
// Forgets the id; later look-ups of it find nothing. Unknown ids are ignored.
void UnregisterTunnelFactory(DWORD id);
// The factory registered under id; null for 0, an unknown or an unregistered id.
ITunnelFactory* FindTunnelFactory(DWORD id);
