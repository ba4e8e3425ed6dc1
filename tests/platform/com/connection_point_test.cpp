// Connection points where the control's cookies and firing do not reach: other failures of the
// sink's query, the table growing past its first slots and the references it holds. (The
// enumerators' counts, skips and clones serve containers that the system has none of.)
#include <gtest/gtest.h>

#include <vector>

#include "tests/platform/ComTestObjects.h"

namespace {

using kwz_test::IID_GaugeEvents;
using kwz_test::LiveComObjects;
using kwz_test::RecordingSink;

// Raises the events of IID_GaugeEvents.
class Raiser final : public kwz_platform::ComObject<Raiser, IConnectionPointContainer> {
 public:
  using Interfaces = kwz_platform::ComInterfaces<
      kwz_platform::ComEntry<IConnectionPointContainer, IID_IConnectionPointContainer>>;
  HRESULT EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** found) override {
    return kwz_platform::FindConnectionPointAmong({&point}, iid, found);
  }
  kwz_platform::DispatchConnectionPoint point{this, IID_GaugeEvents};
};

// A sink whose query fails for a reason other than a missing interface.
class BrokenSink final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_OUTOFMEMORY;
  }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
};

TEST(ConnectionPointTest, TableGrowsAndHoldsOneReference) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  {
    CComPtr<Raiser> raiser;
    raiser.Attach(new Raiser);
    IConnectionPoint& point = raiser->point;
    std::vector<CComPtr<RecordingSink>> sinks(5);
    for (auto& sink : sinks) sink.Attach(new RecordingSink);
    DWORD cookie = 0;
    BrokenSink broken;
    EXPECT_EQ(point.Advise(&broken, &cookie), E_OUTOFMEMORY) << "other failures pass through";
    // Five sinks: the first four slots fill, the fifth doubles the array to eight.
    for (DWORD i = 0; i < 5; ++i) {
      ASSERT_EQ(point.Advise(sinks[i], &cookie), S_OK);
      EXPECT_EQ(cookie, i + 1);
    }
    EXPECT_EQ(sinks[0]->References(), 2u) << "the table holds one reference, the query none";
    ASSERT_EQ(point.Unadvise(3), S_OK);
    EXPECT_EQ(sinks[2]->References(), 1u);
    for (DWORD bad : {3u, 7u, 9u}) EXPECT_EQ(point.Unadvise(bad), CONNECT_E_NOCONNECTION) << bad;
    VARIANT arg;
    arg.vt = VT_UI4;
    arg.ulVal = 720;
    EXPECT_EQ(raiser->point.Fire(1, &arg, 1), S_OK);
    for (std::size_t i = 0; i < sinks.size(); ++i) {
      EXPECT_EQ(sinks[i]->Calls().size(), i == 2 ? 0u : 1u);
    }
    for (DWORD live : {1u, 2u, 4u, 5u}) EXPECT_EQ(point.Unadvise(live), S_OK);
    for (auto& sink : sinks) EXPECT_EQ(sink->References(), 1u);
  }
  CoUninitialize();
  EXPECT_EQ(LiveComObjects(), 0) << "every object and reference was given back";
}

}  // namespace
