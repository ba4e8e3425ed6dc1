// Connection points where the control's cookies and firing do not reach: other failures of the
// sink's query, the table growing past its first slots, the references it holds, and the
// enumerators' counts, skips and clones.
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
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override {
    return kwz_platform::EnumerateConnectionPoints({&point}, points);
  }
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

TEST(ConnectionPointTest, TableGrowsHoldsOneReferenceAndListsWhatIsLive) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  {
    CComPtr<Raiser> raiser;
    raiser.Attach(new Raiser);
    CComPtr<IConnectionPoint> wrong;
    EXPECT_EQ(raiser->FindConnectionPoint(kwz_test::IID_IGauge, &wrong), CONNECT_E_NOCONNECTION);
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

    // The container lists its one point; the point lists the live connections.
    CComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(raiser->EnumConnectionPoints(&points), S_OK);
    IConnectionPoint* listed[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(points->Next(2, listed, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(listed[0], &point);
    listed[0]->Release();
    CComPtr<IEnumConnections> connections, clone;
    ASSERT_EQ(point.EnumConnections(&connections), S_OK);
    ASSERT_EQ(connections->Skip(3), S_OK);
    ASSERT_EQ(connections->Clone(&clone), S_OK);
    CONNECTDATA data[3] = {};
    ASSERT_EQ(clone->Next(3, data, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(data[0].dwCookie, 5u);
    EXPECT_EQ(data[0].pUnk, static_cast<IUnknown*>(static_cast<IDispatch*>(sinks[4].get())));
    data[0].pUnk->Release();
    connections.Release();  // the enumerators' copies hold references of their own
    clone.Release();
    for (DWORD live : {1u, 2u, 4u, 5u}) EXPECT_EQ(point.Unadvise(live), S_OK);
    for (auto& sink : sinks) EXPECT_EQ(sink->References(), 1u);
  }
  CoUninitialize();
  EXPECT_EQ(LiveComObjects(), 0) << "every object and reference was given back";
}

class QuietAdviseSink final : public kwz_platform::ComObject<QuietAdviseSink, IAdviseSink> {
 public:
  using Interfaces =
      kwz_platform::ComInterfaces<kwz_platform::ComEntry<IAdviseSink, IID_IAdviseSink>>;
  void OnDataChange(FORMATETC*, STGMEDIUM*) override {}
  void OnViewChange(DWORD, LONG) override {}
  void OnRename(IMoniker*) override {}
  void OnSave() override {}
  void OnClose() override {}
};

TEST(ConnectionPointTest, AdviseEnumeratorCountsSkipsAndClonesFromItsPosition) {
  CComPtr<QuietAdviseSink> sink;
  sink.Attach(new QuietAdviseSink);
  std::vector<STATDATA> advises;
  for (DWORD cookie : {10u, 11u, 12u}) advises.push_back(STATDATA{FORMATETC{}, 0, sink, cookie});
  struct Case {
    ULONG skip;
    HRESULT skipped;
    bool clone;  // the rest is read from a clone made after the skip
    ULONG ask;
    HRESULT answer;
    std::vector<DWORD> cookies;
  };
  for (const Case& c :
       {Case{1, S_OK, false, 5, S_FALSE, {11, 12}}, Case{4, S_FALSE, false, 2, S_FALSE, {}},
        Case{2, S_OK, true, 2, S_FALSE, {12}}}) {
    CComPtr<IEnumSTATDATA> list, clone;
    ASSERT_EQ(kwz_platform::EnumerateAdvises(advises, &list), S_OK);
    EXPECT_EQ(list->Skip(c.skip), c.skipped) << c.skip;
    if (c.clone) {
      ASSERT_EQ(list->Clone(&clone), S_OK);
    }
    IEnumSTATDATA* from = c.clone ? clone.get() : list.get();
    STATDATA got[5] = {};
    ULONG fetched = 99;
    EXPECT_EQ(from->Next(c.ask, got, &fetched), c.answer) << c.skip;
    std::vector<DWORD> cookies;
    for (ULONG i = 0; i < fetched; ++i) {
      cookies.push_back(got[i].dwConnection);
      got[i].pAdvSink->Release();
    }
    EXPECT_EQ(cookies, c.cookies) << c.skip;
    // Reset starts the copy over, however far the enumerator got.
    ASSERT_EQ(from->Reset(), S_OK);
    EXPECT_EQ(from->Next(1, got, nullptr), S_OK);
    EXPECT_EQ(got[0].dwConnection, 10u) << c.skip;
    got[0].pAdvSink->Release();
  }
  EXPECT_EQ(sink->References(), 1u) << "every sink handed out came back";
}

}  // namespace
