#include "registry/hive.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/winerror.h"

namespace {

TEST(RegistryHive, TextRoundTripsEveryCharacterItEscapes) {
  kwz_platform::RegistryHive hive;
  bool created = false;
  auto* key = hive.Create("A\\{B}\\c d", &created);
  ASSERT_TRUE(created);
  key->values[""] = "\"\\\n\\n";
  key->values["x=y"] = "";
  kwz_platform::RegistryHive copy;
  std::string reason;
  ASSERT_EQ(copy.Parse(hive.Serialize(), &reason), ERROR_SUCCESS) << reason;
  EXPECT_EQ(copy.Serialize(), hive.Serialize());
  ASSERT_NE(copy.Find("a\\{b}\\C D"), nullptr);
  EXPECT_EQ(copy.Find("a\\{b}\\C D")->values[""], "\"\\\n\\n");
}

}  // namespace
