// Image files and sources. Expected bytes come from the formats' definitions
// (straight alpha kept, EXR linear light with associated alpha, the sRGB
// curve, round(v x 255), the EXIF orientations), checked against files read
// and written directly with OpenImageIO where that matters.
#include <ombrix/host/image_io.h>

#include "common/icc_profile.h"

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>

namespace ombrix {
namespace {

namespace fs = std::filesystem;
using ombrix_test::IccProfile;

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "ombrix-io-XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  fs::path path_;
};

PF_Pixel Px(int a, int r, int g, int b) {
  PF_Pixel p;
  p.alpha = uint8_t(a);
  p.red = uint8_t(r);
  p.green = uint8_t(g);
  p.blue = uint8_t(b);
  return p;
}

bool Same(const PF_Pixel& a, const PF_Pixel& b) {
  return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}

// A small world with padded rows holding the cases that straight alpha must keep.
World Samples() {
  World w(4, 3, 12);
  const PF_Pixel px[12] = {Px(0, 200, 100, 50), Px(1, 255, 0, 7),     Px(128, 10, 20, 30),   Px(255, 1, 2, 3),
                           Px(0, 0, 0, 0),      Px(254, 9, 99, 199),  Px(64, 255, 255, 255), Px(255, 255, 255, 255),
                           Px(17, 33, 66, 132), Px(200, 0, 128, 255), Px(0, 255, 255, 255),  Px(99, 42, 43, 44)};
  for (int i = 0; i < 12; ++i) w.At(i % 4, i / 4) = px[i];
  return w;
}

// RGBA floats or bytes as stored in a file, read straight with OpenImageIO.
template <typename T>
std::vector<T> ReadRaw(const fs::path& path, OIIO::TypeDesc type, int* channels = nullptr) {
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path.string(), &config);
  EXPECT_TRUE(in) << OIIO::geterror();
  if (!in) return {};
  const auto& spec = in->spec();
  std::vector<T> data(size_t(spec.width) * spec.height * spec.nchannels);
  EXPECT_TRUE(in->read_image(0, 0, 0, spec.nchannels, type, data.data()));
  if (channels) *channels = spec.nchannels;
  return data;
}

template <typename T>
void WriteRaw(const fs::path& path, int w, int h, int nch, OIIO::TypeDesc type, const std::vector<T>& data,
              bool unassociated = true, const std::function<void(OIIO::ImageSpec&)>& tag = {}) {
  auto out = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(out);
  OIIO::ImageSpec spec(w, h, nch, type);
  if (unassociated) spec.attribute("oiio:UnassociatedAlpha", 1);
  if (tag) tag(spec);
  ASSERT_TRUE(out->open(path.string(), spec));
  ASSERT_TRUE(out->write_image(type, data.data()));
  ASSERT_TRUE(out->close());
}

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

TEST(ImageFiles, PngAndTiffKeepStraightAlphaByteForByte) {
  TempDir dir;
  const World src = Samples();
  for (const char* name : {"a.png", "a.tif", "a.tiff"}) {
    SCOPED_TRACE(name);
    WriteImage(dir / name, src.pf());
    // The file itself holds the straight values (colour under alpha 0 included).
    int nch = 0;
    const auto raw = ReadRaw<uint8_t>(dir / name, OIIO::TypeDesc::UINT8, &nch);
    ASSERT_EQ(nch, 4);
    for (int i = 0; i < 12; ++i) {
      const PF_Pixel& p = src.At(i % 4, i / 4);
      EXPECT_EQ(raw[i * 4 + 0], p.red);
      EXPECT_EQ(raw[i * 4 + 1], p.green);
      EXPECT_EQ(raw[i * 4 + 2], p.blue);
      EXPECT_EQ(raw[i * 4 + 3], p.alpha);
    }
    // And reading it back, into padded and tight rows alike, gives the same bytes.
    for (A_long pad : {0, 20}) {
      const World back = ReadImage(dir / name, pad);
      EXPECT_EQ(back.rowbytes(), 4 * 4 + pad);
      EXPECT_TRUE(SamePixels(back.pf(), src.pf()));
    }
  }
  const World back = ReadImage(dir / "a.png");
  EXPECT_TRUE(Same(back.At(0, 0), Px(0, 200, 100, 50)));
}

// The sRGB transfer function both ways (IEC 61966-2-1), and the byte of linear light.
double Decode(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
double Encode(double l) { return l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055; }
int RoundedByte(double v) { return v > 0 ? int(std::min(255.0, std::floor(v * 255 + 0.5))) : 0; }
int EncodedByte(double l) { return l > 0 ? RoundedByte(Encode(l)) : 0; }

// Every byte at every alpha but 0 is written as linear light (or byte /
// 255 for raw values) premultiplied by alpha, and read back as itself,
// through half (the default) and float.
TEST(ImageFiles, ExrIsPremultipliedOnWriteAndUnpremultipliedOnRead) {
  TempDir dir;
  const int alphas[] = {255, 254, 200, 128, 64, 16, 4, 2, 1};
  World src(256, int(std::size(alphas)));
  for (int y = 0; y < src.height(); ++y)
    for (int v = 0; v < 256; ++v) src.At(v, y) = Px(alphas[y], v, 255 - v, (v * 7) & 255);
  for (SampleDepth depth : {SampleDepth::kDefault, SampleDepth::kFloat}) {
    for (ExrValues values : {ExrValues::kLinear, ExrValues::kRaw}) {
      const bool half = depth == SampleDepth::kDefault, linear = values == ExrValues::kLinear;
      SCOPED_TRACE(testing::Message() << (half ? "half " : "float ") << (linear ? "linear" : "raw"));
      WriteOptions options;
      options.depth = depth;
      options.exr_values = values;
      WriteImage(dir / "r.exr", src.pf(), options);
      EXPECT_EQ(OIIO::ImageInput::open((dir / "r.exr").string())->spec().format,
                half ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::FLOAT);
      const auto raw = ReadRaw<float>(dir / "r.exr", OIIO::TypeDesc::FLOAT);
      const double tolerance = half ? 1.5e-3 : 1e-6;  // half keeps 11 significant bits
      for (size_t i = 0; i < raw.size(); i += 4 * 37) {
        const PF_Pixel& p = src.At(int(i / 4 % 256), int(i / 4 / 256));
        const double a = p.alpha / 255.0, v = p.red / 255.0, expected = (linear ? Decode(v) : v) * a;
        EXPECT_NEAR(raw[i], expected, expected * tolerance + 1e-7) << i;
        EXPECT_NEAR(raw[i + 3], a, a * tolerance) << i;
      }
      ReadOptions read;
      read.exr_values = values;
      EXPECT_TRUE(SamePixels(ReadImage(dir / "r.exr", 0, read).pf(), src.pf()));
    }
  }
  // Under alpha 0 the colour is gone.
  WriteImage(dir / "clear.exr", MakeSolid(1, 1, Px(0, 200, 100, 50)).pf());
  EXPECT_TRUE(Same(ReadImage(dir / "clear.exr").At(0, 0), Px(0, 0, 0, 0)));
}

// Files made elsewhere: straight = stored / alpha (kept where alpha is 0),
// then the sRGB curve and rounding, checked against the formula over a
// dense sweep of linear values, the ends and values past them.
TEST(ImageFiles, ExrLinearValuesBecomeSrgbBytes) {
  TempDir dir;
  std::vector<float> rgba;
  auto add = [&](float value, float alpha) { rgba.insert(rgba.end(), {value, 0.0f, value, alpha}); };
  for (int k = 0; k <= 5000; ++k) add(float(k) / 4000.0f, 1.0f);  // 0 .. 1.25
  for (float v : {0.0031308f, 0.0031309f, 1e-6f, -0.5f, std::nanf(""), 1e30f}) add(v, 1.0f);
  for (float a : {0.5f, 0.25f, 0.004f}) add(0.2f * a, a);
  add(0.2f, 0.0f);
  const int n = int(rgba.size() / 4);
  WriteRaw<float>(dir / "sweep.exr", n, 1, 4, OIIO::TypeDesc::FLOAT, rgba, false);
  ReadOptions raw_values;
  raw_values.exr_values = ExrValues::kRaw;
  const World linear = ReadImage(dir / "sweep.exr"), raw = ReadImage(dir / "sweep.exr", 0, raw_values);
  for (int x = 0; x < n; ++x) {
    const float v = rgba[size_t(x) * 4], a = rgba[size_t(x) * 4 + 3];
    SCOPED_TRACE(testing::Message() << "value " << v << " alpha " << a);
    const double straight = a > 0 ? double(v) / a : v;
    EXPECT_TRUE(Same(linear.At(x, 0), Px(RoundedByte(a), EncodedByte(straight), 0, EncodedByte(straight))));
    EXPECT_EQ(raw.At(x, 0).red, RoundedByte(straight));
  }
}

TEST(ImageFiles, DeepGreyAndRgbInputsBecomeStraightBytes) {
  TempDir dir;
  // 16 bits: round(v x 255 / 65535), halves up; 25828 -> 100.498, 25829 -> 100.502.
  WriteRaw<uint16_t>(dir / "deep.png", 2, 1, 4, OIIO::TypeDesc::UINT16,
                     {0, 65535, 32896, 65535, 25828, 25829, 257, 32768});
  World w = ReadImage(dir / "deep.png");
  EXPECT_TRUE(Same(w.At(0, 0), Px(255, 0, 255, 128)));
  EXPECT_TRUE(Same(w.At(1, 0), Px(128, 100, 101, 1)));

  WriteRaw<uint8_t>(dir / "grey.png", 2, 1, 1, OIIO::TypeDesc::UINT8, {7, 250});
  w = ReadImage(dir / "grey.png");
  EXPECT_TRUE(Same(w.At(0, 0), Px(255, 7, 7, 7)));
  EXPECT_TRUE(Same(w.At(1, 0), Px(255, 250, 250, 250)));

  WriteRaw<uint8_t>(dir / "greya.png", 1, 1, 2, OIIO::TypeDesc::UINT8, {90, 0});
  w = ReadImage(dir / "greya.png");
  EXPECT_TRUE(Same(w.At(0, 0), Px(0, 90, 90, 90)));

  // 16-bit grey and grey + alpha: the same rounding, the second channel is alpha.
  WriteRaw<uint16_t>(dir / "grey16.png", 2, 1, 2, OIIO::TypeDesc::UINT16, {25829, 65535, 257, 32767});
  w = ReadImage(dir / "grey16.png");
  EXPECT_TRUE(Same(w.At(0, 0), Px(255, 101, 101, 101)));
  EXPECT_TRUE(Same(w.At(1, 0), Px(127, 1, 1, 1)));

  // A TIFF with associated alpha is divided out: round(255 x c / a), 64 / 128 -> 127.5 -> 128.
  WriteRaw<uint8_t>(dir / "assoc.tif", 2, 1, 4, OIIO::TypeDesc::UINT8, {64, 1, 128, 128, 100, 0, 0, 0}, false);
  w = ReadImage(dir / "assoc.tif");
  EXPECT_TRUE(Same(w.At(0, 0), Px(128, 128, 2, 255)));
  EXPECT_TRUE(Same(w.At(1, 0), Px(0, 100, 0, 0)));

  WriteRaw<uint8_t>(dir / "rgb.tif", 1, 1, 3, OIIO::TypeDesc::UINT8, {1, 2, 3});
  w = ReadImage(dir / "rgb.tif");
  EXPECT_TRUE(Same(w.At(0, 0), Px(255, 1, 2, 3)));
  EXPECT_EQ(ReadImageSize(dir / "rgb.tif").width, 1);
}

// The orientation each code gives, as EXIF defines it: the side of the
// picture where the stored first row lies, and where the stored first column lies.
TEST(ImageFiles, OrientationIsAppliedOnRead) {
  TempDir dir;
  const int w = 3, h = 2;
  struct Case {
    int code;
    char row0, column0;  // t(op), b(ottom), l(eft), r(ight)
  };
  const Case cases[] = {{1, 't', 'l'}, {2, 't', 'r'}, {3, 'b', 'r'}, {4, 'b', 'l'},
                        {5, 'l', 't'}, {6, 'r', 't'}, {7, 'r', 'b'}, {8, 'l', 'b'}};
  std::vector<uint8_t> stored;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) stored.insert(stored.end(), {uint8_t(10 + 10 * (y * w + x)), uint8_t(x), uint8_t(y)});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    const fs::path path = dir / ("o" + std::to_string(c.code) + ".tif");
    WriteRaw<uint8_t>(path, w, h, 3, OIIO::TypeDesc::UINT8, stored, true,
                      [&](OIIO::ImageSpec& spec) { spec.attribute("Orientation", c.code); });
    const bool sideways = c.row0 == 'l' || c.row0 == 'r';
    const int uw = sideways ? h : w, uh = sideways ? w : h;
    EXPECT_EQ(ReadImageSize(path).width, uw);
    EXPECT_EQ(ParseSource(path.string()).height, uh);
    EXPECT_EQ(ReadImageInfo(path).orientation, c.code);
    const World upright = ReadImage(path);
    ASSERT_EQ(upright.width(), uw);
    ASSERT_EQ(upright.height(), uh);
    for (int Y = 0; Y < uh; ++Y) {
      for (int X = 0; X < uw; ++X) {
        // Rows run across (top or bottom first) or down (left or right first).
        const int sy = sideways ? (c.row0 == 'l' ? X : uw - 1 - X) : (c.row0 == 't' ? Y : uh - 1 - Y);
        const int sx = sideways ? (c.column0 == 't' ? Y : uh - 1 - Y) : (c.column0 == 'l' ? X : uw - 1 - X);
        EXPECT_TRUE(Same(upright.At(X, Y), Px(255, 10 + 10 * (sy * w + sx), sx, sy))) << X << "," << Y;
      }
    }
  }
}

// The ICC profile, EXIF, GPS, descriptive tags and resolution travel;
// format-private attributes, the EXIF pixel size and the orientation do
// not, and the resolution follows the picture: turned upright, then scaled
// to the output's size. A profile of grey data describes no output
// (outputs are RGB) and is left out. (Which format keeps what, end to end:
// the command line's tests.)
TEST(ImageFiles, MetadataTravelsWithThePicture) {
  TempDir dir;
  const std::vector<uint8_t> icc = IccProfile("RGB ");
  // Stored 4x2 on its side (orientation 6), 300 dpi along the stored rows
  // and 150 across them: the picture is 2x4 at 150 across and 300 down.
  WriteRaw<uint8_t>(dir / "in.jpg", 4, 2, 3, OIIO::TypeDesc::UINT8, std::vector<uint8_t>(24, 99), true,
                    [&](OIIO::ImageSpec& spec) {
                      spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, int(icc.size())), icc.data());
                      spec.attribute("Exif:FocalLength", 50.0f);
                      spec.attribute("FNumber", 2.8f);  // EXIF's, as OpenImageIO names it
                      spec.attribute("Exif:PixelXDimension", 4);
                      spec.attribute("GPS:LatitudeRef", "N");
                      for (const char* tag : {"Make", "Model", "Artist", "Copyright", "DateTime", "ImageDescription"}) {
                        spec.attribute(tag, std::string(tag) + " text");
                      }
                      spec.attribute("XResolution", 300.0f);
                      spec.attribute("YResolution", 150.0f);
                      spec.attribute("ResolutionUnit", "in");
                      spec.attribute("Orientation", 6);
                      spec.attribute("jpeg:subsampling", "4:4:4");
                    });
  ImageInfo info;
  ReadImage(dir / "in.jpg", 0, {}, &info);
  for (const char* name :
       {"ICCProfile", "Exif:FocalLength", "FNumber", "GPS:LatitudeRef", "Make", "Model", "Artist", "Copyright",
        "DateTime", "ImageDescription", "XResolution", "YResolution", "ResolutionUnit"}) {
    EXPECT_TRUE(FindMetadata(info.metadata, name)) << name;
  }
  for (const char* name : {"Exif:PixelXDimension", "Orientation", "jpeg:subsampling", "oiio:ColorSpace"}) {
    EXPECT_FALSE(FindMetadata(info.metadata, name)) << name;
  }
  WriteOptions options;
  options.metadata = info.metadata;
  const World half = MakeSolid(1, 2, Px(255, 9, 9, 9));
  WriteImage(dir / "out.jpg", half.pf(), options);
  auto in = OIIO::ImageInput::open((dir / "out.jpg").string());
  EXPECT_EQ(in->spec().get_float_attribute("XResolution"), 75.0f);
  EXPECT_EQ(in->spec().get_float_attribute("YResolution"), 150.0f);
  EXPECT_EQ(in->spec().get_int_attribute("Orientation", 1), 1);
  EXPECT_EQ(in->spec().get_int_attribute("Exif:PixelXDimension", 1), 1);  // absent, or the output's width
  EXPECT_TRUE(in->spec().find_attribute("ICCProfile"));

  for (MetadataItem& item : options.metadata.items) {
    if (item.name == "ICCProfile") item.bytes = IccProfile("GRAY");
  }
  for (const char* name : {"grey.png", "grey.tif"}) {
    WriteImage(dir / name, half.pf(), options);
    EXPECT_FALSE(OIIO::ImageInput::open((dir / name).string())->spec().find_attribute("ICCProfile")) << name;
  }
}

// 16-bit samples hold v x 257, float and half v / 255, alpha straight;
// each format takes only the depths it holds.
TEST(ImageFiles, OutputDepths) {
  TempDir dir;
  const World src = Samples();
  const std::pair<const char*, SampleDepth> cases[] = {
      {"a.png", SampleDepth::k16}, {"a.tif", SampleDepth::kHalf}, {"b.tif", SampleDepth::kFloat}};
  for (const auto& [name, depth] : cases) {
    SCOPED_TRACE(name);
    WriteOptions options;
    options.depth = depth;
    WriteImage(dir / name, src.pf(), options);
    // 16 bits as read in units of 1/65535, so v x 257 is v / 255 there too.
    const auto floats = ReadRaw<float>(dir / name, OIIO::TypeDesc::FLOAT);
    for (int i = 0; i < 48; ++i) {
      const PF_Pixel& p = src.At(i / 4 % 4, i / 16);
      const int v = i % 4 == 0 ? p.red : i % 4 == 1 ? p.green : i % 4 == 2 ? p.blue : p.alpha;
      EXPECT_NEAR(floats[size_t(i)], v / 255.0, depth == SampleDepth::kHalf ? 5e-4 : 1e-7) << i;
    }
    EXPECT_TRUE(SamePixels(ReadImage(dir / name).pf(), src.pf()));
  }
  EXPECT_EQ(DepthProblem("x.exr", SampleDepth::k8), "exr holds half or float");
  WriteOptions deep;
  deep.depth = SampleDepth::k16;
  EXPECT_THROW(WriteImage(dir / "x.jpg", src.pf(), deep), HostError);
  EXPECT_FALSE(fs::exists(dir / "x.jpg"));
}

TEST(ImageFiles, CompressionReachesTheFile) {
  TempDir dir;
  World noise(64, 64);
  uint32_t seed = 7;
  for (int i = 0; i < 64 * 64; ++i) {
    seed = seed * 1103515245u + 12345u;
    noise.At(i % 64, i / 64) = Px(255, (seed >> 24) & 0x3F, i % 64 * 4, i / 64 * 4);
  }
  auto write = [&](const std::string& name, const std::string& compression) {
    WriteOptions options;
    options.compression = compression;
    WriteImage(dir / name, noise.pf(), options);
    return fs::file_size(dir / name);
  };
  // PNG levels change the size, never the pixels; so does JPEG quality.
  EXPECT_GT(write("l0.png", "0"), write("l9.png", "9"));
  EXPECT_TRUE(SamePixels(ReadImage(dir / "l0.png").pf(), ReadImage(dir / "l9.png").pf()));
  EXPECT_GT(write("q100.jpg", "100"), write("q10.jpg", "10"));
  // The subsampling as the reader finds it in the frame header.
  for (const std::string sampling : {"4:2:0", "4:4:4"}) {
    write("s.jpg", "90," + sampling);
    EXPECT_EQ(OIIO::ImageInput::open((dir / "s.jpg").string())->spec().get_string_attribute("jpeg:subsampling"),
              sampling);
  }
  write("c.exr", "dwab:100");
  EXPECT_EQ(OIIO::ImageInput::open((dir / "c.exr").string())->spec().get_float_attribute("openexr:dwaCompressionLevel"),
            100.0f);
  const std::pair<const char*, const char*> refused[] = {
      {"x.jpg", "0"},  {"x.jpg", "101"},    {"x.jpg", "90,4:1:1"}, {"x.jpg", "90,"},    {"x.png", "10"},
      {"x.png", "-1"}, {"x.exr", "zip:10"}, {"x.exr", "piz:3"},    {"x.exr", "dwaa:0"}, {"x.tiff", "jpeg"}};
  for (const auto& [name, text] : refused) {
    const std::string ext = fs::path(name).extension().string().substr(1, 3);
    EXPECT_EQ(CompressionProblem(name, text).rfind(ext + " takes ", 0), 0u) << name << " " << text;
    WriteOptions options;
    options.compression = text;
    EXPECT_THROW(WriteImage(dir / name, noise.pf(), options), HostError) << name << " " << text;
  }
}

TEST(ImageFiles, JpegDropsAlpha) {
  TempDir dir;
  World w = MakeSolid(8, 8, Px(10, 200, 200, 200));
  WriteImage(dir / "a.jpg", w.pf());
  const World back = ReadImage(dir / "a.jpg");
  EXPECT_EQ(back.At(3, 3).alpha, 255);
  EXPECT_NEAR(back.At(3, 3).red, 200, 2);
}

TEST(ImageFiles, FailedWritesLeaveNoFile) {
  TempDir dir;
  const World w = Samples();
  // Unknown format, missing folder, empty world: nothing at all appears.
  EXPECT_THROW(WriteImage(dir / "a.bmpx", w.pf()), HostError);
  EXPECT_THROW(WriteImage(dir / "missing" / "a.png", w.pf()), HostError);
  World empty;
  EXPECT_THROW(WriteImage(dir / "e.png", empty.pf()), HostError);
  EXPECT_TRUE(dir.Names().empty());

  // The destination cannot be replaced (it is a folder): the temporary is removed.
  fs::create_directory(dir / "taken.png");
  EXPECT_THROW(WriteImage(dir / "taken.png", w.pf()), HostError);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"taken.png"});
  EXPECT_TRUE(fs::is_directory(dir / "taken.png"));

  // A successful write replaces an existing file and leaves only it.
  { std::ofstream(dir / "old.png") << "not an image"; }
  WriteImage(dir / "old.png", w.pf());
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"old.png", "taken.png"}));
  EXPECT_TRUE(SamePixels(ReadImage(dir / "old.png").pf(), w.pf()));
}

TEST(ImageFiles, UnreadableFilesNameThePath) {
  TempDir dir;
  { std::ofstream(dir / "text.png") << "hello"; }
  for (const fs::path& p : {dir / "missing.png", dir / "text.png", dir.path()}) {
    try {
      ReadImage(p);
      ADD_FAILURE() << p;
    } catch (const HostError& e) {
      const std::string m = e.what();
      EXPECT_NE(m.find(p.string()), std::string::npos) << m;
      EXPECT_EQ(m.find('\n'), std::string::npos) << m;
    }
  }
}

// The checks made before decoding (compressed-size ratio, strips within
// the file, a JPEG's end marker) must pass every sound file, including the
// most compressible ones and the layouts the checks parse.
TEST(ImageFiles, SoundFilesPassTheChecksMadeBeforeDecoding) {
  TempDir dir;
  struct Case {
    const char* name;
    int width, height, tile;
    std::vector<std::pair<std::string, std::string>> attributes;
    bool solid;  // one value everywhere: as compressible as an image gets
    size_t trailing_bytes;
  };
  const Case cases[] = {
      {"solid.png", 4096, 1024, 0, {{"png:compressionLevel", "9"}}, true, 0},
      {"ramp.png", 300, 7, 0, {}, false, 0},
      {"plain.tif", 300, 7, 0, {{"compression", "none"}}, false, 0},
      {"solid-plain.tif", 64, 64, 0, {{"compression", "none"}}, true, 0},
      {"zip.tif", 4096, 256, 0, {{"compression", "zip"}}, true, 0},
      {"lzw.tif", 300, 7, 0, {{"compression", "lzw"}}, false, 0},
      {"tiled.tif", 100, 70, 32, {{"compression", "none"}}, false, 0},
      {"baseline.jpg", 300, 7, 0, {}, false, 0},
      {"progressive.jpg", 300, 70, 0, {{"jpeg:progressive", "1"}}, false, 0},
      {"trailing.jpg", 300, 7, 0, {}, false, 70000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = dir / c.name;
    std::vector<uint8_t> grey(size_t(c.width) * size_t(c.height));
    for (size_t i = 0; i < grey.size(); ++i) {
      grey[i] = c.solid ? 77 : uint8_t((i % size_t(c.width)) * 255 / (c.width - 1));
    }
    auto out = OIIO::ImageOutput::create(path.string());
    ASSERT_TRUE(out);
    OIIO::ImageSpec spec(c.width, c.height, 1, OIIO::TypeDesc::UINT8);
    if (c.tile) spec.tile_width = spec.tile_height = c.tile;
    for (const auto& [key, value] : c.attributes) {
      if (value.find_first_not_of("0123456789") == std::string::npos)
        spec.attribute(key, std::stoi(value));
      else
        spec.attribute(key, value);
    }
    ASSERT_TRUE(out->open(path.string(), spec));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, grey.data()));
    ASSERT_TRUE(out->close());
    if (c.trailing_bytes) std::ofstream(path, std::ios::app | std::ios::binary) << std::string(c.trailing_bytes, '\0');

    const World w = ReadImage(path);
    ASSERT_EQ(w.width(), c.width);
    ASSERT_EQ(w.height(), c.height);
    const bool lossy = path.extension() == ".jpg";
    for (const auto& [x, y] : {std::pair{0, 0}, {c.width - 1, 0}, {c.width / 2, c.height - 1}}) {
      const int expected = grey[size_t(y) * size_t(c.width) + size_t(x)];
      EXPECT_NEAR(w.At(x, y).red, expected, lossy ? 8 : 0) << x << "," << y;
      EXPECT_EQ(w.At(x, y).alpha, 255);
    }
  }
}

// ---------------------------------------------------------------------------
// Frame patterns and sequences
// ---------------------------------------------------------------------------

TEST(FramePatterns, PlaceholdersEscapesAndWidths) {
  const struct {
    const char* path;
    const char* prefix;
    const char* suffix;
    int digits;
    const char* frame_42;  // FramePath at frame 42
  } patterns[] = {
      {"shots/a.####.png", "shots/a.", ".png", 4, "shots/a.0042.png"},
      {"b_%04d.exr", "b_", ".exr", 4, "b_0042.exr"},
      {"b_%4d.exr", "b_", ".exr", 4, "b_0042.exr"},
      {"c.%d.tif", "c.", ".tif", 0, "c.42.tif"},
      {"c.#.tif", "c.", ".tif", 1, "c.42.tif"},
      {"w%12d", "w", "", 12, "w000000000042"},
      {"50%%.%03d.png", "50%.", ".png", 3, "50%.042.png"},
      {"take\\#2.%02d.png", "take#2.", ".png", 2, "take#2.42.png"},
      {"back\\\\##.png", "back\\", ".png", 2, "back\\42.png"},
      {"d%.%%d.#", "d%.%d.", "", 1, "d%.%d.42"},
  };
  for (const auto& c : patterns) {
    SCOPED_TRACE(c.path);
    const auto p = ParseFramePattern(c.path);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->prefix, c.prefix);
    EXPECT_EQ(p->suffix, c.suffix);
    EXPECT_EQ(p->digits, c.digits);
    EXPECT_EQ(FramePath(*p, 42), c.frame_42);
  }
  EXPECT_EQ(FramePath(*ParseFramePattern("a.##.png"), 12345), "a.12345.png");

  // No placeholder: one file, the escapes resolved.
  const std::pair<const char*, const char*> plain[] = {
      {"plain.png", "plain.png"}, {"50%.png", "50%.png"},   {"x%s.png", "x%s.png"},   {"a%%d.png", "a%d.png"},
      {"\\#1.png", "#1.png"},     {"a\\b.png", "a\\b.png"}, {"%-3d.png", "%-3d.png"}, {"a\\\\b", "a\\b"},
  };
  for (const auto& [path, file] : plain) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(ParseFramePattern(path));
    EXPECT_EQ(LiteralPath(path), file);
  }
  // Any name survives escaping: it is read back as itself, never as a pattern.
  for (const char* name : {"shot#1.png", "50%d.png", "a\\#b%%c\\\\d#%04d.png", "plain.png", "\\", "%"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(ParseFramePattern(EscapePath(name)));
    EXPECT_EQ(LiteralPath(EscapePath(name)), name);
  }
  for (const std::string& bad : std::vector<std::string>{"a.##.%02d.png", "take_##/a.png", "t%1d/a.png", "a.%65d.png",
                                                         "a.%99999999999999999999d.png", std::string(65, '#')}) {
    EXPECT_THROW(ParseFramePattern(bad), HostError) << bad;
  }
  EXPECT_TRUE(ParseFramePattern("a.%64d.png"));
}

TEST(FramePatterns, FramesAreDiscoveredAndHeldAtTheEnds) {
  TempDir dir;
  // Frames 3, 5 and 10, each a different grey; plus names that must not match.
  for (int f : {3, 5, 10}) {
    WriteImage(dir / ("s." + std::string(f < 10 ? "000" : "00") + std::to_string(f) + ".png"),
               MakeSolid(2, 2, Px(255, f * 20, 0, 0)).pf());
  }
  for (const char* junk : {"s.003.png", "s.00011.png", "t.0004.png", "s.0004.png.bak", "s.00x4.png"}) {
    std::ofstream(dir / junk) << "x";
  }
  fs::create_directory(dir / "s.0007.png");

  const ImageSource s = ParseSource((dir / "s.####.png").string());
  ASSERT_EQ(s.kind, SourceKind::kSequence);
  EXPECT_EQ(s.frames, (std::vector<int64_t>{3, 5, 10}));
  EXPECT_EQ(s.width, 2);
  EXPECT_EQ(ParseSource((dir / "s.%04d.png").string()).frames, s.frames);
  EXPECT_EQ(DiscoverFrames(*ParseFramePattern((dir / "s.%3d.png").string())), (std::vector<int64_t>{3}));
  std::ofstream(dir / "s.000000000000000011.png") << "x";  // 18 digits
  EXPECT_EQ(DiscoverFrames(*ParseFramePattern((dir / "s.%018d.png").string())), (std::vector<int64_t>{11}));

  // Frame f covers [f x step, (f + 1) x step).
  const int64_t step = 100;
  EXPECT_EQ(SequenceFrameAt(s, -1, step), 3);
  EXPECT_EQ(SequenceFrameAt(s, 0, step), 3);
  EXPECT_EQ(SequenceFrameAt(s, 399, step), 3);
  EXPECT_EQ(SequenceFrameAt(s, 499, step), 3);  // frame 4 is missing: frame 3 holds
  EXPECT_EQ(SequenceFrameAt(s, 500, step), 5);
  EXPECT_EQ(SequenceFrameAt(s, 599, step), 5);
  EXPECT_EQ(SequenceFrameAt(s, 999, step), 5);
  EXPECT_EQ(SequenceFrameAt(s, 1000, step), 10);
  EXPECT_EQ(SequenceFrameAt(s, 1 << 30, step), 10);

  EXPECT_EQ(LoadSource(s, 550, step).At(1, 1).red, 100);
  EXPECT_EQ(LoadSource(s, 5000, step, 8).At(1, 1).red, 200);

  // No frames: the message says why, or how to read a file whose name looks like a pattern.
  std::ofstream(dir / "t#1.png") << "x";
  const std::pair<fs::path, std::string> missing[] = {
      {dir / "none.####.png", "no frames found"},
      {dir / "nofolder" / "a.####.png", "cannot read the folder '" + (dir / "nofolder").string() + "': No such file"},
      {dir / "t#1.png", "write '" + EscapePath((dir / "t#1.png").string()) + "'"},
  };
  for (const auto& [path, says] : missing) {
    try {
      ParseSource(path.string());
      ADD_FAILURE() << path;
    } catch (const HostError& e) {
      EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << e.what();
    }
  }
}

// ---------------------------------------------------------------------------
// Solid colours and the test card
// ---------------------------------------------------------------------------

TEST(Sources, SolidAndTestCardForms) {
  ImageSource s = ParseSource("solid:4x3:#102030");
  EXPECT_EQ(s.kind, SourceKind::kSolid);
  EXPECT_EQ(s.width, 4);
  EXPECT_EQ(s.height, 3);
  EXPECT_TRUE(Same(s.color, Px(255, 0x10, 0x20, 0x30)));
  EXPECT_TRUE(Same(ParseSource("solid:1x1:#10203040").color, Px(0x40, 0x10, 0x20, 0x30)));
  EXPECT_TRUE(Same(ParseSource("solid:1x1:1,2,3,4").color, Px(4, 1, 2, 3)));
  const World w = LoadSource(ParseSource("solid:3x2:9,8,7"), 0, 100, 4);
  EXPECT_EQ(w.rowbytes(), 16);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_TRUE(Same(w.At(x, y), Px(255, 9, 8, 7)));

  s = ParseSource("rgba:4x3:-");
  EXPECT_EQ(s.kind, SourceKind::kRawStream);
  EXPECT_EQ(s.width, 4);
  EXPECT_EQ(s.height, 3);
  EXPECT_EQ(s.path, "-");
  EXPECT_THROW(LoadSource(s, 0, 100), HostError);  // read in order by the caller, never here

  s = ParseSource("testcard");
  EXPECT_EQ(s.kind, SourceKind::kTestCard);
  EXPECT_EQ(s.width, 640);
  EXPECT_EQ(s.height, 360);
  s = ParseSource("testcard:64x32");
  EXPECT_EQ(s.width, 64);
  EXPECT_EQ(s.height, 32);
}

TEST(Sources, MalformedSourcesGiveOneLineNamingTheText) {
  for (const char* bad : {"solid",
                          "solid:",
                          "solid:0x5",
                          "solid:4x",
                          "solid:4x3:#12345",
                          "solid:4x3:300,0,0",
                          "solid:4x3:1,2",
                          "solid:4x3:1,2,3,4,5",
                          "solid:-4x3",
                          "testcard:",
                          "testcard:abc",
                          "testcard:70000x10",
                          "testcard:40000x40000",
                          "",
                          "no/such/file.png",
                          "rgba",
                          "rgba:4x3",
                          "rgba:4x3:",
                          "rgba:0x3:-",
                          "rgba:4x3:/no/such/stream",
                          "rgba:4x3:/dev/null",
                          "rgba:4x3:/"}) {
    SCOPED_TRACE(bad);
    try {
      ParseSource(bad);
      ADD_FAILURE() << "accepted";
    } catch (const HostError& e) {
      const std::string m = e.what();
      EXPECT_EQ(m.find('\n'), std::string::npos);
      EXPECT_FALSE(m.empty());
    }
  }
}

TEST(Sources, TestCardIsDeterministicAndShowsAlpha) {
  const World a = MakeTestCard(640, 360);
  const World b = MakeTestCard(640, 360, 36);
  EXPECT_TRUE(SamePixels(a.pf(), b.pf()));

  // A transparent margin, an opaque card with an antialiased rim.
  EXPECT_EQ(a.At(0, 0).alpha, 0);
  EXPECT_EQ(a.At(639, 359).alpha, 0);
  EXPECT_EQ(a.At(100, 180).alpha, 255);
  bool rim = false;
  for (int x = 0; x < 320; ++x) rim = rim || (a.At(x, 20).alpha > 0 && a.At(x, 20).alpha < 255);
  for (int y = 0; y < 180; ++y) rim = rim || (a.At(30, y).alpha > 0 && a.At(30, y).alpha < 255);
  EXPECT_TRUE(rim);

  // Pure colour bars near the top.
  int pure = 0;
  for (int x = 30; x < 480; x += 8) {
    const PF_Pixel& p = a.At(x, 60);
    pure += (p.red == 0 || p.red == 255) && (p.green == 0 || p.green == 255) && (p.blue == 0 || p.blue == 255);
  }
  EXPECT_GE(pure, 50);

  // Somewhere a grey ramp rises from black to white without stepping back.
  bool ramp = false;
  for (int y = 0; y < 360 && !ramp; ++y) {
    int lo = 256, hi = -1, prev = -1;
    bool monotonic = true, grey = true;
    for (int x = 0; x < 640; ++x) {
      const PF_Pixel& p = a.At(x, y);
      if (p.alpha != 255) continue;
      grey = grey && p.red == p.green && p.green == p.blue;
      monotonic = monotonic && p.red >= prev;
      prev = p.red;
      lo = std::min<int>(lo, p.red);
      hi = std::max<int>(hi, p.red);
    }
    ramp = grey && monotonic && lo == 0 && hi == 255;
  }
  EXPECT_TRUE(ramp);

  // Semi-transparent pixels outside the card: the soft disc, with a range of alphas.
  std::set<int> soft;
  for (int y = 0; y < 360; ++y)
    for (int x = 500; x < 640; ++x)
      if (a.At(x, y).alpha > 0 && a.At(x, y).alpha < 255) soft.insert(a.At(x, y).alpha);
  EXPECT_GT(soft.size(), 50u);

  // Every size works, down to one pixel.
  for (auto [w, h] : {std::pair{1, 1}, {2, 7}, {7, 2}, {33, 17}}) {
    const World t = MakeTestCard(w, h);
    EXPECT_EQ(t.width(), w);
    EXPECT_EQ(t.height(), h);
  }
}

TEST(Sources, ColorAndSizeParsing) {
  EXPECT_TRUE(Same(ParseColor("#FFa000"), Px(255, 255, 0xA0, 0)));
  EXPECT_TRUE(Same(ParseColor("0,0,0,0"), Px(0, 0, 0, 0)));
  for (const char* bad : {"", "#", "#GG0000", "#1234567", "1,2", "1,,3", "256,0,0", "a,b,c", "1, 2, 3x"}) {
    EXPECT_THROW(ParseColor(bad), HostError) << bad;
  }
  EXPECT_EQ(ParseSize("65535x1").width, 65535);
  EXPECT_THROW(ParseSize("65536x1"), HostError);
  EXPECT_THROW(ParseSize("10X10"), HostError);
}

}  // namespace
}  // namespace ombrix
