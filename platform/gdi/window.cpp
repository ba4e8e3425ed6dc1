// Window classes, windows and their geometry (platform/winuser.h).
#include <algorithm>
#include <string>

#include "platform/kernel.h"
#include "platform/widestring.h"
#include "platform/winerror.h"

#include "gdi/objects.h"
#include "user/message_queue.h"
#include "user/window_calls.h"

namespace kwz_platform {

ObjectTable<WindowRecord>& Windows() {
  static auto* table = new ObjectTable<WindowRecord>(0x10000);  // never destroyed
  return *table;
}

namespace {

// Larger sides would ask for unbounded back images.
constexpr int kMaxWindowSide = 16384;
constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;

struct WindowClass {
  std::u16string name;  // folded to lower case
  ATOM atom = 0;
  WNDPROC proc = nullptr;
  UINT style = 0;
  HBRUSH background = nullptr;
  HCURSOR cursor = nullptr;
  HICON icon = nullptr;
  std::u16string displayName;  // as registered: top-level windows show it to the desktop
};

struct ClassTable {
  std::mutex lock;
  std::vector<WindowClass> classes;  // guarded by lock
  ATOM nextAtom = 0xC000;            // guarded by lock
};

ClassTable& Classes() {
  static auto* table = [] {
    auto* t = new ClassTable;  // never destroyed
    t->classes.push_back(
        WindowClass{u"static", 0xC000 - 1, nullptr, 0, nullptr, nullptr, nullptr, u"Static"});
    return t;
  }();
  return *table;
}

bool IsAtomName(LPCWSTR name) {
  return reinterpret_cast<std::uintptr_t>(name) < 0x10000;
}

std::u16string Folded(LPCWSTR name) {
  std::u16string folded(name, WideLength(name));
  for (auto& c : folded) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return folded;
}

std::vector<WindowClass>::iterator FindClass(ClassTable& table, LPCWSTR name) {
  if (name == nullptr) return table.classes.end();
  if (IsAtomName(name)) {
    const auto atom = static_cast<ATOM>(reinterpret_cast<std::uintptr_t>(name));
    return std::find_if(table.classes.begin(), table.classes.end(),
                        [atom](const WindowClass& c) { return c.atom == atom; });
  }
  const std::u16string folded = Folded(name);
  return std::find_if(table.classes.begin(), table.classes.end(),
                      [&folded](const WindowClass& c) { return c.name == folded; });
}

int ClampSide(int side, int fallback) {
  if (side == CW_USEDEFAULT) return fallback;
  return std::clamp(side, 0, kMaxWindowSide);
}

std::shared_ptr<WindowRecord> LiveWindow(HWND window) {
  auto record = Windows().Find(window);
  if (!record) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return record;
}

NativeCursor NativeCursorOf(HCURSOR cursor) {
  if (cursor == nullptr) return NativeCursor::kDefault;
  if (cursor == LoadCursorW(nullptr, IDC_HAND)) return NativeCursor::kHand;
  return NativeCursor::kArrow;
}

// The screen position of a window's top-left corner: what the display says for the nearest
// window that it places (after a window manager framed or moved it, inside another program's
// window), plus the positions asked for below that; client areas have no frame.
POINT ScreenOrigin(std::shared_ptr<WindowRecord> record) {
  POINT below{0, 0};  // from the current window's corner to the asked-for window's
  while (record) {
    std::shared_ptr<NativeWindow> native;
    HWND parent = nullptr;
    POINT asked{0, 0};
    {
      std::lock_guard<std::mutex> guard(record->lock);
      native = record->native;
      parent = record->parent;
      asked = POINT{record->x, record->y};
    }
    POINT origin{0, 0};
    if (native->ScreenOrigin(&origin)) return POINT{origin.x + below.x, origin.y + below.y};
    below.x += asked.x;
    below.y += asked.y;
    record = Windows().Find(parent);
  }
  return below;
}

// Adds (sign 1) or takes away (-1) the window's screen origin.
BOOL ShiftByOrigin(HWND window, POINT* point, int sign) {
  auto record = LiveWindow(window);
  if (!record || point == nullptr) return FALSE;
  const POINT origin = ScreenOrigin(record);
  point->x += sign * origin.x;
  point->y += sign * origin.y;
  return TRUE;
}

// Windows repaints the whole of a window whose class asks for it when its size changes.
void InvalidateAfterResize(const std::shared_ptr<WindowRecord>& record) {
  if ((record->classStyle & (CS_HREDRAW | CS_VREDRAW)) != 0) {
    InvalidateRect(record->handle, nullptr, TRUE);
  }
}

}  // namespace
}  // namespace kwz_platform

using namespace kwz_platform;

ATOM RegisterClassW(const WNDCLASSW* windowClass) {
  if (windowClass == nullptr || windowClass->lpszClassName == nullptr ||
      IsAtomName(windowClass->lpszClassName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  ClassTable& table = Classes();
  std::lock_guard<std::mutex> guard(table.lock);
  if (FindClass(table, windowClass->lpszClassName) != table.classes.end()) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  const ATOM atom = table.nextAtom++;
  table.classes.push_back(WindowClass{
      Folded(windowClass->lpszClassName), atom, windowClass->lpfnWndProc, windowClass->style,
      windowClass->hbrBackground, windowClass->hCursor, windowClass->hIcon,
      std::u16string(windowClass->lpszClassName, WideLength(windowClass->lpszClassName))});
  return atom;
}

ATOM RegisterClassExW(const WNDCLASSEXW* windowClass) {
  if (windowClass == nullptr || windowClass->cbSize != sizeof(WNDCLASSEXW)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const WNDCLASSW plain{windowClass->style,        windowClass->lpfnWndProc,
                        windowClass->cbClsExtra,   windowClass->cbWndExtra,
                        windowClass->hInstance,    windowClass->hIcon,
                        windowClass->hCursor,      windowClass->hbrBackground,
                        windowClass->lpszMenuName, windowClass->lpszClassName};
  return RegisterClassW(&plain);
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE) {
  ClassTable& table = Classes();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = FindClass(table, className);
  if (it == table.classes.end() || it->atom < 0xC000) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  table.classes.erase(it);
  return TRUE;
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
  auto record = std::make_shared<WindowRecord>();
  record->queue = ThreadQueue::ForThisThread();
  if (!record->queue) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  NativeWindowSpec spec;
  {
    ClassTable& table = Classes();
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = FindClass(table, className);
    if (it == table.classes.end()) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    record->proc = it->proc;
    record->classStyle = it->style;
    record->classBackground = it->background;
    spec.className = it->displayName;
    spec.cursor = NativeCursorOf(it->cursor);
    if (auto icon = Cursors().Find(it->icon)) {
      spec.iconWidth = icon->width;
      spec.iconHeight = icon->height;
      spec.iconArgb = icon->argb;
    }
  }
  std::shared_ptr<WindowRecord> parentRecord;
  if (parent != nullptr) {
    parentRecord = LiveWindow(parent);
    if (!parentRecord) return nullptr;
  } else if ((style & WS_CHILD) != 0) {
    SetLastError(ERROR_TLW_WITH_WSCHILD);
    return nullptr;
  }
  record->style = style;
  record->parent = parent;
  record->x = x == CW_USEDEFAULT ? 0 : x;
  record->y = y == CW_USEDEFAULT ? 0 : y;
  record->width = ClampSide(width, kDefaultWidth);
  record->height = ClampSide(height, width == CW_USEDEFAULT ? kDefaultHeight : 0);
  record->visible = (style & WS_VISIBLE) != 0;
  if (windowName != nullptr) record->title.assign(windowName, WideLength(windowName));

  std::shared_ptr<NativeWindow> parentNative;
  GdiBackend* backend = &ActiveGdiBackend();
  if (parentRecord) {
    std::lock_guard<std::mutex> guard(parentRecord->lock);
    if (parentRecord->destroyed) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    parentNative = parentRecord->native;
  }
  spec.parent = parentNative.get();
  spec.x = record->x;
  spec.y = record->y;
  spec.width = record->width;
  spec.height = record->height;
  // Shown only once its events are selected: a window manager may focus, place or uncover it at
  // once, and those events must not be missed.
  spec.visible = false;
  spec.title = record->title;
  spec.background = ClassBrushColour(record->classBackground);
  record->native = backend->CreateNativeWindow(spec);
  if (!record->native) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  record->backend = backend;
  record->handle = reinterpret_cast<HWND>(Windows().Insert(record));
  if (parentRecord) {
    std::lock_guard<std::mutex> guard(parentRecord->lock);
    parentRecord->children.push_back(record->handle);
  }
  record->queue->WatchNative(*backend, *record->native, record->handle);
  if (record->visible) record->native->Show(true);

  HWND handle = record->handle;
  CREATESTRUCTW create{param,      instance,       menu,
                       parent,     record->height, record->width,
                       record->y,  record->x,      static_cast<LONG>(style),
                       windowName, className,      exStyle};
  const LPARAM createParam = reinterpret_cast<LPARAM>(&create);
  if (NotifyWindow(record, WM_NCCREATE, 0, createParam) == FALSE ||
      NotifyWindow(record, WM_CREATE, 0, createParam) == -1) {
    if (IsWindow(handle)) DestroyWindow(handle);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!IsWindow(handle)) return nullptr;  // the procedure destroyed it while being created
  NotifyWindow(record, WM_SIZE, SIZE_RESTORED, MAKELPARAM(record->width, record->height));
  // A new window is painted, background first, once the loop gets to it.
  InvalidateRect(handle, nullptr, TRUE);
  return handle;
}

BOOL DestroyWindow(HWND window) {
  auto record = Windows().Find(window);
  if (!record) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  {
    // A procedure that destroys its window again while handling WM_DESTROY.
    std::lock_guard<std::mutex> guard(record->lock);
    if (record->destroying) return TRUE;
    record->destroying = true;
  }
  NotifyWindow(record, WM_DESTROY, 0, 0);
  std::vector<HWND> children;
  {
    std::lock_guard<std::mutex> guard(record->lock);
    children = record->children;
  }
  for (HWND child : children) DestroyWindow(child);
  NotifyWindow(record, WM_NCDESTROY, 0, 0);
  if (!Windows().Remove(window)) return TRUE;
  ForgetFocus(window);
  if (ThreadQueue* queue = ThreadQueue::Existing(); queue == record->queue.get()) {
    queue->UnwatchNative(window);
  }
  {
    std::lock_guard<std::mutex> guard(record->lock);
    record->destroyed = true;
    record->native->Destroy();
  }
  TakeUpdate(*record, nullptr, nullptr);
  if (auto parent = Windows().Find(record->parent)) {
    std::lock_guard<std::mutex> guard(parent->lock);
    auto& siblings = parent->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
  }
  return TRUE;
}

BOOL IsWindow(HWND window) {
  return Windows().Find(window) ? TRUE : FALSE;
}

BOOL SetWindowPos(HWND window, HWND, int x, int y, int cx, int cy, UINT flags) {
  auto record = LiveWindow(window);
  if (!record) return FALSE;
  bool resized = false;
  bool shown = false;
  {
    std::lock_guard<std::mutex> guard(record->lock);
    if (record->destroyed) return FALSE;
    if ((flags & SWP_NOMOVE) == 0 && (x != record->x || y != record->y)) {
      record->x = x;
      record->y = y;
      record->native->Move(x, y);
    }
    if ((flags & SWP_NOSIZE) == 0) {
      const int width = std::clamp(cx, 0, kMaxWindowSide);
      const int height = std::clamp(cy, 0, kMaxWindowSide);
      if (width != record->width || height != record->height) {
        record->width = width;
        record->height = height;
        record->native->Resize(width, height);
        resized = true;
      }
    }
    if ((flags & SWP_SHOWWINDOW) != 0) {
      shown = !record->visible && record->updatePending;
      record->visible = true;
      record->native->Show(true);
    }
    if ((flags & SWP_HIDEWINDOW) != 0) {
      record->visible = false;
      record->native->Show(false);
    }
  }
  if (resized) {
    NotifyWindow(record, WM_SIZE, SIZE_RESTORED,
                 MAKELPARAM(std::clamp(cx, 0, kMaxWindowSide), std::clamp(cy, 0, kMaxWindowSide)));
    InvalidateAfterResize(record);
  }
  if (shown) record->queue->AddInvalid(window);
  return TRUE;
}

BOOL ShowWindow(HWND window, int command) {
  auto record = LiveWindow(window);
  if (!record) return FALSE;
  bool was = false;
  bool paint = false;
  {
    std::lock_guard<std::mutex> guard(record->lock);
    was = record->visible;
    if (record->destroyed) return was ? TRUE : FALSE;
    record->visible = command != SW_HIDE;
    if (record->visible != was) record->native->Show(record->visible);
    paint = record->visible && !was && record->updatePending;
  }
  // The queue skipped it while hidden: wake it for the paint.
  if (paint) record->queue->AddInvalid(window);
  return was ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND window) {
  for (auto record = Windows().Find(window); record; record = Windows().Find(record->parent)) {
    std::lock_guard<std::mutex> guard(record->lock);
    if (!record->visible) return FALSE;
    if (record->parent == nullptr) return TRUE;
  }
  return FALSE;
}

HWND GetParent(HWND window) {
  auto record = LiveWindow(window);
  if (!record) return nullptr;
  // Only children have a parent; a top-level window's owner is not kept.
  return (record->style & WS_CHILD) != 0 ? record->parent : nullptr;
}

BOOL GetClientRect(HWND window, RECT* rect) {
  auto record = LiveWindow(window);
  if (!record || rect == nullptr) return FALSE;
  std::lock_guard<std::mutex> guard(record->lock);
  *rect = RECT{0, 0, record->width, record->height};
  return TRUE;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
  auto record = LiveWindow(window);
  if (!record || rect == nullptr) return FALSE;
  const POINT origin = ScreenOrigin(record);
  std::lock_guard<std::mutex> guard(record->lock);
  *rect = RECT{origin.x, origin.y, origin.x + record->width, origin.y + record->height};
  return TRUE;
}

BOOL ClientToScreen(HWND window, POINT* point) {
  return ShiftByOrigin(window, point, 1);
}

BOOL ScreenToClient(HWND window, POINT* point) {
  return ShiftByOrigin(window, point, -1);
}

HWND WindowFromPoint(POINT point) {
  // The deepest visible window of ours under the point; among siblings the newest, which is on
  // top. Windows of other programs that cover ours are not known here.
  HWND found = nullptr;
  int foundDepth = -1;
  for (const auto& record : Windows().All()) {
    if (!IsWindowVisible(record->handle)) continue;
    RECT r{};
    if (!GetWindowRect(record->handle, &r) || point.x < r.left || point.x >= r.right ||
        point.y < r.top || point.y >= r.bottom) {
      continue;
    }
    int depth = 0;
    for (auto p = Windows().Find(record->parent); p; p = Windows().Find(p->parent)) ++depth;
    if (depth > foundDepth ||
        (depth == foundDepth && reinterpret_cast<std::uintptr_t>(record->handle) >
                                    reinterpret_cast<std::uintptr_t>(found))) {
      found = record->handle;
      foundDepth = depth;
    }
  }
  return found;
}

BOOL SetWindowTextW(HWND window, LPCWSTR text) {
  auto record = LiveWindow(window);
  if (!record) return FALSE;
  std::lock_guard<std::mutex> guard(record->lock);
  record->title.assign(text != nullptr ? text : u"", text != nullptr ? WideLength(text) : 0);
  if (!record->destroyed) record->native->SetTitle(record->title);
  return TRUE;
}

int GetWindowTextW(HWND window, LPWSTR text, int capacity) {
  auto record = LiveWindow(window);
  if (!record || text == nullptr || capacity <= 0) return 0;
  std::lock_guard<std::mutex> guard(record->lock);
  const int count = std::min<int>(static_cast<int>(record->title.size()), capacity - 1);
  std::copy_n(record->title.data(), count, text);
  text[count] = u'\0';
  return count;
}

BOOL IsRectEmpty(const RECT* rect) {
  return rect == nullptr || rect->left >= rect->right || rect->top >= rect->bottom;
}

BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
  auto record = LiveWindow(window);
  if (!record) return FALSE;
  {
    std::lock_guard<std::mutex> guard(record->lock);
    if (record->destroyed) return TRUE;
    const RECT client{0, 0, record->width, record->height};
    RECT r = rect != nullptr ? *rect : client;
    r = RECT{std::max<LONG>(r.left, 0), std::max<LONG>(r.top, 0), std::min(r.right, client.right),
             std::min(r.bottom, client.bottom)};
    if (IsRectEmpty(&r)) return TRUE;
    record->update = !record->updatePending ? r
                                            : RECT{std::min(record->update.left, r.left),
                                                   std::min(record->update.top, r.top),
                                                   std::max(record->update.right, r.right),
                                                   std::max(record->update.bottom, r.bottom)};
    record->updatePending = true;
    record->updateErase = record->updateErase || erase != FALSE;
  }
  record->queue->AddInvalid(window);
  return TRUE;
}

BOOL ValidateRect(HWND window, const RECT*) {
  auto record = LiveWindow(window);
  if (!record) return FALSE;
  TakeUpdate(*record, nullptr, nullptr);
  return TRUE;
}

namespace kwz_platform {

bool TakeUpdate(WindowRecord& record, RECT* update, bool* erase) {
  bool pending = false;
  {
    std::lock_guard<std::mutex> guard(record.lock);
    pending = record.updatePending;
    if (update != nullptr) *update = pending ? record.update : RECT{};
    if (erase != nullptr) *erase = pending && record.updateErase;
    record.updatePending = false;
    record.updateErase = false;
    record.update = RECT{};
  }
  if (pending) record.queue->RemoveInvalid(record.handle);
  return pending;
}

void NativeSizeChanged(HWND window, int width, int height) {
  auto record = Windows().Find(window);
  if (!record) return;
  width = std::clamp(width, 0, kMaxWindowSide);
  height = std::clamp(height, 0, kMaxWindowSide);
  {
    std::lock_guard<std::mutex> guard(record->lock);
    if (record->destroyed || (record->width == width && record->height == height)) return;
    record->width = width;
    record->height = height;
  }
  NotifyWindow(record, WM_SIZE, SIZE_RESTORED, MAKELPARAM(width, height));
  InvalidateAfterResize(record);
}

}  // namespace kwz_platform

namespace kwz_platform {

WNDPROC GetWindowProcForTesting(HWND window) {
  auto record = Windows().Find(window);
  return record ? record->proc : nullptr;
}

bool ReadWindowPixels(HWND window, std::vector<std::uint32_t>* pixels, int* width, int* height) {
  auto record = Windows().Find(window);
  if (!record || pixels == nullptr || width == nullptr || height == nullptr) return false;
  std::shared_ptr<NativeWindow> native;
  {
    std::lock_guard<std::mutex> guard(record->lock);
    native = record->native;
  }
  return native->ReadPixels(pixels, width, height);
}

bool WriteWindowPng(HWND window, const char* path) {
  std::vector<std::uint32_t> pixels;
  int width = 0, height = 0;
  return ReadWindowPixels(window, &pixels, &width, &height) &&
         WritePixelsPng(path, pixels.data(), width, height);
}

}  // namespace kwz_platform
