#include "control/KWZ_Properties.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

struct KeyCase {
  const char16_t* key;
  LONG id;
};

class PropertyKeys : public ::testing::TestWithParam<KeyCase> {
 protected:
  KWZ_Properties table_;
};

TEST_P(PropertyKeys, LooksUpExactly) {
  EXPECT_EQ(table_.GetPropertyId(GetParam().key), GetParam().id);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PropertyKeys,
    ::testing::Values(
        // The keys the control acts on.
        KeyCase{u"enable_tunnel", 2}, KeyCase{u"enable_pck_reordering", 3},
        KeyCase{u"video_pck_lost", 22}, KeyCase{u"pck_lost", 41},
        // Keys of sibling modules, first and last of the table and out of numeric order.
        KeyCase{u"draw_logo", 1}, KeyCase{u"activate_aec", 6}, KeyCase{u"init_aec", 5},
        KeyCase{u"vc_codec", 29}, KeyCase{u"force_gdi", 31}, KeyCase{u"st_stop", 88},
        // Three names of one setting.
        KeyCase{u"tos", 10}, KeyCase{u"video_tos", 10}, KeyCase{u"audio_tos", 10},
        // Not keys: case, blanks, prefixes and the empty name.
        KeyCase{u"Enable_tunnel", 0}, KeyCase{u"enable_tunnel ", 0}, KeyCase{u" pck_lost", 0},
        KeyCase{u"enable", 0}, KeyCase{u"", 0}, KeyCase{u"st_stop\n", 0}));

TEST(PropertyKeyTable, HoldsNinetyKeysOverEightyEightIdentifiers) {
  KWZ_Properties table;
  EXPECT_EQ(table.KeyCount(), 90u);
}

}  // namespace
