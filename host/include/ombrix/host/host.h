// The host runtime: loads plug-ins, owns worlds, time, parameters and
// sequence data, and serves every call of the effect API.
//
// This is the public face used by the command line and the tests. The
// services handed to plug-ins (function tables of pf/api.h) live in src/.
#pragma once

#include <pf/api.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix {

// Errors raised by the host (never thrown across into a plug-in).
struct HostError : std::runtime_error {
  using std::runtime_error::runtime_error;
  HostError(const std::string& what, PF_Err code) : std::runtime_error(what), err(code) {}
  PF_Err err = PF_Err_NONE;  // the plug-in's or service's error, when one caused this
};

// ---------------------------------------------------------------------------
// Time
// ---------------------------------------------------------------------------
struct FrameRate {
  int64_t num = 24;
  int64_t den = 1;
  bool ratio = false;  // written as N/D: time scale N and step D, also when D is 1
  // "24", "24/1", "24000/1001", and the video rates 23.976, 29.97 and 59.94
  // as N x 1000/1001; other decimals are refused with their N/D form.
  static FrameRate Parse(std::string_view text);
};

// Host time units for one frame rate: time_scale ticks per second, and the
// ticks of one frame. Integer rates: scale 100 x rate, step 100; N/D rates:
// scale N, step D (24/1: scale 24, step 1). An explicit scale overrides (step = scale / rate).
struct TimeBase {
  A_u_long time_scale = 2400;
  A_long time_step = 100;
  static TimeBase ForRate(FrameRate rate, std::optional<A_u_long> scale = {});
  A_long SecondsToTicks(double seconds) const;  // round(seconds * scale)
  A_long FrameToTicks(int64_t frame) const { return A_long(frame * time_step); }
};

// ---------------------------------------------------------------------------
// Worlds
// ---------------------------------------------------------------------------
// An image owned by the host. New worlds are transparent black, including
// any row padding. `pf` is what plug-ins see.
class World {
 public:
  World() = default;
  World(A_long width, A_long height, A_long pad_bytes = 0);
  World(const World&);
  World& operator=(const World&);
  World(World&&) noexcept;
  World& operator=(World&&) noexcept;
  ~World();

  PF_EffectWorld& pf() { return pf_; }
  const PF_EffectWorld& pf() const { return pf_; }
  A_long width() const { return pf_.width; }
  A_long height() const { return pf_.height; }
  A_long rowbytes() const { return pf_.rowbytes; }
  bool empty() const { return pf_.data == nullptr; }
  PF_Pixel* Row(A_long y) { return reinterpret_cast<PF_Pixel*>(bytes_ + size_t(y) * pf_.rowbytes); }
  const PF_Pixel* Row(A_long y) const { return reinterpret_cast<const PF_Pixel*>(bytes_ + size_t(y) * pf_.rowbytes); }
  PF_Pixel& At(A_long x, A_long y) { return Row(y)[x]; }
  const PF_Pixel& At(A_long x, A_long y) const { return Row(y)[x]; }

 private:
  void Allocate(A_long width, A_long height, A_long rowbytes);
  PF_EffectWorld pf_{};
  uint8_t* bytes_ = nullptr;
  size_t size_ = 0;
};

// True when both worlds have the same size and the same pixels (padding ignored).
bool SamePixels(const PF_EffectWorld& a, const PF_EffectWorld& b);

// ---------------------------------------------------------------------------
// Failure injection: the n-th call (1-based) of a named service answers err.
// Service names: "add_param", "checkout_param", "checkin_param", "abort",
// "progress", "iterate", "copy", "fill", "new_world", "dispose_world",
// "subpixel_sample", "area_sample", "new_handle", "lock_handle",
// "resize_handle", "get_callback_addr", "get_platform_data", "RGBtoHLS",
// "HLStoRGB", "register_ui", "acquire_suite", "smooth" (the smoothing
// routine of get_callback_addr). A failing new_handle answers NULL and a failing
// lock_handle NULL; the others answer err. The basic suite's block
// services are "allocate_block" and "reallocate_block".
// The count for an armed failure starts at the Arm call: nth_call 1 fails
// the next call. Arm throws HostError for a name not in ServiceNames().
// Thread-safe: services may be called from iterate's worker threads.
// Counting is cheap and exact: each thread adds to counters of its own
// (summed by Calls), and only calls of a service with an armed failure still
// to come take a lock, so that exactly the n-th of them fails. With one
// thread that is the n-th call in program order; with several it is the
// n-th to reach the lock (which pixel that is may differ from run to run).
// Arm and Clear between commands, not while services run.
// ---------------------------------------------------------------------------
class FailureInjector {
 public:
  void Arm(std::string service, int nth_call, PF_Err err);
  void Clear();  // disarms everything and resets the counts
  // Counts one call of `service`; returns the armed error on the armed call, else 0.
  PF_Err Check(std::string_view service);
  // The same by position in ServiceNames() (the host's services pass
  // positions fixed when they are compiled); other positions answer 0.
  PF_Err Check(int service_index);
  int Calls(std::string_view service) const;
  static std::span<const std::string_view> ServiceNames();

 private:
  struct Arm_ { int service; int nth; PF_Err err; };
  static constexpr int kMaxServices = 32;
  static constexpr int kShards = 16;  // threads share a shard only past 16 threads
  struct alignas(64) Shard { std::atomic<int> calls[kMaxServices] = {}; };
  int TotalLocked(int index) const;
  PF_Err CheckArmed(int index);
  mutable std::mutex mutex_;  // guards armed_ and the counting of armed services
  std::atomic<uint32_t> armed_mask_{0};  // bit i: service i has an armed failure to come
  Shard shards_[kShards];
  std::vector<Arm_> armed_;
};

// ---------------------------------------------------------------------------
// Plug-in files and their registration data
// ---------------------------------------------------------------------------
struct PiplInfo {
  std::string kind;          // "eFKT"
  std::string display_name;  // "OB Flatwash"
  std::string category;      // "Ombrix One"
  std::string entry_point;   // "main"
  uint16_t pipl_major = 0, pipl_minor = 0;  // 'ePVR'
  uint16_t spec_major = 0, spec_minor = 0;  // 'eSVR'
  uint32_t effect_version = 0;              // 'eVER'
  uint16_t info_flags = 0;                  // 'eINF'
  uint32_t global_flags = 0;                // 'eGLO'
  std::string match_name;                   // 'eMNA'
  uint32_t ae_flags = 0, ae_reserved = 0;   // 'aeFL', 'aeRD'
  std::vector<uint8_t> bytes;               // the whole resource
};

// Parses PIPL bytes; throws HostError with a clear message on damage.
PiplInfo ParsePipl(std::span<const uint8_t> bytes);

struct PluginFile {
  std::filesystem::path path;
  std::string short_name;  // file name without ".aex": "flatwash"
  PiplInfo pipl;
  std::map<std::string, std::string> version;  // version block fields
};

// Reads a plug-in's registration and version block from its ELF sections
// without running any of its code, after checking everything the dynamic
// loader would follow (header, program headers, dynamic section and the
// tables it names) against the file's bounds. Throws HostError naming the
// file and the fault for anything that is not a well-formed plug-in.
PluginFile ReadPluginFile(const std::filesystem::path& path);
// The same for a file's bytes already in memory; `path` names it.
PluginFile ParsePluginFile(std::span<const uint8_t> bytes, const std::filesystem::path& path);

struct PluginScan {
  std::vector<PluginFile> plugins;  // sorted by category, then display name
  std::vector<std::string> errors;  // one line per rejected file
  // Files that cannot be used, with the line saying why (the file's
  // registration is filled in when it could be read).
  std::vector<std::pair<PluginFile, std::string>> refused;
};
PluginScan ScanPluginFolder(const std::filesystem::path& folder);

// ---------------------------------------------------------------------------
// Running plug-in code where a crash cannot take the caller down
// ---------------------------------------------------------------------------
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
  struct Entry { uint64_t size; int64_t mtime_ns; std::string verdict; };
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

// The folder searched when none is given: $OMBRIX_PLUGIN_PATH, else the
// build's plugin folder, else the installed lib/ombrix/plugins beside the executable.
std::filesystem::path DefaultPluginFolder();

// Finds an effect by short name, display name or match name (exact, then
// case-insensitive). Throws HostError listing nothing found.
const PluginFile& FindPlugin(const PluginScan& scan, std::string_view name);

// ---------------------------------------------------------------------------
// Parameter values and keyframes
// ---------------------------------------------------------------------------
struct ParamValue {
  // For sliders, fixed sliders, angles, popups and check boxes: `value`.
  // For points: x and y in 16.16 full-resolution layer pixels.
  // For colours: `color`.
  A_long value = 0;
  PF_Fixed x = 0, y = 0;
  PF_Pixel color{};
  bool operator==(const ParamValue& o) const {
    return value == o.value && x == o.x && y == o.y && color.alpha == o.color.alpha && color.red == o.color.red &&
           color.green == o.color.green && color.blue == o.color.blue;
  }
};

struct Keyframe {
  A_long time = 0;  // ticks
  ParamValue value;
};

// ---------------------------------------------------------------------------
// The host
// ---------------------------------------------------------------------------
struct HostOptions {
  int threads = 0;  // 0: all cores
  A_long pad_rows = 0;  // extra bytes per row of worlds made by new_world
  std::filesystem::path registry_dir;  // the platform registry's folder; empty: the user's
};

// A fixed set of worker threads running submitted tasks in order of
// submission. Used by iterate; tasks must not wait on other tasks.
class ThreadPool {
 public:
  explicit ThreadPool(int threads);  // 0: all cores
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;
  int size() const;
  void Submit(std::function<void()> task);
  // Runs task(0) .. task(count - 1) on the workers and waits for all of
  // them (in order on this thread with one worker, or when called from a
  // worker). Tasks must not throw.
  void ForEach(int count, const std::function<void(int)>& task);
  // True on the pool's own worker threads.
  static bool OnWorker();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Host memory handles (the handle services of the effect API). A handle is
// valid until disposed; services given an unknown handle do nothing.
PF_Handle NewHandle(size_t size);  // zero-filled; NULL when out of memory
void DisposeHandle(PF_Handle h);
size_t HandleSize(PF_Handle h);    // 0 for an unknown handle
bool HandleIsLive(PF_Handle h);
size_t LiveHandleCount();          // handles not yet disposed, process-wide
size_t LiveWorldCount();           // worlds from new_world not yet disposed
size_t LiveBlockCount();           // basic-suite blocks not yet freed

// The basic suite's answer for a suite the host does not provide ('S!Fd').
constexpr SPErr kSuiteNotFoundError = 0x53214664;

class Host {
 public:
  explicit Host(HostOptions options = {});
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  FailureInjector& failures() { return failures_; }
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
  std::unique_ptr<ThreadPool> pool_;
};

// A loaded plug-in after GLOBAL_SETUP and PARAMS_SETUP.
class Effect {
 public:
  // Loads the module, sends GLOBAL_SETUP and PARAMS_SETUP. Throws HostError
  // when the module cannot be loaded or a setup command fails.
  Effect(Host& host, const PluginFile& file);
  ~Effect();  // GLOBAL_SETDOWN, then unload
  Effect(const Effect&) = delete;
  Effect& operator=(const Effect&) = delete;

  Host& host() { return host_; }
  const PluginFile& file() const { return file_; }
  A_u_long my_version() const { return my_version_; }
  A_long global_out_flags() const { return global_out_flags_; }
  A_long num_params() const { return num_params_; }  // as the plug-in set it

  // Every registered definition, index 0 the input layer, kept exactly as registered.
  const std::vector<PF_ParamDef>& params() const { return params_; }
  // Popup items (separators included) and check box labels, read at registration.
  std::vector<std::string> PopupItems(int index) const;
  std::string CheckboxLabel(int index) const;
  // A parameter by name, check box label (when the name is blank) or index; -1 if none.
  int FindParam(std::string_view name_or_index) const;

  // PF_InData with the services, effect_ref, basic suite, global data and
  // num_params filled and everything else zero (time scale 1).
  PF_InData BaseInData();
  PF_Handle global_data() const { return global_data_; }

  // Sends one command with the records as given (the caller clears them) and
  // hands a non-empty return_msg to Host::on_message.
  PF_Err Send(PF_Cmd cmd, PF_InData& in_data, PF_OutData& out_data,
              PF_ParamDef** params, PF_LayerDef* output, void* extra);

  struct Impl;

 private:
  Host& host_;
  PluginFile file_;
  std::unique_ptr<Impl> impl_;
  A_u_long my_version_ = 0;
  A_long global_out_flags_ = 0;
  A_long num_params_ = 0;
  PF_Handle global_data_ = nullptr;
  std::vector<PF_ParamDef> params_;
  friend class Instance;
  friend PF_Err AddParamFor(Effect&, PF_ParamIndex, const PF_ParamDef*);
};

struct RenderSettings {
  PF_RationalScale downsample_x{1, 1}, downsample_y{1, 1};
  PF_RationalScale pixel_aspect{1, 1};
  PF_Quality quality = PF_Quality_HI;
};

// The size of a buffer at the settings' downsample factors: ceil(full x n/d)
// on each axis (the full size itself at 1/1).
struct BufferSize {
  A_long width = 0, height = 0;
  bool operator==(const BufferSize&) const = default;
};
BufferSize BufferSizeFor(A_long full_width, A_long full_height, const RenderSettings& settings);

// The box reduction of a full-resolution image to its buffer size at the
// settings' downsample factors (an exact copy at 1/1), with `pad_bytes` of
// padding per row.
World DownsampledWorld(const PF_EffectWorld& full, const RenderSettings& settings, A_long pad_bytes = 0);

// Live layers checked out through checkout_param and not yet checked in,
// process-wide.
size_t LiveCheckoutCount();

struct ImageSource;  // image_io.h

// What a layer parameter shows. kSelf: the effect's own layer (the
// instance's input). kNone: no layer (a checkout succeeds with no pixels).
// kImage: an image file, image sequence, solid or test card; a sequence's
// frame f shows from f / rate seconds up to the next frame (the instance's
// frame rate unless `rate` is given), holding its end frames outside its range.
struct LayerSource {
  enum class Kind { kSelf, kNone, kImage };
  Kind kind = Kind::kSelf;
  std::shared_ptr<const ImageSource> image;
  std::optional<FrameRate> rate;

  static LayerSource Self() { return {}; }
  static LayerSource None() { return {Kind::kNone, nullptr, std::nullopt}; }
  static LayerSource Image(ImageSource source, std::optional<FrameRate> rate = {});
};

struct CommandResult {
  PF_Err err = PF_Err_NONE;
  A_long out_flags = 0;
  std::string message;  // return_msg, empty if none
};

// One application of an effect to a layer: its parameter tracks and its
// sequence data. SEQUENCE_SETUP (or RESETUP with stored bytes) on creation,
// SEQUENCE_SETDOWN on destruction.
class Instance {
 public:
  Instance(Effect& effect, TimeBase time, A_long layer_width, A_long layer_height,
           std::optional<std::vector<uint8_t>> stored_sequence_data = {});
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  const CommandResult& setup_result() const { return setup_result_; }

  // The value at every time (clears keys), or a keyframe at `time` ticks.
  void SetValue(int index, const ParamValue& value);
  void AddKey(int index, A_long time, const ParamValue& value);
  // The value at `time`: linear between keys (rounded to the nearest unit,
  // halves away from zero), held before the first and after the last key;
  // popups and check boxes hold until the next key.
  ParamValue ValueAt(int index, A_long time) const;

  // FRAME_SETUP then RENDER (skipped, with the input copied, when FRAME_SETUP
  // set NOP_RENDER). `input` is the layer at full resolution (the layer size
  // given at construction), reduced by the host to the buffer size when the
  // settings downsample, or an input already at the buffer size, used as
  // it is. `output` must be of the buffer size (BufferSizeFor).
  CommandResult RenderFrame(A_long time, PF_EffectWorld& input, PF_EffectWorld& output,
                            const RenderSettings& settings = {});
  // The same with an output world that is resized to the buffer size when
  // it differs (keeping its row padding).
  CommandResult RenderFrame(A_long time, PF_EffectWorld& input, World& output,
                            const RenderSettings& settings = {});
  BufferSize BufferSizeAt(const RenderSettings& settings) const {
    return BufferSizeFor(layer_width_, layer_height_, settings);
  }

  // Binds a layer parameter (by index) to what it shows, at RENDER and in
  // checkouts at any time. Unbound layer parameters follow their registered
  // default (the own layer, or none). Index 0 is the effect's own layer:
  // binding it to an image source tells the host what the input is at other
  // times (checkouts of the own layer then load it; otherwise they show the
  // input of the current render at every time). Throws HostError for an
  // index that is not a layer parameter, or kNone for index 0.
  void BindLayer(int index, LayerSource source);

  // Any other command with this instance's sequence data.
  CommandResult Command(PF_Cmd cmd, A_long time = 0, void* extra = nullptr);

  // The sequence data's bytes (after SEQUENCE_FLATTEN for effects that flatten).
  std::vector<uint8_t> SequenceDataBytes();
  PF_Handle sequence_data() const { return sequence_data_; }

  // in_data->total_time (default: one frame).
  void SetTotalTime(A_long ticks) { total_time_ = ticks; }

  const TimeBase& time_base() const { return time_; }
  Effect& effect() { return effect_; }

 private:
  Effect& effect_;
  TimeBase time_;
  A_long layer_width_, layer_height_;
  PF_Handle sequence_data_ = nullptr;
  A_long total_time_ = 0;
  CommandResult setup_result_;
  struct LayerFeed;
  std::vector<std::shared_ptr<LayerFeed>> layers_;  // per parameter index; NULL: the default
  const PF_EffectWorld* current_input_ = nullptr;   // during RenderFrame
  bool current_input_full_ = false;                 // at the layer's full size (else the buffer's)
  std::string service_error_;                       // why a service failed during the last command
  LayerSource SourceOf(int index) const;
  PF_Err CheckoutLayer(int index, A_long what_time, A_u_long time_scale, const RenderSettings& settings,
                       PF_ParamDef* param, const void* owner, A_long pad_bytes);
  const PF_EffectWorld* LayerAt(int index, A_long what_time, A_u_long time_scale, bool& full_size);
  friend PF_Err CheckoutParamFor(struct CallContext&, PF_ParamIndex, A_long, A_long,
                                 A_u_long, PF_ParamDef*);
  CommandResult Run(PF_Cmd cmd, A_long time, PF_ParamDef** params, PF_LayerDef* output,
                    void* extra, const RenderSettings& settings);
  std::vector<PF_ParamDef> ParamsAt(A_long time, const RenderSettings& settings) const;
  void AdoptSequenceData(PF_Handle handed_in, PF_Handle returned, bool host_made);
  struct Track { ParamValue value; std::vector<Keyframe> keys; };
  std::vector<Track> tracks_;
};

}  // namespace ombrix
