// Reading registration data from plug-in files, and refusing damaged ones.
#include <gtest/gtest.h>
#include <ombrix/host/host.h>

#include <elf.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <fstream>
#include <random>

#include "probe_host.h"

namespace ombrix {
namespace {

namespace fs = std::filesystem;

// An independent PIPL writer following the registration table.
struct PiplWriter {
  std::vector<uint8_t> b;
  void U8(unsigned v) { b.push_back(uint8_t(v)); }
  void U16(unsigned v) {
    U8(v & 0xFF);
    U8(v >> 8);
  }
  void U32(uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
  void Code(const char* c) {
    U8(c[3]);
    U8(c[2]);
    U8(c[1]);
    U8(c[0]);
  }
  void Head(const char* key, uint32_t len) {
    Code("8BIM");
    Code(key);
    U32(0);
    U32(len);
  }
  void Str(const char* key, const std::string& s) {
    uint32_t padded = (1 + uint32_t(s.size()) + 3) & ~3u;
    Head(key, padded);
    U8(unsigned(s.size()));
    for (char c : s) U8(uint8_t(c));
    for (uint32_t i = 1 + uint32_t(s.size()); i < padded; ++i) U8(0);
  }
};

std::vector<uint8_t> MakePipl(const char* entry = "main", uint32_t count = 12) {
  PiplWriter p;
  p.U16(1);
  p.U32(0);
  p.U32(count);
  p.Head("kind", 4);
  p.Code("eFKT");
  p.Str("name", "OB Lightning");
  p.Str("catg", "Ombrix One");
  p.Head("wx86", 8);
  for (int i = 0; i < 8; ++i) p.U8(i < int(std::strlen(entry)) ? uint8_t(entry[i]) : 0);
  p.Head("ePVR", 4);
  p.U16(2);
  p.U16(0);
  p.Head("eSVR", 4);
  p.U16(11);
  p.U16(0);
  p.Head("eVER", 4);
  p.U32(0x80600);
  p.Head("eINF", 2);
  p.U16(0);
  p.U16(0);
  p.Head("eGLO", 4);
  p.U32(0x21);
  p.Str("eMNA", "obx Lightning");
  p.Head("aeFL", 4);
  p.U32(0);
  p.Head("aeRD", 4);
  p.U32(0);
  return p.b;
}

// Offset of the n-th property (0-based) in MakePipl's bytes.
size_t PropertyOffset(const std::vector<uint8_t>& b, int n) {
  size_t pos = 10;
  for (int i = 0; i < n; ++i) {
    uint32_t len =
        uint32_t(b[pos + 12]) | uint32_t(b[pos + 13]) << 8 | uint32_t(b[pos + 14]) << 16 | uint32_t(b[pos + 15]) << 24;
    pos += 16 + ((len + 3) & ~3u);
  }
  return pos;
}

std::string ParseError(const std::vector<uint8_t>& b) {
  try {
    ParsePipl(b);
  } catch (const HostError& e) {
    return e.what();
  }
  return "";
}

TEST(Pipl, ReadsEveryProperty) {
  PiplInfo p = ParsePipl(MakePipl());
  EXPECT_EQ(p.kind, "eFKT");
  EXPECT_EQ(p.display_name, "OB Lightning");
  EXPECT_EQ(p.category, "Ombrix One");
  EXPECT_EQ(p.entry_point, "main");
  EXPECT_EQ(p.pipl_major, 2);
  EXPECT_EQ(p.api_major, 11);
  EXPECT_EQ(p.api_minor, 0);
  EXPECT_EQ(p.effect_version, 0x80600u);
  EXPECT_EQ(p.global_flags, 0x21u);
  EXPECT_EQ(p.match_name, "obx Lightning");
  EXPECT_EQ(p.bytes, MakePipl());
  // The category's stored length is 12 (1 + 10, padded): the bytes of the table.
  EXPECT_EQ(MakePipl()[PropertyOffset(MakePipl(), 2) + 12], 12);
}

TEST(Pipl, RefusesDamagedRegistrations) {
  auto with = [](auto change) {
    std::vector<uint8_t> b = MakePipl();
    change(b);
    return ParseError(b);
  };
  EXPECT_NE(ParseError(MakePipl("mian")).find("entry point 'mian'"), std::string::npos);
  EXPECT_NE(ParseError(MakePipl("main", 11)).find("property count 11"), std::string::npos);
  EXPECT_NE(ParseError(MakePipl("main", 13)).find("property count 13"), std::string::npos);
  EXPECT_NE(with([](auto& b) { b[0] = 2; }).find("header word"), std::string::npos);
  EXPECT_NE(with([](auto& b) { b[2] = 1; }).find("list version"), std::string::npos);
  EXPECT_NE(with([](auto& b) { b[PropertyOffset(b, 3)] = 'X'; }).find("vendor"), std::string::npos);
  EXPECT_NE(with([](auto& b) { b[PropertyOffset(b, 4) + 4] = 'Q'; }).find("unknown key"), std::string::npos);
  EXPECT_NE(with([](auto& b) { b[PropertyOffset(b, 0) + 16] = 'X'; }).find("kind"), std::string::npos);
  // Lengths: past the end, not padded, string count too long, fixed sizes.
  EXPECT_NE(with([](auto& b) { b[PropertyOffset(b, 9) + 15] = 0x7F; }).find("runs past the end"), std::string::npos);
  EXPECT_NE(with([](auto& b) { b[PropertyOffset(b, 1) + 12] = 15; }).find("padded"), std::string::npos);
  EXPECT_NE(with([](auto& b) { b[PropertyOffset(b, 1) + 16] = 40; }).find("does not fit"), std::string::npos);
  EXPECT_NE(with([](auto& b) { b[PropertyOffset(b, 7) + 12] = 4; }).find("expected 2"), std::string::npos);
  // A property repeated in place of another.
  EXPECT_NE(with([](auto& b) {
              size_t at = PropertyOffset(b, 11);
              const long key = long(PropertyOffset(b, 10)) + 4;  // 'aeFL' again in place of 'aeRD'
              std::copy(b.begin() + key, b.begin() + key + 4, b.begin() + long(at) + 4);
            }).find("repeated"),
            std::string::npos);
  // Every truncation of a good list is refused.
  std::vector<uint8_t> good = MakePipl();
  for (size_t n = 0; n < good.size(); ++n)
    EXPECT_THROW(ParsePipl(std::span(good.data(), n)), HostError) << n << " bytes";
}

class PluginFiles : public ::testing::Test {
 protected:
  PluginFiles() {
    dir = fs::temp_directory_path() / ("ombrix_host_core_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ifstream in(testing::ProbePath(), std::ios::binary);
    probe.assign(std::istreambuf_iterator<char>(in), {});
  }
  ~PluginFiles() override { fs::remove_all(dir); }

  fs::path Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    fs::path p = dir / name;
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return p;
  }
  std::string ReadError(const fs::path& p) {
    try {
      ReadPluginFile(p);
    } catch (const HostError& e) {
      return e.what();
    }
    return "";
  }

  fs::path dir;
  std::vector<uint8_t> probe;
};

TEST_F(PluginFiles, ReadsTheProbesRegistrationAndVersionBlock) {
  PluginFile f = ReadPluginFile(testing::ProbePath());
  EXPECT_EQ(f.short_name, "probe");
  EXPECT_EQ(f.pipl.display_name, "OB Probe");
  EXPECT_EQ(f.pipl.match_name, "obx Probe");
  EXPECT_EQ(f.pipl.entry_point, "main");
  EXPECT_EQ(f.pipl.effect_version, 0x80600u);
  EXPECT_EQ(f.version.at("FileDescription"), "OB Probe");
  EXPECT_EQ(f.version.at("OriginalFilename"), "probe.aex");
  EXPECT_EQ(f.version.at("LegalCopyright"), "Copyright 2026 Kestrane. All rights reserved.");
  EXPECT_EQ(f.version.size(), 10u);
}

TEST_F(PluginFiles, RefusesDamagedFilesWithALineNamingThem) {
  ASSERT_GT(probe.size(), 1000u);
  for (size_t n : {size_t(0), size_t(3), size_t(63), size_t(64), size_t(500), probe.size() / 2, probe.size() - 1}) {
    fs::path p =
        Write("cut" + std::to_string(n) + ".aex", std::vector<uint8_t>(probe.begin(), probe.begin() + long(n)));
    std::string e = ReadError(p);
    EXPECT_EQ(e.rfind(p.string() + ": ", 0), 0u) << n << ": " << e;
    EXPECT_EQ(e.find('\n'), std::string::npos);
  }
  EXPECT_NE(ReadError(Write("notes.aex", {'h', 'e', 'l', 'l', 'o', '\n'})).find("not an ELF file"), std::string::npos);
  std::mt19937 rng(7);
  std::vector<uint8_t> noise(4096);
  for (auto& b : noise) b = uint8_t(rng());
  EXPECT_NE(ReadError(Write("noise.aex", noise)), "");
  std::copy(probe.begin(), probe.begin() + 64, noise.begin());  // a real header over noise
  EXPECT_NE(ReadError(Write("header.aex", noise)), "");
  std::vector<uint8_t> foreign = probe;
  foreign[4] = 1;  // 32-bit class
  EXPECT_NE(ReadError(Write("foreign.aex", foreign)).find("64-bit"), std::string::npos);
  EXPECT_NE(ReadError(dir / "missing.aex"), "");
}

TEST_F(PluginFiles, RefusesAProbeWhoseEntryPointIsNotMain) {
  const std::string key = "68xw";  // 'wx86' as stored
  auto at = std::search(probe.begin(), probe.end(), key.begin(), key.end());
  ASSERT_NE(at, probe.end());
  std::vector<uint8_t> bad = probe;
  bad[size_t(at - probe.begin()) + 12 + 1] = 'x';  // data starts 12 bytes after the key: "mxin"
  EXPECT_NE(ReadError(Write("entry.aex", bad)).find("entry point 'mxin'"), std::string::npos);
}

// The probe's loadable structure, located independently of the host's reader.
struct ElfMap {
  explicit ElfMap(std::vector<uint8_t>& b) : f(b) {
    std::memcpy(&eh, f.data(), sizeof eh);
    for (int i = 0; i < eh.e_phnum; ++i) {
      Elf64_Phdr p;
      std::memcpy(&p, f.data() + eh.e_phoff + size_t(i) * sizeof p, sizeof p);
      if (p.p_type == PT_LOAD) loads.push_back(i);
      if (p.p_type == PT_DYNAMIC) dynamic = i;
    }
  }
  std::vector<uint8_t>& f;
  Elf64_Ehdr eh;
  std::vector<int> loads;
  int dynamic = -1;

  template <typename T>
  T& At(size_t offset) {
    return *reinterpret_cast<T*>(f.data() + offset);
  }
  Elf64_Ehdr& Header() { return At<Elf64_Ehdr>(0); }
  Elf64_Phdr& Phdr(int i) { return At<Elf64_Phdr>(eh.e_phoff + size_t(i) * sizeof(Elf64_Phdr)); }
  Elf64_Dyn* Dyn(int64_t tag) {
    for (size_t o = Phdr(dynamic).p_offset;; o += sizeof(Elf64_Dyn)) {
      Elf64_Dyn& d = At<Elf64_Dyn>(o);
      if (d.d_tag == tag) return &d;
      if (d.d_tag == DT_NULL) return nullptr;
    }
  }
  size_t FileOffset(uint64_t addr) {
    for (int i : loads) {
      const Elf64_Phdr& p = Phdr(i);
      if (addr >= p.p_vaddr && addr < p.p_vaddr + p.p_filesz) return size_t(p.p_offset + addr - p.p_vaddr);
    }
    ADD_FAILURE() << "address not in the file";
    return 0;
  }
};

TEST_F(PluginFiles, RefusesDamagedLoadingStructuresBeforeLoading) {
  constexpr uint64_t kFar = 0x7FFFFFF0;
  const std::vector<std::pair<std::string, std::function<void(ElfMap&)>>> cases = {
      {"program header table past the end", [&](ElfMap& m) { m.Header().e_phoff = m.f.size() - 8; }},
      {"program header table past the end", [](ElfMap& m) { m.Header().e_phnum = 0xFF00; }},
      {"program header size", [](ElfMap& m) { m.Header().e_phentsize = 32; }},
      {"past the end of the file", [&](ElfMap& m) { m.Phdr(m.loads[0]).p_offset = kFar; }},
      {"past the end of the file", [&](ElfMap& m) { m.Phdr(m.loads.back()).p_filesz = m.f.size() * 2; }},
      {"not aligned", [](ElfMap& m) { m.Phdr(m.loads.back()).p_offset += 8; }},
      {"past the end of the file", [](ElfMap& m) { m.Phdr(m.dynamic).p_offset = kFar; }},
      {"whole number of entries", [](ElfMap& m) { m.Phdr(m.dynamic).p_filesz -= 3; }},
      {"no dynamic section", [](ElfMap& m) { m.Phdr(m.dynamic).p_type = PT_NULL; }},
      {"string table", [](ElfMap& m) { m.Dyn(DT_STRTAB)->d_un.d_ptr = kFar; }},
      {"string table", [](ElfMap& m) { m.Dyn(DT_STRSZ)->d_un.d_val = kFar; }},
      {"past the string table",
       [](ElfMap& m) { m.At<Elf64_Sym>(m.FileOffset(m.Dyn(DT_SYMTAB)->d_un.d_ptr) + 24).st_name = 0xFFFFFF; }},
      {"symbol table", [](ElfMap& m) { m.Dyn(DT_SYMTAB)->d_un.d_ptr = kFar; }},
      {"hash table", [](ElfMap& m) { m.Dyn(DT_GNU_HASH)->d_un.d_ptr = kFar; }},
      {"GNU hash", [](ElfMap& m) { m.At<uint32_t>(m.FileOffset(m.Dyn(DT_GNU_HASH)->d_un.d_ptr) + 8) = 3; }},
      {"relocation table", [](ElfMap& m) { m.Dyn(DT_RELASZ)->d_un.d_val = kFar / 24 * 24; }},
      {"writable data", [](ElfMap& m) { m.At<Elf64_Rela>(m.FileOffset(m.Dyn(DT_RELA)->d_un.d_ptr)).r_offset = kFar; }},
      {"symbol index out of range",
       [](ElfMap& m) {
         m.At<Elf64_Rela>(m.FileOffset(m.Dyn(DT_RELA)->d_un.d_ptr)).r_info = ELF64_R_INFO(0xFFFF, R_X86_64_64);
       }},
      {"GNU hash chain",
       [](ElfMap& m) {
         const size_t h = m.FileOffset(m.Dyn(DT_GNU_HASH)->d_un.d_ptr);
         m.At<uint32_t>(h + 16 + 8 * m.At<uint32_t>(h + 8)) = 0xFFFFFF;  // the first bucket
       }},
      {"initialiser array", [](ElfMap& m) { m.Dyn(DT_INIT_ARRAY)->d_un.d_ptr = kFar; }},
      {"not terminated",
       [](ElfMap& m) {
         for (size_t o = m.Phdr(m.dynamic).p_offset; o < m.Phdr(m.dynamic).p_offset + m.Phdr(m.dynamic).p_filesz;
              o += sizeof(Elf64_Dyn))
           if (m.At<Elf64_Dyn>(o).d_tag == DT_NULL) m.At<Elf64_Dyn>(o).d_tag = DT_DEBUG;
       }},
  };
  int n = 0;
  for (const auto& [message, damage] : cases) {
    std::vector<uint8_t> bytes = probe;
    ElfMap map(bytes);
    ASSERT_GE(map.dynamic, 0);
    damage(map);
    const fs::path p = Write("damaged" + std::to_string(n++) + ".aex", bytes);
    const std::string e = ReadError(p);
    EXPECT_EQ(e.rfind(p.string() + ": ", 0), 0u) << message << ": " << e;
    EXPECT_NE(e.find(message), std::string::npos) << e;
  }
}

// Fifty random bytes changed, as a damaged download might: every copy is
// refused by the reader, or refused by its trial in a child process, or
// loads and renders here exactly as its trial did; the test process survives.
TEST_F(PluginFiles, RandomlyDamagedCopiesAreRefusedOrIsolated) {
  std::mt19937 rng(1234);
  PluginTrials trials;
  int read_refused = 0, trial_refused = 0, loaded = 0;
  for (int i = 0; i < 40; ++i) {
    std::vector<uint8_t> bytes = probe;
    for (int k = 0; k < 50; ++k) bytes[rng() % bytes.size()] = uint8_t(rng());
    const fs::path p = Write("damaged" + std::to_string(i) + ".aex", bytes);
    std::optional<PluginFile> file;
    try {
      file = ReadPluginFile(p);
    } catch (const HostError& e) {
      EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
      ++read_refused;
      continue;
    }
    if (!trials.Verdict(*file).empty()) {
      ++trial_refused;
      continue;
    }
    Host host;
    host.on_message = [](std::string_view) {};
    Effect effect(host, *file);
    Instance instance(effect, TimeBase::ForRate(FrameRate{}), 8, 4);
    World in(8, 4), out(8, 4);
    instance.RenderFrame(0, in.pf(), out);
    ++loaded;
  }
  EXPECT_EQ(read_refused + trial_refused + loaded, 40);
  EXPECT_EQ(trials.trials_run(), trial_refused + loaded);
}

TEST_F(PluginFiles, ScanSortsByCategoryThenNameAndListsRejects) {
  fs::copy_file(testing::ProbePath(), dir / "probe.aex");
  fs::copy_file(testing::FlatProbePath(), dir / "flatprobe.aex");
  Write("broken.aex", {'n', 'o'});
  Write("readme.txt", {'x'});
  PluginScan scan = ScanPluginFolder(dir);
  ASSERT_EQ(scan.plugins.size(), 2u);
  // "Ombrix One" sorts before "Ombrix Tests", whatever the display names.
  EXPECT_EQ(scan.plugins[0].pipl.display_name, "OB Probe");
  EXPECT_EQ(scan.plugins[1].pipl.display_name, "AA Flat Probe");
  ASSERT_EQ(scan.errors.size(), 1u);
  EXPECT_NE(scan.errors[0].find("broken.aex"), std::string::npos);

  EXPECT_EQ(FindPlugin(scan, "probe").short_name, "probe");
  EXPECT_EQ(FindPlugin(scan, "OB Probe").short_name, "probe");
  EXPECT_EQ(FindPlugin(scan, "obx Flat Probe").short_name, "flatprobe");
  EXPECT_EQ(FindPlugin(scan, "ob probe").short_name, "probe");
  EXPECT_THROW(FindPlugin(scan, "mistform"), HostError);

  PluginScan none = ScanPluginFolder(dir / "absent");
  EXPECT_TRUE(none.plugins.empty());
  EXPECT_EQ(none.errors.size(), 1u);
}

TEST(DefaultPluginFolder, EnvironmentComesFirst) {
  const char* old = std::getenv("OMBRIX_PLUGIN_PATH");
  std::string saved = old ? old : "";
  ::setenv("OMBRIX_PLUGIN_PATH", "/some/where", 1);
  EXPECT_EQ(DefaultPluginFolder(), fs::path("/some/where"));
  ::unsetenv("OMBRIX_PLUGIN_PATH");
  EXPECT_FALSE(DefaultPluginFolder().empty());
  if (old) ::setenv("OMBRIX_PLUGIN_PATH", saved.c_str(), 1);
}

}  // namespace
}  // namespace ombrix
