#include "control/AutomationBoundary.h"

#include <string>

#include "control/ScreenReceiverGuids.h"
#include "platform/com_ptr.h"
#include "platform/dxerr.h"
#include "platform/oleauto.h"
#include "platform/widestring.h"
#include "runtime/ExceptionLog.h"

namespace kwz_control {

namespace {

std::u16string WidenSystemCodePage(const char* text) {
  const int needed = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (needed <= 0) return {};
  std::u16string wide(static_cast<size_t>(needed), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), needed);
  wide.resize(static_cast<size_t>(needed) - 1);  // the converted NUL
  return wide;
}

}  // namespace

void SetThreadErrorInfo(const WCHAR* description, REFGUID guid, const WCHAR* source) {
  CComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(&create))) return;
  create->SetGUID(guid);
  if (description != nullptr) create->SetDescription(const_cast<LPOLESTR>(description));
  if (source != nullptr) create->SetSource(const_cast<LPOLESTR>(source));
  CComPtr<IErrorInfo> info;
  if (FAILED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) return;
  SetErrorInfo(0, info);
}

HRESULT ReportSystemException(const base_exception& error) {
  const std::u16string entry = ReportException(error);
  SetThreadErrorInfo(entry.c_str(), CLSID_KWZ_ScreenReceiver, kScreenReceiverProgId);
  return error.code() != 0 ? static_cast<HRESULT>(error.code()) : DISP_E_EXCEPTION;
}

HRESULT ReportStandardException(const std::exception& error) {
  const std::u16string text = WidenSystemCodePage(error.what());
  SetThreadErrorInfo(text.c_str(), GUID_NULL, nullptr);
  return DISP_E_EXCEPTION;
}

HRESULT ReportFrameworkException(const CAtlException& error) {
  SetThreadErrorInfo(DXGetErrorStringW(error.m_hr), GUID_NULL, nullptr);
  return DISP_E_EXCEPTION;
}

HRESULT ReportUnknownException(const char* unknownText) {
  const std::u16string text = WidenSystemCodePage(unknownText);
  SetThreadErrorInfo(text.c_str(), CLSID_KWZ_ScreenReceiver, nullptr);
  return DISP_E_EXCEPTION;
}

}  // namespace kwz_control
