// The relay's decisions on a virtual clock: a datagram a millisecond, tagged with its arrival
// number, so that what comes out can be traced back to what went in; and script texts that
// must be refused whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "impair/CImpairment.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// An RTP datagram whose sequence number is n and whose payload is n, 4 bytes big-endian.
Bytes Datagram(std::uint32_t n) {
  const auto byte = [n](int shift) { return static_cast<std::uint8_t>(n >> shift); };
  return Bytes{0x80, 0x71, byte(8), byte(0), 0,        0,        0,       0,
               0x11, 0x22, 0x33,    0x44,    byte(24), byte(16), byte(8), byte(0)};
}

std::uint32_t Tag(const Bytes& d) {
  if (d.size() < 16) return 0;
  return (std::uint32_t{d[12]} << 24) | (d[13] << 16) | (d[14] << 8) | d[15];
}

// Pushes datagrams 1..count, one a millisecond, and takes what is due as time goes on.
std::vector<ImpairedDatagram> Feed(CImpairment& impairment, std::uint32_t count) {
  std::vector<ImpairedDatagram> out;
  for (std::uint32_t n = 1; n <= count; ++n) {
    impairment.Push(Datagram(n), n);
    impairment.Take(n, &out);
  }
  impairment.Flush(&out);
  return out;
}

std::vector<std::uint32_t> Tags(const std::vector<ImpairedDatagram>& out) {
  std::vector<std::uint32_t> tags;
  for (const auto& d : out) tags.push_back(Tag(d.bytes));
  return tags;
}

// The same seed gives the same output, another seed another; a script takes its datagrams out
// without shifting the others' losses.
TEST(Impairment, SeedDecidesAndScriptDoesNotShiftTheRandomDecisions) {
  ImpairSettings settings;
  settings.loss = 0.1;
  settings.meanBurst = 3;
  settings.duplicate = 0.05;
  settings.reorder = 0.05;
  settings.jitterMs = 4;
  settings.seed = 42;
  CImpairment a(settings), b(settings);
  const auto outA = Feed(a, 5000);
  const auto outB = Feed(b, 5000);
  const auto same = [](const ImpairedDatagram& x, const ImpairedDatagram& y) {
    return x.bytes == y.bytes && x.sendMs == y.sendMs;
  };
  EXPECT_TRUE(std::equal(outA.begin(), outA.end(), outB.begin(), outB.end(), same));
  settings.seed = 43;
  CImpairment c(settings);
  EXPECT_NE(Tags(Feed(c, 5000)), Tags(outA));

  ImpairSettings lossOnly;
  lossOnly.loss = 0.3;
  lossOnly.seed = 9;
  ImpairScript script;
  script.Add({ImpairAction::Kind::kDrop, 1, 0});
  CImpairment plain(lossOnly), scripted(lossOnly, script);
  auto tags = Tags(Feed(plain, 1000));
  std::erase(tags, 1u);
  EXPECT_EQ(Tags(Feed(scripted, 1000)), tags);
}

// Long-run loss share, mean burst length and share of copies, within five standard deviations
// (bursts: 10%); a copy follows its original, and nothing else changes the order.
class Rates : public testing::TestWithParam<std::tuple<double, double, double>> {};

TEST_P(Rates, LossBurstsAndCopiesAsAsked) {
  constexpr std::uint32_t kCount = 200000;
  ImpairSettings settings;
  std::tie(settings.loss, settings.meanBurst, settings.duplicate) = GetParam();
  settings.seed = 7;
  CImpairment impairment(settings);
  std::uint64_t lost = 0, bursts = 0, doubled = 0;
  std::uint32_t expected = 1;
  for (std::uint32_t tag : Tags(Feed(impairment, kCount))) {
    if (tag + 1 == expected) {
      ++doubled;
      continue;
    }
    ASSERT_GE(tag, expected);
    if (tag > expected) ++bursts;
    lost += tag - expected;
    expected = tag + 1;
  }
  lost += kCount + 1 - expected;
  EXPECT_EQ(lost, impairment.Stats().dropped);
  EXPECT_EQ(doubled, impairment.Stats().duplicated);
  EXPECT_EQ(impairment.Stats().sent, impairment.Stats().received - impairment.Stats().dropped +
                                         impairment.Stats().duplicated);
  const double d = settings.duplicate;
  EXPECT_NEAR(static_cast<double>(doubled) / (kCount - lost), d,
              5 * std::sqrt(d * (1 - d) / kCount));
  // Bursts make the share vary more: its deviation grows about with the root of the burst.
  const double sigma =
      std::sqrt(settings.loss * (1 - settings.loss) / kCount * (2 * settings.meanBurst - 1));
  EXPECT_NEAR(static_cast<double>(lost) / kCount, settings.loss, 5 * sigma);
  if (lost == 0) return;
  // Independent losses run on for 1 / (1 - loss) on average; bursts as long as asked.
  const double expectedBurst =
      settings.meanBurst <= 1 ? 1 / (1 - settings.loss) : settings.meanBurst;
  EXPECT_NEAR(static_cast<double>(lost) / bursts, expectedBurst, 0.1 * expectedBurst);
}

INSTANTIATE_TEST_SUITE_P(Settings, Rates,
                         testing::Values(std::tuple{0.2, 1.0, 0.0}, std::tuple{0.05, 4.0, 0.0},
                                         std::tuple{0.0, 1.0, 0.1}));

TEST(Impairment, HeldDatagramsGoOutExactlyDepthLater) {
  ImpairSettings settings;
  settings.reorder = 0.003;  // rare enough that held ones seldom overlap
  settings.reorderDepth = 25;
  settings.holdLimitMs = 1000000;
  CImpairment impairment(settings);
  const auto tags = Tags(Feed(impairment, 40000));
  ASSERT_EQ(tags.size(), 40000u);
  // A datagram that went out late sits after datagrams that arrived after it; when it was the
  // only one held at the time, exactly 25 of them.
  std::uint64_t late = 0, exact = 0;
  for (std::size_t i = 0; i < tags.size(); ++i) {
    std::size_t after = 0;
    for (std::size_t j = i; j > 0 && after <= 40; --j) after += tags[j - 1] > tags[i];
    if (after > 0) ++late;
    if (after == 25) ++exact;
  }
  EXPECT_EQ(late, impairment.Stats().reordered);
  EXPECT_GT(late, 60u);
  EXPECT_GT(exact, late * 8 / 10);
  EXPECT_EQ(impairment.Stats().sent, impairment.Stats().received - impairment.Stats().dropped +
                                         impairment.Stats().duplicated);
}

TEST(Impairment, HeldDatagramWithoutFollowersGoesOutAtTheHoldLimit) {
  ImpairSettings settings;
  settings.reorder = 1;
  settings.holdLimitMs = 80;
  CImpairment impairment(settings);
  impairment.Push(Datagram(1), 1000);
  EXPECT_EQ(impairment.NextDue(), 1080u);
  std::vector<ImpairedDatagram> out;
  impairment.Take(1080, &out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].sendMs, 1080u);
  EXPECT_EQ(impairment.NextDue(), CImpairment::kNothingDue);
}

TEST(Impairment, DelayAndJitterStayInTheirWindow) {
  ImpairSettings settings;
  settings.delayMs = 30;
  settings.jitterMs = 20;
  CImpairment impairment(settings);
  std::vector<ImpairedDatagram> out;
  for (std::uint32_t n = 1; n <= 10000; ++n) {
    impairment.Push(Datagram(n), n);
    impairment.Take(n, &out);
    for (const auto& d : out) EXPECT_LE(d.sendMs, n);  // never handed out early
  }
  impairment.Flush(&out);
  ASSERT_EQ(out.size(), 10000u);
  std::uint64_t previous = 0, outOfOrder = 0, lo = 1000, hi = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const std::uint32_t tag = Tag(out[i].bytes);
    const std::uint64_t extra = out[i].sendMs - tag;  // datagram n arrived at n ms
    lo = std::min(lo, extra);
    hi = std::max(hi, extra);
    EXPECT_GE(out[i].sendMs, previous);
    previous = out[i].sendMs;
    if (i > 0 && tag < Tag(out[i - 1].bytes)) ++outOfOrder;
  }
  EXPECT_EQ(lo, 30u);
  EXPECT_EQ(hi, 50u);
  EXPECT_GT(outOfOrder, 0u);  // jitter larger than the spacing reorders, as on a real link
}

// --- Scripted faults: exact outputs ---

struct ScriptCase {
  const char* name;
  const char* script;
  std::vector<std::uint32_t> tags;  // payload tags out, in order
  ImpairStats stats;                // received, sent, dropped, duplicated, reordered, truncated
};

class Scripted : public testing::TestWithParam<ScriptCase> {};

TEST_P(Scripted, ExactOutput) {
  const ScriptCase& c = GetParam();
  ImpairScript script;
  std::string error;
  ASSERT_TRUE(script.Parse(c.script, &error)) << error;
  CImpairment impairment(ImpairSettings{}, script);
  const auto out = Feed(impairment, 8);
  EXPECT_EQ(Tags(out), c.tags);
  const ImpairStats& s = impairment.Stats();
  const auto counts = [](const ImpairStats& t) {
    return std::vector<std::uint64_t>{t.received,   t.sent,      t.dropped,
                                      t.duplicated, t.reordered, t.truncated};
  };
  EXPECT_EQ(counts(s), counts(c.stats));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Scripted,
    testing::Values(
        // Entries on lines or after semicolons, with comment lines and trailing comments.
        ScriptCase{"DropFirstAndLast",
                   "drop 1  # first\n# a comment line\n\ndrop 8;",
                   {2, 3, 4, 5, 6, 7},
                   {8, 6, 2, 0, 0, 0}},
        ScriptCase{"SwapNeighbours", "swap 4 5", {1, 2, 3, 5, 4, 6, 7, 8}, {8, 8, 0, 0, 1, 0}},
        ScriptCase{
            "SwapBehindADrop", "swap 2 5; drop 5", {1, 3, 4, 2, 6, 7, 8}, {8, 7, 1, 0, 1, 0}},
        // Cut into the header: nothing to tag by. Longer than the datagram: left whole.
        ScriptCase{"Truncate",
                   "truncate 6 5; truncate 7 1000",
                   {1, 2, 3, 4, 5, 0, 7, 8},
                   {8, 8, 0, 0, 0, 1}}),
    [](const testing::TestParamInfo<ScriptCase>& info) { return std::string(info.param.name); });

TEST(Impairment, SequenceJumpAndSsrcChangeRewriteEveryLaterHeader) {
  ImpairScript script;
  std::string error;
  ASSERT_TRUE(script.Parse("seqjump 3 65000; seqjump 5 1000; ssrc 4 0xCAFEF00D", &error));
  CImpairment impairment(ImpairSettings{}, script);
  const auto out = Feed(impairment, 6);
  ASSERT_EQ(out.size(), 6u);
  const std::uint16_t sequences[] = {1, 2, 65003, 65004, 469, 470};  // wraps past 65535
  for (std::size_t i = 0; i < out.size(); ++i) {
    const Bytes& d = out[i].bytes;
    EXPECT_EQ((d[2] << 8) | d[3], sequences[i]) << i;
    const std::uint32_t ssrc = (std::uint32_t{d[8]} << 24) | (d[9] << 16) | (d[10] << 8) | d[11];
    EXPECT_EQ(ssrc, i < 3 ? 0x11223344u : 0xCAFEF00Du) << i;
    EXPECT_EQ(Tag(d), i + 1);  // the payload is left alone
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
  EXPECT_EQ(script.Actions()[0].kind, ImpairAction::Kind::kDrop);
}

INSTANTIATE_TEST_SUITE_P(Texts, BadScript,
                         testing::Values("lose 3", "drop", "drop 0", "drop -1", "drop 3x", "swap 5",
                                         "swap 5 5", "ssrc 1 0x100000000",
                                         "drop 99999999999999999999999", "seqjump 4 many",
                                         "dup 1 2"));

}  // namespace
