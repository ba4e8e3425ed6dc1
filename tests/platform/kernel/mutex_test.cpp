#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "platform/kernel.h"
#include "platform/winerror.h"

// Serialising processes and taking over from a killed holder are shown by the codec lock that
// uses the named mutex (tests/runtime).
namespace {

// A name of this test run's own, removed again at the end so runs do not accumulate objects.
class NamedMutex : public ::testing::Test {
 protected:
  NamedMutex() : name_("KWZ_TEST_MUTEX_" + std::to_string(getpid())) {}
  ~NamedMutex() override { shm_unlink(SharedName().c_str()); }
  const char* name() const { return name_.c_str(); }
  // The shared-memory object behind the name: the user's own.
  std::string SharedName() const { return "/kwz-mutex-" + std::to_string(geteuid()) + "-" + name_; }

 private:
  std::string name_;
};

TEST_F(NamedMutex, SecondCreateReportsAlreadyExistsAndOpenFindsIt) {
  SetLastError(1234);
  EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, name()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  HANDLE first = CreateMutexA(nullptr, FALSE, name());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  HANDLE second = CreateMutexA(nullptr, FALSE, name());
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  HANDLE opened = OpenMutexA(SYNCHRONIZE, FALSE, name());
  ASSERT_NE(opened, nullptr);
  // All three name one mutex: ownership through one handle excludes the others' threads.
  ASSERT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  std::thread other([&] {
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_TIMEOUT);
  });
  other.join();
  EXPECT_TRUE(ReleaseMutex(first));
  for (HANDLE h : {first, second, opened}) CloseHandle(h);
}

TEST_F(NamedMutex, OnlyTheOwnerReleasesAsOftenAsItAcquired) {
  HANDLE mutex = CreateMutexA(nullptr, TRUE, name());  // initially owned
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  std::jthread([&] {
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
    EXPECT_FALSE(ReleaseMutex(mutex));  // not the owner's
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  }).join();
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(ReleaseMutex(mutex));
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  CloseHandle(mutex);
}

// The name is the user's: another user can neither wait on the mutex nor write it, and an
// object that another user put under the name is refused rather than shared.
TEST_F(NamedMutex, BelongsToTheUserAlone) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name());
  ASSERT_NE(mutex, nullptr);
  struct stat info {};
  ASSERT_EQ(stat(("/dev/shm" + SharedName()).c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, geteuid());
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  CloseHandle(mutex);
  shm_unlink(SharedName().c_str());

  if (geteuid() != 0) GTEST_SKIP() << "making another user's object needs root";
  int fd = shm_open(SharedName().c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fchown(fd, 65534, 65534), 0);
  ASSERT_EQ(fchmod(fd, 0666), 0);
  close(fd);
  for (bool create : {true, false}) {
    SetLastError(0);
    HANDLE foreign =
        create ? CreateMutexA(nullptr, FALSE, name()) : OpenMutexA(SYNCHRONIZE, FALSE, name());
    EXPECT_EQ(foreign, nullptr) << create;
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << create;
  }
}

}  // namespace
