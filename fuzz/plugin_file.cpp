// The plug-in file reader: ELF checks, sections, registration and version
// block, on arbitrary bytes. Nothing is loaded.
#include <ombrix/host/host.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    ombrix::ParsePluginFile(std::span<const uint8_t>(data, size), "fuzz.aex");
  } catch (const ombrix::HostError&) {
  }
  return 0;
}
