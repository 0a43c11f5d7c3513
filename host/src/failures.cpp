// Failure injection: makes the n-th call of a service answer an error.
#include <ombrix/host/host.h>

#include <algorithm>
#include <array>

namespace ombrix {
namespace {

constexpr std::array<std::string_view, 24> kServiceNames = {
    "add_param",       "checkout_param",  "checkin_param",    "abort",
    "progress",        "iterate",         "copy",             "fill",
    "new_world",       "dispose_world",   "subpixel_sample",  "area_sample",
    "new_handle",      "lock_handle",     "resize_handle",    "get_callback_addr",
    "get_platform_data", "RGBtoHLS",      "HLStoRGB",         "register_ui",
    "acquire_suite",   "allocate_block",  "reallocate_block", "smooth"};

}  // namespace

std::span<const std::string_view> FailureInjector::ServiceNames() { return kServiceNames; }

namespace {

// The position of `service` in kServiceNames, or -1. Services count
// themselves on every call (per pixel for the samplers), so this is a short
// scan with no allocation and no lock.
int ServiceIndex(std::string_view service) {
  for (size_t i = 0; i < kServiceNames.size(); ++i)
    if (kServiceNames[i] == service) return int(i);
  return -1;
}

}  // namespace

void FailureInjector::Arm(std::string service, int nth_call, PF_Err err) {
  const int index = ServiceIndex(service);
  if (index < 0) throw HostError("cannot inject a failure into unknown service '" + service + "'");
  if (nth_call < 1) throw HostError("failure injection: call number must be 1 or more");
  std::lock_guard lock(mutex_);
  armed_[service].push_back(Arm_{calls_[index].load() + nth_call, err});
  any_armed_ = true;
}

void FailureInjector::Clear() {
  static_assert(kServiceNames.size() <= kMaxServices);
  std::lock_guard lock(mutex_);
  for (auto& c : calls_) c = 0;
  armed_.clear();
  any_armed_ = false;
}

PF_Err FailureInjector::Check(std::string_view service) {
  const int index = ServiceIndex(service);
  if (index < 0) return PF_Err_NONE;
  const int n = calls_[index].fetch_add(1) + 1;
  if (!any_armed_.load(std::memory_order_acquire)) return PF_Err_NONE;
  std::lock_guard lock(mutex_);
  auto a = armed_.find(service);
  if (a == armed_.end()) return PF_Err_NONE;
  for (const Arm_& arm : a->second)
    if (arm.nth == n) return arm.err;
  return PF_Err_NONE;
}

int FailureInjector::Calls(std::string_view service) const {
  const int index = ServiceIndex(service);
  return index < 0 ? 0 : calls_[index].load();
}

}  // namespace ombrix
