// Every effect's settings-record restore: the bytes after the first go to
// SEQUENCE_RESETUP through the host, as `render --sequence-data` hands
// them; the first byte picks the effect. The restored instance then
// renders a small frame and its settings are taken again (flattened for
// effects that flatten), so that whatever was restored is used.
#include "effects.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ombrix;
  fuzz::Effects& all = fuzz::LoadedEffects();
  if (size < 1) return 0;
  Effect& effect = *all.effects[data[0] % all.effects.size()];
  constexpr A_long kW = 13, kH = 7;
  Instance instance(effect, TimeBase::ForRate(FrameRate{}), kW, kH, std::vector<uint8_t>(data + 1, data + size));
  if (instance.setup_result().err != PF_Err_NONE) return 0;
  World input(kW, kH), output(kW, kH);
  for (A_long y = 0; y < kH; ++y)
    for (A_long x = 0; x < kW; ++x)
      input.At(x, y) = PF_Pixel{A_u_char(40 * y), A_u_char(19 * x), A_u_char(200 - 9 * x), A_u_char(255 - 30 * y)};
  instance.RenderFrame(0, input.pf(), output);
  instance.SequenceDataBytes();
  return 0;
}
