// The GDI subset that paints the shared screen: device contexts, DIB painting, the cursor icons
// and the display enumeration. Window creation is in platform/winuser.h.
//
// How painting works here. A device context from GetDC owns a back image of the window's client
// area (32-bit BGRX, kept between frames, so a steady stream of frames reuses the same pages):
// SetDIBitsToDevice and StretchDIBits render into it, DrawIcon blends into it, and ReleaseDC
// puts the part that was painted into the window in one request. A picture and its cursor thus
// reach the window together, without flicker. Nothing painted shows before ReleaseDC.
//
// Threads. Every call may be made from any thread, but a DC from GetDC is used and released on
// the thread that got it: with the X11 backend it paints through that thread's own display
// connection (opened at its first GetDC, closed when the thread ends), over MIT-SHM where the
// server offers it. No lock is held between GetDC and ReleaseDC, so the window's own thread may
// resize or destroy the window while another thread holds a DC; the DC then paints at the size
// it was got with, clipped to the window when it is released, and a destroyed window swallows
// the paint.
//
// Backends: an in-memory surface (headless) or X11, chosen once per process; see
// platform/gdi_testing.h.
#pragma once

#include "platform/wingdi.h"
#include "platform/wintypes.h"

#pragma GCC visibility push(default)

using HDC = struct HDC__*;
using HGDIOBJ = void*;
using HBITMAP = struct HBITMAP__*;
using HBRUSH = struct HBRUSH__*;
using HICON = struct HICON__*;
using HCURSOR = HICON;
using HMENU = struct HMENU__*;
using HRGN = struct HRGN__*;

struct POINTL {
  LONG x;
  LONG y;
};

// Raster operation and DIB colour use.
#define SRCCOPY 0x00CC0020u

// Stretch modes. BLACKONWHITE, WHITEONBLACK and COLORONCOLOR all pick the nearest source pixel
// for colour bitmaps; HALFTONE averages the source pixels that each target pixel covers.
#define BLACKONWHITE 1
#define WHITEONBLACK 2
#define COLORONCOLOR 3
#define HALFTONE 4
#define STRETCH_ANDSCANS BLACKONWHITE
#define STRETCH_ORSCANS WHITEONBLACK
#define STRETCH_DELETESCANS COLORONCOLOR
#define STRETCH_HALFTONE HALFTONE

// GetDeviceCaps indices.
#define BITSPIXEL 12
#define PLANES 14
#define HORZRES 8
#define VERTRES 10

// Device contexts. GetDC(NULL) gives the screen's DC, which paints nowhere and from which
// BitBlt copies what the primary display shows; release it with ReleaseDC(NULL, dc). ReleaseDC
// returns 1 when the DC was released and 0 for a DC that this window did not give out.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
// Only the device "DISPLAY" is known; its DC answers GetDeviceCaps and paints nowhere.
HDC CreateDCW(LPCWSTR driver, LPCWSTR device, LPCWSTR output, const void* initData);
BOOL DeleteDC(HDC dc);
// HORZRES and VERTRES give the primary display's size, BITSPIXEL 32, PLANES 1; 0 otherwise.
int GetDeviceCaps(HDC dc, int index);
// Returns the previous mode (BLACKONWHITE at first), or 0 for a bad DC or mode.
int SetStretchBltMode(HDC dc, int mode);

// DIB painting. Sources are BI_RGB DIBs of 8 bits (with the biClrUsed or 256 RGBQUAD entries
// that follow the header), 24 bits or 32 bits; rows are padded to 4 bytes. For a bottom-up DIB
// (positive biHeight) source rectangles are measured from its bottom-left corner, so
//   SetDIBitsToDevice(dc, 0, 0, w, h, 0, biHeight - h, 0, biHeight, bits, bmi, DIB_RGB_COLORS)
// paints the top h rows of the bitmap. Everything is clipped to the DIB and to the client area;
// the fourth byte of 32-bit pixels is ignored.
//
// SetDIBitsToDevice: bits holds scanLines rows of the DIB starting at DIB row startScan.
// Returns the number of those rows that the DIB has (scan lines set), 0 on failure.
int SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,
                      UINT startScan, UINT scanLines, const void* bits, const BITMAPINFO* bmi,
                      UINT colorUse);
// StretchDIBits scales the source rectangle onto the destination rectangle with the DC's stretch
// mode. Only SRCCOPY and positive sizes (no mirroring) are supported. HALFTONE averages areas
// with libyuv's box scaler: exact averages of 2x2 boxes at 2:1, larger reductions halved with
// those first, bilinear for what is left between 1:1 and 2:1 and when enlarging.
// Returns the source height (scan lines copied), 0 on failure.
int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* bmi,
                  UINT colorUse, DWORD rop);

// Cursors and icons. The system cursors are images of our own (32 x 32 with a transparency
// mask). LoadCursorW with a null instance knows IDC_ARROW (hot spot at the tip, 0,0) and
// IDC_HAND (hot spot at the tip of the index finger); the handles are shared and never freed.
#ifndef MAKEINTRESOURCEW
#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#endif
#define IDC_ARROW MAKEINTRESOURCEW(32512)
#define IDC_HAND MAKEINTRESOURCEW(32649)
HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name);

struct ICONINFO {
  BOOL fIcon;
  DWORD xHotspot;
  DWORD yHotspot;
  HBITMAP hbmMask;
  HBITMAP hbmColor;
};
// Fills the hot spot and creates the mask and colour bitmaps, which the caller deletes with
// DeleteObject.
BOOL GetIconInfo(HICON icon, ICONINFO* info);
// Deletes a bitmap (from GetIconInfo, CreateDIBSection or LoadBitmapW); FALSE for anything
// else or a second time.
BOOL DeleteObject(HGDIOBJ object);
// An icon from a 32-bit DIB section (hbmColor) whose fourth byte is each pixel's opacity: 0
// transparent, anything else opaque. hbmMask is not read. Up to 256 x 256.
HICON CreateIconIndirect(const ICONINFO* info);
// Frees an icon made by CreateIconIndirect; FALSE for the shared system cursors.
BOOL DestroyIcon(HICON icon);
// Draws the icon with its top-left corner at (x, y) (no hot spot is subtracted); pixels that the
// mask leaves transparent keep what is under them. Parts outside the client area are clipped.
BOOL DrawIcon(HDC dc, int x, int y, HICON icon);

// Bitmaps. LoadBitmapW reads the module's RT_BITMAP resource name (a BITMAPINFOHEADER, its
// colour table and the rows, as resource compilers write them: bottom-up, BI_RGB, 1, 4, 8, 24
// or 32 bits per pixel, sides up to 4096) into a 32-bit bitmap, which the caller deletes with
// DeleteObject. A null instance is the program itself, as for FindResourceW (there are no
// system bitmaps). Null with ERROR_RESOURCE_NAME_NOT_FOUND when the resource is absent and
// ERROR_INVALID_DATA when it is not such a bitmap or is shorter than its rows; a pixel whose
// index is beyond the colour table comes out black.
HBITMAP LoadBitmapW(HINSTANCE instance, LPCWSTR name);

struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
};
// For a bitmap and a buffer of at least sizeof(BITMAP): its size and bit count, and bmBits the
// pixels of the bitmaps that have them in memory (DIB sections and loaded bitmaps, 32-bit rows
// bottom row first unless the section was made top-down), else null. Returns the bytes written,
// sizeof(BITMAP) for a null buffer, 0 for anything else.
int GetObjectW(HGDIOBJ object, int size, LPVOID buffer);

// Display enumeration. Headless: one or more virtual displays (1920 x 1080 by default). X11:
// one device per X screen, with the screen's current size.
struct DISPLAY_DEVICEW {
  DWORD cb;
  WCHAR DeviceName[32];
  WCHAR DeviceString[128];
  DWORD StateFlags;
  WCHAR DeviceID[128];
  WCHAR DeviceKey[128];
};
#define DISPLAY_DEVICE_ATTACHED_TO_DESKTOP 0x00000001u
#define DISPLAY_DEVICE_PRIMARY_DEVICE 0x00000004u

struct DEVMODEW {
  WCHAR dmDeviceName[32];
  WORD dmSpecVersion;
  WORD dmDriverVersion;
  WORD dmSize;
  WORD dmDriverExtra;
  DWORD dmFields;
  POINTL dmPosition;  // the display form of the printer/display union
  DWORD dmDisplayOrientation;
  DWORD dmDisplayFixedOutput;
  SHORT dmColor;
  SHORT dmDuplex;
  SHORT dmYResolution;
  SHORT dmTTOption;
  SHORT dmCollate;
  WCHAR dmFormName[32];
  WORD dmLogPixels;
  DWORD dmBitsPerPel;
  DWORD dmPelsWidth;
  DWORD dmPelsHeight;
  DWORD dmDisplayFlags;
  DWORD dmDisplayFrequency;
  DWORD dmICMMethod;
  DWORD dmICMIntent;
  DWORD dmMediaType;
  DWORD dmDitherType;
  DWORD dmReserved1;
  DWORD dmReserved2;
  DWORD dmPanningWidth;
  DWORD dmPanningHeight;
};
static_assert(sizeof(DISPLAY_DEVICEW) == 840 && sizeof(DEVMODEW) == 220);

#define DM_POSITION 0x00000020u
#define DM_BITSPERPEL 0x00040000u
#define DM_PELSWIDTH 0x00080000u
#define DM_PELSHEIGHT 0x00100000u
#define DM_DISPLAYFREQUENCY 0x00400000u
#define ENUM_CURRENT_SETTINGS (static_cast<DWORD>(-1))
#define ENUM_REGISTRY_SETTINGS (static_cast<DWORD>(-2))

// device null lists the displays ("\\.\DISPLAY1", ...); FALSE past the last one or when cb is
// too small. Devices have no monitors below them: any other device name answers FALSE.
BOOL EnumDisplayDevicesW(LPCWSTR device, DWORD index, DISPLAY_DEVICEW* displayDevice, DWORD flags);
// ENUM_CURRENT_SETTINGS, ENUM_REGISTRY_SETTINGS and mode 0 all give the current mode; a null
// device name means the primary display.
BOOL EnumDisplaySettingsW(LPCWSTR deviceName, DWORD modeNum, DEVMODEW* devMode);

// Screen capture, as a Windows presenter takes it: a memory DC with a 32-bit DIB section
// selected, filled by BitBlt from the screen's DC.
// CreateCompatibleDC: a memory DC (dc may be NULL or any DC); delete it with DeleteDC.
HDC CreateCompatibleDC(HDC dc);
// Only 32-bit BI_RGB sections with DIB_RGB_COLORS, sides 1 to 16384, without a file mapping
// (section NULL); biHeight < 0 makes a top-down section. *bits receives the pixels, which live
// until DeleteObject; they start black.
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* bmi, UINT usage, void** bits, HANDLE section,
                         DWORD offset);
// Selects a DIB section into a memory DC and returns what was selected before (a stock 1 x 1
// bitmap at first); NULL for anything else. A selected section stays usable after DeleteObject
// until it is deselected, as on Windows.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// Only SRCCOPY from the screen's DC into a memory DC's section: copies width x height pixels
// from screen position (xSrc, ySrc) to (xDest, yDest) of the section, clipped to both. Parts
// beyond the display come out black.
BOOL BitBlt(HDC dest, int xDest, int yDest, int width, int height, HDC source, int xSrc, int ySrc,
            DWORD rop);

#pragma GCC visibility pop
