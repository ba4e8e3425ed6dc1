#include "control/ControlMessageRoutes.h"

namespace {

constexpr UINT kReflected[] = {
    WM_COMMAND,    WM_NOTIFY,     WM_PARENTNOTIFY, WM_DRAWITEM, WM_MEASUREITEM, WM_COMPAREITEM,
    WM_DELETEITEM, WM_VKEYTOITEM, WM_CHARTOITEM,   WM_HSCROLL,  WM_VSCROLL,
};

constexpr UINT kOwnMap[] = {
    WM_GETDLGCODE,  WM_KEYUP,         WM_KEYDOWN,   WM_SYSKEYUP,    WM_SYSKEYDOWN,    WM_LBUTTONUP,
    WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_MBUTTONUP, WM_MBUTTONDOWN, WM_MBUTTONDBLCLK, WM_RBUTTONUP,
    WM_RBUTTONDOWN, WM_RBUTTONDBLCLK, WM_SETFOCUS,  WM_KILLFOCUS,   WM_CREATE,        WM_DESTROY,
};

}  // namespace

bool IsReflectedNotification(UINT message) {
  if (message < kReflectedMessageBase) return false;
  const UINT original = message - kReflectedMessageBase;
  if (original >= WM_CTLCOLORMSGBOX && original <= WM_CTLCOLORSTATIC) return true;
  for (UINT candidate : kReflected) {
    if (candidate == original) return true;
  }
  return false;
}

bool IsOwnMapMessage(UINT message) {
  for (UINT candidate : kOwnMap) {
    if (candidate == message) return true;
  }
  return false;
}
