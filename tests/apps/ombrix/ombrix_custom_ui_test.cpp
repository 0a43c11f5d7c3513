// `ombrix` with an effect that has a custom UI and flattened sequence data:
// what info shows of its control and UI, the byte the program exports to
// plug-ins, the host tool it reports, and saving and restoring flat data.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "apps/ombrix/cli_support.h"
#include "host/custom_ui/uiprobe_record.h"

namespace {

namespace fs = std::filesystem;
using namespace ombrix_cli_test;

class OmbrixCustomUi : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "ombrix-ui-XXXXXX").string();
    dir_ = mkdtemp(tmpl.data());
  }
  void TearDown() override { fs::remove_all(dir_); }

  Result Ombrix(const std::string& args) {
    const fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
    const std::string cmd = Quote(OMBRIX_CLI) + " " + args + " --plugins " + Quote(OMBRIX_UIPROBE_DIR) + " >" +
                            Quote(out.string()) + " 2>" + Quote(err.string()) + " </dev/null";
    const int raw = std::system(cmd.c_str());
    return Result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Bytes(out), Bytes(err)};
  }

  // The log and count of a saved flat record.
  std::pair<std::string, int> Saved(const fs::path& file) {
    const std::string bytes = Bytes(file);
    uiprobe::Flat f{};
    EXPECT_EQ(bytes.size(), sizeof f);
    if (bytes.size() != sizeof f) return {};
    std::memcpy(&f, bytes.data(), sizeof f);
    return {std::string(f.log, size_t(f.length)), f.count};
  }

  fs::path dir_;
};

TEST_F(OmbrixCustomUi, InfoShowsTheCustomControlAndWindows) {
  const Result text = Ombrix("info uiprobe");
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("  1  no data  \"Brush Settings\"  custom control 260x74\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Custom UI (event flags 0x05): composition effect windows\n"), std::string::npos);

  const Result json = Ombrix("info uiprobe --json");
  ASSERT_EQ(json.status, 0) << json.err;
  const auto j = nlohmann::json::parse(json.out);
  const auto& control = j["params"][1];
  EXPECT_EQ(control["kind"], "no_data");
  EXPECT_EQ(control["ui_flags"], PF_PUI_CONTROL);
  EXPECT_EQ(control["custom_control"], true);
  EXPECT_EQ(control["ui_width"], 260);
  EXPECT_EQ(control["ui_height"], 74);
  EXPECT_EQ(j["custom_ui"]["events"], 5);
  EXPECT_EQ(j["custom_ui"]["windows"], nlohmann::json({"composition", "effect"}));
  // The control has no value to set.
  const Result set =
      Ombrix("render uiprobe -i solid:4x4 -o " + Quote((dir_ / "x.png").string()) + " -p 'Brush Settings=1'");
  EXPECT_NE(set.status, 0);
  EXPECT_NE(set.err.find("cannot be set"), std::string::npos) << set.err;
}

TEST_F(OmbrixCustomUi, ProgramExportsTheSwappedByte) {
  const Result r = Ombrix("about uiprobe");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "gIsSwapped 0\n");
}

TEST_F(OmbrixCustomUi, RenderReportsTheHostToolAndKeepsFlatData) {
  const std::string png = Quote((dir_ / "out.png").string());
  const fs::path saved = dir_ / "drawing.bin";
  const Result first =
      Ombrix("render uiprobe -i solid:4x4 -o " + png + " --save-sequence-data " + Quote(saved.string()));
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_NE(first.err.find("tool 1"), std::string::npos) << first.err;
  EXPECT_EQ(Saved(saved), std::make_pair(std::string("S-RUFU"), 1));

  const Result again = Ombrix("render uiprobe -i solid:4x4 -o " + png + " --host-tool 3 -p Step=2 --sequence-data " +
                              Quote(saved.string()) + " --save-sequence-data " + Quote(saved.string()));
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.err.find("tool 3"), std::string::npos) << again.err;
  EXPECT_EQ(Saved(saved), std::make_pair(std::string("S-RUFUrFRUFU"), 3));
}

TEST_F(OmbrixCustomUi, StoredDrawingsMayBeLargerThanSettingsRecords) {
  const fs::path big = dir_ / "big.bin";
  std::ofstream(big, std::ios::binary) << std::string(100 * 1024, '\0');
  const Result r = Ombrix("render uiprobe -i solid:4x4 -o " + Quote((dir_ / "out.png").string()) + " --sequence-data " +
                          Quote(big.string()));
  EXPECT_EQ(r.status, 0) << r.err;
}

}  // namespace
