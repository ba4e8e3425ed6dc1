// libFuzzer target for the texts a container hands the control (no window, never started).
// Input: a list of calls, each u8 op, then two texts, each a u16 length (mod 512) and that many
// UTF-16LE code units (NUL units too). By op % 6:
//
//   0 SetProperties(first, second)   1 GetProperties(first)   5 GetProperties(handled key + first)
//   2 SetProperties(a handled key picked by first[0], second), then GetProperties(that key)
//   3 put_SourcePort / put_ServerPort (op & 8) (first), read back
//   4 put_SourceAddress / put_ServerAddress (op & 8) (first), read back
//
// Every call ends with S_OK or a clear error; what is read back has the form of its property; no
// call leaves a control object behind. One control serves the run (making one per input cost more
// than the calls): after each input every setting is put back through the control's setters to
// what the fresh control had, and read back. Only the reordering parameter (the number after the
// flag) has no getter; nothing on a control that never starts reads it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "control/CKWZ_ScreenReceiver.h"
#include "fuzz/FuzzSupport.h"
#include "platform/com.h"
#include "platform/com_ptr.h"
#include "platform/oleauto.h"
#include "platform/winerror.h"

namespace {

using kwz_fuzz::Reader;
using Control = IKWZ_ScreenReceiver;

// The keys this control answers; the others are unknown to it.
constexpr const char16_t* kHandledKeys[] = {u"enable_tunnel", u"enable_pck_reordering",
                                            u"video_pck_lost", u"pck_lost"};

// The text properties: the source and server ports, then the source and server addresses.
struct Property {
  HRESULT (Control::*get)(BSTR*);
  HRESULT (Control::*put)(BSTR);
};
constexpr Property kProperties[] = {{&Control::get_SourcePort, &Control::put_SourcePort},
                                    {&Control::get_ServerPort, &Control::put_ServerPort},
                                    {&Control::get_SourceAddress, &Control::put_SourceAddress},
                                    {&Control::get_ServerAddress, &Control::put_ServerAddress}};

// A BSTR that frees itself; its length may include NUL units.
struct FreeText {
  void operator()(BSTR text) const { SysFreeString(text); }
};
using Text = std::unique_ptr<std::remove_pointer_t<BSTR>, FreeText>;
Text MakeText(const std::u16string& text) {
  Text made(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
  KWZ_FUZZ_CHECK(made != nullptr);
  return made;
}

std::u16string ReadText(Reader& in) {
  std::u16string text(in.U16() % 512, u'\0');
  for (char16_t& unit : text) unit = in.U16();
  return text;
}

// What a BSTR property setter stores: the text up to its first NUL.
std::u16string UpToNul(const std::u16string& text) {
  return text.substr(0, text.find(u'\0'));
}

// Addresses are kept as narrow text in the system code page (UTF-8): well-formed UTF-16 comes
// back unchanged, a lone surrogate does not.
bool IsWellFormed(const std::u16string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] >= 0xD800 && text[i] <= 0xDBFF) {
      if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

// S_OK or a clear error.
bool IsCallResult(HRESULT hr) {
  return hr == S_OK || hr == E_INVALIDARG || hr == DISP_E_EXCEPTION;
}

// A port reads back as the decimal text of a 32-bit number.
bool IsPortText(const std::u16string& text) {
  if (text.empty() || text.size() > 11) return false;
  std::size_t at = text[0] == u'-' ? 1 : 0;
  if (at == text.size()) return false;
  long long value = 0;
  for (; at < text.size(); ++at) {
    if (text[at] < u'0' || text[at] > u'9') return false;
    value = value * 10 + (text[at] - u'0');
  }
  return value <= 2147483648LL;
}

std::u16string Take(BSTR value) {
  KWZ_FUZZ_CHECK(value != nullptr);
  const Text owned(value);
  return std::u16string(value, SysStringLen(value));
}

HRESULT Set(Control* control, const std::u16string& key, const std::u16string& value) {
  return control->SetProperties(MakeText(key).get(), MakeText(value).get());
}

// A failed query gives no answer.
HRESULT Get(Control* control, const std::u16string& key, std::u16string* answer) {
  BSTR value = nullptr;
  const HRESULT hr = control->GetProperties(MakeText(key).get(), &value);
  if (hr == S_OK) {
    *answer = Take(value);
  } else {
    KWZ_FUZZ_CHECK(value == nullptr);
  }
  return hr;
}

void Query(Control* control, const std::u16string& query) {
  std::u16string text;
  const HRESULT hr = Get(control, query, &text);
  KWZ_FUZZ_CHECK(IsCallResult(hr));
  // A flag, or losses over datagrams ("lost/received").
  if (hr == S_OK)
    KWZ_FUZZ_CHECK(text == u"0" || text == u"1" || text.find(u'/') != std::u16string::npos);
}

void Put(Control* control, const Property& property, const std::u16string& value) {
  KWZ_FUZZ_CHECK((control->*property.put)(MakeText(value).get()) == S_OK);
}

std::u16string Back(Control* control, const Property& property) {
  BSTR value = nullptr;
  KWZ_FUZZ_CHECK((control->*property.get)(&value) == S_OK);
  return Take(value);
}

// The two flags and the four text properties, as the getters report them.
std::vector<std::u16string> Read(Control* control) {
  std::vector<std::u16string> settings(2);
  KWZ_FUZZ_CHECK(Get(control, kHandledKeys[0], &settings[0]) == S_OK);
  KWZ_FUZZ_CHECK(Get(control, kHandledKeys[1], &settings[1]) == S_OK);
  for (const Property& property : kProperties) settings.push_back(Back(control, property));
  return settings;
}

void Restore(Control* control, const std::vector<std::u16string>& fresh) {
  KWZ_FUZZ_CHECK(Set(control, kHandledKeys[0], fresh[0]) == S_OK);
  KWZ_FUZZ_CHECK(Set(control, kHandledKeys[1], fresh[1] + u" 0") == S_OK);
  for (int i = 0; i < 4; ++i) Put(control, kProperties[i], fresh[2 + i]);
  KWZ_FUZZ_CHECK(Read(control) == fresh);
}

// The run's control, made on first use; released by the process's end.
Control* TheControl(const std::vector<std::u16string>** fresh) {
  static const bool apartment = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  KWZ_FUZZ_CHECK(apartment);
  static IDispatch* const dispatch = [] {
    IDispatch* made = nullptr;
    KWZ_FUZZ_CHECK(CKWZ_ScreenReceiver::CreateInstance(IID_IDispatch,
                                                       reinterpret_cast<void**>(&made)) == S_OK);
    return made;
  }();
  auto* control = static_cast<Control*>(dispatch);
  static const std::vector<std::u16string> initial = Read(control);
  *fresh = &initial;
  return control;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::u16string>* fresh = nullptr;
  Control* const control = TheControl(&fresh);
  Reader in(data, size);
  for (int call = 0; call < 64 && !in.Empty(); ++call) {
    const std::uint8_t op = in.U8();
    const std::u16string first = ReadText(in);
    const std::u16string second = ReadText(in);
    switch (op % 6) {
      case 0:
        KWZ_FUZZ_CHECK(IsCallResult(Set(control, first, second)));
        break;
      case 1:
        Query(control, first);
        break;
      case 2: {
        const char16_t* handled = kHandledKeys[(first.empty() ? 0 : first[0]) % 4];
        KWZ_FUZZ_CHECK(IsCallResult(Set(control, handled, second)));
        Query(control, handled);
        break;
      }
      case 3:
      case 4: {
        const Property& property = kProperties[(op % 6 == 4 ? 2 : 0) + ((op & 8) != 0 ? 1 : 0)];
        Put(control, property, first);
        const std::u16string stored = Back(control, property);
        if (op % 6 == 3) {
          KWZ_FUZZ_CHECK(IsPortText(stored));
        } else if (IsWellFormed(UpToNul(first))) {
          KWZ_FUZZ_CHECK(stored == UpToNul(first));
        }
        break;
      }
      case 5:
        Query(control, std::u16string(kHandledKeys[op / 6 % 4]) + first);
        break;
    }
  }
  Restore(control, *fresh);
  KWZ_FUZZ_CHECK(CKWZ_ScreenReceiver::ObjectCount() == 1);
  return 0;
}
