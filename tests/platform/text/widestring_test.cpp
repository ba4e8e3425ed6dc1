#include "platform/widestring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "platform/winerror.h"

namespace {

std::string FormatNarrow(const char* format, auto... args) {
  char buffer[64];
  const int n = _snprintf_s(buffer, sizeof(buffer), _TRUNCATE, format, args...);
  return n < 0 ? std::string("<failed>") : std::string(buffer, static_cast<size_t>(n));
}

TEST(FormatWideTest, Directives) {
  EXPECT_EQ(FormatWide(u"%d|%d|%d|%d", -42, 0, INT_MAX, INT_MIN), u"-42|0|2147483647|-2147483648");
  EXPECT_EQ(FormatWide(u"%5d|%05d|%3d", -42, -42, 12345), u"  -42|-0042|12345");
  EXPECT_EQ(FormatWide(u"%u|%lu|%ld", DWORD{0xFFFFFFFF}, DWORD{0xFFFFFFFF}, LONG{-5}),
            u"4294967295|4294967295|-5");
  // 'h' cuts the promoted argument back to a short.
  EXPECT_EQ(FormatWide(u"%03hu|%hd|%hu", 0x10007, 0x18000, -1), u"007|-32768|65535");
  EXPECT_EQ(FormatWide(u"%08X|%x|%07x", HRESULT{E_INVALIDARG}, 0xABCu, 0xABCu),
            u"80070057|abc|0000abc");
  const WCHAR* none = nullptr;
  EXPECT_EQ(FormatWide(u"%s|%ls|%5s|%s", u"\u00e9\U0001F600", u"b", u"abc", none),
            u"\u00e9\U0001F600|b|  abc|(null)");
}

TEST(FormatNarrowTest, Directives) {
  const char* none = nullptr;
  EXPECT_EQ(FormatNarrow("%s|%4hs|0x%02X", none, "ab", 255u), "(null)|  ab|0xFF");
}

// _snwprintf_s into a buffer of `size` units, as "result:text", or "overrun" when a unit past
// the size was written.
std::u16string Bounded(size_t size, size_t count, const WCHAR* format, auto... args) {
  WCHAR buffer[40] = {};
  std::fill_n(buffer, std::size(buffer) - 1, u'#');
  const int result = _snwprintf_s(buffer, size, count, format, args...);
  if (std::any_of(buffer + size, std::end(buffer) - 1, [](WCHAR c) { return c != u'#'; })) {
    return u"overrun";
  }
  return Widen(std::to_string(result).c_str()) + u":" + std::u16string(buffer, WideLength(buffer));
}

// Anything beyond the directives the system uses fails cleanly: -1, an emptied buffer and an
// empty FormatWide, without the argument being touched.
TEST(BoundedFormatTest, RefusedDirectivesFailCleanly) {
  const WCHAR* const wide[] = {u"abc%", u"%n",  u"%%",  u"%c", u"%lld",         u"%-5d",
                               u"%.2d", u"%*d", u"%hs", u"%S", u"%99999999999d"};
  for (const WCHAR* format : wide) {
    int untouched = 7;
    EXPECT_EQ(Bounded(32, _TRUNCATE, format, &untouched), u"-1:") << Narrow(format);
    EXPECT_EQ(FormatWide(format, &untouched), u"") << Narrow(format);
    EXPECT_EQ(untouched, 7) << Narrow(format);
  }
  for (const char* format : {"%ls", "%S", "%-5d"}) {
    EXPECT_EQ(FormatNarrow(format, u"abc"), "<failed>") << format;
  }
}

// A result of -1 leaves the buffer cut or emptied as documented, never written past its size.
TEST(BoundedFormatTest, TruncationBoundaries) {
  EXPECT_EQ(Bounded(6, _TRUNCATE, u"%s", u"hello"), u"5:hello");  // fits with its NUL
  EXPECT_EQ(Bounded(5, _TRUNCATE, u"%s", u"hello"), u"-1:hell");  // one short: cut
  EXPECT_EQ(Bounded(10, 5, u"%s", u"hello"), u"5:hello");         // count exactly the length
  EXPECT_EQ(Bounded(10, 4, u"%s", u"hello"), u"-1:hell");         // count one short: cut to count
  EXPECT_EQ(Bounded(6, 6, u"%s", u"hello"), u"5:hello");          // count beyond the buffer, fits
  EXPECT_EQ(Bounded(5, 5, u"%s", u"hello"), u"-1:");  // count beyond, does not fit: emptied
  // A cut falls inside any kind of field.
  EXPECT_EQ(Bounded(8, _TRUNCATE, u"%d-%s", 1234, u"abcdef"), u"-1:1234-ab");
  EXPECT_EQ(Bounded(8, _TRUNCATE, u"%010d", -7), u"-1:-000000");
  EXPECT_EQ(Bounded(8, _TRUNCATE, u"%2147483647d", 1), u"-1:       ");

  char narrow[8] = "#######";
  EXPECT_EQ(_snprintf_s(narrow, 5, _TRUNCATE, "%s", "hello"), -1);
  EXPECT_EQ(std::string(narrow, 7), std::string("hell\0##", 7));
}

TEST(BoundedFormatTest, RejectedArgumentsWriteNothing) {
  WCHAR wide[4] = {u'#', u'#', u'#', 0};
  EXPECT_EQ(_snwprintf_s(nullptr, 4, _TRUNCATE, u"x"), -1);
  EXPECT_EQ(_snwprintf_s(wide, 0, _TRUNCATE, u"x"), -1);
  EXPECT_EQ(_snwprintf_s(wide, 4, _TRUNCATE, nullptr), -1);
  EXPECT_EQ(std::u16string(wide), u"###");
  EXPECT_EQ(_snprintf_s(nullptr, 4, _TRUNCATE, "x"), -1);
  EXPECT_EQ(FormatWide(nullptr), u"");
}

// FormatWide grows past any fixed buffer, but stays bounded.
TEST(FormatWideTest, GrowsPastAnyFixedBufferButStaysBounded) {
  const std::u16string big(100000, u'w');
  EXPECT_EQ(FormatWide(u"<%s>", big.c_str()), u"<" + big + u">");
  const std::u16string wide = FormatWide(u"%2147483647d", 1);
  EXPECT_LT(wide.size(), static_cast<size_t>(INT_MAX));
  EXPECT_EQ(wide.find_first_not_of(u' '), std::u16string::npos);
}

// ---------------------------------------------------------------------------------------------

// The result of a scan into two targets and what they hold after it, as "result a b".
template <class T>
std::string ScanTwo(const WCHAR* input, const WCHAR* format) {
  T a = 99;
  T b = 99;
  const int result = swscanf_s(input, format, &a, &b);
  return std::to_string(result) + " " + std::to_string(a) + " " + std::to_string(b);
}

TEST(SwscanfTest, Integers) {
  EXPECT_EQ(ScanTwo<int>(u"- 3", u"%d"), "0 99 99");
  EXPECT_EQ(ScanTwo<int>(u"  -17 +4", u"%d%d"), "2 -17 4");
  EXPECT_EQ(ScanTwo<int>(u"2147483647 -2147483648", u"%d %d"), "2 2147483647 -2147483648");
  EXPECT_EQ(ScanTwo<int>(u"2147483648 -2147483649", u"%d %d"), "2 2147483647 -2147483648");
  EXPECT_EQ(ScanTwo<int>(u"1;2", u"%d,%d"), "1 1 99");
  EXPECT_EQ(ScanTwo<int>(u"", u"x%d"), "-1 99 99");
  // Directives the system does not use end the scan without taking an argument.
  EXPECT_EQ(ScanTwo<int>(u"5 6", u"%*d %d"), "0 99 99");
  EXPECT_EQ(ScanTwo<int>(u"12", u"%1d"), "0 99 99");
  EXPECT_EQ(ScanTwo<int>(u"5 6", u"%d %"), "1 5 99");
}

TEST(SwscanfTest, HexVersions) {
  EXPECT_EQ(ScanTwo<unsigned>(u"a.Ff", u"%x.%x"), "2 10 255");
  EXPECT_EQ(ScanTwo<unsigned>(u"1FFFFFFFF.1", u"%x.%x"), "2 4294967295 1");
  EXPECT_EQ(ScanTwo<unsigned>(u"1-0", u"%x.%x"), "1 1 99");
  EXPECT_EQ(ScanTwo<unsigned>(u"-1.0", u"%x.%x"), "0 99 99");
}

// A word that does not fit stores an empty string; nothing is written past the size given.
TEST(SwscanfTest, WordBufferBoundaries) {
  struct Case {
    size_t length;
    unsigned size;
    int result;
  };
  const Case cases[] = {{255, 256, 1}, {256, 256, 0}, {300, 256, 0}, {1, 1, 0}, {1, 0, 0}};
  for (const Case& c : cases) {
    const std::u16string word(c.length, u'w');
    std::vector<WCHAR> buffer(c.size + 4, u'#');
    EXPECT_EQ(swscanf_s(word.c_str(), u"%s", buffer.data(), c.size), c.result) << c.length;
    if (c.size != 0) {
      EXPECT_EQ(std::u16string(buffer.data()), c.result == 1 ? word : u"") << c.length;
    }
    EXPECT_EQ(buffer[c.size], u'#') << "wrote past the buffer: " << c.length;
  }
  EXPECT_EQ(swscanf_s(u"a", u"%s", nullptr, 4u), 0);
  int n = -99;
  EXPECT_EQ(swscanf_s(nullptr, u"%d", &n), -1);
  EXPECT_EQ(swscanf_s(u"5", nullptr, &n), -1);
  EXPECT_EQ(n, -99);
}

// ---------------------------------------------------------------------------------------------

struct Utf {
  std::string utf8;
  std::u16string utf16;
};

// Each direction measured, then converted through the system code page, and the convenience
// forms; the NUL of a -1 length is converted too.
TEST(CodePageTest, RoundTripsOneToFourByteSequences) {
  const Utf cases[] = {
      {"\xC2\x80", u"\u0080"},
      {"\xDF\xBF", u"\u07FF"},
      {"\xE0\xA0\x80", u"\u0800"},
      {"\xEF\xBF\xBF", u"\uFFFF"},
      {"\xF0\x90\x80\x80", u"\U00010000"},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      {"h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80!", u"h\u00e9llo \u20ac \U0001F600!"},
  };
  for (const Utf& c : cases) {
    const int wide = static_cast<int>(c.utf16.size() + 1);
    std::vector<WCHAR> utf16(c.utf16.size() + 1, u'#');
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, c.utf8.c_str(), -1, nullptr, 0), wide) << c.utf8;
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, c.utf8.c_str(), -1, utf16.data(), wide), wide);
    EXPECT_EQ(std::u16string(utf16.begin(), utf16.end()), c.utf16 + u'\0') << c.utf8;

    const int narrow = static_cast<int>(c.utf8.size() + 1);
    std::vector<char> utf8(c.utf8.size() + 1, '#');
    BOOL usedDefault = TRUE;
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, c.utf16.c_str(), -1, nullptr, 0, nullptr, nullptr),
              narrow);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, c.utf16.c_str(), -1, utf8.data(), narrow, nullptr,
                                  &usedDefault),
              narrow);
    EXPECT_EQ(std::string(utf8.begin(), utf8.end()), c.utf8 + '\0');
    EXPECT_FALSE(usedDefault) << c.utf8;

    EXPECT_EQ(Widen(c.utf8.c_str()), c.utf16) << c.utf8;
    EXPECT_EQ(Narrow(c.utf16.c_str()), c.utf8);
  }
}

TEST(CodePageTest, InvalidUtf8BecomesOneReplacementPerBadSequence) {
  const Utf cases[] = {{"\xC3", u"\uFFFD"},                      // truncated at the end
                       {"a\x80\x62", u"a\uFFFDb"},               // stray continuation byte
                       {"\xC0\xAF", u"\uFFFD\uFFFD"},            // overlong, never-valid lead
                       {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // an encoded surrogate
                       {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
                       {"\xF0\x9F\x98\x41", u"\uFFFDA"},  // truncated four-byte sequence
                       {"\xF0\x9F\x98\x80\xF0\x9F", u"\U0001F600\uFFFD"}};
  for (const Utf& c : cases) {
    const int length = static_cast<int>(c.utf8.size());
    const int size = static_cast<int>(c.utf16.size());
    std::vector<WCHAR> out(c.utf16.size() + 1, u'#');
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, c.utf8.data(), length, nullptr, 0), size);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, c.utf8.data(), length, out.data(), size + 1), size);
    EXPECT_EQ(std::u16string(out.data(), c.utf16.size()), c.utf16);
    EXPECT_EQ(Widen(c.utf8.c_str()), c.utf16);
  }
}

TEST(CodePageTest, LoneSurrogatesBecomeTheDefaultCharacter) {
  const Utf cases[] = {{"a?b", u"a\xD800\x62"}, {"x?", u"x\xD83D"}, {"??", u"\xDE00\xD83D"}};
  for (const Utf& c : cases) {
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

// The error a conversion set when it failed, starting from none; all ones when it succeeded.
DWORD FailureOf(auto call) {
  SetLastError(0);
  return call() == 0 ? GetLastError() : ~DWORD{0};
}

// Less room than the text needs (RoundTrips gives exactly enough) fails without writing past
// the size given, also when only half a surrogate pair would not fit.
TEST(CodePageTest, InsufficientBufferAtTheBoundary) {
  const DWORD tooSmall = ERROR_INSUFFICIENT_BUFFER;
  for (const int size : {3, 2}) {
    std::vector<WCHAR> w(8, u'#');
    EXPECT_EQ(FailureOf([&] {
                return MultiByteToWideChar(CP_UTF8, 0, "a\xF0\x9F\x98\x80", -1, w.data(), size);
              }),
              tooSmall);
    EXPECT_EQ(w[static_cast<size_t>(size)], u'#') << size;
  }
  for (const int size : {2, 1}) {
    std::vector<char> n(8, '#');
    EXPECT_EQ(FailureOf([&] {
                return WideCharToMultiByte(CP_UTF8, 0, u"\u00e9", -1, n.data(), size, nullptr,
                                           nullptr);
              }),
              tooSmall);
    EXPECT_EQ(n[static_cast<size_t>(size)], '#') << size;
  }
}

TEST(CodePageTest, RejectedParametersSetTheError) {
  WCHAR w[8];
  char n[8];
  const std::function<int()> calls[] = {
      [&] { return MultiByteToWideChar(1252, 0, "a", -1, w, 8); },
      [&] { return MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, w, 8); },
      [&] { return MultiByteToWideChar(CP_UTF8, 0, "a", 0, w, 8); },
      [&] { return MultiByteToWideChar(CP_UTF8, 0, "a", -1, w, -1); },
      [&] { return MultiByteToWideChar(CP_UTF8, 0, "a", -1, nullptr, 8); },
      [&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", -3, n, 8, nullptr, nullptr); },
      [&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", -1, nullptr, 8, nullptr, nullptr); }};
  for (const auto& call : calls) EXPECT_EQ(FailureOf(call), DWORD{ERROR_INVALID_PARAMETER});
  // The convenience forms take null for empty text.
  EXPECT_EQ(Widen(nullptr), u"");
  EXPECT_EQ(Narrow(nullptr), "");
  EXPECT_EQ(WideLength(nullptr), 0u);
}

}  // namespace
