// Result codes of the receiving path. NET_STOPPED doubles as the code with which a thread body
// ends its loop.
#pragma once

#include "platform/wintypes.h"

constexpr DWORD NET_STOPPED = 240;
constexpr DWORD NET_PACKET = 241;
constexpr DWORD NET_TIMEOUT = 242;
constexpr DWORD NET_WAIT_FAILED = 243;
constexpr DWORD NET_TOO_LARGE = 245;
