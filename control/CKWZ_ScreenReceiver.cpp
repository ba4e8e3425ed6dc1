#include "control/CKWZ_ScreenReceiver.h"

#include <cstdlib>
#include <limits>

#include "control/CKWZ_ScreenReceiverModule.h"
#include "platform/widestring.h"
#include "platform/winerror.h"

namespace {

std::atomic<LONG> g_objectCount{0};

// The stored narrow text as a new BSTR widened with the system code page.
HRESULT TextToBstr(const std::string& text, BSTR* pVal) {
  if (pVal == nullptr) return E_INVALIDARG;
  const std::u16string wide = Widen(text.c_str());
  *pVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  return *pVal != nullptr ? S_OK : E_OUTOFMEMORY;
}

// A BSTR narrowed with the system code page; null stores the empty string.
std::string BstrToText(BSTR value) {
  return value != nullptr ? Narrow(value) : std::string();
}

// Reads the text as atoi does: leading white space, an optional sign, digits; anything else
// gives 0. Values beyond 32 bits saturate rather than wrap.
LONG ReadLeadingInteger(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > std::numeric_limits<LONG>::max()) return std::numeric_limits<LONG>::max();
  if (value < std::numeric_limits<LONG>::min()) return std::numeric_limits<LONG>::min();
  return static_cast<LONG>(value);
}

HRESULT IntegerToBstr(LONG value, BSTR* pVal) {
  if (pVal == nullptr) return E_INVALIDARG;
  const std::u16string text = FormatWide(u"%d", value);
  *pVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *pVal != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT ReadLong(LONG value, LONG* pVal) {
  if (pVal == nullptr) return E_INVALIDARG;
  *pVal = value;
  return S_OK;
}

}  // namespace

HRESULT CProxy_IKWZ_ScreenReceiverEvents::Fire_SizeUpdated(ULONG dx, ULONG dy) {
  VARIANT args[2];
  VariantInit(&args[0]);
  VariantInit(&args[1]);
  args[0].vt = VT_UI4;
  args[0].ulVal = dx;
  args[1].vt = VT_UI4;
  args[1].ulVal = dy;
  return Fire(kDispSizeUpdated, args, 2);
}

CKWZ_ScreenReceiver::CKWZ_ScreenReceiver() {
  ++g_objectCount;
  m_keyRecord.type = kInputRecordKeyboard;
  // Remote control's socket needs Winsock started in this process, whoever else uses it; a
  // failed start-up shows later as a socket that cannot be made (S_FALSE).
  WSADATA data;
  m_bWinsockStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  ScreenReceiverModule().Lock();
}

CKWZ_ScreenReceiver::~CKWZ_ScreenReceiver() {
  if (m_bWinsockStarted) WSACleanup();
  --g_objectCount;
  ScreenReceiverModule().Unlock();
}

HRESULT CKWZ_ScreenReceiver::CreateInstance(REFIID iid, void** object) {
  return CreateInstance(nullptr, iid, object);
}

HRESULT CKWZ_ScreenReceiver::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  auto* control = new (std::nothrow) CKWZ_ScreenReceiver();
  if (control == nullptr) return E_OUTOFMEMORY;
  control->m_pOuterUnknown = outer;
  const HRESULT hr = control->m_innerUnknown.QueryInterface(iid, object);
  control->m_innerUnknown.Release();
  return hr;
}

HRESULT CKWZ_ScreenReceiver::CInnerUnknown::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown)) {
    *object = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  return owner_->InternalQueryInterface(iid, object);
}

LONG CKWZ_ScreenReceiver::ObjectCount() {
  return g_objectCount.load();
}

const kwz_platform::DispatchTypeInfo& CKWZ_ScreenReceiver::DispatchInfo() {
  using namespace kwz_platform;
  using C = CKWZ_ScreenReceiver;
  // A static object, not a heap one: the module that holds it may be unloaded before the
  // process ends, and its type information goes with it.
  static DispatchTypeInfo info(
      IID_IKWZ_ScreenReceiver, u"IKWZ_ScreenReceiver", u"IKWZ_ScreenReceiver Interface",
      {DispMethod<&C::Init>(u"Init", kDispInit, u"method Init"),
       DispMethod<&C::DeInit>(u"DeInit", kDispDeInit, u"method DeInit"),
       DispMethod<&C::Start>(u"Start", kDispStart, u"method Start"),
       DispMethod<&C::Stop>(u"Stop", kDispStop, u"method Stop"),
       DispPropGet<&C::get_SourceAddress>(u"SourceAddress", kDispSourceAddress,
                                          u"property SourceAddress"),
       DispPropPut<&C::put_SourceAddress>(u"SourceAddress", kDispSourceAddress,
                                          u"property SourceAddress"),
       DispPropGet<&C::get_SourcePort>(u"SourcePort", kDispSourcePort, u"property SourcePort"),
       DispPropPut<&C::put_SourcePort>(u"SourcePort", kDispSourcePort, u"property SourcePort"),
       DispPropGet<&C::get_DrawWidth>(u"DrawWidth", kDispDrawWidth, u"property DrawWidth"),
       DispPropPut<&C::put_DrawWidth>(u"DrawWidth", kDispDrawWidth, u"property DrawWidth"),
       DispPropGet<&C::get_DrawHeight>(u"DrawHeight", kDispDrawHeight, u"property DrawHeight"),
       DispPropPut<&C::put_DrawHeight>(u"DrawHeight", kDispDrawHeight, u"property DrawHeight"),
       DispMethod<&C::JoinMulticastGroup>(u"JoinMulticastGroup", kDispJoinMulticastGroup,
                                          u"method JoinMulticastGroup", {u"group"}),
       DispMethod<&C::LeaveMulticastGroup>(u"LeaveMulticastGroup", kDispLeaveMulticastGroup,
                                           u"method LeaveMulticastGroup", {u"group"}),
       DispMethod<&C::StartRemoteControl>(u"StartRemoteControl", kDispStartRemoteControl,
                                          u"method StartRemoteControl"),
       DispMethod<&C::EndRemoteControl>(u"EndRemoteControl", kDispEndRemoteControl,
                                        u"method EndRemoteControl"),
       DispPropGet<&C::get_ServerAddress>(u"ServerAddress", kDispServerAddress,
                                          u"property ServerAddress"),
       DispPropPut<&C::put_ServerAddress>(u"ServerAddress", kDispServerAddress,
                                          u"property ServerAddress"),
       DispPropGet<&C::get_ServerPort>(u"ServerPort", kDispServerPort, u"property ServerPort"),
       DispPropPut<&C::put_ServerPort>(u"ServerPort", kDispServerPort, u"property ServerPort"),
       DispPropGet<&C::get_EnableStretch>(u"EnableStretch", kDispEnableStretch,
                                          u"property EnableStretch"),
       DispPropPut<&C::put_EnableStretch>(u"EnableStretch", kDispEnableStretch,
                                          u"property EnableStretch"),
       DispPropGet<&C::get_BlockWidth>(u"BlockWidth", kDispBlockWidth, u"property BlockWidth"),
       DispPropPut<&C::put_BlockWidth>(u"BlockWidth", kDispBlockWidth, u"property BlockWidth"),
       DispPropGet<&C::get_BlockHeight>(u"BlockHeight", kDispBlockHeight, u"property BlockHeight"),
       DispPropPut<&C::put_BlockHeight>(u"BlockHeight", kDispBlockHeight, u"property BlockHeight"),
       DispMethod<&C::SetProperties>(u"SetProperties", kDispSetProperties, u"method set properties",
                                     {u"prop", u"newVal"}),
       DispMethod<&C::GetProperties>(u"GetProperties", kDispGetProperties, u"method get properties",
                                     {u"prop", u"pVal"})});
  return info;
}

HRESULT CKWZ_ScreenReceiver::QueryInterface(REFIID iid, void** object) {
  if (m_pOuterUnknown != nullptr) return m_pOuterUnknown->QueryInterface(iid, object);
  return InternalQueryInterface(iid, object);
}

HRESULT CKWZ_ScreenReceiver::InternalQueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, IID_IKWZ_ScreenReceiver)) {
    *object = static_cast<IKWZ_ScreenReceiver*>(this);
  } else if (IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IPersistStreamInit)) {
    *object = static_cast<IPersistStreamInit*>(this);
  } else if (IsEqualIID(iid, IID_IOleObject)) {
    *object = static_cast<IOleObject*>(this);
  } else if (IsEqualIID(iid, IID_IViewObject) || IsEqualIID(iid, IID_IViewObject2) ||
             IsEqualIID(iid, IID_IViewObjectEx)) {
    *object = static_cast<IViewObjectEx*>(this);
  } else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceObject) ||
             IsEqualIID(iid, IID_IOleInPlaceObjectWindowless)) {
    *object = static_cast<IOleInPlaceObjectWindowless*>(this);
  } else if (IsEqualIID(iid, IID_IOleInPlaceActiveObject)) {
    *object = static_cast<IOleInPlaceActiveObject*>(this);
  } else if (IsEqualIID(iid, IID_IOleControl)) {
    *object = static_cast<IOleControl*>(this);
  } else if (IsEqualIID(iid, IID_IPersistStorage)) {
    *object = static_cast<IPersistStorage*>(this);
  } else if (IsEqualIID(iid, IID_ISpecifyPropertyPages)) {
    *object = static_cast<ISpecifyPropertyPages*>(this);
  } else if (IsEqualIID(iid, IID_IDataObject)) {
    *object = static_cast<IDataObject*>(this);
  } else if (IsEqualIID(iid, IID_IQuickActivate)) {
    *object = static_cast<IQuickActivate*>(this);
  } else if (IsEqualIID(iid, IID_IProvideClassInfo) || IsEqualIID(iid, IID_IProvideClassInfo2)) {
    *object = static_cast<IProvideClassInfo2*>(this);
  } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
    *object = static_cast<ISupportErrorInfo*>(this);
  } else if (IsEqualIID(iid, IID_IConnectionPointContainer)) {
    *object = static_cast<IConnectionPointContainer*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG CKWZ_ScreenReceiver::AddRef() {
  if (m_pOuterUnknown != nullptr) return m_pOuterUnknown->AddRef();
  return ++m_refs;
}

ULONG CKWZ_ScreenReceiver::Release() {
  if (m_pOuterUnknown != nullptr) return m_pOuterUnknown->Release();
  return InternalRelease();
}

ULONG CKWZ_ScreenReceiver::InternalRelease() {
  const ULONG left = --m_refs;
  if (left != 0) return left;
  // Teardown may hand the object out briefly (a sink called during DeInit); a count of one
  // keeps those pairs from starting a second teardown, and the outer object, which is going
  // away, no longer takes them.
  m_pOuterUnknown = nullptr;
  m_refs = 1;
  DeInit();
  DestroyControlWindow();
  delete this;
  return 0;
}

HRESULT CKWZ_ScreenReceiver::get_SourceAddress(BSTR* pVal) {
  return TextToBstr(m_strSourceAddress, pVal);
}
HRESULT CKWZ_ScreenReceiver::put_SourceAddress(BSTR newVal) {
  m_strSourceAddress = BstrToText(newVal);
  return S_OK;
}
HRESULT CKWZ_ScreenReceiver::get_SourcePort(BSTR* pVal) {
  return IntegerToBstr(m_nSourcePort, pVal);
}
HRESULT CKWZ_ScreenReceiver::put_SourcePort(BSTR newVal) {
  m_nSourcePort = ReadLeadingInteger(BstrToText(newVal));
  return S_OK;
}
HRESULT CKWZ_ScreenReceiver::get_DrawWidth(LONG* pVal) {
  return ReadLong(m_nDrawWidth, pVal);
}
HRESULT CKWZ_ScreenReceiver::put_DrawWidth(LONG newVal) {
  m_nDrawWidth = newVal;
  return S_OK;
}
HRESULT CKWZ_ScreenReceiver::get_DrawHeight(LONG* pVal) {
  return ReadLong(m_nDrawHeight, pVal);
}
HRESULT CKWZ_ScreenReceiver::put_DrawHeight(LONG newVal) {
  m_nDrawHeight = newVal;
  return S_OK;
}
HRESULT CKWZ_ScreenReceiver::JoinMulticastGroup(BSTR group) {
  m_strMulticastGroup = BstrToText(group);
  return S_OK;
}
HRESULT CKWZ_ScreenReceiver::LeaveMulticastGroup(BSTR) {
  return S_OK;
}
HRESULT CKWZ_ScreenReceiver::get_ServerAddress(BSTR* pVal) {
  return TextToBstr(m_strServerAddress, pVal);
}
HRESULT CKWZ_ScreenReceiver::put_ServerAddress(BSTR newVal) {
  m_strServerAddress = BstrToText(newVal);
  return S_OK;
}
HRESULT CKWZ_ScreenReceiver::get_ServerPort(BSTR* pVal) {
  return IntegerToBstr(m_nServerPort, pVal);
}
HRESULT CKWZ_ScreenReceiver::put_ServerPort(BSTR newVal) {
  m_nServerPort = ReadLeadingInteger(BstrToText(newVal));
  return S_OK;
}
HRESULT CKWZ_ScreenReceiver::get_EnableStretch(LONG* pVal) {
  return ReadLong(m_bEnableStretch.load(std::memory_order_relaxed) ? 1 : 0, pVal);
}
HRESULT CKWZ_ScreenReceiver::put_EnableStretch(LONG newVal) {
  m_bEnableStretch.store(newVal != 0, std::memory_order_relaxed);
  return S_OK;
}
HRESULT CKWZ_ScreenReceiver::get_BlockWidth(LONG* pVal) {
  return ReadLong(m_nBlockWidth, pVal);
}
HRESULT CKWZ_ScreenReceiver::put_BlockWidth(LONG newVal) {
  m_nBlockWidth = newVal;
  return S_OK;
}
HRESULT CKWZ_ScreenReceiver::get_BlockHeight(LONG* pVal) {
  return ReadLong(m_nBlockHeight, pVal);
}
HRESULT CKWZ_ScreenReceiver::put_BlockHeight(LONG newVal) {
  m_nBlockHeight = newVal;
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::InterfaceSupportsErrorInfo(REFIID iid) {
  return IsEqualIID(iid, IID_IKWZ_ScreenReceiver) ? S_OK : S_FALSE;
}

HRESULT CKWZ_ScreenReceiver::EnumConnectionPoints(IEnumConnectionPoints** points) {
  return kwz_platform::EnumerateConnectionPoints({&m_eventPoint}, points);
}

HRESULT CKWZ_ScreenReceiver::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  return kwz_platform::FindConnectionPointAmong({&m_eventPoint}, iid, point);
}
