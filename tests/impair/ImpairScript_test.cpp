// Script texts: what each entry becomes, and texts that must be refused whole.
#include <gtest/gtest.h>

#include <string>

#include "impair/ImpairScript.h"

namespace {

using Kind = ImpairAction::Kind;

TEST(ImpairScript, EntriesOnLinesOrAfterSemicolonsWithComments) {
  ImpairScript script;
  std::string error;
  ASSERT_TRUE(
      script.Parse("drop 3; dup 4\n# a comment line\nswap 5 9  # trailing\n"
                   "truncate 7 12;seqjump 10 4000;ssrc 0x20 0xDEADBEEF\n\n",
                   &error))
      << error;
  const std::vector<ImpairAction>& a = script.Actions();
  ASSERT_EQ(a.size(), 6u);
  const ImpairAction expected[] = {
      {Kind::kDrop, 3, 0},      {Kind::kDuplicate, 4, 0},        {Kind::kSwap, 5, 9},
      {Kind::kTruncate, 7, 12}, {Kind::kSequenceJump, 10, 4000}, {Kind::kSsrc, 32, 0xDEADBEEF}};
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].kind, expected[i].kind) << i;
    EXPECT_EQ(a[i].n, expected[i].n) << i;
    EXPECT_EQ(a[i].value, expected[i].value) << i;
  }
}

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
