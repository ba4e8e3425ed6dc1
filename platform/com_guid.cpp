// GUIDs: the well-known identifiers and their text form.
#include <cstdio>

#include "platform/com.h"
#include "platform/ocidl.h"
#include "platform/oleauto.h"
#include "platform/winerror.h"

const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_NULL = GUID_NULL;
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ITypeInfo = {0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ITypeLib = {0x00020402, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IErrorInfo = {
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ICreateErrorInfo = {
    0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ISupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_IGlobalInterfaceTable = {0x00000146, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const CLSID CLSID_StdGlobalInterfaceTable = {
    0x00000323, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IConnectionPointContainer = {
    0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IConnectionPoint = {
    0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IEnumConnections = {
    0xB196B287, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IEnumConnectionPoints = {
    0xB196B285, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

namespace {

constexpr int kGuidChars = 38;  // without the NUL

int HexValue(OLECHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads digits hex digits at text[*at], advancing *at.
bool ReadHex(LPCOLESTR text, int* at, int digits, std::uint64_t* value) {
  *value = 0;
  for (int i = 0; i < digits; ++i) {
    const int v = HexValue(text[*at]);
    if (v < 0) return false;
    *value = *value << 4 | static_cast<unsigned>(v);
    ++*at;
  }
  return true;
}

bool Expect(LPCOLESTR text, int* at, OLECHAR c) {
  if (text[*at] != c) return false;
  ++*at;
  return true;
}

bool ParseGuid(LPCOLESTR text, GUID* guid) {
  int at = 0;
  std::uint64_t v;
  GUID g{};
  if (!Expect(text, &at, u'{') || !ReadHex(text, &at, 8, &v)) return false;
  g.Data1 = static_cast<DWORD>(v);
  if (!Expect(text, &at, u'-') || !ReadHex(text, &at, 4, &v)) return false;
  g.Data2 = static_cast<WORD>(v);
  if (!Expect(text, &at, u'-') || !ReadHex(text, &at, 4, &v)) return false;
  g.Data3 = static_cast<WORD>(v);
  if (!Expect(text, &at, u'-')) return false;
  for (int i = 0; i < 8; ++i) {
    if (i == 2 && !Expect(text, &at, u'-')) return false;
    if (!ReadHex(text, &at, 2, &v)) return false;
    g.Data4[i] = static_cast<BYTE>(v);
  }
  if (!Expect(text, &at, u'}') || text[at] != u'\0') return false;
  *guid = g;
  return true;
}

}  // namespace

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity) {
  if (buffer == nullptr || capacity <= kGuidChars) return 0;
  char narrow[kGuidChars + 1];
  std::snprintf(narrow, sizeof narrow, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  for (int i = 0; i <= kGuidChars; ++i) buffer[i] = static_cast<OLECHAR>(narrow[i]);
  return kGuidChars + 1;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
  if (text == nullptr || clsid == nullptr) return E_INVALIDARG;
  return ParseGuid(text, clsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
  if (text == nullptr || iid == nullptr) return E_INVALIDARG;
  return ParseGuid(text, iid) ? S_OK : E_INVALIDARG;
}
