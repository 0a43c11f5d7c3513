// The tables a plug-in's dynamic section names, checked against the file
// and the memory it maps: strings, symbol hash tables, symbols,
// relocations and symbol versions.
#include "elf_checker.h"

#include <algorithm>
#include <bit>

namespace ombrix::elf {

void Checker::Name(uint64_t offset, const std::string& what) const {
  if (offset >= str_size_) Fail(what + ": name offset " + std::to_string(offset) + " past the string table");
}

uint64_t Checker::SysvHash(uint64_t addr) const {
  const uint64_t head = FileOffset(addr, 8, "hash table");
  const uint64_t nbucket = Read<uint32_t>(f_, head), nchain = Read<uint32_t>(f_, head + 4);
  const uint64_t off = FileOffset(addr, 8 + 4 * (nbucket + nchain), "hash table");
  for (uint64_t i = 0; i < nbucket + nchain; ++i)
    if (Read<uint32_t>(f_, off + 8 + 4 * i) >= std::max<uint64_t>(nchain, 1))
      Fail("hash table: symbol index out of range");
  return nchain;
}

uint64_t Checker::GnuHash(uint64_t addr) const {
  const uint64_t head = FileOffset(addr, 16, "GNU hash table");
  const uint64_t nbuckets = Read<uint32_t>(f_, head), symoffset = Read<uint32_t>(f_, head + 4);
  const uint64_t bloom = Read<uint32_t>(f_, head + 8), shift = Read<uint32_t>(f_, head + 12);
  if (nbuckets == 0 || bloom == 0 || !std::has_single_bit(bloom) || shift >= 64) Fail("GNU hash table: bad header");
  const uint64_t buckets_at = addr + 16 + 8 * bloom;
  const uint64_t buckets = FileOffset(buckets_at, 4 * nbuckets, "GNU hash table");
  uint64_t nsyms = symoffset, max_start = 0;
  bool any = false;
  for (uint64_t i = 0; i < nbuckets; ++i) {
    const uint64_t start = Read<uint32_t>(f_, buckets + 4 * i);
    if (start == 0) continue;
    if (start < symoffset) Fail("GNU hash table: bucket before the hashed symbols");
    max_start = std::max(max_start, start);
    any = true;
  }
  if (any) {
    // Every chain ends within the table; the last one ends the symbols.
    const uint64_t chains_at = buckets_at + 4 * nbuckets;
    for (uint64_t i = max_start;; ++i) {
      const uint64_t at = FileOffset(chains_at + 4 * (i - symoffset), 4, "GNU hash chain");
      if (Read<uint32_t>(f_, at) & 1) {
        nsyms = i + 1;
        break;
      }
    }
  }
  return nsyms;
}

void Checker::Symbol(uint64_t i) const {
  const auto s = Read<Elf64_Sym>(f_, sym_off_ + i * sizeof(Elf64_Sym));
  const std::string at = "symbol " + std::to_string(i);
  Name(s.st_name, at);
  const unsigned type = ELF64_ST_TYPE(s.st_info);
  if (s.st_shndx == SHN_UNDEF || s.st_shndx == SHN_ABS || type == STT_TLS || type == STT_SECTION) return;
  if (type == STT_FUNC || type == STT_GNU_IFUNC)
    InMemory(s.st_value, 1, PF_X, at);
  else
    InMemory(s.st_value, s.st_size, 0, at);
}

void Checker::Relocations(uint64_t addr, uint64_t size, const std::string& what) const {
  if (size % sizeof(Elf64_Rela) != 0) Fail(what + "s: size not a whole number of entries");
  const uint64_t off = FileOffset(addr, size, what + " table");
  for (uint64_t i = 0; i < size / sizeof(Elf64_Rela); ++i) {
    const auto r = Read<Elf64_Rela>(f_, off + i * sizeof(Elf64_Rela));
    const std::string at = what + " " + std::to_string(i);
    const uint64_t type = ELF64_R_TYPE(r.r_info), sym = ELF64_R_SYM(r.r_info);
    uint64_t width = 8;
    switch (type) {
      case R_X86_64_NONE:
        continue;
      case R_X86_64_PC32:
      case R_X86_64_32:
      case R_X86_64_32S:
        width = 4;
        break;
      case R_X86_64_TLSDESC:
        width = 16;
        break;
      case R_X86_64_64:
      case R_X86_64_GLOB_DAT:
      case R_X86_64_JUMP_SLOT:
      case R_X86_64_RELATIVE:
      case R_X86_64_DTPMOD64:
      case R_X86_64_DTPOFF64:
      case R_X86_64_TPOFF64:
      case R_X86_64_PC64:
        break;
      case R_X86_64_IRELATIVE:
        InMemory(uint64_t(r.r_addend), 1, PF_X, at + " resolver");
        break;
      default:
        Fail(at + ": unexpected relocation type " + std::to_string(type));
    }
    if (sym >= std::max<uint64_t>(nsyms_, 1)) Fail(at + ": symbol index out of range");
    InMemory(r.r_offset, width, PF_W, at);
  }
}

void Checker::Relr(uint64_t addr, uint64_t size) const {
  if (size % 8 != 0) Fail("packed relocations: size not a multiple of 8");
  const uint64_t off = FileOffset(addr, size, "packed relocation table");
  uint64_t where = 0;
  bool have = false;
  for (uint64_t i = 0; i < size / 8; ++i) {
    const uint64_t w = Read<uint64_t>(f_, off + 8 * i);
    if ((w & 1) == 0) {
      InMemory(w, 8, PF_W, "packed relocation");
      where = w + 8;
      have = true;
      continue;
    }
    if (!have) Fail("packed relocations: bitmap before any address");
    for (uint64_t bits = w >> 1, k = 0; bits; bits >>= 1, ++k)
      if (bits & 1) InMemory(where + 8 * k, 8, PF_W, "packed relocation");
    where += 63 * 8;
  }
}

uint64_t Checker::Verdef(uint64_t addr, uint64_t count) const {
  if (count > kMaxVersions) Fail("too many version definitions");
  uint64_t max_index = 1;
  for (uint64_t i = 0; i < count; ++i) {
    const auto v = Read<Elf64_Verdef>(f_, FileOffset(addr, sizeof(Elf64_Verdef), "version definition"));
    if (v.vd_version != VER_DEF_CURRENT) Fail("version definition: unknown revision");
    max_index = std::max<uint64_t>(max_index, v.vd_ndx & 0x7FFF);
    uint64_t aux = addr + v.vd_aux;
    for (uint64_t k = 0; k < v.vd_cnt; ++k) {
      const auto a = Read<Elf64_Verdaux>(f_, FileOffset(aux, sizeof(Elf64_Verdaux), "version definition name"));
      Name(a.vda_name, "version definition");
      aux += a.vda_next;
    }
    if (v.vd_next == 0 && i + 1 < count) Fail("version definitions: fewer than counted");
    addr += v.vd_next;
  }
  return max_index;
}

uint64_t Checker::Verneed(uint64_t addr, uint64_t count) const {
  if (count > kMaxVersions) Fail("too many version requirements");
  uint64_t max_index = 1;
  for (uint64_t i = 0; i < count; ++i) {
    const auto v = Read<Elf64_Verneed>(f_, FileOffset(addr, sizeof(Elf64_Verneed), "version requirement"));
    if (v.vn_version != VER_NEED_CURRENT) Fail("version requirement: unknown revision");
    Name(v.vn_file, "version requirement");
    uint64_t aux = addr + v.vn_aux;
    for (uint64_t k = 0; k < v.vn_cnt; ++k) {
      const auto a = Read<Elf64_Vernaux>(f_, FileOffset(aux, sizeof(Elf64_Vernaux), "version requirement name"));
      Name(a.vna_name, "version requirement");
      max_index = std::max<uint64_t>(max_index, a.vna_other & 0x7FFF);
      if (a.vna_next == 0 && k + 1 < v.vn_cnt) Fail("version requirement: fewer names than counted");
      aux += a.vna_next;
    }
    if (v.vn_next == 0 && i + 1 < count) Fail("version requirements: fewer than counted");
    addr += v.vn_next;
  }
  return max_index;
}

}  // namespace ombrix::elf
