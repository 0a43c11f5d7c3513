// A custom control parameter and the custom UI registration, as the host
// keeps them.
#include "uiprobe_host.h"

namespace ombrix {
namespace {

using testing::UiProbeHost;

TEST_F(UiProbeHost, CustomControlIsKeptAsRegistered) {
  ASSERT_EQ(effect.num_params(), uiprobe::kParamCount);
  ASSERT_EQ(effect.params().size(), size_t(uiprobe::kParamCount));
  const PF_ParamDef& control = effect.params()[uiprobe::kControl];
  EXPECT_EQ(control.param_type, PF_Param_NO_DATA);
  EXPECT_STREQ(control.name, "Brush Settings");
  EXPECT_EQ(control.ui_flags, PF_PUI_CONTROL);
  EXPECT_EQ(control.ui_width, 260);
  EXPECT_EQ(control.ui_height, 74);
  EXPECT_EQ(effect.params()[uiprobe::kStep].ui_flags, 0);
  // A frame renders with the control among the parameters.
  Instance inst(effect, TimeBase{}, 3, 2);
  World in(3, 2), out(3, 2);
  in.At(2, 1) = PF_Pixel{255, 9, 8, 7};
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
  EXPECT_TRUE(SamePixels(in.pf(), out.pf()));
}

TEST_F(UiProbeHost, RegisteredUiTellsWhichWindowsGetEvents) {
  ASSERT_TRUE(effect.custom_ui());
  EXPECT_EQ(effect.custom_ui()->events, PF_CustomEFlag_COMP | PF_CustomEFlag_EFFECT);
  const std::pair<PF_WindowType, bool> windows[] = {
      {PF_Window_COMP, true}, {PF_Window_LAYER, false}, {PF_Window_EFFECT, true}, {3, false}, {-1, false}};
  for (const auto& [window, wants] : windows) EXPECT_EQ(effect.WantsEvents(window), wants) << window;

  // An effect that registers none.
  Effect plain(host, ReadPluginFile(std::filesystem::path(OMBRIX_TEST_PLUGIN_DIR) / "flatwash.aex"));
  EXPECT_FALSE(plain.custom_ui());
  EXPECT_FALSE(plain.WantsEvents(PF_Window_COMP));
}

}  // namespace
}  // namespace ombrix
