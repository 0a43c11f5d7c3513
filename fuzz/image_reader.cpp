// The image reader's front door, ReadImage, on a file of arbitrary bytes;
// the first byte picks the file name's extension (the reader goes by the
// contents, the name only hints).
#include <ombrix/host/image_io.h>

#include "scratch.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

// The reader's library is loaded before fuzzing starts, so that its
// coverage counts from the first input.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ombrix::LoadImageLibrary();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const char* const kExtensions[] = {".png", ".tif", ".jpg", ".exr"};
  const std::string path = ScratchFolder("image") + "/input" + kExtensions[data[0] % 4];
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data + 1), std::streamsize(size - 1));
  try {
    ombrix::ReadImage(path, 3);
  } catch (const std::exception&) {
  }
  return 0;
}
