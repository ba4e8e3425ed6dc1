// The modal wait: handles, while the thread's incoming calls and sent messages keep running.
#include <vector>

#include "platform/com.h"
#include "platform/kernel.h"
#include "platform/winerror.h"

#include "kernel/handle_table.h"
#include "user/message_queue.h"

using namespace kwz_platform;

namespace {
// Objects without a descriptor are tested again at this interval.
constexpr DWORD kPollSliceMs = 10;
}  // namespace

HRESULT CoWaitForMultipleHandles(DWORD flags, DWORD milliseconds, ULONG count,
                                 const HANDLE* handles, DWORD* index) {
  if (flags != 0 || count == 0 || handles == nullptr || index == nullptr) return E_INVALIDARG;
  std::vector<std::shared_ptr<KernelObject>> objects;
  std::vector<int> descriptors;
  bool everyHasDescriptor = true;
  for (ULONG i = 0; i < count; ++i) {
    auto object = LookupHandle(handles[i]);
    if (!object) return E_INVALIDARG;
    const int fd = object->PollDescriptor();
    if (fd >= 0) {
      descriptors.push_back(fd);
    } else {
      everyHasDescriptor = false;
    }
    objects.push_back(std::move(object));
  }
  auto queue = ThreadQueue::ForThisThread();
  if (!queue) return E_OUTOFMEMORY;
  WaitDeadline deadline(milliseconds);
  for (;;) {
    queue->RunHanded();
    for (ULONG i = 0; i < count; ++i) {
      const DWORD result = objects[i]->Wait(0);
      if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
        *index = i;
        return S_OK;
      }
    }
    int remaining = deadline.RemainingForPoll();
    if (remaining == 0) return RPC_S_CALLPENDING;
    if (!everyHasDescriptor && (remaining < 0 || remaining > static_cast<int>(kPollSliceMs))) {
      remaining = kPollSliceMs;
    }
    queue->Sleep(remaining < 0 ? INFINITE : static_cast<DWORD>(remaining), descriptors);
  }
}
