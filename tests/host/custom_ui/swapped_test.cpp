// The host program's "gIsSwapped" byte: visible to plug-ins through the
// program's dynamic symbols when the program exports it, absent otherwise.
// Built into two test programs, one of each kind.
#include "uiprobe_host.h"

#include <dlfcn.h>

namespace ombrix {
namespace {

#if OMBRIX_TEST_HOST_EXPORTS
#define HOST_KIND ExportingHost
constexpr bool kExports = true;
#else
#define HOST_KIND PlainHost
constexpr bool kExports = false;
#endif

TEST(HOST_KIND, SwappedByteIsVisibleOnlyWhenExported) {
  void* program = dlopen(nullptr, RTLD_NOW);
  ASSERT_NE(program, nullptr);
  const void* in_program = dlsym(program, "gIsSwapped");
  const void* anywhere = dlsym(RTLD_DEFAULT, "gIsSwapped");
  dlclose(program);
  EXPECT_EQ(anywhere != nullptr, kExports);
  EXPECT_EQ(in_program, anywhere);
  if (anywhere) {
    EXPECT_EQ(*static_cast<const unsigned char*>(anywhere), 0);
  }

  // The probe looks it up when it is loaded and tells what it found.
  Host host;
  std::string message;
  host.on_message = [&](std::string_view m) { message = m; };
  Effect effect(host, ReadPluginFile(testing::UiProbePath()));
  PF_InData in = effect.BaseInData();
  PF_OutData out{};
  EXPECT_EQ(effect.Send(PF_Cmd_ABOUT, in, out, nullptr, nullptr, nullptr), PF_Err_NONE);
  EXPECT_EQ(message, kExports ? "gIsSwapped 0" : "no gIsSwapped");
}

}  // namespace
}  // namespace ombrix
