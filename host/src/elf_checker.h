// The checker of a plug-in's loadable structure: elf_check.cpp checks the
// ELF header, the program headers and the dynamic section, elf_tables.cpp
// the tables the dynamic section names.
#pragma once

#include <ombrix/host/host_error.h>

#include <elf.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ombrix::elf {

[[noreturn]] inline void Fail(const std::string& what) { throw HostError(what); }

inline std::string Hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}

template <typename T>
T Read(std::span<const uint8_t> f, uint64_t offset) {
  T v;
  std::memcpy(&v, f.data() + offset, sizeof v);
  return v;
}

// True when [offset, offset + size) lies inside `limit` bytes (no overflow).
inline bool Inside(uint64_t offset, uint64_t size, uint64_t limit) { return offset <= limit && size <= limit - offset; }

constexpr uint64_t kMaxSpan = uint64_t(1) << 30;  // the memory one plug-in may map
constexpr uint64_t kPage = 4096;
constexpr uint64_t kMaxVersions = 4096;

class Checker {
 public:
  explicit Checker(std::span<const uint8_t> f) : f_(f) {}

  void Run() {
    Header();
    ProgramHeaders();
    Dynamic();
  }

 private:
  std::span<const uint8_t> f_;
  Elf64_Ehdr eh_{};
  std::vector<Elf64_Phdr> loads_;
  std::optional<Elf64_Phdr> dynamic_;
  uint64_t str_off_ = 0, str_size_ = 0, sym_off_ = 0, nsyms_ = 0;

  // --- where an address lives -------------------------------------------------
  // The file offset of [addr, addr + size) when a loaded segment maps it
  // from the file, else fails naming `what`.
  uint64_t FileOffset(uint64_t addr, uint64_t size, const std::string& what) const;
  // [addr, addr + size) inside one loaded segment's memory with the given flags.
  void InMemory(uint64_t addr, uint64_t size, uint32_t flags, const std::string& what) const;

  // --- ELF header, program headers, dynamic section (elf_check.cpp) ----------------
  void Header();
  void ProgramHeaders();
  void Notes(const Elf64_Phdr& p, const std::string& at) const;
  void Dynamic();

  // --- the tables the dynamic section names (elf_tables.cpp) -----------------------
  void Name(uint64_t offset, const std::string& what) const;
  // The classic hash table: nbucket, nchain, buckets, chains; nchain symbols.
  uint64_t SysvHash(uint64_t addr) const;
  // The GNU hash table: nbuckets, symoffset, bloom words, buckets, then one
  // chain word per hashed symbol, each chain ended by a word with bit 0 set.
  uint64_t GnuHash(uint64_t addr) const;
  void Symbol(uint64_t i) const;
  void Relocations(uint64_t addr, uint64_t size, const std::string& what) const;
  // Packed relative relocations: an address word, then bitmaps of the 63
  // words that follow it.
  void Relr(uint64_t addr, uint64_t size) const;
  // Version definitions; answers the largest version index defined.
  uint64_t Verdef(uint64_t addr, uint64_t count) const;
  // Versions needed from other libraries; answers the largest index used.
  uint64_t Verneed(uint64_t addr, uint64_t count) const;
};

}  // namespace ombrix::elf
