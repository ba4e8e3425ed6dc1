// Named mutexes where the codec lock's tests (serialising processes, taking over from a killed
// holder, only the locking guard releasing) do not reach: names found and refused, ownership
// counted per thread, and the name belonging to the user alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "platform/kernel.h"
#include "platform/winerror.h"

namespace {

// A name of this test run's own, removed again at the end so runs do not accumulate objects.
class NamedMutex : public ::testing::Test {
 protected:
  ~NamedMutex() override { shm_unlink(shared_.c_str()); }
  const std::string name_ = "KWZ_TEST_MUTEX_" + std::to_string(getpid());
  // The shared-memory object behind the name: the user's own.
  const std::string shared_ = "/kwz-mutex-" + std::to_string(geteuid()) + "-" + name_;
};

TEST_F(NamedMutex, NamesOneMutexOwnedPerThreadAsOftenAsAcquired) {
  SetLastError(1234);
  EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, name_.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  HANDLE first = CreateMutexA(nullptr, TRUE, name_.c_str());  // initially owned
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  HANDLE second = CreateMutexA(nullptr, FALSE, name_.c_str());
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(first));
  std::jthread([&] {
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);
    EXPECT_FALSE(ReleaseMutex(second));  // not the owner's
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  }).join();
  EXPECT_TRUE(ReleaseMutex(second));
  EXPECT_FALSE(ReleaseMutex(first));
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  CloseHandle(first);
  CloseHandle(second);
}

// Another user can neither wait on the mutex nor write it, and an object that another user put
// under the name is refused rather than shared.
TEST_F(NamedMutex, BelongsToTheUserAlone) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name_.c_str());
  ASSERT_NE(mutex, nullptr);
  struct stat info {};
  ASSERT_EQ(stat(("/dev/shm" + shared_).c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, geteuid());
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  CloseHandle(mutex);
  shm_unlink(shared_.c_str());

  if (geteuid() != 0) GTEST_SKIP() << "making another user's object needs root";
  int fd = shm_open(shared_.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fchown(fd, 65534, 65534), 0);
  ASSERT_EQ(fchmod(fd, 0666), 0);
  close(fd);
  for (bool create : {true, false}) {
    SetLastError(0);
    EXPECT_EQ(create ? CreateMutexA(nullptr, FALSE, name_.c_str())
                     : OpenMutexA(SYNCHRONIZE, FALSE, name_.c_str()),
              nullptr)
        << create;
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << create;
  }
}

}  // namespace
