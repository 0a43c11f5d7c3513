// The about command and the web-page launcher through the options test
// plug-ins: the about text, the registry record, the private temporary file
// and the browser started.
#include "options_harness.h"

#include <ombrix/platform/input.h>
#include <ombrix/platform/registry.h>

#include <chrono>
#include <thread>

namespace optprobe {
namespace {

constexpr const char* kKey = "Software\\Kestrane\\Ombrix One";
constexpr const char* kAddress = "http://www.kestrane.com/ombrix/";

// The default record, from its description: mode 2, count byte 23 and the
// local root, zeros, reserved 0.
std::vector<uint8_t> DefaultPrefs() {
  std::vector<uint8_t> b(264, 0);
  b[0] = 2;
  const std::string root = "file:///[root]/OBX_WWW/";
  b[4] = uint8_t(root.size());
  std::memcpy(b.data() + 5, root.data(), root.size());
  return b;
}

void SetValue(uint32_t type, const std::vector<uint8_t>& bytes) {
  plat::RegKeyHandle key = nullptr;
  ASSERT_EQ(plat::RegCreateKey(plat::kRegCurrentUser, kKey, 0, plat::kKeyAllAccess, &key, nullptr), plat::kOk);
  ASSERT_EQ(plat::RegSetValue(key, nullptr, type, bytes.data(), uint32_t(bytes.size())), plat::kOk);
  plat::RegCloseKey(key);
}

struct Value {
  bool present = false;
  uint32_t type = 0;
  std::vector<uint8_t> bytes;
};
Value GetValue() {
  Value v;
  plat::RegKeyHandle key = nullptr;
  if (plat::RegOpenKey(plat::kRegCurrentUser, kKey, plat::kKeyRead, &key) != plat::kOk) return v;
  uint32_t size = 0;
  if (plat::RegQueryValue(key, nullptr, &v.type, nullptr, &size) == plat::kOk) {
    v.bytes.resize(size);
    v.present = plat::RegQueryValue(key, nullptr, &v.type, v.bytes.data(), &size) == plat::kOk;
  }
  plat::RegCloseKey(key);
  return v;
}

struct AboutTest : OptionsTest {
  fs::path browser, args_file;

  // A browser that writes its arguments, one per line, and the path it was started as.
  void FakeBrowser() {
    browser = dir.path / "fake-browser";
    args_file = dir.path / "browser-args";
    WriteFile(browser, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" + args_file.string() +
                           ".part\"\nmv \"" + args_file.string() + ".part\" \"" + args_file.string() + "\"\n");
    chmod(browser.c_str(), 0755);
  }

  ombrix::CommandResult About(bool alt) {
    plat::SetKeyDown(plat::kVkAlt, alt);
    auto inst = Apply();
    auto r = inst->Command(PF_Cmd_ABOUT);
    plat::SetKeyDown(plat::kVkAlt, false);
    return r;
  }

  bool RuntimeDirEmpty() { return fs::is_empty(dir.path / "run") && fs::is_empty(dir.path / "tmp"); }
};

TEST_F(AboutTest, AboutTextByteForByte) {
  for (const char* kind : {"seed", "facetry", "lightning"}) {
    Load(kind);
    const auto r = About(false);
    const std::string expected = DisplayName(kind) + ", v1.0  Copyright 2026 Kestrane. All rights reserved.\r" +
                                 "\r\rAlt-click <About> to go to web page.";
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_EQ(r.message, expected) << kind;
  }
  EXPECT_FALSE(GetValue().present) << "the text alone does not touch the registry";
  EXPECT_TRUE(plat::LaunchRecords().empty());
}

TEST_F(AboutTest, AltClickCreatesTheRecordAndOpensTheAddress) {
  FakeBrowser();
  ScopedEnv env("BROWSER", browser.c_str());
  for (const char* kind : {"seed", "facetry", "lightning"}) {
    fs::remove(dir.path / "reg" / "registry.obr");
    plat::ClearLaunchRecords();
    Load(kind);
    const auto r = About(true);
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_TRUE(r.message.empty()) << kind << ": no about text on this path";
    const Value v = GetValue();
    EXPECT_TRUE(v.present) << kind;
    EXPECT_EQ(v.type, plat::kRegBinary);
    EXPECT_EQ(v.bytes, DefaultPrefs()) << kind;
    const auto launches = plat::LaunchRecords();
    ASSERT_EQ(launches.size(), 1u) << kind;
    EXPECT_EQ(launches[0].program, browser.string());
    EXPECT_EQ(launches[0].argv, (std::vector<std::string>{browser.string(), kAddress}));
    EXPECT_TRUE(RuntimeDirEmpty()) << kind << ": the temporary file and its folder are gone";
    EXPECT_EQ(plat::BeepTotal(), 0u);
  }
}

TEST_F(AboutTest, InvalidValuesReplacedModeZeroDoesNothing) {
  FakeBrowser();
  ScopedEnv env("BROWSER", browser.c_str());
  Load("seed");
  SetValue(plat::kRegBinary, std::vector<uint8_t>(100, 1));
  About(true);
  EXPECT_EQ(GetValue().bytes, DefaultPrefs());
  EXPECT_EQ(plat::LaunchRecords().size(), 1u);

  SetValue(plat::kRegString, {'h', 'i', 0});
  About(true);
  EXPECT_EQ(GetValue().type, plat::kRegBinary);
  EXPECT_EQ(GetValue().bytes, DefaultPrefs());
  EXPECT_EQ(plat::LaunchRecords().size(), 2u);

  // Mode 1 opens the page too; mode 0 does nothing at all, in every variant.
  std::vector<uint8_t> prefs = DefaultPrefs();
  prefs[0] = 1;
  SetValue(plat::kRegBinary, prefs);
  About(true);
  EXPECT_EQ(plat::LaunchRecords().size(), 3u);
  prefs[0] = 0;
  SetValue(plat::kRegBinary, prefs);
  for (const char* kind : {"seed", "facetry", "lightning"}) {
    Load(kind);
    const auto r = About(true);
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_TRUE(r.message.empty()) << kind;
    EXPECT_EQ(plat::LaunchRecords().size(), 3u) << kind;
    EXPECT_EQ(GetValue().bytes, prefs) << kind << ": a valid record is never rewritten";
  }
  EXPECT_TRUE(RuntimeDirEmpty());
}

TEST_F(AboutTest, RegistryWriteFailureBeepsAndLaunchesAnyway) {
  FakeBrowser();
  ScopedEnv env("BROWSER", browser.c_str());
  Load("seed");
  plat::FailRegistryCall(plat::RegistryCall::kSet, 1, plat::kErrStoreIoFailed);
  const auto r = About(true);
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_EQ(plat::BeepCount(plat::kBeepSimple), 1u);
  EXPECT_EQ(plat::BeepTotal(), 1u);
  EXPECT_EQ(plat::LaunchRecords().size(), 1u);
  EXPECT_FALSE(GetValue().present);
}

TEST_F(AboutTest, NoBrowserFoundIsReportedAndSucceeds) {
  const fs::path empty = dir.path / "empty";
  fs::create_directories(empty);
  ScopedEnv path("PATH", empty.c_str());
  ScopedEnv b("BROWSER", nullptr);
  ScopedEnv data("XDG_DATA_HOME", empty.c_str());
  ScopedEnv dirs("XDG_DATA_DIRS", empty.c_str());
  for (const char* kind : {"seed", "facetry", "lightning"}) {
    Load(kind);
    const auto r = About(true);
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_EQ(r.message, "Failed to launch web browser.") << kind;
  }
  EXPECT_TRUE(plat::LaunchRecords().empty());
  EXPECT_TRUE(RuntimeDirEmpty());
}

TEST_F(AboutTest, FakeBrowserReceivesTheAddressAsOneArgument) {
  FakeBrowser();
  ScopedEnv env("BROWSER", browser.c_str());
  plat::SetLaunchMode(plat::LaunchMode::kStart);
  Load("seed");
  const auto r = About(true);
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_TRUE(r.message.empty());
  for (int i = 0; i < 500 && !fs::exists(args_file); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(fs::exists(args_file));
  EXPECT_EQ(ReadFile(args_file), std::string(kAddress) + "\n");
}

TEST_F(AboutTest, PlantedFileInTheSharedFolderIsNeverUsed) {
  // Without a private runtime folder the launcher works under the temporary
  // folder, in a fresh private directory: a link planted at the fixed name
  // in the shared folder is neither followed nor removed.
  FakeBrowser();
  ScopedEnv env("BROWSER", browser.c_str());
  ScopedEnv no_runtime("XDG_RUNTIME_DIR", nullptr);
  const fs::path victim = dir.path / "victim";
  WriteFile(victim, "precious");
  fs::create_symlink(victim, dir.path / "tmp" / "a.html");
  Load("seed");
  const auto r = About(true);
  EXPECT_TRUE(r.message.empty());
  EXPECT_EQ(plat::LaunchRecords().size(), 1u);
  EXPECT_EQ(ReadFile(victim), "precious");
  EXPECT_TRUE(fs::is_symlink(dir.path / "tmp" / "a.html"));
  // Only the planted link is left in the temporary folder.
  int entries = 0;
  for (const auto& e : fs::directory_iterator(dir.path / "tmp")) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST_F(AboutTest, MacKeyCodes) {
  // Facetry's probe asks through the key-code helper (58 = Alt); other keys do not count.
  FakeBrowser();
  ScopedEnv env("BROWSER", browser.c_str());
  Load("facetry");
  plat::SetKeyDown(plat::kVkShift, true);
  plat::SetKeyDown(plat::kVkControl, true);
  auto inst = Apply();
  auto r = inst->Command(PF_Cmd_ABOUT);
  EXPECT_NE(r.message.find("Alt-click"), std::string::npos);
  plat::SetKeyDown(plat::kVkAlt, true);
  r = inst->Command(PF_Cmd_ABOUT);
  EXPECT_TRUE(r.message.empty());
  EXPECT_EQ(plat::LaunchRecords().size(), 1u);
}

}  // namespace
}  // namespace optprobe
