// The network layer's parts on their own: the datagram parse over CSRC, extension and padding
// combinations and the truncations it must refuse; sequence numbers extended across wraps; the
// remote-control record against byte tables; the reorder queue on a virtual clock; and the
// multicast group table.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "network/CMulticastGroupTable.h"
#include "network/CReorderQueue.h"
#include "network/InputRecord.h"
#include "network/NetworkErrors.h"
#include "network/RtpHeader.h"
#include "network/RtpSequence.h"

namespace {

using Bytes = std::vector<BYTE>;

// A datagram with the given header bits, csrcCount CSRC words, an extension of extWords words
// (when extension), payload bytes 0xA0, 0xA1, ... and padding of padCount bytes (when padding).
Bytes Datagram(int version, bool padding, bool extension, int csrcCount, int extWords,
               int payloadLength, int padCount) {
  // Marker and PT 113, sequence 0xBEEF, timestamp 0x12345679, SSRC 0xCAFEBABE.
  Bytes d = {0, 0xF1, 0xBE, 0xEF, 0x12, 0x34, 0x56, 0x79, 0xCA, 0xFE, 0xBA, 0xBE};
  d[0] =
      static_cast<BYTE>(version << 6 | (padding ? 0x20 : 0) | (extension ? 0x10 : 0) | csrcCount);
  for (int i = 0; i < 4 * csrcCount; ++i) d.push_back(0xCC);
  if (extension) {
    d.insert(d.end(), {0xAB, 0xCD, static_cast<BYTE>(extWords >> 8), static_cast<BYTE>(extWords)});
    for (int i = 0; i < 4 * extWords; ++i) d.push_back(0xEE);
  }
  for (int i = 0; i < payloadLength; ++i) d.push_back(static_cast<BYTE>(0xA0 + i));
  if (padding) {
    for (int i = 1; i < padCount; ++i) d.push_back(0);
    d.push_back(static_cast<BYTE>(padCount));
  }
  return d;
}

struct ParseCase {
  const char* name;
  Bytes datagram;
  bool ok;
  DWORD payloadOffset;
  DWORD payloadLength;
};

std::ostream& operator<<(std::ostream& out, const ParseCase& c) {
  return out << c.name;
}

class RtpParse : public testing::TestWithParam<ParseCase> {};

TEST_P(RtpParse, PayloadBoundsOrRefusal) {
  const ParseCase& c = GetParam();
  RtpPacketInfo info{};
  ASSERT_EQ(ParseRtpHeader(c.datagram.data(), static_cast<DWORD>(c.datagram.size()), &info), c.ok);
  if (!c.ok) return;
  EXPECT_EQ(info.payload, c.datagram.data() + c.payloadOffset);
  EXPECT_EQ(info.payloadLength, c.payloadLength);
  if (c.payloadLength > 0) {
    EXPECT_EQ(info.payload[0], 0xA0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Combinations, RtpParse,
    testing::Values(
        ParseCase{"Plain", Datagram(2, false, false, 0, 0, 5, 0), true, 12, 5},
        ParseCase{"HeaderOnly", Datagram(2, false, false, 0, 0, 0, 0), true, 12, 0},
        ParseCase{"Csrc15", Datagram(2, false, false, 15, 0, 3, 0), true, 72, 3},
        ParseCase{"ExtensionEmpty", Datagram(2, false, true, 0, 0, 5, 0), true, 16, 5},
        ParseCase{"PaddingIsTheWholePayload", Datagram(2, true, false, 0, 0, 0, 3), true, 12, 0},
        ParseCase{"Csrc2ExtensionPadding", Datagram(2, true, true, 2, 2, 6, 3), true, 32, 6},
        // Flaw: an extension or padding that claims more than the datagram holds.
        ParseCase{"ExtensionLengthMax",
                  Bytes{0x90, 0x71, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0xAB, 0xCD, 0xFF, 0xFF}, false, 0,
                  0},
        ParseCase{"PaddingCountZeroWithoutRoom", Bytes{0xA0, 0x71, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1},
                  false, 0, 0},
        ParseCase{"PaddingLongerThanPayload",
                  Bytes{0xA0, 0x71, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0xA0, 0x03}, false, 0, 0},
        ParseCase{
            "PaddingEatsIntoExtension",
            Bytes{0xB0, 0x71, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0xAB, 0xCD, 0x00, 0x00, 0xA0, 0x02},
            true, 16, 0},
        ParseCase{
            "PaddingPastExtension",
            Bytes{0xB0, 0x71, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0xAB, 0xCD, 0x00, 0x00, 0xA0, 0x03},
            false, 0, 0}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

// Not version 2, or shorter than its fixed header, CSRC list and extension: refused. The whole
// header's fixed fields are big-endian.
TEST(RtpParse, RefusesOtherVersionsAndEveryCutHeader) {
  RtpPacketInfo info{};
  for (int version : {0, 1, 3}) {
    const Bytes d = Datagram(version, false, false, 0, 0, 5, 0);
    EXPECT_FALSE(ParseRtpHeader(d.data(), static_cast<DWORD>(d.size()), &info)) << version;
  }
  const Bytes full = Datagram(2, false, true, 2, 2, 0, 0);  // 12 + 8 + 4 + 8 bytes
  ASSERT_TRUE(ParseRtpHeader(full.data(), static_cast<DWORD>(full.size()), &info));
  EXPECT_EQ(info.ssrc, 0xCAFEBABEu);
  EXPECT_EQ(info.timestamp, 0x12345679u);
  EXPECT_EQ(info.sequence, 0xBEEF);
  EXPECT_EQ(info.payloadType, 113);
  EXPECT_EQ(info.marker, 1);
  for (DWORD length = 0; length < full.size(); ++length)
    EXPECT_FALSE(ParseRtpHeader(full.data(), length, &info)) << length;
}

// --- Extended sequence numbers ---

struct SequenceCase {
  const char* name;
  std::vector<WORD> numbers;
  std::vector<DWORD> extended;
};

std::ostream& operator<<(std::ostream& out, const SequenceCase& c) {
  return out << c.name;
}

class Sequence : public testing::TestWithParam<SequenceCase> {};

TEST_P(Sequence, Extends) {
  const SequenceCase& c = GetParam();
  RtpSequence sequence;
  std::vector<DWORD> got;
  for (WORD s : c.numbers) got.push_back(sequence.Extend(s));
  EXPECT_EQ(got, c.extended);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, Sequence,
    testing::Values(
        SequenceCase{"ZeroFirstCountsAsAfterAWrap", {0, 1, 2}, {65536, 65537, 65538}},
        SequenceCase{"WrapsAt65535", {65534, 65535, 0, 1}, {65534, 65535, 65536, 65537}},
        SequenceCase{"DuplicateKeepsItsNumber", {10, 11, 11, 12}, {10, 11, 11, 12}},
        SequenceCase{
            "OlderJustAfterAWrap", {65535, 2, 0, 1, 3}, {65535, 65538, 65536, 65537, 65539}},
        SequenceCase{"HalfwayBackIsOlder", {40000, 7232}, {40000, 7232}},
        SequenceCase{"MoreThanHalfwayBackIsAWrap", {40000, 7231}, {40000, 72767}},
        // A straggler from before a wrap that arrives after it lands one cycle ahead.
        SequenceCase{"StragglerAcrossAWrapLandsAhead", {65534, 0, 65535}, {65534, 65536, 131071}}),
    [](const testing::TestParamInfo<SequenceCase>& info) { return std::string(info.param.name); });

TEST(Sequence, ResetStartsTheCountAgain) {
  RtpSequence sequence;
  sequence.Extend(65535);
  EXPECT_EQ(sequence.Extend(0), 65536u);
  sequence.Reset();
  EXPECT_EQ(sequence.Extend(1), 1u);
}

// --- The remote-control record ---

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
  const InputRecord sentinel{7, 8, 9, kInputRecordMouse, 0, 0, 1, 2};
  // Length and type byte of each datagram: a keyboard record's type at a wrong length, or an
  // unknown type at the right one.
  const std::pair<std::size_t, BYTE> refused[] = {{0, 0},
                                                  {kInputRecordSize - 1, kInputRecordKeyboard},
                                                  {kInputRecordSize + 1, kInputRecordKeyboard},
                                                  {kInputRecordSize, 0},
                                                  {kInputRecordSize, 3},
                                                  {kInputRecordSize, kInputRecordUnset}};
  for (const auto& [length, type] : refused) {
    Bytes datagram(std::max<std::size_t>(length, 13), 0);
    datagram[12] = type;
    InputRecord record = sentinel;
    EXPECT_EQ(ReadInputRecord(datagram.data(), length, &record),
              length == kInputRecordSize ? InputRecordError::kUnknownType
                                         : InputRecordError::kWrongLength)
        << length << " " << int{type};
    EXPECT_EQ(record, sentinel);
  }
  InputRecord record = sentinel;
  EXPECT_EQ(ReadInputRecord(nullptr, kInputRecordSize, &record), InputRecordError::kWrongLength);
  EXPECT_EQ(record, sentinel);
}

// --- The reorder queue: order, the late window, and the two ways a missing datagram is given
// up (the limit and the wait) ---

DWORD g_now = 0;
DWORD Now() {
  return g_now;
}

class ReorderQueue : public testing::Test {
 protected:
  void SetUp() override { g_now = 5000; }

  bool Insert(DWORD extended, DWORD expected) {
    payloads_.emplace_back(3, 0x5A);
    RtpPacketInfo info{};
    info.extendedSequence = extended;
    info.sequence = static_cast<WORD>(extended);
    info.payload = payloads_.back().data();
    info.payloadLength = 3;
    return queue_.Insert(info, expected);
  }
  CReorderQueue queue_{&Now};
  std::vector<std::vector<BYTE>> payloads_;
};

TEST_F(ReorderQueue, WaitSurvivesTheClockWrapping) {
  g_now = 0xFFFFFFF0;
  ASSERT_TRUE(Insert(103, 101));
  g_now += 99;  // wraps past 0
  EXPECT_EQ(queue_.Take(101), nullptr);
  g_now += 1;
  EXPECT_NE(queue_.Take(101), nullptr);
}

TEST_F(ReorderQueue, FullQueueReleasesItsFront) {
  for (DWORD e = 200; e < 200 + CReorderQueue::kLimit - 1; ++e) ASSERT_TRUE(Insert(e, 150));
  EXPECT_EQ(queue_.Take(150), nullptr);
  ASSERT_TRUE(Insert(300, 150));
  auto front = queue_.Take(150);
  ASSERT_NE(front, nullptr);
  EXPECT_EQ(front->info.extendedSequence, 200u);
  EXPECT_EQ(queue_.Take(150), nullptr);  // back below the limit
}

// The 19 numbers just below the expected one are late duplicates; the twentieth back is not.
struct LateCase {
  DWORD expected;
  DWORD extended;
  bool queued;
};

class LateWindow : public ReorderQueue, public testing::WithParamInterface<LateCase> {};

TEST_P(LateWindow, DropsOnlyTheNineteenJustBelow) {
  EXPECT_EQ(Insert(GetParam().extended, GetParam().expected), GetParam().queued);
  EXPECT_EQ(queue_.Size(), GetParam().queued ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Numbers, LateWindow,
                         testing::Values(LateCase{100, 99, false}, LateCase{100, 81, false},
                                         LateCase{100, 80, true}, LateCase{100, 101, true},
                                         // Below 20 the window would wrap and is empty.
                                         LateCase{10, 9, true}, LateCase{65540, 65536, false}));

TEST_F(ReorderQueue, SecondCopyOfAQueuedDatagramIsDropped) {
  ASSERT_TRUE(Insert(103, 101));
  EXPECT_FALSE(Insert(103, 101));
  EXPECT_EQ(queue_.Size(), 1u);
}

TEST_F(ReorderQueue, EmptyPayloadIsQueuedAndClearFreesEverything) {
  RtpPacketInfo info{};
  info.extendedSequence = 9;
  ASSERT_TRUE(queue_.Insert(info, 8));
  auto record = queue_.Take(9);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->info.payloadLength, 0u);

  for (DWORD e = 10; e < 15; ++e) Insert(e, 1);
  queue_.Clear();
  EXPECT_EQ(queue_.Size(), 0u);
  g_now += 1000;
  EXPECT_EQ(queue_.Take(1), nullptr);
}

// --- The multicast group table ---

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
