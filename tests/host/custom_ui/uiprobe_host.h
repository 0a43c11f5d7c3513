// A host with the custom-UI probe loaded, and the records its tests send
// and read back.
#pragma once

#include <gtest/gtest.h>
#include <ombrix/host/host.h>

#include <cstring>
#include <string>
#include <vector>

#include "uiprobe_record.h"

namespace ombrix::testing {

inline std::filesystem::path UiProbePath() { return std::filesystem::path(OMBRIX_UIPROBE_DIR) / "uiprobe.aex"; }

class UiProbeHost : public ::testing::Test {
 protected:
  UiProbeHost() : effect(host, ReadPluginFile(UiProbePath())) {}

  Host host;
  Effect effect;
};

// An event in a window of the given type; extra() is what EVENT is handed.
class TestEvent {
 public:
  TestEvent(PF_WindowType window, PF_EventType type) {
    context_.w_type = window;
    extra_.contextH = &context_;
    extra_.e_type = type;
  }
  TestEvent(const TestEvent&) = delete;
  TestEvent& operator=(const TestEvent&) = delete;
  PF_EventExtra* extra() { return &extra_; }

 private:
  PF_Context context_{};
  PF_EventExtra extra_{};
};

// The saved form of the probe's sequence data.
struct Saved {
  std::string log;
  int count = -1;
};
inline Saved SavedOf(const std::vector<uint8_t>& bytes) {
  uiprobe::Flat f{};
  EXPECT_EQ(bytes.size(), sizeof f);
  if (bytes.size() != sizeof f) return {};
  std::memcpy(&f, bytes.data(), sizeof f);
  EXPECT_EQ(f.magic, uiprobe::kFlatMagic);
  return Saved{std::string(f.log, size_t(f.length)), f.count};
}

inline ParamValue Value(A_long v) { return ParamValue{v, 0, 0, {}}; }

}  // namespace ombrix::testing
