// A fresh mapping's zeroed bytes, sharing through the name and the record going with its last
// user are shown by the shared socket records (tests/network); here the rules they do not reach.
// (The records are mapped whole and read-write: offsets and read-only views are not used.)
#include <gtest/gtest.h>

#include "platform/kernel.h"
#include "platform/memoryapi.h"
#include "platform/winerror.h"
#include "tests/support/ChildProcess.h"

namespace {

constexpr const WCHAR* kName = u"KWZ_SOCKET_AUDIO";

HANDLE Create(DWORD size = 12) {
  return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, kName);
}

TEST(FileMapping, SizeStaysAndAViewKeepsTheNameAlive) {
  const int before = kwz_test::OpenDescriptorCount();
  HANDLE first = Create();
  auto* view = static_cast<unsigned char*>(MapViewOfFile(first, FILE_MAP_WRITE, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  HANDLE second = Create(4096);  // the existing size stays
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(MapViewOfFile(second, FILE_MAP_READ, 0, 0, 13), nullptr);
  CloseHandle(first);
  CloseHandle(second);  // the view keeps it
  HANDLE again = OpenFileMappingW(FILE_MAP_READ, FALSE, kName);
  ASSERT_NE(again, nullptr);
  CloseHandle(again);
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_FALSE(UnmapViewOfFile(view));
  EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, kName), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(kwz_test::OpenDescriptorCount(), before);
  EXPECT_EQ(MapViewOfFile(first, FILE_MAP_READ, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// A record is only ever seen by the process that made it: another process, alive or dead, never
// hands this one its handle.
TEST(FileMapping, NamesOfAnotherProcessAreNotVisible) {
  kwz_test::ChildProcess child([](const kwz_test::ChildProcess::Channel& channel) {
    auto* view = static_cast<unsigned char*>(MapViewOfFile(Create(), FILE_MAP_WRITE, 0, 0, 0));
    view[0] = 0x5A;
    channel.Send('w');
    channel.Receive();
    return 0;
  });
  ASSERT_EQ(child.Receive(), 'w');
  HANDLE mine = Create();
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  auto* view = static_cast<unsigned char*>(MapViewOfFile(mine, FILE_MAP_READ, 0, 0, 0));
  EXPECT_EQ(view[0], 0);
  child.Send('x');
  EXPECT_EQ(child.Wait(), 0);
  UnmapViewOfFile(view);
  CloseHandle(mine);
}

}  // namespace
