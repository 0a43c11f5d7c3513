// A sweep over every plug-in in the build: each parameter in turn is set to
// the ends of its valid range (every popup item, separators included) and
// the effect renders small, odd-sized buffers with padded rows. Whatever the
// effect answers, the render must not crash (the sanitizer build runs this
// too), must leave the row padding untouched, and must give the same bytes
// on one thread and on several.
#include <ombrix/host/host.h>

#include "common/test_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace ombrix;

constexpr A_long kWidth = 13, kHeight = 7, kPad = 12;

void FillCard(World& w) {
  // Opaque, transparent and partial pixels, with colour under alpha 0.
  testimage::FillPixels(w, testimage::Lcg{12345}, [](A_long x, A_long y, uint32_t s) {
    const uint8_t a = (x + y) % 5 == 0 ? 0 : (x % 3 == 0 ? 255 : testimage::Byte(s, 24));
    return PF_Pixel{a, testimage::Byte(s, 16), testimage::Byte(s, 8), uint8_t(x * 19 + y * 7)};
  });
}

// The values worth trying for one parameter, from its registration.
std::vector<ParamValue> Corners(const PF_ParamDef& def, A_long width, A_long height) {
  std::vector<ParamValue> out;
  auto scalar = [&](A_long v) {
    ParamValue p;
    p.value = v;
    out.push_back(p);
  };
  switch (def.param_type) {
    case PF_Param_SLIDER:
      scalar(def.u.sd.valid_min);
      scalar(def.u.sd.valid_max);
      break;
    case PF_Param_FIX_SLIDER:
      scalar(def.u.fd.valid_min);
      scalar(def.u.fd.valid_max);
      break;
    case PF_Param_ANGLE:
      for (A_long degrees : {-720, -1, 0, 90, 359, 3600}) scalar(degrees * 65536);
      break;
    case PF_Param_CHECKBOX:
      scalar(0);
      scalar(1);
      break;
    case PF_Param_POPUP:
      for (A_long item = 1; item <= def.u.pd.num_choices; ++item) scalar(item);
      break;
    case PF_Param_COLOR:
      for (uint8_t v : {uint8_t(0), uint8_t(255)}) {
        ParamValue p;
        p.color = PF_Pixel{v, v, uint8_t(255 - v), v};
        out.push_back(p);
      }
      break;
    case PF_Param_POINT: {
      const PF_Fixed w = width * 65536, h = height * 65536;
      const PF_Fixed xs[] = {0, w, -4 * w, w / 2};
      const PF_Fixed ys[] = {0, h, 5 * h, -h / 3};
      for (int i = 0; i < 4; ++i) {
        ParamValue p;
        p.x = xs[i];
        p.y = ys[i];
        out.push_back(p);
      }
      break;
    }
    default:
      break;
  }
  return out;
}

struct Frame {
  PF_Err err = 0;
  std::vector<uint8_t> bytes;  // every byte of the output, padding included
};

Frame Render(Instance& instance, const World& card, const RenderSettings& settings, A_long time) {
  World in = card;
  World out(kWidth, kHeight, kPad);  // resized to the buffer size, padding kept
  Frame f;
  try {
    f.err = instance.RenderFrame(time, in.pf(), out, settings).err;
  } catch (const HostError& e) {
    ADD_FAILURE() << "host refused the render: " << e.what();
    return f;
  }
  const uint8_t* data = reinterpret_cast<const uint8_t*>(out.pf().data);
  f.bytes.assign(data, data + size_t(out.rowbytes()) * size_t(out.height()));
  for (A_long y = 0; y < out.height(); ++y)
    for (A_long i = 4 * out.width(); i < out.rowbytes(); ++i)
      if (f.bytes[size_t(y) * size_t(out.rowbytes()) + size_t(i)] != 0) {
        ADD_FAILURE() << "row " << y << " padding byte " << i << " written";
        return f;
      }
  return f;
}

TEST(EffectSweep, EveryParameterCornerOnEveryPlugin) {
  const PluginScan scan = ScanPluginFolder(OMBRIX_TEST_PLUGIN_DIR);
  ASSERT_FALSE(scan.plugins.empty());
  EXPECT_TRUE(scan.errors.empty()) << scan.errors.front();

  World card(kWidth, kHeight, kPad);
  FillCard(card);
  RenderSettings full, half;
  half.downsample_x = half.downsample_y = PF_RationalScale{1, 2};

  for (const PluginFile& file : scan.plugins) {
    SCOPED_TRACE(file.short_name);
    Host host;
    host.on_message = [](std::string_view) {};
    Effect effect(host, file);
    const TimeBase tb = TimeBase::ForRate(FrameRate{});
    for (size_t index = 1; index < effect.params().size(); ++index) {
      const PF_ParamDef& def = effect.params()[index];
      for (const ParamValue& value : Corners(def, kWidth, kHeight)) {
        SCOPED_TRACE(testing::Message() << "parameter " << index << " \"" << def.name << "\" value " << value.value
                                        << " point " << value.x << "," << value.y);
        Instance instance(effect, tb, kWidth, kHeight);
        instance.SetValue(int(index), value);
        host.SetThreads(1);
        const Frame one = Render(instance, card, full, 37 * tb.time_step);
        host.SetThreads(3);
        const Frame many = Render(instance, card, full, 37 * tb.time_step);
        EXPECT_EQ(one.err, many.err);
        EXPECT_TRUE(one.bytes == many.bytes) << "output depends on the thread count";
        Render(instance, card, half, 0);
        if (::testing::Test::HasFailure()) return;  // one clear report, not a flood
      }
    }
  }
}

}  // namespace
