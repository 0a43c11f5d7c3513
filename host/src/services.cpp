// The service tables handed to plug-ins (the function tables of pf/api.h).
//
// The services themselves live by concern: memory_services.cpp (handles
// and blocks), interaction_services.cpp, world_services.cpp,
// pixel_services.cpp and iterate.cpp, all served through the boundary of
// service_boundary.h; the basic suite's suite lookup and the host suites
// are in suite_services.cpp. Here is what cannot fail or throw: the ANSI
// strings and maths and the basic suite's remaining calls.
#include "service_table.h"

#include <ombrix/host/host.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace ombrix {
namespace {

int SvcSprintf(A_char* dst, const A_char* format, ...) {
  if (!dst || !format) return 0;
  va_list ap;
  va_start(ap, format);
  // Bounded to the size of return_msg, the buffer it is meant for.
  int n = std::vsnprintf(dst, PF_MAX_EFFECT_MSG_LEN + 1, format, ap);
  va_end(ap);
  return std::clamp(n, 0, PF_MAX_EFFECT_MSG_LEN);
}

A_char* SvcStrcpy(A_char* dst, const A_char* src) {
  if (!dst || !src) return dst;
  return std::strcpy(dst, src);
}

PF_Boolean BasicIsEqual(const char* a, const char* b) {
  if (!a || !b) return a == b;
  return std::strcmp(a, b) == 0;
}

SPErr BasicUndefined() { return kSuiteNotFoundError; }

}  // namespace

void InitServiceTables(ServiceTables& t) {
  t = ServiceTables{};
  PF_UtilCallbacks& u = t.utils;
  u.subpixel_sample = SvcSubpixelSample;
  u.area_sample = SvcAreaSample;
  u.copy = SvcCopy;
  u.fill = SvcFill;
  u.iterate = SvcIterate;
  u.new_world = SvcNewWorld;
  u.dispose_world = SvcDisposeWorld;
  u.host_new_handle = SvcNewHandle;
  u.host_lock_handle = SvcLockHandle;
  u.host_unlock_handle = SvcUnlockHandle;
  u.host_dispose_handle = SvcDisposeHandle;
  u.host_get_handle_size = SvcGetHandleSize;
  u.host_resize_handle = SvcResizeHandle;
  u.get_callback_addr = SvcGetCallbackAddr;
  u.get_platform_data = SvcGetPlatformData;
  PF_ANSICallbacks& a = u.ansi;
  a.atan = [](PF_FpLong v) { return std::atan(v); };
  a.atan2 = [](PF_FpLong y, PF_FpLong x) { return std::atan2(y, x); };
  a.ceil = [](PF_FpLong v) { return std::ceil(v); };
  a.cos = [](PF_FpLong v) { return std::cos(v); };
  a.exp = [](PF_FpLong v) { return std::exp(v); };
  a.fabs = [](PF_FpLong v) { return std::fabs(v); };
  a.floor = [](PF_FpLong v) { return std::floor(v); };
  a.fmod = [](PF_FpLong x, PF_FpLong y) { return std::fmod(x, y); };
  a.hypot = [](PF_FpLong x, PF_FpLong y) { return std::hypot(x, y); };
  a.log = [](PF_FpLong v) { return std::log(v); };
  a.log10 = [](PF_FpLong v) { return std::log10(v); };
  a.pow = [](PF_FpLong x, PF_FpLong y) { return std::pow(x, y); };
  a.sin = [](PF_FpLong v) { return std::sin(v); };
  a.sqrt = [](PF_FpLong v) { return std::sqrt(v); };
  a.tan = [](PF_FpLong v) { return std::tan(v); };
  a.sprintf = SvcSprintf;
  a.strcpy = SvcStrcpy;
  a.asin = [](PF_FpLong v) { return std::asin(v); };
  a.acos = [](PF_FpLong v) { return std::acos(v); };
  u.colorCB.RGBtoHLS = SvcRgbToHls;
  u.colorCB.HLStoRGB = SvcHlsToRgb;

  PF_InteractCallbacks& i = t.inter;
  i.checkout_param = SvcCheckoutParam;
  i.checkin_param = SvcCheckinParam;
  i.add_param = SvcAddParam;
  i.abort = SvcAbort;
  i.progress = SvcProgress;
  i.register_ui = SvcRegisterUi;

  SPBasicSuite& b = t.basic;
  b.AcquireSuite = BasicAcquireSuite;
  b.ReleaseSuite = BasicReleaseSuite;
  b.IsEqual = BasicIsEqual;
  b.AllocateBlock = BasicAllocateBlock;
  b.FreeBlock = BasicFreeBlock;
  b.ReallocateBlock = BasicReallocateBlock;
  b.Undefined = BasicUndefined;
}

}  // namespace ombrix
