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
  if (const char* env = std::getenv("OMBRIX_IMAGE_IO_LIBRARY"); env && *env) {
    // Absolute, so that dlopen takes it as a file rather than a name to search for.
    const fs::path absolute = fs::absolute(env, ec);
    return ec ? fs::path(env) : absolute;
  }
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
  // An empty name would make dlopen hand back the program itself.
  if (path.empty()) throw HostError("cannot load the image library: this build does not say where it is");
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
  std::string stale;
  if (!table)
    stale = "it has no table of functions";
  else if (table->version != kLibraryVersion)
    stale = "it is of version " + std::to_string(table->version) + ", this program needs version " +
            std::to_string(kLibraryVersion);
  else if (table->size != sizeof(LibraryTable))
    stale = "its table of functions is of another size than this program's";
  if (!stale.empty()) {
    dlclose(handle);
    throw HostError(failed + stale);
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
