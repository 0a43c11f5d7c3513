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
#include <fstream>
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
    // Mistform as a source (on opaque black): Linear type, Contrast 200, Scale 100, Complexity 5.75,
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
    EXPECT_NE(src.find_first_not_of('\0'), std::string::npos) << "the source made an empty frame";
    const size_t frame_bytes = src.size() / kFrames;
    ASSERT_EQ(src.size(), frame_bytes * kFrames);
    ASSERT_GT(frame_bytes, 0u);
    for (int n = 0; n < kFrames; ++n) {
      const std::string expected =
          Ombrix(std::string("mistform -i solid:") + size + ":#000000 --fps 25 --frame " + std::to_string(n) +
                 " -p 'Fractal Type...=2' -p Contrast=200 -p Scale=100 -p Complexity=5.75 -p Evolution=fixed:" +
                 std::to_string(EvolutionFixed(0.1, 0.5, n, kFps)));
      EXPECT_TRUE(src.substr(n * frame_bytes, frame_bytes) == expected) << "source frame " << n;
    }
  }
}

// Colours, points, popups by number, check boxes and settings record fields,
// through ffmpeg's source, against ombrix render with the same values.
TEST_F(VideoHosts, FfmpegValuesOfEveryKindEqualOmbrix) {
  OMBRIX_NEED_TOOL(ffmpeg, "ffmpeg");
  // Mistform's record: version 2, seed 5, repeat on, 3 revolutions, then the defaults.
  const uint32_t words[7] = {2, 5, 1, 3, 0, 8, 8};
  const std::string record = Path("record.bin");
  {
    std::ofstream out(record, std::ios::binary);
    out.write(reinterpret_cast<const char*>(words), sizeof words);
  }
  struct Case {
    const char* size;
    std::string adapter_params, ombrix_args;
  };
  const std::vector<Case> cases = {
      // Width and Height 1 + v x 3999 = 20, Border v x 2000 = 2; colour bytes round(v x 255).
      {"90x50",
       "grid_src:filter_params=ms|25|0.1/0.2|2|0.5/0.5|0.00475118779694924|0.00475118779694924|0.001|0|0|y|0.2/0.4/0.6",
       "grid -p Anchor=9,10 -p 'Gridsize From...=2' -p Corner=45,25 -p Width=20 -p Height=20 -p Border=2 "
       "-p 'Use Solid Color=on' -p 'Solid Color=51,102,153'"},
      // Evolution 0.3 turn; seed, repeat and revolutions as the record above.
      {"40x30",
       "mistform_src:filter_params=ms|25|2|0.01|0.008016032064128256|0.5/0.5|0.263157894736842|0.3|0|0|Clip|n|5|y|3",
       "mistform -p Evolution=108 --sequence-data " + Quote(record)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.adapter_params);
    const std::string out = Path("frame.rgba");
    ASSERT_EQ(
        Shell(env_ + Quote(ffmpeg) + " -v error -y -f lavfi -i " +
              Quote(std::string("frei0r_src=size=") + c.size + ":framerate=25:filter_name=obx_" + c.adapter_params) +
              " -frames:v 1 -f rawvideo -pix_fmt rgba " + Quote(out)),
        0);
    const std::string effect = c.ombrix_args.substr(0, c.ombrix_args.find(' '));
    EXPECT_TRUE(Bytes(out) == Ombrix(effect + " -i solid:" + c.size + (effect == "grid" ? ":#00000000" : ":#000000") +
                                     " --fps 25 --frame 0" + c.ombrix_args.substr(effect.size())))
        << "ffmpeg's frame differs from ombrix render";
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
