// Resizable memory blocks, the storage under every part of a drawing.
//
// A block is a record of its data, its byte size and a lock flag. Each block
// also has a 32-bit id, unique in this plug-in while the block lives: the
// drawing's records keep blocks by id in their 32-bit words, and
// MemoryBlockFromId() finds the block again (0 is never an id).
//
// Every operation leaves a last-error code (MemoryLastError()) and, where it
// answers a code, answers the same one: 0 success, -108 out of memory (also
// for a locked target), -109 null block, -111 block without data.
#pragma once

#include <cstdint>

namespace paint {

inline constexpr int32_t kMemoryOk = 0;
inline constexpr int32_t kMemoryFull = -108;
inline constexpr int32_t kMemoryNullBlock = -109;
inline constexpr int32_t kMemoryNoData = -111;

struct MemoryBlock {
  void* data = nullptr;
  uint32_t size = 0;
  uint16_t locked = 0;
  uint32_t id = 0;
};

// The code left by the last operation.
int32_t MemoryLastError();

// A new block of `size` bytes, zeroed (a zero size allocates one byte and
// records size 0); null when out of memory.
MemoryBlock* NewMemoryBlock(uint32_t size);
// A new block holding a copy of `size` bytes from `bytes`.
MemoryBlock* NewMemoryBlockFrom(const void* bytes, uint32_t size);
// A new block with the same bytes as `block`.
MemoryBlock* DuplicateMemoryBlock(const MemoryBlock* block);
// Frees the block and its data; null is allowed.
void DisposeMemoryBlock(MemoryBlock* block);

int32_t LockMemoryBlock(MemoryBlock* block);
int32_t UnlockMemoryBlock(MemoryBlock* block);
// The byte size; 0 (with -109) for a null block.
uint32_t MemoryBlockSize(const MemoryBlock* block);
// Grows or shrinks the block, keeping its first bytes; new bytes are zero.
// Refused (-108) while the block is locked.
int32_t ResizeMemoryBlock(MemoryBlock* block, uint32_t size);
// Appends `size` bytes from `bytes` (which must not lie in `target`).
int32_t AppendMemoryBytes(MemoryBlock* target, const void* bytes, uint32_t size);
// Appends all bytes of `source` to the end of `target`.
int32_t AppendMemoryBlock(MemoryBlock* target, const MemoryBlock* source);

// The live block with this id, or null (0, an unknown id, a disposed block).
MemoryBlock* MemoryBlockFromId(uint32_t id);
inline uint32_t MemoryBlockId(const MemoryBlock* block) { return block ? block->id : 0; }

// Failure injection for tests and fuzzing: the n-th allocation or growth
// from now (1 = the next) answers out of memory; 0 disarms.
void FailMemoryBlockAllocation(int nth);
// Blocks alive in this plug-in, for leak checks.
uint32_t LiveMemoryBlocks();

}  // namespace paint
