#include "ipp/shared_segments.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>

namespace kwz_platform {
namespace {

struct Registry {
  std::mutex lock;
  std::map<std::uintptr_t, SharedSegment> byBase;  // guarded by lock
  std::uint64_t nextSerial = 1;                    // guarded by lock
  std::atomic<std::uint64_t> freed{0};
};

Registry& Segments() {
  static auto* registry = new Registry;  // never destroyed: buffers may be freed during exit
  return *registry;
}

}  // namespace

std::optional<SharedSegment> FindSharedSegment(const void* address, std::size_t bytes) {
  const auto start = reinterpret_cast<std::uintptr_t>(address);
  Registry& registry = Segments();
  std::lock_guard<std::mutex> guard(registry.lock);
  auto it = registry.byBase.upper_bound(start);
  if (it == registry.byBase.begin()) return std::nullopt;
  --it;
  const SharedSegment& segment = it->second;
  const std::uintptr_t offset = start - it->first;
  if (offset > segment.bytes || bytes > segment.bytes - offset) return std::nullopt;
  return segment;
}

bool SharedSegmentAlive(std::uint64_t serial) {
  Registry& registry = Segments();
  std::lock_guard<std::mutex> guard(registry.lock);
  for (const auto& [base, segment] : registry.byBase) {
    if (segment.serial == serial) return true;
  }
  return false;
}

void RegisterSharedSegment(const SharedSegment& segment) {
  Registry& registry = Segments();
  std::lock_guard<std::mutex> guard(registry.lock);
  SharedSegment entry = segment;
  entry.serial = registry.nextSerial++;
  registry.byBase[reinterpret_cast<std::uintptr_t>(segment.base)] = entry;
}

std::uint64_t SharedSegmentsFreed() {
  return Segments().freed.load(std::memory_order_acquire);
}

void ForgetSharedSegment(const void* base) {
  Registry& registry = Segments();
  std::lock_guard<std::mutex> guard(registry.lock);
  if (registry.byBase.erase(reinterpret_cast<std::uintptr_t>(base)) != 0) {
    registry.freed.fetch_add(1, std::memory_order_release);
  }
}

}  // namespace kwz_platform
