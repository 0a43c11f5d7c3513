// Registration bytes and version block of the test plug-ins, read by the
// host without running them. Include once, inside an anonymous namespace,
// after defining PROBE_NAME, PROBE_MATCH, PROBE_CATEGORY, PROBE_FLATTEN and
// PROBE_SHORT (the file name without ".aex"); <array> must be included first.
#pragma once

// ---------------------------------------------------------------------------
// Registration bytes and version block, read by the host without running us.
// ---------------------------------------------------------------------------
struct Bytes {
  unsigned char b[512] = {};
  int n = 0;
  constexpr void U8(unsigned v) { b[n++] = static_cast<unsigned char>(v); }
  constexpr void U16(unsigned v) {
    U8(v & 0xFF);
    U8(v >> 8);
  }
  constexpr void U32(unsigned v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
  constexpr void Code(const char* c) {
    U8(c[3]);
    U8(c[2]);
    U8(c[1]);
    U8(c[0]);
  }
  constexpr void Head(const char* key, unsigned len) {
    Code("8BIM");
    Code(key);
    U32(0);
    U32(len);
  }
  constexpr void Str(const char* key, const char* s) {
    unsigned len = 0;
    while (s[len]) ++len;
    const unsigned padded = (1 + len + 3) & ~3u;
    Head(key, padded);
    U8(len);
    for (unsigned i = 0; i < len; ++i) U8(static_cast<unsigned char>(s[i]));
    for (unsigned i = 1 + len; i < padded; ++i) U8(0);
  }
};

constexpr unsigned kGlobalFlags = PROBE_FLATTEN ? PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING : 0;

constexpr Bytes MakePipl() {
  Bytes p;
  p.U16(1);
  p.U32(0);
  p.U32(12);
  p.Head("kind", 4);
  p.Code("eFKT");
  p.Str("name", PROBE_NAME);
  p.Str("catg", PROBE_CATEGORY);
  p.Head("wx86", 8);
  p.U8('m');
  p.U8('a');
  p.U8('i');
  p.U8('n');
  p.U32(0);
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
  p.U32(kGlobalFlags);
  p.Str("eMNA", PROBE_MATCH);
  p.Head("aeFL", 4);
  p.U32(0);
  p.Head("aeRD", 4);
  p.U32(0);
  return p;
}

constexpr Bytes kPiplBuilt = MakePipl();

template <int N>
constexpr std::array<unsigned char, N> Trim(const Bytes& b) {
  std::array<unsigned char, N> a{};
  for (int i = 0; i < N; ++i) a[i] = b.b[i];
  return a;
}

__attribute__((section(".pipl"), used)) constexpr std::array<unsigned char, kPiplBuilt.n> kPipl =
    Trim<kPiplBuilt.n>(kPiplBuilt);

__attribute__((section(".obxver"), used)) constexpr char kVersion[] =
    "FileVersion\0"
    "1, 0, 0, 0\0"
    "ProductVersion\0"
    "1, 0, 0, 0\0"
    "FileOS\0"
    "4\0"
    "FileType\0"
    "2\0"
    "FileDescription\0" PROBE_NAME
    "\0"
    "InternalName\0" PROBE_SHORT
    "\0"
    "OriginalFilename\0" PROBE_SHORT
    ".aex\0"
    "ProductName\0"
    "Ombrix\0"
    "CompanyName\0"
    "Kestrane\0"
    "LegalCopyright\0"
    "Copyright 2026 Kestrane. All rights reserved.\0";
