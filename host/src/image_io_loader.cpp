// Finds and loads the image library on first use, and passes the image
// file functions of image_io.h on to it.
//
// The library is looked for where an installed program has it (its place
// relative to the executable, fixed when the project is configured), then
// where the build tree made it. OMBRIX_IMAGE_IO_LIBRARY names another file.
#include "image_io_formats.h"
#include "image_io_library.h"

#include <dlfcn.h>

#include <cstdlib>
#include <system_error>

#ifndef OMBRIX_BUILD_IMAGE_IO_LIBRARY
#define OMBRIX_BUILD_IMAGE_IO_LIBRARY ""
#endif
#ifndef OMBRIX_INSTALL_IMAGE_IO_LIBRARY
#define OMBRIX_INSTALL_IMAGE_IO_LIBRARY "../lib/ombrix/libombrix_image_io.so"
#endif

namespace ombrix {

namespace fs = std::filesystem;

namespace image_io {
namespace {

fs::path LibraryPath() {
  std::error_code ec;
  if (const char* env = std::getenv("OMBRIX_IMAGE_IO_LIBRARY"); env && *env) return fs::absolute(env, ec);
  fs::path installed;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) installed = (exe.parent_path() / OMBRIX_INSTALL_IMAGE_IO_LIBRARY).lexically_normal();
  if (!installed.empty() && fs::is_regular_file(installed, ec)) return installed;
  const fs::path built(OMBRIX_BUILD_IMAGE_IO_LIBRARY);
  if (!built.empty() && fs::is_regular_file(built, ec)) return built;
  // Neither is there: name where an installed program expects it.
  return installed.empty() ? built : installed;
}

std::string DlError() {
  const char* why = dlerror();
  return OneLine(why ? why : "");
}

const LibraryTable& Load() {
  const fs::path path = LibraryPath();
  const std::string failed = "cannot load the image library " + Quoted(path) + ": ";
  // The library stays loaded for the life of the process: OpenImageIO
  // keeps threads and caches of its own.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) throw HostError(failed + DlError());
  const auto entry = reinterpret_cast<LibraryEntry>(dlsym(handle, kLibraryEntry));
  if (!entry) {
    const std::string why = DlError();
    dlclose(handle);
    throw HostError(failed + why);
  }
  const LibraryTable* table = entry();
  if (!table || table->version != kLibraryVersion || table->size != sizeof(LibraryTable)) {
    const std::string version = table ? std::to_string(table->version) : std::string("unknown");
    dlclose(handle);
    throw HostError(failed + "it is of version " + version + ", this program needs version " +
                    std::to_string(kLibraryVersion));
  }
  return *table;
}

}  // namespace

const LibraryTable& Library() {
  // A failed load throws out of the initialisation, so the next call tries again.
  static const LibraryTable& table = Load();
  return table;
}

}  // namespace image_io

void LoadImageLibrary() { image_io::Library(); }

World ReadImage(const fs::path& path, A_long pad_bytes, const ReadOptions& options, ImageInfo* info) {
  return image_io::Library().read_image(path, pad_bytes, options, info);
}

ImageSize ReadImageSize(const fs::path& path) { return image_io::Library().read_image_size(path); }

ImageInfo ReadImageInfo(const fs::path& path) { return image_io::Library().read_image_info(path); }

void WriteImage(const fs::path& path, const PF_EffectWorld& world, const WriteOptions& options) {
  image_io::Library().write_image(path, world, options);
}

}  // namespace ombrix
