// Frame rates and host time units.
#include <ombrix/host/host.h>

#include <charconv>
#include <cmath>

namespace ombrix {
namespace {

int64_t ParsePositive(std::string_view text, std::string_view whole) {
  int64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v <= 0 || v > INT32_MAX)
    throw HostError("bad frame rate '" + std::string(whole) + "': expected N or N/D with positive integers");
  return v;
}

}  // namespace

FrameRate FrameRate::Parse(std::string_view text) {
  FrameRate r;
  size_t slash = text.find('/');
  if (slash == std::string_view::npos) {
    r.num = ParsePositive(text, text);
    r.den = 1;
  } else {
    r.num = ParsePositive(text.substr(0, slash), text);
    r.den = ParsePositive(text.substr(slash + 1), text);
  }
  return r;
}

TimeBase TimeBase::ForRate(FrameRate rate, std::optional<A_u_long> scale) {
  if (rate.num <= 0 || rate.den <= 0) throw HostError("frame rate must be positive");
  TimeBase t;
  if (scale) {
    // step = scale / rate = scale * den / num; it must be a whole number of ticks.
    int64_t s = int64_t(*scale);
    if (s <= 0 || s > INT32_MAX) throw HostError("time scale must be a positive 32-bit number");
    if ((s * rate.den) % rate.num != 0)
      throw HostError("time scale " + std::to_string(s) + " does not hold a whole number of ticks per frame at " +
                      std::to_string(rate.num) + "/" + std::to_string(rate.den) + " fps");
    t.time_scale = A_u_long(s);
    t.time_step = A_long(s * rate.den / rate.num);
    return t;
  }
  if (rate.den == 1) {
    if (rate.num > INT32_MAX / 100) throw HostError("frame rate too high");
    t.time_scale = A_u_long(rate.num * 100);
    t.time_step = 100;
  } else {
    t.time_scale = A_u_long(rate.num);
    t.time_step = A_long(rate.den);
  }
  return t;
}

A_long TimeBase::SecondsToTicks(double seconds) const {
  double ticks = std::floor(seconds * double(time_scale) + 0.5);
  if (!(ticks >= double(INT32_MIN) && ticks <= double(INT32_MAX)))
    throw HostError("time out of range: " + std::to_string(seconds) + " s");
  return A_long(ticks);
}

}  // namespace ombrix
