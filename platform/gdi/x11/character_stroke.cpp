// A character typed through the server's XKB keymap, read afresh for every character since the
// user may switch layouts at any time.
#include "gdi/x11/character_stroke.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace kwz_platform {
namespace {

// The keys that select levels; a stroke holds the fewest of them that reach its level.
constexpr KeySym kLevelKeySyms[] = {XK_Shift_L, XK_ISO_Level3_Shift, XK_ISO_Level5_Shift};

// How long a lent keycode keeps its symbol after the stroke. Clients read a changed keymap when
// they handle the key event, not when the change is made, and nothing tells when they all have;
// without this grace the symbol would be gone before most of them look.
constexpr auto kLentKeyGrace = std::chrono::milliseconds(50);

struct KeymapDeleter {
  void operator()(XkbDescPtr xkb) const { XkbFreeKeyboard(xkb, XkbAllComponentsMask, True); }
};
using Keymap = std::unique_ptr<XkbDescRec, KeymapDeleter>;

Keymap FetchKeymap(Display* display) {
  return Keymap(XkbGetMap(display,
                          XkbKeyTypesMask | XkbKeySymsMask | XkbKeyActionsMask | XkbModifierMapMask,
                          XkbUseCoreKbd));
}

// The group of key's symbols that the keyboard's group selects; -1 when key has none.
int KeyGroup(XkbDescPtr xkb, int key, int group) {
  const int count = XkbKeyNumGroups(xkb, key);
  if (count == 0) return -1;
  if (group < count) return group;
  const unsigned info = XkbKeyGroupInfo(xkb, key);
  switch (XkbOutOfRangeGroupAction(info)) {
    case XkbClampIntoRange:
      return count - 1;
    case XkbRedirectIntoRange: {
      const int to = XkbOutOfRangeGroupNumber(info);
      return to < count ? to : 0;
    }
    default:
      return group % count;
  }
}

// Whether key, typed with mods in its group kg, gives sym, its symbol at level: the key's type
// must select that level, and a Lock the type leaves to the client must not turn sym into a
// capital.
bool Gives(XkbDescPtr xkb, int key, int kg, int level, KeySym sym, unsigned mods) {
  const XkbKeyTypePtr type = XkbKeyKeyType(xkb, key, kg);
  const unsigned relevant = mods & type->mods.mask;
  int selected = 0;
  unsigned consumed = type->mods.mask;
  for (int i = 0; i < type->map_count; ++i) {
    const XkbKTMapEntryRec& entry = type->map[i];
    if (!entry.active || entry.mods.mask != relevant) continue;
    selected = entry.level;
    if (type->preserve != nullptr) consumed &= ~type->preserve[i].mask;
    break;
  }
  if (selected != level) return false;
  if ((mods & LockMask & ~consumed) == 0) return true;
  KeySym lower = NoSymbol, upper = NoSymbol;
  XConvertCase(sym, &lower, &upper);
  return upper == sym;
}

struct ModifierKey {
  KeyCode key;
  unsigned mods;  // the real modifiers that pressing it sets
};

// The level keys of group with the modifiers each sets, as the keys' actions set them. A key of
// the keyboard is taken over the keymap's stand-in for the modifier (<LVL3> beside right Alt):
// the stand-in is the one with the modifier map entry, and programs that follow the keys, as
// Windows programs do, know AltGr by the real key only.
std::vector<ModifierKey> LevelKeys(XkbDescPtr xkb, int group) {
  std::vector<ModifierKey> keys;
  for (KeySym sym : kLevelKeySyms) {
    std::optional<ModifierKey> chosen;
    for (int key = xkb->min_key_code; key <= xkb->max_key_code; ++key) {
      const int kg = KeyGroup(xkb, key, group);
      if (kg < 0 || XkbKeySymEntry(xkb, key, 0, kg) != sym) continue;
      const XkbAction* action = XkbKeyActionEntry(xkb, key, 0, kg);
      if (action == nullptr || action->type != XkbSA_SetMods) continue;
      const unsigned mods = (action->mods.flags & XkbSA_UseModMapMods) != 0 ? xkb->map->modmap[key]
                                                                            : action->mods.mask;
      if (mods == 0) continue;
      if (!chosen || (xkb->map->modmap[chosen->key] != 0 && xkb->map->modmap[key] == 0)) {
        chosen = ModifierKey{static_cast<KeyCode>(key), mods};
      }
    }
    if (chosen) keys.push_back(*chosen);
  }
  return keys;
}

// The fewest level keys that, pressed on top of the modifiers held, make key give sym.
std::optional<std::vector<KeyCode>> LevelModifiers(XkbDescPtr xkb, int key, int kg, int level,
                                                   KeySym sym, unsigned held,
                                                   const std::vector<ModifierKey>& levelKeys) {
  std::optional<std::vector<KeyCode>> best;
  for (unsigned subset = 0; subset < (1u << levelKeys.size()); ++subset) {
    unsigned mods = held;
    std::vector<KeyCode> keys;
    for (size_t i = 0; i < levelKeys.size(); ++i) {
      if ((subset & (1u << i)) == 0) continue;
      mods |= levelKeys[i].mods;
      keys.push_back(levelKeys[i].key);
    }
    if ((!best || keys.size() < best->size()) && Gives(xkb, key, kg, level, sym, mods)) {
      best = std::move(keys);
    }
  }
  return best;
}

// A symbol of the keymap that types the character wanted: the same symbol, or another with the
// same character (a legacy Cyrillic symbol for its Unicode one), the keypad's excepted.
bool Matches(KeySym candidate, KeySym want, char32_t character) {
  if (candidate == want) return true;
  return character >= 0x20 && candidate != NoSymbol && !IsKeypadKey(candidate) &&
         xkb_keysym_to_utf32(static_cast<xkb_keysym_t>(candidate)) == character;
}

struct Stroke {
  KeyCode key = 0;
  int group = 0;                   // the keyboard's group to type in
  std::vector<KeyCode> modifiers;  // level keys held around the key
  unsigned liftedLocks = 0;        // locked modifiers lifted around the stroke
};

// How to type want: the current group before the others, lower levels before higher, the locks
// kept when the level can be reached without lifting them. carried tells whether any key has
// the character, reachable or not.
std::optional<Stroke> PlanStroke(XkbDescPtr xkb, const XkbStateRec& state, KeySym want,
                                 bool* carried) {
  *carried = false;
  const char32_t character = xkb_keysym_to_utf32(static_cast<xkb_keysym_t>(want));
  int groups = 1;
  for (int key = xkb->min_key_code; key <= xkb->max_key_code; ++key) {
    groups = std::max(groups, static_cast<int>(XkbKeyNumGroups(xkb, key)));
  }
  // The group can be changed only through its lock, which a shifted or latched group would
  // offset.
  const bool canSwitch = state.base_group == 0 && state.latched_group == 0;
  for (int lift = 0; lift < 2; ++lift) {
    if (lift == 1 && state.locked_mods == 0) break;
    for (int step = 0; step < (canSwitch ? groups : 1); ++step) {
      const int group = (state.group + step) % groups;
      const std::vector<ModifierKey> levelKeys = LevelKeys(xkb, group);
      for (int level = 0; level < XkbMaxShiftLevel; ++level) {
        for (int key = xkb->min_key_code; key <= xkb->max_key_code; ++key) {
          const int kg = KeyGroup(xkb, key, group);
          if (kg < 0 || level >= XkbKeyGroupWidth(xkb, key, kg)) continue;
          const KeySym sym = XkbKeySymEntry(xkb, key, level, kg);
          if (!Matches(sym, want, character)) continue;
          *carried = true;
          const unsigned lifted =
              lift == 0 ? 0u
                        : state.locked_mods & (XkbKeyKeyType(xkb, key, kg)->mods.mask | LockMask);
          const unsigned held =
              state.base_mods | state.latched_mods | (state.locked_mods & ~lifted);
          if (auto modifiers = LevelModifiers(xkb, key, kg, level, sym, held, levelKeys)) {
            return Stroke{static_cast<KeyCode>(key), group, std::move(*modifiers), lifted};
          }
        }
      }
    }
  }
  return std::nullopt;
}

// A keycode with no symbol, modifier or action, which a stroke can lend; 0 when none is free.
KeyCode SpareKeycode(XkbDescPtr xkb) {
  for (int key = xkb->max_key_code; key >= xkb->min_key_code; --key) {
    if (xkb->map->modmap[key] != 0) continue;
    bool used = false;
    for (int i = 0; i < XkbKeyNumSyms(xkb, key) && !used; ++i) {
      used = XkbKeySym(xkb, key, i) != NoSymbol ||
             (XkbKeyHasActions(xkb, key) && XkbKeyAction(xkb, key, i)->type != XkbSA_NoAction);
    }
    if (!used) return static_cast<KeyCode>(key);
  }
  return 0;
}

void Type(Display* display, const Stroke& stroke, const XkbStateRec& state) {
  if (stroke.liftedLocks != 0) XkbLockModifiers(display, XkbUseCoreKbd, stroke.liftedLocks, 0);
  const bool switchGroup = stroke.group != state.group;
  if (switchGroup) XkbLockGroup(display, XkbUseCoreKbd, stroke.group);
  for (KeyCode key : stroke.modifiers) XTestFakeKeyEvent(display, key, True, CurrentTime);
  XTestFakeKeyEvent(display, stroke.key, True, CurrentTime);
  XTestFakeKeyEvent(display, stroke.key, False, CurrentTime);
  for (auto key = stroke.modifiers.rbegin(); key != stroke.modifiers.rend(); ++key) {
    XTestFakeKeyEvent(display, *key, False, CurrentTime);
  }
  if (switchGroup) XkbLockGroup(display, XkbUseCoreKbd, state.locked_group);
  if (stroke.liftedLocks != 0) {
    XkbLockModifiers(display, XkbUseCoreKbd, stroke.liftedLocks, stroke.liftedLocks);
  }
  XSync(display, False);
}

}  // namespace

bool TypeCharacter(Display* display, KeySym sym, bool type) {
  XkbStateRec state{};
  if (XkbGetState(display, XkbUseCoreKbd, &state) != Success) return false;
  Keymap keymap = FetchKeymap(display);
  if (!keymap) return false;
  bool carried = false;
  if (std::optional<Stroke> stroke = PlanStroke(keymap.get(), state, sym, &carried)) {
    if (type) Type(display, *stroke, state);
    return true;
  }
  // A key that has the character but cannot give it now (a modifier held at this machine) would
  // not give it on a lent keycode either.
  if (carried) return false;
  const KeyCode spare = SpareKeycode(keymap.get());
  if (spare == 0 || !type) return spare != 0;
  KeySym lent = sym;
  XChangeKeyboardMapping(display, spare, 1, &lent, 1);
  // The stroke is planned on the keymap as the server now has it, with the type the server gave
  // the lent key.
  keymap = FetchKeymap(display);
  const std::optional<Stroke> stroke =
      keymap ? PlanStroke(keymap.get(), state, sym, &carried) : std::nullopt;
  if (stroke) {
    Type(display, *stroke, state);
    std::this_thread::sleep_for(kLentKeyGrace);
  }
  KeySym none = NoSymbol;
  XChangeKeyboardMapping(display, spare, 1, &none, 1);
  XSync(display, False);
  return stroke.has_value();
}

}  // namespace kwz_platform
