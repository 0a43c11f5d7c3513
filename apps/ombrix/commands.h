// The subcommands of `ombrix`. Each takes its parsed options and returns
// the exit status; user mistakes are thrown as UsageError, host failures as
// HostError, and main() turns either into one line on stderr.
#pragma once

#include "param_text.h"

#include <ombrix/platform/dialog.h>
#include <ombrix/platform/headless.h>

#include <nlohmann/json_fwd.hpp>

#include <sys/types.h>

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
  std::string project;              // --project FILE: the studio project's composition instead of EFFECT
  std::vector<std::string> dialog;  // --dialog ID=VALUE,... answers for the options dialog
  std::string sequence_data;        // --sequence-data FILE: restored with SEQUENCE_RESETUP
  std::string save_sequence_data;   // --save-sequence-data FILE
  std::string registry;             // --registry DIR; empty: the user's
  std::string input = "testcard";
  std::string output;
  std::vector<std::string> params;  // NAME=VALUE
  std::vector<std::string> keys;    // NAME@SECONDS=VALUE
  std::optional<double> time;       // seconds
  std::string frame;                // --frame N; empty: none
  std::string fps = "24";
  std::string frames;  // FIRST-LAST
  std::optional<int64_t> time_scale;
  std::string quality = "high";
  int threads = 0;
  int pad_rows = 0;
  std::string downsample = "1/1";     // N/D, the preview resolution
  std::string pixel_aspect = "1/1";   // N/D
  std::vector<std::string> layers;    // NAME=SOURCE for layer parameters
  std::string exr_values = "linear";  // linear or raw: EXR inputs, layers and outputs
  std::string out_depth;              // 8, 16, half or float; empty: the format's default
  std::string compression;            // as the output format takes it; empty: its default
  A_long host_tool = 1;               // the tool the host reports as current (1: the arrow tool)
  std::string checksums;              // --checksums DIR: each frame's size and SHA-256 in DIR/FRAME
};
// With `check_only`, everything is read, checked and set up as for the
// render (the effect's sequence set up, dialog answered, values and keys
// set), and nothing is rendered or written.
int RunRender(const CommonOptions& common, const RenderOptions& options, bool check_only = false);

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
// The effect's ABOUT command: its text (UTF-8, lines broken with newlines) and result.
struct AboutResult {
  PF_Err err = PF_Err_NONE;
  std::string text;
};
AboutResult AboutText(Effect& effect, bool alt);
// What `info --json` prints for an effect.
nlohmann::ordered_json EffectInfoJson(const PluginFile& file, Effect& effect);

// Options dialogs and sequence data for render (options.cpp).

// One --dialog item: a control answered, a button clicked, OK or Cancel pressed.
struct DialogAnswer {
  enum class Kind { kSet, kClick, kOk, kCancel, kColor } kind = Kind::kSet;
  int id = 0;
  std::string value;
  platform::ColorAnswer color;  // kColor: the colour chooser's answer
  std::string text;             // the item as typed, for messages
};
// Reads the items of every --dialog option; throws UsageError for one that is not ID=VALUE, ok, cancel,
// color=#RRGGBB or color=cancel.
std::vector<DialogAnswer> ParseDialogAnswers(const std::vector<std::string>& options);

// A control of an options dialog that takes answers, as the dialog shows it when it opens.
struct DialogControlInfo {
  int id = 0;
  platform::ControlKind kind = platform::ControlKind::kEdit;
  std::string label;     // its own text, or the label beside it (UTF-8)
  int min = 0, max = 0;  // scroll bars: the positions
  bool enabled = true;
};
struct OptionsDialogInfo {
  bool has_dialog = false;  // the effect asks for an options command
  std::string error;        // why the dialog could not be shown
  std::string title;
  std::vector<DialogControlInfo> controls;  // template order
};
// Opens the effect's options dialog on an instance of its own and cancels it.
OptionsDialogInfo InspectOptionsDialog(Effect& effect);
std::string ControlKindName(platform::ControlKind kind);      // "edit", "check box", "scroll bar", ...
std::string ControlValues(const DialogControlInfo& control);  // "text", "on/off", "1..8", ...
// Checks the answers against the dialog's controls (ids, kinds, ranges);
// throws UsageError naming the first one refused.
void CheckDialogAnswers(const std::string& effect_name, const OptionsDialogInfo& dialog,
                        const std::vector<DialogAnswer>& answers);
// The options command with the answers. Throws UsageError when the dialog
// could not be shown, refused an answer, closed before the last answer or
// was still open after it; the outcome is printed on stderr.
CommandResult RunOptionsDialog(Instance& instance, const std::string& effect_name,
                               const std::vector<DialogAnswer>& answers, bool quiet);
// Stored sequence data: at most 64 KiB, or 64 MiB for an effect whose data is flattened.
std::vector<uint8_t> ReadSequenceData(const std::string& path, bool flattened);
// A regular file's bytes, read whole; UsageError (`what` followed by the
// reason, `too_large` past `max_bytes`) for anything else.
std::vector<uint8_t> ReadRegularFile(const std::string& path, const std::string& what, off_t max_bytes,
                                     const std::string& too_large);
// Replaces the file at `path` with `size` bytes whole, or leaves it as it
// was; HostError (`what` followed by the reason) when that fails.
void ReplaceFile(const std::string& path, const std::string& what, const void* data, size_t size);
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
