// A host with one options test plug-in loaded, the platform in a fresh
// headless state with its registry and temporary folders in a scratch folder.
#pragma once

#include <ombrix/host/host.h>
#include <ombrix/platform/headless.h>

#include "platform/scratch_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace optprobe {

namespace fs = std::filesystem;
namespace plat = ombrix::platform;

using Words = std::vector<uint32_t>;

inline std::vector<uint8_t> Bytes(const Words& w) {
  std::vector<uint8_t> b(w.size() * 4);
  std::memcpy(b.data(), w.data(), b.size());
  return b;
}

inline Words WordsOf(const std::vector<uint8_t>& b) {
  Words w(b.size() / 4);
  std::memcpy(w.data(), b.data(), w.size() * 4);
  return w;
}

inline uint32_t Swap(uint32_t v) { return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24); }

inline std::string DisplayName(const std::string& kind) { return "OB Options optprobe_" + kind; }

struct OptionsTest : ::testing::Test {
  ScratchDir dir;
  std::optional<ScopedEnv> runtime;
  std::unique_ptr<ombrix::Host> host;
  std::unique_ptr<ombrix::Effect> effect;
  std::vector<std::string> messages;

  void SetUp() override {
    plat::ResetHeadless();
    plat::ClearLaunchRecords();
    plat::ClearDialogRecords();
    plat::SetLaunchMode(plat::LaunchMode::kRecordOnly);
    fs::create_directories(dir.path / "reg");
    fs::create_directories(dir.path / "tmp");
    fs::create_directories(dir.path / "run");
    chmod((dir.path / "run").c_str(), 0700);
    plat::SetTempFolder((dir.path / "tmp").string());
    runtime.emplace("XDG_RUNTIME_DIR", (dir.path / "run").c_str());
    ombrix::HostOptions options;
    options.threads = 1;
    options.registry_dir = dir.path / "reg";
    plat::SetRegistryDirectory((dir.path / "unused").string());
    host = std::make_unique<ombrix::Host>(options);
    // The host puts the plug-ins' registry where it was told.
    ASSERT_EQ(fs::path(plat::RegistryDirectory()), dir.path / "reg");
    host->on_message = [this](std::string_view m) { messages.emplace_back(m); };
  }

  void TearDown() override {
    effect.reset();
    host.reset();
    plat::ResetHeadless();
    plat::SetTempFolder("");
    plat::SetRegistryDirectory("");
  }

  ombrix::Effect& Load(const std::string& kind) {
    effect = std::make_unique<ombrix::Effect>(
        *host, ombrix::ReadPluginFile(std::string(OPTPROBE_PLUGIN_DIR) + "/optprobe_" + kind + ".aex"));
    return *effect;
  }

  std::unique_ptr<ombrix::Instance> Apply(std::optional<Words> stored = {}) {
    std::optional<std::vector<uint8_t>> bytes;
    if (stored) bytes = Bytes(*stored);
    return std::make_unique<ombrix::Instance>(*effect, ombrix::TimeBase{}, 32, 32, bytes);
  }
  std::unique_ptr<ombrix::Instance> ApplyBytes(std::vector<uint8_t> bytes) {
    return std::make_unique<ombrix::Instance>(*effect, ombrix::TimeBase{}, 32, 32, std::move(bytes));
  }

  // Runs the options command with a scripted user.
  ombrix::CommandResult Dialog(ombrix::Instance& inst, const std::string& script) {
    plat::DialogScript s;
    std::string error;
    EXPECT_TRUE(plat::ParseDialogScript(script, &s, &error)) << error;
    plat::ClearDialogScripts();  // one the plug-in never showed must not answer this one
    plat::PushDialogScript(s);
    plat::ClearDialogRecords();
    return inst.Command(PF_Cmd_DO_DIALOG);
  }

  static plat::DialogRecord LastDialog() {
    const auto records = plat::DialogRecords();
    EXPECT_FALSE(records.empty());
    return records.empty() ? plat::DialogRecord{} : records.back();
  }

  static const plat::ControlRecord& Control(const plat::DialogRecord& r, int id) {
    for (const auto& c : r.controls)
      if (c.id == id) return c;
    ADD_FAILURE() << "no control " << id;
    static plat::ControlRecord none;
    return none;
  }
};

}  // namespace optprobe
