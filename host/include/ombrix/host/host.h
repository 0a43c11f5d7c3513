// The host runtime: loads plug-ins, owns worlds, time, parameters and
// sequence data, and serves every call of the effect API.
//
// The Host object holds what the plug-ins loaded into it share: options,
// failure injection, the memory handed to them and the worker threads. The
// services handed to plug-ins (function tables of pf/api.h) live in src/.
//
// This header also includes the rest of the host's public headers, for code
// that takes the whole host at once; new code includes what it uses.
#pragma once

#include <ombrix/host/failures.h>
#include <ombrix/host/host_error.h>
#include <ombrix/host/memory.h>
#include <ombrix/host/suites.h>
#include <ombrix/host/thread_pool.h>

#include <pf/api.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>

namespace ombrix {

struct HostOptions {
  int threads = 0;                     // 0: all cores
  A_long pad_rows = 0;                 // extra bytes per row of worlds made by new_world
  std::filesystem::path registry_dir;  // the platform registry's folder; empty: the user's
};

// The basic suite's answer for a suite the host does not provide ('S!Fd').
constexpr SPErr kSuiteNotFoundError = 0x53214664;

// Effects and instances refer to their Host: it must outlive them.
class Host {
 public:
  explicit Host(HostOptions options = {});
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  FailureInjector& failures() { return failures_; }
  // The handles, worlds, blocks and checkouts of this host's plug-ins.
  HostMemory& memory() { return memory_; }
  // The state behind the host suites (current tool, refreshes, fonts).
  HostSuites& suites() { return suites_; }
  int threads() const;
  void SetThreads(int threads);  // 0: all cores
  ThreadPool& pool();

  // Where a command's return_msg goes (default: stderr, one line).
  std::function<void(std::string_view)> on_message;
  // Progress of the current command: rows done of total. May be empty.
  std::function<void(A_long done, A_long total)> on_progress;
  // Set to make the abort service (and iterate, between bands) answer PF_Interrupt_CANCEL.
  std::atomic<bool> abort_requested{false};

  const HostOptions& options() const { return options_; }

 private:
  HostOptions options_;
  FailureInjector failures_;
  HostMemory memory_{&failures_};
  HostSuites suites_;
  std::unique_ptr<ThreadPool> pool_;
};

}  // namespace ombrix

#include <ombrix/host/effect.h>
#include <ombrix/host/instance.h>
#include <ombrix/host/layer_source.h>
#include <ombrix/host/params.h>
#include <ombrix/host/pipl.h>
#include <ombrix/host/plugin_file.h>
#include <ombrix/host/plugin_trial.h>
#include <ombrix/host/render_settings.h>
#include <ombrix/host/time.h>
#include <ombrix/host/world.h>
