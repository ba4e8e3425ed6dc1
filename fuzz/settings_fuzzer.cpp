// libFuzzer target for the texts a container hands the control: the named settings and
// queries (SetProperties, GetProperties) and the address and port properties, on a control
// that has no window and was never started. Input: a list of calls, each
//
//   u8 call (op % 6), u16 first text length, that many UTF-16LE code units, u16 second text
//   length, that many code units (lengths mod 512; a text may hold NUL units)
//
//   0 SetProperties(first, second)   1 GetProperties(first)
//   2 SetProperties(a handled key picked by first[0], second), then GetProperties(that key)
//   3 put_SourcePort / put_ServerPort(first), read back   4 put_SourceAddress /
//   put_ServerAddress(first), read back   5 GetProperties(a handled key + first)
//
// Every call ends with S_OK or a clear error, never a crash; what is read back has the form of
// its property; no call leaves a control object behind.
//
// One control serves the whole run: making one per input (its property table, its COM object)
// cost more than the calls. After each input every setting it can change is put back through
// the control's own setters to what the fresh control had, and read back, so that no input
// sees what an earlier one set. Only the reordering parameter (the number after the flag in
// "enable_pck_reordering") has no getter; nothing on a control that never starts reads it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "control/CKWZ_ScreenReceiver.h"
#include "fuzz/FuzzSupport.h"
#include "platform/com.h"
#include "platform/com_ptr.h"
#include "platform/oleauto.h"
#include "platform/winerror.h"

namespace {

using kwz_fuzz::Reader;

// The keys this control answers; the others are unknown to it.
constexpr const char16_t* kHandledKeys[] = {u"enable_tunnel", u"enable_pck_reordering",
                                            u"video_pck_lost", u"pck_lost"};

// A BSTR that frees itself; its length may include NUL units.
class Text {
 public:
  explicit Text(const std::u16string& text)
      : bstr_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
    KWZ_FUZZ_CHECK(bstr_ != nullptr);
  }
  ~Text() { SysFreeString(bstr_); }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  BSTR get() const { return bstr_; }

 private:
  BSTR bstr_;
};

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

bool IsSetterResult(HRESULT hr) {
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
  std::u16string text(value, SysStringLen(value));
  SysFreeString(value);
  return text;
}

void Query(IKWZ_ScreenReceiver* control, const std::u16string& query) {
  Text prop(query);
  BSTR answer = nullptr;
  const HRESULT hr = control->GetProperties(prop.get(), &answer);
  if (hr != S_OK) {
    KWZ_FUZZ_CHECK(hr == E_INVALIDARG || hr == DISP_E_EXCEPTION);
    KWZ_FUZZ_CHECK(answer == nullptr);
    return;
  }
  const std::u16string text = Take(answer);
  // A flag, or losses over datagrams ("lost/received").
  KWZ_FUZZ_CHECK(text == u"0" || text == u"1" || text.find(u'/') != std::u16string::npos);
}

// The settings a fresh control starts with, as its getters report them.
struct Settings {
  std::u16string tunnel, reordering, sourcePort, serverPort, sourceAddress, serverAddress;

  bool operator==(const Settings&) const = default;
};

std::u16string Answer(IKWZ_ScreenReceiver* control, const char16_t* key) {
  Text query(key);
  BSTR answer = nullptr;
  KWZ_FUZZ_CHECK(control->GetProperties(query.get(), &answer) == S_OK);
  return Take(answer);
}

Settings Read(IKWZ_ScreenReceiver* control) {
  Settings settings;
  settings.tunnel = Answer(control, u"enable_tunnel");
  settings.reordering = Answer(control, u"enable_pck_reordering");
  BSTR value = nullptr;
  KWZ_FUZZ_CHECK(control->get_SourcePort(&value) == S_OK);
  settings.sourcePort = Take(value);
  KWZ_FUZZ_CHECK(control->get_ServerPort(&value) == S_OK);
  settings.serverPort = Take(value);
  KWZ_FUZZ_CHECK(control->get_SourceAddress(&value) == S_OK);
  settings.sourceAddress = Take(value);
  KWZ_FUZZ_CHECK(control->get_ServerAddress(&value) == S_OK);
  settings.serverAddress = Take(value);
  return settings;
}

void Restore(IKWZ_ScreenReceiver* control, const Settings& fresh) {
  Text tunnelKey(u"enable_tunnel"), tunnel(fresh.tunnel);
  KWZ_FUZZ_CHECK(control->SetProperties(tunnelKey.get(), tunnel.get()) == S_OK);
  Text reorderingKey(u"enable_pck_reordering"), reordering(fresh.reordering + u" 0");
  KWZ_FUZZ_CHECK(control->SetProperties(reorderingKey.get(), reordering.get()) == S_OK);
  Text sourcePort(fresh.sourcePort), serverPort(fresh.serverPort);
  KWZ_FUZZ_CHECK(control->put_SourcePort(sourcePort.get()) == S_OK);
  KWZ_FUZZ_CHECK(control->put_ServerPort(serverPort.get()) == S_OK);
  Text sourceAddress(fresh.sourceAddress), serverAddress(fresh.serverAddress);
  KWZ_FUZZ_CHECK(control->put_SourceAddress(sourceAddress.get()) == S_OK);
  KWZ_FUZZ_CHECK(control->put_ServerAddress(serverAddress.get()) == S_OK);
  KWZ_FUZZ_CHECK(Read(control) == fresh);
}

// The run's control, made on first use; released by the process's end.
IKWZ_ScreenReceiver* Control(const Settings** fresh) {
  static const bool apartment = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  KWZ_FUZZ_CHECK(apartment);
  static IDispatch* const dispatch = [] {
    IDispatch* made = nullptr;
    KWZ_FUZZ_CHECK(CKWZ_ScreenReceiver::CreateInstance(IID_IDispatch,
                                                       reinterpret_cast<void**>(&made)) == S_OK);
    return made;
  }();
  auto* control = static_cast<IKWZ_ScreenReceiver*>(dispatch);
  static const Settings initial = Read(control);
  *fresh = &initial;
  return control;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Settings* fresh = nullptr;
  IKWZ_ScreenReceiver* const control = Control(&fresh);
  Reader in(data, size);
  for (int call = 0; call < 64 && !in.Empty(); ++call) {
    const std::uint8_t op = in.U8();
    const std::u16string first = ReadText(in);
    const std::u16string second = ReadText(in);
    switch (op % 6) {
      case 0: {
        Text key(first), value(second);
        KWZ_FUZZ_CHECK(IsSetterResult(control->SetProperties(key.get(), value.get())));
        break;
      }
      case 1:
        Query(control, first);
        break;
      case 2: {
        const char16_t* handled = kHandledKeys[(first.empty() ? 0 : first[0]) % 4];
        Text key(handled), value(second);
        KWZ_FUZZ_CHECK(IsSetterResult(control->SetProperties(key.get(), value.get())));
        Query(control, handled);
        break;
      }
      case 3: {
        Text port(first);
        BSTR back = nullptr;
        if (op & 8) {
          KWZ_FUZZ_CHECK(control->put_ServerPort(port.get()) == S_OK);
          KWZ_FUZZ_CHECK(control->get_ServerPort(&back) == S_OK);
        } else {
          KWZ_FUZZ_CHECK(control->put_SourcePort(port.get()) == S_OK);
          KWZ_FUZZ_CHECK(control->get_SourcePort(&back) == S_OK);
        }
        KWZ_FUZZ_CHECK(IsPortText(Take(back)));
        break;
      }
      case 4: {
        Text address(first);
        BSTR back = nullptr;
        if (op & 8) {
          KWZ_FUZZ_CHECK(control->put_ServerAddress(address.get()) == S_OK);
          KWZ_FUZZ_CHECK(control->get_ServerAddress(&back) == S_OK);
        } else {
          KWZ_FUZZ_CHECK(control->put_SourceAddress(address.get()) == S_OK);
          KWZ_FUZZ_CHECK(control->get_SourceAddress(&back) == S_OK);
        }
        const std::u16string stored = Take(back);
        if (IsWellFormed(UpToNul(first))) KWZ_FUZZ_CHECK(stored == UpToNul(first));
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
