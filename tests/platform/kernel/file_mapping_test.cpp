#include <gtest/gtest.h>

#include <cstring>

#include "platform/kernel.h"
#include "platform/memoryapi.h"
#include "platform/winerror.h"
#include "tests/support/ChildProcess.h"

namespace {

constexpr const WCHAR* kName = u"KWZ_SOCKET_AUDIO";

HANDLE Create(const WCHAR* name, DWORD protect = PAGE_READWRITE, DWORD size = 12) {
  return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, protect, 0, size, name);
}

TEST(FileMapping, NewMappingIsZeroedAndTheNameFindsItAgain) {
  HANDLE first = Create(kName);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  auto* view = static_cast<unsigned char*>(MapViewOfFile(first, FILE_MAP_WRITE, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(view[i], 0) << i;
  std::memcpy(view, "\x11\x22\x33\x44", 4);

  HANDLE second = Create(kName, PAGE_READWRITE, 4096);  // the existing size stays
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  auto* other = static_cast<unsigned char*>(MapViewOfFile(second, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(other, nullptr);
  EXPECT_NE(other, view);
  EXPECT_EQ(std::memcmp(other, "\x11\x22\x33\x44", 4), 0);
  view[0] = 0x99;  // views share their bytes
  EXPECT_EQ(other[0], 0x99);

  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_TRUE(UnmapViewOfFile(other));
  EXPECT_FALSE(UnmapViewOfFile(other));
  CloseHandle(first);
  CloseHandle(second);
}

TEST(FileMapping, NameLivesUntilItsLastHandleAndViewAreGone) {
  const int before = kwz_test::OpenDescriptorCount();
  HANDLE mapping = Create(kName);
  auto* view = static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
  view[0] = 7;
  CloseHandle(mapping);  // the view keeps it
  HANDLE again = OpenFileMappingW(FILE_MAP_READ, FALSE, kName);
  ASSERT_NE(again, nullptr);
  CloseHandle(again);
  EXPECT_TRUE(UnmapViewOfFile(view));

  EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, kName), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(kwz_test::OpenDescriptorCount(), before);
  HANDLE fresh = Create(kName);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  auto* freshView = static_cast<unsigned char*>(MapViewOfFile(fresh, FILE_MAP_READ, 0, 0, 0));
  EXPECT_EQ(freshView[0], 0);
  UnmapViewOfFile(freshView);
  CloseHandle(fresh);
}

// A record is only ever seen by the process that made it: another process, alive or dead, never
// hands this one its handle.
TEST(FileMapping, NamesOfAnotherProcessAreNotVisible) {
  kwz_test::ChildProcess child([](const kwz_test::ChildProcess::Channel& channel) {
    HANDLE mapping = Create(kName);
    auto* view = static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    view[0] = 0x5A;
    channel.Send('w');
    channel.Receive();
    return 0;
  });
  ASSERT_EQ(child.Receive(), 'w');
  HANDLE mine = Create(kName);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  auto* view = static_cast<unsigned char*>(MapViewOfFile(mine, FILE_MAP_READ, 0, 0, 0));
  EXPECT_EQ(view[0], 0);
  child.Send('x');
  EXPECT_EQ(child.Wait(), 0);
  UnmapViewOfFile(view);
  CloseHandle(mine);
}

TEST(FileMapping, RefusedRequests) {
  EXPECT_EQ(Create(kName, PAGE_READWRITE, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  int fileHandleStandIn = 0;
  EXPECT_EQ(CreateFileMappingW(&fileHandleStandIn, nullptr, PAGE_READWRITE, 0, 12, kName), nullptr);

  HANDLE readOnly = Create(kName, PAGE_READONLY, 200000);
  ASSERT_NE(readOnly, nullptr);
  EXPECT_EQ(MapViewOfFile(readOnly, FILE_MAP_WRITE, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(MapViewOfFile(readOnly, FILE_MAP_READ, 0, 4096, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MAPPED_ALIGNMENT);
  EXPECT_EQ(MapViewOfFile(readOnly, FILE_MAP_READ, 0, 0, 200001), nullptr);
  void* tail = MapViewOfFile(readOnly, FILE_MAP_READ, 0, 65536, 0);
  EXPECT_NE(tail, nullptr);
  UnmapViewOfFile(tail);
  CloseHandle(readOnly);
  EXPECT_EQ(MapViewOfFile(readOnly, FILE_MAP_READ, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
