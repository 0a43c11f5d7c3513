// The handle services and the basic suite's blocks. They get no effect_ref:
// they work in the memory of the command running on the calling thread
// (see memory_scope.h).
#include "memory_scope.h"
#include "service_boundary.h"
#include "service_ids.h"
#include "service_table.h"

namespace ombrix {

PF_Handle SvcNewHandle(A_u_long size) {
  PF_Handle h = nullptr;
  ServeOnThread(ServiceId("new_handle"), [&](CallContext* ctx) -> PF_Err {
    h = MemoryFor(ctx).NewHandle(size, OwnerOf(ctx));
    return PF_Err_NONE;
  });
  return h;
}

void* SvcLockHandle(PF_Handle h) {
  void* data = nullptr;
  ServeOnThread(ServiceId("lock_handle"), [&](CallContext* ctx) -> PF_Err {
    data = LockHandleIn(ctx, h);
    return PF_Err_NONE;
  });
  return data;
}

void SvcUnlockHandle(PF_Handle) {}

void SvcDisposeHandle(PF_Handle h) {
  ServeOnThread(kNotCounted, [&](CallContext* ctx) -> PF_Err {
    DisposeHandleIn(ctx, h);
    return PF_Err_NONE;
  });
}

A_u_long SvcGetHandleSize(PF_Handle h) {
  A_u_long size = 0;
  ServeOnThread(kNotCounted, [&](CallContext* ctx) -> PF_Err {
    size = A_u_long(HandleSizeIn(ctx, h));
    return PF_Err_NONE;
  });
  return size;
}

PF_Err SvcResizeHandle(A_u_long new_size, PF_Handle* hp) {
  return ServeOnThread(ServiceId("resize_handle"), [&](CallContext* ctx) -> PF_Err {
    return hp ? ResizeHandleIn(ctx, *hp, new_size) : PF_Err_BAD_CALLBACK_PARAM;
  });
}

SPErr BasicAllocateBlock(A_u_long size, void** block) {
  return ServeOnThread(ServiceId("allocate_block"), [&](CallContext* ctx) -> PF_Err {
    if (!block) return PF_Err_BAD_CALLBACK_PARAM;
    *block = nullptr;
    *block = MemoryFor(ctx).AllocateBlock(size, OwnerOf(ctx));
    return PF_Err_NONE;
  });
}

SPErr BasicFreeBlock(void* block) {
  return ServeOnThread(kNotCounted, [&](CallContext* ctx) -> PF_Err {
    if (!block) return PF_Err_NONE;
    return FreeBlockIn(ctx, block) ? PF_Err_NONE : PF_Err_BAD_CALLBACK_PARAM;
  });
}

SPErr BasicReallocateBlock(void* block, A_u_long new_size, void** new_block) {
  return ServeOnThread(ServiceId("reallocate_block"), [&](CallContext* ctx) -> PF_Err {
    if (!new_block) return PF_Err_BAD_CALLBACK_PARAM;
    if (!block) return PF_Err(BasicAllocateBlock(new_size, new_block));
    return ReallocateBlockIn(ctx, block, new_size, new_block);
  });
}

}  // namespace ombrix
