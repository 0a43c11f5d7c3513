// The `ombrix` binary run as a user runs it, on real files. Flatwash's
// expected bytes are computed here from its mixing formula; the files are
// written and read with OpenImageIO directly, not through the host.
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "common/icc_profile.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "cli_support.h"

namespace {

namespace fs = std::filesystem;
using namespace ombrix_cli_test;

std::string Slurp(const fs::path& p) {
  std::ifstream f(p);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

class OmbrixCli : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "ombrix-cli-XXXXXX").string();
    dir_ = mkdtemp(tmpl.data());
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  fs::path Path(const std::string& name) const { return dir_ / name; }

  // Runs ombrix with the test's plug-in folder (unless one is given).
  Result Ombrix(std::vector<std::string> args, bool default_plugins = true) {
    std::string cmd = Quote(OMBRIX_CLI);
    for (const auto& a : args) cmd += " " + Quote(a);
    if (default_plugins) cmd += " --plugins " + Quote(OMBRIX_TEST_PLUGIN_DIR);
    cmd += " >" + Quote(Path("stdout.txt").string()) + " 2>" + Quote(Path("stderr.txt").string()) + " </dev/null";
    Result r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = Slurp(Path("stdout.txt"));
    r.err = Slurp(Path("stderr.txt"));
    fs::remove(Path("stdout.txt"));
    fs::remove(Path("stderr.txt"));
    return r;
  }

  // Files in the test folder other than the given inputs.
  std::vector<std::string> Outputs(const std::vector<std::string>& inputs) const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) {
      const std::string n = e.path().filename().string();
      if (std::find(inputs.begin(), inputs.end(), n) == inputs.end()) names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

// RGBA bytes, written straight.
void WritePng(const fs::path& path, int w, int h, const std::vector<uint8_t>& rgba) {
  auto out = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(out);
  OIIO::ImageSpec spec(w, h, 4, OIIO::TypeDesc::UINT8);
  spec.attribute("oiio:UnassociatedAlpha", 1);
  ASSERT_TRUE(out->open(path.string(), spec));
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, rgba.data()));
  ASSERT_TRUE(out->close());
}

std::vector<uint8_t> ReadPng(const fs::path& path, int* w = nullptr, int* h = nullptr) {
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path.string(), &config);
  EXPECT_TRUE(in) << path;
  if (!in) return {};
  const auto& spec = in->spec();
  EXPECT_EQ(spec.nchannels, 4);
  std::vector<uint8_t> data(size_t(spec.width) * spec.height * 4);
  EXPECT_TRUE(in->read_image(0, 0, 0, 4, OIIO::TypeDesc::UINT8, data.data()));
  if (w) *w = spec.width;
  if (h) *h = spec.height;
  return data;
}

// A 5 x 3 input covering alpha 0 with colour, partial alphas and extremes.
const std::vector<uint8_t> kInput = {200, 100, 50,  0,  255, 255, 255, 255, 0,   0,   0,   255, 1,   2,   3,
                                     128, 90,  180, 27, 64,  255, 0,   0,   255, 0,   255, 0,   1,   0,   0,
                                     255, 254, 77,  77, 77,  77,  13,  250, 128, 200, 128, 128, 128, 128, 255,
                                     255, 255, 0,   10, 20,  30,  40,  99,  0,   99,  255, 254, 253, 252, 251};

// Flatwash at blend b (16.16) with colour col: (in x b + col x (0x10000 - b)) >> 16, alpha kept.
std::vector<uint8_t> Flatwash(const std::vector<uint8_t>& in, const uint8_t col[3], int32_t b) {
  std::vector<uint8_t> out(in.size());
  for (size_t i = 0; i < in.size(); i += 4) {
    for (int c = 0; c < 3; ++c) out[i + c] = uint8_t((in[i + c] * b + col[c] * (0x10000 - b)) >> 16);
    out[i + 3] = in[i + 3];
  }
  return out;
}

TEST_F(OmbrixCli, FlatwashBlendsExactlyAsTheFormulaSays) {
  WritePng(Path("in.png"), 5, 3, kInput);
  const uint8_t col[3] = {0x20, 0x40, 0x80};

  Result r = Ombrix({"render", "flatwash", "-i", Path("in.png").string(), "-o", Path("half.png").string(), "-p",
                     "Color=#204080", "-p", "Blend With Original=0.5", "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadPng(Path("half.png")), Flatwash(kInput, col, 0x8000));

  // By index, colour as R,G,B,A (its alpha plays no part), blend 0: the pure colour.
  r = Ombrix({"render", "OB Flatwash", "-i", Path("in.png").string(), "-o", Path("pure.png").string(), "-p",
              "1=32,64,128,7", "-p", "2=0", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadPng(Path("pure.png")), Flatwash(kInput, col, 0));

  // Raw 16.16 just below 1 and padded rows: (in x 0xFFFF + col x 1) >> 16.
  r = Ombrix({"render", "obx Flatwash", "-i", Path("in.png").string(), "-o", Path("raw.png").string(), "-p",
              "Color=32,64,128", "-p", "Blend With Original=fixed:65535", "--pad-rows", "12", "--threads", "2", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadPng(Path("raw.png")), Flatwash(kInput, col, 0xFFFF));

  // 0.3 registered units -> round(0.3 x 65536) = 19661.
  r = Ombrix({"render", "flatwash", "-i", Path("in.png").string(), "-o", Path("third.png").string(), "-p",
              "Color=#204080FF", "-p", "Blend With Original=0.3", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadPng(Path("third.png")), Flatwash(kInput, col, 19661));
}

// At a reduced resolution the effect sees the box reduction of its input and
// the file is written at the buffer size: ceil(5 x 1/2) x ceil(3 x 1/2) = 3 x 2.
TEST_F(OmbrixCli, DownsampledRenderSeesTheBoxReducedInput) {
  WritePng(Path("in.png"), 5, 3, kInput);
  const Result r = Ombrix({"render", "flatwash", "-i", Path("in.png").string(), "-o", Path("half.png").string(),
                           "--downsample", "1/2", "-p", "Color=#204080", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  int w = 0, h = 0;
  const std::vector<uint8_t> out = ReadPng(Path("half.png"), &w, &h);
  ASSERT_EQ(w, 3);
  ASSERT_EQ(h, 2);
  // Destination pixel (X, Y) covers source [X x 5/3, (X + 1) x 5/3) x [Y x 3/2, (Y + 1) x 3/2);
  // in units of 1/3 pixel across and 1/2 pixel down, coverage is a count of sub-cells.
  for (int Y = 0; Y < 2; ++Y) {
    for (int X = 0; X < 3; ++X) {
      int64_t alpha_sum = 0, cells = 0;
      for (int sy = Y * 3; sy < (Y + 1) * 3; ++sy) {    // half-pixel rows
        for (int sx = X * 5; sx < (X + 1) * 5; ++sx) {  // third-pixel columns
          alpha_sum += kInput[size_t(((sy / 2) * 5 + sx / 3) * 4 + 3)];
          ++cells;
        }
      }
      const int expected_alpha = int(std::floor(double(alpha_sum) / double(cells) + 0.5));
      SCOPED_TRACE(testing::Message() << "pixel " << X << "," << Y);
      EXPECT_EQ(out[size_t((Y * 3 + X) * 4 + 3)], expected_alpha);
      EXPECT_EQ(out[size_t((Y * 3 + X) * 4 + 0)], 0x20);  // the colour at blend 0
      EXPECT_EQ(out[size_t((Y * 3 + X) * 4 + 2)], 0x80);
    }
  }
}

// Flatwash at blend 1 passes its input through, so a render is a file
// conversion: PNG to EXR holds linear light premultiplied (half unless
// asked), and back to PNG gives every byte again (colour under alpha 0,
// which premultiplying loses, aside). --exr-values raw stores byte / 255.
TEST_F(OmbrixCli, ExrHoldsLinearLightAndComesBackByteForByte) {
  WritePng(Path("in.png"), 5, 3, kInput);
  std::vector<uint8_t> expected = kInput;
  for (size_t i = 0; i < expected.size(); i += 4) {
    if (expected[i + 3] == 0) std::fill_n(&expected[i], 3, 0);
  }
  // Pixel 3 is (1, 2, 3) at alpha 128: red 1/255 decodes to 1/255/12.92.
  const std::pair<std::vector<std::string>, double> cases[] = {
      {{}, 1 / 255.0 / 12.92}, {{"--out-depth", "float"}, 1 / 255.0 / 12.92}, {{"--exr-values", "raw"}, 1 / 255.0}};
  for (const auto& [options, red] : cases) {
    const bool raw = !options.empty() && options[1] == "raw", float_depth = !options.empty() && options[1] == "float";
    std::vector<std::string> args = {"render", "flatwash",
                                     "-i",     Path("in.png").string(),
                                     "-o",     Path("a.exr").string(),
                                     "-p",     "Blend With Original=1",
                                     "-q"};
    args.insert(args.end(), options.begin(), options.end());
    ASSERT_EQ(Ombrix(args).status, 0);
    auto in = OIIO::ImageInput::open(Path("a.exr").string());
    ASSERT_TRUE(in);
    EXPECT_EQ(in->spec().format, float_depth ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::HALF);
    std::vector<float> exr(15 * 4);
    ASSERT_TRUE(in->read_image(0, 0, 0, 4, OIIO::TypeDesc::FLOAT, exr.data()));
    EXPECT_NEAR(exr[12], red * 128 / 255, red * 1e-3);
    const Result r = Ombrix({"render", "flatwash", "-i", Path("a.exr").string(), "-o", Path("back.png").string(), "-p",
                             "Blend With Original=1", "--exr-values", raw ? "raw" : "linear", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadPng(Path("back.png")), expected) << (raw ? "raw" : "linear");
  }
}

// What the effects do not see of an input is noted once on stderr, unless --quiet.
TEST_F(OmbrixCli, InputsDeeperThanBytesOrWithMorePagesAreNoted) {
  auto write = [&](const std::string& name, int pages, OIIO::TypeDesc type) {
    auto out = OIIO::ImageOutput::create(Path(name).string());
    std::vector<OIIO::ImageSpec> specs(size_t(pages), OIIO::ImageSpec(4, 2, 3, type));
    for (auto& spec : specs) spec.attribute("name", "part" + std::to_string(&spec - specs.data()));
    ASSERT_TRUE(out->open(Path(name).string(), pages, specs.data()));
    for (int k = 0; k < pages; ++k) {
      if (k > 0) {
        ASSERT_TRUE(out->open(Path(name).string(), specs[size_t(k)], OIIO::ImageOutput::AppendSubimage));
      }
      ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, std::vector<float>(24, 0.5f).data()));
    }
    ASSERT_TRUE(out->close());
  };
  write("deep.png", 1, OIIO::TypeDesc::UINT16);
  write("pages.tif", 3, OIIO::TypeDesc::UINT8);
  write("parts.exr", 2, OIIO::TypeDesc::FLOAT);
  write("plain.png", 1, OIIO::TypeDesc::UINT8);
  const std::string reduced = " samples; effects work on 8 bits per channel, so they are reduced";
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"deep.png", {"has 16-bit" + reduced}},
      {"pages.tif", {"has 3 pages; the first is used"}},
      {"parts.exr", {"has 32-bit float" + reduced, "has 2 parts; the first is used"}},
      {"plain.png", {}}};
  for (const auto& [name, notes] : cases) {
    std::string expected;
    for (const std::string& note : notes) expected += "ombrix: note: '" + Path(name).string() + "' " + note + "\n";
    const std::vector<std::string> args = {
        "render", "flatwash", "-i", Path(name).string(), "-o", Path("o.png").string()};
    const Result r = Ombrix(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.substr(0, r.err.rfind("ombrix: wrote")), expected);
    std::vector<std::string> quiet = args;
    quiet.push_back("-q");
    EXPECT_EQ(Ombrix(quiet).err, "") << name;
  }
}

// A photo stored on its side with a profile, camera data and a resolution:
// the effect sees it upright, and each output keeps what its format holds
// (TIFF no EXIF, PNG no numbers in it, EXR no profile) and the printed size
// at half the resolution, in the depth and compression asked for.
TEST_F(OmbrixCli, OrientationMetadataDepthAndCompressionReachTheOutput) {
  const std::vector<uint8_t> icc = ombrix_test::IccProfile("RGB ");
  {
    auto out = OIIO::ImageOutput::create(Path("photo.jpg").string());
    OIIO::ImageSpec spec(8, 4, 3, OIIO::TypeDesc::UINT8);
    spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, int(icc.size())), icc.data());
    spec.attribute("Make", "Acme");
    spec.attribute("FNumber", 5.6f);
    spec.attribute("XResolution", 240.0f);
    spec.attribute("YResolution", 240.0f);
    spec.attribute("Orientation", 8);
    ASSERT_TRUE(out->open(Path("photo.jpg").string(), spec));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, std::vector<uint8_t>(8 * 4 * 3, 200).data()));
    ASSERT_TRUE(out->close());
  }
  struct Case {
    std::string output, depth, compression;
    OIIO::TypeDesc stored;
    std::string attribute;  // where the file tells its compression
    bool icc, exif;
  };
  const Case cases[] = {{"o.png", "16", "0", OIIO::TypeDesc::UINT16, "", true, false},
                        {"o.exr", "float", "piz", OIIO::TypeDesc::FLOAT, "compression", false, true},
                        {"o.jpg", "8", "80,4:2:2", OIIO::TypeDesc::UINT8, "jpeg:subsampling", true, true},
                        {"o.tif", "half", "packbits", OIIO::TypeDesc::HALF, "compression", true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    const Result r = Ombrix({"render", "flatwash", "-i", Path("photo.jpg").string(), "-o", Path(c.output).string(),
                             "--downsample", "1/2", "-p", "Color=#336699", "-p", "Blend With Original=0", "-q",
                             "--out-depth", c.depth, "--compression", c.compression});
    ASSERT_EQ(r.status, 0) << r.err;
    auto in = OIIO::ImageInput::open(Path(c.output).string());
    ASSERT_TRUE(in);
    const OIIO::ImageSpec& spec = in->spec();
    EXPECT_EQ(spec.width, 2);  // upright 4x8, halved
    EXPECT_EQ(spec.height, 4);
    EXPECT_EQ(spec.format, c.stored);
    EXPECT_EQ(spec.get_int_attribute("Orientation", 1), 1);
    EXPECT_EQ(spec.get_string_attribute("Make"), "Acme");
    EXPECT_EQ(spec.get_float_attribute("FNumber", 0), c.exif ? 5.6f : 0.0f);
    EXPECT_EQ(spec.find_attribute("ICCProfile") != nullptr, c.icc);
    EXPECT_NEAR(spec.get_float_attribute("XResolution"), 120.0f, 0.05f);
    if (!c.attribute.empty()) {
      EXPECT_EQ(spec.get_string_attribute(c.attribute), c.compression.substr(c.compression.find(',') + 1));
    }
    if (c.stored == OIIO::TypeDesc::UINT16) {
      std::vector<uint16_t> px(2 * 4 * 4);
      ASSERT_TRUE(in->read_image(0, 0, 0, 4, OIIO::TypeDesc::UINT16, px.data()));
      EXPECT_EQ(std::vector<uint16_t>(px.begin(), px.begin() + 4),
                (std::vector<uint16_t>{0x33 * 257, 0x66 * 257, 0x99 * 257, 65535}));
    }
  }
}

// Little-endian 32-bit words of a sequence-data file.
std::vector<uint32_t> Words(const fs::path& p) {
  const std::string bytes = Slurp(p);
  std::vector<uint32_t> w(bytes.size() / 4);
  for (size_t i = 0; i < w.size(); ++i)
    for (int b = 3; b >= 0; --b) w[i] = (w[i] << 8) | uint8_t(bytes[i * 4 + size_t(b)]);
  return w;
}

void WriteWords(const fs::path& p, const std::vector<uint32_t>& words, bool big_endian) {
  std::ofstream f(p, std::ios::binary);
  for (uint32_t w : words)
    for (int b = 0; b < 4; ++b) f.put(char(big_endian ? (w >> (24 - 8 * b)) : (w >> (8 * b))));
}

TEST_F(OmbrixCli, AboutPrintsTheTextAndAltOpensTheBrowser) {
  const std::string registry = Path("registry").string();
  Result r = Ombrix({"about", "flatwash", "--registry", registry});
  ASSERT_EQ(r.status, 0) << r.err;
  // The carriage returns of the text become newlines on a terminal.
  EXPECT_EQ(r.out,
            "OB Flatwash, v1.0  Copyright 2026 Kestrane. All rights reserved.\n\n\n"
            "Alt-click <About> to go to web page.\n");

  // A browser that records its arguments, one per line.
  const fs::path browser = Path("browser.sh");
  {
    std::ofstream f(browser);
    f << "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\" >> '" << Path("launched.txt").string() << "'; done\n";
  }
  fs::permissions(browser, fs::perms::owner_all);
  ASSERT_EQ(setenv("BROWSER", browser.c_str(), 1), 0);
  r = Ombrix({"about", "flatwash", "--alt", "--registry", registry});
  unsetenv("BROWSER");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");  // Alt-click writes no about text
  // The browser is started without waiting: give it a moment to run.
  for (int i = 0; i < 100 && !fs::exists(Path("launched.txt")); ++i) usleep(20000);
  usleep(50000);
  EXPECT_EQ(Slurp(Path("launched.txt")), "http://www.kestrane.com/ombrix/\n");
  // An unknown effect is a mistake on the command line, as for render.
  r = Ombrix({"about", "nosuch"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(Lines(r.err), 1) << r.err;
}

TEST_F(OmbrixCli, SequenceDataRoundTripsAndTheOtherByteOrderIsAccepted) {
  // Mistform's record: version 2, seed, repeat, revolutions, then three words
  // it keeps as they are.
  const std::vector<uint32_t> record = {2, 4242, 1, 3, 0, 8, 8};
  WriteWords(Path("big.bin"), record, true);
  const Result r = Ombrix({"render", "mistform", "-i", "solid:16x8:#808080FF", "-o", Path("m.png").string(),
                           "--sequence-data", Path("big.bin").string(), "--save-sequence-data",
                           Path("saved.bin").string(), "--registry", Path("registry").string(), "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("Could not restore"), std::string::npos) << r.err;
  EXPECT_EQ(Words(Path("saved.bin")), record);

  // A record of the wrong size is replaced by the defaults, with the effect's message.
  WriteWords(Path("short.bin"), {2, 1, 1}, false);
  const Result bad = Ombrix({"render", "mistform", "-i", "solid:16x8", "-o", Path("d.png").string(), "--sequence-data",
                             Path("short.bin").string(), "--save-sequence-data", Path("defaults.bin").string(),
                             "--registry", Path("registry").string(), "-q"});
  ASSERT_EQ(bad.status, 0) << bad.err;
  // The effect's 0xA4 byte reaches the terminal as UTF-8.
  EXPECT_NE(bad.err.find("Could not restore settings. \u00A4"
                         "2:1"),
            std::string::npos)
      << bad.err;
  EXPECT_EQ(Words(Path("defaults.bin")), (std::vector<uint32_t>{2, 0, 0, 1, 0, 8, 8}));
}

TEST_F(OmbrixCli, ScriptedOptionsDialogStoresWhatItAccepts) {
  // 3.9 revolutions are stored as 3; the seed and the check box as typed.
  Result r = Ombrix({"render", "mistform", "-i", "solid:16x8", "-o", Path("a.png").string(), "--dialog",
                     "1002=1234,1003=on,1004=3.9", "--save-sequence-data", Path("a.bin").string(), "--registry",
                     Path("registry").string(), "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Words(Path("a.bin")), (std::vector<uint32_t>{2, 1234, 1, 3, 0, 8, 8}));

  // Cancel: the effect answers 517, the run fails and nothing is written.
  r = Ombrix({"render", "mistform", "-i", "solid:16x8", "-o", Path("c.png").string(), "--dialog", "1002=99,cancel",
              "--registry", Path("registry").string()});
  EXPECT_NE(r.status, 0);
  EXPECT_FALSE(fs::exists(Path("c.png")));
}

TEST_F(OmbrixCli, DialogAnswersPressOkWhereTheyStandAndAreCheckedFirst) {
  const std::string bin = Path("s.bin").string();
  WriteWords(bin, {2, 4242, 1, 3, 0, 8, 8}, false);
  struct Case {
    std::string effect, answers;
    int status;
    std::string mentions;  // failures: in the one line
  };
  const std::vector<Case> cases = {
      // The first OK clamps the seed and keeps the dialog open; the second accepts it.
      {"mistform", "1002=6000000,ok,ok", 0, ""},
      {"mistform", "1002=6000000", 2, "still open"},
      {"mistform", "1002=6000000,ok", 2, "5898239"},
      {"mistform", "1002=5,ok,1003=on", 2, "'1003=on'"},
      {"mistform", "1009=5", 2, "1009"},
      {"mistform", "1003=yes", 2, "on/off"},
      {"mistform", "1003=1", 2, "on/off"},
      {"mistform", "1002", 2, "'1002'"},
      {"lightning", "1040=9", 2, "1..8"},
      {"lightning", "1040=x", 2, "1..8"},
      {"lightning", "1013=off", 2, "1013"},
      {"lightning", "1040=8,1014=on", 0, ""},
      {"flatwash", "1=click", 2, "no options dialog"},
      {"mistform", "1002=7,cancel", 1, "517"},
      // Colour answers: checked as colours first, refused when no chooser asks for them.
      {"mistform", "color=#12345G", 2, "color=#RRGGBB"},
      {"mistform", "1002=5,color=#FF8000", 2, "colour chooser"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.effect + " " + c.answers);
    const std::string out = Path("o.png").string();
    std::vector<std::string> args = {"render", c.effect,   "-i",      "solid:16x8", "-o",
                                     out,      "--dialog", c.answers, "--registry", Path("registry").string(),
                                     "-q"};
    if (c.effect == "mistform")
      args.insert(args.end(), {"--sequence-data", bin, "--save-sequence-data", bin});
    else
      args.insert(args.end(), {"--save-sequence-data", Path("l.bin").string()});
    const Result r = Ombrix(args);
    EXPECT_EQ(r.status, c.status) << r.err;
    if (c.status == 0) {
      EXPECT_TRUE(fs::exists(out));
      fs::remove(out);
      continue;
    }
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Could not find resource"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(Words(bin)[1], 5898239u);  // stored by the accepted case only
  }
  // Lightning's record: complexity in word 1, the fractal model's bit in word 5.
  const auto lightning = Words(Path("l.bin"));
  ASSERT_GE(lightning.size(), 6u);
  EXPECT_EQ(lightning[1], 8u);
  EXPECT_EQ(lightning[5], 2u);
}

TEST_F(OmbrixCli, InfoListsTheOptionsDialogsControls) {
  Result r = Ombrix({"info", "mistform"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("  1002  edit  \"Random seed\"  text\n  1003  check box  \"Repeat Evolution\"  on/off\n"),
            std::string::npos)
      << r.out;
  r = Ombrix({"info", "lightning", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto controls = nlohmann::json::parse(r.out)["options_dialog"]["controls"];
  ASSERT_GE(controls.size(), 2u);
  EXPECT_EQ(controls[0], nlohmann::json::parse(R"({"id": 1040, "kind": "scroll_bar", "label": "Complexity",
      "values": "1..8", "min": 1, "max": 8, "enabled": true})"));
  r = Ombrix({"info", "flatwash", "--json"});
  EXPECT_TRUE(nlohmann::json::parse(r.out)["options_dialog"].is_null());
}

TEST_F(OmbrixCli, PopupGroupHeadingsAreNotChoices) {
  const std::string out = Path("o.png").string();
  for (const std::string p : {"Fractal Type...=1", "Fractal Type...=15", "Fractal Type...=(=== Basic ==="}) {
    SCOPED_TRACE(p);
    const Result r = Ombrix({"render", "mistform", "-i", "solid:8x4", "-o", out, "-p", p});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_FALSE(fs::exists(out));
  }
  const Result k = Ombrix({"render", "mistform", "-i", "solid:8x4", "-o", out, "-k", "Fractal Type...@1=4"});
  EXPECT_EQ(k.status, 2);
  EXPECT_NE(k.err.find("disabled"), std::string::npos) << k.err;
  const Result info = Ombrix({"info", "mistform"});
  EXPECT_NE(info.out.find("      4  (=== Turbulent ===  (disabled)\n"), std::string::npos) << info.out;
}

TEST_F(OmbrixCli, PercentSlidersTakeNPercentInTheirOwnScale) {
  // 25% of a 0..1 slider is 0.25; 50% of a 0..100 slider is 50.
  const std::vector<std::array<std::string, 3>> same = {
      {"flatwash", "Blend With Original=25%", "Blend With Original=0.25"},
      {"lightning", "Core Opacity=50%", "Core Opacity=50"},
      {"flatwash", "Color=255, 128 ,0", "Color=#FF8000"},
  };
  for (const auto& [effect, a, b] : same) {
    SCOPED_TRACE(a);
    const Result ra = Ombrix({"render", effect, "-i", "testcard:32x18", "-o", Path("a.png").string(), "-p", a, "-q"});
    const Result rb = Ombrix({"render", effect, "-i", "testcard:32x18", "-o", Path("b.png").string(), "-p", b, "-q"});
    ASSERT_EQ(ra.status, 0) << ra.err;
    ASSERT_EQ(rb.status, 0) << rb.err;
    EXPECT_EQ(Slurp(Path("a.png")), Slurp(Path("b.png")));
  }
  const Result other = Ombrix({"render", "flatwash", "-i", "testcard:32x18", "-o", Path("c.png").string(), "-p",
                               "Blend With Original=0.5", "-q"});
  ASSERT_EQ(other.status, 0);
  EXPECT_NE(Slurp(Path("a.png")), Slurp(Path("c.png")));
}

TEST_F(OmbrixCli, KeyframesAndFrameRanges) {
  WritePng(Path("in.png"), 5, 3, kInput);
  const uint8_t white[3] = {255, 255, 255};
  // Keys 0 at 0 s and 1 at 1 s: frame 12 of 24 fps is 0.5 s, blend 0x8000.
  Result r = Ombrix({"render", "flatwash", "-i", Path("in.png").string(), "-o", Path("k.png").string(), "-k",
                     "Blend With Original@0=0", "-k", "Blend With Original@1=1", "--frame", "12", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadPng(Path("k.png")), Flatwash(kInput, white, 0x8000));

  // A range writes one file per frame, named by frame number; frame 24 (1 s) is a copy.
  r = Ombrix({"render", "flatwash", "-i", Path("in.png").string(), "-o", Path("seq.####.png").string(), "--frames",
              "23-24", "-k", "Blend With Original@0=0", "-k", "Blend With Original@1=1", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Outputs({"in.png", "k.png"}), (std::vector<std::string>{"seq.0023.png", "seq.0024.png"}));
  EXPECT_EQ(ReadPng(Path("seq.0024.png")), kInput);

  // A sequence as input: the range is its frames, and each frame is read at its own time.
  r = Ombrix({"render", "flatwash", "-i", Path("seq.%04d.png").string(), "-o", Path("again.%d.png").string(), "-p",
              "Blend With Original=1", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadPng(Path("again.23.png")), ReadPng(Path("seq.0023.png")));
  EXPECT_EQ(ReadPng(Path("again.24.png")), kInput);
}

// Angles take any value: effects register no range for them, and Speckhue's
// reused definition record leaves a popup's bytes where a range would sit.
TEST_F(OmbrixCli, AnglesHaveNoRange) {
  if (!fs::exists(fs::path(OMBRIX_TEST_PLUGIN_DIR) / "speckhue.aex")) GTEST_SKIP() << "speckhue not built";
  Result r = Ombrix({"info", "speckhue", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json phase = nlohmann::json::parse(r.out)["params"][6];
  EXPECT_EQ(phase["kind"], "angle");
  EXPECT_FALSE(phase.contains("valid_min"));
  r = Ombrix({"render", "speckhue", "-i", "solid:16x8:#8040C0FF", "-o", Path("k.####.png").string(), "-p",
              "Lightness=0.3", "-k", "Noise Phase@0=0", "-k", "Noise Phase@2=720", "--frames", "0-1", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  // 45 degrees and 66 turns more use the same noise streams.
  r = Ombrix({"render", "speckhue", "-i", "solid:16x8:#8040C0FF", "-o", Path("a.png").string(), "-p", "Lightness=0.3",
              "-p", "Noise Phase=45", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Ombrix({"render", "speckhue", "-i", "solid:16x8:#8040C0FF", "-o", Path("b.png").string(), "-p", "Lightness=0.3",
              "-p", "Noise Phase=23805", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadPng(Path("a.png")), ReadPng(Path("b.png")));
  EXPECT_NE(ReadPng(Path("a.png")), ReadPng(Path("k.0000.png")));
}

TEST_F(OmbrixCli, BadInputEndsWithOneLineAndNoOutput) {
  WritePng(Path("in.png"), 5, 3, kInput);
  { std::ofstream(Path("text.png")) << "not an image"; }
  const std::string in = Path("in.png").string();
  const std::string out = Path("out.png").string();
  struct Case {
    std::vector<std::string> args;
    std::string mentions;
  };
  const std::vector<Case> cases = {
      {{"render", "nosuch", "-i", in, "-o", out}, "nosuch"},
      {{"render", "flatwash", "-i", in, "-o", out, "-p", "Nope=1"}, "Nope"},
      {{"render", "flatwash", "-i", in, "-o", out, "-p", "7=1"}, "7"},
      {{"render", "flatwash", "-i", in, "-o", out, "-p", "Color=abc"}, "Color"},
      {{"render", "flatwash", "-i", in, "-o", out, "-p", "Color=#12345"}, "#12345"},
      {{"render", "flatwash", "-i", in, "-o", out, "-p", "Blend With Original=on"}, "Blend With Original"},
      {{"render", "flatwash", "-i", in, "-o", out, "-p", "Blend With Original=1.5"}, "1.5"},
      {{"render", "flatwash", "-i", in, "-o", out, "-p", "Blend With Original=fixed:65537"}, "65537"},
      {{"render", "flatwash", "-i", in, "-o", out, "-p", "Blend With Original=-0.01"}, "-0.01"},
      {{"render", "flatwash", "-i", in, "-o", out, "-p", "0=1"}, "layer"},
      {{"render", "flatwash", "-i", in, "-o", out, "-p", "Color"}, "Color"},
      {{"render", "flatwash", "-i", in, "-o", out, "-k", "Color@x=#000000"}, "x"},
      {{"render", "flatwash", "-i", Path("missing.png").string(), "-o", out}, "missing.png"},
      {{"render", "flatwash", "-i", Path("text.png").string(), "-o", out}, "text.png"},
      {{"render", "flatwash", "-i", "solid:0x4", "-o", out}, "0x4"},
      {{"render", "flatwash", "-i", in, "-o", Path("out.bmpx").string()}, "bmpx"},
      {{"render", "flatwash", "-i", in, "-o", Path("nodir/out.png").string()}, "nodir"},
      {{"render", "flatwash", "-i", in, "-o", out, "--bogus"}, "--bogus"},
      {{"render", "flatwash", "-i", in, "-o", out, "--quality", "best"}, "best"},
      {{"render", "flatwash", "-i", in, "-o", out, "--fps", "0"}, "fps"},
      {{"render", "flatwash", "-i", in, "-o", out, "--frames", "1-3"}, "--frames"},
      {{"render", "flatwash", "-i", in, "-o", Path("o.####.png").string(), "--frames", "5-2"}, "5-2"},
      {{"render", "flatwash", "-i", in, "-o", out, "--time", "1", "--frame", "2"}, "--frame"},
      {{"render", "flatwash", "-i", in, "-o", out, "--frame", "-1"}, "bad --frame '-1' (expected a frame number"},
      {{"render", "flatwash", "-i", in, "-o", out, "--frame", "abc"}, "bad --frame 'abc' (expected a frame number"},
      {{"render", "flatwash", "-i", in, "-o", Path("o.####.png").string(), "--frames", "abc"}, "(expected FIRST-LAST"},
      {{"render", "flatwash", "-i", in, "-o", Path("o.####.png").string(), "--frames", "-2-5"}, "(expected FIRST-LAST"},
      // A check box registered with a blank name is named by its label.
      {{"render", "mistform", "-i", in, "-o", out, "-p", "Invert=maybe"}, "parameter 'Invert' (checkbox)"},
      {{"render", "mistform", "-i", in, "-o", out, "-p", "Invert=on", "-k", "Invert@1=off"}, "parameter 'Invert' is"},
      {{"render", "flatwash", "-i", in}, "output"},
      {{"render", "flatwash", "-i", in, "-o", out, "--downsample", "2/1"}, "2/1"},
      {{"render", "flatwash", "-i", in, "-o", out, "--downsample", "half"}, "half"},
      {{"render", "flatwash", "-i", in, "-o", out, "--pixel-aspect", "1/0"}, "1/0"},
      {{"render", "flatwash", "-i", in, "-o", out, "--out-depth", "float"}, "png holds 8 or 16"},
      {{"render", "flatwash", "-i", in, "-o", Path("out.jpg").string(), "--out-depth", "16"}, "jpg holds 8"},
      {{"render", "flatwash", "-i", in, "-o", out, "--out-depth", "12"}, "'12'"},
      {{"render", "flatwash", "-i", in, "-o", out, "--compression", "lzw"}, "png takes a zlib level 0..9"},
      {{"render", "flatwash", "-i", in, "-o", Path("out.exr").string(), "--compression", "dwaa:0"}, "exr takes"},
      {{"render", "flatwash", "-i", in, "-o", Path("out.jpg").string(), "--compression", "95,4:1:1"}, "jpg takes"},
      {{"render", "flatwash", "-i", in, "-o", out, "--exr-values", "log"}, "'log'"},
      {{"render", "flatwash", "-i", in, "-o", out, "--layer", "Color=self"}, "Color"},
      {{"render", "flatwash", "-i", in, "-o", out, "--layer", "0=nofile.png"}, "nofile.png"},
      {{"render", "flatwash", "-i", in, "-o", out, "-p", "Blend With Original=0.5", "-k", "Blend With Original@1=0"},
       "both -p and -k"},
      {{"render", "flatwash", "-i", in, "-o", out, "-k", "Blend With Original@0x1=0"}, "0x1"},
      {{"render", "flatwash", "-i", in, "-o", out, "-p", "Blend With Original=0x1"}, "0x1"},
      {{"render", "flatwash", "-i", in, "-o", out, "--threads", "0x2"}, "0x2"},
      {{"render", "flatwash", "-i", in, "-o", out, "--time", "0x1p1"}, "0x1p1"},
      {{"render", "flatwash", "-i", in, "-o", out, "--fps", "12.5"}, "25/2"},
      // The rate decides the ticks: the same frame, out of range, names them.
      {{"render", "flatwash", "-i", in, "-o", out, "--fps", "24/1", "--frame", "3000000000"}, "at 24 ticks"},
      {{"render", "flatwash", "-i", in, "-o", out, "--fps", "24", "--frame", "3000000000"}, "at 2400 ticks"},
      {{"render", "flatwash", "-i", in, "-o", out, "--fps", "29.97", "--frame", "3000000000"}, "at 30000 ticks"},
      // A long value is shortened in the message: its start and end remain.
      {{"render", "flatwash", "-i", in, "-o", out, "-p", "Color=" + std::string(5000, '7') + "x"}, "777...777"},
      {{"info", "nosuch"}, "nosuch"},
      {{"frobnicate"}, "frobnicate"},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    const Result r = Ombrix(c.args);
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_EQ(r.err.rfind("ombrix: ", 0), 0u) << r.err;
    EXPECT_LT(r.err.size(), 400u);
    EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Outputs({"in.png", "text.png"}), std::vector<std::string>{});
  }
}

TEST_F(OmbrixCli, ListShowsFlatwashUnderItsCategory) {
  Result r = Ombrix({"list"});
  ASSERT_EQ(r.status, 0) << r.err;
  const size_t category = r.out.find("Ombrix One\n");
  const size_t flatwash = r.out.find("  OB Flatwash ");
  ASSERT_NE(category, std::string::npos) << r.out;
  ASSERT_NE(flatwash, std::string::npos) << r.out;
  EXPECT_LT(category, flatwash);
  EXPECT_NE(r.out.find("obx Flatwash", flatwash), std::string::npos);

  r = Ombrix({"list", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  ASSERT_TRUE(j.is_array());
  bool found = false;
  for (const auto& e : j) {
    if (e["display_name"] != "OB Flatwash") continue;
    found = true;
    EXPECT_EQ(e["category"], "Ombrix One");
    EXPECT_EQ(e["match_name"], "obx Flatwash");
    EXPECT_EQ(e["short_name"], "flatwash");
  }
  EXPECT_TRUE(found);
}

TEST_F(OmbrixCli, RejectedPluginFilesAreWarnedAbout) {
  const fs::path plugins = Path("plugins");
  fs::create_directory(plugins);
  fs::copy_file(fs::path(OMBRIX_TEST_PLUGIN_DIR) / "flatwash.aex", plugins / "flatwash.aex");
  { std::ofstream(plugins / "broken.aex") << "not a plug-in"; }
  const Result r = Ombrix({"list", "--plugins", plugins.string()}, false);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("OB Flatwash"), std::string::npos);
  EXPECT_NE(r.err.find("warning"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("broken.aex"), std::string::npos) << r.err;
}

TEST_F(OmbrixCli, InfoDescribesRegistrationAndParameters) {
  Result r = Ombrix({"info", "flatwash", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["display_name"], "OB Flatwash");
  EXPECT_EQ(j["match_name"], "obx Flatwash");
  EXPECT_EQ(j["category"], "Ombrix One");
  EXPECT_EQ(j["kind"], "eFKT");
  EXPECT_EQ(j["entry_point"], "main");
  EXPECT_EQ(j["pipl_version"], "2.0");
  EXPECT_EQ(j["api_version"], "11.0");
  EXPECT_EQ(j["effect_version"], 0x80600);
  EXPECT_EQ(j["my_version"], 0x80600);
  EXPECT_EQ(j["global_flags"], 0);
  EXPECT_EQ(j["num_params"], 3);
  const auto& v = j["version_block"];
  EXPECT_EQ(v["FileVersion"], "1, 0, 0, 0");
  EXPECT_EQ(v["FileDescription"], "OB Flatwash");
  EXPECT_EQ(v["InternalName"], "flatwash");
  EXPECT_EQ(v["OriginalFilename"], "flatwash.aex");
  EXPECT_EQ(v["ProductName"], "Ombrix");
  EXPECT_EQ(v["CompanyName"], "Kestrane");

  const auto& p = j["params"];
  ASSERT_EQ(p.size(), 3u);
  EXPECT_EQ(p[0]["kind"], "layer");
  EXPECT_EQ(p[1]["index"], 1);
  EXPECT_EQ(p[1]["name"], "Color");
  EXPECT_EQ(p[1]["kind"], "color");
  EXPECT_EQ(p[1]["default"], "#FFFFFFFF");
  EXPECT_EQ(p[1]["flags"], 0);
  EXPECT_EQ(p[2]["name"], "Blend With Original");
  EXPECT_EQ(p[2]["kind"], "fixed_slider");
  EXPECT_EQ(p[2]["default"], 0.0);
  EXPECT_EQ(p[2]["valid_min"], 0.0);
  EXPECT_EQ(p[2]["valid_max"], 1.0);
  EXPECT_EQ(p[2]["slider_max"], 1.0);
  EXPECT_EQ(p[2]["precision"], 1);
  EXPECT_EQ(p[2]["display_flags"], 1);
  EXPECT_EQ(p[2]["percent"], true);
  EXPECT_EQ(p[2]["flags"], 0x20);

  r = Ombrix({"info", "OB Flatwash"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"Blend With Original\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("valid 0..1"), std::string::npos) << r.out;
}

TEST_F(OmbrixCli, DemoRendersEveryEffect) {
  const Result r = Ombrix({"demo", Path("demo").string(), "-i", "testcard:64x36", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  int w = 0, h = 0;
  const auto card = ReadPng(Path("demo/input.png"), &w, &h);
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 36);
  // Flatwash's defaults: white at blend 0, the card's alpha kept.
  const uint8_t white[3] = {255, 255, 255};
  EXPECT_EQ(ReadPng(Path("demo/flatwash.png")), Flatwash(card, white, 0));
  // Flatwash has no popup: no variants. The probe's first popup is not
  // installed here; every effect with a type popup gets one file per item.
  EXPECT_FALSE(fs::exists(Path("demo/flatwash-1.png")));
  for (const auto& e : fs::directory_iterator(OMBRIX_TEST_PLUGIN_DIR)) {
    if (e.path().stem() == "mistform") {
      EXPECT_TRUE(fs::exists(Path("demo/mistform-22.png")));
      for (const char* heading : {"1", "4", "8", "15"}) {
        EXPECT_FALSE(fs::exists(Path(std::string("demo/mistform-") + heading + ".png"))) << heading;
      }
    }
    if (e.path().stem() == "paint") {
      // Paint draws its example drawing: every mode, and further composites.
      EXPECT_NE(ReadPng(Path("demo/paint.png")), card);
      for (const char* name : {"paint-6.png", "paint-composite-4.png", "paint-composite-11.png"})
        EXPECT_TRUE(fs::exists(Path(std::string("demo/") + name))) << name;
    }
  }
}

// The demo's input gives its metadata to every image the demo writes.
TEST_F(OmbrixCli, DemoKeepsTheInputsMetadata) {
  fs::create_directory(Path("plugins"));
  fs::copy_file(fs::path(OMBRIX_TEST_PLUGIN_DIR) / "flatwash.aex", Path("plugins/flatwash.aex"));
  const std::vector<uint8_t> icc = ombrix_test::IccProfile("RGB ");
  auto out = OIIO::ImageOutput::create(Path("photo.tif").string());
  OIIO::ImageSpec spec(4, 2, 3, OIIO::TypeDesc::UINT8);
  spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, int(icc.size())), icc.data());
  ASSERT_TRUE(out->open(Path("photo.tif").string(), spec));
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, std::vector<uint8_t>(24, 50).data()));
  ASSERT_TRUE(out->close());
  const Result r = Ombrix(
      {"demo", Path("demo").string(), "-i", Path("photo.tif").string(), "-q", "--plugins", Path("plugins").string()},
      false);
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* name : {"demo/input.png", "demo/flatwash.png"}) {
    auto in = OIIO::ImageInput::open(Path(name).string());
    const OIIO::ParamValue* profile = in ? in->spec().find_attribute("ICCProfile") : nullptr;
    ASSERT_TRUE(profile) << name;
    const auto* bytes = static_cast<const uint8_t*>(profile->data());
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + profile->type().size()), icc) << name;
  }
}

}  // namespace

namespace {

// Parameter kinds Flatwash lacks, through the host core's probe plug-in.
class OmbrixProbe : public OmbrixCli {
 protected:
  void SetUp() override {
    OmbrixCli::SetUp();
    if (!fs::exists(fs::path(OMBRIX_PROBE_PLUGIN_DIR) / "probe.aex")) GTEST_SKIP() << "probe plug-in not built";
  }
  Result Probe(std::vector<std::string> args) {
    args.insert(args.end(), {"--plugins", OMBRIX_PROBE_PLUGIN_DIR});
    return Ombrix(args, false);
  }
};

TEST_F(OmbrixProbe, InfoMarksSeparatorsAndCheckboxLabels) {
  const Result r = Probe({"info", "probe", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  const auto& p = j["params"];
  const auto& popup = p[2];
  EXPECT_EQ(popup["kind"], "popup");
  EXPECT_EQ(popup["num_choices"], 3);
  ASSERT_EQ(popup["items"].size(), 3u);
  EXPECT_EQ(popup["items"][0]["text"], "One");
  EXPECT_EQ(popup["items"][1]["separator"], true);
  EXPECT_EQ(popup["items"][2]["number"], 3);
  EXPECT_EQ(popup["items"][2]["text"], "Three");
  EXPECT_EQ(popup["items"][2]["separator"], false);
  EXPECT_EQ(p[3]["kind"], "checkbox");
  EXPECT_EQ(p[3]["name"], "");
  EXPECT_EQ(p[3]["label"], "Flag");
  EXPECT_EQ(p[5]["kind"], "angle");
  EXPECT_EQ(p[5]["default"], 45.0);
  EXPECT_EQ(p[7]["kind"], "point");
  EXPECT_EQ(p[7]["default_percent"][0], 50.0);
}

TEST_F(OmbrixProbe, ValuesOfEveryKind) {
  const std::string out = Path("o.png").string();
  // Accepted: item text past a separator, a check box by its label, points, angles, colours.
  Result r = Probe({"render", "probe", "-i", "solid:8x4", "-o", out, "-p", "Choice...=Three", "-p", "Flag=on", "-p",
                    "Centre=-3.5,2", "-p", "Angle=-720", "-p", "Tint=1,2,3", "-p", "Amount=99.5", "-q"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(out));
  fs::remove(out);

  const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
      {{"-p", "Choice...=2"}, "separator"}, {{"-p", "Choice...=4"}, "1..3"},  {{"-p", "Choice...=Two"}, "Two"},
      {{"-p", "Flag=maybe"}, "Flag"},       {{"-p", "Mode=11"}, "0..10"},     {{"-p", "Mode=2.5"}, "Mode"},
      {{"-p", "Centre=10"}, "Centre"},      {{"-p", "Angle=north"}, "Angle"}, {{"-p", "Amount=100.01"}, "0..100"},
  };
  for (const auto& [extra, mentions] : bad) {
    SCOPED_TRACE(extra[1]);
    std::vector<std::string> args = {"render", "probe", "-i", "solid:8x4", "-o", out};
    args.insert(args.end(), extra.begin(), extra.end());
    r = Probe(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find(mentions), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
  }
}

TEST_F(OmbrixProbe, EffectMessagesAndErrors) {
  const std::string out = Path("o.png").string();
  // A message with result 0 is shown and the file is written.
  Result r = Probe({"render", "probe", "-i", "solid:8x4", "-o", out, "-p", "Mode=2", "-q"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("render "), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(out));
  fs::remove(out);
  // A non-zero result ends the run with the effect's message; nothing is written.
  r = Probe({"render", "probe", "-i", "solid:8x4", "-o", out, "-p", "Mode=3"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.err), 1) << r.err;
  EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("512"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace

namespace {

// A plug-in folder with Flatwash, the probe, two probes that crash (at
// load; when rendering popup item 3) and damaged copies of Flatwash.
class OmbrixDamaged : public OmbrixCli {
 protected:
  void SetUp() override {
    OmbrixCli::SetUp();
    if (!fs::exists(fs::path(OMBRIX_CRASH_PLUGIN_DIR) / "loadcrash.aex")) GTEST_SKIP() << "crash probes not built";
    plugins_ = Path("plugins");
    fs::create_directories(plugins_);
    ::setenv("XDG_CACHE_HOME", Path("cache").c_str(), 1);
    fs::copy_file(fs::path(OMBRIX_TEST_PLUGIN_DIR) / "flatwash.aex", plugins_ / "flatwash.aex");
    fs::copy_file(fs::path(OMBRIX_PROBE_PLUGIN_DIR) / "probe.aex", plugins_ / "probe.aex");
    for (const char* p : {"loadcrash.aex", "rendercrash.aex"})
      fs::copy_file(fs::path(OMBRIX_CRASH_PLUGIN_DIR) / p, plugins_ / p);
    std::ifstream in(plugins_ / "flatwash.aex", std::ios::binary);
    flatwash_.assign(std::istreambuf_iterator<char>(in), {});
  }
  Result Run(std::vector<std::string> args) {
    args.insert(args.end(), {"--plugins", plugins_.string()});
    return Ombrix(args, false);
  }
  // A copy of Flatwash with `n` bytes from `seed` written at random places,
  // or at the given offset.
  std::string Damaged(const std::string& name, std::function<void(std::vector<uint8_t>&)> damage) {
    std::vector<uint8_t> b = flatwash_;
    damage(b);
    std::ofstream(plugins_ / (name + ".aex"), std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), long(b.size()));
    return name;
  }
  static void Random(std::vector<uint8_t>& b, unsigned seed) {
    std::mt19937 rng(seed);
    for (int k = 0; k < 50; ++k) b[rng() % b.size()] = uint8_t(rng());
  }

  fs::path plugins_;
  std::vector<uint8_t> flatwash_;
};

bool OneOmbrixLine(const std::string& err) { return Lines(err) == 1 && err.rfind("ombrix: ", 0) == 0; }

TEST_F(OmbrixDamaged, ListAndDemoSurviveAndNameWhatFailed) {
  Damaged("header", [](auto& b) { b[38] = 0x7F; });  // program headers far past the end
  const Result list = Run({"list"});
  ASSERT_EQ(list.status, 0) << list.err;
  for (const char* name : {"flatwash", "probe", "rendercrash"})
    EXPECT_NE(list.out.find(name), std::string::npos) << name;
  EXPECT_EQ(list.out.find("loadcrash"), std::string::npos);
  EXPECT_NE(list.err.find("loadcrash.aex: crashed (SIGSEGV) on its trial run"), std::string::npos) << list.err;
  EXPECT_NE(list.err.find("header.aex: program header table past the end"), std::string::npos) << list.err;
  EXPECT_TRUE(fs::is_regular_file(Path("cache/ombrix/plugin-trials")));

  // The demo renders every other effect; the render crash costs only its own
  // later images, reported with the effect's name and the signal.
  std::ofstream(Path("cache/ombrix/plugin-trials"), std::ios::trunc) << "damaged cache";
  const Result demo = Run({"demo", Path("out").string(), "-i", "testcard:32x18", "-q"});
  EXPECT_EQ(demo.status, 1);
  for (const char* file : {"flatwash.png", "probe.png", "probe-3.png", "rendercrash.png"})
    EXPECT_TRUE(fs::exists(Path("out") / file)) << file;
  EXPECT_FALSE(fs::exists(Path("out/rendercrash-3.png")));
  EXPECT_FALSE(fs::exists(Path("out/loadcrash.png")));
  EXPECT_NE(demo.err.find("ombrix: AA Render Crash: crashed (SIGSEGV)\n"), std::string::npos) << demo.err;
  EXPECT_NE(demo.err.find("loadcrash.aex: crashed (SIGSEGV)"), std::string::npos) << demo.err;
  EXPECT_EQ(Lines(demo.err), 3) << demo.err;
}

TEST_F(OmbrixDamaged, InfoAndRenderOfADamagedPluginFailWithOneLine) {
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"info", "loadcrash"}, "crashed (SIGSEGV) on its trial run"},
      {{"render", "AA Load Crash", "-o", Path("a.png").string()}, "crashed (SIGSEGV) on its trial run"},
      {{"info", Damaged("dynamic", [](auto& b) { std::fill(b.begin() + 64 + 4 * 56, b.begin() + 64 + 5 * 56, 0xEE); })},
       "program header 4"},
      {{"render", "rendercrash", "-i", "solid:8x4", "-o", Path("b.png").string(), "-p", "Choice...=3"},
       "AA Render Crash: crashed (SIGSEGV)"},
  };
  for (const auto& c : cases) {
    const Result r = Run(c.args);
    EXPECT_EQ(r.status, 1) << c.args[1];
    EXPECT_TRUE(OneOmbrixLine(r.err)) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(Path("a.png")));
  EXPECT_FALSE(fs::exists(Path("b.png")));
}

TEST_F(OmbrixDamaged, FiftyRandomBytesNeverCrashTheCommand) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    const std::string name = Damaged("random" + std::to_string(seed), [&](auto& b) { Random(b, seed); });
    SCOPED_TRACE(name);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"info", name}, {"render", name, "-i", "solid:8x4", "-o", Path("r.png").string()}}) {
      const Result r = Run(args);
      ASSERT_NE(r.status, -1) << "killed by a signal: " << r.err;
      if (r.status != 0) {
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(OneOmbrixLine(r.err)) << r.err;
      }
    }
  }
  const Result list = Run({"list"});
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("flatwash"), std::string::npos);
}

// `ombrix farm` without a cluster: sbatch is a stand-in on PATH that notes
// its arguments and answers a job id. A refused render submits nothing; an
// accepted one leaves a job folder whose task renders its chunk as a local
// render does and records each frame's checksum (checked with sha256sum).
TEST_F(OmbrixCli, FarmSubmitChecksFirstAndATaskRendersItsChunk) {
  const fs::path bin = Path("bin");
  fs::create_directories(bin);
  fs::create_directories(Path("out"));
  fs::create_directories(Path("ref"));
  {
    std::ofstream sbatch(bin / "sbatch");
    sbatch << "#!/bin/sh\necho \"$@\" >>" << Quote(Path("sbatch-calls").string()) << "\necho '4242;cluster'\n";
  }
  fs::permissions(bin / "sbatch", fs::perms::owner_all);
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
  ASSERT_EQ(::setenv("PATH", (bin.string() + ":" + path).c_str(), 1), 0);
  const std::string job = Path("job").string();
  const std::vector<std::string> render = {
      "flatwash", "-i", "solid:8x4:#80402010", "-k", "Blend With Original@0=0", "-k", "Blend With Original@1=1",
      "--fps",    "10"};
  auto submit = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = {"farm", "submit", "--job-dir", job, "--chunk", "4", "--max-parallel", "2"};
    args.insert(args.end(), render.begin(), render.end());
    args.insert(args.end(), extra.begin(), extra.end());
    return Ombrix(args);
  };
  const std::string out = Path("out/f.####.png").string();
  const std::vector<std::vector<std::string>> refused = {
      {"-o", out},                                                 // no --frames
      {"-o", Path("one.png").string(), "--frames", "0-9"},         // not a pattern
      {"-o", out, "--frames", "0-9", "-p", "Nope=1"},              // the render's own check
      {"-o", out, "--frames", "0-9", "-i", "-"},                   // standard input
      {"-o", out, "--frames", "0-9", "--save-sequence-data", "x"}  // every task would write it
  };
  for (const auto& extra : refused) {
    const Result r = submit(extra);
    EXPECT_EQ(r.status, 2) << extra.back() << ": " << r.err;
    EXPECT_FALSE(fs::exists(job)) << extra.back();
  }
  EXPECT_FALSE(fs::exists(Path("sbatch-calls")));

  const Result ok = submit({"-o", out, "--frames", "0-9"});
  ::setenv("PATH", path.c_str(), 1);
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out, "4242\n");
  EXPECT_EQ(Slurp(Path("sbatch-calls")), "--parsable --array=0-2%2 " + job + "/job.sbatch\n");
  EXPECT_EQ(Slurp(Path("job/slurm-jobs")), "4242 0-2%2\n");
  EXPECT_NE(Slurp(Path("job/job.sbatch")).find(" farm task " + job), std::string::npos);

  const Result task = Ombrix({"farm", "task", job, "1"});
  ASSERT_EQ(task.status, 0) << task.err;
  std::vector<std::string> local = {"render"};
  local.insert(local.end(), render.begin(), render.end());
  local.insert(local.end(), {"-o", Path("ref/f.####.png").string(), "--frames", "4-7", "-q"});
  ASSERT_EQ(Ombrix(local).status, 0);
  for (int f = 0; f <= 9; ++f) {
    char name[16];
    std::snprintf(name, sizeof name, "f.%04d.png", f);
    const bool in_chunk = f >= 4 && f <= 7;
    ASSERT_EQ(fs::exists(Path("out") / name), in_chunk) << name;
    if (!in_chunk) continue;
    EXPECT_EQ(Bytes(Path("out") / name), Bytes(Path("ref") / name)) << name;
    const std::string sum = Slurp(Path("job/frames/" + std::to_string(f)));
    FILE* p = ::popen(("sha256sum " + Quote((Path("out") / name).string())).c_str(), "r");
    char digest[65] = {};
    ASSERT_EQ(std::fread(digest, 1, 64, p), 64u);
    ::pclose(p);
    EXPECT_EQ(sum, std::string(digest) + " " + std::to_string(fs::file_size(Path("out") / name)) + "\n") << name;
  }
  EXPECT_EQ(Slurp(Path("job/chunks/1")), "done\n");
  const Result collect = Ombrix({"farm", "collect", job});
  EXPECT_EQ(collect.status, 1);
  EXPECT_NE(collect.out.find("missing: 0-3, 8-9\n"), std::string::npos) << collect.out;
  EXPECT_NE(collect.out.find("--chunks 0,2\n"), std::string::npos) << collect.out;
}

}  // namespace
