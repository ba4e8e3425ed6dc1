// Characters from an xkbcommon keymap, with dead keys through the locale's compose table.
#include "gdi/x11/keyboard_layout_xkb.h"

#include <cstdlib>
#include <cstring>

#include "user/key_table.h"

namespace kwz_platform {
namespace {

constexpr BYTE kDown = 0x80;
constexpr BYTE kToggled = 0x01;
constexpr unsigned kXkbOffset = 8;  // evdev code to X keycode

const char* ComposeLocale() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return "C";
}

void Tap(xkb_state* state, unsigned evdev) {
  xkb_state_update_key(state, evdev + kXkbOffset, XKB_KEY_DOWN);
  xkb_state_update_key(state, evdev + kXkbOffset, XKB_KEY_UP);
}

// Windows gives no character for Delete, which X gives as DEL.
char32_t CharacterOf(xkb_keysym_t sym) {
  const char32_t c = xkb_keysym_to_utf32(sym);
  return c == 0x7F ? 0 : c;
}

}  // namespace

char32_t SpacingFormOfDeadKey(xkb_keysym_t sym) {
  switch (sym) {
    case XKB_KEY_dead_grave:
      return U'`';
    case XKB_KEY_dead_acute:
      return U'\u00B4';
    case XKB_KEY_dead_circumflex:
      return U'^';
    case XKB_KEY_dead_tilde:
      return U'~';
    case XKB_KEY_dead_macron:
      return U'\u00AF';
    case XKB_KEY_dead_breve:
      return U'\u02D8';
    case XKB_KEY_dead_abovedot:
      return U'\u02D9';
    case XKB_KEY_dead_diaeresis:
      return U'\u00A8';
    case XKB_KEY_dead_abovering:
      return U'\u02DA';
    case XKB_KEY_dead_doubleacute:
      return U'\u02DD';
    case XKB_KEY_dead_caron:
      return U'\u02C7';
    case XKB_KEY_dead_cedilla:
      return U'\u00B8';
    case XKB_KEY_dead_ogonek:
      return U'\u02DB';
    default:
      return 0;
  }
}

std::shared_ptr<XkbKeyboardLayout> XkbKeyboardLayout::FromNames(const char* layout,
                                                                const char* variant) {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  if (context == nullptr) return nullptr;
  const xkb_rule_names names{"evdev", "pc105", layout, variant, nullptr};
  xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (keymap == nullptr) {
    xkb_context_unref(context);
    return nullptr;
  }
  auto made = std::make_shared<XkbKeyboardLayout>(context, keymap);
  xkb_context_unref(context);
  return made;
}

XkbKeyboardLayout::XkbKeyboardLayout(xkb_context* context, xkb_keymap* keymap)
    : context_(xkb_context_ref(context)), keymap_(keymap) {
  composeTable_ =
      xkb_compose_table_new_from_locale(context_, ComposeLocale(), XKB_COMPOSE_COMPILE_NO_FLAGS);
  if (composeTable_ == nullptr) {
    // A locale without a compose table of its own: dead keys still combine as in English.
    composeTable_ =
        xkb_compose_table_new_from_locale(context_, "en_US.UTF-8", XKB_COMPOSE_COMPILE_NO_FLAGS);
  }
  if (composeTable_ != nullptr) {
    compose_ = xkb_compose_state_new(composeTable_, XKB_COMPOSE_STATE_NO_FLAGS);
  }
  // Keymaps also give ISO_Level3_Shift to keys no keyboard has (evdev 84): the right Alt is
  // the one Windows' AltGr stands for.
  for (unsigned code = 1; code < kEvdevKeys; ++code) {
    if (Level0(code) != XKB_KEY_ISO_Level3_Shift) continue;
    altGrKeys_.set(code);
    if (altGrKey_ == 0 || code == kEvdevRightAlt) altGrKey_ = code;
  }
}

XkbKeyboardLayout::~XkbKeyboardLayout() {
  if (compose_ != nullptr) xkb_compose_state_unref(compose_);
  if (composeTable_ != nullptr) xkb_compose_table_unref(composeTable_);
  xkb_keymap_unref(keymap_);
  xkb_context_unref(context_);
}

xkb_keysym_t XkbKeyboardLayout::Level0(unsigned evdev) const {
  const xkb_keysym_t* syms = nullptr;
  const xkb_layout_index_t groups = xkb_keymap_num_layouts_for_key(keymap_, evdev + kXkbOffset);
  if (groups == 0) return XKB_KEY_NoSymbol;
  const xkb_layout_index_t group = group_ < groups ? group_ : 0;
  const int count = xkb_keymap_key_get_syms_by_level(keymap_, evdev + kXkbOffset, group, 0, &syms);
  return count == 1 ? syms[0] : XKB_KEY_NoSymbol;
}

BYTE XkbKeyboardLayout::LetterVk(unsigned evdev) const {
  const xkb_keysym_t sym = xkb_keysym_to_upper(Level0(evdev));
  return sym >= XKB_KEY_A && sym <= XKB_KEY_Z ? static_cast<BYTE>('A' + (sym - XKB_KEY_A)) : 0;
}

bool XkbKeyboardLayout::IsAltGr(unsigned evdev) const {
  return evdev < kEvdevKeys && altGrKeys_[evdev];
}

unsigned XkbKeyboardLayout::FindKey(BYTE vk) const {
  // A letter is wherever the layout puts it; other keys are where the US layout has them.
  if (vk >= 'A' && vk <= 'Z') {
    for (unsigned code = 1; code < kEvdevKeys; ++code) {
      if (LetterVk(code) == vk) return code;
    }
  }
  for (unsigned code = 1; code < kEvdevKeys; ++code) {
    const PhysicalKey key = LookupEvdevKey(code);
    if (key.vk == vk || key.numLockVk == vk) return code;
  }
  return 0;
}

TypedKey XkbKeyboardLayout::Type(unsigned evdev, BYTE vk, const BYTE* keys, bool compose) {
  if (evdev == 0 || LookupEvdevKey(evdev).scan == 0) evdev = FindKey(vk);
  if (evdev == 0) return {};
  const bool altGr = (keys[VK_CONTROL] & kDown) != 0 && (keys[VK_MENU] & kDown) != 0;
  if (altGr && altGrKey_ == 0) return {};

  xkb_state* state = xkb_state_new(keymap_);
  if (state == nullptr) return {};
  if ((keys[VK_SHIFT] & kDown) != 0) {
    xkb_state_update_key(state, kEvdevLeftShift + kXkbOffset, XKB_KEY_DOWN);
  }
  // The modifiers that AltGr adds (usually Mod5): a key that does not consume them has no
  // AltGr character.
  const xkb_mod_mask_t withoutAltGr = xkb_state_serialize_mods(state, XKB_STATE_MODS_DEPRESSED);
  if (altGr) xkb_state_update_key(state, altGrKey_ + kXkbOffset, XKB_KEY_DOWN);
  const xkb_mod_mask_t altGrMods =
      xkb_state_serialize_mods(state, XKB_STATE_MODS_DEPRESSED) & ~withoutAltGr;
  if ((keys[VK_CAPITAL] & kToggled) != 0) Tap(state, kEvdevCapsLock);
  if ((keys[VK_NUMLOCK] & kToggled) != 0) Tap(state, kEvdevNumLock);
  xkb_state_update_mask(state, xkb_state_serialize_mods(state, XKB_STATE_MODS_DEPRESSED),
                        xkb_state_serialize_mods(state, XKB_STATE_MODS_LATCHED),
                        xkb_state_serialize_mods(state, XKB_STATE_MODS_LOCKED), 0, 0, group_);
  const xkb_keycode_t keycode = evdev + kXkbOffset;
  const xkb_keysym_t sym = xkb_state_key_get_one_sym(state, keycode);
  // Windows gives nothing for AltGr with a key that has no AltGr character.
  const bool unused =
      altGr &&
      (xkb_state_key_get_consumed_mods2(state, keycode, XKB_CONSUMED_MODE_XKB) & altGrMods) == 0;
  xkb_state_unref(state);
  if (unused) return {};

  const char32_t plain = CharacterOf(sym);
  if (!compose) {
    if (const char32_t spacing = SpacingFormOfDeadKey(sym))
      return {std::u32string(1, spacing), true};
    return {plain != 0 ? std::u32string(1, plain) : std::u32string(), false};
  }
  return Compose(sym, plain);
}

TypedKey XkbKeyboardLayout::Compose(xkb_keysym_t sym, char32_t plain) {
  TypedKey typed;
  if (compose_ == nullptr || xkb_compose_state_feed(compose_, sym) == XKB_COMPOSE_FEED_IGNORED) {
    // Modifiers pass between a dead key and its letter without breaking the sequence.
    if (plain != 0) typed.chars.push_back(plain);
    return typed;
  }
  switch (xkb_compose_state_get_status(compose_)) {
    case XKB_COMPOSE_COMPOSING: {
      pending_.push_back(sym);
      char32_t spacing = SpacingFormOfDeadKey(sym);
      typed.chars.push_back(spacing != 0 ? spacing : plain);
      typed.dead = typed.chars[0] != 0;
      if (!typed.dead) typed.chars.clear();
      return typed;
    }
    case XKB_COMPOSE_COMPOSED: {
      const xkb_keysym_t composed = xkb_compose_state_get_one_sym(compose_);
      char32_t c = composed != XKB_KEY_NoSymbol ? xkb_keysym_to_utf32(composed) : 0;
      if (c == 0) {
        char utf8[16];
        const int n = xkb_compose_state_get_utf8(compose_, utf8, sizeof utf8);
        // Single code points only: sequences that give strings are rare and Windows has none.
        if (n == 1) c = static_cast<unsigned char>(utf8[0]);
      }
      if (c != 0) typed.chars.push_back(c);
      break;
    }
    case XKB_COMPOSE_CANCELLED:
      // As Windows does: the dead key's own character, then this key's.
      for (xkb_keysym_t dead : pending_) {
        if (const char32_t spacing = SpacingFormOfDeadKey(dead)) typed.chars.push_back(spacing);
      }
      if (const char32_t spacing = SpacingFormOfDeadKey(sym)) {
        typed.chars.push_back(spacing);
      } else if (plain != 0) {
        typed.chars.push_back(plain);
      }
      break;
    case XKB_COMPOSE_NOTHING:
      if (plain != 0) typed.chars.push_back(plain);
      break;
  }
  pending_.clear();
  xkb_compose_state_reset(compose_);
  return typed;
}

}  // namespace kwz_platform
