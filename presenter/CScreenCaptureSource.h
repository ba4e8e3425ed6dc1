// The live screen as a source, captured the way a Windows presenter does it: the screen's DC
// (GetDC(NULL)), a memory DC with a top-down 32-bit DIB section, BitBlt with SRCCOPY each frame,
// and GetCursorPos for the cursor. Follows the primary display's size from frame to frame.
//
// Owned by the sending loop and used on its thread only (the DCs belong to that thread).
#pragma once

#include "platform/gdi.h"
#include "presenter/IScreenSource.h"

namespace presenter {

class CScreenCaptureSource : public IScreenSource {
 public:
  // Raises exc_screen_source when the screen cannot be read at all.
  CScreenCaptureSource();
  ~CScreenCaptureSource() override;
  CScreenCaptureSource(const CScreenCaptureSource&) = delete;
  CScreenCaptureSource& operator=(const CScreenCaptureSource&) = delete;

  bool Capture(std::uint32_t frame, ScreenFrame* out) override;

 private:
  // (Re)makes the section for the display's current size; false when none can be made.
  bool Prepare(int width, int height);
  void FreeSection();

  HDC m_screen = nullptr;  // GetDC(NULL), released in the destructor
  HDC m_memory = nullptr;
  HBITMAP m_section = nullptr;
  HGDIOBJ m_previous = nullptr;  // what m_memory held before the section
  void* m_bits = nullptr;        // the section's pixels, top row first
  int m_width = 0;
  int m_height = 0;
};

}  // namespace presenter
