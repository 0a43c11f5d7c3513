// The options of `ombrix render` that need no plug-in, read and checked
// before any plug-in code runs, and the check of every output file against
// the inputs before the first frame is rendered.
#pragma once

#include "commands.h"
#include "streams.h"

#include <ombrix/host/image_io.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombrix::cli {

// Times are 32-bit tick counts (the effect API's A_long). Every time the
// user gives, as seconds or as a frame, must fit; one message for all.
[[noreturn]] void OutOfTime(const std::string& what, const TimeBase& tb);
A_long SecondsToTicksChecked(double seconds, const std::string& what, const TimeBase& tb);

struct FrameRange {
  int64_t first, last;  // last: kOpenEnd for a stream read to its end
};
inline constexpr int64_t kOpenEnd = INT64_MAX;

// How the render reads EXR inputs and writes its outputs, from --exr-values,
// --out-depth and --compression, checked against the output's format.
struct FileOptions {
  ReadOptions read;
  WriteOptions write;
};

// What the options say, once each has been read and checked.
struct CheckedOptions {
  OutputSpec out;
  FileOptions files;
  FrameRate rate;
  TimeBase tb;
  RenderSettings settings;
  std::optional<FrameRange> range;   // --frames
  std::optional<A_long> time_ticks;  // --time
  std::optional<int64_t> frame;      // --frame
  std::vector<DialogAnswer> answers;
};
// Throws UsageError for the first option refused.
void CheckOptions(const RenderOptions& o, CheckedOptions& checked);
// Parts of CheckOptions: --fps and --time-scale into `checked.rate` and
// `checked.tb`; the render settings from --quality, --downsample and
// --pixel-aspect.
void ReadTimeBase(const RenderOptions& o, CheckedOptions& checked);
RenderSettings ReadSettings(const RenderOptions& o);

// Checks every file the render will write before the first frame: each
// must be replaceable (see platform::ReplaceProblem), and none may be a
// file some input sequence reads, which the run would overwrite before
// reading it again.
void CheckOutputs(const OutputSpec& output, const std::optional<FrameRange>& range,
                  const std::vector<const ImageSource*>& sequences);

}  // namespace ombrix::cli
