// Plug-in code run in a child process, and the cache of trial verdicts.
#include <gtest/gtest.h>
#include <ombrix/host/host.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <thread>

#include "probe_host.h"

namespace ombrix {
namespace {

namespace fs = std::filesystem;
using Kind = ChildOutcome::Kind;

TEST(RunInChild, ReportsHowTheChildEnded) {
  struct Case {
    const char* name;
    std::function<void()> work;
    int timeout;
    Kind kind;
    std::string says;
  };
  const Case cases[] = {
      {"finished", [] {}, 0, Kind::kOk, "finished"},
      {"threw", [] { throw HostError("no good"); }, 0, Kind::kFailed, "no good"},
      {"crashed", [] { std::raise(SIGSEGV); }, 0, Kind::kCrashed, "crashed (SIGSEGV)"},
      {"aborted", [] { std::abort(); }, 0, Kind::kCrashed, "crashed (SIGABRT)"},
      {"exited", [] { ::_exit(3); }, 0, Kind::kLost, "exit status 3"},
      {"hung", [] { std::this_thread::sleep_for(std::chrono::seconds(20)); }, 1, Kind::kTimedOut, "within 1 s"},
  };
  for (const Case& c : cases) {
    const ChildOutcome o = RunInChild(c.work, c.timeout);
    EXPECT_EQ(o.kind, c.kind) << c.name;
    EXPECT_NE(o.Describe().find(c.says), std::string::npos) << c.name << ": " << o.Describe();
  }
}

class Trials : public ::testing::Test {
 protected:
  Trials() {
    dir = fs::temp_directory_path() / ("ombrix_trials_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    cache = dir / "cache" / "plugin-trials";
    for (const fs::path& p : {testing::ProbePath(), fs::path(OMBRIX_CRASH_PROBE_DIR) / "loadcrash.aex",
                              fs::path(OMBRIX_CRASH_PROBE_DIR) / "rendercrash.aex"})
      fs::copy_file(p, dir / p.filename());
  }
  ~Trials() override { fs::remove_all(dir); }

  // Verdicts for the three copies with a fresh cache object; counts trials run.
  std::vector<std::string> Verdicts(int& trials_run) {
    PluginTrials trials(cache);
    std::vector<std::string> out;
    for (const char* name : {"probe.aex", "loadcrash.aex", "rendercrash.aex"})
      out.push_back(trials.Verdict(ReadPluginFile(dir / name)));
    trials.Save();
    trials_run = trials.trials_run();
    return out;
  }

  fs::path dir, cache;
};

TEST_F(Trials, ACrashAtLoadIsRefusedAndRememberedUntilTheFileChanges) {
  int run = 0;
  std::vector<std::string> v = Verdicts(run);
  EXPECT_EQ(run, 3);
  EXPECT_EQ(v[0], "");
  EXPECT_EQ(v[1], (dir / "loadcrash.aex").string() + ": crashed (SIGSEGV) on its trial run");
  EXPECT_EQ(v[2], "");  // its crash needs a popup item the trial does not render
  EXPECT_EQ(Verdicts(run), v);
  EXPECT_EQ(run, 0);

  // A changed file is tried again: a new modification time, or a new size.
  fs::last_write_time(dir / "probe.aex", fs::last_write_time(dir / "probe.aex") + std::chrono::seconds(1));
  std::ofstream(dir / "rendercrash.aex", std::ios::app) << "x";
  EXPECT_EQ(Verdicts(run), v);
  EXPECT_EQ(run, 2);

  // Only the cache itself is left in its folder (written by rename).
  EXPECT_EQ(std::distance(fs::directory_iterator(cache.parent_path()), fs::directory_iterator()), 1);
}

TEST_F(Trials, ADamagedCacheIsIgnoredAndRewritten) {
  int run = 0;
  const std::vector<std::string> v = Verdicts(run);
  std::ifstream in(cache);
  const std::string good((std::istreambuf_iterator<char>(in)), {});
  const std::string head = good.substr(0, good.rfind("end "));
  const std::string damaged[] = {"",
                                 "garbage\n",
                                 good.substr(0, good.size() - 3),
                                 head,
                                 head + "12\tx\t/p\tok\nend 4\n",
                                 head + "1\t2\t%zz\tok\nend 4\n",
                                 head + "1\t2\t/p\tmaybe\nend 4\n",
                                 head + "end 2\n"};
  for (const std::string& text : damaged) {
    std::ofstream(cache, std::ios::trunc) << text;
    EXPECT_EQ(Verdicts(run), v);
    EXPECT_EQ(run, 3) << text;
    EXPECT_EQ(Verdicts(run), v);
    EXPECT_EQ(run, 0) << text;
  }
}

TEST_F(Trials, ScanRefusesWhatItsTrialRefuses) {
  PluginScan scan = ScanPluginFolder(dir);
  ASSERT_EQ(scan.plugins.size(), 3u);
  PluginTrials trials;
  TryPlugins(scan, trials);
  ASSERT_EQ(scan.plugins.size(), 2u);
  EXPECT_EQ(scan.plugins[0].short_name, "probe");
  EXPECT_EQ(scan.plugins[1].short_name, "rendercrash");
  ASSERT_EQ(scan.refused.size(), 1u);
  EXPECT_EQ(scan.refused[0].first.pipl.display_name, "AA Load Crash");
  ASSERT_EQ(scan.errors.size(), 1u);
  EXPECT_NE(scan.errors[0].find("SIGSEGV"), std::string::npos);
}

}  // namespace
}  // namespace ombrix
