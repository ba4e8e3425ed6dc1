// Handles for other programs' windows that ours are embedded in.
#include "platform/gdi_session.h"
#include "platform/kernel.h"
#include "platform/winerror.h"

#include "gdi/objects.h"
#include "user/message_queue.h"

namespace kwz_platform {

HWND AttachForeignWindow(std::uint64_t id, WNDPROC proc) {
  GdiBackend* backend = &ActiveGdiBackend();
  if (backend->Kind() != GdiBackendKind::kX11) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  auto record = std::make_shared<WindowRecord>();
  record->queue = ThreadQueue::ForThisThread();
  if (!record->queue) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  RECT bounds{};
  record->native = backend->WrapForeignWindow(id, &bounds);
  if (!record->native) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  record->backend = backend;
  record->proc = proc;
  // Its input belongs to its own program; only its size changes reach the handle.
  record->style = WS_CHILD | WS_VISIBLE;
  record->width = bounds.right;
  record->height = bounds.bottom;
  record->visible = true;
  record->handle = reinterpret_cast<HWND>(Windows().Insert(record));
  record->queue->WatchNative(*backend, *record->native, record->handle);
  return record->handle;
}

}  // namespace kwz_platform
