// MapVirtualKeyW from scan codes: the E0 prefix that tells the navigation block from the keypad,
// the sided modifiers of the _EX form, and codes that no key sends.
#include <gtest/gtest.h>

#include "platform/winuser.h"

namespace {

struct MapCase {
  const char* name;
  UINT code;
  UINT vk;    // MAPVK_VSC_TO_VK
  UINT vkEx;  // MAPVK_VSC_TO_VK_EX
};

const MapCase kMapCases[] = {
    {"Letter", 0x1E, 'A', 'A'},
    {"KeypadFourIsLeftWithoutNumLock", 0x4B, VK_LEFT, VK_LEFT},
    {"KeypadDivide", 0xE035, VK_DIVIDE, VK_DIVIDE},
    {"RightShift", 0x36, VK_SHIFT, VK_RSHIFT},
    {"RightCtrl", 0xE01D, VK_CONTROL, VK_RCONTROL},
    {"NumLock", 0xE045, VK_NUMLOCK, VK_NUMLOCK},
    {"NoSuchExtendedKey", 0xE01E, 0, 0},
    {"OtherPrefix", 0xE11E, 0, 0},
};

class MapVirtualKeyTest : public ::testing::TestWithParam<MapCase> {};

TEST_P(MapVirtualKeyTest, ScanCodeToVirtualKey) {
  const MapCase& c = GetParam();
  EXPECT_EQ(MapVirtualKeyW(c.code, MAPVK_VSC_TO_VK), c.vk);
  EXPECT_EQ(MapVirtualKeyW(c.code, MAPVK_VSC_TO_VK_EX), c.vkEx);
}

INSTANTIATE_TEST_SUITE_P(Codes, MapVirtualKeyTest, ::testing::ValuesIn(kMapCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
