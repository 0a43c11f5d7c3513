// Writing worlds to image files with OpenImageIO: sample depths,
// compression, metadata, EXR's linear light, and a FileReplacement under
// the encoder so that a file is replaced only when complete.
#include "image_io_internal.h"

#include <ombrix/platform/files.h>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/half.h>

#include <algorithm>
#include <type_traits>

namespace ombrix {
namespace {

namespace fs = std::filesystem;
using OIIO::ImageOutput;
using OIIO::ImageSpec;
using OIIO::TypeDesc;
using namespace image_io;

// The depths each format holds, its default first.
std::vector<SampleDepth> Depths(const std::string& format) {
  if (format == "png") return {SampleDepth::k8, SampleDepth::k16};
  if (format == "tiff") return {SampleDepth::k8, SampleDepth::k16, SampleDepth::kHalf, SampleDepth::kFloat};
  if (format == "openexr") return {SampleDepth::kHalf, SampleDepth::kFloat};
  return {SampleDepth::k8};
}

const char* DepthName(SampleDepth depth) {
  switch (depth) {
    case SampleDepth::k16:
      return "16";
    case SampleDepth::kHalf:
      return "half";
    case SampleDepth::kFloat:
      return "float";
    default:
      return "8";
  }
}

// The short name of a writable path's format for messages: png, tif, jpg, exr.
std::string ShortName(const std::string& format) {
  if (format == "tiff") return "tif";
  if (format == "jpeg") return "jpg";
  if (format == "openexr") return "exr";
  return format;
}

// A whole number of digits only, within [lo, hi].
bool Number(std::string_view text, int lo, int hi, int& value) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string_view::npos) return false;
  value = std::stoi(std::string(text));
  return value >= lo && value <= hi;
}

// Checks a compression text against what `format` takes and, given an
// ImageSpec, sets OpenImageIO's attributes for it. Returns why it is
// refused, or "".
std::string Compression(const std::string& format, std::string_view text, ImageSpec* spec) {
  if (format == "jpeg") {
    int quality = 95;
    std::string subsampling;
    if (!text.empty()) {
      const size_t comma = text.find(',');
      if (comma != std::string_view::npos) subsampling = std::string(text.substr(comma + 1));
      if (!Number(text.substr(0, comma), 1, 100, quality) ||
          (comma != std::string_view::npos && subsampling != "4:2:0" && subsampling != "4:2:2" &&
           subsampling != "4:4:4")) {
        return "jpg takes QUALITY (1..100) or QUALITY,SUBSAMPLING (4:2:0, 4:2:2 or 4:4:4)";
      }
    }
    if (spec) {
      spec->attribute("CompressionQuality", quality);
      if (!subsampling.empty()) spec->attribute("jpeg:subsampling", subsampling);
    }
    return "";
  }
  if (text.empty()) return "";
  if (format == "png") {
    int level = 0;
    if (!Number(text, 0, 9, level)) return "png takes a zlib level 0..9";
    if (spec) spec->attribute("png:compressionLevel", level);
    return "";
  }
  if (format == "openexr") {
    static constexpr std::string_view kCodecs[] = {"none",  "rle", "zips", "zip",  "piz",
                                                   "pxr24", "b44", "b44a", "dwaa", "dwab"};
    const size_t colon = text.find(':');
    const std::string_view codec = text.substr(0, colon);
    bool ok = std::find(std::begin(kCodecs), std::end(kCodecs), codec) != std::end(kCodecs);
    if (ok && colon != std::string_view::npos) {
      int level = 0;
      const std::string_view digits = text.substr(colon + 1);
      if (codec == "dwaa" || codec == "dwab")
        ok = Number(digits, 1, 10000, level);
      else if (codec == "zip" || codec == "zips")
        ok = Number(digits, 1, 9, level);
      else
        ok = false;
    }
    if (!ok) {
      return "exr takes none, rle, zips, zip, piz, pxr24, b44, b44a, dwaa or dwab "
             "(dwaa:LEVEL and dwab:LEVEL with 1..10000, zip:LEVEL and zips:LEVEL with 1..9)";
    }
    if (spec) spec->attribute("compression", std::string(text));
    return "";
  }
  if (format == "tiff") {
    if (text != "none" && text != "lzw" && text != "zip" && text != "packbits") {
      return "tif takes none, lzw, zip or packbits";
    }
    if (spec) spec->attribute("compression", std::string(text));
    return "";
  }
  return "unknown image format";
}

// A sample of type T for byte v: bytes as they are, 16 bits v x 257, floating v / 255.
template <typename T>
T FromByte(uint8_t v) {
  if constexpr (std::is_same_v<T, uint8_t>)
    return v;
  else if constexpr (std::is_same_v<T, uint16_t>)
    return uint16_t(v * 257);
  else
    return T(float(v / 255.0));
}

// The samples of `world` as T, RGBA or RGB, in a buffer of bytes. EXR
// colour is linear light (with kLinear) premultiplied by alpha as it is
// stored, so that reading divides by exactly the alpha the colour was
// multiplied with.
template <typename T>
std::vector<uint8_t> Samples(const PF_EffectWorld& world, int nch, bool exr, bool linear) {
  const size_t w = size_t(world.width), h = size_t(world.height);
  std::vector<uint8_t> buffer(w * h * size_t(nch) * sizeof(T));
  T* const out = reinterpret_cast<T*>(buffer.data());
  const auto& decoded = LinearOfByte();
  for (size_t y = 0; y < h; ++y) {
    const auto* row =
        reinterpret_cast<const PF_Pixel*>(reinterpret_cast<const uint8_t*>(world.data) + y * size_t(world.rowbytes));
    for (size_t x = 0; x < w; ++x) {
      const PF_Pixel& p = row[x];
      const uint8_t rgb[3] = {p.red, p.green, p.blue};
      T* o = &out[(y * w + x) * size_t(nch)];
      if constexpr (!std::is_integral_v<T>) {
        if (exr) {
          const T a = FromByte<T>(p.alpha);
          for (int c = 0; c < 3; ++c) {
            const double straight = linear ? decoded[rgb[c]] : rgb[c] / 255.0;
            o[c] = T(float(straight * double(a)));
          }
          o[3] = a;
          continue;
        }
      }
      for (int c = 0; c < 3; ++c) o[c] = FromByte<T>(rgb[c]);
      if (nch == 4) o[3] = FromByte<T>(p.alpha);
    }
  }
  return buffer;
}

// An OpenImageIO output that writes into a FileReplacement. The first
// failed write is remembered; OpenImageIO's encoders do not all pass write
// errors on, so WriteImage asks failed() after every step.
class ReplacementWriter final : public OIIO::Filesystem::IOProxy {
 public:
  ReplacementWriter(platform::FileReplacement& file, const std::string& name) : IOProxy(name, Write), file_(file) {}
  const char* proxytype() const override { return "ombrix-replacement"; }
  bool failed() const { return failed_; }
  size_t write(const void* buf, size_t size) override {
    const size_t n = pwrite(buf, size, m_pos);
    m_pos += int64_t(n);
    return n;
  }
  size_t pwrite(const void* buf, size_t size, int64_t offset) override {
    if (failed_ || offset < 0) return Failed();
    if (size > 0 && !file_.WriteAt(buf, size, uint64_t(offset))) return Failed();
    return size;
  }
  size_t read(void* buf, size_t size) override {
    const size_t n = pread(buf, size, m_pos);
    m_pos += int64_t(n);
    return n;
  }
  size_t pread(void* buf, size_t size, int64_t offset) override {
    if (offset < 0) return 0;
    const long n = file_.ReadAt(buf, size, uint64_t(offset));
    return n < 0 ? 0 : size_t(n);
  }
  size_t size() const override { return size_t(file_.size()); }

 private:
  size_t Failed() {
    failed_ = true;
    error(file_.error().empty() ? std::string("write failed") : file_.error());
    return 0;
  }
  platform::FileReplacement& file_;
  bool failed_ = false;
};

}  // namespace

bool IsWritableImagePath(const fs::path& path) { return !FormatForExtension(LowerExtension(path)).empty(); }

std::string DepthProblem(const fs::path& path, SampleDepth depth) {
  const std::string format = FormatForExtension(LowerExtension(path));
  if (format.empty()) return "unknown image format";
  const std::vector<SampleDepth> depths = Depths(format);
  if (depth == SampleDepth::kDefault || std::find(depths.begin(), depths.end(), depth) != depths.end()) return "";
  std::string names;
  for (size_t i = 0; i < depths.size(); ++i) {
    names += i == 0 ? "" : i + 1 == depths.size() ? " or " : ", ";
    names += DepthName(depths[i]);
  }
  return ShortName(format) + " holds " + names;
}

std::string CompressionProblem(const fs::path& path, std::string_view compression) {
  return Compression(FormatForExtension(LowerExtension(path)), compression, nullptr);
}

void WriteImage(const fs::path& path, const PF_EffectWorld& world, const WriteOptions& options) {
  const std::string ext = LowerExtension(path);
  const std::string format = FormatForExtension(ext);
  if (format.empty()) {
    throw HostError("cannot write " + Quoted(path) + ": unknown image format '" + ext +
                    "' (use png, exr, tif, tiff, jpg or jpeg)");
  }
  if (world.data == nullptr || world.width <= 0 || world.height <= 0 || world.rowbytes < 4 * world.width) {
    throw HostError("cannot write " + Quoted(path) + ": empty image");
  }
  if (path.filename().empty()) throw HostError("cannot write " + Quoted(path) + ": not a file name");
  for (const std::string& problem :
       {DepthProblem(path, options.depth), CompressionProblem(path, options.compression)}) {
    if (!problem.empty()) throw HostError("cannot write " + Quoted(path) + ": " + problem);
  }

  const SampleDepth depth = options.depth == SampleDepth::kDefault ? Depths(format).front() : options.depth;
  const bool exr = format == "openexr";
  const bool jpeg = format == "jpeg";
  const bool linear = exr && options.exr_values == ExrValues::kLinear;
  const int nch = jpeg ? 3 : 4;
  const TypeDesc type = depth == SampleDepth::k16      ? TypeDesc::UINT16
                        : depth == SampleDepth::kHalf  ? TypeDesc::HALF
                        : depth == SampleDepth::kFloat ? TypeDesc::FLOAT
                                                       : TypeDesc::UINT8;
  ImageSpec spec(world.width, world.height, nch, type);
  if (!jpeg) {
    spec.alpha_channel = 3;
    spec.channelnames = {"R", "G", "B", "A"};
  }
  if (!exr && !jpeg) spec.attribute("oiio:UnassociatedAlpha", 1);
  // Without this OpenImageIO's TIFF writer turns half into float.
  if (format == "tiff" && depth == SampleDepth::kHalf) spec.attribute("tiff:half", 1);
  Compression(format, options.compression, &spec);
  AddMetadata(spec, options.metadata, format);

  const std::vector<uint8_t> samples = type == TypeDesc::UINT16  ? Samples<uint16_t>(world, nch, exr, linear)
                                       : type == TypeDesc::HALF  ? Samples<half>(world, nch, exr, linear)
                                       : type == TypeDesc::FLOAT ? Samples<float>(world, nch, exr, linear)
                                                                 : Samples<uint8_t>(world, nch, exr, linear);

  // The encoder writes through ReplacementWriter, so that every write is
  // checked (a full disk fails the run instead of leaving a cut-off file)
  // and the destination is only replaced by a complete, flushed file.
  platform::FileReplacement file;
  if (!file.Begin(path.string())) throw HostError("cannot write " + Quoted(path) + ": " + file.error());
  auto out = ImageOutput::create(format);
  if (!out) throw HostError("cannot write " + Quoted(path) + ": " + OneLine(OIIO::geterror()));
  ReplacementWriter proxy(file, path.string());
  auto fail = [&](std::string why) {
    if (!file.error().empty()) why = file.error();  // the system's reason comes first
    out.reset();
    file.Abandon();
    throw HostError("cannot write " + Quoted(path) + ": " + OneLine(why));
  };
  // The codecs' own lines (libpng's errors, notes about attributes a format
  // cannot hold) would add to the one line a failure gets.
  const QuietStderr quiet;
  if (!out->set_ioproxy(&proxy) || !out->open(path.string(), spec)) fail(out->geterror());
  if (!out->write_image(type, samples.data()) || proxy.failed()) fail(out->geterror());
  if (!out->close() || proxy.failed()) fail(out->geterror());
  out.reset();
  if (!file.Commit()) fail(file.error());
}

}  // namespace ombrix
