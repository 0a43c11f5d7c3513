// Standard input and output, and raw RGBA streams (see streams.h).
//
// An image file on standard input is copied to a temporary file and read
// from there like any other file, so every check ReadImage makes applies;
// an image for standard output is written by WriteImage into a temporary
// file, with every write checked, then copied out. The temporary files are
// removed when the program ends, also on SIGINT and SIGTERM.
#include "streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>

namespace ombrix::cli {
namespace {

// ---------------------------------------------------------------------------
// Temporary files, removable from a signal handler
// ---------------------------------------------------------------------------
struct TempSlot {
  std::atomic<bool> used{false};
  pid_t owner = 0;  // a forked child must not remove its parent's files
  char path[4096] = "";
  char shown_as[32] = "";  // the name messages use instead of the path; "" keeps the path
};
TempSlot g_slots[4];

// A new file `$TMPDIR/ombrix-NAME-XXXXXX.EXT` (else under /tmp), readable
// by the user only, removed when the object goes or the program is
// interrupted.
class TempFile {
 public:
  TempFile(const char* name, const std::string& ext, const char* shown_as) {
    const char* env = std::getenv("TMPDIR");
    folder_ = env && *env ? env : "/tmp";
    const std::string path = folder_ + "/ombrix-" + name + "-XXXXXX" + ext;
    for (TempSlot& s : g_slots) {
      bool expected = false;
      if (s.used.compare_exchange_strong(expected, true)) {
        slot_ = &s;
        break;
      }
    }
    if (!slot_) throw HostError("too many temporary files");
    if (path.size() >= sizeof slot_->path) {
      Release();
      throw HostError("the temporary folder's name '" + folder_ + "' is too long");
    }
    // Named in the slot itself, so that a signal arriving now finds the file.
    std::snprintf(slot_->shown_as, sizeof slot_->shown_as, "%s", shown_as);
    slot_->owner = ::getpid();
    std::memcpy(slot_->path, path.c_str(), path.size() + 1);
    fd_ = ::mkostemps(slot_->path, int(ext.size()), O_CLOEXEC);
    if (fd_ < 0) {
      const int err = errno;
      Release();
      throw HostError("cannot make a temporary file in '" + folder_ + "': " + std::strerror(err));
    }
    path_ = slot_->path;
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (slot_ && slot_->owner == ::getpid() && !path_.empty()) ::unlink(path_.c_str());
    Release();
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int fd() const { return fd_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  const std::string& path() const { return path_; }
  const std::string& folder() const { return folder_; }

 private:
  void Release() {
    if (!slot_) return;
    slot_->path[0] = '\0';
    slot_->used.store(false);
    slot_ = nullptr;
  }
  std::string folder_, path_;
  int fd_ = -1;
  TempSlot* slot_ = nullptr;
};

// Copies of standard input live as long as the program: layers read them
// again while it renders.
std::vector<std::unique_ptr<TempFile>>& Spooled() {
  static std::vector<std::unique_ptr<TempFile>> files;
  return files;
}

// Up to `n` bytes; fewer only at end of input. -1 with errno on failure.
ssize_t ReadFull(int fd, uint8_t* buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::read(fd, buf + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    got += size_t(r);
  }
  return ssize_t(got);
}

// All `n` bytes, or false with errno set.
bool WriteFull(int fd, const uint8_t* buf, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, buf, n);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return false;
    buf += w;
    n -= size_t(w);
  }
  return true;
}

// The extension of an image file from its first bytes, or "".
std::string FormatOf(const uint8_t* b, size_t n) {
  auto starts = [&](std::initializer_list<uint8_t> magic) {
    return n >= magic.size() && std::equal(magic.begin(), magic.end(), b);
  };
  if (starts({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'})) return ".png";
  if (starts({0xFF, 0xD8, 0xFF})) return ".jpg";
  if (starts({'I', 'I', '*', 0}) || starts({'M', 'M', 0, '*'}) || starts({'I', 'I', '+', 0}) ||
      starts({'M', 'M', 0, '+'}))
    return ".tif";
  if (starts({0x76, 0x2F, 0x31, 0x01})) return ".exr";
  return "";
}

bool IsStdin(std::string_view text) { return text == "-"; }
bool IsRaw(std::string_view text) { return text.substr(0, 5) == "rgba:" || text == "rgba"; }
bool IsRawStdin(std::string_view text) {
  return IsRaw(text) && text.size() >= 2 && text.substr(text.size() - 2) == ":-";
}

ImageSource SpoolStdin() {
  if (::isatty(STDIN_FILENO)) {
    throw UsageError("-i -: standard input is a terminal (pipe or redirect an image file into ombrix)");
  }
  uint8_t head[16];
  const ssize_t got = ReadFull(STDIN_FILENO, head, sizeof head);
  if (got < 0) throw UsageError(std::string("cannot read standard input: ") + std::strerror(errno));
  if (got == 0) throw UsageError("standard input is empty (expected a PNG, JPEG, TIFF or EXR file)");
  const std::string ext = FormatOf(head, size_t(got));
  if (ext.empty()) throw UsageError("standard input is not a PNG, JPEG, TIFF or EXR file");

  auto file = std::make_unique<TempFile>("stdin", ext, "standard input");
  const std::string where = "cannot keep standard input in the temporary folder '" + file->folder() + "': ";
  if (!WriteFull(file->fd(), head, size_t(got))) throw HostError(where + std::strerror(errno));
  int64_t total = got;
  std::vector<uint8_t> buf(size_t(1) << 20);
  for (;;) {
    const ssize_t n = ReadFull(STDIN_FILENO, buf.data(), buf.size());
    if (n < 0) throw UsageError(std::string("cannot read standard input: ") + std::strerror(errno));
    if (n == 0) break;
    total += n;
    if (total > kMaxStdinBytes) {
      throw UsageError("standard input holds more than " + std::to_string(kMaxStdinBytes >> 30) +
                       " GiB, more than an image file read from it may have");
    }
    if (!WriteFull(file->fd(), buf.data(), size_t(n))) throw HostError(where + std::strerror(errno));
  }
  if (::close(file->fd()) != 0) {
    const int err = errno;
    file->Close();
    throw HostError(where + std::strerror(err));
  }
  file->Close();
  const std::string path = file->path();
  Spooled().push_back(std::move(file));
  ImageSource source = ParseSource(EscapePath(path));
  source.text = "-";
  return source;
}

std::string SizeText(A_long w, A_long h) { return std::to_string(w) + "x" + std::to_string(h); }

}  // namespace

// ---------------------------------------------------------------------------
// Outputs
// ---------------------------------------------------------------------------
OutputSpec ParseOutput(const std::string& text) {
  const std::string forms = "-o png:-, exr:-, tif:- or jpg:- for one image, -o rgba:- for raw RGBA frames";
  OutputSpec spec;
  spec.text = text;
  if (text == "-") throw UsageError("-o -: name what standard output gets: " + forms);
  const size_t colon = text.find(':');
  if (colon != std::string::npos && text.substr(colon) == ":-") {
    const std::string format = text.substr(0, colon);
    if (format == "rgba") {
      spec.kind = OutputSpec::Kind::kStdoutRaw;
      return spec;
    }
    if (IsWritableImagePath("x." + format) && format.find_first_of("./") == std::string::npos) {
      spec.kind = OutputSpec::Kind::kStdoutImage;
      spec.format = format;
      return spec;
    }
    throw UsageError("cannot write '" + text + "': unknown format '" + format + "' (" + forms + ")");
  }
  if (IsRaw(text)) {
    throw UsageError("cannot write '" + text + "': raw RGBA frames go to standard output only (-o rgba:-)");
  }
  if (!IsWritableImagePath(text)) {
    throw UsageError("cannot write '" + text + "': unknown image format (use png, exr, tif, tiff, jpg or jpeg, or " +
                     forms + ")");
  }
  try {
    spec.pattern = ParseFramePattern(text);
  } catch (const HostError& e) {
    throw UsageError(e.what());
  }
  if (spec.pattern) {
    spec.kind = OutputSpec::Kind::kPattern;
  } else {
    spec.kind = OutputSpec::Kind::kFile;
    spec.path = LiteralPath(text);
  }
  return spec;
}

// ---------------------------------------------------------------------------
// Sources
// ---------------------------------------------------------------------------
void CheckStreamSources(const std::string& input, const std::vector<std::string>& layers) {
  std::vector<std::string> readers;
  if (IsStdin(input) || IsRawStdin(input)) readers.push_back("-i " + input);
  for (const std::string& l : layers) {
    const size_t eq = l.find('=');
    if (eq == std::string::npos) continue;
    const std::string_view what = std::string_view(l).substr(eq + 1);
    if (IsRaw(what)) {
      throw UsageError("bad --layer '" + l + "': raw RGBA streams are read by -i only (a layer may be read at any " +
                       "time, a stream only in order)");
    }
    if (IsStdin(what)) readers.push_back("--layer " + l);
  }
  if (readers.size() > 1) {
    throw UsageError("only one source can read standard input, not both " + readers[0] + " and " + readers[1]);
  }
}

ImageSource OpenSource(const std::string& text) {
  if (IsStdin(text)) return SpoolStdin();
  return ParseSource(text);
}

RawFrameReader::RawFrameReader(const ImageSource& source) : source_(source) {
  if (source.path == "-") {
    if (::isatty(STDIN_FILENO)) {
      throw UsageError("-i " + source.text + ": standard input is a terminal (pipe raw RGBA frames into ombrix)");
    }
    fd_ = STDIN_FILENO;
  } else {
    fd_ = ::open(source.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw UsageError("cannot read '" + source.path.string() + "': " + std::strerror(errno));
    owns_fd_ = true;
  }
  bytes_.resize(size_t(source.width) * size_t(source.height) * 4);
}

RawFrameReader::~RawFrameReader() {
  if (owns_fd_) ::close(fd_);
}

bool RawFrameReader::ReadFrame() {
  const ssize_t got = ReadFull(fd_, bytes_.data(), bytes_.size());
  if (got < 0) throw UsageError("cannot read the stream '" + source_.text + "': " + std::strerror(errno));
  if (got == 0) return false;
  if (size_t(got) < bytes_.size()) {
    throw UsageError("the stream '" + source_.text + "' ends inside frame " + std::to_string(frames_read_) + ": " +
                     std::to_string(got) + " of its " + std::to_string(bytes_.size()) + " bytes (" +
                     SizeText(source_.width, source_.height) + " x 4)");
  }
  ++frames_read_;
  return true;
}

bool RawFrameReader::SkipTo(int64_t frame) {
  while (frames_read_ < frame) {
    if (!ReadFrame()) return false;
  }
  return true;
}

std::optional<World> RawFrameReader::Next(A_long pad_bytes) {
  if (!ReadFrame()) return std::nullopt;
  World world(source_.width, source_.height, pad_bytes);
  const uint8_t* p = bytes_.data();
  for (A_long y = 0; y < source_.height; ++y) {
    PF_Pixel* row = world.Row(y);
    for (A_long x = 0; x < source_.width; ++x, p += 4) {
      row[x].red = p[0];
      row[x].green = p[1];
      row[x].blue = p[2];
      row[x].alpha = p[3];
    }
  }
  return world;
}

// ---------------------------------------------------------------------------
// Sinks
// ---------------------------------------------------------------------------
FrameSink::FrameSink(const OutputSpec& spec) : spec_(spec) {
  if (!spec.to_stdout()) return;
  if (::isatty(STDOUT_FILENO)) {
    throw UsageError("-o " + spec.text + ": standard output is a terminal (redirect it to a file or a pipe)");
  }
  std::cout.flush();
  std::fflush(stdout);
  out_fd_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (out_fd_ < 0) throw HostError(std::string("cannot use standard output: ") + std::strerror(errno));
  ::dup2(STDERR_FILENO, STDOUT_FILENO);
  ::signal(SIGPIPE, SIG_IGN);
}

FrameSink::~FrameSink() {
  if (out_fd_ < 0) return;
  std::cout.flush();
  std::fflush(stdout);
  ::dup2(out_fd_, STDOUT_FILENO);
  ::close(out_fd_);
}

void FrameSink::Write(int64_t frame, const PF_EffectWorld& world, const WriteOptions& options) {
  const auto out_failed = [] {
    return HostError(std::string("cannot write to standard output: ") + std::strerror(errno));
  };
  switch (spec_.kind) {
    case OutputSpec::Kind::kFile:
      WriteImage(spec_.path, world, options);
      return;
    case OutputSpec::Kind::kPattern:
      WriteImage(FramePath(*spec_.pattern, frame), world, options);
      return;
    case OutputSpec::Kind::kStdoutImage: {
      TempFile file("out", "." + spec_.format, "");
      file.Close();
      WriteImage(file.path(), world, options);
      const int fd = ::open(file.path().c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) {
        throw HostError("cannot read back the image for standard output: " + std::string(std::strerror(errno)));
      }
      std::vector<uint8_t> buf(size_t(1) << 20);
      for (;;) {
        const ssize_t n = ReadFull(fd, buf.data(), buf.size());
        if (n < 0) {
          const int err = errno;
          ::close(fd);
          throw HostError("cannot read back the image for standard output: " + std::string(std::strerror(err)));
        }
        if (n == 0) break;
        if (!WriteFull(out_fd_, buf.data(), size_t(n))) {
          const HostError e = out_failed();
          ::close(fd);
          throw e;
        }
      }
      ::close(fd);
      raw_width_ = world.width;
      raw_height_ = world.height;
      return;
    }
    case OutputSpec::Kind::kStdoutRaw: {
      if (raw_frames_ == 0) {
        raw_width_ = world.width;
        raw_height_ = world.height;
      } else if (world.width != raw_width_ || world.height != raw_height_) {
        throw HostError("frame " + std::to_string(frame) + " is " + SizeText(world.width, world.height) +
                        ", but the frames before it on standard output are " + SizeText(raw_width_, raw_height_) +
                        " (raw RGBA frames must all have one size)");
      }
      std::vector<uint8_t> row(size_t(world.width) * 4);
      for (A_long y = 0; y < world.height; ++y) {
        const uint8_t* line = reinterpret_cast<const uint8_t*>(world.data) + size_t(y) * world.rowbytes;
        const PF_Pixel* px = reinterpret_cast<const PF_Pixel*>(line);
        for (A_long x = 0; x < world.width; ++x) {
          row[size_t(x) * 4 + 0] = px[x].red;
          row[size_t(x) * 4 + 1] = px[x].green;
          row[size_t(x) * 4 + 2] = px[x].blue;
          row[size_t(x) * 4 + 3] = px[x].alpha;
        }
        if (!WriteFull(out_fd_, row.data(), row.size())) throw out_failed();
      }
      ++raw_frames_;
      return;
    }
  }
}

void FrameSink::Report(int64_t first, int64_t count) const {
  std::string line = "ombrix: wrote ";
  switch (spec_.kind) {
    case OutputSpec::Kind::kFile:
      line += spec_.path;
      break;
    case OutputSpec::Kind::kPattern:
      if (count == 1)
        line += FramePath(*spec_.pattern, first);
      else
        line += std::to_string(count) + " frames, " + FramePath(*spec_.pattern, first) + " .. " +
                FramePath(*spec_.pattern, first + count - 1);
      break;
    case OutputSpec::Kind::kStdoutImage:
      line += "a " + SizeText(raw_width_, raw_height_) + " " + spec_.format + " image to standard output";
      break;
    case OutputSpec::Kind::kStdoutRaw:
      line += std::to_string(count) + " raw RGBA frame" + (count == 1 ? "" : "s") + " of " +
              SizeText(raw_width_, raw_height_) + " to standard output";
      break;
  }
  (spec_.to_stdout() ? std::cerr : std::cout) << line << std::endl;
}

// ---------------------------------------------------------------------------
std::string NameStreams(std::string message) {
  for (const TempSlot& s : g_slots) {
    if (!s.used.load() || !s.path[0] || !s.shown_as[0]) continue;
    const std::string path = s.path;
    for (const std::string& form : {"'" + path + "'", path}) {
      for (size_t at; (at = message.find(form)) != std::string::npos;) message.replace(at, form.size(), s.shown_as);
    }
  }
  return message;
}

void RemoveStreamFilesNow() noexcept {
  const pid_t self = ::getpid();
  for (TempSlot& s : g_slots) {
    if (s.used.load() && s.owner == self && s.path[0]) ::unlink(s.path);
  }
}

}  // namespace ombrix::cli
