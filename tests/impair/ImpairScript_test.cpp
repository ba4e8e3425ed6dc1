// Script texts that must be refused whole (what good ones become is in the scripted cases).
#include <gtest/gtest.h>

#include <string>

#include "impair/ImpairScript.h"

namespace {

using Kind = ImpairAction::Kind;

// Each bad text is refused with a reason, and leaves what was parsed before untouched.
class BadScript : public testing::TestWithParam<const char*> {};

TEST_P(BadScript, RefusedWholeWithAReason) {
  ImpairScript script;
  std::string error;
  ASSERT_TRUE(script.Parse("drop 1", &error));
  EXPECT_FALSE(script.Parse(std::string("dup 2; ") + GetParam(), &error));
  EXPECT_NE(error.find("entry 2"), std::string::npos) << error;
  ASSERT_EQ(script.Actions().size(), 1u);
  EXPECT_EQ(script.Actions()[0].kind, Kind::kDrop);
}

INSTANTIATE_TEST_SUITE_P(Texts, BadScript,
                         testing::Values("lose 3", "drop", "drop 0", "drop -1", "drop 3x", "swap 5",
                                         "swap 5 5", "ssrc 1 0x100000000",
                                         "drop 99999999999999999999999", "seqjump 4 many",
                                         "dup 1 2"));

}  // namespace
