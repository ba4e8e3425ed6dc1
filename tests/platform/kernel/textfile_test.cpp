// The exception log's tests show lines appended in text mode as CR LF and UTF-8; here what
// they do not reach: a character outside the BMP, which a script's text may hold.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/textfile.h"
#include "tests/support/ChildProcess.h"

namespace {

TEST(TextFile, SurrogatePairIsWrittenAsOneCharacter) {
  kwz_test::TempDir dir;
  const std::string path = std::string(dir.path()) + "/w.txt";
  std::FILE* file = nullptr;
  ASSERT_EQ(fopen_s(&file, path.c_str(), "a"), 0);
  EXPECT_EQ(fwprintf_s(file, u"%ls\n", u"\U0001F600"), 3);  // UTF-16 units: the pair counts twice
  std::fclose(file);
  std::stringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  EXPECT_EQ(bytes.str(), "\xf0\x9f\x98\x80\r\n");
}

}  // namespace
