// `ombrix render` and `ombrix demo`.
//
// Everything the user typed is checked before the first frame is rendered,
// so a mistake ends the run with nothing written. Each output file is
// written atomically, so a failed run never leaves a partial file behind.
#include "commands.h"

#include <ombrix/host/image_io.h>

#include <unistd.h>

#include <atomic>
#include <charconv>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <iostream>

namespace ombrix::cli {
namespace {

namespace fs = std::filesystem;

// Ctrl-C and SIGTERM ask the host to abort the current render; the run then
// stops after the file being written (if any) is complete.
std::atomic<bool>* g_abort = nullptr;
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) {
  g_interrupted = 1;
  if (g_abort) g_abort->store(true);
}

void CatchInterrupts(Host& host) {
  static_assert(std::atomic<bool>::is_always_lock_free);
  g_abort = &host.abort_requested;
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

void StopIfInterrupted() {
  if (g_interrupted) throw HostError("interrupted");
}

struct Assignment {
  int index;
  std::optional<A_long> time;  // ticks; none: the value at every time
  ParamValue value;
};

std::optional<int64_t> ParseFrameNumber(std::string_view s) {
  int64_t v = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || ptr != s.data() + s.size() || v < 0 || v > 100000000) {
    return std::nullopt;
  }
  return v;
}

struct FrameRange {
  int64_t first, last;
};

FrameRange ParseFrames(std::string_view text) {
  const size_t dash = text.find('-');
  std::optional<int64_t> a, b;
  if (dash != std::string_view::npos) {
    a = ParseFrameNumber(text.substr(0, dash));
    b = ParseFrameNumber(text.substr(dash + 1));
  } else {
    a = b = ParseFrameNumber(text);
  }
  if (!a || !b || *a > *b) {
    throw UsageError("bad --frames '" + std::string(text) + "' (expected FIRST-LAST, 0 <= FIRST <= LAST)");
  }
  return {*a, *b};
}

// Routes each command's return_msg: collected while a command runs, then
// printed (result 0) or folded into the failure line (non-zero result).
struct Messages {
  std::vector<std::string> pending;

  void Take(const CommandResult& result) {
    if (!result.message.empty() && (pending.empty() || pending.back() != result.message)) {
      pending.push_back(result.message);
    }
  }
  // Prints the messages of a successful command, or throws for a failed one.
  void Settle(const std::string& effect, const char* what, const CommandResult& result) {
    Take(result);
    if (result.err != PF_Err_NONE) {
      std::string line = effect + ": " + what + " failed with error " + std::to_string(result.err);
      if (!pending.empty()) line += ": " + pending.back();
      pending.clear();
      throw HostError(line);
    }
    for (const std::string& m : pending) std::cerr << "ombrix: " << effect << ": " << m << "\n";
    pending.clear();
  }
};

void ShowProgress(int64_t done, int64_t total) {
  constexpr int kWidth = 30;
  const int filled = int(done * kWidth / std::max<int64_t>(total, 1));
  std::string bar(size_t(filled), '#');
  bar.resize(kWidth, ' ');
  std::fprintf(stderr, "\r[%s] %lld/%lld frames", bar.c_str(), static_cast<long long>(done),
               static_cast<long long>(total));
  if (done == total) std::fputc('\n', stderr);
  std::fflush(stderr);
}

// "N/D" or "N" with both parts positive; `what` names the option in errors.
PF_RationalScale ParseRatio(const std::string& text, const char* what) {
  const size_t slash = text.find('/');
  const std::string_view num_text = std::string_view(text).substr(0, slash);
  const std::string_view den_text = slash == std::string::npos ? std::string_view("1")
                                                              : std::string_view(text).substr(slash + 1);
  int64_t num = 0, den = 0;
  auto parse = [](std::string_view s, int64_t& v) {
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return !s.empty() && ec == std::errc() && ptr == s.data() + s.size();
  };
  if (!parse(num_text, num) || !parse(den_text, den) || num <= 0 || den <= 0 || num > 0xFFFF || den > 0xFFFF) {
    throw UsageError(std::string("bad ") + what + " '" + text + "' (expected N/D with 1 <= N, D <= 65535)");
  }
  return PF_RationalScale{A_long(num), A_u_long(den)};
}

std::string TimeText(const TimeBase& tb, A_long ticks) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6g s", double(ticks) / double(tb.time_scale));
  return buf;
}

}  // namespace

int RunRender(const CommonOptions& common, const RenderOptions& o) {
  // Options that need no plug-in.
  if (o.output.empty()) throw UsageError("render needs -o/--output");
  if (!IsWritableImagePath(o.output)) {
    throw UsageError("cannot write '" + o.output + "': unknown image format (use png, exr, tif, tiff, jpg or jpeg)");
  }
  std::optional<FramePattern> out_pattern;
  try {
    out_pattern = ParseFramePattern(o.output);
  } catch (const HostError& e) {
    throw UsageError(e.what());
  }
 {
    const fs::path parent = fs::path(o.output).parent_path();
    std::error_code ec;
    if (!parent.empty() && !fs::is_directory(parent, ec)) {
      throw UsageError("cannot write '" + o.output + "': the folder '" + parent.string() + "' does not exist");
    }
  }
  if (o.quality != "high" && o.quality != "low") {
    throw UsageError("bad --quality '" + o.quality + "' (expected high or low)");
  }
  if (o.threads < 0 || o.threads > 1024) throw UsageError("bad --threads " + std::to_string(o.threads) + " (0..1024)");
  if (o.pad_rows < 0 || o.pad_rows > 65536) {
    throw UsageError("bad --pad-rows " + std::to_string(o.pad_rows) + " (0..65536 bytes)");
  }
  FrameRate rate;
  TimeBase tb;
  try {
    rate = FrameRate::Parse(o.fps);
    if (rate.num <= 0 || rate.den <= 0) throw HostError("the rate must be positive");
    if (o.time_scale && (*o.time_scale <= 0 || *o.time_scale > 0x7FFFFFFF)) {
      throw HostError("bad --time-scale " + std::to_string(*o.time_scale));
    }
    tb = TimeBase::ForRate(rate, o.time_scale ? std::optional<A_u_long>(A_u_long(*o.time_scale))
                                              : std::nullopt);
    if (tb.time_step <= 0) throw HostError("the time scale " + std::to_string(tb.time_scale) + " is too small for the rate");
  } catch (const HostError& e) {
    throw UsageError(std::string("bad --fps/--time-scale: ") + e.what());
  } catch (const std::exception& e) {
    throw UsageError("bad --fps '" + o.fps + "' (expected N or N/D)");
  }
  RenderSettings settings;
  settings.quality = o.quality == "high" ? PF_Quality_HI : PF_Quality_LO;
  settings.downsample_x = settings.downsample_y = ParseRatio(o.downsample, "--downsample");
  if (settings.downsample_x.num > A_long(settings.downsample_x.den)) {
    throw UsageError("bad --downsample '" + o.downsample + "' (a reduction: N/D at most 1)");
  }
  settings.pixel_aspect = ParseRatio(o.pixel_aspect, "--pixel-aspect");
  std::optional<FrameRange> range;
  if (!o.frames.empty()) range = ParseFrames(o.frames);
  if (range && !out_pattern) throw UsageError("--frames needs an output pattern with #### or %04d");
  if (o.time && (!std::isfinite(*o.time) || std::fabs(*o.time * tb.time_scale) > 2e9)) {
    throw UsageError("bad --time");
  }

  // The effect, its input and every parameter value.
  PluginScan scan = ScanPlugins(common);
  const PluginFile* file = &FindEffect(scan, o.effect);
  ImageSource source;
  try {
    source = ParseSource(o.input);
  } catch (const HostError& e) {
    throw UsageError(std::string("bad input: ") + e.what());
  }
  if (out_pattern && !range) {
    if (source.kind == SourceKind::kSequence) range = FrameRange{source.frames.front(), source.frames.back()};
    else if (o.frame) range = FrameRange{*o.frame, *o.frame};
    else throw UsageError("an output pattern needs --frames FIRST-LAST (or an image sequence as input)");
  }
  if (range && (o.time || o.frame) && !(o.frame && range->first == *o.frame && range->last == *o.frame)) {
    throw UsageError("--time/--frame cannot be combined with a frame range");
  }

  HostOptions host_options;
  host_options.threads = o.threads;
  host_options.registry_dir = o.registry;
  Host host(host_options);
  Messages messages;
  host.on_message = [&](std::string_view m) { messages.pending.emplace_back(m); };
  CatchInterrupts(host);
  Effect effect(host, *file);
  const std::string name = file->pipl.display_name;

  std::vector<Assignment> assignments;
  for (const std::string& p : o.params) {
    const size_t eq = p.find('=');
    if (eq == std::string::npos || eq == 0) throw UsageError("bad -p '" + p + "' (expected NAME=VALUE)");
    const int index = ResolveParam(effect, p.substr(0, eq));
    assignments.push_back({index, std::nullopt,
                           ParseParamValue(effect, index, std::string_view(p).substr(eq + 1), source.width,
                                           source.height)});
  }
  for (const std::string& k : o.keys) {
    const size_t eq = k.find('=');
    const size_t at = eq == std::string::npos ? std::string::npos : k.rfind('@', eq);
    if (eq == std::string::npos || at == std::string::npos || at == 0) {
      throw UsageError("bad -k '" + k + "' (expected NAME@SECONDS=VALUE)");
    }
    const std::string seconds_text = k.substr(at + 1, eq - at - 1);
    char* end = nullptr;
    const double seconds = std::strtod(seconds_text.c_str(), &end);
    if (seconds_text.empty() || end != seconds_text.c_str() + seconds_text.size() || !std::isfinite(seconds) ||
        std::fabs(seconds * tb.time_scale) > 2e9) {
      throw UsageError("bad -k '" + k + "': '" + seconds_text + "' is not a time in seconds");
    }
    const int index = ResolveParam(effect, k.substr(0, at));
    assignments.push_back({index, tb.SecondsToTicks(seconds),
                           ParseParamValue(effect, index, std::string_view(k).substr(eq + 1), source.width,
                                           source.height)});
  }

  // Layer parameters: what each shows.
  std::vector<std::pair<int, LayerSource>> layers;
  for (const std::string& l : o.layers) {
    const size_t eq = l.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == l.size()) {
      throw UsageError("bad --layer '" + l + "' (expected NAME=SOURCE)");
    }
    const int index = ResolveParam(effect, l.substr(0, eq));
    if (effect.params()[size_t(index)].param_type != PF_Param_LAYER) {
      throw UsageError("--layer '" + l.substr(0, eq) + "' is not a layer parameter of " + name);
    }
    const std::string what = l.substr(eq + 1);
    if (what == "self") {
      layers.emplace_back(index, LayerSource::Self());
    } else if (what == "none") {
      layers.emplace_back(index, LayerSource::None());
    } else {
      try {
        layers.emplace_back(index, LayerSource::Image(ParseSource(what), rate));
      } catch (const HostError& e) {
        throw UsageError("bad --layer '" + l + "': " + e.what());
      }
    }
  }

  // The times to render: one per output file.
  struct Job {
    A_long ticks;
    std::string path;
  };
  std::vector<Job> jobs;
  if (range) {
    for (int64_t f = range->first; f <= range->last; ++f) {
      jobs.push_back({tb.FrameToTicks(f), FramePath(*out_pattern, f)});
    }
  } else {
    A_long ticks = 0;
    if (o.time) ticks = tb.SecondsToTicks(*o.time);
    else if (o.frame) ticks = tb.FrameToTicks(*o.frame);
    jobs.push_back({ticks, o.output});
  }

  // Render.
  std::optional<std::vector<uint8_t>> stored;
  if (!o.sequence_data.empty()) stored = ReadSequenceData(o.sequence_data);
  Instance instance(effect, tb, source.width, source.height, std::move(stored));
  messages.Settle(name, "sequence setup", instance.setup_result());
  if (!o.dialog.empty()) messages.Settle(name, "options dialog", RunOptionsDialog(instance, o.dialog, common.quiet));
  for (const Assignment& a : assignments) {
    if (a.time) instance.AddKey(a.index, *a.time, a.value);
    else instance.SetValue(a.index, a.value);
  }
  // The input at other times, for effects that read their own layer then.
  instance.BindLayer(0, LayerSource::Image(source, rate));
  for (auto& [index, layer] : layers) instance.BindLayer(index, std::move(layer));
  const bool progress = !common.quiet && jobs.size() > 1 && ::isatty(STDERR_FILENO);
  std::optional<World> still;
  for (size_t i = 0; i < jobs.size(); ++i) {
    World input;
    if (source.kind == SourceKind::kSequence) {
      input = LoadSource(source, jobs[i].ticks, tb.time_step, o.pad_rows);
    } else {
      if (!still) still = LoadSource(source, 0, tb.time_step, o.pad_rows);
      input = *still;
    }
    World output(source.width, source.height, o.pad_rows);  // resized to the buffer size
    const CommandResult result = instance.RenderFrame(jobs[i].ticks, input.pf(), output, settings);
    StopIfInterrupted();
    messages.Settle(name, ("render at " + TimeText(tb, jobs[i].ticks)).c_str(), result);
    WriteImage(jobs[i].path, output.pf());
    if (progress) ShowProgress(int64_t(i + 1), int64_t(jobs.size()));
    StopIfInterrupted();
  }
  if (!common.quiet && !progress) {
    if (jobs.size() == 1) std::cerr << "ombrix: wrote " << jobs[0].path << "\n";
    else std::cerr << "ombrix: wrote " << jobs.size() << " frames, " << jobs.front().path << " .. " << jobs.back().path << "\n";
  }
  if (!o.save_sequence_data.empty()) WriteSequenceData(o.save_sequence_data, instance.SequenceDataBytes());
  return kExitOk;
}

int RunDemo(const CommonOptions& common, const DemoOptions& o) {
  ImageSource source;
  try {
    source = ParseSource(o.input);
  } catch (const HostError& e) {
    throw UsageError(std::string("bad input: ") + e.what());
  }
  const PluginScan scan = ScanAndTryPlugins(common);
  // A file that cannot be used costs its own effect; the others still render.
  int failures = int(scan.refused.size());
  for (const auto& refused : scan.refused) std::cerr << "ombrix: " << refused.second << "\n";
  if (scan.plugins.empty()) throw HostError("no effects found to render");
  std::error_code ec;
  fs::create_directories(o.out_dir, ec);
  if (ec) throw HostError("cannot create '" + o.out_dir + "': " + ec.message());

  const World input = LoadSource(source, 0, 100);
  WriteImage(fs::path(o.out_dir) / "input.png", input.pf());
  // Each effect with its defaults (<name>.png), then once per selectable item
  // of its first popup, which is its type or mode (<name>-<item>.png). Each
  // effect renders in a child process of its own, so a crash costs only it.
  for (const PluginFile& file : scan.plugins) {
    auto work = [&] {
      Host host;
      Messages messages;
      host.on_message = [&](std::string_view m) { messages.pending.emplace_back(m); };
      Effect effect(host, file);
      auto render = [&](const std::string& file_name, int popup, A_long item) {
        Instance instance(effect, TimeBase::ForRate(FrameRate{}), input.width(), input.height());
        messages.Settle(file.pipl.display_name, "sequence setup", instance.setup_result());
        if (popup > 0) {
          ParamValue v;
          v.value = item;
          instance.SetValue(popup, v);
        }
        World in = input;
        World out(input.width(), input.height());
        messages.Settle(file.pipl.display_name, "render", instance.RenderFrame(0, in.pf(), out.pf()));
        const fs::path path = fs::path(o.out_dir) / file_name;
        WriteImage(path, out.pf());
        if (!common.quiet) std::cerr << "ombrix: wrote " << path.string() << "\n";
      };
      render(file.short_name + ".png", 0, 0);
      for (size_t i = 1; i < effect.params().size(); ++i) {
        const PF_ParamDef& def = effect.params()[i];
        if (def.param_type != PF_Param_POPUP) continue;
        const std::vector<std::string> items = effect.PopupItems(int(i));
        for (size_t k = 0; k < items.size(); ++k) {
          const A_long item = A_long(k + 1);
          if (items[k] == "(-" || item == def.u.pd.dephault) continue;
          render(file.short_name + "-" + std::to_string(item) + ".png", int(i), item);
        }
        break;
      }
    };
    const ChildOutcome outcome = RunInChild(work);
    if (outcome.kind != ChildOutcome::Kind::kOk) {
      ++failures;
      std::cerr << "ombrix: " << file.pipl.display_name << ": " << outcome.Describe() << "\n";
    }
  }
  return failures == 0 ? kExitOk : kExitFailed;
}

}  // namespace ombrix::cli
