// Frame rates and the host's time units.
#pragma once

#include <pf/api.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace ombrix {

struct FrameRate {
  int64_t num = 24;
  int64_t den = 1;
  bool ratio = false;  // written as N/D: time scale N and step D, also when D is 1
  // "24", "24/1", "24000/1001", and the video rates 23.976, 29.97 and 59.94
  // as N x 1000/1001; other decimals are refused with their N/D form.
  static FrameRate Parse(std::string_view text);
};

// Host time units for one frame rate: time_scale ticks per second, and the
// ticks of one frame. Integer rates: scale 100 x rate, step 100; N/D rates:
// scale N, step D (24/1: scale 24, step 1). An explicit scale overrides (step = scale / rate).
struct TimeBase {
  A_u_long time_scale = 2400;
  A_long time_step = 100;
  static TimeBase ForRate(FrameRate rate, std::optional<A_u_long> scale = {});
  A_long SecondsToTicks(double seconds) const;  // round(seconds * scale)
  A_long FrameToTicks(int64_t frame) const { return A_long(frame * time_step); }
};

}  // namespace ombrix
