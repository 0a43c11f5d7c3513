// Reading plug-in files without running them: a bounds-checked ELF64
// section reader, the PIPL parser, the version block, and folder scanning.
#include <ombrix/host/host_error.h>
#include <ombrix/host/plugin_file.h>

#include "elf_check.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <unistd.h>

#ifndef OMBRIX_BUILD_PLUGIN_DIR
#define OMBRIX_BUILD_PLUGIN_DIR ""
#endif
#ifndef OMBRIX_INSTALL_PLUGIN_DIR
#define OMBRIX_INSTALL_PLUGIN_DIR "lib/ombrix/plugins"
#endif

namespace ombrix {
namespace fs = std::filesystem;
namespace {

constexpr uint64_t kMaxPluginFileSize = uint64_t(256) << 20;

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t Le64(const uint8_t* p) { return uint64_t(Le32(p)) | uint64_t(Le32(p + 4)) << 32; }

// A four-character code stored as a little-endian word, read back in its
// natural order ('8BIM' is stored as the bytes "MIB8").
std::string FourCC(const uint8_t* p) { return std::string{char(p[3]), char(p[2]), char(p[1]), char(p[0])}; }

std::string Printable(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7F) {
      out += char(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out;
}

[[noreturn]] void Fail(const std::string& what) { throw HostError(what); }

// ---------------------------------------------------------------------------
// ELF64 little-endian sections
// ---------------------------------------------------------------------------
struct ElfSection {
  std::string name;
  uint32_t type = 0;
  uint64_t offset = 0, size = 0;
};

constexpr uint32_t kShtNobits = 8;

std::vector<ElfSection> ReadElfSections(std::span<const uint8_t> f) {
  if (f.size() < 4 || std::memcmp(f.data(),
                                  "\x7F"
                                  "ELF",
                                  4) != 0)
    Fail("not an ELF file");
  if (f.size() < 64) Fail("truncated ELF header");
  if (f[4] != 2) Fail("not a 64-bit ELF file");
  if (f[5] != 1) Fail("not a little-endian ELF file");
  if (Le16(&f[16]) != 3) Fail("not a shared object (ELF type " + std::to_string(Le16(&f[16])) + ")");
  if (Le16(&f[18]) != 62) Fail("built for another machine (ELF machine " + std::to_string(Le16(&f[18])) + ")");
  const uint64_t shoff = Le64(&f[40]);
  const uint16_t shentsize = Le16(&f[58]);
  uint64_t shnum = Le16(&f[60]);
  uint64_t shstrndx = Le16(&f[62]);
  if (shoff == 0) Fail("no section header table");
  if (shentsize != 64) Fail("bad section header size " + std::to_string(shentsize));
  if (shoff > f.size() || f.size() - shoff < 64) Fail("section header table past the end of the file");
  const uint8_t* first = &f[shoff];
  if (shnum == 0) shnum = Le64(first + 32);  // extended numbering
  if (shstrndx == 0xFFFF) shstrndx = Le32(first + 40);
  if (shnum == 0 || shnum > (f.size() - shoff) / 64) Fail("truncated section header table");
  if (shstrndx >= shnum) Fail("section name table index out of range");

  std::vector<ElfSection> sections(shnum);
  for (uint64_t i = 0; i < shnum; ++i) {
    const uint8_t* h = &f[shoff + i * 64];
    ElfSection& s = sections[i];
    s.type = Le32(h + 4);
    s.offset = Le64(h + 24);
    s.size = Le64(h + 32);
    if (s.type != kShtNobits && (s.offset > f.size() || s.size > f.size() - s.offset))
      Fail("section " + std::to_string(i) + " runs past the end of the file");
  }
  const ElfSection& names = sections[shstrndx];
  if (names.type == kShtNobits) Fail("section name table holds no data");
  for (uint64_t i = 0; i < shnum; ++i) {
    const uint32_t at = Le32(&f[shoff + i * 64]);
    if (at >= names.size) Fail("section " + std::to_string(i) + " name out of range");
    const char* p = reinterpret_cast<const char*>(&f[names.offset + at]);
    const size_t len = strnlen(p, size_t(names.size - at));
    if (len == names.size - at) Fail("section " + std::to_string(i) + " name not terminated");
    sections[i].name.assign(p, len);
  }
  return sections;
}

std::span<const uint8_t> FindSection(std::span<const uint8_t> f, const std::vector<ElfSection>& sections,
                                     std::string_view name) {
  for (const ElfSection& s : sections)
    if (s.name == name) {
      if (s.type == kShtNobits) Fail("section " + std::string(name) + " holds no data");
      return f.subspan(s.offset, s.size);
    }
  Fail("no " + std::string(name) + " section");
}

// "Key\0Value\0...\0" ended by one extra NUL.
std::map<std::string, std::string> ParseVersionBlock(std::span<const uint8_t> b) {
  std::map<std::string, std::string> out;
  size_t pos = 0;
  auto next = [&](const char* what) {
    const uint8_t* start = b.data() + pos;
    const uint8_t* stop = b.data() + b.size();
    const uint8_t* end = std::find(start, stop, uint8_t(0));
    if (end == stop) Fail(std::string("version block: ") + what + " not terminated");
    std::string s(reinterpret_cast<const char*>(start), size_t(end - start));
    pos = size_t(end - b.data()) + 1;
    return s;
  };
  for (;;) {
    if (pos >= b.size()) Fail("version block: missing final NUL");
    if (b[pos] == 0) break;
    std::string key = next("key");
    if (pos >= b.size()) Fail("version block: key '" + Printable(key) + "' has no value");
    std::string value = next("value");
    if (!out.emplace(key, value).second) Fail("version block: key '" + Printable(key) + "' repeated");
  }
  return out;
}

std::vector<uint8_t> ReadWholeFile(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) Fail("not a regular file");
  const uint64_t size = fs::file_size(path, ec);
  if (ec) Fail("cannot read: " + ec.message());
  if (size > kMaxPluginFileSize) Fail("file too large to be a plug-in");
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot open for reading");
  std::vector<uint8_t> bytes(size);
  if (size && !in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(size))) Fail("read error");
  return bytes;
}

// ---------------------------------------------------------------------------
// PIPL
// ---------------------------------------------------------------------------
enum class Prop { kind, name, catg, wx86, ePVR, eSVR, eVER, eINF, eGLO, eMNA, aeFL, aeRD };
constexpr std::string_view kPropKeys[] = {"kind", "name", "catg", "wx86", "ePVR", "eSVR",
                                          "eVER", "eINF", "eGLO", "eMNA", "aeFL", "aeRD"};
constexpr int kPropCount = 12;

// A length-prefixed string property: count byte, characters, zero padding;
// the length field holds the padded size.
std::string PascalString(const uint8_t* d, uint32_t len, const std::string& where) {
  if (len == 0 || len % 4 != 0) Fail(where + ": length " + std::to_string(len) + " is not a padded string length");
  const uint32_t n = d[0];
  if (1 + n > len)
    Fail(where + ": string of " + std::to_string(n) + " characters does not fit in " + std::to_string(len) + " bytes");
  return std::string(reinterpret_cast<const char*>(d + 1), n);
}

void ExpectLength(uint32_t len, uint32_t want, const std::string& where) {
  if (len != want) Fail(where + ": length " + std::to_string(len) + ", expected " + std::to_string(want));
}

}  // namespace

PiplInfo ParsePipl(std::span<const uint8_t> b) {
  if (b.size() < 10) Fail("PIPL: " + std::to_string(b.size()) + " bytes, too short for its header");
  if (Le16(&b[0]) != 1) Fail("PIPL: header word " + std::to_string(Le16(&b[0])) + ", expected 1");
  if (Le32(&b[2]) != 0) Fail("PIPL: list version " + std::to_string(Le32(&b[2])) + ", expected 0");
  const uint32_t count = Le32(&b[6]);
  if (count != kPropCount) Fail("PIPL: property count " + std::to_string(count) + ", expected 12");

  PiplInfo info;
  bool seen[kPropCount] = {};
  size_t pos = 10;
  for (int i = 0; i < kPropCount; ++i) {
    const std::string at = "PIPL property " + std::to_string(i + 1);
    if (b.size() - pos < 16) Fail(at + ": header past the end of the data");
    const std::string vendor = FourCC(&b[pos]);
    const std::string key = FourCC(&b[pos + 4]);
    const uint32_t len = Le32(&b[pos + 12]);
    if (vendor != "8BIM") Fail(at + ": vendor '" + Printable(vendor) + "', expected '8BIM'");
    auto k = std::find(std::begin(kPropKeys), std::end(kPropKeys), key);
    if (k == std::end(kPropKeys)) Fail(at + ": unknown key '" + Printable(key) + "'");
    const int which = int(k - std::begin(kPropKeys));
    const std::string where = at + " ('" + key + "')";
    if (seen[which]) Fail(where + ": repeated");
    seen[which] = true;
    pos += 16;
    const uint64_t padded = (uint64_t(len) + 3) & ~uint64_t(3);
    if (padded > b.size() - pos) Fail(where + ": length " + std::to_string(len) + " runs past the end of the data");
    const uint8_t* d = &b[pos];
    switch (Prop(which)) {
      case Prop::kind:
        ExpectLength(len, 4, where);
        info.kind = FourCC(d);
        if (info.kind != "eFKT") Fail(where + ": kind '" + Printable(info.kind) + "', expected 'eFKT'");
        break;
      case Prop::name:
        info.display_name = PascalString(d, len, where);
        break;
      case Prop::catg:
        info.category = PascalString(d, len, where);
        break;
      case Prop::eMNA:
        info.match_name = PascalString(d, len, where);
        break;
      case Prop::wx86: {
        if (len == 0) Fail(where + ": empty entry point");
        const size_t n = strnlen(reinterpret_cast<const char*>(d), len);
        if (n == len) Fail(where + ": entry point not terminated");
        info.entry_point.assign(reinterpret_cast<const char*>(d), n);
        if (info.entry_point != "main")
          Fail(where + ": entry point '" + Printable(info.entry_point) + "', expected 'main'");
        break;
      }
      case Prop::ePVR:
        ExpectLength(len, 4, where);
        info.pipl_major = Le16(d);
        info.pipl_minor = Le16(d + 2);
        break;
      case Prop::eSVR:
        ExpectLength(len, 4, where);
        info.api_major = Le16(d);
        info.api_minor = Le16(d + 2);
        break;
      case Prop::eVER:
        ExpectLength(len, 4, where);
        info.effect_version = Le32(d);
        break;
      case Prop::eINF:
        ExpectLength(len, 2, where);
        info.info_flags = Le16(d);
        break;
      case Prop::eGLO:
        ExpectLength(len, 4, where);
        info.global_flags = Le32(d);
        break;
      case Prop::aeFL:
        ExpectLength(len, 4, where);
        info.ae_flags = Le32(d);
        break;
      case Prop::aeRD:
        ExpectLength(len, 4, where);
        info.ae_reserved = Le32(d);
        break;
    }
    pos += padded;
  }
  info.bytes.assign(b.begin(), b.begin() + pos);
  return info;
}

PluginFile ParsePluginFile(std::span<const uint8_t> bytes, const fs::path& path) {
  try {
    const std::vector<ElfSection> sections = ReadElfSections(bytes);
    CheckLoadableElf(bytes);
    PluginFile pf;
    pf.path = path;
    pf.short_name = path.stem().string();
    pf.pipl = ParsePipl(FindSection(bytes, sections, ".pipl"));
    pf.version = ParseVersionBlock(FindSection(bytes, sections, ".obxver"));
    return pf;
  } catch (const HostError& e) {
    throw HostError(path.string() + ": " + e.what());
  }
}

PluginFile ReadPluginFile(const fs::path& path) {
  std::vector<uint8_t> bytes;
  try {
    bytes = ReadWholeFile(path);
  } catch (const HostError& e) {
    throw HostError(path.string() + ": " + e.what());
  }
  return ParsePluginFile(bytes, path);
}

PluginScan ScanPluginFolder(const fs::path& folder) {
  PluginScan scan;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    scan.errors.push_back(folder.string() + ": not a folder");
    return scan;
  }
  std::vector<fs::path> files;
  fs::directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec))
    if (it->path().extension() == ".aex") files.push_back(it->path());
  if (ec) scan.errors.push_back(folder.string() + ": " + ec.message());
  std::sort(files.begin(), files.end());
  for (const fs::path& f : files) {
    try {
      scan.plugins.push_back(ReadPluginFile(f));
    } catch (const std::exception& e) {
      scan.errors.push_back(e.what());
      PluginFile unread;
      unread.path = f;
      unread.short_name = f.stem().string();
      scan.refused.emplace_back(std::move(unread), e.what());
    }
  }
  std::stable_sort(scan.plugins.begin(), scan.plugins.end(), [](const PluginFile& a, const PluginFile& b) {
    if (a.pipl.category != b.pipl.category) return a.pipl.category < b.pipl.category;
    return a.pipl.display_name < b.pipl.display_name;
  });
  return scan;
}

fs::path DefaultPluginFolder() {
  if (const char* env = std::getenv("OMBRIX_PLUGIN_PATH"); env && *env) return fs::path(env);
  std::error_code ec;
  const fs::path build_dir(OMBRIX_BUILD_PLUGIN_DIR);
  if (!build_dir.empty() && fs::is_directory(build_dir, ec)) return build_dir;
  const fs::path install_dir(OMBRIX_INSTALL_PLUGIN_DIR);
  if (install_dir.is_absolute()) return install_dir;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::path("..") / install_dir;
  return (exe.parent_path() / ".." / install_dir).lexically_normal();
}

namespace {
bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}
}  // namespace

const PluginFile& FindPlugin(const PluginScan& scan, std::string_view name) {
  for (const PluginFile& p : scan.plugins)
    if (p.short_name == name || p.pipl.display_name == name || p.pipl.match_name == name) return p;
  for (const PluginFile& p : scan.plugins)
    if (EqualNoCase(p.short_name, name) || EqualNoCase(p.pipl.display_name, name) ||
        EqualNoCase(p.pipl.match_name, name))
      return p;
  throw HostError("no effect named '" + std::string(name) + "' (" + std::to_string(scan.plugins.size()) +
                  " effects found; `ombrix list` shows them)");
}

}  // namespace ombrix
