// `ombrix render`: one effect over an input's frames.
//
// Everything the user typed, every input frame's header and every output
// path are checked before the first frame is rendered, so a mistake ends
// the run with nothing written. Each output file is written atomically, so
// a failed or interrupted run never leaves a partial file behind.
#include "effect_run.h"
#include "render_options.h"
#include "sha256.h"
#include "streams.h"
#include "studio/composite.h"

#include <ombrix/host/image_io.h>

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace ombrix::cli {
namespace {

struct Assignment {
  int index;
  std::optional<A_long> time;  // ticks; none: the value at every time
  ParamValue value;
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

// What the steps of a render hand each other, on top of the checked
// options. It is made in place and never moved: `sequences` points at
// `source` and into `layer_sources`.
struct RenderJob : CheckedOptions {
  std::string effect_name;
  ImageSource source;
  bool stream = false;                        // a raw stream: frame k is shown at frame k's time
  std::vector<ImageSource> layer_sources;     // reserved for every --layer
  std::vector<const ImageSource*> sequences;  // every image sequence the run reads
  std::vector<Assignment> assignments;
  std::vector<std::pair<int, LayerSource>> layers;
  // The frames to render, one output each, produced as the run goes.
  int64_t first = 0;
  bool open_end = false;  // a stream read to its end
  int64_t count = 1;      // -1 when open-ended
  A_long still_ticks = 0;
};

A_long TicksOf(const RenderJob& job, int64_t i) {
  return job.range ? job.tb.FrameToTicks(job.first + i) : job.still_ticks;
}

void OpenMainInput(const RenderOptions& o, RenderJob& job) {
  job.source = OpenInput(o.input);
  job.source.read = job.files.read;
  job.stream = job.source.kind == SourceKind::kRawStream;
  if (job.stream && o.time) throw UsageError("--time cannot pick a frame of a raw stream (use --frame N)");
  if (job.source.kind == SourceKind::kSequence) job.sequences.push_back(&job.source);
}

// Without --frames, the range follows from the input and the output.
void PlanRange(const RenderOptions& o, RenderJob& job) {
  std::optional<FrameRange>& range = job.range;
  const std::optional<int64_t>& frame = job.frame;
  if (!range) {
    if (job.stream && job.out.takes_range() && !frame) {
      range = FrameRange{0, kOpenEnd};
    } else if (job.stream) {
      range = FrameRange{frame.value_or(0), frame.value_or(0)};
    } else if (job.out.takes_range() && job.source.kind == SourceKind::kSequence) {
      range = FrameRange{job.source.frames.front(), job.source.frames.back()};
    } else if (job.out.takes_range() && frame) {
      range = FrameRange{*frame, *frame};
    } else if (job.out.kind == OutputSpec::Kind::kPattern) {
      throw UsageError(
          "an output pattern needs --frames FIRST-LAST (or an image sequence or raw stream as input; "
          "for one file of that name, write '" +
          EscapePath(o.output) + "', quoted in the shell)");
    }
  }
  if (range && (o.time || frame) && !(frame && range->first == *frame && range->last == *frame)) {
    throw UsageError("--time/--frame cannot be combined with a frame range");
  }
  if (range && range->last != kOpenEnd && range->last > int64_t(INT32_MAX) / job.tb.time_step) {
    OutOfTime("input sequence '" + job.source.text + "' (its last frame is " + std::to_string(range->last) + ")",
              job.tb);
  }
}

void PlanFrames(RenderJob& job) {
  job.first = job.range ? job.range->first : 0;
  job.open_end = job.range && job.range->last == kOpenEnd;
  job.count = job.open_end ? -1 : job.range ? job.range->last - job.range->first + 1 : 1;
  if (job.time_ticks)
    job.still_ticks = *job.time_ticks;
  else if (job.frame)
    job.still_ticks = job.tb.FrameToTicks(*job.frame);
}

HostOptions HostOptionsFor(const RenderOptions& o) {
  HostOptions options;
  options.threads = o.threads;
  options.registry_dir = o.registry;
  options.pad_rows = o.pad_rows;
  return options;
}

ParamValue ValueFor(const Effect& effect, int index, std::string_view text, const RenderJob& job) {
  return ParseParamValue(effect, index, text, job.source.width, job.source.height);
}

// -p NAME=VALUE: one value for every time.
void ReadValues(const RenderOptions& o, const Effect& effect, RenderJob& job) {
  for (const std::string& p : o.params) {
    const size_t eq = p.find('=');
    if (eq == std::string::npos || eq == 0) throw UsageError("bad -p '" + p + "' (expected NAME=VALUE)");
    const int index = ResolveParam(effect, p.substr(0, eq));
    job.assignments.push_back({index, std::nullopt, ValueFor(effect, index, std::string_view(p).substr(eq + 1), job)});
  }
}

// -k NAME@SECONDS=VALUE: keyframes, for parameters not given with -p.
void ReadKeys(const RenderOptions& o, const Effect& effect, RenderJob& job) {
  for (const std::string& k : o.keys) {
    const size_t eq = k.find('=');
    const size_t at = eq == std::string::npos ? std::string::npos : k.rfind('@', eq);
    if (eq == std::string::npos || at == std::string::npos || at == 0) {
      throw UsageError("bad -k '" + k + "' (expected NAME@SECONDS=VALUE)");
    }
    const std::string seconds_text = k.substr(at + 1, eq - at - 1);
    const std::optional<double> seconds = ParseDecimal(seconds_text);
    if (!seconds) throw UsageError("bad -k '" + k + "': '" + seconds_text + "' is not a time in seconds");
    const A_long key_ticks = SecondsToTicksChecked(*seconds, "-k '" + k + "'", job.tb);
    const int index = ResolveParam(effect, k.substr(0, at));
    const auto constant = [&](const Assignment& a) { return a.index == index && !a.time; };
    if (std::any_of(job.assignments.begin(), job.assignments.end(), constant)) {
      throw UsageError("parameter '" + ParamTitle(effect, index) +
                       "' is given with both -p and -k (-p sets one value for every time, -k keyframes)");
    }
    job.assignments.push_back({index, key_ticks, ValueFor(effect, index, std::string_view(k).substr(eq + 1), job)});
  }
}

// What the SOURCE of --layer `option` shows: the layer itself, nothing, or an image source.
LayerSource LayerFor(const std::string& option, const std::string& what, RenderJob& job) {
  if (what == "self") return LayerSource::Self();
  if (what == "none") return LayerSource::None();
  try {
    ImageSource& source = job.layer_sources.emplace_back(OpenSource(what));
    source.read = job.files.read;
    if (source.kind == SourceKind::kSequence) job.sequences.push_back(&source);
    return LayerSource::Image(source, job.rate);
  } catch (const HostError& e) {
    throw UsageError("bad --layer '" + option + "': " + e.what());
  }
}

// --layer NAME=SOURCE: what each layer parameter shows.
void ReadLayers(const RenderOptions& o, const Effect& effect, RenderJob& job) {
  job.layer_sources.reserve(o.layers.size());
  for (const std::string& l : o.layers) {
    const size_t eq = l.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == l.size()) {
      throw UsageError("bad --layer '" + l + "' (expected NAME=SOURCE)");
    }
    const int index = ResolveParam(effect, l.substr(0, eq));
    if (effect.params()[size_t(index)].param_type != PF_Param_LAYER) {
      throw UsageError("--layer '" + l.substr(0, eq) + "' is not a layer parameter of " + job.effect_name);
    }
    job.layers.emplace_back(index, LayerFor(l, l.substr(eq + 1), job));
  }
}

// Every frame the run reads is checked before anything is written, and no
// output may replace one of them.
void CheckReadsAndWrites(const RenderJob& job) {
  for (const ImageSource* sequence : job.sequences) {
    try {
      CheckSequenceFrames(*sequence);
    } catch (const HostError& e) {
      throw UsageError(std::string("bad input: ") + e.what());
    }
  }
  CheckOutputs(job.out, job.range, job.sequences);
}

std::optional<std::vector<uint8_t>> StoredSequenceData(const RenderOptions& o, const Effect& effect) {
  if (o.sequence_data.empty()) return std::nullopt;
  return ReadSequenceData(o.sequence_data, effect.global_out_flags() & PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING);
}

// Stored data that the effect could not take over whole at RESETUP (it said
// so with an error message: a drawing it could not read, settings it had to
// reset) is not saved back over the file it was read from, which would
// replace the user's data with what the effect made in its place.
void CheckSaveKeepsStoredData(const RenderOptions& o, const Instance& instance) {
  if (o.sequence_data.empty() || o.save_sequence_data.empty()) return;
  if (!(instance.setup_result().out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE)) return;
  std::error_code ec;
  if (!std::filesystem::equivalent(o.sequence_data, o.save_sequence_data, ec)) return;
  throw HostError("not saving --save-sequence-data over '" + o.save_sequence_data +
                  "': the effect could not take over the stored data whole; save it to another file");
}

// The sequence set up, the options dialog answered, the values and keys set
// and the layers bound.
void SetUpInstance(Instance& instance, const RenderOptions& o, const CommonOptions& common, RenderJob& job,
                   Messages& messages) {
  messages.Settle(job.effect_name, "sequence setup", instance.setup_result());
  CheckSaveKeepsStoredData(o, instance);
  if (!job.answers.empty()) {
    const CommandResult dialog = RunOptionsDialog(instance, job.effect_name, job.answers, common.quiet);
    messages.Settle(job.effect_name, "options dialog", dialog);
  }
  for (const Assignment& a : job.assignments) {
    if (a.time)
      instance.AddKey(a.index, *a.time, a.value);
    else
      instance.SetValue(a.index, a.value);
  }
  // The input at other times, for effects that read their own layer then
  // (a stream has only the frame being rendered).
  if (!job.stream) instance.BindLayer(0, LayerSource::Image(job.source, job.rate));
  for (auto& [index, layer] : job.layers) instance.BindLayer(index, std::move(layer));
}

// The input's frames as the render loop reads them.
struct InputFrames {
  std::optional<World> still;
  std::optional<RawFrameReader> reader;
  ImageInfo info;  // of the input file or frame: its metadata goes to the output
};

// A still input is read whole before the first frame, so that damage
// only decoding finds is a bad input too.
void OpenFrames(const RenderJob& job, A_long pad_rows, InputFrames& in) {
  if (job.stream) {
    in.reader.emplace(job.source);
    if (!in.reader->SkipTo(job.first)) StreamEnded(job.source, in.reader->frames_read(), job.first);
  } else if (job.source.kind != SourceKind::kSequence) {
    try {
      in.still = LoadSource(job.source, 0, job.tb.time_step, pad_rows, &in.info);
    } catch (const HostError& e) {
      throw UsageError(std::string("bad input: ") + e.what());
    }
  }
}

// The input of the run's frame `i`; none when an open-ended stream has ended.
std::optional<World> NextFrame(const RenderJob& job, A_long pad_rows, InputFrames& in, int64_t i) {
  if (!job.stream && job.source.kind == SourceKind::kSequence) {
    return LoadSource(job.source, TicksOf(job, i), job.tb.time_step, pad_rows, &in.info);
  }
  if (!job.stream) return *in.still;
  const int64_t frame = job.first + i;
  if (frame > int64_t(INT32_MAX) / job.tb.time_step) {
    OutOfTime("input stream '" + job.source.text + "' (frame " + std::to_string(frame) + ")", job.tb);
  }
  std::optional<World> next = in.reader->Next(pad_rows);
  if (!next && !job.open_end) StreamEnded(job.source, in.reader->frames_read(), frame);
  return next;
}

// Renders and writes every frame of the job; returns how many.
int64_t RenderFrames(const RenderOptions& o, const CommonOptions& common, RenderJob& job, Instance& instance,
                     Messages& messages, FrameSink& sink) {
  const bool progress = !common.quiet && (job.count > 1 || job.open_end) && ::isatty(STDERR_FILENO);
  InputFrames in;
  OpenFrames(job, o.pad_rows, in);
  NoteSource(job.source, common.quiet);
  for (const ImageSource& layer : job.layer_sources) NoteSource(layer, common.quiet);
  int64_t done = 0;
  for (; job.open_end || done < job.count; ++done) {
    std::optional<World> input = NextFrame(job, o.pad_rows, in, done);
    if (!input) break;
    const A_long ticks = TicksOf(job, done);
    World output(job.source.width, job.source.height, o.pad_rows);  // resized to the buffer size
    const CommandResult result = instance.RenderFrame(ticks, input->pf(), output, job.settings);
    messages.Settle(job.effect_name, ("render at " + TimeText(job.tb, ticks)).c_str(), result);
    job.files.write.metadata = in.info.metadata;
    sink.Write(job.first + done, output.pf(), job.files.write);
    if (!o.checksums.empty())
      RecordChecksum(o.checksums, job.first + done, FramePath(*job.out.pattern, job.first + done));
    if (progress) ShowProgress(done + 1, job.count);
  }
  if (progress && job.open_end) std::fputc('\n', stderr);
  if (done == 0) StreamEnded(job.source, in.reader->frames_read(), job.first);  // only an open stream can end at once
  return done;
}

// A project holds its effects, sources, values and frame rate; options that
// would set those again are refused rather than ignored.
void CheckProjectOptions(const RenderOptions& o) {
  const RenderOptions defaults;
  const std::pair<bool, const char*> given[] = {
      {!o.effect.empty(), "EFFECT"},
      {o.input != defaults.input, "-i"},
      {!o.params.empty(), "-p"},
      {!o.keys.empty(), "-k"},
      {!o.layers.empty(), "--layer"},
      {!o.dialog.empty(), "--dialog"},
      {!o.sequence_data.empty(), "--sequence-data"},
      {!o.save_sequence_data.empty(), "--save-sequence-data"},
      {o.time.has_value(), "--time"},
      {o.fps != defaults.fps, "--fps"},
      {o.time_scale.has_value(), "--time-scale"},
      {o.pixel_aspect != defaults.pixel_aspect, "--pixel-aspect"},
      {o.quality != defaults.quality, "--quality"},
      {o.pad_rows != defaults.pad_rows, "--pad-rows"},
      {o.host_tool != defaults.host_tool, "--host-tool"},
      {!o.checksums.empty(), "--checksums"},
  };
  for (const auto& [set, name] : given) {
    if (set) throw UsageError(std::string(name) + " cannot be given with --project (the project file holds it)");
  }
}

// The frames of the composition to render: --frames, --frame, every frame
// for an output that takes a range, else the first.
FrameRange ProjectFrames(const CheckedOptions& c, int64_t frames) {
  FrameRange range{0, 0};
  if (c.range && c.frame && !(c.range->first == *c.frame && c.range->last == *c.frame)) {
    throw UsageError("--frame cannot be combined with a frame range");
  }
  if (c.range)
    range = *c.range;
  else if (c.frame)
    range = {*c.frame, *c.frame};
  else if (c.out.takes_range())
    range = {0, frames - 1};
  if (range.last >= frames) {
    throw UsageError("frame " + std::to_string(range.last) + " is outside the composition (0.." +
                     std::to_string(frames - 1) + ")");
  }
  return range;
}

// `render --project`: the studio's composition frame by frame, each exactly
// what the studio shows at that frame.
int RunProjectRender(const CommonOptions& common, const RenderOptions& o) {
  CatchInterrupts();
  CheckProjectOptions(o);
  CheckedOptions c;
  CheckOptions(o, c);
  FrameSink sink(c.out);
  studio::Session session(common, o.project);
  const int64_t frames = session.State()["project"]["composition"]["frames"].get<int64_t>();
  const FrameRange range = ProjectFrames(c, frames);
  CheckOutputs(c.out, range, {});
  const int64_t count = range.last - range.first + 1;
  const bool progress = !common.quiet && count > 1 && ::isatty(STDERR_FILENO);
  for (int64_t frame = range.first; frame <= range.last; ++frame) {
    const std::optional<studio::Frame> image = session.Render(frame, o.downsample, nullptr);
    sink.Write(frame, studio::WorldOf(*image).pf(), c.files.write);
    if (progress) ShowProgress(frame - range.first + 1, count);
  }
  if (!common.quiet) sink.Report(range.first, count);
  return kExitOk;
}

}  // namespace

int RunRender(const CommonOptions& common, const RenderOptions& o, bool check_only) {
  if (!o.project.empty() && check_only) throw UsageError("--project renders only with `ombrix render`");
  if (!o.project.empty()) return RunProjectRender(common, o);
  if (o.effect.empty()) throw UsageError("render needs EFFECT (or --project FILE)");
  CatchInterrupts();
  RenderJob job;
  CheckOptions(o, job);
  // Standard output is taken over before any plug-in code runs.
  FrameSink sink(job.out);
  const PluginScan scan = ScanPlugins(common);
  const PluginFile& file = FindEffect(scan, o.effect);
  job.effect_name = file.pipl.display_name;
  OpenMainInput(o, job);
  PlanRange(o, job);

  Host host(HostOptionsFor(o));
  host.suites().SetCurrentTool(o.host_tool);
  Messages messages;
  messages.Listen(host);
  Effect effect(host, file);
  if (!job.answers.empty()) CheckDialogAnswers(job.effect_name, InspectOptionsDialog(effect), job.answers);
  ReadValues(o, effect, job);
  ReadKeys(o, effect, job);
  ReadLayers(o, effect, job);
  CheckReadsAndWrites(job);
  PlanFrames(job);

  Instance instance(effect, job.tb, job.source.width, job.source.height, StoredSequenceData(o, effect));
  SetUpInstance(instance, o, common, job, messages);
  if (check_only) return kExitOk;
  const int64_t done = RenderFrames(o, common, job, instance, messages, sink);
  if (!common.quiet) sink.Report(job.first, done);
  if (!o.save_sequence_data.empty()) WriteSequenceData(o.save_sequence_data, instance.SequenceDataBytes());
  return kExitOk;
}

}  // namespace ombrix::cli
