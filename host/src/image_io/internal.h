// Shared by the image library's sources: the file functions it hands the
// host core, the checks made before a file is decoded, the quieting of the
// codecs' own stderr lines, metadata and orientation. OpenImageIO types
// stay out of the public header.
#pragma once

#include "image_io_formats.h"

#include <OpenImageIO/imageio.h>

#include <array>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace ombrix::image_io {

// ReadImage, ReadImageSize, ReadImageInfo and WriteImage of image_io.h,
// which the core passes on to these through the library's table.
World ReadFile(const std::filesystem::path& path, A_long pad_bytes, const ReadOptions& options, ImageInfo* info);
ImageSize ReadFileSize(const std::filesystem::path& path);
ImageInfo ReadFileInfo(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const PF_EffectWorld& world, const WriteOptions& options);

// "cannot read 'PATH': WHY" as a HostError.
[[noreturn]] void Refuse(const std::filesystem::path& path, const std::string& why);
// Refuses sizes beyond kMaxImageSide and kMaxImagePixels.
void CheckSize(const std::filesystem::path& path, int64_t width, int64_t height);

// Opens an image for reading once the file has passed the structural
// checks (a regular file whose declared layout fits it); any message
// OpenImageIO keeps after opening counts as a failure.
std::unique_ptr<OIIO::ImageInput> OpenInput(const std::filesystem::path& path);

// libpng writes "libpng error: ..." to stderr itself before OpenImageIO
// gets the same error, which would make a second line beside the one
// error the caller reports. While a file is decoded or encoded, the
// process's stderr goes to /dev/null; nested and concurrent uses share one
// redirection, restored when the last one ends.
class QuietStderr {
 public:
  QuietStderr();
  ~QuietStderr();
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  static inline std::mutex mutex_;
  static inline int depth_ = 0;
  static inline int saved_ = -1;
};

// The EXIF/TIFF orientation of an opened image, 1 (upright) when it has
// none or an invalid one.
int OrientationOf(const OIIO::ImageSpec& spec);

// Where stored pixel (x, y) of a width x height image lands in the upright
// picture for an orientation 1..8: the stored first row is at the top (1),
// top mirrored (2), bottom (3, 4), or the left or right side (5..8, which
// swap width and height).
struct Orientation {
  int code = 1;
  int64_t width = 0, height = 0;  // as stored

  bool swaps() const { return code >= 5; }
  int64_t upright_width() const { return swaps() ? height : width; }
  int64_t upright_height() const { return swaps() ? width : height; }
  void Place(int64_t x, int64_t y, int64_t& ux, int64_t& uy) const;
};

// The attributes that travel (see ImageMetadata), for the upright picture:
// the resolution's axes swap with the picture's, and the unit is "in",
// "cm" or "none".
ImageMetadata MetadataOf(const OIIO::ImageSpec& spec, const Orientation& orientation);

// What the opened file holds; counts its subimages, so call it after the
// pixels have been read (it moves the input between subimages).
ImageInfo InfoOf(OIIO::ImageInput& in, const Orientation& orientation);

// Adds `metadata` to the ImageSpec of a file of `format` ("png", "openexr",
// "tiff", "jpeg") being written at its width x height, as far as
// OpenImageIO's writer for it holds it: PNG and TIFF get no EXIF or GPS
// data, EXR no ICC profile; an ICC profile that is not an RGB profile (the
// written colour is RGB) is left out. The resolution is scaled to the
// written size.
void AddMetadata(OIIO::ImageSpec& spec, const ImageMetadata& metadata, const std::string& format);

// The sRGB transfer function (IEC 61966-2-1): encoded v in [0, 1] to linear
// light, v / 12.92 up to 0.04045, else ((v + 0.055) / 1.055)^2.4.
double SrgbToLinear(double encoded);
// The linear light of each byte value, SrgbToLinear(v / 255).
const std::array<double, 256>& LinearOfByte();
// Linear light encoded with the sRGB curve (12.92 L up to 0.0031308, else
// 1.055 L^(1/2.4) - 0.055) and rounded to a byte, halves up, clamped; NaN is 0.
uint8_t LinearToByte(double linear);

}  // namespace ombrix::image_io
