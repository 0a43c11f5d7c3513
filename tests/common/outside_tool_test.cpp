// Finding outside programs, and failing rather than skipping where they are required.
#include "common/outside_tool.h"

#include <gtest/gtest-spi.h>

#include <filesystem>
#include <fstream>

#include "platform/scratch_dir.h"

namespace fs = std::filesystem;

TEST(OutsideTool, FindOnPathTakesOnlyExecutableRegularFiles) {
  ScratchDir a, b;
  auto make = [](const fs::path& p, fs::perms perms) {
    std::ofstream(p) << "#!/bin/sh\n";
    fs::permissions(p, perms);
  };
  make(a.path / "tool", fs::perms::owner_read | fs::perms::owner_write);  // not executable
  make(b.path / "tool", fs::perms::owner_all);
  fs::create_directory(a.path / "dir-tool");
  const std::string search = a.path.string() + ":" + b.path.string();
  struct Case {
    const char* program;
    std::string expected;
  } cases[] = {
      {"tool", (b.path / "tool").string()},  // the first folder's copy cannot run
      {"dir-tool", ""},                      // a folder is no program
      {"missing", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ombrix_test::FindOnPath(c.program, search), c.expected) << c.program;
  EXPECT_EQ(ombrix_test::FindOnPath((b.path / "tool").string(), ""), (b.path / "tool").string());
  EXPECT_EQ(ombrix_test::FindOnPath((a.path / "tool").string(), search), "");
}

static void NeedMissingTool() {
  OMBRIX_NEED_TOOL(path, "ombrix-no-such-program");
  ADD_FAILURE() << "found " << path;
}

TEST(OutsideTool, MissingProgramFailsWhereRequired) {
  for (const char* setting : {"1", "yes"}) {
    ScopedEnv require("OMBRIX_REQUIRE_TOOLS", setting);
    EXPECT_FATAL_FAILURE(NeedMissingTool(), "ombrix-no-such-program");
  }
  ScopedEnv require("OMBRIX_REQUIRE_TOOLS", nullptr);
  ScopedEnv ci("CI", "true");
  EXPECT_FATAL_FAILURE(NeedMissingTool(), "install scripts");
}
