// Reading image files with OpenImageIO into worlds.
//
// Worlds are ARGB in memory with possibly padded rows; OpenImageIO works in
// RGBA scanlines, so every read goes through bands of RGBA rows, each
// pixel placed where the file's orientation puts it.
#include "internal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace ombrix {
namespace image_io {

double SrgbToLinear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }

const std::array<double, 256>& LinearOfByte() {
  static const std::array<double, 256> table = [] {
    std::array<double, 256> t{};
    for (int v = 0; v < 256; ++v) t[size_t(v)] = SrgbToLinear(v / 255.0);
    return t;
  }();
  return table;
}

// Encoding with the sRGB curve and rounding halves up is monotonic, so the
// byte of linear light L is the number of half-steps (k - 0.5) / 255,
// decoded to linear light, that L reaches: exact, with no power per sample.
uint8_t LinearToByte(double linear) {
  static const std::array<double, 255> thresholds = [] {
    std::array<double, 255> t{};
    for (int k = 1; k < 256; ++k) t[size_t(k - 1)] = SrgbToLinear((k - 0.5) / 255.0);
    return t;
  }();
  if (std::isnan(linear)) return 0;
  return uint8_t(std::upper_bound(thresholds.begin(), thresholds.end(), linear) - thresholds.begin());
}

}  // namespace image_io

namespace {

namespace fs = std::filesystem;
using OIIO::ImageSpec;
using OIIO::TypeDesc;
using namespace image_io;

// round(v x 255) with halves up, clamped to a byte.
uint8_t UnitToByte(double v) {
  if (!(v > 0.0)) return 0;  // also catches NaN
  double x = std::floor(v * 255.0 + 0.5);
  return x >= 255.0 ? 255 : uint8_t(x);
}

Orientation OrientationOfInput(const ImageSpec& spec) {
  return Orientation{OrientationOf(spec), spec.width, spec.height};
}

}  // namespace

namespace image_io {

ImageSize ReadFileSize(const fs::path& path) {
  auto in = OpenInput(path);
  const Orientation o = OrientationOfInput(in->spec());
  return {A_long(o.upright_width()), A_long(o.upright_height())};
}

ImageInfo ReadFileInfo(const fs::path& path) {
  auto in = OpenInput(path);
  return InfoOf(*in, OrientationOfInput(in->spec()));
}

World ReadFile(const fs::path& path, A_long pad_bytes, const ReadOptions& options, ImageInfo* info) {
  auto in = OpenInput(path);
  const ImageSpec spec = in->spec();
  const int nch = spec.nchannels;
  if (nch < 1) Refuse(path, "the image has no channels");
  int alpha = spec.alpha_channel;
  if (alpha < 0 && (nch == 2 || nch == 4)) alpha = nch - 1;
  if (alpha >= nch) alpha = -1;
  const bool grey = nch < 3;
  const bool is_exr = in->format_name() == std::string("openexr");
  const bool linear = is_exr && options.exr_values == ExrValues::kLinear;
  const size_t w = size_t(spec.width), h = size_t(spec.height);
  const Orientation orientation = OrientationOfInput(spec);

  World world(A_long(orientation.upright_width()), A_long(orientation.upright_height()), pad_bytes);
  // Scanline images are read in bands of rows, so that only the world
  // itself is as large as the image; tiled ones whole (OpenImageIO's
  // scanline reads of tiled files are not reliable).
  const bool tiled = spec.tile_width > 0;
  const size_t kBandRows = tiled ? h : 64;
  auto fail = [&] {
    const std::string why = in->geterror();
    Refuse(path, why.empty() ? std::string("read failed") : OneLine(why));
  };
  // Straight alpha is kept as stored; associated alpha (EXR by definition,
  // TIFF that says so) is divided out. Where alpha is 0 there is no straight
  // colour to recover, and the stored values are kept.
  const bool associated = alpha >= 0 && (is_exr || spec.get_int_attribute("oiio:UnassociatedAlpha", 0) != 1);
  const TypeDesc base = TypeDesc(TypeDesc::BASETYPE(spec.format.basetype));
  const bool integers = (base == TypeDesc::UINT8 || base == TypeDesc::UINT16) && !is_exr;
  const bool wide = base == TypeDesc::UINT16;
  const TypeDesc read_type = integers ? (wide ? TypeDesc::UINT16 : TypeDesc::UINT8) : TypeDesc::FLOAT;
  std::vector<uint8_t> band(std::min(h, kBandRows) * w * size_t(nch) * read_type.size());
  const QuietStderr quiet;
  for (size_t y0 = 0; y0 < h; y0 += kBandRows) {
    const size_t y1 = std::min(h, y0 + kBandRows);
    const bool read =
        tiled ? in->read_image(0, 0, 0, nch, read_type, band.data())
              : in->read_scanlines(0, 0, int(y0) + spec.y, int(y1) + spec.y, 0, 0, nch, read_type, band.data());
    if (!read) fail();
    if (in->has_error()) fail();
    // value(i, c) gives channel c of pixel i of the band as a byte.
    auto store = [&](auto value) {
      for (size_t y = y0; y < y1; ++y) {
        for (size_t x = 0; x < w; ++x) {
          const size_t i = (y - y0) * w + x;
          int64_t ux, uy;
          orientation.Place(int64_t(x), int64_t(y), ux, uy);
          PF_Pixel& p = world.Row(A_long(uy))[ux];
          if (grey) {
            p.red = p.green = p.blue = value(i, 0);
          } else {
            p.red = value(i, 0);
            p.green = value(i, 1);
            p.blue = value(i, 2);
          }
          p.alpha = alpha >= 0 ? value(i, alpha) : 255;
        }
      }
    };
    if (integers) {
      // round(255 x c / max) or, associated, round(255 x c / a), exactly.
      const uint32_t max = wide ? 65535u : 255u;
      auto sample = [&](size_t k) -> uint64_t {
        if (wide) {
          uint16_t v;
          std::memcpy(&v, &band[k * 2], 2);
          return v;
        }
        return band[k];
      };
      store([&](size_t i, int c) -> uint8_t {
        const uint64_t v = sample(i * nch + c);
        const uint64_t a = alpha >= 0 ? sample(i * nch + alpha) : max;
        const uint64_t d = (associated && c != alpha && a > 0) ? a : max;
        return uint8_t(std::min<uint64_t>(255, (510 * v + d) / (2 * d)));
      });
    } else {
      // Colour is unpremultiplied where it is stored: in linear light for EXR.
      const float* f = reinterpret_cast<const float*>(band.data());
      store([&](size_t i, int c) -> uint8_t {
        double v = f[i * nch + c];
        if (c == alpha) return UnitToByte(v);
        const double a = alpha >= 0 ? f[i * nch + alpha] : 1.0;
        if (associated && a > 0.0) v /= a;
        return linear ? LinearToByte(v) : UnitToByte(v);
      });
    }
  }
  // Damage the library worked around leaves a message though the reads succeeded.
  const std::string warning = in->geterror();
  if (!warning.empty()) Refuse(path, OneLine(warning));
  if (info) *info = InfoOf(*in, orientation);
  if (!in->close()) fail();
  return world;
}

}  // namespace image_io
}  // namespace ombrix
