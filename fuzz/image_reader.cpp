// The image reader's front door, ReadImage, on a file of arbitrary bytes;
// the first byte picks the file name's extension (the reader goes by the
// contents, the name only hints).
#include <ombrix/host/image_io.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

const std::string& Folder() {
  // Never destroyed, so that the clean-up at exit can still name it.
  static const std::string* dir = [] {
    char tmpl[] = "/tmp/ombrix-fuzz-image-XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    if (!made) std::abort();
    std::atexit([] { std::filesystem::remove_all(Folder()); });
    return new std::string(made);
  }();
  return *dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const char* const kExtensions[] = {".png", ".tif", ".jpg", ".exr"};
  const std::string path = Folder() + "/input" + kExtensions[data[0] % 4];
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data + 1), std::streamsize(size - 1));
  try {
    ombrix::ReadImage(path, 3);
  } catch (const std::exception&) {
  }
  return 0;
}
