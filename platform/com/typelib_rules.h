// Internal to platform/: what a type library may hold, shared by the image reader and the
// library built from data.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include "platform/typelib_image.h"

namespace kwz_platform {

// Kinds, invoke kinds, argument types and references that the library objects can describe.
bool IsValidTypeLib(const TypeLibData& data);

}  // namespace kwz_platform
