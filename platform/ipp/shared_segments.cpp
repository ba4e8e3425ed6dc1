#include "ipp/shared_segments.h"

#include <cstdint>
#include <map>
#include <mutex>

namespace kwz_platform {
namespace {

struct Registry {
  std::mutex lock;
  std::map<std::uintptr_t, SharedSegment> byBase;  // guarded by lock
  std::uint64_t nextSerial = 1;                    // guarded by lock
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

void ForgetSharedSegment(const void* base) {
  Registry& registry = Segments();
  std::lock_guard<std::mutex> guard(registry.lock);
  registry.byBase.erase(reinterpret_cast<std::uintptr_t>(base));
}

}  // namespace kwz_platform
