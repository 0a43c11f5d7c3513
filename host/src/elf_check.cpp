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
#include "elf_checker.h"

#include <algorithm>
#include <bit>
#include <map>

namespace ombrix {
namespace elf {

static_assert(std::endian::native == std::endian::little, "plug-ins are little-endian ELF files");

uint64_t Checker::FileOffset(uint64_t addr, uint64_t size, const std::string& what) const {
  for (const Elf64_Phdr& p : loads_)
    if (addr >= p.p_vaddr && Inside(addr - p.p_vaddr, size, p.p_filesz)) return p.p_offset + (addr - p.p_vaddr);
  Fail(what + " at " + Hex(addr) + " (" + std::to_string(size) + " bytes) lies outside the file's loaded contents");
}

void Checker::InMemory(uint64_t addr, uint64_t size, uint32_t flags, const std::string& what) const {
  for (const Elf64_Phdr& p : loads_)
    if (addr >= p.p_vaddr && Inside(addr - p.p_vaddr, size, p.p_memsz) && (p.p_flags & flags) == flags) return;
  Fail(what + " at " + Hex(addr) + " lies outside the plug-in's " +
       (flags & PF_X   ? "code"
        : flags & PF_W ? "writable data"
                       : "memory"));
}

void Checker::Header() {
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

void Checker::ProgramHeaders() {
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
        if (FileOffset(p.p_vaddr, p.p_filesz, at) != p.p_offset) Fail(at + ": file offset does not match its address");
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

void Checker::Notes(const Elf64_Phdr& p, const std::string& at) const {
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

void Checker::Dynamic() {
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
      case DT_TEXTREL:
        Fail("dynamic section: text relocations");
      case DT_REL:
      case DT_RELSZ:
      case DT_RELENT:
        Fail("dynamic section: REL relocations (x86-64 uses RELA)");
      case DT_PREINIT_ARRAY:
        Fail("dynamic section: pre-initialisers in a shared object");
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
  if (const auto verdef = get(DT_VERDEF))
    max_version = std::max(max_version, Verdef(*verdef, get(DT_VERDEFNUM).value_or(0)));
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

}  // namespace elf

void CheckLoadableElf(std::span<const uint8_t> file) { elf::Checker(file).Run(); }

}  // namespace ombrix
