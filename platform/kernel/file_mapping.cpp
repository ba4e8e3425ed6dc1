// Named mappings of one process: memfd-backed objects in the handle table, found by name through
// weak references, so that a name dies with the last handle or view of its mapping.
#include <errno.h>
#include <sys/mman.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/kernel.h"
#include "platform/memoryapi.h"
#include "platform/winerror.h"

#include "kernel/handle_table.h"

namespace kwz_platform {
namespace {

constexpr std::uint64_t kAllocationGranularity = 65536;

class MappingObject;

struct Registry {
  std::mutex lock;
  std::map<std::u16string, std::weak_ptr<MappingObject>> byName;     // guarded by lock
  std::map<const void*, std::shared_ptr<MappingObject>> viewOwners;  // guarded by lock
  std::map<const void*, std::size_t> viewLengths;                    // guarded by lock
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

class MappingObject : public KernelObject {
 public:
  MappingObject(int fd, std::uint64_t size, bool writable, std::u16string name)
      : fd_(fd), size_(size), writable_(writable), name_(std::move(name)) {}
  ~MappingObject() override {
    close(fd_);
    if (name_.empty()) return;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto entry = registry.byName.find(name_);
    // A new mapping of the same name may already have taken the entry over.
    if (entry != registry.byName.end() && entry->second.expired()) registry.byName.erase(entry);
  }

  DWORD Wait(DWORD) override {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }

  int fd() const { return fd_; }
  std::uint64_t size() const { return size_; }
  bool writable() const { return writable_; }

 private:
  const int fd_;
  const std::uint64_t size_;
  const bool writable_;
  const std::u16string name_;
};

std::shared_ptr<MappingObject> NewMapping(std::uint64_t size, bool writable,
                                          const std::u16string& name) {
  int fd = memfd_create("kwz-file-mapping", MFD_CLOEXEC);
  if (fd < 0) {
    SetLastError(errno == EMFILE || errno == ENFILE ? ERROR_TOO_MANY_OPEN_FILES
                                                    : ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    close(fd);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return std::make_shared<MappingObject>(fd, size, writable, name);
}

}  // namespace
}  // namespace kwz_platform

using kwz_platform::MappingObject;

HANDLE CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCWSTR name) {
  const std::uint64_t size = (static_cast<std::uint64_t>(maximumSizeHigh) << 32) | maximumSizeLow;
  if (file != INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);  // file-backed mappings are not part of the subset
    return nullptr;
  }
  if ((protect != PAGE_READWRITE && protect != PAGE_READONLY) || size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::u16string key = name != nullptr ? std::u16string(name) : std::u16string();
  kwz_platform::Registry& registry = kwz_platform::TheRegistry();
  std::shared_ptr<MappingObject> mapping;
  bool existed = false;
  {
    std::lock_guard<std::mutex> guard(registry.lock);
    if (!key.empty()) {
      auto found = registry.byName.find(key);
      if (found != registry.byName.end()) mapping = found->second.lock();
    }
    existed = mapping != nullptr;
    if (!existed) {
      mapping = kwz_platform::NewMapping(size, protect == PAGE_READWRITE, key);
      if (!mapping) return nullptr;
      if (!key.empty()) registry.byName[key] = mapping;
    }
  }
  HANDLE handle = kwz_platform::InsertHandle(mapping);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

HANDLE OpenFileMappingW(DWORD, BOOL, LPCWSTR name) {
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  kwz_platform::Registry& registry = kwz_platform::TheRegistry();
  std::shared_ptr<MappingObject> mapping;
  {
    std::lock_guard<std::mutex> guard(registry.lock);
    auto found = registry.byName.find(name);
    if (found != registry.byName.end()) mapping = found->second.lock();
  }
  if (!mapping) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return kwz_platform::InsertHandle(std::move(mapping));
}

LPVOID MapViewOfFile(HANDLE handle, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow,
                     SIZE_T bytes) {
  auto mapping = kwz_platform::LookupHandleAs<MappingObject>(handle);
  if (!mapping) return nullptr;
  const std::uint64_t offset = (static_cast<std::uint64_t>(offsetHigh) << 32) | offsetLow;
  const bool write = (desiredAccess & FILE_MAP_WRITE) != 0;
  if (offset % kwz_platform::kAllocationGranularity != 0) {
    SetLastError(ERROR_MAPPED_ALIGNMENT);
    return nullptr;
  }
  if (write && !mapping->writable()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (offset >= mapping->size() || bytes > mapping->size() - offset) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const std::size_t length =
      bytes != 0 ? bytes : static_cast<std::size_t>(mapping->size() - offset);
  void* view = mmap(nullptr, length, write ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED,
                    mapping->fd(), static_cast<off_t>(offset));
  if (view == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  kwz_platform::Registry& registry = kwz_platform::TheRegistry();
  std::lock_guard<std::mutex> guard(registry.lock);
  registry.viewOwners[view] = std::move(mapping);  // a view keeps its mapping alive
  registry.viewLengths[view] = length;
  return view;
}

BOOL UnmapViewOfFile(LPCVOID baseAddress) {
  std::shared_ptr<MappingObject> released;  // may be the last reference: dropped outside the lock
  kwz_platform::Registry& registry = kwz_platform::TheRegistry();
  {
    std::lock_guard<std::mutex> guard(registry.lock);
    auto owner = registry.viewOwners.find(baseAddress);
    if (owner == registry.viewOwners.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    auto length = registry.viewLengths.find(baseAddress);
    munmap(const_cast<void*>(baseAddress), length->second);
    released = std::move(owner->second);
    registry.viewOwners.erase(owner);
    registry.viewLengths.erase(length);
  }
  return TRUE;
}
