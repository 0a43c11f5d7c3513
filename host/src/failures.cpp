// Failure injection: makes the n-th call of a service answer an error.
#include <ombrix/host/host.h>

#include <algorithm>
#include <array>

namespace ombrix {
namespace {

constexpr std::array<std::string_view, 23> kServiceNames = {
    "add_param",       "checkout_param",  "checkin_param",    "abort",
    "progress",        "iterate",         "copy",             "fill",
    "new_world",       "dispose_world",   "subpixel_sample",  "area_sample",
    "new_handle",      "lock_handle",     "resize_handle",    "get_callback_addr",
    "get_platform_data", "RGBtoHLS",      "HLStoRGB",         "register_ui",
    "acquire_suite",   "allocate_block",  "reallocate_block"};

}  // namespace

std::span<const std::string_view> FailureInjector::ServiceNames() { return kServiceNames; }

void FailureInjector::Arm(std::string service, int nth_call, PF_Err err) {
  if (std::find(kServiceNames.begin(), kServiceNames.end(), service) == kServiceNames.end())
    throw HostError("cannot inject a failure into unknown service '" + service + "'");
  if (nth_call < 1) throw HostError("failure injection: call number must be 1 or more");
  std::lock_guard lock(mutex_);
  int base = 0;
  if (auto it = calls_.find(service); it != calls_.end()) base = it->second;
  armed_[service].push_back(Arm_{base + nth_call, err});
  any_armed_ = true;
}

void FailureInjector::Clear() {
  std::lock_guard lock(mutex_);
  calls_.clear();
  armed_.clear();
  any_armed_ = false;
}

PF_Err FailureInjector::Check(std::string_view service) {
  std::lock_guard lock(mutex_);
  auto it = calls_.find(service);
  if (it == calls_.end()) it = calls_.emplace(std::string(service), 0).first;
  int n = ++it->second;
  if (!any_armed_) return PF_Err_NONE;
  auto a = armed_.find(service);
  if (a == armed_.end()) return PF_Err_NONE;
  for (const Arm_& arm : a->second)
    if (arm.nth == n) return arm.err;
  return PF_Err_NONE;
}

int FailureInjector::Calls(std::string_view service) const {
  std::lock_guard lock(mutex_);
  auto it = calls_.find(service);
  return it == calls_.end() ? 0 : it->second;
}

}  // namespace ombrix
