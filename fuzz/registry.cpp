// The registry store: arbitrary bytes as the store file, read through the
// registry's calls, then a value written (the store is parsed, changed and
// written back). With the first byte odd, the rest is taken as the store's
// contents and given a valid header and checksum, so that the fuzzer gets
// past the checksum to the records behind it.
#include <ombrix/platform/headless.h>
#include <ombrix/platform/registry.h>

#include "scratch.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace plat = ombrix::platform;

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return ~c;
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

const std::string& Folder() {
  static const bool quiet = (plat::SetDiagnosticsHook([](const char*, void*) {}, nullptr), true);
  (void)quiet;
  return ScratchFolder("registry");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::vector<uint8_t> file;
  if (data[0] & 1) {
    const char magic[8] = {'O', 'B', 'X', 'R', 'E', 'G', '\r', '\n'};
    file.assign(magic, magic + 8);
    Put32(file, 1);
    Put32(file, uint32_t(size - 1));
    file.insert(file.end(), data + 1, data + size);
    Put32(file, Crc32(data + 1, size - 1));
  } else {
    file.assign(data + 1, data + size);
  }
  const std::string dir = Folder();
  std::ofstream(dir + "/registry.obr", std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  plat::SetRegistryDirectory(dir);  // forgets what was read before

  // Read: the keys the effects use, and the first key path stored.
  for (const char* path : {"Software\\Kestrane\\Ombrix One", "Software", "a"}) {
    plat::RegKeyHandle key = nullptr;
    if (plat::RegOpenKey(plat::kRegCurrentUser, path, plat::kKeyRead, &key) != 0) continue;
    uint8_t buf[64];
    uint32_t type = 0, n = sizeof buf;
    plat::RegQueryValue(key, "", &type, buf, &n);
    n = sizeof buf;
    plat::RegQueryValue(key, "a", &type, buf, &n);
    plat::RegCloseKey(key);
  }
  // Write: parse, change and serialise the store.
  plat::RegKeyHandle key = nullptr;
  uint32_t disposition = 0;
  if (plat::RegCreateKey(plat::kRegCurrentUser, "Software\\Kestrane\\Fuzz", plat::kRegOptionNonVolatile,
                         plat::kKeyAllAccess, &key, &disposition) == 0) {
    const uint32_t v = uint32_t(size);
    plat::RegSetValue(key, "n", plat::kRegDword, &v, sizeof v);
    plat::RegCloseKey(key);
  }
  return 0;
}
