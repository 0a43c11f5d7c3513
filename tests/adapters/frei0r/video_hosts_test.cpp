// The frei0r adapters inside real video hosts: frames rendered by ffmpeg
// (filter and source) and by melt (filter and mixer) must equal, byte for
// byte, what `ombrix render` makes of the same settings and times.
#include "apps/ombrix/cli_support.h"
#include "common/outside_tool.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using ombrix_cli_test::Bytes;
using ombrix_cli_test::Quote;

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class VideoHosts : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(OMBRIX_TEST_BINARY_DIR) / "test-work" /
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    env_ = "FREI0R_PATH=" + Quote(OMBRIX_FREI0R_DIR) + " OMBRIX_PLUGIN_PATH=" + Quote(OMBRIX_TEST_PLUGIN_DIR) + " ";
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // One frame of `ombrix render` as raw RGBA.
  std::string Ombrix(const std::string& args) {
    const std::string out = Path("ombrix.rgba");
    const std::string cmd = env_ + Quote(OMBRIX_CLI) + " render " + args + " -o rgba:- --quiet > " + Quote(out);
    EXPECT_EQ(Shell(cmd), 0) << cmd;
    return Bytes(out);
  }

  fs::path dir_;
  std::string env_;
};

// Mistform's evolution at frame n of a clip at `fps`: a fraction of a turn
// plus a rate in turns per second, in 16.16 degrees rounded half away from zero.
long EvolutionFixed(double fraction, double rate, int n, int fps) {
  return std::lround((fraction + rate * n / double(fps)) * 360.0 * 65536.0);
}

TEST_F(VideoHosts, FfmpegSourceAndFilterEqualOmbrix) {
  OMBRIX_NEED_TOOL(ffmpeg, "ffmpeg");
  constexpr int kFrames = 3, kFps = 25;
  // Widths that are and are not multiples of 16 pixels: ffmpeg pads the rows
  // of the frames it hands over (101 pixels also leaves its source's rows
  // padded). testsrc2 makes even sizes only, so 101 pixels is tried with
  // the source alone.
  struct Size {
    const char* size;
    bool filter;
  };
  for (const auto& [size, filter] : {Size{"64x48", true}, Size{"100x60", true}, Size{"101x61", false}}) {
    SCOPED_TRACE(size);
    const std::string source_out = Path("src.rgba"), filter_out = Path("filter.rgba"), input = Path("in.rgba");
    // Mistform as a source: Linear type, Contrast 200, Scale 100, Complexity 5.75,
    // Evolution 0.1 turn + 0.5 turn per second; times in milliseconds.
    const std::string mist = "ms|25|2|0.02|0.008016032064128256|0.5/0.5|0.25|0.1|0|0.5";
    ASSERT_EQ(Shell(env_ + Quote(ffmpeg) + " -v error -y -f lavfi -i " +
                    Quote(std::string("frei0r_src=size=") + size +
                          ":framerate=25:filter_name=obx_mistform_src:" + "filter_params=" + mist) +
                    " -frames:v " + std::to_string(kFrames) + " -f rawvideo -pix_fmt rgba " + Quote(source_out)),
              0);
    // Swirlshift on ffmpeg's test pattern (Twist HQ, Amount 50, Scale 10),
    // and the same pattern as raw frames for ombrix.
    const std::string pattern = Quote(std::string("testsrc2=size=") + size + ":rate=25") + " -frames:v " +
                                std::to_string(kFrames) + " -pix_fmt rgba -f rawvideo ";
    if (filter) {
      ASSERT_EQ(Shell(env_ + Quote(ffmpeg) + " -v error -y -f lavfi -i " + pattern + Quote(input)), 0);
      ASSERT_EQ(Shell(env_ + Quote(ffmpeg) + " -v error -y -f lavfi -i " + pattern + " -vf " +
                      Quote("format=rgba,frei0r=filter_name=obx_swirlshift:"
                            "filter_params=ms|25|Twist HQ|0.5025|0.005025125628140704") +
                      " " + Quote(filter_out)),
                0);
      const std::string filtered = Bytes(filter_out);
      EXPECT_NE(filtered, Bytes(input));
      EXPECT_TRUE(filtered == Ombrix(std::string("swirlshift -i rgba:") + size + ":" + Quote(input) +
                                     " --fps 25 -p 'Displacement...=Twist HQ' -p Amount=50 -p Scale=10"))
          << "the filtered frames differ from ombrix render";
    }
    const std::string src = Bytes(source_out);
    const size_t frame_bytes = src.size() / kFrames;
    ASSERT_EQ(src.size(), frame_bytes * kFrames);
    ASSERT_GT(frame_bytes, 0u);
    for (int n = 0; n < kFrames; ++n) {
      const std::string expected =
          Ombrix(std::string("mistform -i solid:") + size + ":#00000000 --fps 25 --frame " + std::to_string(n) +
                 " -p 'Fractal Type...=2' -p Contrast=200 -p Scale=100 -p Complexity=5.75 -p Evolution=fixed:" +
                 std::to_string(EvolutionFixed(0.1, 0.5, n, kFps)));
      EXPECT_TRUE(src.substr(n * frame_bytes, frame_bytes) == expected) << "source frame " << n;
    }
  }
}

TEST_F(VideoHosts, MeltFilterAndMixerEqualOmbrix) {
  OMBRIX_NEED_TOOL(melt, "melt");
  // Two 70x42 images with straight alpha, a profile of their size at 25
  // frames per second, and frame 2 of each clip (melt's time is in seconds).
  const std::string first = Path("first.png"), second = Path("second.png"), profile = Path("profile");
  ASSERT_EQ(Shell(env_ + Quote(OMBRIX_CLI) + " render flatwash -i testcard:70x42 -p Color=#2080C0 -p " +
                  "'Blend With Original=0.5' --quiet -o " + Quote(first)),
            0);
  ASSERT_EQ(Shell(env_ + Quote(OMBRIX_CLI) + " render flatwash -i testcard:70x42 -p 'Blend With Original=0.7' " +
                  "--quiet -o " + Quote(second)),
            0);
  ASSERT_EQ(
      Shell("printf 'description=test\\nframe_rate_num=25\\nframe_rate_den=1\\nwidth=70\\nheight=42\\nprogressive=1\\n"
            "sample_aspect_num=1\\nsample_aspect_den=1\\ndisplay_aspect_num=70\\ndisplay_aspect_den=42\\ncolorspace="
            "709\\n' > " +
            Quote(profile)),
      0);
  struct Case {
    std::string melt_args, ombrix_args;
  };
  const std::vector<Case> cases = {
      // A filter with an evolution rate: 0.25 turn per second at 2/25 s is 7.2 degrees.
      {Quote(first) + " out=2 -filter frei0r.obx_swirlshift Amount=0.5025 'Frame Rate=25' 'Evolution Rate=0.25'",
       "swirlshift -i " + Quote(first) + " --fps 25 --frame 2 -p Amount=50 -p Evolution=7.2"},
      // A mixer: the second track is Tintmatch's Source Layer.
      {Quote(first) + " out=2 -track " + Quote(second) +
           " out=2 -transition frei0r.obx_tintmatch_mix 'Average Pixel Colors...=All' a_track=0 b_track=1",
       "tintmatch -i " + Quote(first) + " --layer " + Quote("Source Layer=" + second) +
           " --fps 25 --frame 2 -p 'Average Pixel Colors...=All'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.melt_args);
    const std::string out = Path("melt.rgba");
    const std::string cmd = env_ + Quote(melt) + " -quiet -profile " + Quote(profile) + " " + c.melt_args +
                            " -consumer " + Quote("avformat:" + out) + " f=rawvideo pix_fmt=rgba real_time=0";
    ASSERT_EQ(Shell(cmd), 0) << cmd;
    const std::string frames = Bytes(out), expected = Ombrix(c.ombrix_args);
    ASSERT_EQ(frames.size(), 3 * expected.size());
    EXPECT_TRUE(frames.substr(2 * expected.size()) == expected) << "melt's frame 2 differs from ombrix render";
  }
}

}  // namespace
