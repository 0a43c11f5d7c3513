// `ombrix render` and `ombrix demo`.
//
// Everything the user typed, every input frame's header and every output
// path are checked before the first frame is rendered, so a mistake ends
// the run with nothing written. Each output file is written atomically, so
// a failed or interrupted run never leaves a partial file behind.
#include "commands.h"
#include "streams.h"

#include <ombrix/host/image_io.h>
#include <ombrix/platform/files.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <set>

namespace ombrix::cli {
namespace {

namespace fs = std::filesystem;

// SIGINT and SIGTERM end the run at once: the temporary of a file being
// written is removed and the status is 128 + the signal (130, 143). Every
// file is replaced only when complete, so nothing half-written remains.
extern "C" void OnInterrupt(int sig) {
  platform::RemoveUnfinishedReplacements();
  RemoveStreamFilesNow();
  ::_exit(128 + sig);
}

void CatchInterrupts() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

// Times are 32-bit tick counts (the effect API's A_long). Every time the
// user gives, as seconds or as a frame, must fit; one message for all.
[[noreturn]] void OutOfTime(const std::string& what, const TimeBase& tb) {
  const int64_t last_frame = int64_t(INT32_MAX) / tb.time_step;
  char limit[128];
  std::snprintf(limit, sizeof limit, "times within +-%.6g s, frames 0..%lld at %u ticks per second",
                double(INT32_MAX) / double(tb.time_scale), static_cast<long long>(last_frame), tb.time_scale);
  throw UsageError("bad " + what + ": out of range (" + limit + ")");
}

A_long SecondsToTicksChecked(double seconds, const std::string& what, const TimeBase& tb) {
  const double ticks = std::floor(seconds * double(tb.time_scale) + 0.5);
  if (!std::isfinite(seconds) || !(ticks >= double(INT32_MIN) && ticks <= double(INT32_MAX))) OutOfTime(what, tb);
  return A_long(ticks);
}

// A frame number: digits only, and its first tick within the time range.
int64_t ParseFrameNumber(std::string_view s, const std::string& what, const TimeBase& tb) {
  const bool digits = !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
  if (!digits) throw UsageError("bad " + what + " (expected a frame number 0 or more)");
  int64_t v = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || ptr != s.data() + s.size() || v > int64_t(INT32_MAX) / tb.time_step) OutOfTime(what, tb);
  return v;
}

struct Assignment {
  int index;
  std::optional<A_long> time;  // ticks; none: the value at every time
  ParamValue value;
};

struct FrameRange {
  int64_t first, last;  // last: kOpenEnd for a stream read to its end
};
constexpr int64_t kOpenEnd = INT64_MAX;

FrameRange ParseFrames(std::string_view text, const TimeBase& tb) {
  const std::string what = "--frames '" + std::string(text) + "'";
  const size_t dash = text.find('-');
  int64_t a = 0, b = 0;
  if (dash == 0 || (dash != std::string_view::npos && text.find('-', dash + 1) != std::string_view::npos)) {
    throw UsageError("bad " + what + " (expected FIRST-LAST, 0 <= FIRST <= LAST)");
  }
  try {
    if (dash != std::string_view::npos) {
      a = ParseFrameNumber(text.substr(0, dash), what, tb);
      b = ParseFrameNumber(text.substr(dash + 1), what, tb);
    } else {
      a = b = ParseFrameNumber(text, what, tb);
    }
  } catch (const UsageError& e) {
    if (std::string_view(e.what()).find("out of range") != std::string_view::npos) throw;
    throw UsageError("bad " + what + " (expected FIRST-LAST, 0 <= FIRST <= LAST)");
  }
  if (a > b) throw UsageError("bad " + what + " (expected FIRST-LAST, 0 <= FIRST <= LAST)");
  return {a, b};
}

// Checks every file the render will write before the first frame: each
// must be replaceable (see platform::ReplaceProblem), and none may be a
// file some input sequence reads, which the run would overwrite before
// reading it again.
void CheckOutputs(const OutputSpec& output, const std::optional<FrameRange>& range,
                  const std::vector<const ImageSource*>& sequences) {
  if (output.to_stdout()) return;
  const std::optional<FramePattern>& pattern = output.pattern;
  std::set<std::pair<dev_t, ino_t>> inputs;
  for (const ImageSource* sequence : sequences) {
    for (int64_t f : sequence->frames) {
      struct stat st;
      if (::stat(FramePath(sequence->pattern, f).c_str(), &st) == 0) inputs.insert({st.st_dev, st.st_ino});
    }
  }
  auto check = [&](const std::string& path) {
    const std::string problem = platform::ReplaceProblem(path);
    if (!problem.empty()) throw UsageError("cannot write '" + path + "': " + problem);
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && inputs.count({st.st_dev, st.st_ino})) {
      throw UsageError("cannot write '" + path + "': it is a frame of an input sequence (write to other names)");
    }
  };
  if (!pattern) return check(output.path);
  // The folder, and the longest name, once; then every existing file in the range.
  check(FramePath(*pattern, range->first));
  if (range->last != kOpenEnd) check(FramePath(*pattern, range->last));
  for (int64_t f : DiscoverFrames(*pattern, false)) {
    if (f >= range->first && f <= range->last) check(FramePath(*pattern, f));
  }
}

// Routes each command's return_msg: collected while a command runs, then
// printed (result 0) or folded into the failure line (non-zero result).
struct Messages {
  std::vector<std::string> pending;

  void Take(const CommandResult& result) {
    const std::string message = FromWindows1252(result.message);
    if (!message.empty() && (pending.empty() || pending.back() != message)) {
      pending.push_back(message);
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

// `total` < 0: a stream of unknown length, counted only.
void ShowProgress(int64_t done, int64_t total) {
  if (total < 0) {
    std::fprintf(stderr, "\r%lld frames", static_cast<long long>(done));
    std::fflush(stderr);
    return;
  }
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
  const std::string_view den_text =
      slash == std::string::npos ? std::string_view("1") : std::string_view(text).substr(slash + 1);
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

// A raw stream that ended before a frame the run needs (or held none).
[[noreturn]] void StreamEnded(const ImageSource& source, int64_t frames_read, int64_t wanted) {
  if (frames_read == 0) throw UsageError("the stream '" + source.text + "' holds no frames");
  throw UsageError("the stream '" + source.text + "' ended after " + std::to_string(frames_read) + " frame" +
                   (frames_read == 1 ? "" : "s") + " (0.." + std::to_string(frames_read - 1) + "), before frame " +
                   std::to_string(wanted));
}

std::string TimeText(const TimeBase& tb, A_long ticks) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6g s", double(ticks) / double(tb.time_scale));
  return buf;
}

// How the render reads EXR inputs and writes its outputs, from --exr-values,
// --out-depth and --compression, checked against the output's format.
struct FileOptions {
  ReadOptions read;
  WriteOptions write;
};

FileOptions ParseFileOptions(const RenderOptions& o, const OutputSpec& out) {
  FileOptions files;
  if (out.kind == OutputSpec::Kind::kStdoutRaw && (!o.out_depth.empty() || !o.compression.empty())) {
    throw UsageError("--out-depth and --compression do not apply to '" + o.output +
                     "' (raw frames are 8-bit RGBA, uncompressed)");
  }
  if (out.kind == OutputSpec::Kind::kStdoutRaw) return files;
  // The format decides what is allowed; an image on standard output is named by its format.
  const std::string target = out.kind == OutputSpec::Kind::kStdoutImage ? "standard output." + out.format : o.output;
  if (o.exr_values == "raw")
    files.read.exr_values = ExrValues::kRaw;
  else if (o.exr_values != "linear")
    throw UsageError("bad --exr-values '" + o.exr_values + "' (expected linear or raw)");
  files.write.exr_values = files.read.exr_values;
  static const std::pair<const char*, SampleDepth> kDepths[] = {
      {"8", SampleDepth::k8}, {"16", SampleDepth::k16}, {"half", SampleDepth::kHalf}, {"float", SampleDepth::kFloat}};
  if (!o.out_depth.empty()) {
    auto it =
        std::find_if(std::begin(kDepths), std::end(kDepths), [&](const auto& d) { return o.out_depth == d.first; });
    if (it == std::end(kDepths))
      throw UsageError("bad --out-depth '" + o.out_depth + "' (expected 8, 16, half or float)");
    files.write.depth = it->second;
  }
  files.write.compression = o.compression;
  if (const std::string problem = DepthProblem(target, files.write.depth); !problem.empty()) {
    throw UsageError("bad --out-depth '" + o.out_depth + "' for '" + o.output + "': " + problem);
  }
  if (const std::string problem = CompressionProblem(target, o.compression); !problem.empty()) {
    throw UsageError("bad --compression '" + o.compression + "' for '" + o.output + "': " + problem);
  }
  return files;
}

// Notes on stderr what the effects will not see of a source's file: samples
// deeper than their 8 bits, and pages or parts after the first.
void NoteSource(const ImageSource& source, bool quiet) {
  if (quiet) return;
  const std::optional<ImageInfo> info = SourceInfo(source);
  if (!info) return;
  static const std::pair<const char*, const char*> kSamples[] = {{"uint16", "16-bit"},
                                                                 {"half", "16-bit float"},
                                                                 {"float", "32-bit float"},
                                                                 {"double", "64-bit float"},
                                                                 {"uint", "32-bit"}};
  if (info->sample_type != "uint8") {
    std::string depth = info->sample_type;
    for (const auto& [type, words] : kSamples) {
      if (depth == type) depth = words;
    }
    std::cerr << "ombrix: note: '" << source.text << "' has " << depth
              << " samples; effects work on 8 bits per channel, so they are reduced\n";
  }
  if (info->subimages > 1) {
    std::cerr << "ombrix: note: '" << source.text << "' has " << info->subimages
              << (info->format == "openexr" ? " parts" : " pages") << "; the first is used\n";
  }
}

}  // namespace

int RunRender(const CommonOptions& common, const RenderOptions& o) {
  CatchInterrupts();
  // Options that need no plug-in.
  if (o.output.empty()) throw UsageError("render needs -o/--output");
  const OutputSpec out = ParseOutput(o.output);
  FileOptions files = ParseFileOptions(o, out);
  if (!out.to_stdout()) {
    const fs::path parent = fs::path(out.pattern ? FramePath(*out.pattern, 0) : out.path).parent_path();
    std::error_code ec;
    if (!parent.empty() && !fs::is_directory(parent, ec)) {
      throw UsageError("cannot write '" + o.output + "': the folder '" + parent.string() + "' does not exist");
    }
  }
  CheckStreamSources(o.input, o.layers);
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
    tb = TimeBase::ForRate(rate, o.time_scale ? std::optional<A_u_long>(A_u_long(*o.time_scale)) : std::nullopt);
    if (tb.time_step <= 0)
      throw HostError("the time scale " + std::to_string(tb.time_scale) + " is too small for the rate");
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
  if (!o.frames.empty()) range = ParseFrames(o.frames, tb);
  if (range && !out.takes_range()) {
    throw UsageError("--frames needs an output pattern with #### or %04d, or -o rgba:- (one image goes to " +
                     std::string(out.to_stdout() ? "standard output as " + out.format : "a file") + ")");
  }
  std::optional<A_long> time_ticks;
  if (o.time) {
    char text[64];
    std::snprintf(text, sizeof text, "--time '%g'", *o.time);
    time_ticks = SecondsToTicksChecked(*o.time, text, tb);
  }
  std::optional<int64_t> frame;
  if (!o.frame.empty()) frame = ParseFrameNumber(o.frame, "--frame '" + o.frame + "'", tb);
  if (!o.save_sequence_data.empty()) {
    const std::string problem = platform::ReplaceProblem(o.save_sequence_data);
    if (!problem.empty()) {
      throw UsageError("cannot write --save-sequence-data '" + o.save_sequence_data + "': " + problem);
    }
  }

  const std::vector<DialogAnswer> answers = ParseDialogAnswers(o.dialog);

  // Standard output is taken over before any plug-in code runs.
  FrameSink sink(out);

  // The effect, its input and every parameter value.
  PluginScan scan = ScanPlugins(common);
  const PluginFile* file = &FindEffect(scan, o.effect);
  ImageSource source;
  try {
    source = OpenSource(o.input);
    source.read = files.read;
  } catch (const HostError& e) {
    throw UsageError(std::string("bad input: ") + e.what());
  }
  // A raw stream's frames are counted from 0: frame k is shown at frame k's time.
  const bool stream = source.kind == SourceKind::kRawStream;
  if (stream && o.time) throw UsageError("--time cannot pick a frame of a raw stream (use --frame N)");
  if (!range) {
    if (stream && out.takes_range() && !frame) {
      range = FrameRange{0, kOpenEnd};
    } else if (stream) {
      range = FrameRange{frame.value_or(0), frame.value_or(0)};
    } else if (out.takes_range() && source.kind == SourceKind::kSequence) {
      range = FrameRange{source.frames.front(), source.frames.back()};
    } else if (out.takes_range() && frame) {
      range = FrameRange{*frame, *frame};
    } else if (out.kind == OutputSpec::Kind::kPattern) {
      throw UsageError(
          "an output pattern needs --frames FIRST-LAST (or an image sequence or raw stream as input; "
          "for one file of that name, write '" +
          EscapePath(o.output) + "', quoted in the shell)");
    }
  }
  if (range && (o.time || frame) && !(frame && range->first == *frame && range->last == *frame)) {
    throw UsageError("--time/--frame cannot be combined with a frame range");
  }
  if (range && range->last != kOpenEnd && range->last > int64_t(INT32_MAX) / tb.time_step) {
    OutOfTime("input sequence '" + source.text + "' (its last frame is " + std::to_string(range->last) + ")", tb);
  }
  // Every frame the run reads is checked before anything is written, and no
  // output may replace one of them.
  std::vector<const ImageSource*> sequences;
  if (source.kind == SourceKind::kSequence) sequences.push_back(&source);
  std::vector<ImageSource> layer_sources;
  layer_sources.reserve(o.layers.size());

  HostOptions host_options;
  host_options.threads = o.threads;
  host_options.registry_dir = o.registry;
  host_options.pad_rows = o.pad_rows;
  Host host(host_options);
  host.suites().SetCurrentTool(o.host_tool);
  Messages messages;
  host.on_message = [&](std::string_view m) { messages.pending.push_back(FromWindows1252(m)); };
  Effect effect(host, *file);
  const std::string name = file->pipl.display_name;
  if (!answers.empty()) CheckDialogAnswers(name, InspectOptionsDialog(effect), answers);

  std::vector<Assignment> assignments;
  std::set<int> constant;  // parameters given with -p
  for (const std::string& p : o.params) {
    const size_t eq = p.find('=');
    if (eq == std::string::npos || eq == 0) throw UsageError("bad -p '" + p + "' (expected NAME=VALUE)");
    const int index = ResolveParam(effect, p.substr(0, eq));
    constant.insert(index);
    assignments.push_back(
        {index, std::nullopt,
         ParseParamValue(effect, index, std::string_view(p).substr(eq + 1), source.width, source.height)});
  }
  for (const std::string& k : o.keys) {
    const size_t eq = k.find('=');
    const size_t at = eq == std::string::npos ? std::string::npos : k.rfind('@', eq);
    if (eq == std::string::npos || at == std::string::npos || at == 0) {
      throw UsageError("bad -k '" + k + "' (expected NAME@SECONDS=VALUE)");
    }
    const std::string seconds_text = k.substr(at + 1, eq - at - 1);
    const std::optional<double> seconds = ParseDecimal(seconds_text);
    if (!seconds) throw UsageError("bad -k '" + k + "': '" + seconds_text + "' is not a time in seconds");
    const A_long key_ticks = SecondsToTicksChecked(*seconds, "-k '" + k + "'", tb);
    const int index = ResolveParam(effect, k.substr(0, at));
    if (constant.count(index)) {
      throw UsageError("parameter '" + ParamTitle(effect, index) +
                       "' is given with both -p and -k (-p sets one value for every time, -k keyframes)");
    }
    assignments.push_back(
        {index, key_ticks,
         ParseParamValue(effect, index, std::string_view(k).substr(eq + 1), source.width, source.height)});
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
        layer_sources.push_back(OpenSource(what));
        layer_sources.back().read = files.read;
        if (layer_sources.back().kind == SourceKind::kSequence) sequences.push_back(&layer_sources.back());
        layers.emplace_back(index, LayerSource::Image(layer_sources.back(), rate));
      } catch (const HostError& e) {
        throw UsageError("bad --layer '" + l + "': " + e.what());
      }
    }
  }

  for (const ImageSource* sequence : sequences) {
    try {
      CheckSequenceFrames(*sequence);
    } catch (const HostError& e) {
      throw UsageError(std::string("bad input: ") + e.what());
    }
  }
  CheckOutputs(out, range, sequences);

  // The frames to render, one output each, produced as the run goes.
  const int64_t first = range ? range->first : 0;
  const bool open_end = range && range->last == kOpenEnd;
  const int64_t count = open_end ? -1 : range ? range->last - range->first + 1 : 1;
  A_long still_ticks = 0;
  if (time_ticks)
    still_ticks = *time_ticks;
  else if (frame)
    still_ticks = tb.FrameToTicks(*frame);
  auto ticks_of = [&](int64_t i) { return range ? tb.FrameToTicks(first + i) : still_ticks; };

  // Render.
  std::optional<std::vector<uint8_t>> stored;
  if (!o.sequence_data.empty())
    stored = ReadSequenceData(o.sequence_data, effect.global_out_flags() & PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING);
  Instance instance(effect, tb, source.width, source.height, std::move(stored));
  messages.Settle(name, "sequence setup", instance.setup_result());
  if (!answers.empty()) {
    const CommandResult dialog = RunOptionsDialog(instance, name, answers, common.quiet);
    messages.Settle(name, "options dialog", dialog);
  }
  for (const Assignment& a : assignments) {
    if (a.time)
      instance.AddKey(a.index, *a.time, a.value);
    else
      instance.SetValue(a.index, a.value);
  }
  // The input at other times, for effects that read their own layer then
  // (a stream has only the frame being rendered).
  if (!stream) instance.BindLayer(0, LayerSource::Image(source, rate));
  for (auto& [index, layer] : layers) instance.BindLayer(index, std::move(layer));
  const bool progress = !common.quiet && (count > 1 || open_end) && ::isatty(STDERR_FILENO);
  // A still input is read whole before the first frame, so that damage
  // only decoding finds is a bad input too.
  std::optional<World> still;
  std::optional<RawFrameReader> reader;
  ImageInfo info;  // of the input file or frame: its metadata goes to the output
  if (stream) {
    reader.emplace(source);
    if (!reader->SkipTo(first)) StreamEnded(source, reader->frames_read(), first);
  } else if (source.kind != SourceKind::kSequence) {
    try {
      still = LoadSource(source, 0, tb.time_step, o.pad_rows, &info);
    } catch (const HostError& e) {
      throw UsageError(std::string("bad input: ") + e.what());
    }
  }
  NoteSource(source, common.quiet);
  for (const ImageSource& layer : layer_sources) NoteSource(layer, common.quiet);
  int64_t done = 0;
  for (; open_end || done < count; ++done) {
    World input;
    if (stream) {
      if (first + done > int64_t(INT32_MAX) / tb.time_step) {
        OutOfTime("input stream '" + source.text + "' (frame " + std::to_string(first + done) + ")", tb);
      }
      std::optional<World> next = reader->Next(o.pad_rows);
      if (!next && open_end) break;
      if (!next) StreamEnded(source, reader->frames_read(), first + done);
      input = std::move(*next);
    } else if (source.kind == SourceKind::kSequence) {
      input = LoadSource(source, ticks_of(done), tb.time_step, o.pad_rows, &info);
    } else {
      input = *still;
    }
    const A_long ticks = ticks_of(done);
    World output(source.width, source.height, o.pad_rows);  // resized to the buffer size
    const CommandResult result = instance.RenderFrame(ticks, input.pf(), output, settings);
    messages.Settle(name, ("render at " + TimeText(tb, ticks)).c_str(), result);
    files.write.metadata = info.metadata;
    sink.Write(first + done, output.pf(), files.write);
    if (progress) ShowProgress(done + 1, count);
  }
  if (progress && open_end) std::fputc('\n', stderr);
  if (done == 0) StreamEnded(source, reader->frames_read(), first);  // only an open stream can end at once
  if (!common.quiet) sink.Report(first, done);
  if (!o.save_sequence_data.empty()) WriteSequenceData(o.save_sequence_data, instance.SequenceDataBytes());
  return kExitOk;
}

int RunDemo(const CommonOptions& common, const DemoOptions& o) {
  CatchInterrupts();
  CheckStreamSources(o.input, {});
  ImageSource source;
  try {
    source = OpenSource(o.input);
  } catch (const HostError& e) {
    throw UsageError(std::string("bad input: ") + e.what());
  }
  if (source.kind == SourceKind::kRawStream) throw UsageError("demo takes an image, not a raw stream: -i " + o.input);
  const PluginScan scan = ScanAndTryPlugins(common);
  // A file that cannot be used costs its own effect; the others still render.
  int failures = int(scan.refused.size());
  for (const auto& refused : scan.refused) std::cerr << "ombrix: " << refused.second << "\n";
  if (scan.plugins.empty()) throw HostError("no effects found to render");
  std::error_code ec;
  fs::create_directories(o.out_dir, ec);
  if (ec) throw HostError("cannot create '" + o.out_dir + "': " + ec.message());

  WriteOptions write;  // the input's metadata goes to every image
  ImageInfo info;
  const World input = LoadSource(source, 0, 100, 0, &info);
  write.metadata = info.metadata;
  NoteSource(source, common.quiet);
  WriteImage(fs::path(o.out_dir) / "input.png", input.pf(), write);
  // Each effect with its defaults (<name>.png), then once per selectable item
  // of its first popup, which is its type or mode (<name>-<item>.png). Each
  // effect renders in a child process of its own, so a crash costs only it.
  for (const PluginFile& file : scan.plugins) {
    auto work = [&] {
      Host host;
      Messages messages;
      host.on_message = [&](std::string_view m) { messages.pending.push_back(FromWindows1252(m)); };
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
        WriteImage(path, out.pf(), write);
        if (!common.quiet) std::cout << "ombrix: wrote " << path.string() << std::endl;
      };
      render(file.short_name + ".png", 0, 0);
      for (size_t i = 1; i < effect.params().size(); ++i) {
        const PF_ParamDef& def = effect.params()[i];
        if (def.param_type != PF_Param_POPUP) continue;
        const std::vector<std::string> items = effect.PopupItems(int(i));
        for (size_t k = 0; k < items.size(); ++k) {
          const A_long item = A_long(k + 1);
          if (IsDisabledItem(items[k]) || item == def.u.pd.dephault) continue;
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
