// The service boundary: the per-pixel services count every call exactly
// from iterate's bands and fail at exactly the armed call, and memory that
// runs out anywhere a service allocates comes back to the plug-in as an
// error code, with nothing thrown into it and nothing leaked.
#include <ombrix/host/host.h>
#include <ombrix/host/image_io.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "host/core/probe_record.h"
#include "host/services/services_fixture.h"

namespace ombrix::svctest {
namespace {

using namespace svcprobe;

constexpr A_long kW = 40, kH = 50;  // several bands of rows

TEST_F(ServicesProbe, PerPixelServicesCountEachCallAndFailAtTheArmedOne) {
  struct Case {
    Mode mode;
    const char* service;
    int calls_per_pixel;
  };
  const Case cases[] = {{kSubpixel, "subpixel_sample", 1},
                        {kArea, "area_sample", 1},
                        {kHueShift, "RGBtoHLS", 1},
                        {kHueShift, "HLStoRGB", 1}};
  World in(kW, kH), out(kW, kH);
  Randomize(in, 7);
  for (int threads : {1, 3}) {
    host.SetThreads(threads);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.service) + " on " + std::to_string(threads) + " threads");
      Instance inst(effect, TimeBase{}, kW, kH);
      inst.SetValue(kMode, Val(c.mode));
      inst.SetValue(kShiftX, Val(0x4000));
      const int pixels = kW * kH * c.calls_per_pixel;
      const int before = host.failures().Calls(c.service);
      ASSERT_EQ(inst.RenderFrame(0, in.pf(), out).err, PF_Err_NONE);
      EXPECT_EQ(host.failures().Calls(c.service), before + pixels);

      host.failures().Arm(c.service, pixels / 2, 7001);
      EXPECT_EQ(inst.RenderFrame(0, in.pf(), out).err, 7001);
      // On one thread the band stops at the failing call; others may finish theirs.
      if (threads == 1) {
        EXPECT_EQ(host.failures().Calls(c.service), before + pixels + pixels / 2);
      }
      EXPECT_EQ(inst.RenderFrame(0, in.pf(), out).err, PF_Err_NONE) << "the failure fires once";
      host.failures().Clear();
    }
  }
}

HostOptions TwoThreads() {
  HostOptions options;
  options.threads = 2;
  return options;
}

// A plug-in set up on a host of two threads, ready to render.
struct Rig {
  Rig(const std::filesystem::path& plugin, A_long height)
      : host(TwoThreads()),
        effect(host, ReadPluginFile(plugin)),
        inst(effect, TimeBase{}, kW, height),
        in(kW, height),
        out(kW, height) {
    host.on_message = [](std::string_view) {};
    Randomize(in, 3);
  }
  CommandResult Render() { return inst.RenderFrame(0, in.pf(), out); }
  Host host;
  Effect effect;
  Instance inst;
  World in, out;
};

// One allocating path of the services: a rig whose render takes it.
struct AllocatingPath {
  const char* name;
  int min_steps;  // allocating steps the path takes at least
  std::function<std::unique_ptr<Rig>()> make;
};

// Fails the 1st, 2nd, ... allocating step of the path until a render takes
// none that is armed: each armed one must come back to the plug-in as out
// of memory, and leave the host's memory as it was.
void RunOutOfMemory(const AllocatingPath& path) {
  SCOPED_TRACE(path.name);
  std::unique_ptr<Rig> rig = path.make();
  FailureInjector& failures = rig->host.failures();
  int failed = 0;
  for (int n = 1; n <= 100; ++n) {
    failures.ArmOutOfMemory(n);
    const HostMemory::Counts before = rig->host.memory().Live();
    CommandResult r;
    EXPECT_NO_THROW(r = rig->Render()) << "step " << n;
    const bool fired = !failures.OutOfMemoryArmed();
    failures.Clear();
    EXPECT_TRUE(rig->host.memory().Live() == before) << "step " << n;
    if (!fired) {
      EXPECT_EQ(r.err, PF_Err_NONE) << "step " << n;
      break;
    }
    EXPECT_EQ(r.err, PF_Err_OUT_OF_MEMORY) << "step " << n;
    ++failed;
  }
  EXPECT_GE(failed, path.min_steps);
}

// The protocol probe calling one service (a position in probe::kServices).
auto CallingService(int service, A_long height) {
  return [=] {
    auto rig = std::make_unique<Rig>(std::filesystem::path(OMBRIX_PROBE_DIR) / "probe.aex", height);
    rig->inst.SetValue(probe::kMode, Val(probe::kCallService));
    rig->inst.SetValue(probe::kService, Val(service));
    return rig;
  };
}

// The services probe in `mode`, its layer "Other" a solid.
auto ServicesProbeIn(Mode mode, A_long height) {
  return [=] {
    auto rig = std::make_unique<Rig>(OMBRIX_SERVICES_PROBE, height);
    rig->inst.SetValue(kMode, Val(mode));
    rig->inst.SetValue(kRadiusX, Val(3 << 16));
    rig->inst.BindLayer(kOther, LayerSource::Image(ParseSource("solid:6x4:#102030")));
    return rig;
  };
}

TEST(OutOfMemory, EveryAllocatingServiceAnswersAnErrorCode) {
  const AllocatingPath paths[] = {
      // Shared state, the bands' errors, and one task per worker (the second
      // failing after the first was queued).
      {"iterate on two threads", 4, CallingService(1, 64)},
      {"new_world", 1, CallingService(4, 8)},
      {"new_handle and resize_handle", 2, CallingService(12, 8)},
      {"allocate_block and reallocate_block", 2, CallingService(16, 8)},
      {"copy between sizes", 1, ServicesProbeIn(kScaledCopy, 20)},
      // Its scratch, then the tasks of its passes.
      {"smooth on two threads", 3, ServicesProbeIn(kSmooth, 64)},
      {"checkout_param of a layer", 1, ServicesProbeIn(kCheckout, 4)},
  };
  for (const AllocatingPath& path : paths) RunOutOfMemory(path);
}

}  // namespace
}  // namespace ombrix::svctest
