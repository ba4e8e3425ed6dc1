// The control's dual automation interface. Its own members follow IDispatch's seven slots in
// this order (a property's getter before its setter); containers that bind early rely on it.
#pragma once

#include "platform/oleauto.h"

class IKWZ_ScreenReceiver : public IDispatch {
 public:
  virtual HRESULT Init() = 0;
  virtual HRESULT DeInit() = 0;
  virtual HRESULT Start() = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT get_SourceAddress(BSTR* pVal) = 0;
  virtual HRESULT put_SourceAddress(BSTR newVal) = 0;
  virtual HRESULT get_SourcePort(BSTR* pVal) = 0;
  virtual HRESULT put_SourcePort(BSTR newVal) = 0;
  virtual HRESULT get_DrawWidth(LONG* pVal) = 0;
  virtual HRESULT put_DrawWidth(LONG newVal) = 0;
  virtual HRESULT get_DrawHeight(LONG* pVal) = 0;
  virtual HRESULT put_DrawHeight(LONG newVal) = 0;
  virtual HRESULT JoinMulticastGroup(BSTR group) = 0;
  virtual HRESULT LeaveMulticastGroup(BSTR group) = 0;
  virtual HRESULT StartRemoteControl() = 0;
  virtual HRESULT EndRemoteControl() = 0;
  virtual HRESULT get_ServerAddress(BSTR* pVal) = 0;
  virtual HRESULT put_ServerAddress(BSTR newVal) = 0;
  virtual HRESULT get_ServerPort(BSTR* pVal) = 0;
  virtual HRESULT put_ServerPort(BSTR newVal) = 0;
  virtual HRESULT get_EnableStretch(LONG* pVal) = 0;
  virtual HRESULT put_EnableStretch(LONG newVal) = 0;
  virtual HRESULT get_BlockWidth(LONG* pVal) = 0;
  virtual HRESULT put_BlockWidth(LONG newVal) = 0;
  virtual HRESULT get_BlockHeight(LONG* pVal) = 0;
  virtual HRESULT put_BlockHeight(LONG newVal) = 0;
  virtual HRESULT SetProperties(BSTR prop, BSTR newVal) = 0;
  virtual HRESULT GetProperties(BSTR prop, BSTR* pVal) = 0;

 protected:
  ~IKWZ_ScreenReceiver() = default;
};

// DISPIDs of the type library.
enum ScreenReceiverDispid : DISPID {
  kDispInit = 1,
  kDispDeInit = 2,
  kDispStart = 3,
  kDispStop = 4,
  kDispSourceAddress = 5,
  kDispSourcePort = 6,
  kDispDrawWidth = 7,
  kDispDrawHeight = 8,
  kDispJoinMulticastGroup = 9,
  kDispLeaveMulticastGroup = 10,
  kDispStartRemoteControl = 11,
  kDispEndRemoteControl = 12,
  kDispServerAddress = 13,
  kDispServerPort = 14,
  kDispEnableStretch = 15,
  kDispBlockWidth = 16,
  kDispBlockHeight = 17,
  kDispSetProperties = 18,
  kDispGetProperties = 19,
};

// The one event of _IKWZ_ScreenReceiverEvents: SizeUpdated([in] ULONG dx, [in] ULONG dy).
constexpr DISPID kDispSizeUpdated = 1;
