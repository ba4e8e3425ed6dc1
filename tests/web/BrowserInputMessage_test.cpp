// The page's messages: the values at their edges read back, and one table of what must be
// refused as junk. Each kind's ordinary reading, an empty message, an unknown kind, a pointer
// message a byte short and a key message too short for a code are driven from a real page and
// a hostile peer in the browser tests.
#include "web/BrowserInputMessage.h"

#include <gtest/gtest.h>

#include <vector>

namespace kwz_web {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::optional<BrowserInputMessage> Parse(const Bytes& bytes) {
  return ParseBrowserInputMessage(bytes.data(), bytes.size());
}

TEST(BrowserInputMessage, ReadsSignedPositionsSurrogatePairsAndDeadKeys) {
  // Right-button double-click at (-2, 0x01020304).
  const auto pointer = Parse({3, 3, 2, 0, 0xFE, 0xFF, 0xFF, 0xFF, 4, 3, 2, 1});
  ASSERT_TRUE(pointer && std::holds_alternative<BrowserPointer>(*pointer));
  const BrowserPointer& p = std::get<BrowserPointer>(*pointer);
  EXPECT_EQ(p.action, PointerAction::kDoubleClick);
  EXPECT_EQ(p.button, PointerButton::kRight);
  EXPECT_EQ(p.x, -2);
  EXPECT_EQ(p.y, 0x01020304);

  // Key-up of KeyA with Shift and repeat, typing U+1F600 as a surrogate pair.
  const auto key = Parse({4, 1, 12, 4, 'K', 'e', 'y', 'A', 2, 0x3D, 0xD8, 0x00, 0xDE});
  ASSERT_TRUE(key && std::holds_alternative<BrowserKey>(*key));
  const BrowserKey& k = std::get<BrowserKey>(*key);
  EXPECT_FALSE(k.down);
  EXPECT_EQ(k.modifiers, kModifierShift | kModifierRepeat);
  EXPECT_EQ(k.code, "KeyA");
  EXPECT_FALSE(k.dead);
  EXPECT_EQ(k.unitCount, 2);
  EXPECT_EQ(k.units[0], 0xD83D);
  EXPECT_EQ(k.units[1], 0xDE00);

  const auto dead = Parse({4, 0, 16, 5, 'Q', 'u', 'o', 't', 'e', 0xFF});
  ASSERT_TRUE(dead && std::holds_alternative<BrowserKey>(*dead));
  EXPECT_TRUE(std::get<BrowserKey>(*dead).dead);
  EXPECT_EQ(std::get<BrowserKey>(*dead).unitCount, 0);
}

struct JunkCase {
  const char* name;
  Bytes bytes;
};

class BrowserInputJunk : public ::testing::TestWithParam<JunkCase> {};

TEST_P(BrowserInputJunk, IsRefused) {
  EXPECT_FALSE(Parse(GetParam().bytes).has_value());
}

Bytes KeyWithCodeOf(std::size_t length) {
  Bytes b{4, 0, 0, static_cast<std::uint8_t>(length)};
  b.insert(b.end(), length, 'A');
  b.push_back(0);
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Messages, BrowserInputJunk,
    ::testing::Values(JunkCase{"CapsLong", {1, 1, 0}}, JunkCase{"CapsUnknownCodec", {1, 8}},
                      JunkCase{"ControlTwo", {2, 2}},
                      JunkCase{"PointerLong", {3, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0}},
                      JunkCase{"PointerAction4", {3, 4, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}},
                      JunkCase{"PointerButton3", {3, 1, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0}},
                      JunkCase{"PointerPadding", {3, 1, 0, 1, 1, 0, 0, 0, 1, 0, 0, 0}},
                      JunkCase{"KeyPhase2", {4, 2, 0, 1, 'A', 0}},
                      JunkCase{"KeyUnknownModifier", {4, 0, 32, 1, 'A', 0}},
                      JunkCase{"KeyEmptyCode", {4, 0, 0, 0, 0, 0}},
                      JunkCase{"KeyCodeTooLong", KeyWithCodeOf(33)},
                      JunkCase{"KeyCodeControlByte", {4, 0, 0, 1, '\n', 0}},
                      JunkCase{"KeyCodeHighByte", {4, 0, 0, 1, 0x80, 0}},
                      JunkCase{"KeyCodeCutShort", {4, 0, 0, 4, 'K', 'e', 'y'}},
                      JunkCase{"KeyThreeUnits", {4, 0, 0, 1, 'A', 3, 'a', 0, 'a', 0, 'a', 0}},
                      JunkCase{"KeyTrailingByte", {4, 0, 0, 1, 'A', 1, 'a', 0, 0}},
                      JunkCase{"KeyDeadWithUnits", {4, 0, 0, 1, 'A', 0xFF, 'a', 0}},
                      JunkCase{"KeyLoneSurrogate", {4, 0, 0, 1, 'A', 1, 0x3D, 0xD8}},
                      JunkCase{"KeyPairReversed", {4, 0, 0, 1, 'A', 2, 0x00, 0xDE, 0x3D, 0xD8}},
                      JunkCase{"KeyTwoPlainUnits", {4, 0, 0, 1, 'A', 2, 'a', 0, 'b', 0}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kwz_web
