// What the render tests of the effects share: the freshly built plug-in
// files and a host holding one, parameter values of each kind, the test
// image, reduced renders, and pixel and world checks.
// Header-only; a test takes the helpers with `using namespace effect_test;`.
#pragma once

#include <ombrix/host/host.h>
#include <ombrix/host/image_io.h>

#include "common/test_image.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace effect_test {

using testimage::Byte;
using testimage::FillPixels;
using testimage::Lcg;
using testimage::RandomPixels;

// The plug-in file `name` (e.g. "mistform.aex") of this build, read once per
// test program.
inline const ombrix::PluginFile& TestPlugin(const std::string& name) {
  static std::map<std::string, ombrix::PluginFile> files;
  auto it = files.find(name);
  if (it == files.end())
    it = files.emplace(name, ombrix::ReadPluginFile(std::string(OMBRIX_TEST_PLUGIN_DIR) + "/" + name)).first;
  return it->second;
}

// A host with one plug-in file of this build loaded.
struct EffectFixture {
  explicit EffectFixture(const std::string& plugin) : effect(host, TestPlugin(plugin)) {}
  ombrix::Host host;
  ombrix::Effect effect;

  // Frame 0 of a fresh instance the size of `in`, its values set by `set`.
  PF_Err Render(ombrix::World& in, ombrix::World& out, const std::function<void(ombrix::Instance&)>& set,
                const ombrix::RenderSettings& settings = {}) {
    ombrix::Instance inst(effect, ombrix::TimeBase{}, in.width(), in.height());
    set(inst);
    return inst.RenderFrame(0, in.pf(), out, settings).err;
  }
};

// A render at 1/n of full resolution on both axes.
inline ombrix::RenderSettings Downsampled(A_u_long n) {
  ombrix::RenderSettings s;
  s.downsample_x = s.downsample_y = PF_RationalScale{1, n};
  return s;
}

// Frame 0 of `inst` from the full-size layer `full` into the smaller `out`;
// `reduced` becomes the layer as the host reduces it for that buffer (with
// the padding of `out`), which is what the effect has to work from.
inline ::testing::AssertionResult RenderReduced(ombrix::Instance& inst, ombrix::World& full, ombrix::World& out,
                                                const ombrix::RenderSettings& settings, ombrix::World& reduced) {
  const ombrix::BufferSize size = inst.BufferSizeAt(settings);
  if (size.width != out.width() || size.height != out.height())
    return ::testing::AssertionFailure() << "buffer " << size.width << "x" << size.height << ", not " << out.width()
                                         << "x" << out.height();
  const PF_Err err = inst.RenderFrame(0, full.pf(), out.pf(), settings).err;
  if (err != PF_Err_NONE) return ::testing::AssertionFailure() << "render failed: " << err;
  reduced = ombrix::DownsampledWorld(full.pf(), settings, out.rowbytes() - 4 * out.width());
  return ::testing::AssertionSuccess();
}

// A settings record as the host stores it: the words in native byte order.
inline std::vector<uint8_t> RecordBytes(std::initializer_list<uint32_t> words) {
  std::vector<uint8_t> bytes(4 * words.size());
  std::memcpy(bytes.data(), words.begin(), bytes.size());
  return bytes;
}

// A value for a slider, fixed slider (16.16), angle, popup or check box.
inline ombrix::ParamValue Scalar(A_long v) {
  ombrix::ParamValue p;
  p.value = v;
  return p;
}

// A point in full-resolution layer pixels, truncated to 16.16.
inline ombrix::ParamValue Point(double x, double y) {
  ombrix::ParamValue p;
  p.x = PF_Fixed(x * 65536);
  p.y = PF_Fixed(y * 65536);
  return p;
}

// The same, rounded to the nearest 16.16 value.
inline ombrix::ParamValue RoundedPoint(double x, double y) {
  ombrix::ParamValue p;
  p.x = PF_Fixed(std::lround(x * 65536));
  p.y = PF_Fixed(std::lround(y * 65536));
  return p;
}

inline ombrix::ParamValue Colour(PF_Pixel c) {
  ombrix::ParamValue p;
  p.color = c;
  return p;
}

inline bool Same(const PF_Pixel& a, const PF_Pixel& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The straight-alpha over of the family, written out from its definition:
// what an effect composited over (or under) the layer should give.
inline PF_Pixel Over(PF_Pixel top, PF_Pixel bottom) {
  const int t = top.alpha, b = bottom.alpha;
  if (t == 0) return bottom;
  if (t == 255 || b == 0) return top;
  const int wt = 255 * t, wb = (255 - t) * b;
  auto mix = [&](int bc, int tc) { return uint8_t((bc * wb + tc * wt) / (wt + wb)); };
  return PF_Pixel{uint8_t(t + b - t * b / 255), mix(bottom.red, top.red), mix(bottom.green, top.green),
                  mix(bottom.blue, top.blue)};
}

// "alpha,red,green,blue", for failure messages.
inline std::string Show(const PF_Pixel& p) {
  return std::to_string(p.alpha) + "," + std::to_string(p.red) + "," + std::to_string(p.green) + "," +
         std::to_string(p.blue);
}

// The bytes past each row's pixels (a padded world's padding, created zero)
// are all still zero.
inline ::testing::AssertionResult PaddingUntouched(const ombrix::World& out) {
  for (A_long y = 0; y < out.height(); ++y) {
    const uint8_t* row = reinterpret_cast<const uint8_t*>(out.Row(y));
    for (A_long i = 4 * out.width(); i < out.rowbytes(); ++i)
      if (row[i] != 0) return ::testing::AssertionFailure() << "padding written in row " << y;
  }
  return ::testing::AssertionSuccess();
}

// A folder of the running test's own, removed with all it holds when the
// test ends: <temp>/ombrix-<name>-test-<pid>-<test name>.
struct TestDir {
  explicit TestDir(const std::string& name)
      : path(std::filesystem::temp_directory_path() /
             ("ombrix-" + name + "-test-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    std::filesystem::create_directories(path);
  }
  ~TestDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  TestDir(const TestDir&) = delete;
  TestDir& operator=(const TestDir&) = delete;

  // `w` written as the image file `file` of the folder, as a layer source.
  ombrix::LayerSource ImageLayer(const ombrix::World& w, const std::string& file) const {
    const std::filesystem::path image = path / file;
    ombrix::WriteImage(image, w.pf());
    return ombrix::LayerSource::Image(ombrix::ParseSource(image.string()));
  }

  std::filesystem::path path;
};

}  // namespace effect_test
