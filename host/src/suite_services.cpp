// The basic suite's suite lookup and the host suites it hands out (the
// tables of pf/suites.h). Suite calls get no effect_ref: they serve the
// host of the command running on the calling thread, and outside a command
// there is none to serve.
#include "service_boundary.h"
#include "service_ids.h"
#include "service_table.h"

#include <ombrix/host/host.h>

#include <pf/suites.h>

#include <algorithm>
#include <cstring>

namespace ombrix {
namespace {

PF_Err GetFontStyleSheet(PF_FontStyleSheet sheet, PF_FontName* font_name, A_short* size, A_short* style) {
  if (font_name) font_name->name[0] = '\0';
  return ServeOnThread(ServiceId("font_style_sheet"), [&](CallContext* ctx) -> PF_Err {
    if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
    if (sheet <= PF_FontStyle_NONE || sheet >= PF_FontStyle_NUM) return PF_Err_INVALID_INDEX;
    const std::optional<HostFont> font = ctx->host->suites().StyleSheetFont(sheet);
    if (!font) return PF_Err_INTERNAL_STRUCT_DAMAGED;  // no font on this system matches
    if (font_name) {
      const size_t n = std::min(font->family.size(), size_t(PF_FONT_NAME_LEN));
      std::memcpy(font_name->name, font->family.data(), n);
      font_name->name[n] = '\0';
    }
    if (size) *size = font->size;
    if (style) *style = font->style;
    return PF_Err_NONE;
  });
}

PF_Err RefreshAllWindows() {
  return ServeOnThread(ServiceId("refresh_windows"), [&](CallContext* ctx) -> PF_Err {
    if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
    ctx->host->suites().CountRefresh();
    return PF_Err_NONE;
  });
}

PF_Err GetCurrentTool(PF_SuiteTool* tool) {
  return ServeOnThread(ServiceId("current_tool"), [&](CallContext* ctx) -> PF_Err {
    if (!ctx || !tool) return PF_Err_BAD_CALLBACK_PARAM;
    *tool = ctx->host->suites().current_tool();
    return PF_Err_NONE;
  });
}

constexpr PF_AppSuite1 kAppSuite1{GetFontStyleSheet};
constexpr PF_AdvAppSuite1 kAdvAppSuite1{RefreshAllWindows};
constexpr PF_HelperSuite1 kHelperSuite1{GetCurrentTool};

struct OfferedSuite {
  std::string_view name;
  A_long version;
  const void* table;
};
constexpr OfferedSuite kOffered[] = {
    {kPFAppSuite, kPFAppSuiteVersion1, &kAppSuite1},
    {kPFAdvAppSuite, kPFAdvAppSuiteVersion1, &kAdvAppSuite1},
    {kPFHelperSuite, kPFHelperSuiteVersion1, &kHelperSuite1},
};

const OfferedSuite* Offered(std::string_view name, A_long version) {
  for (const OfferedSuite& s : kOffered)
    if (s.name == name && s.version == version) return &s;
  return nullptr;
}

}  // namespace

SPErr BasicAcquireSuite(const char* name, A_long version, const void** suite) {
  if (suite) *suite = nullptr;
  return ServeOnThread(ServiceId("acquire_suite"), [&](CallContext* ctx) -> PF_Err {
    if (!suite || !name) return PF_Err_BAD_CALLBACK_PARAM;
    const void* table = ctx ? ctx->host->suites().Acquire(name, version) : nullptr;
    if (!table) return kSuiteNotFoundError;
    *suite = table;
    return PF_Err_NONE;
  });
}

SPErr BasicReleaseSuite(const char* name, A_long version) {
  return ServeOnThread(ServiceId("release_suite"), [&](CallContext* ctx) -> PF_Err {
    if (!ctx || !name) return kSuiteNotFoundError;
    return ctx->host->suites().Release(name, version) ? PF_Err_NONE : kSuiteNotFoundError;
  });
}

int HostSuites::Held(std::string_view name) const {
  std::lock_guard lock(mutex_);
  auto it = held_.find(name);
  return it == held_.end() ? 0 : it->second;
}

const void* HostSuites::Acquire(std::string_view name, A_long version) {
  const OfferedSuite* s = Offered(name, version);
  if (!s) return nullptr;
  std::lock_guard lock(mutex_);
  auto it = held_.find(name);
  if (it == held_.end()) it = held_.emplace(std::string(name), 0).first;
  ++it->second;
  return s->table;
}

bool HostSuites::Release(std::string_view name, A_long version) {
  if (!Offered(name, version)) return false;
  std::lock_guard lock(mutex_);
  auto it = held_.find(name);
  if (it == held_.end() || it->second == 0) return false;  // released more often than acquired
  --it->second;
  return true;
}

void HostSuites::SetFontConfig(std::filesystem::path file) {
  std::lock_guard lock(mutex_);
  font_config_ = std::move(file);
  fonts_.clear();
}

std::optional<HostFont> HostSuites::StyleSheetFont(A_long sheet) {
  std::lock_guard lock(mutex_);
  auto it = fonts_.find(sheet);
  if (it == fonts_.end()) it = fonts_.emplace(sheet, FindStyleSheetFont(sheet, font_config_)).first;
  return it->second;
}

}  // namespace ombrix
