#include "platform/widestring.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "platform/winerror.h"

namespace {

// Each case records the call it was made by, so a failing row names itself.
template <class S>
struct FormatCase {
  const char* call;
  S got;
  S want;
};

#define WIDE_CASE(want, ...)                    \
  FormatCase<std::u16string> {                  \
#__VA_ARGS__, FormatWide(__VA_ARGS__), want \
  }
#define NARROW_CASE(want, ...)                    \
  FormatCase<std::string> {                       \
#__VA_ARGS__, FormatNarrow(__VA_ARGS__), want \
  }

std::string FormatNarrow(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  const int n = _vsnprintf_s(buffer, sizeof(buffer), _TRUNCATE, format, args);
  va_end(args);
  return n < 0 ? std::string("<failed>") : std::string(buffer, static_cast<size_t>(n));
}

template <class S>
void ExpectAll(const std::vector<FormatCase<S>>& cases) {
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.call;
}

TEST(FormatWideTest, Integers) {
  const WORD seven = 7;
  const LONG minusFive = -5;
  const DWORD allOnes = 0xFFFFFFFFu;
  const HRESULT invalidArg = E_INVALIDARG;
  ExpectAll<std::u16string>({
      WIDE_CASE(u"007", u"%03hu", seven),
      WIDE_CASE(u"80070057", u"%08X", invalidArg),
      WIDE_CASE(u"0000abcd", u"%08x", 0xABCDu),
      WIDE_CASE(u"-42", u"%d", -42),
      WIDE_CASE(u"  -42", u"%5d", -42),
      WIDE_CASE(u"-42  |", u"%-5d|", -42),
      WIDE_CASE(u"-0042", u"%05d", -42),
      WIDE_CASE(u"-42  ", u"%-05d", -42),
      WIDE_CASE(u"+5", u"%+d", 5),
      WIDE_CASE(u" 5", u"% d", 5),
      WIDE_CASE(u"-5", u"% d", -5),
      WIDE_CASE(u"5", u"%+u", 5u),
      WIDE_CASE(u"007", u"%.3d", 7),
      WIDE_CASE(u"-007", u"%.3d", -7),
      WIDE_CASE(u"     007", u"%08.3d", 7),
      WIDE_CASE(u"[]", u"[%.0d]", 0),
      WIDE_CASE(u"0xff", u"%#x", 255),
      WIDE_CASE(u"0XFF", u"%#X", 255),
      WIDE_CASE(u"0", u"%#x", 0),
      WIDE_CASE(u"0x00ff", u"%#06x", 255),
      WIDE_CASE(u"010", u"%#o", 8),
      WIDE_CASE(u"10", u"%o", 8),
      WIDE_CASE(u"4294967295", u"%u", allOnes),
      WIDE_CASE(u"4294967295", u"%lu", allOnes),
      WIDE_CASE(u"-5", u"%ld", minusFive),
      WIDE_CASE(u"-2147483648", u"%d", INT_MIN),
      WIDE_CASE(u"-9223372036854775808", u"%lld", LLONG_MIN),
      WIDE_CASE(u"-9223372036854775808", u"%I64d", LLONG_MIN),
      WIDE_CASE(u"18446744073709551615", u"%I64u", ULLONG_MAX),
      WIDE_CASE(u"123456789abc", u"%llx", 0x123456789ABCull),
      WIDE_CASE(u"-7", u"%I32d", -7),
      WIDE_CASE(u"-1", u"%hhd", 0x1FF),
      WIDE_CASE(u"-32768", u"%hd", 0x18000),
      WIDE_CASE(u"12345678901", u"%zu", static_cast<size_t>(12345678901ull)),
      WIDE_CASE(u"   42", u"%*d", 5, 42),
      WIDE_CASE(u"7   |", u"%*d|", -4, 7),
      WIDE_CASE(u"005", u"%.*d", 3, 5),
      WIDE_CASE(u"5", u"%.*d", -1, 5),
      WIDE_CASE(u"100%", u"%d%%", 100),
  });
}

TEST(FormatWideTest, StringsAndCharacters) {
  const WCHAR* nullWide = nullptr;
  const char* nullNarrow = nullptr;
  ExpectAll<std::u16string>({
      // Wide format: %s and %ls are WCHAR strings, %hs and %S narrow ones.
      WIDE_CASE(u"abc", u"%s", u"abc"),
      WIDE_CASE(u"abc", u"%ls", u"abc"),
      WIDE_CASE(u"abc", u"%ws", u"abc"),
      WIDE_CASE(u"abc", u"%hs", "abc"),
      WIDE_CASE(u"abc", u"%S", "abc"),
      WIDE_CASE(u"a-b-c", u"%s-%hs-%S", u"a", "b", "c"),
      WIDE_CASE(u"h\u00e9", u"%hs", "h\xC3\xA9"),
      WIDE_CASE(u"\U0001F600", u"%hs", "\xF0\x9F\x98\x80"),
      WIDE_CASE(u"a\uFFFDb", u"%hs",
                "a\xFF"
                "b"),
      WIDE_CASE(u"  abc", u"%5s", u"abc"),
      WIDE_CASE(u"abc  |", u"%-5s|", u"abc"),
      WIDE_CASE(u"ab", u"%.2s", u"abc"),
      WIDE_CASE(u"   ab", u"%5.2hs", "abc"),
      WIDE_CASE(u"abc", u"%.9s", u"abc"),
      WIDE_CASE(u"(null)", u"%s", nullWide),
      WIDE_CASE(u"(null)", u"%hs", nullNarrow),
      WIDE_CASE(u"(nu", u"%.3s", nullWide),
      // A precision never splits a character that needs two units.
      WIDE_CASE(u"[]", u"[%.1hs]", "\xF0\x9F\x98\x80"),
      WIDE_CASE(u"\U0001F600", u"%.2hs", "\xF0\x9F\x98\x80"),
      WIDE_CASE(u"   \U0001F600", u"%5hs", "\xF0\x9F\x98\x80"),
      // %c is a WCHAR, %hc and %C a char; both arrive as int.
      WIDE_CASE(u"Z", u"%c", u'Z'),
      WIDE_CASE(u"\u00e9", u"%c", u'\u00e9'),
      WIDE_CASE(u"q", u"%C", 'q'),
      WIDE_CASE(u"q", u"%hc", 'q'),
      WIDE_CASE(u"\u20ac", u"%lc", u'\u20ac'),
      WIDE_CASE(u"  x", u"%3c", u'x'),
      WIDE_CASE(u"x  |", u"%-3c|", u'x'),
  });
}

TEST(FormatWideTest, PointersAndFloatingPoint) {
  void* pointer = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0xABC));
  const std::u16string hex = std::u16string(sizeof(void*) * 2 - 3, u'0') + u"ABC";
  ExpectAll<std::u16string>({
      WIDE_CASE(hex, u"%p", pointer),
      WIDE_CASE(u"  " + hex, u"%*p", static_cast<int>(hex.size() + 2), pointer),
      WIDE_CASE(u"3.14", u"%.2f", 3.14159),
      WIDE_CASE(u"  2.5", u"%5.1f", 2.5),
      WIDE_CASE(u"-0001.50", u"%08.2f", -1.5),
      WIDE_CASE(u"+1.5  |", u"%-+6.1f|", 1.5),
      WIDE_CASE(u"1.000000e+03", u"%e", 1000.0),
      WIDE_CASE(u"   inf", u"%06f", HUGE_VAL),
  });
}

TEST(FormatNarrowTest, MicrosoftConventions) {
  const char* nullNarrow = nullptr;
  const WCHAR* nullWide = nullptr;
  ExpectAll<std::string>({
      // Narrow format: %s and %hs are char strings, %ls, %ws and %S WCHAR ones.
      NARROW_CASE("abc", "%s", "abc"),
      NARROW_CASE("abc", "%hs", "abc"),
      NARROW_CASE("abc", "%ls", u"abc"),
      NARROW_CASE("abc", "%ws", u"abc"),
      NARROW_CASE("abc", "%S", u"abc"),
      NARROW_CASE("x=\xC3\xA9 y=\xF0\x9F\x98\x80", "x=%ls y=%S", u"\u00e9", u"\U0001F600"),
      NARROW_CASE("a?b", "%ls",
                  u"a\xD800"
                  u"b"),
      NARROW_CASE("(null)|(null)", "%s|%ls", nullNarrow, nullWide),
      NARROW_CASE("[]", "[%.1ls]", u"\u00e9"),
      NARROW_CASE("[\xC3\xA9]", "[%.2ls]", u"\u00e9"),
      NARROW_CASE("  \xC3\xA9", "%4ls", u"\u00e9"),
      NARROW_CASE("x", "%c", 'x'),
      NARROW_CASE("\xE2\x82\xAC", "%lc", u'\u20ac'),
      NARROW_CASE("\xE2\x82\xAC", "%C", u'\u20ac'),
      NARROW_CASE("?", "%C", u'\xDC00'),
      NARROW_CASE("-0042|0x1f", "%05d|%#x", -42, 31),
      NARROW_CASE("007", "%03hu", static_cast<WORD>(7)),
  });
}

// A result of -1 must leave the buffer in the documented state, and nothing may be written past
// the size given.
struct TruncationCase {
  size_t size;
  size_t count;
  int result;
  const char* text;
};

const TruncationCase kTruncationCases[] = {
    {6, _TRUNCATE, 5, "hello"},  // exactly fits with its NUL
    {5, _TRUNCATE, -1, "hell"},  // one short: cut and terminated
    {1, _TRUNCATE, -1, ""},
    {10, 5, 5, "hello"},  // count exactly the length
    {10, 4, -1, "hell"},  // count one short: cut to count
    {10, 0, -1, ""},      // count zero
    {6, 6, 5, "hello"},   // count beyond the buffer, output fits
    {5, 5, -1, ""},       // count beyond the buffer, output does not fit: emptied
    {5, 100, -1, ""},
};

TEST(BoundedFormatTest, WideTruncationBoundaries) {
  for (const TruncationCase& c : kTruncationCases) {
    WCHAR buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    const int result = _snwprintf_s(buffer, c.size, c.count, u"%s", u"hello");
    EXPECT_EQ(result, c.result) << "size " << c.size << " count " << c.count;
    EXPECT_EQ(std::u16string(buffer), Widen(c.text)) << "size " << c.size << " count " << c.count;
    for (size_t i = c.size; i < std::size(buffer) - 1; ++i) {
      EXPECT_EQ(buffer[i], u'#') << "wrote past size " << c.size << " at " << i;
    }
  }
}

TEST(BoundedFormatTest, NarrowTruncationBoundaries) {
  for (const TruncationCase& c : kTruncationCases) {
    char buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    buffer[15] = '\0';
    const int result = _snprintf_s(buffer, c.size, c.count, "%s", "hello");
    EXPECT_EQ(result, c.result) << "size " << c.size << " count " << c.count;
    EXPECT_STREQ(buffer, c.text) << "size " << c.size << " count " << c.count;
    for (size_t i = c.size; i < std::size(buffer) - 1; ++i) {
      EXPECT_EQ(buffer[i], '#') << "wrote past size " << c.size << " at " << i;
    }
  }
}

TEST(BoundedFormatTest, TruncatedTextComesFromEveryKindOfField) {
  WCHAR buffer[8];
  EXPECT_EQ(_snwprintf_s(buffer, 8, _TRUNCATE, u"%d-%hs", 1234, "abcdef"), -1);
  EXPECT_EQ(std::u16string(buffer), u"1234-ab");
  EXPECT_EQ(_snwprintf_s(buffer, 8, _TRUNCATE, u"%-10d|", 7), -1);
  EXPECT_EQ(std::u16string(buffer), u"7      ");
  EXPECT_EQ(_snwprintf_s(buffer, 8, _TRUNCATE, u"%.20d", 7), -1);
  EXPECT_EQ(std::u16string(buffer), u"0000000");
}

TEST(BoundedFormatTest, RejectedArgumentsWriteNothing) {
  WCHAR wide[4] = {u'#', u'#', u'#', 0};
  EXPECT_EQ(_snwprintf_s(nullptr, 4, _TRUNCATE, u"x"), -1);
  EXPECT_EQ(_snwprintf_s(wide, 0, _TRUNCATE, u"x"), -1);
  EXPECT_EQ(_snwprintf_s(wide, 4, _TRUNCATE, nullptr), -1);
  EXPECT_EQ(std::u16string(wide), u"###");

  char narrow[4] = {'#', '#', '#', 0};
  EXPECT_EQ(_snprintf_s(nullptr, 4, _TRUNCATE, "x"), -1);
  EXPECT_EQ(_snprintf_s(narrow, 0, _TRUNCATE, "x"), -1);
  EXPECT_EQ(_snprintf_s(narrow, 4, _TRUNCATE, nullptr), -1);
  EXPECT_STREQ(narrow, "###");
}

TEST(BoundedFormatTest, MalformedFormatsFailCleanly) {
  const WCHAR* const formats[] = {u"abc%",          u"%q",           u"%n", u"%Lf",
                                  u"%99999999999d", u"%.3000000000d"};
  for (const WCHAR* format : formats) {
    WCHAR buffer[32] = {u'#', 0};
    int ignored = 0;
    EXPECT_EQ(_snwprintf_s(buffer, 32, _TRUNCATE, format, 1, &ignored), -1) << Narrow(format);
    EXPECT_EQ(buffer[0], 0) << Narrow(format);
    EXPECT_EQ(FormatWide(format, 1, &ignored), u"") << Narrow(format);
  }
}

TEST(BoundedFormatTest, HugeWidthsStayBoundedAndFast) {
  const auto start = std::chrono::steady_clock::now();
  WCHAR buffer[16];
  EXPECT_EQ(_snwprintf_s(buffer, 16, _TRUNCATE, u"%2147483647d", 1), -1);
  EXPECT_EQ(std::u16string(buffer), std::u16string(15, u' '));
  EXPECT_EQ(_snwprintf_s(buffer, 16, _TRUNCATE, u"%-*s|", INT_MAX, u"a"), -1);
  EXPECT_EQ(std::u16string(buffer), u"a" + std::u16string(14, u' '));
  EXPECT_EQ(_snwprintf_s(buffer, 16, _TRUNCATE, u"%.2147483647f", 1.0), -1);
  EXPECT_EQ(std::u16string(buffer), u"1.0000000000000");

  // Precision past what a double can show is zeros, placed before any exponent.
  EXPECT_EQ(FormatWide(u"%.2000e", 1.0), u"1." + std::u16string(2000, u'0') + u"e+00");
  EXPECT_EQ(FormatWide(u"%#.1500g", 0.5), u"0.5" + std::u16string(1499, u'0'));
  EXPECT_EQ(FormatWide(u"%.1500g", 0.5), u"0.5");
  EXPECT_EQ(FormatWide(u"%.1200f", -2.0), u"-2." + std::u16string(1200, u'0'));

  const std::u16string wide = FormatWide(u"%2147483647d", 1);
  EXPECT_LT(wide.size(), static_cast<size_t>(INT_MAX));
  EXPECT_EQ(wide.find_first_not_of(u' '), std::u16string::npos);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(FormatWideTest, GrowsPastAnyFixedBuffer) {
  const std::u16string big(100000, u'w');
  const std::u16string result =
      FormatWide(u"<%s|%hs>", big.c_str(), std::string(5000, 'n').c_str());
  EXPECT_EQ(result, u"<" + big + u"|" + std::u16string(5000, u'n') + u">");
  EXPECT_EQ(FormatWide(nullptr), u"");
}

// ---------------------------------------------------------------------------------------------

struct ScanIntCase {
  const WCHAR* input;
  const WCHAR* format;
  int result;
  int a;
  int b;
};

TEST(SwscanfTest, IntegerFieldsAndResultCounts) {
  const ScanIntCase cases[] = {
      {u"12abc", u"%d", 1, 12, -99},
      {u"abc", u"%d", 0, -99, -99},
      {u"", u"%d", -1, -99, -99},
      {u"  ", u"%d", -1, -99, -99},
      {u"0 7", u"%d %d", 2, 0, 7},
      {u"5", u"%d %d", 1, 5, -99},
      {u"5 x", u"%d %d", 1, 5, -99},
      {u"  -17", u"%d", 1, -17, -99},
      {u"+4", u"%d", 1, 4, -99},
      {u"-", u"%d", 0, -99, -99},
      {u"- 3", u"%d", 0, -99, -99},
      {u"1\t\n 2", u"%d%d", 2, 1, 2},
      {u"99999999999", u"%d", 1, INT_MAX, -99},
      {u"-99999999999", u"%d", 1, INT_MIN, -99},
      {u"2147483647", u"%d", 1, INT_MAX, -99},
      {u"-2147483648", u"%d", 1, INT_MIN, -99},
      {u"1,2", u"%d,%d", 2, 1, 2},
      {u"1;2", u"%d,%d", 1, 1, -99},
      {u"1", u"%d,%d", 1, 1, -99},
      {u"x5", u"x%d", 1, 5, -99},
      {u"y5", u"x%d", 0, -99, -99},
      {u"", u"x%d", -1, -99, -99},
      {u"12345", u"%3d%d", 2, 123, 45},
      {u"5 6", u"%*d %d", 1, 6, -99},
      {u"5", u"%*d %d", 0, -99, -99},
      {u" %5", u"%%%d", 1, 5, -99},
      {u"0x1A", u"%i", 1, 26, -99},
      {u"010", u"%i", 1, 8, -99},
      {u"-10", u"%i", 1, -10, -99},
      {u"0x", u"%i", 1, 0, -99},
  };
  for (const ScanIntCase& c : cases) {
    int a = -99;
    int b = -99;
    EXPECT_EQ(swscanf_s(c.input, c.format, &a, &b), c.result)
        << Narrow(c.input) << " / " << Narrow(c.format);
    EXPECT_EQ(a, c.a) << Narrow(c.input) << " / " << Narrow(c.format);
    EXPECT_EQ(b, c.b) << Narrow(c.input) << " / " << Narrow(c.format);
  }
}

TEST(SwscanfTest, UnsignedAndSizedTargetsSaturate) {
  struct Case {
    const WCHAR* input;
    const WCHAR* format;
    unsigned want;
  };
  const Case cases[] = {
      {u"ff", u"%x", 0xFFu},
      {u"0x1A", u"%x", 0x1Au},
      {u"FFFFFFFF", u"%X", 0xFFFFFFFFu},
      {u"1FFFFFFFF", u"%x", 0xFFFFFFFFu},
      {u"4294967295", u"%u", 0xFFFFFFFFu},
      {u"4294967296", u"%u", 0xFFFFFFFFu},
      {u"99999999999999999999999", u"%u", 0xFFFFFFFFu},
      {u"-1", u"%u", 0xFFFFFFFFu},
  };
  for (const Case& c : cases) {
    unsigned value = 0;
    EXPECT_EQ(swscanf_s(c.input, c.format, &value), 1) << Narrow(c.input);
    EXPECT_EQ(value, c.want) << Narrow(c.input);
  }

  short s = 0;
  EXPECT_EQ(swscanf_s(u"40000", u"%hd", &s), 1);
  EXPECT_EQ(s, SHRT_MAX);
  EXPECT_EQ(swscanf_s(u"-40000", u"%hd", &s), 1);
  EXPECT_EQ(s, SHRT_MIN);
  EXPECT_EQ(swscanf_s(u"-123", u"%hd", &s), 1);
  EXPECT_EQ(s, -123);

  // Guards show that a short or a LONG target is written at its own size only.
  struct {
    short value;
    short guard;
  } shortSlot = {0, 0x5A5A};
  EXPECT_EQ(swscanf_s(u"-1", u"%hd", &shortSlot.value), 1);
  EXPECT_EQ(shortSlot.value, -1);
  EXPECT_EQ(shortSlot.guard, 0x5A5A);

  struct {
    LONG value;
    LONG guard;
  } longSlot = {0, 0x5A5A5A5A};
  EXPECT_EQ(swscanf_s(u"-3000000000", u"%ld", &longSlot.value), 1);
  EXPECT_EQ(longSlot.value, INT32_MIN);
  EXPECT_EQ(longSlot.guard, 0x5A5A5A5A);
}

TEST(SwscanfTest, Words) {
  WCHAR first[256];
  WCHAR second[256];
  EXPECT_EQ(swscanf_s(u"enable_tunnel x", u"%s %s", first, 256u, second, 256u), 2);
  EXPECT_EQ(std::u16string(first), u"enable_tunnel");
  EXPECT_EQ(std::u16string(second), u"x");

  second[0] = u'#';
  second[1] = 0;
  EXPECT_EQ(swscanf_s(u"  key\t", u"%s %s", first, 256u, second, 256u), 1);
  EXPECT_EQ(std::u16string(first), u"key");
  EXPECT_EQ(std::u16string(second), u"#");

  EXPECT_EQ(swscanf_s(u"", u"%s", first, 256u), -1);
  EXPECT_EQ(swscanf_s(u" \t ", u"%s", first, 256u), -1);

  EXPECT_EQ(swscanf_s(u"abcdef", u"%3s%s", first, 256u, second, 256u), 2);
  EXPECT_EQ(std::u16string(first), u"abc");
  EXPECT_EQ(std::u16string(second), u"def");

  EXPECT_EQ(swscanf_s(u"skip keep", u"%*s %s", first, 256u), 1);
  EXPECT_EQ(std::u16string(first), u"keep");

  int port = 0;
  EXPECT_EQ(swscanf_s(u"port 8080", u"%s %d", first, 256u, &port), 2);
  EXPECT_EQ(std::u16string(first), u"port");
  EXPECT_EQ(port, 8080);
}

TEST(SwscanfTest, WordBufferBoundaries) {
  struct Case {
    size_t length;
    int result;
  };
  // The buffer holds 255 characters and the NUL.
  const Case cases[] = {{255, 1}, {256, 0}, {300, 0}};
  for (const Case& c : cases) {
    const std::u16string word(c.length, u'w');
    std::vector<WCHAR> buffer(260, u'#');
    EXPECT_EQ(swscanf_s(word.c_str(), u"%s", buffer.data(), 256u), c.result) << c.length;
    EXPECT_EQ(std::u16string(buffer.data()), c.result == 1 ? word : u"") << c.length;
    EXPECT_EQ(buffer[256], u'#') << "wrote past the buffer for length " << c.length;
  }

  WCHAR one[1] = {u'#'};
  EXPECT_EQ(swscanf_s(u"a", u"%s", one, 1u), 0);
  EXPECT_EQ(one[0], 0);
  EXPECT_EQ(swscanf_s(u"a", u"%s", one, 0u), 0);
}

TEST(SwscanfTest, Characters) {
  WCHAR chars[4] = {u'#', u'#', u'#', u'#'};
  EXPECT_EQ(swscanf_s(u" x", u"%c", chars, 1u), 1);
  EXPECT_EQ(chars[0], u' ');
  EXPECT_EQ(swscanf_s(u"abc", u"%2c", chars, 4u), 1);
  EXPECT_EQ(chars[0], u'a');
  EXPECT_EQ(chars[1], u'b');
  EXPECT_EQ(chars[2], u'#');
  EXPECT_EQ(swscanf_s(u"abc", u"%3c", chars, 2u), 0);
  EXPECT_EQ(chars[2], u'#');
  EXPECT_EQ(swscanf_s(u"", u"%c", chars, 1u), -1);
  WCHAR c = 0;
  int n = 0;
  EXPECT_EQ(swscanf_s(u"7:q", u"%d:%c", &n, &c, 1u), 2);
  EXPECT_EQ(n, 7);
  EXPECT_EQ(c, u'q');
}

TEST(SwscanfTest, RejectedInputs) {
  int n = -99;
  EXPECT_EQ(swscanf_s(nullptr, u"%d", &n), -1);
  EXPECT_EQ(swscanf_s(u"5", nullptr, &n), -1);
  EXPECT_EQ(swscanf_s(u"5 1.5", u"%d %f", &n, &n), 1);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(swscanf_s(u"5", u"%", &n), 0);
}

// ---------------------------------------------------------------------------------------------

struct Utf {
  std::string utf8;
  std::u16string utf16;
};

const Utf kRoundTrips[] = {
    {"A", u"A"},
    {"\x7F", u"\x7F"},
    {"\xC2\x80", u"\u0080"},
    {"\xC3\xA9", u"\u00e9"},
    {"\xDF\xBF", u"\u07FF"},
    {"\xE0\xA0\x80", u"\u0800"},
    {"\xE2\x82\xAC", u"\u20ac"},
    {"\xEF\xBF\xBF", u"\uFFFF"},
    {"\xF0\x90\x80\x80", u"\U00010000"},
    {"\xF0\x9F\x98\x80", u"\U0001F600"},
    {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
    {"h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80!", u"h\u00e9llo \u20ac \U0001F600!"},
};

TEST(CodePageTest, RoundTripsOneToFourByteSequences) {
  for (const Utf& c : kRoundTrips) {
    const int wide = MultiByteToWideChar(CP_UTF8, 0, c.utf8.c_str(), -1, nullptr, 0);
    ASSERT_EQ(wide, static_cast<int>(c.utf16.size() + 1)) << c.utf8;
    std::vector<WCHAR> utf16(static_cast<size_t>(wide), u'#');
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, c.utf8.c_str(), -1, utf16.data(), wide), wide);
    EXPECT_EQ(std::u16string(utf16.data()), c.utf16) << c.utf8;

    const int narrow =
        WideCharToMultiByte(CP_UTF8, 0, c.utf16.c_str(), -1, nullptr, 0, nullptr, nullptr);
    ASSERT_EQ(narrow, static_cast<int>(c.utf8.size() + 1)) << c.utf8;
    std::vector<char> utf8(static_cast<size_t>(narrow), '#');
    BOOL usedDefault = TRUE;
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, c.utf16.c_str(), -1, utf8.data(), narrow, nullptr,
                                  &usedDefault),
              narrow);
    EXPECT_EQ(std::string(utf8.data()), c.utf8);
    EXPECT_FALSE(usedDefault) << c.utf8;

    EXPECT_EQ(Widen(c.utf8.c_str()), c.utf16) << c.utf8;
    EXPECT_EQ(Narrow(c.utf16.c_str()), c.utf8);
  }
}

TEST(CodePageTest, InvalidUtf8BecomesOneReplacementPerBadSequence) {
  const Utf cases[] = {
      {"\xC3", u"\uFFFD"},  // truncated at the end
      {"a\x80"
       "b",
       u"a\uFFFDb"},                                      // stray continuation byte
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong, never-valid lead
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte form
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
      {"\xF0\x9F\x98"
       "A",
       u"\uFFFDA"},  // truncated four-byte sequence
      {"\xE2\x82", u"\uFFFD"},
      {"\xFF\xFE", u"\uFFFD\uFFFD"},
      {"\xF0\x9F\x98\x80\xF0\x9F", u"\U0001F600\uFFFD"},
  };
  for (const Utf& c : cases) {
    const int length = static_cast<int>(c.utf8.size());
    const int needed = MultiByteToWideChar(CP_UTF8, 0, c.utf8.data(), length, nullptr, 0);
    EXPECT_EQ(needed, static_cast<int>(c.utf16.size()));
    std::vector<WCHAR> out(c.utf16.size() + 1, u'#');
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, c.utf8.data(), length, out.data(),
                                  static_cast<int>(out.size())),
              static_cast<int>(c.utf16.size()));
    EXPECT_EQ(std::u16string(out.data(), c.utf16.size()), c.utf16);
    EXPECT_EQ(Widen(c.utf8.c_str()), c.utf16);
  }
}

TEST(CodePageTest, LoneSurrogatesBecomeTheDefaultCharacter) {
  struct Case {
    std::u16string utf16;
    std::string utf8;
  };
  const Case cases[] = {
      {u"a\xD800"
       u"b",
       "a?b"},
      {u"\xDC00", "?"},
      {u"x\xD83D", "x?"},
      {u"\xDE00\xD83D", "??"},
  };
  for (const Case& c : cases) {
    char out[16] = {};
    BOOL usedDefault = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, c.utf16.data(), static_cast<int>(c.utf16.size()), out,
                                  sizeof(out), nullptr, &usedDefault),
              static_cast<int>(c.utf8.size()));
    EXPECT_EQ(std::string(out), c.utf8);
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(Narrow(c.utf16.c_str()), c.utf8);
  }
  char out[4] = {};
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\xD800", 1, out, 4, "#", nullptr), 1);
  EXPECT_EQ(out[0], '#');
}

TEST(CodePageTest, SizesAndExplicitLengths) {
  // "h\xC3\xA9llo" is five characters in six bytes.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "h\xC3\xA9llo", -1, nullptr, 0), 6);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "h\xC3\xA9llo", 6, nullptr, 0), 5);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "h\xC3\xA9llo", 3, nullptr, 0), 2);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"h\U0001F600", -1, nullptr, 0, nullptr, nullptr), 6);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"h\U0001F600", 3, nullptr, 0, nullptr, nullptr), 5);

  // An explicit length carries embedded NULs through.
  WCHAR wide[4] = {u'#', u'#', u'#', u'#'};
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\0b", 3, wide, 4), 3);
  EXPECT_EQ(std::u16string(wide, 4), std::u16string(u"a\0b#", 4));
}

TEST(CodePageTest, InsufficientBufferAtTheBoundary) {
  const char* utf8 = "a\xF0\x9F\x98\x80";  // 'a' and a surrogate pair, plus the NUL: 4 units
  WCHAR wide[8];
  std::fill(std::begin(wide), std::end(wide), u'#');
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 4), 4);
  EXPECT_EQ(std::u16string(wide), u"a\U0001F600");

  std::fill(std::begin(wide), std::end(wide), u'#');
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 3), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(wide[3], u'#');
  std::fill(std::begin(wide), std::end(wide), u'#');
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 2), 0);  // only half the pair fits
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(wide[2], u'#');

  char narrow[8];
  std::fill(std::begin(narrow), std::end(narrow), '#');
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00e9", -1, narrow, 3, nullptr, nullptr), 3);
  EXPECT_STREQ(narrow, "\xC3\xA9");
  std::fill(std::begin(narrow), std::end(narrow), '#');
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00e9", -1, narrow, 2, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(narrow[2], '#');
  std::fill(std::begin(narrow), std::end(narrow), '#');
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00e9", -1, narrow, 1, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(narrow[1], '#');
}

TEST(CodePageTest, RejectedParameters) {
  WCHAR wide[8];
  char narrow[8];
  struct Case {
    const char* what;
    int result;
  };
  const Case cases[] = {
      {"code page 1252", MultiByteToWideChar(1252, 0, "a", -1, wide, 8)},
      {"null source", MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, wide, 8)},
      {"zero length", MultiByteToWideChar(CP_UTF8, 0, "a", 0, wide, 8)},
      {"length -2", MultiByteToWideChar(CP_UTF8, 0, "a", -2, wide, 8)},
      {"negative size", MultiByteToWideChar(CP_UTF8, 0, "a", -1, wide, -1)},
      {"null output with size", MultiByteToWideChar(CP_UTF8, 0, "a", -1, nullptr, 8)},
      {"wide code page 437", WideCharToMultiByte(437, 0, u"a", -1, narrow, 8, nullptr, nullptr)},
      {"wide null source",
       WideCharToMultiByte(CP_UTF8, 0, nullptr, -1, narrow, 8, nullptr, nullptr)},
      {"wide zero length", WideCharToMultiByte(CP_UTF8, 0, u"a", 0, narrow, 8, nullptr, nullptr)},
      {"wide null output", WideCharToMultiByte(CP_UTF8, 0, u"a", -1, nullptr, 8, nullptr, nullptr)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.result, 0) << c.what;

  // Each failure must set the error itself, not inherit it.
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(65000, 0, "a", -1, wide, 8), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", -3, narrow, 8, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xC3\xA9", -1, wide, 8), 2);
  EXPECT_EQ(wide[0], u'\u00e9');
}

TEST(ConvenienceTest, NullAndEmptyInputs) {
  EXPECT_EQ(Widen(nullptr), u"");
  EXPECT_EQ(Narrow(nullptr), "");
  EXPECT_EQ(Widen(""), u"");
  EXPECT_EQ(WideLength(nullptr), 0u);
  EXPECT_EQ(WideLength(u""), 0u);
  EXPECT_EQ(WideLength(u"a\U0001F600"), 3u);
}

}  // namespace
