// The process's tunnel factories by id: ids that fit the 32-bit setting, look-ups of known,
// unknown and withdrawn ids, and ids never handed out twice.
#include "network/TunnelRegistry.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace {

class NoTunnels final : public ITunnelFactory {
 public:
  ITunnel* CreateReceiver(TunnelAddress) override { return nullptr; }
  ITunnel* CreateSender() override { return nullptr; }
  void Release(ITunnel*) override {}
};

// The control registers its factories and finds them again; here are the ids it never sees:
// zero, unknown, and withdrawn ones, which stay dead when the factory is registered again.
TEST(TunnelRegistry, ZeroUnknownAndWithdrawnIdsNameNoFactory) {
  EXPECT_EQ(RegisterTunnelFactory(nullptr), 0u);
  EXPECT_EQ(FindTunnelFactory(0), nullptr);
  EXPECT_EQ(FindTunnelFactory(0xFFFFFFFFu), nullptr);
  UnregisterTunnelFactory(0xFFFFFFF0u);
  NoTunnels factory;
  const DWORD id = RegisterTunnelFactory(&factory);
  ASSERT_NE(id, 0u);
  UnregisterTunnelFactory(id);
  EXPECT_EQ(FindTunnelFactory(id), nullptr);
  const DWORD again = RegisterTunnelFactory(&factory);
  EXPECT_NE(again, id);
  EXPECT_EQ(FindTunnelFactory(id), nullptr);
  EXPECT_EQ(FindTunnelFactory(again), &factory);
  UnregisterTunnelFactory(again);
  UnregisterTunnelFactory(again);  // twice is harmless
  EXPECT_EQ(FindTunnelFactory(again), nullptr);
}

TEST(TunnelRegistry, IdsHandedOutOnSeveralThreadsAreDistinct) {
  NoTunnels factory;
  constexpr int kThreads = 4;
  constexpr int kEach = 200;
  std::vector<std::vector<DWORD>> ids(kThreads);
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kEach; ++i) ids[t].push_back(RegisterTunnelFactory(&factory));
      });
    }
  }  // joined here; the ids are checked after
  std::set<DWORD> all;
  for (const auto& list : ids) {
    for (DWORD id : list) {
      EXPECT_NE(id, 0u);
      EXPECT_EQ(FindTunnelFactory(id), &factory);
      all.insert(id);
      UnregisterTunnelFactory(id);
    }
  }
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach));
}

}  // namespace
