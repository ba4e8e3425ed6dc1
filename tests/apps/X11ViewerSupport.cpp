#include "tests/apps/X11ViewerSupport.h"

namespace kwz_test {

ProgramResult ViewerSetup::Register() const {
  return RunProgram(KWZ_REGSVR_PATH, {"--user", KWZ_MODULE_PATH}, kTimeoutMs);
}

namespace {

std::uint32_t Channel(unsigned long pixel, unsigned long mask) {
  const int shift = __builtin_ctzl(mask);
  return static_cast<std::uint32_t>(((pixel & mask) >> shift) * 255 / (mask >> shift));
}

}  // namespace

std::vector<std::uint8_t> Screenshot(Display* display, Window window, int width, int height) {
  XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (image == nullptr) return {};
  std::vector<std::uint8_t> rgb;
  rgb.reserve(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      rgb.push_back(static_cast<std::uint8_t>(Channel(pixel, image->red_mask)));
      rgb.push_back(static_cast<std::uint8_t>(Channel(pixel, image->green_mask)));
      rgb.push_back(static_cast<std::uint8_t>(Channel(pixel, image->blue_mask)));
    }
  }
  XDestroyImage(image);
  return rgb;
}

std::vector<Window> Children(Display* display, Window window) {
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  std::vector<Window> result;
  if (XQueryTree(display, window, &root, &parent, &children, &count) == 0) return result;
  result.assign(children, children + count);
  if (children != nullptr) XFree(children);
  return result;
}

bool IsMapped(Display* display, Window window) {
  XWindowAttributes attributes{};
  return XGetWindowAttributes(display, window, &attributes) != 0 &&
         attributes.map_state == IsViewable;
}

void SendClientMessage(Display* display, Window to, long mask, Window about, const char* type,
                       long first, long second) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = about;
  event.xclient.message_type = XInternAtom(display, type, False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = first;
  event.xclient.data.l[1] = second;
  XSendEvent(display, to, False, mask, &event);
  XSync(display, False);
}

void RequestClose(Display* display, Window window) {
  SendClientMessage(display, window, NoEventMask, window, "WM_PROTOCOLS",
                    static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False)), 0);
}

}  // namespace kwz_test
