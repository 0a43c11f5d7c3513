// The services' positions for failure injection, fixed when the host is
// compiled: a service counts itself with Inject(ctx, ServiceId("name")), and
// a misspelt name does not compile.
#pragma once

#include <array>
#include <string_view>

namespace ombrix {

inline constexpr std::array<std::string_view, 28> kServiceNames = {"add_param",
                                                                   "checkout_param",
                                                                   "checkin_param",
                                                                   "abort",
                                                                   "progress",
                                                                   "iterate",
                                                                   "copy",
                                                                   "fill",
                                                                   "new_world",
                                                                   "dispose_world",
                                                                   "subpixel_sample",
                                                                   "area_sample",
                                                                   "new_handle",
                                                                   "lock_handle",
                                                                   "resize_handle",
                                                                   "get_callback_addr",
                                                                   "get_platform_data",
                                                                   "RGBtoHLS",
                                                                   "HLStoRGB",
                                                                   "register_ui",
                                                                   "acquire_suite",
                                                                   "allocate_block",
                                                                   "reallocate_block",
                                                                   "smooth",
                                                                   "release_suite",
                                                                   "font_style_sheet",
                                                                   "current_tool",
                                                                   "refresh_windows"};

// The position of `service` in kServiceNames, or -1.
constexpr int ServiceIndex(std::string_view service) {
  for (size_t i = 0; i < kServiceNames.size(); ++i)
    if (kServiceNames[i] == service) return int(i);
  return -1;
}

// The same at compile time; an unknown name is a compile error.
consteval int ServiceId(std::string_view service) {
  const int index = ServiceIndex(service);
  if (index < 0) throw "unknown service name";
  return index;
}

}  // namespace ombrix
