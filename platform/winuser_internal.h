// Internal to platform/: how the window calls reach a window's procedure.
#pragma once

#include <memory>

#include "platform/gdi_objects.h"

namespace kwz_platform {

// Runs the procedure on the window's thread (directly when that is the calling thread) and
// returns its result; 0 when the window's thread has ended.
LRESULT SendToWindow(const std::shared_ptr<WindowRecord>& record, UINT message, WPARAM wParam,
                     LPARAM lParam);
// As SendToWindow; windows of classes without a procedure answer on the calling thread.
LRESULT NotifyWindow(const std::shared_ptr<WindowRecord>& record, UINT message, WPARAM wParam,
                     LPARAM lParam);

}  // namespace kwz_platform
