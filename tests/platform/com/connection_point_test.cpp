// Connection points: the cookie rules of Advise and Unadvise, firing, enumeration.
#include <gtest/gtest.h>

#include <iterator>
#include <vector>

#include "tests/platform/ComTestObjects.h"

namespace {

using kwz_test::IID_GaugeEvents;
using kwz_test::LiveComObjects;
using kwz_test::Raiser;
using kwz_test::RecordingSink;

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

class QuietAdviseSink final : public kwz_platform::ComObject<QuietAdviseSink, IAdviseSink> {
 public:
  using Interfaces =
      kwz_platform::ComInterfaces<kwz_platform::ComEntry<IAdviseSink, IID_IAdviseSink>>;
  QuietAdviseSink() { ++LiveComObjects(); }
  void OnDataChange(FORMATETC*, STGMEDIUM*) override {}
  void OnViewChange(DWORD, LONG) override {}
  void OnRename(IMoniker*) override {}
  void OnSave() override {}
  void OnClose() override {}

 private:
  ~QuietAdviseSink() override { --LiveComObjects(); }
};

class ConnectionPointTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitialize(nullptr), S_OK); }
  void TearDown() override {
    CoUninitialize();
    EXPECT_EQ(LiveComObjects(), 0) << "every object and reference was given back";
  }
};

// The basic cookie rules and firing are the control's to show; here what it never reaches: other
// failures of the sink's query, the table growing past its first four slots, the references it
// holds, cookies of empty slots, and an unadvised sink left out of a firing.
TEST_F(ConnectionPointTest, TableGrowsHoldsOneReferenceAndRefusesStaleCookies) {
  CComPtr<Raiser> raiser;
  raiser.Attach(new Raiser);
  CComPtr<IConnectionPoint> point;
  ASSERT_EQ(raiser->FindConnectionPoint(IID_GaugeEvents, &point), S_OK);
  std::vector<CComPtr<RecordingSink>> sinks(5);
  for (auto& sink : sinks) sink.Attach(new RecordingSink);
  DWORD cookie = 0;
  BrokenSink broken;
  EXPECT_EQ(point->Advise(&broken, &cookie), E_OUTOFMEMORY) << "other failures pass through";

  // Five sinks: the first four slots fill, the fifth doubles the array to eight.
  for (DWORD i = 0; i < 5; ++i) {
    ASSERT_EQ(point->Advise(sinks[i], &cookie), S_OK);
    EXPECT_EQ(cookie, i + 1);
  }
  EXPECT_EQ(sinks[0]->References(), 2u) << "the table holds one reference, the query none";
  ASSERT_EQ(point->Unadvise(3), S_OK);
  EXPECT_EQ(sinks[2]->References(), 1u);
  for (DWORD bad : {3u, 7u, 9u}) EXPECT_EQ(point->Unadvise(bad), CONNECT_E_NOCONNECTION) << bad;

  VARIANT args[1];
  VariantInit(&args[0]);
  args[0].vt = VT_UI4;
  args[0].ulVal = 720;
  EXPECT_EQ(raiser->Point().Fire(1, args, 1), S_OK);
  for (std::size_t i = 0; i < sinks.size(); ++i)
    EXPECT_EQ(sinks[i]->Calls().size(), i == 2 ? 0u : 1u);
  for (DWORD live : {1u, 2u, 4u, 5u}) EXPECT_EQ(point->Unadvise(live), S_OK);
  for (auto& sink : sinks) EXPECT_EQ(sink->References(), 1u);
}

TEST_F(ConnectionPointTest, ContainerAndEnumeratorsListWhatIsLive) {
  CComPtr<Raiser> raiser;
  raiser.Attach(new Raiser);
  CComPtr<IConnectionPoint> wrong;
  EXPECT_EQ(raiser->FindConnectionPoint(kwz_test::IID_IGauge, &wrong), CONNECT_E_NOCONNECTION);

  CComPtr<IEnumConnectionPoints> points;
  ASSERT_EQ(raiser->EnumConnectionPoints(&points), S_OK);
  IConnectionPoint* listed[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(points->Next(2, listed, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  IID iid{};
  listed[0]->GetConnectionInterface(&iid);
  EXPECT_TRUE(IsEqualIID(iid, IID_GaugeEvents));
  listed[0]->Release();

  CComPtr<RecordingSink> x, y;
  x.Attach(new RecordingSink);
  y.Attach(new RecordingSink);
  DWORD cx = 0, cy = 0;
  raiser->Point().Advise(x, &cx);
  raiser->Point().Advise(y, &cy);
  raiser->Point().Unadvise(cx);
  CComPtr<IEnumConnections> connections;
  ASSERT_EQ(raiser->Point().EnumConnections(&connections), S_OK);
  CONNECTDATA data[3] = {};
  ASSERT_EQ(connections->Next(3, data, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(data[0].dwCookie, cy);
  EXPECT_EQ(data[0].pUnk, static_cast<IUnknown*>(static_cast<IDispatch*>(y.get())));
  data[0].pUnk->Release();
  CComPtr<IEnumConnections> clone;
  ASSERT_EQ(connections->Reset(), S_OK);
  ASSERT_EQ(connections->Clone(&clone), S_OK);
  EXPECT_EQ(clone->Skip(2), S_FALSE);
  raiser->Point().Unadvise(cy);
}

TEST_F(ConnectionPointTest, AdviseEnumeratorCountsSkipsAndClonesFromItsPosition) {
  std::vector<CComPtr<QuietAdviseSink>> sinks(3);
  std::vector<STATDATA> advises;
  for (DWORD i = 0; i < sinks.size(); ++i) {
    sinks[i].Attach(new QuietAdviseSink);
    advises.push_back(STATDATA{FORMATETC{}, 0, sinks[i], 10 + i});
  }
  struct Case {
    const char* what;
    ULONG skip;
    HRESULT skipped;
    bool clone;  // the rest is read from a clone made after the skip
    ULONG ask;
    HRESULT answer;
    std::vector<DWORD> cookies;
  };
  const Case cases[] = {
      {"all at once", 0, S_OK, false, 3, S_OK, {10, 11, 12}},
      {"more than are left", 1, S_OK, false, 5, S_FALSE, {11, 12}},
      {"skip past the end", 4, S_FALSE, false, 2, S_FALSE, {}},
      {"clone keeps the position", 2, S_OK, true, 2, S_FALSE, {12}},
  };
  for (const Case& c : cases) {
    CComPtr<IEnumSTATDATA> list;
    ASSERT_EQ(kwz_platform::EnumerateAdvises(advises, &list), S_OK);
    EXPECT_EQ(list->Skip(c.skip), c.skipped) << c.what;
    CComPtr<IEnumSTATDATA> clone;
    if (c.clone) {
      ASSERT_EQ(list->Clone(&clone), S_OK);
    }
    IEnumSTATDATA* from = c.clone ? clone.get() : list.get();
    STATDATA got[5] = {};
    ULONG fetched = 99;
    EXPECT_EQ(from->Next(c.ask, got, &fetched), c.answer) << c.what;
    std::vector<DWORD> cookies;
    for (ULONG i = 0; i < fetched && i < std::size(got); ++i) {
      cookies.push_back(got[i].dwConnection);
      EXPECT_EQ(got[i].pAdvSink, sinks[got[i].dwConnection - 10].get()) << c.what;
      got[i].pAdvSink->Release();
    }
    EXPECT_EQ(cookies, c.cookies) << c.what;
    // Reset starts the copy over, however far the enumerator got.
    ASSERT_EQ(from->Reset(), S_OK);
    EXPECT_EQ(from->Next(1, got, nullptr), S_OK);
    EXPECT_EQ(got[0].dwConnection, 10u) << c.what;
    got[0].pAdvSink->Release();
  }
  for (auto& sink : sinks) EXPECT_EQ(sink->References(), 1u) << "every sink handed out came back";
}

}  // namespace
