// Registration data every plug-in carries in its binary, built at compile time
// from the plug-in's identity row:
//  - ".pipl": the property list the host reads to list the effect (integers
//    little-endian, four-character codes stored as little-endian words);
//  - ".obxver": the version block, "Key\0Value\0...Key\0Value\0" and one more NUL.
//
// A plug-in writes its row once, at namespace scope in one source file:
//   OMBRIX_PLUGIN("OB Flatwash", "obx Flatwash", 11, 0, 0);
// The short name (file name without ".aex") comes from the build as
// OMBRIX_PLUGIN_SHORT_NAME (set by ombrix_add_plugin).
#pragma once

#include <cstddef>
#include <cstdint>

namespace pf {

// One row of the registration table.
struct PluginRow {
  const char* display_name;  // "OB Flatwash"
  const char* match_name;    // "obx Flatwash"
  uint16_t spec_major;       // host interface version the effect was built for
  uint16_t spec_minor;
  uint32_t global_flags;  // the out flags GLOBAL_SETUP reports
};

// The identity row of the plug-in being built, defined by OMBRIX_PLUGIN.
extern const PluginRow kPluginRow;

inline constexpr const char* kCategory = "Ombrix One";
inline constexpr uint32_t kEffectVersion = 0x80600;  // 1.0, release stage
inline constexpr const char* kCompanyName = "Kestrane";
inline constexpr const char* kProductName = "Ombrix";
inline constexpr const char* kCopyright = "Copyright 2026 Kestrane. All rights reserved.";
inline constexpr int kPiplPropertyCount = 12;

template <std::size_t N>
struct ByteBlock {
  uint8_t bytes[N];
  static constexpr std::size_t size() { return N; }
};

namespace pipl_detail {

// Called only when a row cannot be encoded; not constexpr, so such a row
// fails to compile instead of producing damaged bytes.
inline void RowDoesNotFit() {}

constexpr std::size_t Length(const char* s) {
  std::size_t n = 0;
  while (s[n] != '\0') ++n;
  return n;
}

constexpr std::size_t Pad4(std::size_t n) { return (n + 3) & ~std::size_t(3); }

// A length-prefixed string: count byte, characters, zeros up to a multiple of 4.
constexpr std::size_t PascalSize(const char* s) { return Pad4(1 + Length(s)); }

constexpr uint32_t FourCC(const char (&code)[5]) {
  return uint32_t(uint8_t(code[0])) << 24 | uint32_t(uint8_t(code[1])) << 16 | uint32_t(uint8_t(code[2])) << 8 |
         uint32_t(uint8_t(code[3]));
}

// Writes bytes, or only counts them when `out` is null, so that the size of a
// block and its contents come from the same code.
struct Writer {
  uint8_t* out;
  std::size_t pos;

  constexpr void U8(uint32_t v) {
    if (out != nullptr) out[pos] = uint8_t(v);
    ++pos;
  }
  constexpr void U16(uint32_t v) {
    U8(v);
    U8(v >> 8);
  }
  constexpr void U32(uint32_t v) {
    U16(v);
    U16(v >> 16);
  }
  constexpr void Zeros(std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) U8(0);
  }
  constexpr void Chars(const char* s) {
    for (std::size_t i = 0, n = Length(s); i < n; ++i) U8(uint8_t(s[i]));
  }
  constexpr void CString(const char* s) {
    Chars(s);
    U8(0);
  }
  // Property header: vendor, key, id 0, data length.
  constexpr void Property(const char (&key)[5], uint32_t length) {
    U32(FourCC("8BIM"));
    U32(FourCC(key));
    U32(0);
    U32(length);
  }
  constexpr void U32Property(const char (&key)[5], uint32_t value) {
    Property(key, 4);
    U32(value);
  }
  constexpr void PascalProperty(const char (&key)[5], const char* s) {
    const std::size_t n = Length(s);
    if (n > 255) RowDoesNotFit();
    const std::size_t padded = PascalSize(s);
    Property(key, uint32_t(padded));
    U8(uint32_t(n));
    Chars(s);
    Zeros(padded - 1 - n);
  }
};

constexpr void WritePipl(Writer& w, const PluginRow& row) {
  w.U16(1);  // resource header word
  w.U32(0);  // property-list version
  w.U32(kPiplPropertyCount);
  w.U32Property("kind", FourCC("eFKT"));
  w.PascalProperty("name", row.display_name);
  w.PascalProperty("catg", kCategory);
  w.Property("wx86", 8);
  w.CString("main");
  w.Zeros(3);
  w.Property("ePVR", 4);
  w.U16(2);
  w.U16(0);
  w.Property("eSVR", 4);
  w.U16(row.spec_major);
  w.U16(row.spec_minor);
  w.U32Property("eVER", kEffectVersion);
  w.Property("eINF", 2);  // the one property whose length field is unpadded
  w.U16(0);
  w.Zeros(2);
  w.U32Property("eGLO", row.global_flags);
  w.PascalProperty("eMNA", row.match_name);
  w.U32Property("aeFL", 0);
  w.U32Property("aeRD", 0);
}

constexpr void WriteVersionBlock(Writer& w, const PluginRow& row, const char* short_name) {
  const char* const head[] = {
      "FileVersion", "1, 0, 0, 0", "ProductVersion",  "1, 0, 0, 0",     "FileOS",       "4",
      "FileType",    "2",          "FileDescription", row.display_name, "InternalName", short_name};
  for (const char* s : head) w.CString(s);
  w.CString("OriginalFilename");
  w.Chars(short_name);
  w.CString(".aex");
  const char* const tail[] = {"ProductName", kProductName, "CompanyName", kCompanyName, "LegalCopyright", kCopyright};
  for (const char* s : tail) w.CString(s);
  w.U8(0);
}

}  // namespace pipl_detail

constexpr std::size_t PiplSize(const PluginRow& row) {
  pipl_detail::Writer w{nullptr, 0};
  pipl_detail::WritePipl(w, row);
  return w.pos;
}

template <std::size_t N>
constexpr ByteBlock<N> BuildPipl(const PluginRow& row) {
  ByteBlock<N> block{};
  pipl_detail::Writer w{block.bytes, 0};
  pipl_detail::WritePipl(w, row);
  if (w.pos != N) pipl_detail::RowDoesNotFit();
  return block;
}

constexpr std::size_t VersionBlockSize(const PluginRow& row, const char* short_name) {
  pipl_detail::Writer w{nullptr, 0};
  pipl_detail::WriteVersionBlock(w, row, short_name);
  return w.pos;
}

template <std::size_t N>
constexpr ByteBlock<N> BuildVersionBlock(const PluginRow& row, const char* short_name) {
  ByteBlock<N> block{};
  pipl_detail::Writer w{block.bytes, 0};
  pipl_detail::WriteVersionBlock(w, row, short_name);
  if (w.pos != N) pipl_detail::RowDoesNotFit();
  return block;
}

}  // namespace pf

// Defines the plug-in's identity row (pf::kPluginRow, read by the shell's
// GlobalSetup and About) and places its PIPL and version block in the binary.
#define OMBRIX_PLUGIN(...)                                                                                             \
  constexpr pf::PluginRow pf::kPluginRow{__VA_ARGS__};                                                                 \
  namespace {                                                                                                          \
  __attribute__((section(".pipl"), used)) constexpr auto kOmbrixPipl =                                                 \
      pf::BuildPipl<pf::PiplSize(pf::kPluginRow)>(pf::kPluginRow);                                                     \
  __attribute__((section(".obxver"), used)) constexpr auto kOmbrixVersionBlock =                                       \
      pf::BuildVersionBlock<pf::VersionBlockSize(pf::kPluginRow, OMBRIX_PLUGIN_SHORT_NAME)>(pf::kPluginRow,            \
                                                                                            OMBRIX_PLUGIN_SHORT_NAME); \
  }                                                                                                                    \
  static_assert(true)
