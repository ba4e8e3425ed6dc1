// The datagram parse over CSRC, extension and padding combinations, truncations that must be
// refused, and the extension of sequence numbers across wraps.
#include "network/RtpHeader.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

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
  sequence.Extend(0);
  EXPECT_EQ(sequence.Extend(1), 65537u);
  sequence.Reset();
  EXPECT_FALSE(sequence.IsInitialised());
  EXPECT_EQ(sequence.Extend(1), 1u);
}

}  // namespace
