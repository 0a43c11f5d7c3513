// Memory the host hands to plug-ins: handles (the handle services of the
// effect API), worlds made by new_world, basic-suite blocks, and the pixels
// of layers checked out through checkout_param.
//
// Each Host owns one HostMemory, and a command's services work in its
// host's alone, so that hosts in one process never see each other's
// memory. Every piece remembers the effect whose command made it (the
// command's effect_ref; NULL for the host's own), so that what a plug-in
// leaves behind is freed when it is unloaded; whatever is left when the
// HostMemory ends is freed with it. A piece that is not held (stale,
// foreign, or of another host) is refused without being touched.
#pragma once

#include <pf/api.h>

#include <cstddef>
#include <memory>

namespace ombrix {

class FailureInjector;

class HostMemory {
 public:
  // Allocating steps count with `failures` (FailureInjector::ArmOutOfMemory), when given.
  explicit HostMemory(FailureInjector* failures = nullptr);
  ~HostMemory();
  HostMemory(const HostMemory&) = delete;
  HostMemory& operator=(const HostMemory&) = delete;

  // Handles: a zero-filled block of `size` bytes. Throws std::bad_alloc.
  PF_Handle NewHandle(size_t size, const void* owner = nullptr);
  bool DisposeHandle(PF_Handle h);  // false when `h` is not held here
  bool HandleIsLive(PF_Handle h) const;
  size_t HandleSize(PF_Handle h) const;  // 0 when `h` is not held here
  void* LockHandle(PF_Handle h) const;   // the data; NULL when `h` is not held here
  // New bytes read as zero. PF_Err_BAD_CALLBACK_PARAM when `h` is not held
  // here; PF_Err_OUT_OF_MEMORY (the handle unchanged) when there is no room.
  PF_Err ResizeHandle(PF_Handle h, size_t size);

  // Worlds of new_world (kMade) and the pixels of checkouts (kCheckout):
  // transparent black, padding included. PF_Err_BAD_CALLBACK_PARAM for a
  // size that is not positive; throws std::bad_alloc.
  enum class WorldKind { kMade, kCheckout };
  PF_Err NewWorld(WorldKind kind, const void* owner, A_long width, A_long height, A_long pad_bytes,
                  PF_EffectWorld* world);
  bool DisposeWorld(WorldKind kind, void* data);  // false when `data` is not such a world held here

  // Basic-suite blocks. Allocate throws std::bad_alloc. Reallocate answers
  // PF_Err_BAD_CALLBACK_PARAM for a block not held here, and
  // PF_Err_OUT_OF_MEMORY (the old block still valid) when there is no room.
  void* AllocateBlock(size_t size, const void* owner);
  bool FreeBlock(void* block);
  PF_Err ReallocateBlock(void* block, size_t size, void** new_block);

  // Frees what commands of the effect whose effect_ref is `owner` made and
  // did not release: everything, or only the checkouts.
  void ReleaseAllOwnedBy(const void* owner);
  void ReleaseCheckoutsOwnedBy(const void* owner);

  struct Counts {
    size_t handles = 0, worlds = 0, blocks = 0, checkouts = 0;
    bool operator==(const Counts&) const = default;
  };
  Counts Live() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The same for code that has no Host at hand (tools, and tests that call an
// effect's code directly). New handles go to the host of the command running
// on this thread, or outside any command to memory of the process's own.
// The others look in the command's host's memory, or outside any command in
// all of them.
PF_Handle NewHandle(size_t size);  // zero-filled; NULL when out of memory
void DisposeHandle(PF_Handle h);
size_t HandleSize(PF_Handle h);  // 0 for an unknown handle
bool HandleIsLive(PF_Handle h);
// Counts over the whole process: every host's and the process's own.
size_t LiveHandleCount();    // handles not yet disposed
size_t LiveWorldCount();     // worlds from new_world not yet disposed
size_t LiveBlockCount();     // basic-suite blocks not yet freed
size_t LiveCheckoutCount();  // layers checked out and not yet checked in

}  // namespace ombrix
