#include "runtime/ExceptionLog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/widestring.h"
#include "platform/winerror.h"
#include "tests/support/ChildProcess.h"

namespace {

// "YYYY-MM-DD hh:mm:ss.mmm": 23 characters.
constexpr size_t kStampLength = 23;

class ExceptionLog : public ::testing::Test {
 protected:
  ExceptionLog() : env_("ProgramData", appData_.path()) {}

  void MakeLogFolder() { ASSERT_EQ(std::system(("mkdir -p '" + Folder() + "'").c_str()), 0); }
  std::string Folder() const { return std::string(appData_.path()) + "/Orvana/Client/Log"; }
  std::string ReadLog() const {
    std::stringstream all;
    all << std::ifstream(Folder() + "/kwz_debug.txt", std::ios::binary).rdbuf();
    return all.str();
  }

  kwz_test::TempDir appData_;
  kwz_test::ScopedEnv env_;
};

// The entry is stamped with the local calendar time of writing, lines end in CR LF, and the
// text is written in the locale's multibyte form.
TEST_F(ExceptionLog, EntryByteForByteAfterItsStamp) {
  MakeLogFolder();
  const std::time_t before = std::time(nullptr);
  const std::u16string entry = ReportException(
      exc_screen_receiver(u".\\ScreenReceiver", 723, u"Unknown property : draw_logo", 0));
  EXPECT_EQ(Narrow(entry.c_str()),
            "Unknown property : draw_logo\nscreen_receiver\n.\\ScreenReceiver(723)\n0x00000000 \n");
  AppendExceptionEntry(u"d\u00e9j\u00e0 \u4e2d\n");

  const std::string log = ReadLog();
  std::tm local{};
  localtime_r(&before, &local);
  char date[16];
  std::strftime(date, sizeof date, "%Y-%m-%d ", &local);
  const std::string first =
      " [Exception]\r\nUnknown property : draw_logo\r\nscreen_receiver\r\n"
      ".\\ScreenReceiver(723)\r\n0x00000000 \r\n\r\n";
  ASSERT_GT(log.size(), 2 * kStampLength + first.size());
  EXPECT_EQ(log.substr(0, 11), date);
  EXPECT_EQ(log.substr(kStampLength, first.size()), first);
  EXPECT_EQ(log.substr(2 * kStampLength + first.size()),
            " [Exception]\r\nd\xc3\xa9j\xc3\xa0 \xe4\xb8\xad\r\n\r\n");
}

// Each class names itself as the source; the code line names a code it knows and says Unknown
// for the others; null texts print as (null) and long messages are cut.
TEST_F(ExceptionLog, EntryTexts) {
  const std::u16string longMessage(3000, u'm');
  const struct {
    base_exception error;
    std::string text;
  } cases[] = {
      {exc_screen_receiver(u"f", 7, u"m", 0x80070057u),
       "m\nscreen_receiver\nf(7)\n0x80070057 E_INVALIDARG\n"},
      {exc_CNetwork(nullptr, 1, nullptr, 0x0000ABCDu),
       "(null)\nCNetwork\n(null)(1)\n0x0000ABCD Unknown\n"},
      {exc_create_shared_memory(u"f", 1, u"m", 0), "m\ncreate_shared_memory\nf(1)\n0x00000000 \n"},
      {exc_set_shared_socket(u"f", 1, u"m", 0), "m\nset_shared_socket\nf(1)\n0x00000000 \n"},
      {exc_get_shared_socket(u"f", 1, u"m", 0), "m\nget_shared_socket\nf(1)\n0x00000000 \n"},
      {exc_CNetwork(u"f", 1, longMessage.c_str(), 0), std::string(1023, 'm')},
  };
  for (const auto& c : cases) EXPECT_EQ(Narrow(FormatExceptionEntry(c.error).c_str()), c.text);
  // Without the folder nothing is written, nor the folder made, and the text is still given.
  EXPECT_EQ(Narrow(ReportException(cases[0].error).c_str()), cases[0].text);
  AppendThreadFaultEntry(0xC0000005u);
  struct stat info;
  EXPECT_NE(stat((std::string(appData_.path()) + "/Orvana").c_str(), &info), 0);
}

// A hundred reports from four threads: each whole entry once, nothing else in the log.
TEST_F(ExceptionLog, ConcurrentReportsStayWhole) {
  MakeLogFolder();
  {
    std::vector<std::jthread> writers;
    for (int t = 0; t < 4; ++t) {
      writers.emplace_back([t] {
        for (int i = 0; i < 25; ++i) {
          const std::u16string message = u"writer " + Widen(std::to_string(t).c_str());
          ReportException(exc_CNetwork(u"f", i, message.c_str(), 0));
        }
      });
    }
  }  // joined here
  const std::string log = ReadLog();
  std::size_t total = 0;
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 25; ++i) {
      const std::string entry = " [Exception]\r\nwriter " + std::to_string(t) +
                                "\r\nCNetwork\r\nf(" + std::to_string(i) +
                                ")\r\n0x00000000 \r\n\r\n";
      EXPECT_EQ(log.find(entry), log.rfind(entry)) << entry;
      EXPECT_NE(log.find(entry), std::string::npos) << entry;
      total += kStampLength + entry.size();
    }
  }
  EXPECT_EQ(log.size(), total);
}

}  // namespace
