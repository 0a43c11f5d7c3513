// Memory blocks on the C heap, and the table that maps their ids back to
// them. An id is a table slot with a generation count, so a stale id (its
// block disposed, the slot reused) is not mistaken for the new block.
#include "memory_block.h"

#include <cstdlib>
#include <cstring>

namespace paint {
namespace {

constexpr uint32_t kSlotBits = 22;
constexpr uint32_t kSlotMask = (1u << kSlotBits) - 1;
constexpr uint32_t kMaxSlots = 1u << kSlotBits;

struct Slot {
  MemoryBlock* block;
  uint32_t generation;  // of the id given out last from this slot
  uint32_t next_free;   // slot index + 1, 0 for none
};

struct IdTable {
  Slot* slots = nullptr;
  uint32_t capacity = 0;
  uint32_t used = 0;       // slots ever handed out
  uint32_t free_head = 0;  // slot index + 1
  uint32_t live = 0;
};

IdTable g_ids;

// The table's memory goes when the module is unloaded (its generations must
// outlive every block, so it is kept until then).
struct IdTableRelease {
  ~IdTableRelease() { std::free(g_ids.slots); }
} g_ids_release;
int32_t g_last_error = kMemoryOk;
int g_fail_countdown = 0;

int32_t Done(int32_t err) {
  g_last_error = err;
  return err;
}

// True when an injected failure is due now.
bool InjectedFailure() {
  if (g_fail_countdown <= 0) return false;
  return --g_fail_countdown == 0;
}

bool GrowTable() {
  if (g_ids.capacity >= kMaxSlots) return false;
  const uint32_t capacity = g_ids.capacity ? g_ids.capacity * 2 : 256;
  void* slots = std::realloc(g_ids.slots, size_t(capacity) * sizeof(Slot));
  if (!slots) return false;
  g_ids.slots = static_cast<Slot*>(slots);
  g_ids.capacity = capacity;
  return true;
}

bool GiveId(MemoryBlock* block) {
  uint32_t index;
  if (g_ids.free_head) {
    index = g_ids.free_head - 1;
    g_ids.free_head = g_ids.slots[index].next_free;
  } else {
    if (g_ids.used == g_ids.capacity && !GrowTable()) return false;
    index = g_ids.used++;
    g_ids.slots[index].generation = 0;
  }
  Slot& slot = g_ids.slots[index];
  // Generations run 1..1023, so that no id is 0.
  slot.generation = slot.generation % ((1u << (32 - kSlotBits)) - 1) + 1;
  slot.block = block;
  slot.next_free = 0;
  block->id = (slot.generation << kSlotBits) | index;
  ++g_ids.live;
  return true;
}

void TakeId(MemoryBlock* block) {
  const uint32_t index = block->id & kSlotMask;
  if (index >= g_ids.used || g_ids.slots[index].block != block) return;
  g_ids.slots[index].block = nullptr;
  g_ids.slots[index].next_free = g_ids.free_head;
  g_ids.free_head = index + 1;
  --g_ids.live;
}

}  // namespace

int32_t MemoryLastError() { return g_last_error; }

MemoryBlock* NewMemoryBlock(uint32_t size) {
  MemoryBlock* block = InjectedFailure() ? nullptr : static_cast<MemoryBlock*>(std::malloc(sizeof(MemoryBlock)));
  void* data = block ? std::calloc(size ? size : 1, 1) : nullptr;
  if (!data || !GiveId(block)) {
    std::free(data);
    std::free(block);
    Done(kMemoryFull);
    return nullptr;
  }
  block->data = data;
  block->size = size;
  block->locked = 0;
  Done(kMemoryOk);
  return block;
}

MemoryBlock* NewMemoryBlockFrom(const void* bytes, uint32_t size) {
  if (!bytes && size) {
    Done(kMemoryNoData);
    return nullptr;
  }
  MemoryBlock* block = NewMemoryBlock(size);
  if (block && size) std::memcpy(block->data, bytes, size);
  return block;
}

MemoryBlock* DuplicateMemoryBlock(const MemoryBlock* block) {
  if (!block) {
    Done(kMemoryNullBlock);
    return nullptr;
  }
  if (!block->data) {
    Done(kMemoryNoData);
    return nullptr;
  }
  return NewMemoryBlockFrom(block->data, block->size);
}

void DisposeMemoryBlock(MemoryBlock* block) {
  if (!block) {
    Done(kMemoryNullBlock);
    return;
  }
  TakeId(block);
  std::free(block->data);
  std::free(block);
  Done(kMemoryOk);
}

int32_t LockMemoryBlock(MemoryBlock* block) {
  if (!block) return Done(kMemoryNullBlock);
  if (!block->data) return Done(kMemoryNoData);
  block->locked = 1;
  return Done(kMemoryOk);
}

int32_t UnlockMemoryBlock(MemoryBlock* block) {
  if (!block) return Done(kMemoryNullBlock);
  if (!block->data) return Done(kMemoryNoData);
  block->locked = 0;
  return Done(kMemoryOk);
}

uint32_t MemoryBlockSize(const MemoryBlock* block) {
  if (!block) {
    Done(kMemoryNullBlock);
    return 0;
  }
  Done(kMemoryOk);
  return block->size;
}

int32_t ResizeMemoryBlock(MemoryBlock* block, uint32_t size) {
  if (!block) return Done(kMemoryNullBlock);
  if (!block->data) return Done(kMemoryNoData);
  if (block->locked) return Done(kMemoryFull);
  if (size > block->size && InjectedFailure()) return Done(kMemoryFull);
  void* data = std::realloc(block->data, size ? size : 1);
  if (!data) return Done(kMemoryFull);
  if (size > block->size) std::memset(static_cast<char*>(data) + block->size, 0, size - block->size);
  block->data = data;
  block->size = size;
  return Done(kMemoryOk);
}

int32_t AppendMemoryBytes(MemoryBlock* target, const void* bytes, uint32_t size) {
  if (!target) return Done(kMemoryNullBlock);
  if (!target->data || (!bytes && size)) return Done(kMemoryNoData);
  if (target->locked || size > UINT32_MAX - target->size) return Done(kMemoryFull);
  const uint32_t old = target->size;
  const int32_t err = ResizeMemoryBlock(target, old + size);
  if (err != kMemoryOk) return err;
  if (size) std::memcpy(static_cast<char*>(target->data) + old, bytes, size);
  return Done(kMemoryOk);
}

int32_t AppendMemoryBlock(MemoryBlock* target, const MemoryBlock* source) {
  if (!source) return Done(kMemoryNullBlock);
  if (target == source) return Done(kMemoryFull);
  return AppendMemoryBytes(target, source->data, source->size);
}

MemoryBlock* MemoryBlockFromId(uint32_t id) {
  const uint32_t index = id & kSlotMask;
  if (id == 0 || index >= g_ids.used) return nullptr;
  const Slot& slot = g_ids.slots[index];
  if (!slot.block || slot.generation != id >> kSlotBits) return nullptr;
  return slot.block;
}

void FailMemoryBlockAllocation(int nth) { g_fail_countdown = nth > 0 ? nth : 0; }

uint32_t LiveMemoryBlocks() { return g_ids.live; }

}  // namespace paint
