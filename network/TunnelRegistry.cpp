#include "network/TunnelRegistry.h"

#include <mutex>
#include <unordered_map>

namespace {

struct Registry {
  std::mutex lock;
  DWORD lastId = 0;                                    // guarded by lock
  std::unordered_map<DWORD, ITunnelFactory*> entries;  // guarded by lock
};

Registry& TheRegistry() {
  static auto* registry = new Registry;  // never destroyed: modules may unregister at exit
  return *registry;
}

}  // namespace

DWORD RegisterTunnelFactory(ITunnelFactory* factory) {
  if (factory == nullptr) return 0;
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.lock);
  // Ids only grow, so a stale id left in a setting can never name a later factory. 2^32 - 1
  // registrations are out of reach of any real process.
  if (registry.lastId == 0xFFFFFFFFu) return 0;
  const DWORD id = ++registry.lastId;
  registry.entries[id] = factory;
  return id;
}

void UnregisterTunnelFactory(DWORD id) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.lock);
  registry.entries.erase(id);
}

ITunnelFactory* FindTunnelFactory(DWORD id) {
  if (id == 0) return nullptr;
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.lock);
  const auto found = registry.entries.find(id);
  return found != registry.entries.end() ? found->second : nullptr;
}
