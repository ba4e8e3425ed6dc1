#include "network/CMulticastGroupTable.h"

#include <gtest/gtest.h>

#include <vector>

#include "network/NetworkErrors.h"

namespace {

std::vector<DWORD> Walk(CMulticastGroupTable& table) {
  std::vector<DWORD> groups;
  table.ResetCursor();
  for (DWORD group; table.NextGroup(&group);) groups.push_back(group);
  return groups;
}

// 224.0.0.1, 224.0.4.1 and 224.0.8.1 share bucket 1; 224.0.0.2 is alone in bucket 2.
constexpr DWORD kBucket1Low = 0xE0000001;
constexpr DWORD kBucket1Mid = 0xE0000401;
constexpr DWORD kBucket1High = 0xE0000801;
constexpr DWORD kBucket2 = 0xE0000002;
constexpr DWORD kLastBucket = 0xEFFFFFFF;

// The walk goes bucket by bucket, each chain ascending; a duplicate is refused without
// changing the chain, and a removed group goes back in its place.
TEST(CMulticastGroupTable, WalkOrderDuplicatesAndRemoval) {
  CMulticastGroupTable table;
  for (DWORD group : {kLastBucket, kBucket2, kBucket1High, kBucket1Low, kBucket1Mid})
    ASSERT_EQ(table.Add(group), 0);
  const std::vector<DWORD> all = {kBucket1Low, kBucket1Mid, kBucket1High, kBucket2, kLastBucket};
  EXPECT_EQ(Walk(table), all);
  EXPECT_EQ(table.Add(kBucket1High), RTPERR_ALREADY_IN_GROUP);
  EXPECT_EQ(table.Add(kBucket1Low), RTPERR_ALREADY_IN_GROUP);
  EXPECT_EQ(Walk(table), all);

  EXPECT_TRUE(table.Remove(kBucket1Mid));
  EXPECT_FALSE(table.Remove(kBucket1Mid));
  EXPECT_EQ(Walk(table), (std::vector<DWORD>{kBucket1Low, kBucket1High, kBucket2, kLastBucket}));
  EXPECT_EQ(table.Add(kBucket1Mid), 0);
  EXPECT_EQ(Walk(table), all);
}

TEST(CMulticastGroupTable, RemovingTheCursorsNodeKeepsTheWalkGoing) {
  CMulticastGroupTable table;
  for (DWORD group : {kBucket1Low, kBucket1Mid, kBucket2}) ASSERT_EQ(table.Add(group), 0);
  table.ResetCursor();
  DWORD group = 0;
  ASSERT_TRUE(table.NextGroup(&group));  // the cursor now rests on kBucket1Mid
  EXPECT_TRUE(table.Remove(kBucket1Mid));
  ASSERT_TRUE(table.NextGroup(&group));
  EXPECT_EQ(group, kBucket2);
  EXPECT_FALSE(table.NextGroup(&group));
  EXPECT_FALSE(table.NextGroup(&group));  // stays at the end
}

TEST(CMulticastGroupTable, ClearEmptiesEveryBucket) {
  CMulticastGroupTable table;
  for (DWORD i = 0; i < 3000; ++i) ASSERT_EQ(table.Add(0xE0000000 + i * 7), 0);
  EXPECT_EQ(Walk(table).size(), 3000u);
  table.Clear();
  EXPECT_TRUE(Walk(table).empty());
}

}  // namespace
