// Writing worlds to image files with OpenImageIO: sample depths,
// compression, metadata, EXR's linear light, and a FileReplacement under
// the encoder so that a file is replaced only when complete.
#include "internal.h"

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

namespace image_io {

void WriteFile(const fs::path& path, const PF_EffectWorld& world, const WriteOptions& options) {
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

  const SampleDepth depth = options.depth == SampleDepth::kDefault ? FormatDepths(format).front() : options.depth;
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
  std::vector<EncoderAttribute> attributes;
  ParseCompression(format, options.compression, &attributes);
  for (const EncoderAttribute& a : attributes) {
    if (a.is_text)
      spec.attribute(a.name, a.text);
    else
      spec.attribute(a.name, a.number);
  }
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

}  // namespace image_io
}  // namespace ombrix
