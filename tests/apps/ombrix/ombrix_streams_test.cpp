// `ombrix` in pipelines, run through the shell as a user runs it: images
// and raw RGBA frames on standard input and output, frame patterns with
// escapes, and the messages for inputs that cannot be read. The raw bytes
// are made here and the expected results computed from Flatwash's mixing
// formula; images are written and read with OpenImageIO directly.
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli_support.h"

namespace {

namespace fs = std::filesystem;
using namespace ombrix_cli_test;

// Two 5 x 3 straight-RGBA frames: alpha 0 with colour, partial alphas, extremes.
const std::string kFrame0 = [] {
  std::string f;
  for (int i = 0; i < 60; ++i) f += char((i * 37 + (i % 4 == 3 ? 11 : 0)) & 0xFF);
  return f;
}();
const std::string kFrame1 = [] {
  std::string f = kFrame0;
  for (char& c : f) c = char(255 - uint8_t(c));
  return f;
}();

// Flatwash with colour #204080 at blend b (16.16): (in x b + col x (0x10000 - b)) >> 16, alpha kept.
std::string Flatwash(const std::string& in, int32_t b) {
  const uint8_t col[3] = {0x20, 0x40, 0x80};
  std::string out = in;
  for (size_t i = 0; i < in.size(); i += 4)
    for (int c = 0; c < 3; ++c) out[i + c] = char((uint8_t(in[i + c]) * b + col[c] * (0x10000 - b)) >> 16);
  return out;
}

void WriteImageFile(const fs::path& path, const std::string& rgba, int channels) {
  std::string px;
  for (size_t i = 0; i < rgba.size(); i += 4) px += rgba.substr(i, size_t(channels));
  auto out = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(out);
  OIIO::ImageSpec spec(5, 3, channels, OIIO::TypeDesc::UINT8);
  spec.attribute("oiio:UnassociatedAlpha", 1);
  ASSERT_TRUE(out->open(path.string(), spec));
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, px.data()));
  ASSERT_TRUE(out->close());
}

std::string ReadRgba(const fs::path& path) {
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path.string(), &config);
  EXPECT_TRUE(in) << path;
  if (!in) return {};
  std::string px(size_t(in->spec().width) * in->spec().height * 4, '\0');
  EXPECT_TRUE(in->read_image(0, 0, 0, 4, OIIO::TypeDesc::UINT8, px.data()));
  return px;
}

class OmbrixStreams : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "ombrix-streams-XXXXXX").string();
    dir_ = mkdtemp(tmpl.data());
    fs::create_directory(dir_ / "tmp");
    std::ofstream(dir_ / "raw.bin", std::ios::binary) << kFrame0 << kFrame1;
    WriteImageFile(dir_ / "in.png", kFrame0, 4);
  }
  void TearDown() override {
    // No temporary copy of standard input or output outlives a run.
    EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir_, ec))
      if (!e.is_symlink()) fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }

  // The shell text that runs ombrix with `args` and the test's plug-ins.
  static std::string Ombrix(const std::vector<std::string>& args) {
    std::string cmd = Quote(OMBRIX_CLI);
    for (const auto& a : args) cmd += " " + Quote(a);
    return cmd + " --plugins " + Quote(OMBRIX_TEST_PLUGIN_DIR);
  }
  // Flatwash with colour #204080 and blend keys 0 at 0 s and 1 at 1 s, at
  // 1 fps: frame 0 is the pure colour, frame 1 the input itself.
  static std::string Wash(std::vector<std::string> args) {
    args.insert(args.begin(), {"render", "flatwash", "--fps", "1", "-p", "Color=#204080", "-k",
                               "Blend With Original@0=0", "-k", "Blend With Original@1=1"});
    return Ombrix(args);
  }

  // Runs `script` with sh in the test folder, TMPDIR its tmp/ folder.
  Result Sh(const std::string& script) {
    const std::string cmd = "cd " + Quote(dir_.string()) + " && TMPDIR=" + Quote((dir_ / "tmp").string()) +
                            " && export TMPDIR && { " + script + "\n} </dev/null >stdout.bin 2>stderr.txt";
    const int raw = std::system(cmd.c_str());
    Result r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = Bytes(dir_ / "stdout.bin");
    r.err = Bytes(dir_ / "stderr.txt");
    fs::remove(dir_ / "stdout.bin");
    fs::remove(dir_ / "stderr.txt");
    return r;
  }

  fs::path dir_;
};

TEST_F(OmbrixStreams, RawFramesRenderAtTheirOwnTimesAsTheyArrive) {
  const std::string e0 = Flatwash(kFrame0, 0), e1 = Flatwash(kFrame1, 0x10000);
  ASSERT_NE(e0, kFrame0);
  ASSERT_EQ(e1, kFrame1);
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  const struct {
    std::string script, expected;
  } cases[] = {
      {"cat raw.bin | " + Wash({"-i", "rgba:5x3:-", "-o", "rgba:-"}), e0 + e1},
      {Wash({"-i", "rgba:5x3:raw.bin", "-o", "rgba:-", "--frames", "1-1"}), e1},
      {"cat raw.bin >fifo & " + Wash({"-i", "rgba:5x3:fifo", "-o", "rgba:-"}), e0 + e1},
      // A still input gives one raw frame, at --frame's time.
      {Ombrix({"render", "flatwash", "-p", "Color=#204080", "-i", "in.png", "-o", "rgba:-"}), e0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    const Result r = Sh(c.script);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.expected);
    const int frames = int(c.expected.size() / 60);
    EXPECT_EQ(r.err, "ombrix: wrote " + std::to_string(frames) + " raw RGBA frame" + (frames > 1 ? "s" : "") +
                         " of 5x3 to standard output\n");
  }

  // Into files named by frame number, the summary on stdout; or one frame as an image.
  Result r = Sh("cat raw.bin | " + Wash({"-i", "rgba:5x3:-", "-o", "seq.%02d.png"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "ombrix: wrote 2 frames, seq.00.png .. seq.01.png\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadRgba(dir_ / "seq.00.png"), e0);
  EXPECT_EQ(ReadRgba(dir_ / "seq.01.png"), e1);
  r = Sh("cat raw.bin | " + Wash({"-i", "rgba:5x3:-", "-o", "png:-", "--frame", "1", "-q"}) + " >one.png");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadRgba(dir_ / "one.png"), e1);
}

// An image piped in is the same as the file, and one written to standard
// output is the file (its bytes, but for the time TIFF and EXR record).
TEST_F(OmbrixStreams, PipedImagesEqualFiles) {
  for (const std::string ext : {"png", "tif", "exr", "jpg"}) {
    SCOPED_TRACE(ext);
    WriteImageFile(dir_ / ("in." + ext), kFrame0, ext == "jpg" ? 3 : 4);
    const Result file = Sh(Wash({"-i", "in." + ext, "-o", "file." + ext}));
    ASSERT_EQ(file.status, 0) << file.err;
    EXPECT_EQ(file.out, "ombrix: wrote file." + ext + "\n");
    const Result piped = Sh(Wash({"-i", "-", "-o", ext + ":-"}) + " <in." + ext + " >piped." + ext);
    ASSERT_EQ(piped.status, 0) << piped.err;
    // The summary ends stderr (a deep input's note may come first).
    const std::string summary = "ombrix: wrote a 5x3 " + ext + " image to standard output\n";
    EXPECT_TRUE(piped.err.size() >= summary.size() && piped.err.ends_with(summary)) << piped.err;
    EXPECT_GT(Bytes(dir_ / ("file." + ext)).size(), 8u);
    if (ext == "png" || ext == "jpg") {
      EXPECT_EQ(Bytes(dir_ / ("piped." + ext)), Bytes(dir_ / ("file." + ext)));
    } else {  // TIFF and EXR headers hold the time they were written
      EXPECT_EQ(ReadRgba(dir_ / ("piped." + ext)), ReadRgba(dir_ / ("file." + ext)));
    }
  }
}

TEST_F(OmbrixStreams, MistakesAndBrokenStreamsEndWithOneLine) {
  const std::string wash_raw = Wash({"-i", "rgba:5x3:-", "-o", "rgba:-"});
  const struct {
    std::string script;
    int status;
    std::string mentions;
    size_t out_bytes;  // frames already rendered stay written
  } cases[] = {
      {"head -c 100 raw.bin | " + wash_raw, 2, "'rgba:5x3:-' ends inside frame 1: 40 of its 60 bytes", 60},
      {": | " + wash_raw, 2, "holds no frames", 0},
      {Wash({"-i", "rgba:5x3:raw.bin", "-o", "rgba:-", "--frames", "0-5"}), 2, "ended after 2 frames", 120},
      {Wash({"-i", "rgba:5x3:raw.bin", "-o", "rgba:-", "--frames", "3-4"}), 2, "before frame 3", 0},
      {Wash({"-i", "rgba:5x3:raw.bin", "-o", "x.png", "--time", "1"}), 2, "--frame N", 0},
      {Wash({"-o", "-"}), 2, "rgba:-", 0},
      {Wash({"-o", "bmp:-"}), 2, "unknown format 'bmp'", 0},
      {Wash({"-o", "rgba:x.raw"}), 2, "standard output only", 0},
      {Wash({"-o", "png:-", "--frames", "0-1"}), 2, "--frames", 0},
      {"echo hello | " + Wash({"-i", "-", "-o", "png:-"}), 2, "not a PNG, JPEG, TIFF or EXR", 0},
      {": | " + Wash({"-i", "-", "-o", "png:-"}), 2, "standard input is empty", 0},
      {"head -c 60 in.png | " + Wash({"-i", "-", "-o", "png:-"}), 2, "cannot read standard input:", 0},
      {Wash({"-i", "-", "--layer", "0=-", "-o", "x.png"}) + " <in.png", 2, "only one source", 0},
      {Wash({"--layer", "0=rgba:5x3:raw.bin", "-o", "x.png"}), 2, "read by -i only", 0},
      // The reader goes away: EPIPE ends the run, SIGPIPE does not kill it.
      {"{ " + Ombrix({"render", "flatwash", "-i", "testcard:640x360", "-o", "rgba:-", "--frames", "0-20"}) +
           "; echo $? >status; } | head -c 10 >/dev/null; exit $(cat status)",
       1, "cannot write to standard output: Broken pipe", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    const Result r = Sh(c.script);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_EQ(r.err.rfind("ombrix: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("ombrix-stdin-"), std::string::npos) << r.err;  // the copy is called standard input
    EXPECT_EQ(r.out.size(), c.out_bytes);
    EXPECT_FALSE(fs::exists(dir_ / "x.png"));
  }
}

// SIGTERM while standard input is being copied removes the copy.
TEST_F(OmbrixStreams, InterruptRemovesTheCopyOfStandardInput) {
  const Result r = Sh("( cat in.png; sleep 5 ) | " + Wash({"-i", "-", "-o", "x.png"}) +
                      " & pid=$!; i=0; while [ -z \"$(ls tmp)\" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done;"
                      " ls tmp >listed.txt; kill -TERM $pid; wait $pid; exit $?");
  EXPECT_EQ(r.status, 143) << r.err;
  EXPECT_EQ(Bytes(dir_ / "listed.txt").rfind("ombrix-stdin-", 0), 0u);
  EXPECT_FALSE(fs::exists(dir_ / "x.png"));
}

// Placeholders of every width are written and found again; escapes and
// plain names with '%' are taken literally.
TEST_F(OmbrixStreams, FramePatternsWriteAndReadTheSameNames) {
  const struct {
    std::string output, frames;
    std::vector<std::string> written;
  } cases[] = {
      {"a\\#%03d.png", "1-2", {"a#001.png", "a#002.png"}},
      {"w.%015d.png", "5-5", {"w.000000000000005.png"}},
      {"d.%d.png", "9-10", {"d.10.png", "d.9.png"}},
      {"50%.png", "", {"50%.png"}},
      {"100%%d.png", "", {"100%d.png"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    std::vector<std::string> args = {"render", "flatwash", "-i", "in.png", "-o", "out/" + c.output, "-q"};
    if (!c.frames.empty()) args.insert(args.end(), {"--frames", c.frames});
    fs::create_directory(dir_ / "out");
    Result r = Sh(Ombrix(args));
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_ / "out")) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.written);
    r = Sh(Ombrix({"render", "flatwash", "-i", "out/" + c.output, "-o", "back.png", "-q"}));
    EXPECT_EQ(r.status, 0) << r.err;
    fs::remove_all(dir_ / "out");
  }
  // A file whose plain name reads as a pattern: the message gives the escape.
  fs::copy_file(dir_ / "in.png", dir_ / "shot#1.png");
  Result r = Sh(Ombrix({"render", "flatwash", "-i", "shot#1.png", "-o", "x.png"}));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("write 'shot\\#1.png'"), std::string::npos) << r.err;
  r = Sh(Ombrix({"render", "flatwash", "-i", "shot\\#1.png", "-o", "x.png", "-q"}));
  EXPECT_EQ(r.status, 0) << r.err;
}

// Inputs that cannot be read say why. Root reads anything, so as root the
// runs give up the capabilities that bypass file permissions.
TEST_F(OmbrixStreams, UnreadableInputsSayWhy) {
  std::string drop;
  if (geteuid() == 0) {
    if (std::system("setpriv --help >/dev/null 2>&1") != 0) GTEST_SKIP() << "running as root without setpriv";
    drop = "setpriv --bounding-set=-dac_override,-dac_read_search --inh-caps=-dac_override,-dac_read_search ";
  }
  fs::create_directory(dir_ / "locked");
  fs::copy_file(dir_ / "in.png", dir_ / "locked" / "s.0001.png");
  fs::copy_file(dir_ / "in.png", dir_ / "locked.png");
  fs::copy_file(dir_ / "raw.bin", dir_ / "locked.raw");
  std::ofstream(dir_ / "locked.bin") << "data";
  for (const char* name : {"locked", "locked.png", "locked.raw", "locked.bin"})
    fs::permissions(dir_ / name, fs::perms::none);
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"-i", "locked.png"}, "cannot read 'locked.png': Permission denied"},
      {{"-i", "locked/s.####.png"}, "cannot read the folder 'locked': Permission denied"},
      {{"-i", "rgba:5x3:locked.raw"}, "cannot read 'locked.raw': Permission denied"},
      {{"--sequence-data", "locked.bin"}, "'locked.bin': Permission denied"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    std::vector<std::string> args = {"render", "flatwash", "-o", "rgba:-"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = Sh(drop + Ombrix(args) + " >/dev/null");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
}

// `ombrix --help` shows the synopsis docs/cli.md opens with, line for line.
TEST_F(OmbrixStreams, HelpShowsTheDocumentedSynopsis) {
  const std::string doc = Bytes(fs::path(OMBRIX_TEST_SOURCE_DIR) / "docs" / "cli.md");
  const size_t begin = doc.find("```text\n") + 8, end = doc.find("```", begin);
  ASSERT_NE(end, std::string::npos);
  const Result help = Sh(Quote(OMBRIX_CLI) + " --help");
  ASSERT_EQ(help.status, 0);
  int lines = 0;
  for (size_t at = begin; at < end; ++lines) {
    const size_t nl = doc.find('\n', at);
    std::string line = doc.substr(at, nl - at);
    line.erase(0, line.find_first_not_of(' '));
    EXPECT_NE(help.out.find(line), std::string::npos) << line;
    at = nl + 1;
  }
  EXPECT_EQ(lines, 13);
  for (const char* sub : {"list", "info", "about", "render", "demo", "paint", "farm", "studio"})
    EXPECT_NE(help.out.find(std::string("\n  ombrix ") + sub), std::string::npos) << sub;
}

}  // namespace
