// Reading and writing image files with OpenImageIO.
//
// Worlds are ARGB in memory with possibly padded rows; OpenImageIO works in
// RGBA scanlines, so every transfer goes through a tight RGBA buffer.
#include <ombrix/host/image_io.h>

#include <OpenImageIO/imageio.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <system_error>

namespace ombrix {
namespace {

namespace fs = std::filesystem;
using OIIO::ImageInput;
using OIIO::ImageOutput;
using OIIO::ImageSpec;
using OIIO::TypeDesc;

// OpenImageIO messages may span lines; ours are one line.
std::string OneLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text.empty() ? std::string("unknown error") : text;
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

std::string LowerExtension(const fs::path& path) {
  std::string ext = path.extension().string();
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return ext;
}

// OpenImageIO's format name for a writable extension, or "".
std::string FormatForExtension(const std::string& ext) {
  if (ext == "png") return "png";
  if (ext == "exr") return "openexr";
  if (ext == "tif" || ext == "tiff") return "tiff";
  if (ext == "jpg" || ext == "jpeg") return "jpeg";
  return "";
}

// round(v x 255) with halves up, clamped to a byte.
uint8_t UnitToByte(double v) {
  if (!(v > 0.0)) return 0;  // also catches NaN
  double x = std::floor(v * 255.0 + 0.5);
  return x >= 255.0 ? 255 : uint8_t(x);
}


std::unique_ptr<ImageInput> OpenInput(const fs::path& path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) throw HostError("cannot read " + Quoted(path) + ": no such file");
  if (fs::is_directory(path, ec)) throw HostError("cannot read " + Quoted(path) + ": it is a directory");
  ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = ImageInput::open(path.string(), &config);
  if (!in) throw HostError("cannot read " + Quoted(path) + ": " + OneLine(OIIO::geterror()));
  return in;
}

void CheckSize(const fs::path& path, int width, int height) {
  if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide ||
      int64_t(width) * height > kMaxImagePixels) {
    throw HostError("cannot read " + Quoted(path) + ": unsupported image size " +
                    std::to_string(width) + "x" + std::to_string(height));
  }
}

}  // namespace

ImageSize ReadImageSize(const fs::path& path) {
  auto in = OpenInput(path);
  const ImageSpec& spec = in->spec();
  CheckSize(path, spec.width, spec.height);
  return {A_long(spec.width), A_long(spec.height)};
}

World ReadImage(const fs::path& path, A_long pad_bytes) {
  auto in = OpenInput(path);
  const ImageSpec spec = in->spec();
  CheckSize(path, spec.width, spec.height);
  const int nch = spec.nchannels;
  if (nch < 1) throw HostError("cannot read " + Quoted(path) + ": the image has no channels");
  int alpha = spec.alpha_channel;
  if (alpha < 0 && (nch == 2 || nch == 4)) alpha = nch - 1;
  if (alpha >= nch) alpha = -1;
  const bool grey = nch < 3;
  const bool is_exr = in->format_name() == std::string("openexr");
  const size_t w = size_t(spec.width), h = size_t(spec.height);
  const size_t samples = w * h * size_t(nch);

  World world(A_long(w), A_long(h), pad_bytes);
  auto store = [&](auto channel_value) {
    // channel_value(i, c) gives channel c of pixel i as a byte.
    for (size_t y = 0; y < h; ++y) {
      PF_Pixel* row = world.Row(A_long(y));
      for (size_t x = 0; x < w; ++x) {
        const size_t i = y * w + x;
        PF_Pixel& p = row[x];
        if (grey) {
          p.red = p.green = p.blue = channel_value(i, 0);
        } else {
          p.red = channel_value(i, 0);
          p.green = channel_value(i, 1);
          p.blue = channel_value(i, 2);
        }
        p.alpha = alpha >= 0 ? channel_value(i, alpha) : 255;
      }
    }
  };

  auto fail = [&] { throw HostError("cannot read " + Quoted(path) + ": " + OneLine(in->geterror())); };
  // Straight alpha is kept as stored; associated alpha (EXR by definition,
  // TIFF that says so) is divided out. Where alpha is 0 there is no straight
  // colour to recover, and the stored values are kept.
  const bool associated =
      alpha >= 0 && (is_exr || spec.get_int_attribute("oiio:UnassociatedAlpha", 0) != 1);
  const TypeDesc base = TypeDesc(TypeDesc::BASETYPE(spec.format.basetype));
  if ((base == TypeDesc::UINT8 || base == TypeDesc::UINT16) && !is_exr) {
    // Integers: round(255 x c / max) or, associated, round(255 x c / a), exactly.
    const bool wide = base == TypeDesc::UINT16;
    const uint32_t max = wide ? 65535u : 255u;
    std::vector<uint16_t> buf(samples);
    if (wide) {
      if (!in->read_image(0, 0, 0, nch, TypeDesc::UINT16, buf.data())) fail();
    } else {
      std::vector<uint8_t> bytes(samples);
      if (!in->read_image(0, 0, 0, nch, TypeDesc::UINT8, bytes.data())) fail();
      std::copy(bytes.begin(), bytes.end(), buf.begin());
    }
    store([&](size_t i, int c) -> uint8_t {
      const uint64_t v = buf[i * nch + c];
      const uint64_t a = alpha >= 0 ? buf[i * nch + alpha] : max;
      const uint64_t d = (associated && c != alpha && a > 0) ? a : max;
      return uint8_t(std::min<uint64_t>(255, (510 * v + d) / (2 * d)));
    });
  } else {
    std::vector<float> buf(samples);
    if (!in->read_image(0, 0, 0, nch, TypeDesc::FLOAT, buf.data())) fail();
    store([&](size_t i, int c) -> uint8_t {
      double v = buf[i * nch + c];
      const double a = alpha >= 0 ? buf[i * nch + alpha] : 1.0;
      if (associated && c != alpha && a > 0.0) v /= a;
      return UnitToByte(v);
    });
  }
  in->close();
  return world;
}

bool IsWritableImagePath(const fs::path& path) {
  return !FormatForExtension(LowerExtension(path)).empty();
}

void WriteImage(const fs::path& path, const PF_EffectWorld& world, const WriteOptions& options) {
  const std::string ext = LowerExtension(path);
  const std::string format = FormatForExtension(ext);
  if (format.empty()) {
    throw HostError("cannot write " + Quoted(path) + ": unknown image format '" + ext +
                    "' (use png, exr, tif, tiff, jpg or jpeg)");
  }
  if (world.data == nullptr || world.width <= 0 || world.height <= 0 ||
      world.rowbytes < 4 * world.width) {
    throw HostError("cannot write " + Quoted(path) + ": empty image");
  }
  if (path.filename().empty()) throw HostError("cannot write " + Quoted(path) + ": not a file name");

  const size_t w = size_t(world.width), h = size_t(world.height);
  const bool exr = format == "openexr";
  const bool jpeg = format == "jpeg";
  const int nch = jpeg ? 3 : 4;
  ImageSpec spec(int(w), int(h), nch, exr ? TypeDesc::FLOAT : TypeDesc::UINT8);
  if (!jpeg) {
    spec.alpha_channel = 3;
    spec.channelnames = {"R", "G", "B", "A"};
  }
  if (!exr && !jpeg) spec.attribute("oiio:UnassociatedAlpha", 1);
  if (jpeg) spec.attribute("CompressionQuality", std::clamp(options.jpeg_quality, 1, 100));

  auto byte_at = [&](size_t x, size_t y) -> const PF_Pixel& {
    return reinterpret_cast<const PF_Pixel*>(reinterpret_cast<const uint8_t*>(world.data) +
                                             y * size_t(world.rowbytes))[x];
  };
  std::vector<uint8_t> bytes;
  std::vector<float> floats;
  if (exr) {
    floats.resize(w * h * 4);
    for (size_t y = 0; y < h; ++y) {
      for (size_t x = 0; x < w; ++x) {
        const PF_Pixel& p = byte_at(x, y);
        const double a = p.alpha / 255.0;
        float* o = &floats[(y * w + x) * 4];
        o[0] = float(p.red / 255.0 * a);
        o[1] = float(p.green / 255.0 * a);
        o[2] = float(p.blue / 255.0 * a);
        o[3] = float(a);
      }
    }
  } else {
    bytes.resize(w * h * size_t(nch));
    for (size_t y = 0; y < h; ++y) {
      for (size_t x = 0; x < w; ++x) {
        const PF_Pixel& p = byte_at(x, y);
        uint8_t* o = &bytes[(y * w + x) * size_t(nch)];
        o[0] = p.red;
        o[1] = p.green;
        o[2] = p.blue;
        if (nch == 4) o[3] = p.alpha;
      }
    }
  }

  // A temporary beside the destination, so the final rename stays on one file system.
  static std::atomic<unsigned> counter{0};
  const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
  const fs::path tmp = dir / ("." + path.filename().string() + ".tmp" + std::to_string(::getpid()) +
                              "-" + std::to_string(counter++));
  std::error_code ec;
  auto out = ImageOutput::create(format);
  if (!out) throw HostError("cannot write " + Quoted(path) + ": " + OneLine(OIIO::geterror()));
  auto discard = [&](const std::string& why) {
    out.reset();
    fs::remove(tmp, ec);
    throw HostError("cannot write " + Quoted(path) + ": " + OneLine(why));
  };
  if (!out->open(tmp.string(), spec)) discard(out->geterror());
  const bool ok = exr ? out->write_image(TypeDesc::FLOAT, floats.data())
                      : out->write_image(TypeDesc::UINT8, bytes.data());
  if (!ok) discard(out->geterror());
  if (!out->close()) discard(out->geterror());
  out.reset();
  fs::rename(tmp, path, ec);
  if (ec) {
    const std::string why = ec.message();
    fs::remove(tmp, ec);
    throw HostError("cannot write " + Quoted(path) + ": " + why);
  }
}

}  // namespace ombrix
