// A small ICC profile for tests of metadata: a sound header and tag table
// whose data colour space is `space` ("RGB " or "GRAY"), with eight XYZ
// tags. libpng reads a profile back only when it does not compress to a
// few bytes, so the tags hold distinct values.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace ombrix_test {

inline std::vector<uint8_t> IccProfile(const char* space) {
  const uint32_t tags = 8, size = 132 + tags * (12 + 20);
  std::vector<uint8_t> p(size);
  auto put = [&](size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) p[at + size_t(k)] = uint8_t(v >> (24 - 8 * k));
  };
  auto text = [&](size_t at, const char* t) { std::memcpy(&p[at], t, 4); };
  put(0, size), put(8, 0x02100000), text(12, "mntr"), text(16, space), text(20, "XYZ "), text(36, "acsp");
  put(68, 0xF6D6), put(72, 0x10000), put(76, 0xD32D), put(128, tags);  // the D50 illuminant
  for (uint32_t t = 0; t < tags; ++t) {
    const size_t entry = 132 + 12 * t, data = 132 + 12 * tags + 20 * t;
    put(entry, 0x74616730 + t), put(entry + 4, uint32_t(data)), put(entry + 8, 20);  // 'tag0'.. at data, 20 bytes
    text(data, "XYZ "), put(data + 8, 0x1234 * (t + 1)), put(data + 12, 0x10000 - t * 999), put(data + 16, 0x7777 + t);
  }
  return p;
}

}  // namespace ombrix_test
