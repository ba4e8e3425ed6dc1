#include "runtime/CEvent.h"

#include <gtest/gtest.h>

namespace {

TEST(CEvent, DefaultIsAutoResetAndNotSignalled) {
  CEvent event;
  EXPECT_FALSE(event.Poll());
  EXPECT_TRUE(event.Set());
  EXPECT_TRUE(event.Poll());
  EXPECT_FALSE(event.Poll());  // consumed
}

TEST(CEvent, ManualResetStaysSetUntilReset) {
  CEvent event(true);
  event.Set();
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(0));
  event.Reset();
  EXPECT_FALSE(event.Poll());
}

TEST(CEvent, AFailingHandleGivesFalseNotTrue) {
  CEvent event(true);
  event.Set();
  ASSERT_TRUE(CloseHandle(event.GetHandle()));  // break it behind the wrapper's back
  EXPECT_FALSE(event.Wait(0));
  EXPECT_FALSE(event.Wait(10));
  EXPECT_FALSE(event.Set());
}

}  // namespace
