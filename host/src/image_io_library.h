// The image library (libombrix_image_io.so) holds everything that decodes
// or encodes image files, and with it OpenImageIO and its codecs. The host
// core loads it on first use and reaches it through one table of functions,
// which the library's single exported symbol hands out, so that commands
// that never touch an image file never load the codecs.
//
// The table passes the host's own C++ types; host and library are built
// together, and kLibraryVersion changes whenever the table or a type it
// passes changes, so that a library from another build is refused.
#pragma once

#include <ombrix/host/image_io.h>

#include <cstdint>
#include <filesystem>

namespace ombrix::image_io {

inline constexpr uint32_t kLibraryVersion = 1;

struct LibraryTable {
  uint32_t version;  // kLibraryVersion of the library's build
  uint32_t size;     // sizeof(LibraryTable) there
  World (*read_image)(const std::filesystem::path& path, A_long pad_bytes, const ReadOptions& options, ImageInfo* info);
  ImageSize (*read_image_size)(const std::filesystem::path& path);
  ImageInfo (*read_image_info)(const std::filesystem::path& path);
  void (*write_image)(const std::filesystem::path& path, const PF_EffectWorld& world, const WriteOptions& options);
};

// The name of the library's exported entry (declared below), which returns its table.
inline constexpr char kLibraryEntry[] = "OmbrixImageIoTable";
using LibraryEntry = const LibraryTable* (*)();

// The library's table, loaded on the first call; throws HostError with one
// line naming the library's file when it cannot be loaded or is of another
// version.
const LibraryTable& Library();

}  // namespace ombrix::image_io

extern "C" const ombrix::image_io::LibraryTable* OmbrixImageIoTable();
