// Named mutexes shared by every process of the user who runs them: a robust, process-shared,
// recursive pthread mutex in a POSIX shared-memory object. Robustness gives Windows' abandonment:
// when the owner dies holding it, the next waiter acquires it with WAIT_ABANDONED instead of
// waiting for ever.
//
// A name belongs to the user, as a Windows session's names do: the object's name carries the
// user id, only its owner may read or write it, and an object that another user made under
// that name is refused. Shared by every user, a local user could hold a lock for ever or
// overwrite it under every other user's processes.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/kernel.h"
#include "platform/winerror.h"

#include "kernel/handle_table.h"

namespace kwz_platform {
namespace {

constexpr std::uint32_t kMagic = 0x4B575A4D;  // "KWZM": the block below is initialised

struct SharedMutexBlock {
  std::atomic<std::uint32_t> magic;
  pthread_mutex_t mutex;
};

void InitBlock(SharedMutexBlock* block) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&block->mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
  block->magic.store(kMagic, std::memory_order_release);
}

// How often the calling thread holds each mutex, so that a release by a thread that does not own
// it fails as on Windows without asking pthread to unlock a mutex it does not own.
thread_local std::unordered_map<const SharedMutexBlock*, unsigned> t_held;

class MutexObject : public KernelObject {
 public:
  MutexObject(SharedMutexBlock* block, bool owned) : block_(block), owned_(owned) {}
  ~MutexObject() override {
    if (owned_) {
      pthread_mutex_destroy(&block_->mutex);
      delete block_;
    }
  }

  DWORD Wait(DWORD milliseconds) override {
    int result;
    if (milliseconds == INFINITE) {
      result = pthread_mutex_lock(&block_->mutex);
    } else if (milliseconds == 0) {
      result = pthread_mutex_trylock(&block_->mutex);
      if (result == EBUSY) result = ETIMEDOUT;
    } else {
      timespec deadline;
      clock_gettime(CLOCK_REALTIME, &deadline);
      deadline.tv_sec += milliseconds / 1000;
      deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
      if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
      }
      result = pthread_mutex_timedlock(&block_->mutex, &deadline);
    }
    switch (result) {
      case 0:
        ++t_held[block_];
        return WAIT_OBJECT_0;
      case EOWNERDEAD:
        pthread_mutex_consistent(&block_->mutex);
        ++t_held[block_];
        return WAIT_ABANDONED;
      case ETIMEDOUT:
        return WAIT_TIMEOUT;
      default:
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
  }

  bool Release() {
    auto held = t_held.find(block_);
    if (held == t_held.end()) return false;
    if (--held->second == 0) t_held.erase(held);
    return pthread_mutex_unlock(&block_->mutex) == 0;
  }

 private:
  SharedMutexBlock* block_;  // named: mapped for the life of the process, never unmapped
  bool owned_;               // unnamed: private to this object
};

// Windows names may hold '\' (e.g. "Global\X"); shared-memory names may not hold '/'.
std::string SharedMemoryName(const char* name) {
  std::string result = "/kwz-mutex-" + std::to_string(geteuid()) + "-";
  for (const char* p = name; *p != '\0'; ++p) result += (*p == '/' || *p == '\\') ? '_' : *p;
  return result;
}

struct MappedBlocks {
  std::mutex lock;
  std::map<std::string, SharedMutexBlock*> byName;
};

MappedBlocks& Blocks() {
  static MappedBlocks* blocks = new MappedBlocks;
  return *blocks;
}

// Maps the named block, creating it when asked. *existed tells whether another handle of any
// process had made it before. A per-file lock serialises initialisation; the kernel drops it if
// the initialising process dies, so no half-made block can block others.
SharedMutexBlock* MapBlock(const char* name, bool create, bool* existed) {
  std::string shmName = SharedMemoryName(name);
  MappedBlocks& blocks = Blocks();
  std::lock_guard<std::mutex> guard(blocks.lock);

  int fd = shm_open(shmName.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
  if (fd < 0) {
    SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || info.st_uid != geteuid()) {
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if ((info.st_mode & 077) != 0) fchmod(fd, 0600);  // ours, but left open to others
  flock(fd, LOCK_EX);
  SharedMutexBlock* block = nullptr;
  bool ready =
      fstat(fd, &info) == 0 && info.st_size >= static_cast<off_t>(sizeof(SharedMutexBlock));
  if (!ready && !create) {
    SetLastError(ERROR_FILE_NOT_FOUND);
  } else if (ready || ftruncate(fd, sizeof(SharedMutexBlock)) == 0) {
    auto found = blocks.byName.find(shmName);
    if (found != blocks.byName.end()) {
      block = found->second;
    } else {
      void* view =
          mmap(nullptr, sizeof(SharedMutexBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      if (view != MAP_FAILED) {
        block = static_cast<SharedMutexBlock*>(view);
        blocks.byName.emplace(shmName, block);
      } else {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      }
    }
    if (block != nullptr) {
      *existed = block->magic.load(std::memory_order_acquire) == kMagic;
      if (!*existed) {
        if (!create) {
          SetLastError(ERROR_FILE_NOT_FOUND);
          block = nullptr;
        } else {
          InitBlock(block);
        }
      }
    }
  } else {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  }
  flock(fd, LOCK_UN);
  close(fd);
  return block;
}

}  // namespace
}  // namespace kwz_platform

using kwz_platform::MutexObject;

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
  kwz_platform::SharedMutexBlock* block;
  bool existed = false;
  if (name == nullptr) {
    block = new kwz_platform::SharedMutexBlock{};
    kwz_platform::InitBlock(block);
  } else {
    block = kwz_platform::MapBlock(name, true, &existed);
    if (block == nullptr) return nullptr;
  }
  auto object = std::make_shared<MutexObject>(block, name == nullptr);
  if (initialOwner) object->Wait(INFINITE);
  HANDLE handle = kwz_platform::InsertHandle(std::move(object));
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

HANDLE OpenMutexA(DWORD, BOOL, LPCSTR name) {
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bool existed = false;
  kwz_platform::SharedMutexBlock* block = kwz_platform::MapBlock(name, false, &existed);
  if (block == nullptr) return nullptr;
  return kwz_platform::InsertHandle(std::make_shared<MutexObject>(block, false));
}

BOOL ReleaseMutex(HANDLE handle) {
  auto mutex = kwz_platform::LookupHandleAs<MutexObject>(handle);
  if (!mutex) return FALSE;
  if (!mutex->Release()) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  return TRUE;
}
