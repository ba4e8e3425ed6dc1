// The control as an OLE container sees it: sited, activated in place by DoVerb in the container's
// window, placed, hidden, deactivated and re-activated; quick activation with an event sink;
// the class information that tells a container the control's event interface; the rest of what
// a full container asks of it: control info, event freezing, accelerators, persistence and
// advise sinks.
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

// A stream in memory: Save writes into it and Load reads back what was written.
class MemoryStream final : public kwz_platform::ComObject<MemoryStream, IStream> {
 public:
  using Interfaces = kwz_platform::ComInterfaces<
      kwz_platform::ComEntry<IStream, IID_IStream, IID_ISequentialStream>>;
  std::vector<unsigned char> bytes;
  std::size_t position = 0;

  HRESULT Read(void* data, ULONG size, ULONG* read) override {
    const ULONG n = static_cast<ULONG>(std::min<std::size_t>(size, bytes.size() - position));
    std::copy_n(bytes.data() + position, n, static_cast<unsigned char*>(data));
    position += n;
    if (read != nullptr) *read = n;
    return n == size ? S_OK : S_FALSE;
  }
  HRESULT Write(const void* data, ULONG size, ULONG* written) override {
    const auto* in = static_cast<const unsigned char*>(data);
    bytes.insert(bytes.end(), in, in + size);
    if (written != nullptr) *written = size;
    return S_OK;
  }
  HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT Commit(DWORD) override { return E_NOTIMPL; }
  HRESULT Revert() override { return E_NOTIMPL; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  HRESULT Clone(IStream**) override { return E_NOTIMPL; }
};

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

template <typename I>
CComPtr<I> Query(IUnknown* from, REFIID iid) {
  CComPtr<I> to;
  EXPECT_EQ(from->QueryInterface(iid, reinterpret_cast<void**>(&to)), S_OK);
  return to;
}

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

TEST_F(InPlace, InitAndStartBeforeActivationRunAndPaintOnceActivated) {
  Script s = script();
  ASSERT_EQ(s.Call(u"Init").hr, S_OK);
  ASSERT_EQ(s.Call(u"Start").hr, S_OK);
  ASSERT_EQ(ole_->SetClientSite(site_), S_OK);
  EXPECT_EQ(control_->Engine(), nullptr);

  ASSERT_EQ(Activate(OLEIVERB_INPLACEACTIVATE), S_OK);
  EXPECT_EQ(site_->activations, 1);
  EXPECT_EQ(site_->shown, 1);
  ASSERT_NE(control_->Window(), nullptr);
  ASSERT_NE(control_->Engine(), nullptr);
  EXPECT_TRUE(control_->Engine()->IsRunning());
  EXPECT_TRUE(PortHeld());

  const std::vector<std::uint32_t> picture = Picture(kWidth, kHeight, 7);
  SendPicture(7);
  EXPECT_TRUE(PumpUntil([&] { return PixelsOf(control_->Window()) == picture; }));

  EXPECT_EQ(ole_->Close(OLECLOSE_NOSAVE), S_OK);
  EXPECT_EQ(site_->deactivations, 1);
  EXPECT_EQ(control_->Window(), nullptr);
  EXPECT_EQ(control_->Engine(), nullptr);
  EXPECT_FALSE(PortHeld());
}

TEST_F(InPlace, DeactivationEndsTheEngineAndTheControlActivatesAgain) {
  ASSERT_EQ(ole_->SetClientSite(site_), S_OK);
  Script s = script();
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(Activate(OLEIVERB_PRIMARY), S_OK);
    // A window destroyed earlier took its engine along; only a new Init builds one.
    EXPECT_EQ(control_->Engine(), nullptr);
    ASSERT_EQ(s.Call(u"Init").hr, S_OK);
    ASSERT_EQ(s.Call(u"Start").hr, S_OK);
    ASSERT_NE(control_->Engine(), nullptr);
    EXPECT_TRUE(control_->Engine()->IsRunning());

    const HWND window = control_->Window();
    EXPECT_EQ(inPlace_->InPlaceDeactivate(), S_OK);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(control_->Window(), nullptr);
    EXPECT_EQ(control_->Engine(), nullptr);
    EXPECT_FALSE(PortHeld());
    EXPECT_EQ(site_->activations, round);
    EXPECT_EQ(site_->deactivations, round);
    // Deactivating an inactive control tells the site nothing.
    EXPECT_EQ(inPlace_->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(site_->deactivations, round);
    // The object itself lives on.
    EXPECT_EQ(s.Get(u"DrawWidth").number, 800);
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
        ActivationCase{"UIActivateAtAGivenRectangle", OLEIVERB_UIACTIVATE, false, true, true},
        ActivationCase{"PrimaryInAGivenParentAtTheSitesRectangle", OLEIVERB_PRIMARY, true, false,
                       true},
        ActivationCase{"PrimaryWithAPlainClientSite", OLEIVERB_PRIMARY, false, true, false}),
    [](const ::testing::TestParamInfo<ActivationCase>& info) { return info.param.name; });

// How the control comes to be active with the focus, and what its site hears on the way. The
// probe is the control's own focus flag: the site hears each step before the control's focus
// handler runs.
enum class Taking { kSetFocus, kClick, kUIActivateVerb, kClickWithFocusAfterUIDeactivate };

struct FocusCase {
  const char* name;
  Taking how;
  std::vector<SiteEvent> told;
};

class FocusAndActivation : public InPlace, public ::testing::WithParamInterface<FocusCase> {
 protected:
  void Click(HWND window) {
    static DWORD time = 1000000;  // presses far apart: none is a double-click
    time += 100000;
    ASSERT_TRUE(kwz_platform::InjectButtonForTesting(window, 1, true, POINT{5, 5}, time));
    ASSERT_TRUE(kwz_platform::InjectButtonForTesting(window, 1, false, POINT{5, 5}, time + 10));
  }
};

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
    case Taking::kClick:
    case Taking::kClickWithFocusAfterUIDeactivate:
      Click(window);
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
    ::testing::Values(
        FocusCase{
            "SetFocus", Taking::kSetFocus, {{"OnUIActivate", false}, {"OnFocus(TRUE)", false}}},
        FocusCase{"Click", Taking::kClick, {{"OnUIActivate", false}, {"OnFocus(TRUE)", false}}},
        FocusCase{"UIActivateVerb",
                  Taking::kUIActivateVerb,
                  {{"OnUIActivate", false}, {"OnFocus(TRUE)", false}}},
        // The window kept the focus: the click only UI-activates again.
        FocusCase{"ClickWithFocusAfterUIDeactivate",
                  Taking::kClickWithFocusAfterUIDeactivate,
                  {{"OnUIActivate", true}}}),
    [](const ::testing::TestParamInfo<FocusCase>& info) { return info.param.name; });

TEST_F(InPlace, HideHidesAndShowShowsAgain) {
  ASSERT_EQ(ole_->SetClientSite(site_), S_OK);
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
}

TEST_F(InPlace, RefusedOrParentlessActivationMakesNoWindow) {
  site_->allowActivation = S_FALSE;
  ASSERT_EQ(ole_->SetClientSite(site_), S_OK);
  EXPECT_EQ(Activate(OLEIVERB_INPLACEACTIVATE), E_FAIL);
  EXPECT_EQ(site_->activations, 0);
  EXPECT_EQ(control_->Window(), nullptr);

  // Without any site nothing says where the window would go.
  ASSERT_EQ(ole_->SetClientSite(nullptr), S_OK);
  EXPECT_EQ(Activate(OLEIVERB_INPLACEACTIVATE), OLE_E_INVALIDHWND);
  EXPECT_EQ(control_->Window(), nullptr);
  HWND window = nullptr;
  EXPECT_EQ(inPlace_->GetWindow(&window), E_FAIL);
}

TEST_F(InPlace, ClientSiteIsKeptAndHandedBack) {
  CComPtr<IOleClientSite> got;
  EXPECT_EQ(ole_->GetClientSite(&got), S_OK);
  EXPECT_EQ(got.get(), nullptr);
  ASSERT_EQ(ole_->SetClientSite(site_), S_OK);
  EXPECT_EQ(ole_->GetClientSite(&got), S_OK);
  EXPECT_EQ(got.get(), static_cast<IOleClientSite*>(site_));
  got.Release();
  EXPECT_EQ(site_->References(), 2u);  // ours and the control's
  EXPECT_EQ(ole_->SetClientSite(nullptr), S_OK);
  EXPECT_EQ(site_->References(), 1u);
}

TEST_F(InPlace, FullContainerSitesActivatesPersistsAndAdvises) {
  // Every interface that a full container asks for leads back to the one object.
  CComPtr<IUnknown> identity = Query<IUnknown>(dispatch_, IID_IUnknown);
  for (const IID* iid :
       {&IID_IOleControl, &IID_IOleInPlaceActiveObject, &IID_IOleInPlaceObjectWindowless,
        &IID_IPersistStorage, &IID_ISpecifyPropertyPages, &IID_IDataObject, &IID_IPersistStreamInit,
        &IID_IViewObjectEx, &IID_IOleWindow}) {
    CComPtr<IUnknown> asked = Query<IUnknown>(dispatch_, *iid);
    ASSERT_NE(asked.get(), nullptr);
    EXPECT_EQ(Query<IUnknown>(asked, IID_IUnknown).get(), identity.get());
  }
  CComPtr<IPersistStreamInit> stream = Query<IPersistStreamInit>(dispatch_, IID_IPersistStreamInit);
  CComPtr<IPersistStorage> storage = Query<IPersistStorage>(dispatch_, IID_IPersistStorage);
  CComPtr<IOleControl> control = Query<IOleControl>(dispatch_, IID_IOleControl);
  CComPtr<IOleInPlaceActiveObject> active =
      Query<IOleInPlaceActiveObject>(dispatch_, IID_IOleInPlaceActiveObject);
  CComPtr<IOleInPlaceObjectWindowless> windowless =
      Query<IOleInPlaceObjectWindowless>(dispatch_, IID_IOleInPlaceObjectWindowless);
  CComPtr<IViewObjectEx> view = Query<IViewObjectEx>(dispatch_, IID_IViewObjectEx);

  ASSERT_EQ(stream->InitNew(), S_OK);
  ASSERT_EQ(ole_->SetClientSite(site_), S_OK);
  CONTROLINFO info{};
  info.cAccel = 9;
  ASSERT_EQ(control->GetControlInfo(&info), S_OK);
  EXPECT_EQ(info.cb, sizeof info);
  EXPECT_EQ(info.cAccel, 0);
  EXPECT_EQ(info.hAccel, nullptr);
  // Freezes nest; a thaw too many leaves the events thawed.
  for (const auto& [freeze, frozen] :
       {std::pair{TRUE, 1}, {TRUE, 2}, {FALSE, 1}, {FALSE, 0}, {FALSE, 0}}) {
    EXPECT_EQ(control->FreezeEvents(freeze), S_OK);
    EXPECT_EQ(control_->FrozenEvents(), frozen);
  }

  ASSERT_EQ(Activate(OLEIVERB_INPLACEACTIVATE), S_OK);
  HWND window = nullptr;
  EXPECT_EQ(active->GetWindow(&window), S_OK);
  EXPECT_EQ(window, control_->Window());
  MSG key{control_->Window(), WM_KEYDOWN, 'A', 0, 0, {}};
  EXPECT_EQ(active->TranslateAccelerator(&key), S_FALSE);
  // Windowed: the container has no messages to forward and gets no drop target.
  LRESULT result = 1;
  EXPECT_EQ(windowless->OnWindowMessage(WM_KEYDOWN, 'A', 0, &result), S_FALSE);
  IDropTarget* drop = nullptr;
  EXPECT_EQ(windowless->GetDropTarget(&drop), E_NOTIMPL);

  // A save writes no more than GetSizeMax promised, and loading it back reads all of it.
  MemoryStream* memory = new MemoryStream;
  ULARGE_INTEGER sizeMax{~0ull};
  EXPECT_EQ(stream->GetSizeMax(&sizeMax), S_OK);
  EXPECT_EQ(stream->Save(memory, TRUE), S_OK);
  EXPECT_LE(memory->bytes.size(), sizeMax.QuadPart);
  EXPECT_EQ(stream->Load(memory), S_OK);
  EXPECT_EQ(memory->position, memory->bytes.size());
  EXPECT_EQ(stream->IsDirty(), S_FALSE);
  EXPECT_EQ(stream->Save(nullptr, TRUE), E_POINTER);
  memory->Release();

  // The control never touches a storage, so any pointer stands for one; null is refused, but
  // not by SaveCompleted, where it means that the storage saved into stays.
  auto* anyStorage = reinterpret_cast<IStorage*>(&info);
  EXPECT_EQ(storage->InitNew(anyStorage), S_OK);
  EXPECT_EQ(storage->Save(anyStorage, TRUE), S_OK);
  EXPECT_EQ(storage->SaveCompleted(nullptr), S_OK);
  EXPECT_EQ(storage->HandsOffStorage(), S_OK);
  EXPECT_EQ(storage->Load(anyStorage), S_OK);
  EXPECT_EQ(storage->Load(nullptr), E_POINTER);
  EXPECT_EQ(storage->IsDirty(), S_FALSE);

  // The view's sink is held until replaced and handed back with its aspects and flags.
  CountingAdviseSink* sink = new CountingAdviseSink;
  EXPECT_EQ(view->SetAdvise(DVASPECT_CONTENT, ADVF_PRIMEFIRST, sink), S_OK);
  EXPECT_EQ(sink->References(), 2u);
  DWORD aspects = 0, flags = 0;
  CComPtr<IAdviseSink> gotSink;
  EXPECT_EQ(view->GetAdvise(&aspects, &flags, &gotSink), S_OK);
  EXPECT_EQ(aspects, static_cast<DWORD>(DVASPECT_CONTENT));
  EXPECT_EQ(flags, ADVF_PRIMEFIRST);
  EXPECT_EQ(gotSink.get(), static_cast<IAdviseSink*>(sink));
  gotSink.Release();
  EXPECT_EQ(view->SetAdvise(DVASPECT_CONTENT, 0, nullptr), S_OK);
  EXPECT_EQ(sink->References(), 1u);

  // The object's sinks hear that it closes, and each goes with its own cookie. The container
  // can list them; each entry it is handed holds a reference of its own.
  auto listedCookies = [&] {
    std::vector<DWORD> cookies;
    CComPtr<IEnumSTATDATA> advises;
    EXPECT_EQ(ole_->EnumAdvise(&advises), S_OK);
    STATDATA entry{};
    while (advises && advises->Next(1, &entry, nullptr) == S_OK) {
      const FORMATETC& f = entry.formatetc;
      EXPECT_TRUE(f.cfFormat == 0 && f.ptd == nullptr && f.dwAspect == 0 && f.lindex == 0 &&
                  f.tymed == 0);
      EXPECT_EQ(entry.advf, 0u);
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
  EXPECT_EQ(sink->References(), 2u);
  EXPECT_EQ(listedCookies(), std::vector<DWORD>{second});
  EXPECT_EQ(ole_->Unadvise(first), OLE_E_NOCONNECTION);
  EXPECT_EQ(ole_->Unadvise(second), S_OK);
  EXPECT_EQ(sink->References(), 1u);
  EXPECT_EQ(ole_->Advise(nullptr, &first), E_INVALIDARG);
  sink->Release();
}

TEST_F(ControlTest, NoPropertyPagesNoDataNoDataAdvises) {
  CAUUID pages{7, reinterpret_cast<GUID*>(&pages)};
  EXPECT_EQ(Query<ISpecifyPropertyPages>(dispatch_, IID_ISpecifyPropertyPages)->GetPages(&pages),
            S_OK);
  EXPECT_EQ(pages.cElems, 0u);
  EXPECT_EQ(pages.pElems, nullptr);

  CComPtr<IDataObject> data = Query<IDataObject>(dispatch_, IID_IDataObject);
  FORMATETC format{1, nullptr, DVASPECT_CONTENT, -1, 1};
  STGMEDIUM medium{};
  DWORD cookie = 5;
  const std::pair<HRESULT, HRESULT> calls[] = {
      {data->GetData(&format, &medium), DV_E_FORMATETC},
      {data->GetDataHere(&format, &medium), DV_E_FORMATETC},
      {data->QueryGetData(&format), DV_E_FORMATETC},
      {data->DAdvise(&format, 0, nullptr, &cookie), OLE_E_ADVISENOTSUPPORTED},
      {data->DUnadvise(1), OLE_E_ADVISENOTSUPPORTED},
  };
  for (std::size_t i = 0; i < std::size(calls); ++i) {
    EXPECT_EQ(calls[i].first, calls[i].second) << "call " << i;
  }
  EXPECT_EQ(cookie, 0u);
}

TEST_F(ControlTest, StatusExtentsAndClassOfAControlNeverActivated) {
  CComPtr<IOleObject> ole;
  ASSERT_EQ(dispatch_->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole)), S_OK);
  DWORD status = 0;
  EXPECT_EQ(ole->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
  EXPECT_EQ(status, 0x20191u);
  EXPECT_EQ(ole->GetMiscStatus(DVASPECT_ICON, &status), S_OK);
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(ole->GetMiscStatus(DVASPECT_CONTENT, nullptr), E_POINTER);

  CComPtr<IViewObjectEx> view;
  ASSERT_EQ(dispatch_->QueryInterface(IID_IViewObject2, reinterpret_cast<void**>(&view)), S_OK);
  EXPECT_EQ(view->GetViewStatus(&status), S_OK);
  EXPECT_EQ(status, static_cast<DWORD>(VIEWSTATUS_SOLIDBKGND | VIEWSTATUS_OPAQUE));

  // One extent, whichever interface sets or reads it.
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
  EXPECT_EQ(quick->GetContentExtent(&read), S_OK);
  EXPECT_EQ(read.cy, 567);

  CComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(dispatch_->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist)),
            S_OK);
  EXPECT_EQ(persist->InitNew(), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  CLSID clsid{};
  EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_KWZ_ScreenReceiver));

  // Every interface leads back to the same object.
  CComPtr<IUnknown> fromView;
  CComPtr<IUnknown> fromDispatch;
  ASSERT_EQ(view->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromView)), S_OK);
  ASSERT_EQ(dispatch_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromDispatch)), S_OK);
  EXPECT_EQ(fromView.get(), fromDispatch.get());
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
