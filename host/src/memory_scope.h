// The memory a service call works in: the memory of the host whose command
// is being served, or outside any command (ctx NULL) the process's own for
// new pieces and every memory in the process for the rest, as the free
// functions of memory.h do.
#pragma once

#include "call_context.h"

#include <ombrix/host/memory.h>

namespace ombrix {

HostMemory& MemoryFor(const CallContext* ctx);  // where new pieces go
void* LockHandleIn(const CallContext* ctx, PF_Handle h);
size_t HandleSizeIn(const CallContext* ctx, PF_Handle h);
bool DisposeHandleIn(const CallContext* ctx, PF_Handle h);
PF_Err ResizeHandleIn(const CallContext* ctx, PF_Handle h, size_t size);
bool FreeBlockIn(const CallContext* ctx, void* block);
PF_Err ReallocateBlockIn(const CallContext* ctx, void* block, size_t size, void** new_block);

}  // namespace ombrix
