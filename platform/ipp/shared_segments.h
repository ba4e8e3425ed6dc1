// Internal to platform/: the System V segments that hold the large IPP buffers. A display server
// on this machine can attach such a segment (MIT-SHM) and read a bitmap where it lies, so a
// paint needs no copy of the frame on our side.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kwz_platform {

struct SharedSegment {
  int shmid = -1;
  const std::uint8_t* base = nullptr;  // where this process has it attached
  std::size_t bytes = 0;
  std::uint64_t serial = 0;  // never reused, unlike shmid and base
};

// The segment that holds all of [address, address + bytes), if any.
std::optional<SharedSegment> FindSharedSegment(const void* address, std::size_t bytes);
// Whether the buffer of that segment is still allocated.
bool SharedSegmentAlive(std::uint64_t serial);
// How many segments have been freed so far: while it stands still, every segment found before
// is alive.
std::uint64_t SharedSegmentsFreed();

void RegisterSharedSegment(const SharedSegment& segment);
void ForgetSharedSegment(const void* base);

}  // namespace kwz_platform
