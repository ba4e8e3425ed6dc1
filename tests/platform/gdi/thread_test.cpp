// Painting from a worker thread while the window's thread resizes it, reads it and finally
// destroys it: the engine's thread and the control's window thread do exactly this.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/platform/GdiTestSupport.h"

namespace {

using kwz_test::MakeDib;
using kwz_test::MakeWindow;
using kwz_test::TestDib;

void PaintUntilStopped(HWND window, const TestDib& dib, std::atomic<bool>* stop,
                       std::atomic<int>* paints) {
  HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
  while (!stop->load(std::memory_order_relaxed)) {
    HDC dc = GetDC(window);
    if (dc == nullptr) break;  // destroyed
    RECT client{};
    if (GetClientRect(window, &client)) {
      SetStretchBltMode(dc, HALFTONE);
      StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, dib.width, dib.height,
                    dib.bits.data(), dib.bmi(), DIB_RGB_COLORS, SRCCOPY);
    }
    SetDIBitsToDevice(dc, 0, 0, dib.width, dib.height, 0, 0, 0, dib.height, dib.bits.data(),
                      dib.bmi(), DIB_RGB_COLORS);
    DrawIcon(dc, 10, 10, hand);
    ReleaseDC(window, dc);
    paints->fetch_add(1, std::memory_order_relaxed);
  }
}

TEST(GdiThreadTest, WorkerPaintsWhileTheWindowIsResizedReadAndDestroyed) {
  ASSERT_TRUE(kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless));
  TestDib dib = MakeDib(64, 48, 32, true, [](int x, int y) { return (x + y) & 255; });
  HWND parent = MakeWindow(200, 200);
  HWND window = CreateWindowExW(0, u"STATIC", u"", WS_CHILD | WS_VISIBLE, 0, 0, 100, 80, parent,
                                nullptr, nullptr, nullptr);
  std::atomic<bool> stop{false};
  std::atomic<int> paints{0};
  std::thread worker(PaintUntilStopped, window, std::cref(dib), &stop, &paints);
  for (int i = 0; i < 200; ++i) {
    SetWindowPos(window, nullptr, 0, 0, 40 + i % 90, 30 + i % 70, SWP_NOMOVE | SWP_NOZORDER);
    auto shown = kwz_test::Read(window);
    EXPECT_EQ(shown.pixels.size(), static_cast<size_t>(shown.width) * shown.height);
  }
  // Destroying the parent takes the child while the worker may be holding a DC.
  while (paints.load() < 20) std::this_thread::yield();
  EXPECT_TRUE(DestroyWindow(parent));
  stop = true;
  worker.join();
  EXPECT_FALSE(IsWindow(window));
}

TEST(GdiThreadTest, LastFrameOfTheWorkerIsWhatTheWindowShows) {
  ASSERT_TRUE(kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless));
  TestDib dib = MakeDib(64, 48, 24, true, [](int x, int y) { return (x * 3 + y) & 255; });
  HWND window = MakeWindow(64, 48);
  std::atomic<bool> stop{false};
  std::atomic<int> paints{0};
  std::thread worker(PaintUntilStopped, window, std::cref(dib), &stop, &paints);
  while (paints.load() < 50) std::this_thread::yield();
  stop = true;
  worker.join();
  auto shown = kwz_test::Read(window);
  EXPECT_EQ(shown.At(63, 0), dib.Colour(63, 0));
  EXPECT_EQ(shown.At(0, 47), dib.Colour(0, 47));
  DestroyWindow(window);
}

}  // namespace
