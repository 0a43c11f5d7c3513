// Frame rates and host time units.
#include <ombrix/host/host_error.h>
#include <ombrix/host/time.h>

#include <charconv>
#include <cmath>
#include <numeric>
#include <string>
#include <utility>

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
  const size_t slash = text.find('/');
  const size_t dot = text.find('.');
  if (slash == std::string_view::npos && dot != std::string_view::npos) {
    // The NTSC family, as players and encoders name it.
    constexpr std::pair<std::string_view, int64_t> kVideo[] = {{"23.976", 24000}, {"29.97", 30000}, {"59.94", 60000}};
    for (const auto& [name, num] : kVideo) {
      if (text == name) return FrameRate{num, 1001, true};
    }
    // Any other decimal: say which ratio it stands for.
    const std::string_view whole = text.substr(0, dot), frac = text.substr(dot + 1);
    const bool digits = !frac.empty() && frac.size() <= 6 &&
                        frac.find_first_not_of("0123456789") == std::string_view::npos &&
                        whole.find_first_not_of("0123456789") == std::string_view::npos;
    std::string hint;
    if (digits) {
      int64_t num = 0, den = 1;
      for (char c : std::string(whole) + std::string(frac)) num = num * 10 + (c - '0');
      for (size_t i = 0; i < frac.size(); ++i) den *= 10;
      const int64_t g = std::gcd(num, den);
      if (num > 0 && g > 0) {
        num /= g;
        den /= g;
        hint = "; write it as " + std::to_string(num) + "/" + std::to_string(den) +
               (den == 1 ? " or " + std::to_string(num) : "");
      }
    }
    throw HostError("bad frame rate '" + std::string(text) +
                    "': the only decimal rates are 23.976, 29.97 and 59.94 (N x 1000/1001)" + hint);
  }
  if (slash == std::string_view::npos) {
    r.num = ParsePositive(text, text);
    r.den = 1;
  } else {
    r.num = ParsePositive(text.substr(0, slash), text);
    r.den = ParsePositive(text.substr(slash + 1), text);
    r.ratio = true;
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
  if (rate.den == 1 && !rate.ratio) {
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
