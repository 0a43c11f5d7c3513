// Image files and sources. Expected bytes come from the formats' definitions
// (straight alpha kept, EXR associated, round(v x 255)), checked against
// files read and written directly with OpenImageIO where that matters.
#include <ombrix/host/image_io.h>

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>

namespace ombrix {
namespace {

namespace fs = std::filesystem;

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
  const PF_Pixel px[12] = {Px(0, 200, 100, 50), Px(1, 255, 0, 7),  Px(128, 10, 20, 30),  Px(255, 1, 2, 3),
                           Px(0, 0, 0, 0),      Px(254, 9, 99, 199), Px(64, 255, 255, 255), Px(255, 255, 255, 255),
                           Px(17, 33, 66, 132), Px(200, 0, 128, 255), Px(0, 255, 255, 255), Px(99, 42, 43, 44)};
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
              bool unassociated = true) {
  auto out = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(out);
  OIIO::ImageSpec spec(w, h, nch, type);
  if (unassociated) spec.attribute("oiio:UnassociatedAlpha", 1);
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

TEST(ImageFiles, ExrIsPremultipliedOnWriteAndUnpremultipliedOnRead) {
  TempDir dir;
  const World src = Samples();
  WriteImage(dir / "a.exr", src.pf());
  int nch = 0;
  const auto raw = ReadRaw<float>(dir / "a.exr", OIIO::TypeDesc::FLOAT, &nch);
  ASSERT_EQ(nch, 4);
  for (int i = 0; i < 12; ++i) {
    const PF_Pixel& p = src.At(i % 4, i / 4);
    const double a = p.alpha / 255.0;
    EXPECT_NEAR(raw[i * 4 + 0], p.red / 255.0 * a, 1e-6);
    EXPECT_NEAR(raw[i * 4 + 1], p.green / 255.0 * a, 1e-6);
    EXPECT_NEAR(raw[i * 4 + 2], p.blue / 255.0 * a, 1e-6);
    EXPECT_NEAR(raw[i * 4 + 3], a, 1e-6);
  }
  // Back to straight bytes: exact wherever alpha is not 0; there the colour is gone.
  const World back = ReadImage(dir / "a.exr");
  for (int i = 0; i < 12; ++i) {
    const PF_Pixel& p = src.At(i % 4, i / 4);
    const PF_Pixel& q = back.At(i % 4, i / 4);
    SCOPED_TRACE(i);
    EXPECT_EQ(q.alpha, p.alpha);
    if (p.alpha != 0) {
      EXPECT_TRUE(Same(q, p));
    } else {
      EXPECT_EQ(q.red + q.green + q.blue, 0);
    }
  }

  // A file made elsewhere: colour 0.25 over alpha 0.5 is straight 0.5, round(127.5) = 128.
  WriteRaw<float>(dir / "b.exr", 1, 1, 4, OIIO::TypeDesc::FLOAT, {0.25f, 0.0f, 0.5f, 0.5f}, false);
  const World b = ReadImage(dir / "b.exr");
  EXPECT_TRUE(Same(b.At(0, 0), Px(128, 128, 0, 255)));
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
      if (value.find_first_not_of("0123456789") == std::string::npos) spec.attribute(key, std::stoi(value));
      else spec.attribute(key, value);
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
      {"plain.png", "plain.png"}, {"50%.png", "50%.png"},     {"x%s.png", "x%s.png"},   {"a%%d.png", "a%d.png"},
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
  for (const char* bad : {"solid", "solid:", "solid:0x5", "solid:4x", "solid:4x3:#12345", "solid:4x3:300,0,0",
                          "solid:4x3:1,2", "solid:4x3:1,2,3,4,5", "solid:-4x3", "testcard:", "testcard:abc",
                          "testcard:70000x10", "testcard:40000x40000", "", "no/such/file.png", "rgba", "rgba:4x3",
                          "rgba:4x3:", "rgba:0x3:-", "rgba:4x3:/no/such/stream", "rgba:4x3:/dev/null", "rgba:4x3:/"}) {
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
