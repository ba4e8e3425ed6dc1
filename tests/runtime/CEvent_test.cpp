#include "runtime/CEvent.h"

#include <gtest/gtest.h>

namespace {

// Auto-reset by default: a Set is consumed by one wait; manual-reset stays set until Reset; a
// broken handle gives false, never true.
TEST(CEvent, ResetKindsAndAFailingHandle) {
  CEvent automatic;
  EXPECT_FALSE(automatic.Poll());
  EXPECT_TRUE(automatic.Set());
  EXPECT_TRUE(automatic.Poll());
  EXPECT_FALSE(automatic.Poll());

  CEvent manual(true);
  manual.Set();
  EXPECT_TRUE(manual.Wait(0));
  EXPECT_TRUE(manual.Wait(0));
  manual.Reset();
  EXPECT_FALSE(manual.Poll());
  manual.Set();
  ASSERT_TRUE(CloseHandle(manual.GetHandle()));  // break it behind the wrapper's back
  EXPECT_FALSE(manual.Wait(10));
  EXPECT_FALSE(manual.Set());
}

}  // namespace
