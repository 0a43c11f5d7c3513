#include "render_options.h"

#include <ombrix/platform/files.h>

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>

namespace ombrix::cli {
namespace {

namespace fs = std::filesystem;

// A frame number: digits only, and its first tick within the time range.
int64_t ParseFrameNumber(std::string_view s, const std::string& what, const TimeBase& tb) {
  const bool digits = !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
  if (!digits) throw UsageError("bad " + what + " (expected a frame number 0 or more)");
  int64_t v = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || ptr != s.data() + s.size() || v > int64_t(INT32_MAX) / tb.time_step) OutOfTime(what, tb);
  return v;
}

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

void CheckOutputFolder(const RenderOptions& o, const OutputSpec& out) {
  if (out.to_stdout()) return;
  const fs::path parent = fs::path(out.pattern ? FramePath(*out.pattern, 0) : out.path).parent_path();
  std::error_code ec;
  if (!parent.empty() && !fs::is_directory(parent, ec)) {
    throw UsageError("cannot write '" + o.output + "': the folder '" + parent.string() + "' does not exist");
  }
}

// --quality, --threads and --pad-rows.
void CheckRunLimits(const RenderOptions& o) {
  if (o.quality != "high" && o.quality != "low") {
    throw UsageError("bad --quality '" + o.quality + "' (expected high or low)");
  }
  if (o.threads < 0 || o.threads > 1024) throw UsageError("bad --threads " + std::to_string(o.threads) + " (0..1024)");
  if (o.pad_rows < 0 || o.pad_rows > 65536) {
    throw UsageError("bad --pad-rows " + std::to_string(o.pad_rows) + " (0..65536 bytes)");
  }
}

// --frames, --time and --frame.
void ReadWhen(const RenderOptions& o, CheckedOptions& c) {
  if (!o.frames.empty()) c.range = ParseFrames(o.frames, c.tb);
  if (c.range && !c.out.takes_range()) {
    throw UsageError("--frames needs an output pattern with #### or %04d, or -o rgba:- (one image goes to " +
                     std::string(c.out.to_stdout() ? "standard output as " + c.out.format : "a file") + ")");
  }
  if (o.time) {
    char text[64];
    std::snprintf(text, sizeof text, "--time '%g'", *o.time);
    c.time_ticks = SecondsToTicksChecked(*o.time, text, c.tb);
  }
  if (!o.frame.empty()) c.frame = ParseFrameNumber(o.frame, "--frame '" + o.frame + "'", c.tb);
}

}  // namespace

void ReadTimeBase(const RenderOptions& o, CheckedOptions& c) {
  try {
    c.rate = FrameRate::Parse(o.fps);
    if (c.rate.num <= 0 || c.rate.den <= 0) throw HostError("the rate must be positive");
    if (o.time_scale && (*o.time_scale <= 0 || *o.time_scale > 0x7FFFFFFF)) {
      throw HostError("bad --time-scale " + std::to_string(*o.time_scale));
    }
    c.tb = TimeBase::ForRate(c.rate, o.time_scale ? std::optional<A_u_long>(A_u_long(*o.time_scale)) : std::nullopt);
    if (c.tb.time_step <= 0)
      throw HostError("the time scale " + std::to_string(c.tb.time_scale) + " is too small for the rate");
  } catch (const HostError& e) {
    throw UsageError(std::string("bad --fps/--time-scale: ") + e.what());
  } catch (const std::exception& e) {
    throw UsageError("bad --fps '" + o.fps + "' (expected N or N/D)");
  }
}

RenderSettings ReadSettings(const RenderOptions& o) {
  RenderSettings settings;
  settings.quality = o.quality == "high" ? PF_Quality_HI : PF_Quality_LO;
  settings.downsample_x = settings.downsample_y = ParseRatio(o.downsample, "--downsample");
  if (settings.downsample_x.num > A_long(settings.downsample_x.den)) {
    throw UsageError("bad --downsample '" + o.downsample + "' (a reduction: N/D at most 1)");
  }
  settings.pixel_aspect = ParseRatio(o.pixel_aspect, "--pixel-aspect");
  return settings;
}

void OutOfTime(const std::string& what, const TimeBase& tb) {
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

void CheckOptions(const RenderOptions& o, CheckedOptions& c) {
  if (o.output.empty()) throw UsageError("render needs -o/--output");
  c.out = ParseOutput(o.output);
  c.files = ParseFileOptions(o, c.out);
  CheckOutputFolder(o, c.out);
  CheckStreamSources(o.input, o.layers);
  CheckRunLimits(o);
  ReadTimeBase(o, c);
  c.settings = ReadSettings(o);
  ReadWhen(o, c);
  if (!o.save_sequence_data.empty()) {
    const std::string problem = platform::ReplaceProblem(o.save_sequence_data);
    if (!problem.empty()) {
      throw UsageError("cannot write --save-sequence-data '" + o.save_sequence_data + "': " + problem);
    }
  }
  if (!o.checksums.empty() && c.out.kind != OutputSpec::Kind::kPattern) {
    throw UsageError("--checksums needs an output pattern (name.####.png)");
  }
  std::error_code ec;
  if (!o.checksums.empty() && !fs::is_directory(o.checksums, ec)) {
    throw UsageError("bad --checksums '" + o.checksums + "': no such folder");
  }
  c.answers = ParseDialogAnswers(o.dialog);
}

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

}  // namespace ombrix::cli
