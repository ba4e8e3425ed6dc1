#include "apps/kwz-viewer/ViewerRun.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "apps/kwz-viewer/Automation.h"
#include "apps/kwz-viewer/ControlSite.h"
#include "platform/com_activation.h"
#include "platform/consoleapi.h"
#include "platform/dxerr.h"
#include "platform/gdi.h"
#include "platform/gdi_session.h"
#include "platform/kernel.h"
#include "platform/widestring.h"
#include "platform/winerror.h"
#include "platform/winuser.h"

namespace kwz_viewer {
namespace {

constexpr const char16_t* kProgId = u"KWZ_ScreenReceiver.KWZ_ScreenReceiver";
// The desktop groups the viewer's windows by this class name (WM_CLASS on X11), and the
// desktop entry names it too.
constexpr const char16_t* kFrameClass = u"KwzViewer";

// The frame that a console signal or the timer closes; null when there is none yet.
std::atomic<HWND> g_frame{nullptr};
ControlSite* g_site = nullptr;  // the frame's procedure resizes the control (main thread only)

BOOL OnConsoleSignal(DWORD) {
  const HWND frame = g_frame.load();
  if (frame != nullptr) PostMessageW(frame, WM_CLOSE, 0, 0);
  return TRUE;  // the viewer ends through its own shut-down, never by the signal
}

LRESULT FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      if (g_site != nullptr) {
        g_site->Resize(RECT{0, 0, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
      }
      return 0;
    case WM_SETFOCUS:
      // The desktop activates the frame; typing belongs to the control inside, as in any
      // container.
      if (g_site != nullptr && g_site->ControlWindow() != nullptr)
        SetFocus(g_site->ControlWindow());
      return 0;
    case WM_CLOSE:
      // The loop ends first; the control window is read for the snapshot, deactivated, and only
      // then is the frame destroyed.
      PostQuitMessage(0);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

// A host window of another program (--parent): the frame fills it as it is resized.
LRESULT HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SIZE) {
    const HWND frame = g_frame.load();
    if (frame != nullptr) {
      SetWindowPos(frame, nullptr, 0, 0, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam),
                   SWP_NOMOVE | SWP_NOZORDER);
    }
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// Where the stream comes from, as the title shows it.
std::string SourceText(const ViewerOptions& options) {
  const std::string& address = !options.group.empty() ? options.group : options.sourceAddress;
  return (address.empty() ? std::string("any address") : address) + ":" +
         (options.sourcePort.empty() ? std::string("?") : options.sourcePort);
}

// "kwz-viewer — SOURCE — waiting for a stream", then the shared screen's size and how it is
// shown once the first picture has arrived.
std::u16string FrameTitle(const ViewerOptions& options, unsigned width, unsigned height) {
  std::string title = "kwz-viewer \u2014 " + SourceText(options) + " \u2014 ";
  if (width == 0 || height == 0) {
    title += "waiting for a stream";
  } else {
    title += std::to_string(width) + "\u00D7" + std::to_string(height) +
             (options.stretch ? ", stretched" : ", actual size");
  }
  return Widen(title.c_str());
}

// The viewer's icon, drawn here: a monitor with a blue screen and a pointer on it.
HICON MakeIcon() {
  constexpr int kSide = 32;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = kSide;
  info.bmiHeader.biHeight = -kSide;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr) return nullptr;
  auto* pixels = static_cast<std::uint32_t*>(bits);
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      std::uint32_t argb = 0;                                       // transparent
      if (y >= 3 && y < 23 && x >= 1 && x < 31) argb = 0xFF303030;  // bezel
      if (y >= 5 && y < 21 && x >= 3 && x < 29) argb = 0xFF1E64C8;  // screen
      if ((y >= 23 && y < 27 && x >= 14 && x < 18) || (y >= 27 && y < 29 && x >= 9 && x < 23)) {
        argb = 0xFF505050;  // stand
      }
      if (y >= 8 && y < 17 && x >= 10 && x - 10 <= y - 8 && x - 10 < 6) argb = 0xFFFFFFFF;
      pixels[y * kSide + x] = argb;
    }
  }
  ICONINFO icon{TRUE, 0, 0, nullptr, bitmap};
  HICON made = CreateIconIndirect(&icon);
  DeleteObject(bitmap);
  return made;
}

// Closes the frame after the given time unless cancelled first.
class Timer {
 public:
  explicit Timer(unsigned seconds)
      : thread_([this, seconds] {
          std::unique_lock<std::mutex> lock(lock_);
          if (!wake_.wait_for(lock, std::chrono::seconds(seconds), [this] { return cancelled_; })) {
            OnConsoleSignal(CTRL_CLOSE_EVENT);
          }
        }) {}
  ~Timer() {
    {
      std::lock_guard<std::mutex> lock(lock_);
      cancelled_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

 private:
  std::mutex lock_;
  std::condition_variable wake_;
  bool cancelled_ = false;  // guarded by lock_
  std::thread thread_;
};

int Fail(const CallError& error) {
  PrintError(error.hr, error.description.c_str());
  return 1;
}

// Everything the container sets before activation, by name, in the order a page would.
bool Configure(DispatchCaller& control, const ViewerOptions& options, CallError* error) {
  if (!options.sourceAddress.empty() &&
      !control.PutText(u"SourceAddress", Widen(options.sourceAddress.c_str()), error)) {
    return false;
  }
  if (!options.sourcePort.empty() &&
      !control.PutText(u"SourcePort", Widen(options.sourcePort.c_str()), error)) {
    return false;
  }
  if (!options.group.empty() &&
      !control.Call(u"JoinMulticastGroup", {Widen(options.group.c_str())}, error)) {
    return false;
  }
  if (!control.PutNumber(u"EnableStretch", options.stretch ? 1 : 0, error)) return false;
  for (const auto& [key, value] : options.settings) {
    if (!control.Call(u"SetProperties", {Widen(key.c_str()), Widen(value.c_str())}, error)) {
      return false;
    }
  }
  if (!options.serverAddress.empty() &&
      !control.PutText(u"ServerAddress", Widen(options.serverAddress.c_str()), error)) {
    return false;
  }
  if (!options.serverPort.empty() &&
      !control.PutText(u"ServerPort", Widen(options.serverPort.c_str()), error)) {
    return false;
  }
  return true;
}

// A top-level frame, or a child of the window given with --parent (host null otherwise) that
// fills it.
HWND CreateFrame(const ViewerOptions& options, HWND host) {
  static HICON icon = MakeIcon();
  WNDCLASSW frameClass{};
  frameClass.lpfnWndProc = FrameProc;
  frameClass.hIcon = icon;
  frameClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  frameClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<UINT_PTR>(COLOR_WINDOW + 1));
  frameClass.lpszClassName = kFrameClass;
  RegisterClassW(&frameClass);
  const DWORD style = (host != nullptr ? WS_CHILD : WS_OVERLAPPED) | WS_VISIBLE;
  RECT size{0, 0, options.width, options.height};
  if (host != nullptr) GetClientRect(host, &size);
  return CreateWindowExW(0, kFrameClass, FrameTitle(options, 0, 0).c_str(), style, 0, 0, size.right,
                         size.bottom, host, nullptr, nullptr, nullptr);
}

// The part of a run that holds the control; the caller initialised COM.
int RunControl(IDispatch* dispatch, const ViewerOptions& options) {
  DispatchCaller control(dispatch);
  CallError error;
  if (!Configure(control, options, &error)) return Fail(error);
  EventConnection events;
  // Without stretching, a frame of its own takes the shared screen's size, as the control's
  // window does; a host's frame keeps the host's.
  const bool followScreen = !options.stretch && !options.parent;
  auto onSize = [&options, followScreen](unsigned width, unsigned height) {
    const HWND frame = g_frame.load();
    if (frame == nullptr) return;
    SetWindowTextW(frame, FrameTitle(options, width, height).c_str());
    if (followScreen) {
      SetWindowPos(frame, nullptr, 0, 0, static_cast<int>(width), static_cast<int>(height),
                   SWP_NOMOVE | SWP_NOZORDER);
    }
  };
  if (!events.Advise(dispatch, onSize, &error)) return Fail(error);

  HWND host = nullptr;
  if (options.parent) {
    host = kwz_platform::AttachForeignWindow(*options.parent, HostProc);
    if (host == nullptr) {
      const DWORD why = GetLastError();
      events.Unadvise();
      char id[32];
      std::snprintf(id, sizeof id, "0x%lx", *options.parent);
      return Fail({HRESULT_FROM_WIN32(why),
                   why == ERROR_NOT_SUPPORTED
                       ? "--parent needs an X display to embed in"
                       : std::string("--parent: ") + id + " is not a window on this X display"});
    }
  }
  const HWND frame = CreateFrame(options, host);
  if (frame == nullptr) {
    const DWORD why = GetLastError();
    if (host != nullptr) DestroyWindow(host);
    events.Unadvise();
    return Fail({HRESULT_FROM_WIN32(why), "the viewer's window cannot be created"});
  }
  ControlSite site;
  g_site = &site;
  g_frame.store(frame);
  SetConsoleCtrlHandler(OnConsoleSignal, TRUE);
  int status = 0;
  RECT client{};
  GetClientRect(frame, &client);
  if (!site.Activate(dispatch, frame, client, &error) || !control.Call(u"Init", {}, &error) ||
      !control.Call(u"Start", {}, &error) ||
      (options.remoteControl && !control.Call(u"StartRemoteControl", {}, &error))) {
    status = Fail(error);
  } else {
    // The desktop may have activated the frame before the control was there to take the focus.
    if (GetFocus() == frame) SetFocus(site.ControlWindow());
    Timer* timer = options.seconds ? new Timer(*options.seconds) : nullptr;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    delete timer;

    if (!options.snapshot.empty() &&
        !kwz_platform::WriteWindowPng(site.ControlWindow(), options.snapshot.c_str())) {
      status = Fail({E_FAIL, "the snapshot cannot be written to " + options.snapshot});
    }
    for (const std::string& key : options.queries) {
      std::u16string value;
      if (!control.Call(u"GetProperties", {Widen(key.c_str())}, &error, &value)) {
        status = Fail(error);
        continue;
      }
      std::printf("%s=%s\n", key.c_str(), Narrow(value.c_str()).c_str());
    }
    std::fflush(stdout);
    if (options.remoteControl) control.Call(u"EndRemoteControl", {}, &error);
    if (!control.Call(u"Stop", {}, &error) && status == 0) status = Fail(error);
  }
  SetConsoleCtrlHandler(OnConsoleSignal, FALSE);
  g_frame.store(nullptr);
  site.Deactivate();
  g_site = nullptr;
  events.Unadvise();
  if (IsWindow(frame)) DestroyWindow(frame);
  if (host != nullptr) DestroyWindow(host);
  // The frame's WM_QUIT, if destroying it posted one now, is not for anyone.
  MSG leftover;
  while (PeekMessageW(&leftover, nullptr, 0, 0, PM_REMOVE)) {
  }
  return status;
}

}  // namespace

void PrintError(long hr, const char* description) {
  std::fprintf(stderr, "error: %s 0x%08X: %s\n", Narrow(DXGetErrorStringW(hr)).c_str(),
               static_cast<unsigned>(hr), description);
}

int RunViewer(const ViewerOptions& options) {
  if (options.headless) kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless);
  if (FAILED(CoInitialize(nullptr))) return Fail({E_UNEXPECTED, "COM cannot be initialised"});
  int status = 0;
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(kProgId, &clsid);
  IDispatch* dispatch = nullptr;
  if (SUCCEEDED(hr)) {
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(&dispatch));
  }
  if (hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG || hr == CO_E_DLLNOTFOUND) {
    status = Fail({REGDB_E_CLASSNOTREG,
                   "the control KWZ_ScreenReceiver.KWZ_ScreenReceiver is not registered or its "
                   "module is missing; register it with: kwz-regsvr [--user] <path to "
                   "libkwz_screenreceiver.so> (the package's is in /usr/lib/kwz/, a "
                   "build's in <build>/control/)"});
  } else if (FAILED(hr)) {
    status = Fail({hr, "the control cannot be created"});
  } else {
    status = RunControl(dispatch, options);
    dispatch->Release();
  }
  CoFreeUnusedLibraries();
  CoUninitialize();
  return status;
}

}  // namespace kwz_viewer
