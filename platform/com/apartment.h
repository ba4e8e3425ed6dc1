// Internal to platform/: apartments as the Global Interface Table and its proxies see them.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <functional>
#include <memory>

#include "platform/com.h"

#include "user/message_queue.h"

namespace kwz_platform {

// The calling thread's single-threaded apartment, or null in the multithreaded one.
std::shared_ptr<ThreadQueue> CurrentApartment();
bool ComInitializedHere();

// Runs call on the apartment's thread and waits for its result, running the work handed to
// the calling thread meanwhile; direct when home is the calling thread's own apartment.
// RPC_E_DISCONNECTED when that apartment has closed. The error information that call leaves
// becomes the calling thread's.
HRESULT CallInApartment(const std::shared_ptr<ThreadQueue>& home,
                        const std::function<HRESULT()>& call);
// Releases object on its apartment's thread: now when that is this thread or the thread has
// ended, else when that thread next runs its handed work.
void ReleaseInApartment(const std::shared_ptr<ThreadQueue>& home, IUnknown* object);

// CoCreateInstance of a class registered in the registry (com/activation.cpp).
HRESULT CreateRegisteredInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                                 void** object);

// The closing apartment's thread: releases and revokes the interfaces it registered.
void RevokeApartmentInterfaces(ThreadQueue* home);

}  // namespace kwz_platform
