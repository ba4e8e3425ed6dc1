// Allocation, zeroing and region copies of the IPP subset.
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>

#include <cstdint>
#include <cstring>
#include <new>

#include <libyuv/planar_functions.h>

#include "platform/ipp.h"

#include "ipp/shared_segments.h"

namespace {

constexpr size_t kAlignment = 64;  // a cache line, and enough for any SIMD load

// Bitmaps and body buffers are mapped from the system and unmapped when freed, as the Windows
// heap does with its large blocks. They are mapped as System V shared memory where the system
// allows it, so that a local display server can read a bitmap in place. Through the C heap, the
// first large buffer freed raises its mmap threshold, and from then on buffers below it stay in the
// heap's arenas when freed: a viewer that sees many screen sizes (or a sender that announces them)
// would keep resident the most it ever held. Under AddressSanitizer every buffer stays on the heap,
// where its bounds are checked.
#if defined(__SANITIZE_ADDRESS__)
#define KWZ_HEAP_ONLY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KWZ_HEAP_ONLY 1
#endif
#endif
#ifdef KWZ_HEAP_ONLY
constexpr bool kHeapOnly = true;
#else
constexpr bool kHeapOnly = false;
#endif
constexpr size_t kMappedFrom = 256 * 1024;

// Otherwise every buffer starts one alignment unit after the header that says how it was
// obtained.
struct alignas(kAlignment) BlockHeader {
  size_t mappedBytes;  // the mapping's length, or 0 for a heap block
  bool shared;         // a System V segment rather than an anonymous mapping
};
static_assert(sizeof(BlockHeader) == kAlignment);

// A private segment, attached here and already marked for removal: it goes away with its last
// attachment (this process's, or a display server's), even if the process dies. Null where the
// system refuses (limits, no System V IPC).
void* MapSharedSegment(size_t bytes) {
  const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (id < 0) return nullptr;
  void* address = shmat(id, nullptr, 0);
  shmctl(id, IPC_RMID, nullptr);
  if (address == reinterpret_cast<void*>(-1)) return nullptr;
  // A forked child would share the buffer rather than get a copy of it, as it does with the
  // rest of the heap; it gets neither.
  madvise(address, bytes, MADV_DONTFORK);
  kwz_platform::RegisterSharedSegment(
      kwz_platform::SharedSegment{id, static_cast<const std::uint8_t*>(address), bytes, 0});
  return address;
}

IppStatus CopyRegion(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                     int channels) {
  if (src == nullptr || dst == nullptr) return ippStsNullPtrErr;
  if (roi.width <= 0 || roi.height <= 0) return ippStsSizeErr;
  const long long rowBytes = static_cast<long long>(roi.width) * channels;
  if (rowBytes > 0x7FFFFFFF || srcStep < rowBytes || dstStep < rowBytes) return ippStsStepErr;
  libyuv::CopyPlane(src, srcStep, dst, dstStep, static_cast<int>(rowBytes), roi.height);
  return ippStsNoErr;
}

}  // namespace

Ipp8u* w7_ippsMalloc_8u(int len) {
  if (len < 1) return nullptr;
  // aligned_alloc wants a multiple of the alignment; the slack is never handed out.
  const size_t rounded = (static_cast<size_t>(len) + kAlignment - 1) / kAlignment * kAlignment;
  if constexpr (kHeapOnly) return static_cast<Ipp8u*>(aligned_alloc(kAlignment, rounded));
  const size_t total = rounded + sizeof(BlockHeader);
  void* block = nullptr;
  size_t mappedBytes = 0;
  bool shared = false;
  if (total >= kMappedFrom) {
    block = MapSharedSegment(total);
    shared = block != nullptr;
    if (!shared) {
      block = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (block == MAP_FAILED) return nullptr;
    }
    mappedBytes = total;
  } else {
    block = aligned_alloc(kAlignment, total);
    if (block == nullptr) return nullptr;
  }
  auto* header = new (block) BlockHeader{mappedBytes, shared};
  return reinterpret_cast<Ipp8u*>(header + 1);
}

void w7_ippsFree(void* ptr) {
  if (ptr == nullptr) return;
  if constexpr (kHeapOnly) {
    free(ptr);
    return;
  }
  BlockHeader* header = static_cast<BlockHeader*>(ptr) - 1;
  if (header->shared) {
    kwz_platform::ForgetSharedSegment(header);
    shmdt(header);
  } else if (header->mappedBytes != 0) {
    munmap(header, header->mappedBytes);
  } else {
    free(header);
  }
}

IppStatus w7_ippsZero_8u(Ipp8u* pDst, int len) {
  if (pDst == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  std::memset(pDst, 0, static_cast<size_t>(len));
  return ippStsNoErr;
}

IppStatus w7_ippiCopy_8u_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                             IppiSize roiSize) {
  return CopyRegion(pSrc, srcStep, pDst, dstStep, roiSize, 1);
}

IppStatus w7_ippiCopy_8u_C4R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                             IppiSize roiSize) {
  return CopyRegion(pSrc, srcStep, pDst, dstStep, roiSize, 4);
}
