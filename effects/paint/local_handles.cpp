// Heap-backed host handles: a handle points at a record whose first member
// is the data pointer, as the handle protocol expects.
#include "local_handles.h"

#include <cstdlib>

namespace paint {
namespace {

struct LocalHandle {
  void* data;
  A_u_long size;
};

int g_fail_countdown = 0;
int g_live = 0;

PF_Handle NewHandle(A_u_long size) {
  if (g_fail_countdown > 0 && --g_fail_countdown == 0) return nullptr;
  auto* h = static_cast<LocalHandle*>(std::malloc(sizeof(LocalHandle)));
  void* data = h ? std::calloc(size ? size : 1, 1) : nullptr;
  if (!data) {
    std::free(h);
    return nullptr;
  }
  h->data = data;
  h->size = size;
  ++g_live;
  return reinterpret_cast<PF_Handle>(h);
}

LocalHandle* Of(PF_Handle h) { return reinterpret_cast<LocalHandle*>(h); }

void* LockHandle(PF_Handle h) { return h ? Of(h)->data : nullptr; }
void UnlockHandle(PF_Handle) {}

void DisposeHandle(PF_Handle h) {
  if (!h) return;
  std::free(Of(h)->data);
  std::free(Of(h));
  --g_live;
}

A_u_long HandleSize(PF_Handle h) { return h ? Of(h)->size : 0; }

PF_Err ResizeHandle(A_u_long size, PF_Handle* hp) {
  if (!hp || !*hp) return PF_Err_BAD_CALLBACK_PARAM;
  void* data = std::realloc(Of(*hp)->data, size ? size : 1);
  if (!data) return PF_Err_OUT_OF_MEMORY;
  Of(*hp)->data = data;
  Of(*hp)->size = size;
  return PF_Err_NONE;
}

PF_UtilCallbacks MakeServices() {
  PF_UtilCallbacks utils{};
  utils.host_new_handle = NewHandle;
  utils.host_lock_handle = LockHandle;
  utils.host_unlock_handle = UnlockHandle;
  utils.host_dispose_handle = DisposeHandle;
  utils.host_get_handle_size = HandleSize;
  utils.host_resize_handle = ResizeHandle;
  return utils;
}

const PF_UtilCallbacks g_services = MakeServices();

}  // namespace

const PF_UtilCallbacks* LocalHandleServices() { return &g_services; }
void FailLocalHandleAllocation(int nth) { g_fail_countdown = nth > 0 ? nth : 0; }
int LiveLocalHandles() { return g_live; }

}  // namespace paint
