#include <ombrix/platform/files.h>
#include <ombrix/platform/headless.h>
#include <ombrix/platform/launch.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <sys/stat.h>
#include <thread>

#include "scratch_dir.h"

namespace plat = ombrix::platform;
namespace fs = std::filesystem;

namespace {

// A fake browser: writes each of its arguments, NUL-terminated, to OUT.
void WriteFakeBrowser(const fs::path& script, const fs::path& out) {
  WriteFile(script, "#!/bin/sh\nfor a in \"$0\" \"$@\"; do printf '%s\\0' \"$a\"; done > '" + out.string() +
                        ".part'\n/bin/mv '" + out.string() + ".part' '" + out.string() + "'\n");
  chmod(script.c_str(), 0755);
}

std::vector<std::string> WaitForArgs(const fs::path& out) {
  for (int i = 0; i < 1000 && !fs::exists(out); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::vector<std::string> args;
  const std::string bytes = ReadFile(out);
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i)
    if (bytes[i] == '\0') {
      args.push_back(bytes.substr(start, i - start));
      start = i + 1;
    }
  return args;
}

bool Reaped(int pid) {
  for (int i = 0; i < 1000; ++i) {
    if (kill(pid, 0) != 0 && errno == ESRCH) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

struct LaunchTest : ::testing::Test {
  ScratchDir dir;
  fs::path html;
  void SetUp() override {
    plat::ResetHeadless();
    html = dir.path / "a.html";
    WriteFile(html, "");
  }
};

constexpr const char* kNastyAddress = "http://example.com/a b;touch PWNED$(touch PWNED2)`touch PWNED3`|&><'\"\\*?\n";

TEST_F(LaunchTest, BrowserGetsTheAddressAsOneArgument) {
  const fs::path browser = dir.path / "fake browser";  // a blank in its path
  const fs::path out = dir.path / "args";
  WriteFakeBrowser(browser, out);
  ScopedEnv env("BROWSER", browser.c_str());

  char program[plat::kMaxPath];
  ASSERT_GT(plat::FindExecutable(html.c_str(), nullptr, program, sizeof program), 32);
  EXPECT_EQ(std::string(program), browser.string());

  const char* argv[] = {program, kNastyAddress, nullptr};
  ASSERT_EQ(plat::StartProgram(program, argv), plat::kOk);
  const auto args = WaitForArgs(out);
  ASSERT_EQ(args.size(), 2u);
  EXPECT_EQ(args[1], kNastyAddress);
  EXPECT_FALSE(fs::exists("PWNED"));
  EXPECT_FALSE(fs::exists("PWNED2"));
  EXPECT_FALSE(fs::exists(dir.path / "PWNED"));

  const auto records = plat::LaunchRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].program, browser.string());
  EXPECT_EQ(records[0].argv, (std::vector<std::string>{program, kNastyAddress}));
  ASSERT_GT(records[0].pid, 0);
  // Nobody waits for the browser, yet it does not stay a zombie.
  EXPECT_TRUE(Reaped(records[0].pid));
}

TEST_F(LaunchTest, BrowserCommandWithPlaceholderAndOptionLikeAddressRefused) {
  const fs::path browser = dir.path / "browser";
  const fs::path out = dir.path / "args";
  WriteFakeBrowser(browser, out);
  const std::string command = "/nonexistent/first:" + browser.string() + " --new-tab %s --quiet";
  ScopedEnv env("BROWSER", command.c_str());
  char program[plat::kMaxPath];
  ASSERT_EQ(plat::FindExecutable("a.html", dir.path.c_str(), program, sizeof program), plat::kFindFound);
  EXPECT_EQ(std::string(program), browser.string());

  plat::SetLaunchMode(plat::LaunchMode::kRecordOnly);
  const char* argv[] = {program, "http://example.com/", nullptr};
  ASSERT_EQ(plat::StartProgram(program, argv), plat::kOk);
  const char* evil[] = {program, "--remote-debugging-port=9222", nullptr};
  EXPECT_EQ(plat::StartProgram(program, evil), plat::kErrInvalidParameter);
  const auto records = plat::LaunchRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].argv, (std::vector<std::string>{program, "--new-tab", "http://example.com/", "--quiet"}));
  EXPECT_EQ(records[0].pid, 0);
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(LaunchTest, DesktopEntryNamedByXdgMime) {
  // A stand-in xdg-mime on PATH naming a desktop entry in XDG_DATA_HOME.
  const fs::path bin = dir.path / "bin";
  fs::create_directories(bin);
  WriteFile(bin / "xdg-mime", "#!/bin/sh\n[ \"$1 $2 $3\" = \"query default text/html\" ] && echo web-viewer.desktop\n");
  chmod((bin / "xdg-mime").c_str(), 0755);
  const fs::path out = dir.path / "args";
  WriteFakeBrowser(bin / "viewer", out);
  const fs::path apps = dir.path / "share" / "applications" / "web";
  fs::create_directories(apps);
  WriteFile(apps / "viewer.desktop",
            "[Desktop Entry]\nName=Viewer\nExec=viewer \"--profile=a b\" %u\n[Other]\nExec=wrong\n");
  ScopedEnv path("PATH", bin.c_str());
  ScopedEnv browser("BROWSER", nullptr);
  ScopedEnv data("XDG_DATA_HOME", (dir.path / "share").c_str());
  ScopedEnv dirs("XDG_DATA_DIRS", (dir.path / "none").c_str());

  char program[plat::kMaxPath];
  ASSERT_EQ(plat::FindExecutable(html.c_str(), nullptr, program, sizeof program), plat::kFindFound);
  EXPECT_EQ(std::string(program), (bin / "viewer").string());
  const char* argv[] = {program, kNastyAddress, nullptr};
  ASSERT_EQ(plat::StartProgram(program, argv), plat::kOk);
  EXPECT_EQ(WaitForArgs(out), (std::vector<std::string>{program, "--profile=a b", kNastyAddress}));

  // An entry that would paste the address into a quoted shell command is not used.
  WriteFile(apps / "viewer.desktop", "[Desktop Entry]\nExec=sh -c \"viewer %u\"\n");
  EXPECT_EQ(plat::FindExecutable(html.c_str(), nullptr, program, sizeof program), plat::kFindNoAssociation);
}

TEST_F(LaunchTest, NoProgramOrNoFile) {
  const fs::path empty = dir.path / "empty";
  fs::create_directories(empty);
  ScopedEnv path("PATH", empty.c_str());
  ScopedEnv browser("BROWSER", nullptr);
  char program[plat::kMaxPath];
  const intptr_t none = plat::FindExecutable(html.c_str(), nullptr, program, sizeof program);
  EXPECT_LE(none, 32);
  EXPECT_EQ(none, plat::kFindNoAssociation);
  EXPECT_EQ(plat::FindExecutable((dir.path / "missing.html").c_str(), nullptr, program, sizeof program),
            plat::kFindFileNotFound);
  // A $BROWSER naming something that cannot run does not count.
  ScopedEnv bad("BROWSER", (dir.path / "a.html").c_str());
  EXPECT_LE(plat::FindExecutable(html.c_str(), nullptr, program, sizeof program), 32);
}

}  // namespace
