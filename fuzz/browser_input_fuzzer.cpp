// libFuzzer target for what a browser page sends the web gateway: the message parser and the
// records that pointer and key messages become. Input:
//
//   u16 screen width, u16 screen height (both mod 4097), then messages, each a u8 length and
//   that many bytes
//
// A CONTROL take starts remote control afresh, pointer and key messages go to the translator,
// and the mouse record is re-sent after each message. Junk is refused; every record that goes
// out is a well-formed keyboard or mouse record, the mouse's position on the given screen.
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>

#include "fuzz/FuzzSupport.h"
#include "web/BrowserRemoteControl.h"

namespace {

using kwz_fuzz::Reader;

constexpr DWORD kAllButtonBits = 0x777;

void CheckRecord(const InputRecord& r, int width, int height) {
  KWZ_FUZZ_CHECK(r.reserved == 0);
  if (r.type == kInputRecordKeyboard) {
    KWZ_FUZZ_CHECK(r.x == 0 && r.y == 0 && r.buttons == 0);
    KWZ_FUZZ_CHECK(r.message == kInputMessageKeyDown || r.message == kInputMessageCharacter);
    return;
  }
  KWZ_FUZZ_CHECK(r.type == kInputRecordMouse);
  KWZ_FUZZ_CHECK(r.message == 0 && r.wParam == 0xFFFFFFFF && r.lParam == 0xFFFFFFFF);
  KWZ_FUZZ_CHECK((r.buttons & ~kAllButtonBits) == 0);
  KWZ_FUZZ_CHECK(r.x >= 0 && r.x <= width && r.y >= 0 && r.y <= height);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const int width = in.U16() % 4097;
  const int height = in.U16() % 4097;
  kwz_web::BrowserRemoteControl remote(
      [&](const InputRecord& record) { CheckRecord(record, width, height); });
  remote.SetScreenSize(width, height);
  remote.Start();
  while (!in.Empty()) {
    const std::span<const std::uint8_t> bytes = in.Take(in.U8());
    const std::size_t length = bytes.size();
    const auto message = kwz_web::ParseBrowserInputMessage(bytes.data(), length);
    if (!message) continue;
    if (const auto* control = std::get_if<kwz_web::BrowserControl>(&*message)) {
      if (control->take) remote.Start();
    } else if (const auto* pointer = std::get_if<kwz_web::BrowserPointer>(&*message)) {
      remote.OnPointer(*pointer);
    } else if (const auto* key = std::get_if<kwz_web::BrowserKey>(&*message)) {
      KWZ_FUZZ_CHECK(!key->code.empty() && key->code.size() <= 32);
      KWZ_FUZZ_CHECK(length == 5 + key->code.size() + 2 * static_cast<std::size_t>(key->unitCount));
      remote.OnKey(*key);
    }
    remote.Resend();
  }
  return 0;
}
