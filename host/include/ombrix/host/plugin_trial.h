// Running plug-in code where a crash cannot take the caller down, and the
// remembered verdicts of trying each plug-in file once.
#pragma once

#include <ombrix/host/plugin_file.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

namespace ombrix {

struct ChildOutcome {
  enum class Kind {
    kOk,        // the work finished
    kFailed,    // the work threw; `message` says why
    kCrashed,   // the child died of `signal`
    kTimedOut,  // killed after the time limit
    kLost,      // the child could not be started, or exited without a word (`message`)
  };
  Kind kind = Kind::kOk;
  int signal = 0;
  std::string message;
  // "crashed (SIGSEGV)", "did not finish within 60 s", the failure's message...
  std::string Describe() const;
};
// Runs `work` in a forked child process, its crash signals reset to their
// default action and without core dumps. The child shares the caller's
// stdout and stderr (flushed before the fork), unless `quiet`: then its
// stderr goes to /dev/null, so that what a damaged plug-in makes the dynamic
// loader or a sanitizer print does not add lines to the caller's one-line
// report. timeout_seconds 0: no limit.
ChildOutcome RunInChild(const std::function<void()>& work, int timeout_seconds = 0, bool quiet = false);

// What is remembered of plug-in trials: a plug-in file is loaded (global
// and parameter setup) and renders a small frame once, in a child process;
// the verdict is kept by path, size and modification time, so only new or
// changed files are tried again. The cache file is written atomically and a
// damaged or unreadable one is ignored.
class PluginTrials {
 public:
  explicit PluginTrials(std::filesystem::path cache_file = {});  // empty: remember nothing
  // "" when the plug-in can be used, else why not (one line).
  std::string Verdict(const PluginFile& file);
  // Writes the cache when a verdict was added; failures are ignored.
  void Save();
  int trials_run() const { return trials_run_; }

 private:
  struct Entry {
    uint64_t size;
    int64_t mtime_ns;
    std::string verdict;
  };
  std::filesystem::path cache_file_;
  std::map<std::string, Entry> entries_;  // by absolute path
  bool dirty_ = false;
  int trials_run_ = 0;
};
// Tries every plug-in of the scan; refused ones move to `errors` and `refused`.
void TryPlugins(PluginScan& scan, PluginTrials& trials);
// $XDG_CACHE_HOME/ombrix/plugin-trials, else ~/.cache/ombrix/plugin-trials;
// empty when neither is known.
std::filesystem::path DefaultTrialCacheFile();

}  // namespace ombrix
