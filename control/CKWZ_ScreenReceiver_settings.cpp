// The named settings and queries: the keys of the shared table that this control handles, and
// the errors that every other key gets.
#include <string>

#include "control/AutomationBoundary.h"
#include "control/CKWZ_ScreenReceiver.h"
#include "platform/com_exception.h"
#include "platform/widestring.h"
#include "platform/winerror.h"

namespace {

constexpr const char16_t* kSourceFile = u".\\ScreenReceiver";
// Each word of a query has room for this many characters; a longer one is not a word.
constexpr unsigned kWordRoom = 256;

std::u16string BstrText(BSTR value) {
  return value != nullptr ? std::u16string(value) : std::u16string();
}

[[noreturn]] void Raise(LONG line, const std::u16string& text, HRESULT code) {
  throw exc_screen_receiver(kSourceFile, line, text.c_str(), static_cast<DWORD>(code));
}

}  // namespace

HRESULT CKWZ_ScreenReceiver::SetProperties(BSTR prop, BSTR newVal) {
  return kwz_control::RunAtBoundary("KWZ Unknown exception\nCKWZ_ScreenReceiver::SetProperties",
                                    [&] { return SetPropertiesBody(prop, newVal); });
}

HRESULT CKWZ_ScreenReceiver::SetPropertiesBody(BSTR prop, BSTR newVal) {
  const std::u16string key = BstrText(prop);
  const std::u16string value = BstrText(newVal);
  const std::u16string errorText = u"Set property error: " + key;
  switch (GetPropertyId(key)) {
    case kEnableTunnel: {
      int tunnel = 0;
      if (swscanf_s(value.c_str(), u"%d", &tunnel) != 1) Raise(705, errorText, E_INVALIDARG);
      m_nTunnel = static_cast<DWORD>(tunnel);
      break;
    }
    case kEnablePacketReordering: {
      int enabled = 0;
      int parameter = 0;
      if (swscanf_s(value.c_str(), u"%d %d", &enabled, &parameter) != 2) {
        Raise(713, errorText, E_INVALIDARG);
      }
      m_bPacketReordering = enabled != 0;
      m_nReorderParam = parameter;
      break;
    }
    default:
      Raise(723, u"Unknown property : " + key, S_OK);
  }
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::GetProperties(BSTR prop, BSTR* pVal) {
  return kwz_control::RunAtBoundary("KWZ Unknown exception\nCKWZ_ScreenReceiver::GetProperties",
                                    [&] { return GetPropertiesBody(prop, pVal); });
}

HRESULT CKWZ_ScreenReceiver::GetPropertiesBody(BSTR prop, BSTR* pVal) {
  const std::u16string query = BstrText(prop);
  const std::u16string errorText = u"Get property error: " + query;
  WCHAR key[kWordRoom] = {};
  WCHAR argument[kWordRoom] = {};
  // The argument, when there is one, is read and used by none of the keys answered here.
  if (swscanf_s(query.c_str(), u"%s %s", key, kWordRoom, argument, kWordRoom) != 2 &&
      swscanf_s(query.c_str(), u"%s ", key, kWordRoom) != 1) {
    Raise(745, errorText, E_INVALIDARG);
  }
  std::u16string answer;
  switch (GetPropertyId(key)) {
    case kEnableTunnel:
      answer = m_nTunnel != 0 ? u"1" : u"0";
      break;
    case kEnablePacketReordering:
      answer = m_bPacketReordering ? u"1" : u"0";
      break;
    case kVideoPacketLost:
      answer = m_pEngine != nullptr ? m_pEngine->GetPacketLossReport() : u"0/0";
      break;
    case kPacketLost:
      answer = u"0/0";
      break;
    default:
      Raise(770, u"Unknown property : " + query, S_OK);
  }
  if (pVal == nullptr) return E_POINTER;
  *pVal = SysAllocStringLen(answer.data(), static_cast<UINT>(answer.size()));
  if (*pVal == nullptr) AtlThrow(E_OUTOFMEMORY);
  return S_OK;
}
