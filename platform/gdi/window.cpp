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
};

struct ClassTable {
  std::mutex lock;
  std::vector<WindowClass> classes;  // guarded by lock
  ATOM nextAtom = 0xC000;            // guarded by lock
};

ClassTable& Classes() {
  static auto* table = [] {
    auto* t = new ClassTable;  // never destroyed
    t->classes.push_back(WindowClass{u"static", 0xC000 - 1, nullptr});
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
  table.classes.push_back(WindowClass{Folded(windowClass->lpszClassName), atom,
                                      windowClass->lpfnWndProc, windowClass->style});
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
  record->native =
      backend->CreateNativeWindow(parentNative.get(), record->x, record->y, record->width,
                                  record->height, (style & WS_VISIBLE) != 0);
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
  }
  return TRUE;
}

BOOL ShowWindow(HWND window, int command) {
  auto record = LiveWindow(window);
  if (!record) return FALSE;
  std::lock_guard<std::mutex> guard(record->lock);
  const bool was = record->visible;
  if (record->destroyed) return was ? TRUE : FALSE;
  record->visible = command != SW_HIDE;
  if (record->visible != was) record->native->Show(record->visible);
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
  LONG left = 0, top = 0, width = 0, height = 0;
  {
    std::lock_guard<std::mutex> guard(record->lock);
    left = record->x;
    top = record->y;
    width = record->width;
    height = record->height;
  }
  // Child positions are relative to the parent's client area, which has no frame.
  for (auto parent = Windows().Find(record->parent); parent;
       parent = Windows().Find(parent->parent)) {
    std::lock_guard<std::mutex> guard(parent->lock);
    left += parent->x;
    top += parent->y;
  }
  *rect = RECT{left, top, left + width, top + height};
  return TRUE;
}

BOOL InvalidateRect(HWND window, const RECT*, BOOL) {
  return LiveWindow(window) ? TRUE : FALSE;
}

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
