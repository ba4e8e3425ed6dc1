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

TEST(TunnelRegistry, FindsEachFactoryUnderItsOwnIdUntilItIsWithdrawn) {
  NoTunnels first;
  NoTunnels second;
  const DWORD a = RegisterTunnelFactory(&first);
  const DWORD b = RegisterTunnelFactory(&second);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  ASSERT_NE(a, b);
  EXPECT_EQ(FindTunnelFactory(a), &first);
  EXPECT_EQ(FindTunnelFactory(b), &second);

  UnregisterTunnelFactory(a);
  EXPECT_EQ(FindTunnelFactory(a), nullptr);
  EXPECT_EQ(FindTunnelFactory(b), &second);
  // The same factory registered again gets a new id: the withdrawn one stays dead.
  const DWORD again = RegisterTunnelFactory(&first);
  EXPECT_NE(again, a);
  EXPECT_EQ(FindTunnelFactory(a), nullptr);
  EXPECT_EQ(FindTunnelFactory(again), &first);

  UnregisterTunnelFactory(b);
  UnregisterTunnelFactory(again);
  UnregisterTunnelFactory(again);  // twice is harmless
  EXPECT_EQ(FindTunnelFactory(again), nullptr);
}

TEST(TunnelRegistry, ZeroAndUnknownIdsNameNoFactory) {
  EXPECT_EQ(RegisterTunnelFactory(nullptr), 0u);
  EXPECT_EQ(FindTunnelFactory(0), nullptr);
  EXPECT_EQ(FindTunnelFactory(0xFFFFFFFFu), nullptr);
  UnregisterTunnelFactory(0xFFFFFFF0u);
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
