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
        // A position left of and above the shared screen stays signed.
        WireCase{"Negative",
                 InputRecord{-2, -65536, 0x210, kInputRecordMouse, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF},
                 {0xFE, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x10, 0x02, 0,    0,
                  2,    0,    0,    0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
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

  for (std::size_t length : {std::size_t{0}, kInputRecordSize - 1, kInputRecordSize + 1}) {
    Bytes datagram(length, 0);
    if (length > 12) datagram[12] = kInputRecordKeyboard;
    InputRecord record = sentinel;
    EXPECT_EQ(ReadInputRecord(datagram.data(), datagram.size(), &record),
              InputRecordError::kWrongLength)
        << length;
    EXPECT_EQ(record, sentinel);
  }
  for (BYTE type : {BYTE{0}, BYTE{3}, kInputRecordUnset}) {
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
