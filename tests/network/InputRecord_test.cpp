// The remote-control record against byte tables in both directions, and the datagrams that are
// not records.
#include "network/InputRecord.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

struct WireCase {
  const char* name;
  InputRecord record;
  Bytes bytes;
};

class InputRecordWire : public ::testing::TestWithParam<WireCase> {};

TEST_P(InputRecordWire, WritesTheTableAndReadsItBack) {
  BYTE written[kInputRecordSize];
  WriteInputRecord(GetParam().record, written);
  EXPECT_EQ(Bytes(written, written + kInputRecordSize), GetParam().bytes);

  InputRecord read;
  ASSERT_EQ(ReadInputRecord(GetParam().bytes.data(), GetParam().bytes.size(), &read),
            InputRecordError::kNone);
  EXPECT_EQ(read, GetParam().record);
}

INSTANTIATE_TEST_SUITE_P(
    Network, InputRecordWire,
    ::testing::Values(
        // A left press at (200, 3): little-endian words, message 0, wParam and lParam all ones.
        WireCase{"Mouse",
                 InputRecord{200, 3, 0x2, kInputRecordMouse, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF},
                 {0xC8, 0, 0,    0,    3,    0,    0,    0,    2,    0,    0,    0,
                  2,    0, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        // A position left of and above the shared screen stays signed.
        WireCase{"Negative",
                 InputRecord{-2, -65536, 0x210, kInputRecordMouse, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF},
                 {0xFE, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x10, 0x02, 0,    0,
                  2,    0,    0,    0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        // The letter a: WM_CHAR 0x0102, wParam 0x61, the A key's scan code 0x1E in lParam.
        WireCase{"Character",
                 InputRecord{0, 0, 0, kInputRecordKeyboard, 0, 0x0102, 0x61, 0x001E0001},
                 {0, 0, 0,    0,    0,    0, 0, 0, 0,    0,    0,    0,
                  1, 0, 0x02, 0x01, 0x61, 0, 0, 0, 0x01, 0x00, 0x1E, 0x00}},
        // Release of the Left arrow: extended and transition bits at the top of lParam.
        WireCase{"KeyUp",
                 InputRecord{0, 0, 0, kInputRecordKeyboard, 0, 0x0100, 0x25, 0xC14B0001},
                 {0, 0, 0,    0,    0,    0, 0, 0, 0,    0,    0,    0,
                  1, 0, 0x00, 0x01, 0x25, 0, 0, 0, 0x01, 0x00, 0x4B, 0xC1}}),
    [](const ::testing::TestParamInfo<WireCase>& info) { return std::string(info.param.name); });

// Datagrams that are not records: dropped, and the record handed in stays as it was.
TEST(InputRecordRead, RefusesOtherLengthsAndUnknownTypesWithoutTouchingTheRecord) {
  Bytes good(kInputRecordSize, 0);
  good[12] = kInputRecordKeyboard;
  const InputRecord sentinel{7, 8, 9, kInputRecordMouse, 0, 0, 1, 2};

  for (std::size_t length : {std::size_t{0}, std::size_t{1}, kInputRecordSize - 1,
                             kInputRecordSize + 1, std::size_t{65507}}) {
    Bytes datagram(length, 0);
    if (length > 12) datagram[12] = kInputRecordKeyboard;
    InputRecord record = sentinel;
    EXPECT_EQ(ReadInputRecord(datagram.data(), datagram.size(), &record),
              InputRecordError::kWrongLength)
        << length;
    EXPECT_EQ(record, sentinel);
  }
  for (BYTE type : {BYTE{0}, BYTE{3}, BYTE{0x81}, kInputRecordUnset}) {
    Bytes datagram = good;
    datagram[12] = type;
    InputRecord record = sentinel;
    EXPECT_EQ(ReadInputRecord(datagram.data(), datagram.size(), &record),
              InputRecordError::kUnknownType)
        << int{type};
    EXPECT_EQ(record, sentinel);
  }
  InputRecord record = sentinel;
  EXPECT_EQ(ReadInputRecord(nullptr, kInputRecordSize, &record), InputRecordError::kWrongLength);
  EXPECT_EQ(record, sentinel);
}

}  // namespace
