// What the tests of kwz-viewer in real X11 windows share: a private display and registry with
// the module registered, and reading windows back from the server.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/apps/ProgramRun.h"
#include "tests/platform/RegistryTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/XvfbServer.h"

// Last: Xlib defines macros (None, Bool) that other headers use as names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace kwz_test {

constexpr int kTimeoutMs = 60000;
// The viewer's own end, long after a test should have ended it.
constexpr const char* kBackstopSeconds = "40";

// A private Xvfb and registry, the module registered there per user, and the environment that
// sends the programs to that display.
struct ViewerSetup {
  explicit ViewerSetup(const char* screen)
      : server(screen), displayName("DISPLAY", server.Display().c_str()) {}
  ProgramResult Register() const;

  XvfbServer server;
  ScopedRegistry registry;
  ScopedEnv displayName;
  ScopedEnv backend{"KWZ_GDI_BACKEND", nullptr};
  ScopedNoLeakCheck noLeakCheck;
};

// RGB of the window's top-left width x height as the server shows it; empty when unreadable.
std::vector<std::uint8_t> Screenshot(Display* display, Window window, int width, int height);
std::vector<Window> Children(Display* display, Window window);
bool IsMapped(Display* display, Window window);
// A 32-bit client message of type about a window, sent to another window with an event mask.
void SendClientMessage(Display* display, Window to, long mask, Window about, const char* type,
                       long first, long second);
// What a window manager sends when the user closes the window.
void RequestClose(Display* display, Window window);

}  // namespace kwz_test
