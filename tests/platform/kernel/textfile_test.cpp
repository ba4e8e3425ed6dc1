#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/textfile.h"
#include "tests/support/ChildProcess.h"

namespace {

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

class TextFile : public ::testing::Test {
 protected:
  std::string Path(const char* name) const { return std::string(dir_.path()) + "/" + name; }
  kwz_test::TempDir dir_;
};

// Text mode writes line feeds as CR LF and appends to what was there; binary mode writes bytes
// as they are.
TEST_F(TextFile, TextModeAppendsCrLfAndBinaryModeWritesBytes) {
  for (const char* mode : {"a", "a", "wb"}) {
    std::FILE* file = nullptr;
    ASSERT_EQ(fopen_s(&file, Path(mode[0] == 'a' ? "t.txt" : "b.bin").c_str(), mode), 0);
    std::fputs("one\n\n", file);
    fwprintf_s(file, u"%d\n", 3);
    std::fclose(file);
  }
  EXPECT_EQ(ReadBytes(Path("t.txt")), "one\r\n\r\n3\r\none\r\n\r\n3\r\n");
  EXPECT_EQ(ReadBytes(Path("b.bin")), "one\n\n3\n");
}

TEST_F(TextFile, WideTextIsWrittenAsUtf8) {
  std::FILE* file = nullptr;
  ASSERT_EQ(fopen_s(&file, Path("w.txt").c_str(), "a"), 0);
  // e acute, a CJK character and a character outside the BMP (a surrogate pair).
  int written = fwprintf_s(file, u"%s|%ls\n", u"\u00e9\u4e2d", u"\U0001F600");
  std::fclose(file);
  EXPECT_EQ(written, 6);  // UTF-16 units: the pair counts twice
  EXPECT_EQ(ReadBytes(Path("w.txt")), "\xc3\xa9\xe4\xb8\xad|\xf0\x9f\x98\x80\r\n");
}

TEST_F(TextFile, FailuresReturnErrnoAndNoStream) {
  std::FILE* file = reinterpret_cast<std::FILE*>(1);
  EXPECT_EQ(fopen_s(&file, Path("missing/dir/x.txt").c_str(), "a"), ENOENT);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(fopen_s(&file, Path("r.txt").c_str(), "r"), EINVAL);  // text-mode reading
  EXPECT_EQ(fopen_s(nullptr, Path("x").c_str(), "a"), EINVAL);
  EXPECT_EQ(fopen_s(&file, nullptr, "a"), EINVAL);
  EXPECT_EQ(fwprintf_s(nullptr, u"x"), -1);
}

}  // namespace
