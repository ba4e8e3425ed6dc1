// kwz-viewer's run: creates the control by its ProgID, configures it by name, shows it in place
// in a frame window (or another program's X window), runs the message loop until the window is
// closed, a console signal arrives or the time is up, then reports and tears down.
#pragma once

#include "apps/kwz-viewer/ViewerOptions.h"

namespace kwz_viewer {

// The process's exit status: 0, or 1 after an "error: ..." line on stderr.
int RunViewer(const ViewerOptions& options);

// Prints "error: <name> 0x<8 hex digits>: <description>" on stderr.
void PrintError(long hr, const char* description);

}  // namespace kwz_viewer
