// The control as an OLE container sees it: sited, activated in place by DoVerb in the container's
// window, placed, hidden, deactivated and re-activated; the focus and what the site hears of
// it; event freezing, advise sinks, the extent and drawing into the container's DC.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "platform/gdi_testing.h"
#include "tests/control/ReceiverOnLoopback.h"
#include "tests/control/TestContainerSite.h"
#include "tests/platform/GdiTestSupport.h"

namespace kwz_test {
namespace {

constexpr RECT kSitePosition{40, 50, 440, 350};
constexpr RECT kGivenPosition{10, 20, 330, 260};

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

RECT ScreenRectOf(HWND window) {
  RECT r{-1, -1, -1, -1};
  GetWindowRect(window, &r);
  return r;
}

class CountingAdviseSink final : public kwz_platform::ComObject<CountingAdviseSink, IAdviseSink> {
 public:
  using Interfaces =
      kwz_platform::ComInterfaces<kwz_platform::ComEntry<IAdviseSink, IID_IAdviseSink>>;
  int closes = 0;

  void OnDataChange(FORMATETC*, STGMEDIUM*) override {}
  void OnViewChange(DWORD, LONG) override {}
  void OnRename(IMoniker*) override {}
  void OnSave() override {}
  void OnClose() override { ++closes; }
};

std::vector<std::uint32_t> PixelsOf(HWND window) {
  std::vector<std::uint32_t> pixels;
  int width = 0, height = 0;
  kwz_platform::ReadWindowPixels(window, &pixels, &width, &height);
  return pixels;
}

// A container window at the screen's origin (so its client coordinates are screen coordinates),
// its site, and the control's OLE interfaces.
class InPlace : public ReceiverOnLoopback {
 protected:
  void SetUp() override {
    ReceiverOnLoopback::SetUp();
    container_ = std::make_unique<TestWindow>(800, 600);
    ASSERT_NE(container_->Get(), nullptr);
    site_ = new TestContainerSite(container_->Get(), kSitePosition);
    ASSERT_EQ(dispatch_->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole_)), S_OK);
    ASSERT_EQ(dispatch_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace_)),
              S_OK);
  }
  void TearDown() override {
    // As a container ends a control: close it, then break the site's reference cycle.
    if (ole_) {
      EXPECT_EQ(ole_->Close(OLECLOSE_NOSAVE), S_OK);
      EXPECT_EQ(ole_->SetClientSite(nullptr), S_OK);
    }
    ole_.Release();
    inPlace_.Release();
    if (site_ != nullptr) site_->Release();
    container_.reset();
    ReceiverOnLoopback::TearDown();
  }

  HRESULT Activate(LONG verb, HWND parent = nullptr, const RECT* position = nullptr) {
    return ole_->DoVerb(verb, nullptr, site_, 0, parent, position);
  }

  std::unique_ptr<TestWindow> container_;
  TestContainerSite* site_ = nullptr;
  CComPtr<IOleObject> ole_;
  CComPtr<IOleInPlaceObject> inPlace_;
};

// An Init and Start made before activation run once the window exists; deactivation ends the
// engine with the window, and a new activation builds neither again before the next Init.
TEST_F(InPlace, ActivationRunsWhatWasAskedBeforeAndDeactivationEndsIt) {
  Script s = script();
  ASSERT_EQ(s.Call(u"Init").hr, S_OK);
  ASSERT_EQ(s.Call(u"Start").hr, S_OK);
  ASSERT_EQ(ole_->SetClientSite(site_), S_OK);
  EXPECT_EQ(control_->Engine(), nullptr);
  ASSERT_EQ(Activate(OLEIVERB_INPLACEACTIVATE), S_OK);
  EXPECT_EQ(site_->shown, 1);
  ASSERT_NE(control_->Engine(), nullptr);
  EXPECT_TRUE(control_->Engine()->IsRunning());
  const std::vector<std::uint32_t> picture = Picture(kWidth, kHeight, 7);
  SendPicture(7);
  EXPECT_TRUE(PumpUntil([&] { return PixelsOf(control_->Window()) == picture; }));

  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    const HWND window = control_->Window();
    EXPECT_EQ(inPlace_->InPlaceDeactivate(), S_OK);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(control_->Engine(), nullptr);
    EXPECT_FALSE(PortHeld());
    EXPECT_EQ(site_->activations, round);
    EXPECT_EQ(site_->deactivations, round);
    // Deactivating an inactive control tells the site nothing.
    EXPECT_EQ(inPlace_->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(site_->deactivations, round);

    ASSERT_EQ(Activate(OLEIVERB_PRIMARY), S_OK);
    EXPECT_EQ(control_->Engine(), nullptr);
    ASSERT_EQ(s.Call(u"Init").hr, S_OK);
    EXPECT_TRUE(PortHeld());
  }
}

// Each activating verb, with the parent and rectangle given or left to the site.
struct ActivationCase {
  const char* name;
  LONG verb;
  bool otherParent;  // an explicit parent other than the site's window
  bool givenPosition;
  bool siteInPlace;  // the client site is also an in-place site
};

class Activation : public InPlace, public ::testing::WithParamInterface<ActivationCase> {};

TEST_P(Activation, MakesAChildOfTheParentAtTheRectangleThatSetObjectRectsMoves) {
  const ActivationCase c = GetParam();
  TestWindow other(600, 500);
  if (!c.siteInPlace) {
    site_->Release();
    site_ = new TestContainerSite(container_->Get(), kSitePosition, false);
  }
  ASSERT_EQ(ole_->SetClientSite(site_), S_OK);
  const HWND parent = c.otherParent ? other.Get() : container_->Get();
  ASSERT_EQ(Activate(c.verb, c.otherParent || !c.siteInPlace ? parent : nullptr,
                     c.givenPosition ? &kGivenPosition : nullptr),
            S_OK);
  EXPECT_EQ(site_->activations, c.siteInPlace ? 1 : 0);
  EXPECT_EQ(site_->shown, 1);

  const HWND window = control_->Window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(GetParent(window), parent);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_TRUE(SameRect(ScreenRectOf(window), c.givenPosition ? kGivenPosition : kSitePosition));
  HWND reported = nullptr;
  EXPECT_EQ(inPlace_->GetWindow(&reported), S_OK);
  EXPECT_EQ(reported, window);

  const RECT moved{100, 120, 164, 168};
  EXPECT_EQ(inPlace_->SetObjectRects(&moved, &moved), S_OK);
  EXPECT_TRUE(SameRect(ScreenRectOf(window), moved));
  // Activating again keeps the window and the site's count, and shows it in its new place.
  ASSERT_EQ(Activate(c.verb, c.otherParent || !c.siteInPlace ? parent : nullptr, &moved), S_OK);
  EXPECT_EQ(control_->Window(), window);
  EXPECT_EQ(site_->activations, c.siteInPlace ? 1 : 0);

  EXPECT_EQ(ole_->Close(OLECLOSE_NOSAVE), S_OK);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(site_->deactivations, c.siteInPlace ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Verbs, Activation,
    ::testing::Values(
        ActivationCase{"InPlaceActivateWhereTheSiteSays", OLEIVERB_INPLACEACTIVATE, false, false,
                       true},
        ActivationCase{"ShowInAGivenParentAtAGivenRectangle", OLEIVERB_SHOW, true, true, true},
        ActivationCase{"PrimaryWithAPlainClientSite", OLEIVERB_PRIMARY, false, true, false}),
    [](const ::testing::TestParamInfo<ActivationCase>& info) { return info.param.name; });

// How the control comes to be active with the focus, and what its site hears on the way. The
// probe is the control's own focus flag: the site hears each step before the control's focus
// handler runs.
enum class Taking { kSetFocus, kUIActivateVerb, kClickWithFocusAfterUIDeactivate };

struct FocusCase {
  const char* name;
  Taking how;
  std::vector<SiteEvent> told;
};

class FocusAndActivation : public InPlace, public ::testing::WithParamInterface<FocusCase> {};

TEST_P(FocusAndActivation, TellTheSiteBeforeTheControlsOwnFocusHandler) {
  const FocusCase& c = GetParam();
  ASSERT_EQ(ole_->SetClientSite(site_), S_OK);
  ASSERT_EQ(Activate(OLEIVERB_INPLACEACTIVATE), S_OK);
  const HWND window = control_->Window();
  ASSERT_NE(window, nullptr);
  site_->probe = [this] { return control_->HasFocus(); };
  if (c.how == Taking::kClickWithFocusAfterUIDeactivate) {
    SetFocus(window);
    EXPECT_EQ(inPlace_->UIDeactivate(), S_OK);
    ASSERT_EQ(GetFocus(), window);
  }
  site_->events.clear();

  switch (c.how) {
    case Taking::kSetFocus:
      SetFocus(window);
      break;
    case Taking::kUIActivateVerb:
      ASSERT_EQ(Activate(OLEIVERB_UIACTIVATE), S_OK);
      break;
    case Taking::kClickWithFocusAfterUIDeactivate:
      ASSERT_TRUE(kwz_platform::InjectButtonForTesting(window, 1, true, POINT{5, 5}, 1000));
      ASSERT_TRUE(kwz_platform::InjectButtonForTesting(window, 1, false, POINT{5, 5}, 1010));
      PumpUntil([&] { return site_->events.size() >= c.told.size(); });
      break;
  }
  EXPECT_EQ(site_->events, c.told);
  EXPECT_EQ(GetFocus(), window);
  EXPECT_TRUE(control_->HasFocus());

  // Losing the focus does not UI-deactivate; the container does that, here with Close.
  site_->events.clear();
  SetFocus(container_->Get());
  EXPECT_FALSE(control_->HasFocus());
  EXPECT_EQ(ole_->Close(OLECLOSE_NOSAVE), S_OK);
  const std::vector<SiteEvent> after{
      {"OnFocus(FALSE)", true}, {"OnUIDeactivate(FALSE)", false}, {"OnInPlaceDeactivate", false}};
  EXPECT_EQ(site_->events, after);
}

INSTANTIATE_TEST_SUITE_P(
    Control, FocusAndActivation,
    ::testing::Values(FocusCase{"SetFocus",
                                Taking::kSetFocus,
                                {{"OnUIActivate", false}, {"OnFocus(TRUE)", false}}},
                      FocusCase{"UIActivateVerb",
                                Taking::kUIActivateVerb,
                                {{"OnUIActivate", false}, {"OnFocus(TRUE)", false}}},
                      // The window kept the focus: the click only UI-activates again.
                      FocusCase{"ClickWithFocusAfterUIDeactivate",
                                Taking::kClickWithFocusAfterUIDeactivate,
                                {{"OnUIActivate", true}}}),
    [](const ::testing::TestParamInfo<FocusCase>& info) { return info.param.name; });

TEST_F(InPlace, HideShowRefusedAndParentlessActivation) {
  site_->allowActivation = S_FALSE;
  ASSERT_EQ(ole_->SetClientSite(site_), S_OK);
  EXPECT_EQ(Activate(OLEIVERB_INPLACEACTIVATE), E_FAIL);
  EXPECT_EQ(control_->Window(), nullptr);
  site_->allowActivation = S_OK;
  ASSERT_EQ(Activate(OLEIVERB_INPLACEACTIVATE), S_OK);
  const HWND window = control_->Window();
  EXPECT_EQ(ole_->DoVerb(OLEIVERB_HIDE, nullptr, site_, 0, nullptr, nullptr), S_OK);
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(Activate(OLEIVERB_SHOW), S_OK);
  EXPECT_EQ(control_->Window(), window);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_TRUE(SameRect(ScreenRectOf(window), kSitePosition));
  for (LONG verb : {OLEIVERB_OPEN, OLEIVERB_PROPERTIES, 1L}) {
    EXPECT_EQ(Activate(verb), E_NOTIMPL) << verb;
  }
  EXPECT_EQ(ole_->Close(OLECLOSE_NOSAVE), S_OK);

  // Without any site nothing says where the window would go.
  ASSERT_EQ(ole_->SetClientSite(nullptr), S_OK);
  EXPECT_EQ(Activate(OLEIVERB_INPLACEACTIVATE), OLE_E_INVALIDHWND);
  EXPECT_EQ(control_->Window(), nullptr);
  HWND none = nullptr;
  EXPECT_EQ(inPlace_->GetWindow(&none), E_FAIL);
}

TEST_F(InPlace, FreezesNestAndTheObjectsSinksHearItClose) {
  CComPtr<IOleControl> control;
  ASSERT_EQ(dispatch_->QueryInterface(IID_IOleControl, reinterpret_cast<void**>(&control)), S_OK);
  // A thaw too many leaves the events thawed.
  for (const auto& [freeze, frozen] :
       {std::pair{TRUE, 1}, {TRUE, 2}, {FALSE, 1}, {FALSE, 0}, {FALSE, 0}}) {
    EXPECT_EQ(control->FreezeEvents(freeze), S_OK);
    EXPECT_EQ(control_->FrozenEvents(), frozen);
  }

  // Each sink goes with its own cookie; the container can list them, each entry it is handed
  // holding a reference of its own.
  ASSERT_EQ(ole_->SetClientSite(site_), S_OK);
  ASSERT_EQ(Activate(OLEIVERB_INPLACEACTIVATE), S_OK);
  CountingAdviseSink* sink = new CountingAdviseSink;
  auto listedCookies = [&] {
    std::vector<DWORD> cookies;
    CComPtr<IEnumSTATDATA> advises;
    EXPECT_EQ(ole_->EnumAdvise(&advises), S_OK);
    STATDATA entry{};
    while (advises && advises->Next(1, &entry, nullptr) == S_OK) {
      EXPECT_EQ(entry.pAdvSink, static_cast<IAdviseSink*>(sink));
      entry.pAdvSink->Release();
      cookies.push_back(entry.dwConnection);
    }
    return cookies;
  };
  DWORD first = 0, second = 0;
  ASSERT_EQ(ole_->Advise(sink, &first), S_OK);
  ASSERT_EQ(ole_->Advise(sink, &second), S_OK);
  EXPECT_NE(first, second);
  EXPECT_EQ(listedCookies(), (std::vector<DWORD>{first, second}));
  EXPECT_EQ(sink->References(), 3u);
  EXPECT_EQ(ole_->Close(OLECLOSE_NOSAVE), S_OK);
  EXPECT_EQ(sink->closes, 2);
  EXPECT_EQ(ole_->Unadvise(first), S_OK);
  EXPECT_EQ(listedCookies(), std::vector<DWORD>{second});
  EXPECT_EQ(ole_->Unadvise(first), OLE_E_NOCONNECTION);
  EXPECT_EQ(ole_->Unadvise(second), S_OK);
  EXPECT_EQ(sink->References(), 1u);
  EXPECT_EQ(ole_->Advise(nullptr, &first), E_INVALIDARG);
  sink->Release();
}

// One extent, whichever interface sets or reads it.
TEST_F(ControlTest, TheExtentIsOneWhicheverInterfaceSetsOrReadsIt) {
  CComPtr<IOleObject> ole;
  ASSERT_EQ(dispatch_->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole)), S_OK);
  CComPtr<IViewObjectEx> view;
  ASSERT_EQ(dispatch_->QueryInterface(IID_IViewObject2, reinterpret_cast<void**>(&view)), S_OK);
  CComPtr<IQuickActivate> quick;
  ASSERT_EQ(dispatch_->QueryInterface(IID_IQuickActivate, reinterpret_cast<void**>(&quick)), S_OK);
  SIZEL size{1234, 567};
  EXPECT_EQ(quick->SetContentExtent(&size), S_OK);
  SIZEL read{};
  EXPECT_EQ(ole->GetExtent(DVASPECT_CONTENT, &read), S_OK);
  EXPECT_EQ(read.cx, 1234);
  EXPECT_EQ(read.cy, 567);
  SIZEL other{99, 98};
  EXPECT_EQ(ole->SetExtent(DVASPECT_ICON, &other), DV_E_DVASPECT);
  EXPECT_EQ(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &read), S_OK);
  EXPECT_EQ(read.cx, 1234);
}

TEST_F(ControlTest, DrawingForTheContainerLeavesItsPictureAlone) {
  UseHeadlessGdi();
  TestWindow target(64, 48);
  Fill(target.Get(), 64, 48, 3);
  const std::vector<std::uint32_t> before = PixelsOf(target.Get());
  ASSERT_FALSE(before.empty());

  CComPtr<IViewObjectEx> view;
  ASSERT_EQ(dispatch_->QueryInterface(IID_IViewObjectEx, reinterpret_cast<void**>(&view)), S_OK);
  HDC dc = GetDC(target.Get());
  ASSERT_NE(dc, nullptr);
  const RECTL bounds{0, 0, 64, 48};
  EXPECT_EQ(
      view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0),
      S_OK);
  EXPECT_EQ(
      view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, nullptr, nullptr, nullptr, 0),
      E_INVALIDARG);
  ReleaseDC(target.Get(), dc);
  EXPECT_EQ(PixelsOf(target.Get()), before);
}

}  // namespace
}  // namespace kwz_test
