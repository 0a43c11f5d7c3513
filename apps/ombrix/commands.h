// The subcommands of `ombrix`. Each takes its parsed options and returns
// the exit status; user mistakes are thrown as UsageError, host failures as
// HostError, and main() turns either into one line on stderr.
#pragma once

#include "param_text.h"

#include <optional>
#include <string>
#include <vector>

namespace ombrix::cli {

struct CommonOptions {
  std::string plugins;  // --plugins DIR; empty: the default folder
  bool quiet = false;
};

struct ListOptions {
  bool json = false;
};
int RunList(const CommonOptions& common, const ListOptions& options);

struct InfoOptions {
  std::string effect;
  bool json = false;
};
int RunInfo(const CommonOptions& common, const InfoOptions& options);

struct RenderOptions {
  std::string effect;
  std::vector<std::string> dialog;     // --dialog ID=VALUE,... answers for the options dialog
  std::string sequence_data;           // --sequence-data FILE: restored with SEQUENCE_RESETUP
  std::string save_sequence_data;      // --save-sequence-data FILE
  std::string registry;                // --registry DIR; empty: the user's
  std::string input = "testcard";
  std::string output;
  std::vector<std::string> params;  // NAME=VALUE
  std::vector<std::string> keys;    // NAME@SECONDS=VALUE
  std::optional<double> time;       // seconds
  std::string frame;                // --frame N; empty: none
  std::string fps = "24";
  std::string frames;               // FIRST-LAST
  std::optional<int64_t> time_scale;
  std::string quality = "high";
  int threads = 0;
  int pad_rows = 0;
  std::string downsample = "1/1";   // N/D, the preview resolution
  std::string pixel_aspect = "1/1"; // N/D
  std::vector<std::string> layers;  // NAME=SOURCE for layer parameters
};
int RunRender(const CommonOptions& common, const RenderOptions& options);

struct DemoOptions {
  std::string out_dir = "out";
  std::string input = "testcard";
};
int RunDemo(const CommonOptions& common, const DemoOptions& options);

struct AboutOptions {
  std::string effect;
  bool alt = false;      // Alt held: the effect opens its web page instead
  std::string registry;  // --registry DIR
};
int RunAbout(const CommonOptions& common, const AboutOptions& options);

// Options dialogs and sequence data for render (options.cpp).
// The options command with the scripted answers; the dialog's outcome on stderr.
CommandResult RunOptionsDialog(Instance& instance, const std::vector<std::string>& answers, bool quiet);
std::vector<uint8_t> ReadSequenceData(const std::string& path);
void WriteSequenceData(const std::string& path, const std::vector<uint8_t>& bytes);

// Plug-in folder scan shared by the subcommands: the files' registration
// only, or with every new or changed plug-in tried in a child process first
// (list and demo), refused ones moved to the scan's errors.
PluginScan ScanPlugins(const CommonOptions& common);
PluginScan ScanAndTryPlugins(const CommonOptions& common);
// The effect the user named, tried in a child process when new or changed.
// Throws UsageError when no file has that name, HostError (naming the file
// and the fault) when it cannot be used.
const PluginFile& FindEffect(const PluginScan& scan, const std::string& name);

// The one line printed when plug-in code crashes the process itself (main.cpp):
// "ombrix: NAME: crashed (SIGSEGV)"; the effect named is the one being run.
void InstallCrashReport();
void SetCrashContext(const std::string& effect_name);

}  // namespace ombrix::cli
