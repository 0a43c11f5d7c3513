// What stands behind the host suites of pf/suites.h: the current tool, the
// window refreshes asked for, the suites plug-ins hold, and the fonts of the
// style sheets (found through fontconfig).
#pragma once

#include <pf/api.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace ombrix {

// A font the app suite names for a style sheet.
struct HostFont {
  std::string family;  // as fontconfig names the matched font
  A_short size = 0;    // pixels
  A_short style = 0;   // PF_FontFace_* bits
};

// The style sheet's font found with fontconfig, using the configuration in
// `config_file` (empty: the system's). Empty for an unknown sheet or when
// no font matches.
std::optional<HostFont> FindStyleSheetFont(A_long sheet, const std::filesystem::path& config_file);

class HostSuites {
 public:
  // The tool the helper suite reports (PF_SuiteTool_ARROW unless set).
  A_long current_tool() const { return current_tool_.load(); }
  void SetCurrentTool(A_long tool) { current_tool_.store(tool); }

  // RefreshAllWindows calls answered.
  int window_refreshes() const { return refreshes_.load(); }

  // Acquisitions of the suite `name` not released yet.
  int Held(std::string_view name) const;

  // The fontconfig configuration file the font lookups use (empty: the
  // system's). Lookups are kept per sheet until this changes.
  void SetFontConfig(std::filesystem::path file);
  std::optional<HostFont> StyleSheetFont(A_long sheet);

  // For the services: the suite table of `name` at `version`, NULL if not
  // offered; counted as held when found.
  const void* Acquire(std::string_view name, A_long version);
  // False when `name` at `version` is not offered or not held.
  bool Release(std::string_view name, A_long version);
  void CountRefresh() { refreshes_.fetch_add(1); }

 private:
  std::atomic<A_long> current_tool_{1};
  std::atomic<int> refreshes_{0};
  mutable std::mutex mutex_;  // guards what follows
  std::map<std::string, int, std::less<>> held_;
  std::filesystem::path font_config_;
  std::map<A_long, std::optional<HostFont>> fonts_;
};

}  // namespace ombrix
