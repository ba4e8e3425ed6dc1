# Outside libraries of the codec layer, as imported targets every folder below can name.
find_package(PkgConfig REQUIRED)
pkg_check_modules(KWZ_AVCODEC REQUIRED IMPORTED_TARGET libavcodec libavutil)
pkg_check_modules(KWZ_OPENH264 REQUIRED IMPORTED_TARGET openh264)
pkg_check_modules(KWZ_VPX REQUIRED IMPORTED_TARGET vpx)

# Debian's libyuv ships no pkg-config file.
find_path(KWZ_LIBYUV_INCLUDE libyuv.h REQUIRED)
find_library(KWZ_LIBYUV_LIBRARY yuv REQUIRED)
add_library(kwz_libyuv INTERFACE)
target_include_directories(kwz_libyuv SYSTEM INTERFACE ${KWZ_LIBYUV_INCLUDE})
target_link_libraries(kwz_libyuv INTERFACE ${KWZ_LIBYUV_LIBRARY})

# Only platform/ paints: libpng for window snapshots, Xlib with MIT-SHM for the X11 backend,
# RENDER to composite a bitmap into a window where it lies, XTEST for input replayed into an X
# display.
find_package(PNG REQUIRED)
find_package(X11 REQUIRED)
if(NOT X11_Xext_FOUND)
  message(FATAL_ERROR "libXext (MIT-SHM) is required")
endif()
if(NOT X11_Xrender_FOUND)
  message(FATAL_ERROR "libXrender (RENDER) is required")
endif()
if(NOT X11_Xtst_FOUND)
  message(FATAL_ERROR "libXtst (XTEST) is required")
endif()
# Characters of keys under the server's keyboard layout, dead keys included.
pkg_check_modules(KWZ_XKBCOMMON REQUIRED IMPORTED_TARGET xkbcommon xkbcommon-x11 x11-xcb)

# kwz-web's HTTP and WebSocket server (Boost.Beast on Asio, header-only).
find_package(Boost 1.74 REQUIRED)
