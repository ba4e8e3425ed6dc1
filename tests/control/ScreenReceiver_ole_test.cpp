// The control as an OLE container sees it: sited, activated in place by DoVerb, placed, hidden,
// deactivated and re-activated; the focus and what the site hears of it.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/gdi_testing.h"
#include "tests/control/ControlTestSupport.h"

namespace kwz_test {
namespace {

constexpr RECT kSitePosition{40, 50, 440, 350};
constexpr RECT kGivenPosition{10, 20, 330, 260};

bool PlacedAt(HWND window, const RECT& r) {
  RECT at{-1, -1, -1, -1};
  GetWindowRect(window, &at);
  return at.left == r.left && at.top == r.top && at.right == r.right && at.bottom == r.bottom;
}

// A container window at the screen's origin (so its client coordinates are screen coordinates),
// its site, and the control's OLE interfaces.
class InPlace : public ReceiverOnLoopback {
 protected:
  void SetUp() override {
    ReceiverOnLoopback::SetUp();
    container_ = std::make_unique<TestWindow>(800, 600);
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
  ASSERT_NE(control_->Engine(), nullptr);
  EXPECT_TRUE(control_->Engine()->IsRunning());

  const HWND window = control_->Window();
  EXPECT_EQ(inPlace_->InPlaceDeactivate(), S_OK);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(control_->Engine(), nullptr);
  EXPECT_FALSE(PortHeld());
  // Deactivating an inactive control tells the site nothing.
  EXPECT_EQ(inPlace_->InPlaceDeactivate(), S_OK);
  EXPECT_EQ(site_->deactivations, 1);
  ASSERT_EQ(Activate(OLEIVERB_PRIMARY), S_OK);
  EXPECT_EQ(site_->activations, 2);
  EXPECT_EQ(control_->Engine(), nullptr);
  ASSERT_EQ(s.Call(u"Init").hr, S_OK);
  EXPECT_TRUE(PortHeld());
}

// Where the site says (KwzViewer_test gives the parent and rectangle itself): refused, hidden,
// shown again, moved, the verbs the control lacks; then a site that is no in-place site.
TEST_F(InPlace, VerbsPlaceTheWindowWhereTheSiteSaysOrWhereGiven) {
  site_->allowActivation = S_FALSE;
  ASSERT_EQ(ole_->SetClientSite(site_), S_OK);
  EXPECT_EQ(Activate(OLEIVERB_INPLACEACTIVATE), E_FAIL);
  EXPECT_EQ(control_->Window(), nullptr);
  site_->allowActivation = S_OK;
  ASSERT_EQ(Activate(OLEIVERB_INPLACEACTIVATE), S_OK);
  HWND window = nullptr;
  EXPECT_EQ(inPlace_->GetWindow(&window), S_OK);
  EXPECT_EQ(GetParent(window), container_->Get());
  EXPECT_EQ(site_->shown, 1);
  EXPECT_EQ(Activate(OLEIVERB_HIDE), S_OK);
  EXPECT_FALSE(IsWindowVisible(window));
  const RECT moved{100, 120, 164, 168};
  EXPECT_EQ(inPlace_->SetObjectRects(&moved, &moved), S_OK);
  EXPECT_TRUE(PlacedAt(window, moved));
  // Shown again, the same window goes back where the site says.
  EXPECT_EQ(Activate(OLEIVERB_SHOW), S_OK);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_TRUE(PlacedAt(window, kSitePosition));
  EXPECT_EQ(site_->activations, 1);
  for (LONG verb : {OLEIVERB_OPEN, OLEIVERB_PROPERTIES, 1L}) {
    EXPECT_EQ(Activate(verb), E_NOTIMPL) << verb;
  }
  EXPECT_EQ(ole_->Close(OLECLOSE_NOSAVE), S_OK);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(site_->deactivations, 1);

  // A plain client site says nothing of where the window goes.
  site_->Release();
  site_ = new TestContainerSite(container_->Get(), kSitePosition, false);
  ASSERT_EQ(ole_->SetClientSite(site_), S_OK);
  EXPECT_EQ(Activate(OLEIVERB_PRIMARY), OLE_E_INVALIDHWND);
  EXPECT_EQ(inPlace_->GetWindow(&window), E_FAIL);
  TestWindow other(600, 500);
  ASSERT_EQ(Activate(OLEIVERB_PRIMARY, other.Get(), &kGivenPosition), S_OK);
  EXPECT_EQ(GetParent(control_->Window()), other.Get());
  EXPECT_TRUE(PlacedAt(control_->Window(), kGivenPosition));
  EXPECT_EQ(site_->shown, 1);
  EXPECT_EQ(site_->activations, 0);
}

// How the control comes to be active with the focus (SetFocus, a click on a window that kept
// the focus), and what its site hears on the way. The probe is the control's own focus
// flag: the site hears each step before the control's focus handler runs.
TEST_F(InPlace, TakingTheFocusTellsTheSiteBeforeTheControlsOwnHandler) {
  ASSERT_EQ(ole_->SetClientSite(site_), S_OK);
  ASSERT_EQ(Activate(OLEIVERB_INPLACEACTIVATE), S_OK);
  const HWND window = control_->Window();
  site_->probe = [this] { return control_->HasFocus(); };
  auto told = [&](const std::vector<SiteEvent>& expected) {
    EXPECT_EQ(site_->events, expected);
    EXPECT_EQ(GetFocus(), window);
    EXPECT_TRUE(control_->HasFocus());
  };
  SetFocus(window);
  told({{"OnUIActivate", false}, {"OnFocus(TRUE)", false}});

  EXPECT_EQ(inPlace_->UIDeactivate(), S_OK);
  site_->events.clear();
  ASSERT_TRUE(kwz_platform::InjectButtonForTesting(window, 1, true, POINT{5, 5}, 1000));
  ASSERT_TRUE(kwz_platform::InjectButtonForTesting(window, 1, false, POINT{5, 5}, 1010));
  PumpUntil([&] { return !site_->events.empty(); });
  told({{"OnUIActivate", true}});

  // Losing the focus does not UI-deactivate; the container does that, here with Close.
  site_->events.clear();
  SetFocus(container_->Get());
  EXPECT_FALSE(control_->HasFocus());
  EXPECT_EQ(ole_->Close(OLECLOSE_NOSAVE), S_OK);
  const std::vector<SiteEvent> after{
      {"OnFocus(FALSE)", true}, {"OnUIDeactivate(FALSE)", false}, {"OnInPlaceDeactivate", false}};
  EXPECT_EQ(site_->events, after);
}

}  // namespace
}  // namespace kwz_test
