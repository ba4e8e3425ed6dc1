#include "runtime/ExceptionLog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/widestring.h"
#include "platform/winerror.h"
#include "tests/support/ChildProcess.h"

namespace {

// "YYYY-MM-DD hh:mm:ss.mmm": 23 characters.
constexpr size_t kStampLength = 23;

// Whether text starts with a stamp of that shape: digits where the pattern has '9'.
bool StartsWithStamp(const std::string& text) {
  const std::string shape = "9999-99-99 99:99:99.999";
  if (text.size() < shape.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (shape[i] == '9' ? !digit : text[i] != shape[i]) return false;
  }
  return true;
}

class ExceptionLog : public ::testing::Test {
 protected:
  ExceptionLog() : env_("ProgramData", appData_.path()) {}

  void MakeLogFolder() { ASSERT_EQ(std::system(("mkdir -p '" + Folder() + "'").c_str()), 0); }
  std::string Folder() const { return std::string(appData_.path()) + "/Orvana/Client/Log"; }
  std::string LogPath() const { return Folder() + "/kwz_debug.txt"; }
  std::string ReadLog() const {
    std::ifstream in(LogPath(), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

  kwz_test::TempDir appData_;
  kwz_test::ScopedEnv env_;
};

TEST_F(ExceptionLog, UnknownPropertyEntryByteForByte) {
  MakeLogFolder();
  std::time_t before = std::time(nullptr);
  std::u16string entry = ReportException(
      exc_screen_receiver(u".\\ScreenReceiver", 723, u"Unknown property : draw_logo", 0));

  const std::string text =
      "Unknown property : draw_logo\nscreen_receiver\n.\\ScreenReceiver(723)\n0x00000000 \n";
  EXPECT_EQ(Narrow(entry.c_str()), text);

  std::string log = ReadLog();
  EXPECT_TRUE(StartsWithStamp(log)) << log;
  EXPECT_EQ(log.substr(kStampLength),
            " [Exception]\r\nUnknown property : draw_logo\r\nscreen_receiver\r\n"
            ".\\ScreenReceiver(723)\r\n0x00000000 \r\n\r\n");

  // The stamp is local calendar time of the moment of writing.
  std::tm local{};
  localtime_r(&before, &local);
  char date[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", &local);
  EXPECT_EQ(log.substr(0, 10), date);
}

// The last line names a code it knows and says Unknown for the others.
TEST_F(ExceptionLog, CodeLineNamesTheCode) {
  for (const auto& [code, line] :
       {std::pair<DWORD, const char*>{0x80070057u, "0x80070057 E_INVALIDARG\n"},
        {0x0000ABCDu, "0x0000ABCD Unknown\n"}}) {
    const std::string text =
        Narrow(FormatExceptionEntry(exc_screen_receiver(u"f", 705, u"m", code)).c_str());
    EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1), line);
  }
}

TEST_F(ExceptionLog, MissingFolderWritesNothingButStillGivesTheText) {
  std::u16string entry =
      ReportException(exc_CNetwork(u".\\CNetwork", 85, u"Invalid local address.", 0));
  EXPECT_EQ(Narrow(entry.c_str()),
            "Invalid local address.\nCNetwork\n.\\CNetwork(85)\n0x00000000 \n");
  struct stat info;
  EXPECT_NE(stat((std::string(appData_.path()) + "/Orvana").c_str(), &info), 0);  // not created
  AppendThreadFaultEntry(0xC0000005u);
  EXPECT_NE(stat(LogPath().c_str(), &info), 0);
}

TEST_F(ExceptionLog, NullTextsPrintAsNullAndOverlongMessagesAreCut) {
  EXPECT_EQ(Narrow(FormatExceptionEntry(exc_CNetwork(nullptr, 1, nullptr, 0)).c_str()),
            "(null)\nCNetwork\n(null)(1)\n0x00000000 \n");
  const std::u16string message(3000, u'm');
  EXPECT_EQ(FormatExceptionEntry(exc_CNetwork(u"f", 1, message.c_str(), 0)),
            message.substr(0, 1023));
}

TEST_F(ExceptionLog, TextIsWrittenInTheLocaleMultibyteForm) {
  MakeLogFolder();
  AppendExceptionEntry(u"d\u00e9j\u00e0 \u4e2d\n");
  std::string log = ReadLog();
  EXPECT_NE(log.find("d\xc3\xa9j\xc3\xa0 \xe4\xb8\xad\r\n\r\n"), std::string::npos);
}

TEST_F(ExceptionLog, ConcurrentReportsStayWhole) {
  MakeLogFolder();
  {
    std::vector<std::jthread> writers;
    for (int t = 0; t < 4; ++t) {
      writers.emplace_back([t] {
        for (int i = 0; i < 25; ++i) {
          std::u16string message = u"writer " + Widen(std::to_string(t).c_str());
          ReportException(exc_CNetwork(u"f", i, message.c_str(), 0));
        }
      });
    }
  }  // joined here
  // A hundred whole entries, nothing interleaved, 25 from each writer.
  const std::string log = ReadLog();
  std::map<std::string, int> seen;  // each writer's entry for each line number: once
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 25; ++i) {
      seen[" [Exception]\r\nwriter " + std::to_string(t) + "\r\nCNetwork\r\nf(" +
           std::to_string(i) + ")\r\n0x00000000 "] = 0;
    }
  }
  size_t at = 0;
  while (at < log.size() && StartsWithStamp(log.substr(at))) {
    const size_t end = log.find("\r\n\r\n", at);
    if (end == std::string::npos) break;
    auto found = seen.find(log.substr(at + kStampLength, end - at - kStampLength));
    if (found == seen.end()) break;
    ++found->second;
    at = end + 4;
  }
  EXPECT_EQ(at, log.size()) << "not a whole entry at " << at;
  for (const auto& [body, count] : seen) EXPECT_EQ(count, 1) << body;
}

}  // namespace
