// Checks a plug-in's loadable structure before the dynamic loader sees it.
//
// dlopen trusts the file: a program header, dynamic entry, hash table or
// relocation that points outside the file (or outside the memory it maps)
// makes the loader read or write wild addresses and the whole process dies.
// Everything the loader follows is checked here against the file's bounds
// and the segments it maps: the ELF header, the program headers, the
// dynamic section and the tables it names (strings, symbols, hash tables,
// symbol versions, relocations, initialisers). What cannot be checked
// without running code (the code itself) is left to the trial run in a
// child process (plugin_trial.cpp).
#include "elf_check.h"

#include <elf.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace ombrix {
namespace {

static_assert(std::endian::native == std::endian::little, "plug-ins are little-endian ELF files");

[[noreturn]] void Fail(const std::string& what) { throw HostError(what); }

std::string Hex(uint64_t v) {
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
bool Inside(uint64_t offset, uint64_t size, uint64_t limit) { return offset <= limit && size <= limit - offset; }

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

  // --- where an address lives -------------------------------------------------
  // The file offset of [addr, addr + size) when a loaded segment maps it
  // from the file, else fails naming `what`.
  uint64_t FileOffset(uint64_t addr, uint64_t size, const std::string& what) const {
    for (const Elf64_Phdr& p : loads_)
      if (addr >= p.p_vaddr && Inside(addr - p.p_vaddr, size, p.p_filesz)) return p.p_offset + (addr - p.p_vaddr);
    Fail(what + " at " + Hex(addr) + " (" + std::to_string(size) + " bytes) lies outside the file's loaded contents");
  }
  // [addr, addr + size) inside one loaded segment's memory with the given flags.
  void InMemory(uint64_t addr, uint64_t size, uint32_t flags, const std::string& what) const {
    for (const Elf64_Phdr& p : loads_)
      if (addr >= p.p_vaddr && Inside(addr - p.p_vaddr, size, p.p_memsz) && (p.p_flags & flags) == flags) return;
    Fail(what + " at " + Hex(addr) + " lies outside the plug-in's " +
         (flags & PF_X ? "code" : flags & PF_W ? "writable data" : "memory"));
  }

  // --- ELF header ---------------------------------------------------------------
  void Header() {
    if (f_.size() < sizeof(Elf64_Ehdr)) Fail("truncated ELF header");
    eh_ = Read<Elf64_Ehdr>(f_, 0);
    if (eh_.e_ident[EI_VERSION] != EV_CURRENT || eh_.e_version != EV_CURRENT)
      Fail("unknown ELF version " + std::to_string(eh_.e_version));
    if (eh_.e_ident[EI_OSABI] != ELFOSABI_SYSV && eh_.e_ident[EI_OSABI] != ELFOSABI_GNU)
      Fail("built for another system (ELF OS ABI " + std::to_string(eh_.e_ident[EI_OSABI]) + ")");
    if (eh_.e_ehsize != sizeof(Elf64_Ehdr)) Fail("bad ELF header size " + std::to_string(eh_.e_ehsize));
    if (eh_.e_phentsize != sizeof(Elf64_Phdr)) Fail("bad program header size " + std::to_string(eh_.e_phentsize));
    if (eh_.e_phnum == 0 || eh_.e_phnum == PN_XNUM) Fail("bad program header count " + std::to_string(eh_.e_phnum));
    if (!Inside(eh_.e_phoff, uint64_t(eh_.e_phnum) * sizeof(Elf64_Phdr), f_.size()))
      Fail("program header table past the end of the file");
  }

  // --- program headers ------------------------------------------------------------
  void ProgramHeaders() {
    std::vector<Elf64_Phdr> all;
    for (uint64_t i = 0; i < eh_.e_phnum; ++i) all.push_back(Read<Elf64_Phdr>(f_, eh_.e_phoff + i * sizeof(Elf64_Phdr)));
    for (size_t i = 0; i < all.size(); ++i) {
      const Elf64_Phdr& p = all[i];
      const std::string at = "program header " + std::to_string(i);
      if (p.p_type != PT_LOAD && p.p_type != PT_DYNAMIC && p.p_type != PT_NOTE && p.p_type != PT_TLS &&
          p.p_type != PT_GNU_EH_FRAME && p.p_type != PT_GNU_PROPERTY && p.p_type != PT_GNU_RELRO &&
          p.p_type != PT_GNU_STACK && p.p_type != PT_PHDR && p.p_type != PT_NULL)
        Fail(at + ": unexpected segment type " + Hex(p.p_type));
      if (p.p_type == PT_NULL || p.p_type == PT_GNU_STACK) continue;
      if (!Inside(p.p_offset, p.p_filesz, f_.size())) Fail(at + ": contents past the end of the file");
      if (p.p_filesz > p.p_memsz) Fail(at + ": more bytes in the file than in memory");
      if (p.p_vaddr > kMaxSpan || p.p_memsz > kMaxSpan - p.p_vaddr) Fail(at + ": address out of range");
      if (p.p_align > 1 && !std::has_single_bit(p.p_align)) Fail(at + ": alignment is not a power of two");
      if (p.p_type == PT_LOAD) {
        if (p.p_align < kPage || (p.p_vaddr - p.p_offset) % kPage != 0)
          Fail(at + ": loaded segment not aligned to pages");
        if (!loads_.empty() && p.p_vaddr < loads_.back().p_vaddr + loads_.back().p_memsz)
          Fail(at + ": loaded segments overlap or are out of order");
        loads_.push_back(p);
      } else if (p.p_type == PT_DYNAMIC) {
        if (dynamic_) Fail(at + ": a second dynamic section");
        dynamic_ = p;
      }
    }
    if (loads_.empty()) Fail("no loadable segment");
    if (!dynamic_) Fail("no dynamic section");
    for (size_t i = 0; i < all.size(); ++i) {
      const Elf64_Phdr& p = all[i];
      const std::string at = "program header " + std::to_string(i);
      switch (p.p_type) {
        case PT_DYNAMIC:
        case PT_NOTE:
        case PT_GNU_EH_FRAME:
        case PT_GNU_PROPERTY:
          if (FileOffset(p.p_vaddr, p.p_filesz, at) != p.p_offset)
            Fail(at + ": file offset does not match its address");
          break;
        case PT_TLS:
        case PT_GNU_RELRO:
          InMemory(p.p_vaddr, p.p_memsz, 0, at);
          break;
        case PT_PHDR:
          if (p.p_offset != eh_.e_phoff || p.p_filesz < uint64_t(eh_.e_phnum) * sizeof(Elf64_Phdr) ||
              FileOffset(p.p_vaddr, p.p_filesz, at) != p.p_offset)
            Fail(at + ": does not describe the program header table");
          break;
        default:
          break;
      }
      if (p.p_type == PT_NOTE || p.p_type == PT_GNU_PROPERTY) Notes(p, at);
    }
  }

  void Notes(const Elf64_Phdr& p, const std::string& at) const {
    // Notes of 8-byte alignment pad name and description to 8, others to 4.
    const uint64_t align = p.p_align == 8 ? 8 : 4;
    const auto pad = [&](uint64_t n) { return (n + align - 1) & ~(align - 1); };
    uint64_t pos = 0;
    while (pos < p.p_filesz) {
      if (!Inside(pos, sizeof(Elf64_Nhdr), p.p_filesz)) Fail(at + ": truncated note");
      const auto n = Read<Elf64_Nhdr>(f_, p.p_offset + pos);
      pos += sizeof(Elf64_Nhdr);
      const uint64_t name = pad(n.n_namesz), desc = pad(n.n_descsz);
      if (!Inside(pos, name, p.p_filesz) || !Inside(pos + name, desc, p.p_filesz)) Fail(at + ": note past its segment");
      pos += name + desc;
    }
  }

  // --- dynamic section ------------------------------------------------------------
  struct Table {
    uint64_t addr = 0, size = 0, entsize = 0;
    bool has_addr = false, has_size = false, has_ent = false;
  };

  void Dynamic() {
    const Elf64_Phdr& d = *dynamic_;
    if (d.p_filesz % sizeof(Elf64_Dyn) != 0) Fail("dynamic section size is not a whole number of entries");
    std::vector<Elf64_Dyn> dyn;
    bool ended = false;
    for (uint64_t pos = 0; pos < d.p_filesz; pos += sizeof(Elf64_Dyn)) {
      const auto e = Read<Elf64_Dyn>(f_, d.p_offset + pos);
      if (e.d_tag == DT_NULL) {
        ended = true;
        break;
      }
      dyn.push_back(e);
    }
    if (!ended) Fail("dynamic section not terminated");

    std::map<int64_t, uint64_t> one;  // the value of each tag that may appear once
    std::vector<uint64_t> names;      // string offsets: needed libraries, soname, search paths
    for (const Elf64_Dyn& e : dyn) {
      switch (e.d_tag) {
        case DT_NEEDED:
        case DT_SONAME:
        case DT_RPATH:
        case DT_RUNPATH:
          names.push_back(e.d_un.d_val);
          break;
        case DT_TEXTREL: Fail("dynamic section: text relocations");
        case DT_REL:
        case DT_RELSZ:
        case DT_RELENT: Fail("dynamic section: REL relocations (x86-64 uses RELA)");
        case DT_PREINIT_ARRAY: Fail("dynamic section: pre-initialisers in a shared object");
        default:
          if (!one.emplace(e.d_tag, e.d_un.d_val).second &&
              (e.d_tag < DT_NUM || e.d_tag == DT_GNU_HASH || e.d_tag == DT_VERSYM || e.d_tag == DT_VERNEED ||
               e.d_tag == DT_VERDEF))
            Fail("dynamic section: tag " + std::to_string(e.d_tag) + " repeated");
      }
    }
    auto get = [&](int64_t tag) -> std::optional<uint64_t> {
      auto it = one.find(tag);
      if (it == one.end()) return std::nullopt;
      return it->second;
    };
    if ((get(DT_FLAGS).value_or(0) & DF_TEXTREL) != 0) Fail("dynamic section: text relocations");

    // Strings.
    const auto strtab = get(DT_STRTAB), strsz = get(DT_STRSZ);
    if (!strtab || !strsz || *strsz == 0) Fail("dynamic section: no string table");
    str_off_ = FileOffset(*strtab, *strsz, "string table");
    str_size_ = *strsz;
    if (f_[str_off_ + str_size_ - 1] != 0) Fail("string table not terminated");
    for (uint64_t n : names) Name(n, "dynamic section name");

    // Symbols: their count comes from the hash tables.
    const auto symtab = get(DT_SYMTAB);
    if (!symtab) Fail("dynamic section: no symbol table");
    if (get(DT_SYMENT).value_or(sizeof(Elf64_Sym)) != sizeof(Elf64_Sym)) Fail("dynamic section: bad symbol size");
    uint64_t nsyms = 0;
    const auto hash = get(DT_HASH), gnu_hash = get(DT_GNU_HASH);
    if (!hash && !gnu_hash) Fail("dynamic section: no symbol hash table");
    if (hash) nsyms = std::max(nsyms, SysvHash(*hash));
    if (gnu_hash) nsyms = std::max(nsyms, GnuHash(*gnu_hash));
    sym_off_ = FileOffset(*symtab, nsyms * sizeof(Elf64_Sym), "symbol table");
    nsyms_ = nsyms;
    for (uint64_t i = 0; i < nsyms; ++i) Symbol(i);

    // Symbol versions.
    uint64_t max_version = 1;
    if (const auto verdef = get(DT_VERDEF)) max_version = std::max(max_version, Verdef(*verdef, get(DT_VERDEFNUM).value_or(0)));
    if (const auto verneed = get(DT_VERNEED))
      max_version = std::max(max_version, Verneed(*verneed, get(DT_VERNEEDNUM).value_or(0)));
    if (const auto versym = get(DT_VERSYM)) {
      const uint64_t off = FileOffset(*versym, nsyms * 2, "symbol version table");
      for (uint64_t i = 0; i < nsyms; ++i)
        if ((Read<uint16_t>(f_, off + 2 * i) & 0x7FFF) > max_version)
          Fail("symbol " + std::to_string(i) + ": unknown version index");
    }

    // Relocations.
    if (get(DT_RELAENT).value_or(sizeof(Elf64_Rela)) != sizeof(Elf64_Rela)) Fail("dynamic section: bad relocation size");
    if (const auto rela = get(DT_RELA)) Relocations(*rela, get(DT_RELASZ).value_or(0), "relocation");
    if (const auto jmprel = get(DT_JMPREL)) {
      if (get(DT_PLTREL).value_or(DT_RELA) != DT_RELA) Fail("dynamic section: PLT relocations not RELA");
      Relocations(*jmprel, get(DT_PLTRELSZ).value_or(0), "PLT relocation");
    }
    if (const auto relr = get(DT_RELR)) Relr(*relr, get(DT_RELRSZ).value_or(0));

    // Initialisers and finalisers.
    for (int64_t tag : {DT_INIT, DT_FINI})
      if (const auto fn = get(tag)) InMemory(*fn, 1, PF_X, tag == DT_INIT ? "initialiser" : "finaliser");
    const std::pair<int64_t, int64_t> arrays[] = {{DT_INIT_ARRAY, DT_INIT_ARRAYSZ}, {DT_FINI_ARRAY, DT_FINI_ARRAYSZ}};
    for (auto [tag, size_tag] : arrays) {
      const auto addr = get(tag);
      const uint64_t size = get(size_tag).value_or(0);
      if (!addr) continue;
      if (size % 8 != 0) Fail("dynamic section: initialiser array size not a multiple of 8");
      InMemory(*addr, size, 0, "initialiser array");
    }
  }

  uint64_t str_off_ = 0, str_size_ = 0, sym_off_ = 0, nsyms_ = 0;

  void Name(uint64_t offset, const std::string& what) const {
    if (offset >= str_size_) Fail(what + ": name offset " + std::to_string(offset) + " past the string table");
  }

  // The classic hash table: nbucket, nchain, buckets, chains; nchain symbols.
  uint64_t SysvHash(uint64_t addr) const {
    const uint64_t head = FileOffset(addr, 8, "hash table");
    const uint64_t nbucket = Read<uint32_t>(f_, head), nchain = Read<uint32_t>(f_, head + 4);
    const uint64_t off = FileOffset(addr, 8 + 4 * (nbucket + nchain), "hash table");
    for (uint64_t i = 0; i < nbucket + nchain; ++i)
      if (Read<uint32_t>(f_, off + 8 + 4 * i) >= std::max<uint64_t>(nchain, 1)) Fail("hash table: symbol index out of range");
    return nchain;
  }

  // The GNU hash table: nbuckets, symoffset, bloom words, buckets, then one
  // chain word per hashed symbol, each chain ended by a word with bit 0 set.
  uint64_t GnuHash(uint64_t addr) const {
    const uint64_t head = FileOffset(addr, 16, "GNU hash table");
    const uint64_t nbuckets = Read<uint32_t>(f_, head), symoffset = Read<uint32_t>(f_, head + 4);
    const uint64_t bloom = Read<uint32_t>(f_, head + 8), shift = Read<uint32_t>(f_, head + 12);
    if (nbuckets == 0 || bloom == 0 || !std::has_single_bit(bloom) || shift >= 64)
      Fail("GNU hash table: bad header");
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

  void Symbol(uint64_t i) const {
    const auto s = Read<Elf64_Sym>(f_, sym_off_ + i * sizeof(Elf64_Sym));
    const std::string at = "symbol " + std::to_string(i);
    Name(s.st_name, at);
    const unsigned type = ELF64_ST_TYPE(s.st_info);
    if (s.st_shndx == SHN_UNDEF || s.st_shndx == SHN_ABS || type == STT_TLS || type == STT_SECTION) return;
    if (type == STT_FUNC || type == STT_GNU_IFUNC) InMemory(s.st_value, 1, PF_X, at);
    else InMemory(s.st_value, s.st_size, 0, at);
  }

  void Relocations(uint64_t addr, uint64_t size, const std::string& what) const {
    if (size % sizeof(Elf64_Rela) != 0) Fail(what + "s: size not a whole number of entries");
    const uint64_t off = FileOffset(addr, size, what + " table");
    for (uint64_t i = 0; i < size / sizeof(Elf64_Rela); ++i) {
      const auto r = Read<Elf64_Rela>(f_, off + i * sizeof(Elf64_Rela));
      const std::string at = what + " " + std::to_string(i);
      const uint64_t type = ELF64_R_TYPE(r.r_info), sym = ELF64_R_SYM(r.r_info);
      uint64_t width = 8;
      switch (type) {
        case R_X86_64_NONE: continue;
        case R_X86_64_PC32:
        case R_X86_64_32:
        case R_X86_64_32S: width = 4; break;
        case R_X86_64_TLSDESC: width = 16; break;
        case R_X86_64_64:
        case R_X86_64_GLOB_DAT:
        case R_X86_64_JUMP_SLOT:
        case R_X86_64_RELATIVE:
        case R_X86_64_DTPMOD64:
        case R_X86_64_DTPOFF64:
        case R_X86_64_TPOFF64:
        case R_X86_64_PC64: break;
        case R_X86_64_IRELATIVE: InMemory(uint64_t(r.r_addend), 1, PF_X, at + " resolver"); break;
        default: Fail(at + ": unexpected relocation type " + std::to_string(type));
      }
      if (sym >= std::max<uint64_t>(nsyms_, 1)) Fail(at + ": symbol index out of range");
      InMemory(r.r_offset, width, PF_W, at);
    }
  }

  // Packed relative relocations: an address word, then bitmaps of the 63
  // words that follow it.
  void Relr(uint64_t addr, uint64_t size) const {
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

  // Version definitions; answers the largest version index defined.
  uint64_t Verdef(uint64_t addr, uint64_t count) const {
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

  // Versions needed from other libraries; answers the largest index used.
  uint64_t Verneed(uint64_t addr, uint64_t count) const {
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
};

}  // namespace

void CheckLoadableElf(std::span<const uint8_t> file) { Checker(file).Run(); }

}  // namespace ombrix
