// Swirlshift through the host.
#include <ombrix/host/host.h>

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SwirlshiftRender, Loads) {
  ombrix::Host host;
  const ombrix::PluginFile file =
      ombrix::ReadPluginFile(std::string(OMBRIX_TEST_PLUGIN_DIR) + "/swirlshift.aex");
  ombrix::Effect effect(host, file);
  EXPECT_EQ(effect.num_params(), 8);
}

}  // namespace
