// The memory handed to plug-ins, one HostMemory per host.
//
// A handle is the address of the data pointer in a block of its own; each
// table maps what was handed out to the effect_ref of the command that made
// it, so that stale or foreign pointers are refused without being
// dereferenced, and what an effect leaves behind is found when it unloads.
#include "memory_scope.h"

#include <ombrix/host/failures.h>
#include <ombrix/host/host.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

namespace ombrix {
namespace {

struct HandleBlock {
  void* data = nullptr;  // first: the handle points here
  size_t size = 0;
};

HandleBlock* BlockOf(PF_Handle h) { return reinterpret_cast<HandleBlock*>(h); }

void FreeHandle(PF_Handle h) {
  std::free(*h);
  delete BlockOf(h);
}

// Every HostMemory of the process, for the free functions of memory.h.
struct Directory {
  std::mutex mutex;
  std::vector<HostMemory*> all;
};

Directory& Memories() {
  static Directory directory;
  return directory;
}

// Handles made outside any command, where no host is known.
HostMemory& ProcessMemory() {
  static HostMemory memory;
  return memory;
}

// Runs `op` on each memory of the process until it answers true.
template <class Op>
bool AnyMemory(Op&& op) {
  Directory& d = Memories();
  std::lock_guard lock(d.mutex);
  for (HostMemory* m : d.all)
    if (op(*m)) return true;
  return false;
}

// Runs `op` on the memory of the command's host, or without a command on
// each memory until it answers true.
template <class Op>
bool InScope(const CallContext* ctx, Op&& op) {
  return ctx ? op(ctx->host->memory()) : AnyMemory(op);
}

}  // namespace

struct HostMemory::Impl {
  FailureInjector* failures = nullptr;
  mutable std::mutex mutex;
  std::unordered_map<PF_Handle, const void*> handles;
  std::unordered_map<void*, const void*> worlds;
  std::unordered_map<void*, const void*> blocks;
  std::unordered_map<void*, const void*> checkouts;  // pixels of checked-out layers

  void Allocating() const {
    if (failures) failures->Allocating();
  }
  std::unordered_map<void*, const void*>& Worlds(WorldKind kind) {
    return kind == WorldKind::kMade ? worlds : checkouts;
  }
  // Enters `p` (just allocated) in `table`; frees it when that fails.
  template <class Table, class Free>
  void Enter(Table& table, typename Table::key_type p, const void* owner, Free&& free) {
    try {
      std::lock_guard lock(mutex);
      table.emplace(p, owner);
    } catch (...) {
      free(p);
      throw;
    }
  }
};

HostMemory::HostMemory(FailureInjector* failures) : impl_(std::make_unique<Impl>()) {
  impl_->failures = failures;
  Directory& d = Memories();
  std::lock_guard lock(d.mutex);
  d.all.push_back(this);
}

HostMemory::~HostMemory() {
  {
    Directory& d = Memories();
    std::lock_guard lock(d.mutex);
    std::erase(d.all, this);
  }
  for (const auto& entry : impl_->handles) FreeHandle(entry.first);
  for (auto* table : {&impl_->worlds, &impl_->blocks, &impl_->checkouts})
    for (const auto& entry : *table) std::free(entry.first);
}

PF_Handle HostMemory::NewHandle(size_t size, const void* owner) {
  impl_->Allocating();
  auto block = std::make_unique<HandleBlock>();
  block->data = std::calloc(std::max<size_t>(size, 1), 1);
  if (!block->data) throw std::bad_alloc();
  block->size = size;
  PF_Handle h = &block->data;
  impl_->Enter(impl_->handles, h, owner, [](PF_Handle p) { std::free(*p); });
  block.release();
  return h;
}

bool HostMemory::DisposeHandle(PF_Handle h) {
  if (!h) return false;
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->handles.erase(h) == 0) return false;
  }
  FreeHandle(h);
  return true;
}

bool HostMemory::HandleIsLive(PF_Handle h) const {
  if (!h) return false;
  std::lock_guard lock(impl_->mutex);
  return impl_->handles.count(h) != 0;
}

size_t HostMemory::HandleSize(PF_Handle h) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->handles.count(h) ? BlockOf(h)->size : 0;
}

void* HostMemory::LockHandle(PF_Handle h) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->handles.count(h) ? *h : nullptr;
}

PF_Err HostMemory::ResizeHandle(PF_Handle h, size_t size) {
  std::lock_guard lock(impl_->mutex);
  if (!h || !impl_->handles.count(h)) return PF_Err_BAD_CALLBACK_PARAM;
  impl_->Allocating();
  HandleBlock* block = BlockOf(h);
  void* data = std::realloc(block->data, std::max<size_t>(size, 1));
  if (!data) return PF_Err_OUT_OF_MEMORY;
  if (size > block->size) std::memset(static_cast<char*>(data) + block->size, 0, size - block->size);
  block->data = data;
  block->size = size;
  return PF_Err_NONE;
}

PF_Err HostMemory::NewWorld(WorldKind kind, const void* owner, A_long width, A_long height, A_long pad_bytes,
                            PF_EffectWorld* world) {
  if (width <= 0 || height <= 0 || pad_bytes < 0) return PF_Err_BAD_CALLBACK_PARAM;
  const int64_t rowbytes = int64_t(width) * 4 + pad_bytes;
  if (rowbytes > INT32_MAX) return PF_Err_OUT_OF_MEMORY;
  impl_->Allocating();
  void* data = std::calloc(size_t(rowbytes) * size_t(height), 1);
  if (!data) return PF_Err_OUT_OF_MEMORY;
  impl_->Enter(impl_->Worlds(kind), data, owner, [](void* p) { std::free(p); });
  *world = PF_EffectWorld{};
  world->data = static_cast<PF_PixelPtr>(data);
  world->rowbytes = A_long(rowbytes);
  world->width = width;
  world->height = height;
  world->extent_hint = PF_Rect{0, 0, width, height};
  world->pix_aspect_ratio = PF_RationalScale{1, 1};
  return PF_Err_NONE;
}

bool HostMemory::DisposeWorld(WorldKind kind, void* data) {
  if (!data) return false;
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->Worlds(kind).erase(data) == 0) return false;
  }
  std::free(data);
  return true;
}

void* HostMemory::AllocateBlock(size_t size, const void* owner) {
  impl_->Allocating();
  void* p = std::malloc(std::max<size_t>(size, 1));
  if (!p) throw std::bad_alloc();
  impl_->Enter(impl_->blocks, p, owner, [](void* q) { std::free(q); });
  return p;
}

bool HostMemory::FreeBlock(void* block) {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->blocks.erase(block) == 0) return false;
  }
  std::free(block);
  return true;
}

PF_Err HostMemory::ReallocateBlock(void* block, size_t size, void** new_block) {
  std::lock_guard lock(impl_->mutex);
  auto it = impl_->blocks.find(block);
  if (it == impl_->blocks.end()) return PF_Err_BAD_CALLBACK_PARAM;
  impl_->Allocating();
  void* p = std::realloc(block, std::max<size_t>(size, 1));
  if (!p) return PF_Err_OUT_OF_MEMORY;  // the old block stays valid
  // The entry moves to the new address without allocating.
  auto node = impl_->blocks.extract(it);
  node.key() = p;
  impl_->blocks.insert(std::move(node));
  *new_block = p;
  return PF_Err_NONE;
}

void HostMemory::ReleaseAllOwnedBy(const void* owner) {
  if (!owner) return;
  std::vector<PF_Handle> handles;
  std::vector<void*> memory;
  {
    std::lock_guard lock(impl_->mutex);
    std::erase_if(impl_->handles, [&](const auto& entry) {
      if (entry.second != owner) return false;
      handles.push_back(entry.first);
      return true;
    });
    for (auto* table : {&impl_->worlds, &impl_->blocks, &impl_->checkouts})
      std::erase_if(*table, [&](const auto& entry) {
        if (entry.second != owner) return false;
        memory.push_back(entry.first);
        return true;
      });
  }
  for (PF_Handle h : handles) FreeHandle(h);
  for (void* p : memory) std::free(p);
}

void HostMemory::ReleaseCheckoutsOwnedBy(const void* owner) {
  std::vector<void*> memory;
  {
    std::lock_guard lock(impl_->mutex);
    std::erase_if(impl_->checkouts, [&](const auto& entry) {
      if (entry.second != owner) return false;
      memory.push_back(entry.first);
      return true;
    });
  }
  for (void* p : memory) std::free(p);
}

HostMemory::Counts HostMemory::Live() const {
  std::lock_guard lock(impl_->mutex);
  return Counts{impl_->handles.size(), impl_->worlds.size(), impl_->blocks.size(), impl_->checkouts.size()};
}

// ---------------------------------------------------------------------------
// Scoped to a call
// ---------------------------------------------------------------------------
HostMemory& MemoryFor(const CallContext* ctx) { return ctx ? ctx->host->memory() : ProcessMemory(); }

void* LockHandleIn(const CallContext* ctx, PF_Handle h) {
  void* data = nullptr;
  InScope(ctx, [&](HostMemory& m) { return (data = m.LockHandle(h)) != nullptr; });
  return data;
}

size_t HandleSizeIn(const CallContext* ctx, PF_Handle h) {
  size_t size = 0;
  InScope(ctx, [&](HostMemory& m) { return (size = m.HandleSize(h)) != 0; });
  return size;
}

bool DisposeHandleIn(const CallContext* ctx, PF_Handle h) {
  return InScope(ctx, [&](HostMemory& m) { return m.DisposeHandle(h); });
}

PF_Err ResizeHandleIn(const CallContext* ctx, PF_Handle h, size_t size) {
  PF_Err err = PF_Err_BAD_CALLBACK_PARAM;
  InScope(ctx, [&](HostMemory& m) { return (err = m.ResizeHandle(h, size)) != PF_Err_BAD_CALLBACK_PARAM; });
  return err;
}

bool FreeBlockIn(const CallContext* ctx, void* block) {
  return InScope(ctx, [&](HostMemory& m) { return m.FreeBlock(block); });
}

PF_Err ReallocateBlockIn(const CallContext* ctx, void* block, size_t size, void** new_block) {
  PF_Err err = PF_Err_BAD_CALLBACK_PARAM;
  InScope(ctx, [&](HostMemory& m) {
    return (err = m.ReallocateBlock(block, size, new_block)) != PF_Err_BAD_CALLBACK_PARAM;
  });
  return err;
}

// ---------------------------------------------------------------------------
// Without a Host at hand
// ---------------------------------------------------------------------------
namespace {

const CallContext* ThisThreadsCall() { return ContextOf(CurrentCall()); }

size_t CountAll(size_t HostMemory::Counts::*which) {
  size_t total = 0;
  AnyMemory([&](HostMemory& m) {
    total += m.Live().*which;
    return false;
  });
  return total;
}

}  // namespace

PF_Handle NewHandle(size_t size) {
  const CallContext* ctx = ThisThreadsCall();
  try {
    return MemoryFor(ctx).NewHandle(size, OwnerOf(ctx));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void DisposeHandle(PF_Handle h) { DisposeHandleIn(ThisThreadsCall(), h); }
size_t HandleSize(PF_Handle h) { return HandleSizeIn(ThisThreadsCall(), h); }
bool HandleIsLive(PF_Handle h) {
  return InScope(ThisThreadsCall(), [&](HostMemory& m) { return m.HandleIsLive(h); });
}

size_t LiveHandleCount() { return CountAll(&HostMemory::Counts::handles); }
size_t LiveWorldCount() { return CountAll(&HostMemory::Counts::worlds); }
size_t LiveBlockCount() { return CountAll(&HostMemory::Counts::blocks); }
size_t LiveCheckoutCount() { return CountAll(&HostMemory::Counts::checkouts); }

}  // namespace ombrix
