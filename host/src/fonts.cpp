// The fonts of the app suite's style sheets, matched with fontconfig: the
// small sheets ask for the system's sans-serif face at 11 pixels, the
// medium ones at 13, plain, bold or italic.
#include <ombrix/host/suites.h>

#include <pf/suites.h>

#include <fontconfig/fontconfig.h>

#include <memory>

namespace ombrix {
namespace {

struct StyleSheet {
  const char* pattern;  // fontconfig's pattern syntax
  A_short size;
  A_short style;
};

// By sheet number, PF_FontStyle_SMALL (1) to PF_FontStyle_MEDIUM_ITALIC (6).
constexpr StyleSheet kSheets[] = {
    {"sans-serif:pixelsize=11", 11, PF_FontFace_PLAIN},
    {"sans-serif:pixelsize=11:weight=bold", 11, PF_FontFace_BOLD},
    {"sans-serif:pixelsize=11:slant=italic", 11, PF_FontFace_ITALIC},
    {"sans-serif:pixelsize=13", 13, PF_FontFace_PLAIN},
    {"sans-serif:pixelsize=13:weight=bold", 13, PF_FontFace_BOLD},
    {"sans-serif:pixelsize=13:slant=italic", 13, PF_FontFace_ITALIC},
};

struct ConfigDeleter {
  void operator()(FcConfig* c) const { FcConfigDestroy(c); }
};
struct PatternDeleter {
  void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
using ConfigPtr = std::unique_ptr<FcConfig, ConfigDeleter>;
using PatternPtr = std::unique_ptr<FcPattern, PatternDeleter>;

// A configuration of its own read from `file`; NULL (the system's current
// configuration) for an empty path.
ConfigPtr LoadConfig(const std::filesystem::path& file, bool& ok) {
  ok = true;
  if (file.empty()) return nullptr;
  ConfigPtr config(FcConfigCreate());
  ok = config && FcConfigParseAndLoad(config.get(), reinterpret_cast<const FcChar8*>(file.c_str()), FcTrue) &&
       FcConfigBuildFonts(config.get());
  return config;
}

}  // namespace

std::optional<HostFont> FindStyleSheetFont(A_long sheet, const std::filesystem::path& config_file) {
  if (sheet < PF_FontStyle_SMALL || sheet > PF_FontStyle_MEDIUM_ITALIC) return std::nullopt;
  const StyleSheet& s = kSheets[sheet - PF_FontStyle_SMALL];
  bool ok = false;
  ConfigPtr config = LoadConfig(config_file, ok);
  if (!ok) return std::nullopt;
  PatternPtr pattern(FcNameParse(reinterpret_cast<const FcChar8*>(s.pattern)));
  if (!pattern || !FcConfigSubstitute(config.get(), pattern.get(), FcMatchPattern)) return std::nullopt;
  FcDefaultSubstitute(pattern.get());
  FcResult result = FcResultNoMatch;
  PatternPtr match(FcFontMatch(config.get(), pattern.get(), &result));
  FcChar8* family = nullptr;
  FcChar8* file = nullptr;
  // A match names a family and the file that holds it; anything less is no font.
  if (!match || result != FcResultMatch || FcPatternGetString(match.get(), FC_FAMILY, 0, &family) != FcResultMatch ||
      FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch || !family || !*family)
    return std::nullopt;
  return HostFont{reinterpret_cast<const char*>(family), s.size, s.style};
}

}  // namespace ombrix
