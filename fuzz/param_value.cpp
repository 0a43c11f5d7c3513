// The command line's parameter-value parser: the first byte picks the
// effect, the second its parameter (by index), the rest is the VALUE text
// of `-p NAME=VALUE`. The parameter is also resolved by the text as a name.
#include "effects.h"
#include "param_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ombrix;
  fuzz::Effects& all = fuzz::LoadedEffects();
  if (size < 2) return 0;
  const Effect& effect = *all.effects[data[0] % all.effects.size()];
  const int index = int(data[1] % effect.params().size());
  const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  try {
    cli::ParseParamValue(effect, index, text, 640, 360);
  } catch (const cli::UsageError&) {
  }
  try {
    cli::ResolveParam(effect, text);
  } catch (const cli::UsageError&) {
  }
  return 0;
}
