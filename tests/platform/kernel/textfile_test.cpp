// Text files where the exception log's tests (CR LF lines appended, UTF-8 text, a missing
// folder) do not reach: binary mode, a character outside the BMP, and refused arguments.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/textfile.h"
#include "tests/support/ChildProcess.h"

namespace {

TEST(TextFile, BinaryModeSurrogatePairsAndRefusals) {
  kwz_test::TempDir dir;
  const std::string path = std::string(dir.path()) + "/b.bin";
  std::FILE* file = nullptr;
  ASSERT_EQ(fopen_s(&file, path.c_str(), "wb"), 0);
  // A character outside the BMP: a surrogate pair, which counts twice.
  EXPECT_EQ(fwprintf_s(file, u"%ls\n", u"\U0001F600"), 3);
  std::fclose(file);
  std::stringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  EXPECT_EQ(bytes.str(), "\xf0\x9f\x98\x80\n");

  file = reinterpret_cast<std::FILE*>(1);
  EXPECT_EQ(fopen_s(&file, path.c_str(), "r"), EINVAL);  // text-mode reading
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(fopen_s(nullptr, path.c_str(), "a"), EINVAL);
  EXPECT_EQ(fopen_s(&file, nullptr, "a"), EINVAL);
  EXPECT_EQ(fwprintf_s(nullptr, u"x"), -1);
}

}  // namespace
