// Standard input and output for `ombrix render` and `demo`: an image file
// piped in (-i -), raw RGBA frames read from a pipe or file
// (-i rgba:WxH:PATH), and images or raw frames written to a pipe
// (-o png:-, -o rgba:-), so that ombrix can sit inside an ffmpeg pipeline.
#pragma once

#include "commands.h"

#include <ombrix/host/image_io.h>

#include <optional>
#include <string>
#include <vector>

namespace ombrix::cli {

// What -o names.
struct OutputSpec {
  enum class Kind { kFile, kPattern, kStdoutImage, kStdoutRaw };
  Kind kind = Kind::kFile;
  std::string text;                     // as typed
  std::string path;                     // kFile: the file, escapes resolved
  std::optional<FramePattern> pattern;  // kPattern
  std::string format;                   // kStdoutImage: the extension, "png", "exr", ...

  bool to_stdout() const { return kind == Kind::kStdoutImage || kind == Kind::kStdoutRaw; }
  bool takes_range() const { return kind == Kind::kPattern || kind == Kind::kStdoutRaw; }
};
// Throws UsageError for "-" alone, an unknown FORMAT:-, a format that cannot
// be written or a malformed pattern.
OutputSpec ParseOutput(const std::string& text);

// Refuses, before anything is read, more than one source reading standard
// input and raw streams anywhere but --input. `layers` are the NAME=SOURCE
// texts of --layer.
void CheckStreamSources(const std::string& input, const std::vector<std::string>& layers);

// A source as -i or --layer names it. "-" is an image file piped in: it is
// copied (at most kMaxStdinBytes) into a temporary file with the extension
// of its format, which is read like any image file and removed at exit,
// SIGINT and SIGTERM included. Other texts go to ParseSource. Throws
// UsageError for a bad source.
inline constexpr int64_t kMaxStdinBytes = int64_t(2) << 30;
ImageSource OpenSource(const std::string& text);

// The frames of a raw stream (SourceKind::kRawStream), in order: straight
// RGBA bytes, width x height x 4 per frame.
class RawFrameReader {
 public:
  // Opens the file or FIFO (a FIFO waits for its writer); standard input
  // that is a terminal is refused.
  explicit RawFrameReader(const ImageSource& source);
  ~RawFrameReader();
  RawFrameReader(const RawFrameReader&) = delete;
  RawFrameReader& operator=(const RawFrameReader&) = delete;

  // The next frame, or nothing when the input ends at a frame boundary.
  // A frame cut short is a UsageError naming the frame and the bytes.
  std::optional<World> Next(A_long pad_bytes);
  // Reads and drops frames until `frame` is next; false when the input ends first.
  bool SkipTo(int64_t frame);
  int64_t frames_read() const { return frames_read_; }

 private:
  bool ReadFrame();  // into bytes_; false at end of input
  const ImageSource& source_;
  int fd_ = -1;
  bool owns_fd_ = false;
  std::vector<uint8_t> bytes_;
  int64_t frames_read_ = 0;
};

// Where rendered frames go: image files, one image on standard output, or
// raw RGBA frames on standard output. For standard output the descriptor
// is taken over when the sink is made: ordinary writes to stdout (any
// library's) go to stderr from then on, SIGPIPE is ignored, and a failed
// write (a closed pipe) ends the run with one line and status 1.
class FrameSink {
 public:
  explicit FrameSink(const OutputSpec& spec);
  ~FrameSink();
  FrameSink(const FrameSink&) = delete;
  FrameSink& operator=(const FrameSink&) = delete;

  void Write(int64_t frame, const PF_EffectWorld& world, const WriteOptions& options = {});
  // "ombrix: wrote ..." for `count` frames from `first`, on stdout, or on
  // stderr when stdout carries the frames.
  void Report(int64_t first, int64_t count) const;

 private:
  const OutputSpec& spec_;
  int out_fd_ = -1;  // the real standard output, when it carries the frames
  A_long raw_width_ = 0, raw_height_ = 0;
  int64_t raw_frames_ = 0;
};

// Messages name the temporary copy of standard input as "standard input".
std::string NameStreams(std::string message);

// Removes the temporary files made here; async-signal-safe, for the signal
// handlers that end the process.
void RemoveStreamFilesNow() noexcept;

}  // namespace ombrix::cli
