// The checks made before an image file is decoded: what the file declares
// (its size, the layout of its chunks, strips or markers) must fit the file
// itself, so that a damaged or hostile file is refused before anything is
// allocated for it.
#include "internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace ombrix::image_io {

namespace fs = std::filesystem;
using OIIO::ImageInput;
using OIIO::ImageSpec;

[[noreturn]] void Refuse(const fs::path& path, const std::string& why) {
  throw HostError("cannot read " + Quoted(path) + ": " + why);
}

void CheckSize(const fs::path& path, int64_t width, int64_t height) {
  if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide ||
      width * height > kMaxImagePixels) {
    Refuse(path, "unsupported image size " + std::to_string(width) + "x" + std::to_string(height) + " (at most " +
                     std::to_string(kMaxImageSide) + " on a side and " + std::to_string(kMaxImagePixels) + " pixels)");
  }
}

namespace {

// An input file opened by us: a regular file (links followed), never a
// folder, FIFO or device, which could block or never end.
class InputFile {
 public:
  explicit InputFile(const fs::path& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
      const int err = errno;
      Refuse(path, err == ENOENT ? std::string("no such file") : std::strerror(err));
    }
    struct stat st;
    const char* why = nullptr;
    if (::fstat(fd_, &st) != 0)
      why = std::strerror(errno);
    else if (S_ISDIR(st.st_mode))
      why = "it is a directory";
    else if (!S_ISREG(st.st_mode))
      why = "it is not a regular file";
    else if (st.st_size == 0)
      why = "the file is empty";
    if (why) {
      ::close(fd_);  // the destructor does not run for a throwing constructor
      Refuse(path, why);
    }
    size_ = uint64_t(st.st_size);
  }
  ~InputFile() { ::close(fd_); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  uint64_t size() const { return size_; }
  // Up to `n` bytes at `offset`; fewer at the end of the file.
  size_t Read(void* buf, size_t n, uint64_t offset) const {
    size_t got = 0;
    while (got < n && offset + got < size_) {
      const ssize_t r = ::pread(fd_, static_cast<char*>(buf) + got, n - got, off_t(offset + got));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) Refuse(path_, std::strerror(errno));
      if (r == 0) break;
      got += size_t(r);
    }
    return got;
  }
  // Exactly `n` bytes at `offset`, or the file is cut short.
  void ReadExact(void* buf, size_t n, uint64_t offset) const {
    if (offset > size_ || n > size_ - offset || Read(buf, n, offset) != n) CutShort();
  }
  [[noreturn]] void CutShort() const { Refuse(path_, "the file is cut short or damaged"); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
  int fd_ = -1;
  uint64_t size_ = 0;
};

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t Be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

// zlib's deflate expands by at most about 1032:1, so a PNG's image data,
// once inflated, cannot exceed 1032 times its compressed size. Each chunk
// must lie inside the file and IEND must be there.
void CheckPng(const InputFile& f) {
  uint64_t pos = 8, compressed = 0;
  int64_t width = 0, height = 0;
  int depth = 0, channels = 0;
  bool header = false;
  while (true) {
    uint8_t head[8];
    f.ReadExact(head, 8, pos);
    const uint64_t length = Be32(head);
    const uint32_t type = Be32(head + 4);
    if (length > 0x7FFFFFFFu || pos + 12 + length > f.size()) f.CutShort();
    if (!header) {
      if (type != 0x49484452u || length != 13) f.CutShort();  // IHDR first
      uint8_t ihdr[13];
      f.ReadExact(ihdr, 13, pos + 8);
      width = Be32(ihdr);
      height = Be32(ihdr + 4);
      depth = ihdr[8];
      static constexpr int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
      channels = ihdr[9] < 7 ? kChannels[ihdr[9]] : 0;
      if (channels == 0 || depth == 0) f.CutShort();
      CheckSize(f.path(), width, height);
      header = true;
    }
    if (type == 0x49444154u) compressed += length;  // IDAT
    pos += 12 + length;
    if (type == 0x49454E44u) break;  // IEND
  }
  const uint64_t row = (uint64_t(width) * uint64_t(channels) * uint64_t(depth) + 7) / 8 + 1;
  if (row * uint64_t(height) > 1032 * compressed + 1032) {
    Refuse(f.path(), "declares " + std::to_string(width) + "x" + std::to_string(height) + " pixels but holds only " +
                         std::to_string(compressed) + " bytes of compressed image data");
  }
}

// The first image of a TIFF: every strip or tile lies inside the file, and
// uncompressed data (which cannot be smaller than the pixels) fits it.
void CheckTiff(const InputFile& f) {
  uint8_t head[8];
  f.ReadExact(head, 8, 0);
  const bool little = head[0] == 'I';
  auto u16 = [&](const uint8_t* p) { return little ? uint16_t(p[0] | p[1] << 8) : Be16(p); };
  auto u32 = [&](const uint8_t* p) {
    return little ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24 : Be32(p);
  };
  if (u16(head + 2) != 42) return;  // BigTIFF: left to the library
  const uint64_t ifd = u32(head + 4);
  uint8_t count_bytes[2];
  f.ReadExact(count_bytes, 2, ifd);
  const uint32_t entries = u16(count_bytes);
  std::vector<uint8_t> dir(size_t(entries) * 12);
  f.ReadExact(dir.data(), dir.size(), ifd + 2);

  struct Field {
    uint32_t type = 0, count = 0;
    const uint8_t* inline_value = nullptr;
    uint32_t offset = 0;
  };
  std::map<uint16_t, Field> fields;
  for (uint32_t e = 0; e < entries; ++e) {
    const uint8_t* p = &dir[size_t(e) * 12];
    fields[u16(p)] = Field{u16(p + 2), u32(p + 4), p + 8, u32(p + 8)};
  }
  // The values of a SHORT or LONG field.
  auto values = [&](uint16_t tag) {
    std::vector<uint64_t> out;
    auto it = fields.find(tag);
    if (it == fields.end()) return out;
    const Field& fld = it->second;
    const size_t unit = fld.type == 3 ? 2 : fld.type == 4 ? 4 : 0;
    if (unit == 0 || fld.count == 0) f.CutShort();
    if (uint64_t(fld.count) * unit > f.size()) f.CutShort();
    std::vector<uint8_t> raw(size_t(fld.count) * unit);
    if (raw.size() <= 4)
      std::memcpy(raw.data(), fld.inline_value, raw.size());
    else
      f.ReadExact(raw.data(), raw.size(), fld.offset);
    for (size_t k = 0; k < fld.count; ++k) out.push_back(unit == 2 ? u16(&raw[k * 2]) : u32(&raw[k * 4]));
    return out;
  };
  auto one = [&](uint16_t tag, uint64_t fallback) {
    const std::vector<uint64_t> v = values(tag);
    return v.empty() ? fallback : v[0];
  };
  const int64_t width = int64_t(one(256, 0)), height = int64_t(one(257, 0));
  CheckSize(f.path(), width, height);
  const uint64_t compression = one(259, 1);
  const uint64_t samples = one(277, 1);
  const std::vector<uint64_t> bits = values(258);
  uint64_t bits_per_pixel = 0;
  for (uint64_t k = 0; k < samples; ++k) {
    bits_per_pixel += bits.empty() ? 1 : bits[std::min<size_t>(k, bits.size() - 1)];
  }

  const bool tiled = fields.count(324) != 0;
  const std::vector<uint64_t> offsets = values(tiled ? 324 : 273);
  const std::vector<uint64_t> counts = values(tiled ? 325 : 279);
  if (offsets.empty()) f.CutShort();
  for (size_t k = 0; k < offsets.size(); ++k) {
    if (k < counts.size() && (offsets[k] > f.size() || counts[k] > f.size() - offsets[k])) f.CutShort();
  }
  // (YCbCr may be subsampled, so its uncompressed data can be smaller.)
  const bool ycbcr = one(262, 0) == 6;
  const uint64_t pixel_bytes = (uint64_t(width) * bits_per_pixel + 7) / 8 * uint64_t(height);
  if (compression == 1 && !tiled && !ycbcr && pixel_bytes > f.size()) {
    Refuse(f.path(), "declares " + std::to_string(width) + "x" + std::to_string(height) +
                         " uncompressed pixels, more than the file's " + std::to_string(f.size()) + " bytes");
  }
}

// A JPEG's marker segments up to the scan lie inside the file, and the
// end-of-image marker follows the scan (a cut file has none; the library
// would only warn and fill the rest with grey).
void CheckJpeg(const InputFile& f) {
  uint64_t pos = 2, fill = 0;
  while (true) {
    uint8_t m[4];
    f.ReadExact(m, 2, pos);
    if (m[0] != 0xFF) f.CutShort();
    if (m[1] == 0xFF) {  // fill byte; a long run of them is no image
      if (++fill > 4096) f.CutShort();
      ++pos;
      continue;
    }
    fill = 0;
    if (m[1] == 0x01 || (m[1] >= 0xD0 && m[1] <= 0xD7)) {
      pos += 2;
      continue;
    }
    if (m[1] == 0xD9) f.CutShort();  // the image ended before any scan
    f.ReadExact(m + 2, 2, pos + 2);
    const uint64_t length = Be16(m + 2);
    if (length < 2) f.CutShort();
    const bool frame = m[1] >= 0xC0 && m[1] <= 0xCF && m[1] != 0xC4 && m[1] != 0xC8 && m[1] != 0xCC;
    if (frame) {
      uint8_t sof[5];
      f.ReadExact(sof, 5, pos + 4);
      CheckSize(f.path(), Be16(sof + 3), Be16(sof + 1));
    }
    pos += 2 + length;
    if (pos > f.size()) f.CutShort();
    if (m[1] == 0xDA) break;  // start of scan: entropy-coded data follows
  }
  // Inside the scan data 0xFF is always followed by 0x00 or a restart
  // marker, so FF D9 can only be the end of the image. Usually it is in
  // the last bytes; otherwise the whole scan is searched.
  std::vector<uint8_t> buf(64 * 1024);
  auto has_end = [&](uint64_t from) {
    for (uint64_t at = from; at < f.size(); at += buf.size() - 1) {
      const size_t n = f.Read(buf.data(), buf.size(), at);
      for (size_t k = 0; k + 1 < n; ++k) {
        if (buf[k] == 0xFF && buf[k + 1] == 0xD9) return true;
      }
      if (n < buf.size()) break;
    }
    return false;
  };
  const uint64_t tail = f.size() > buf.size() ? std::max(pos, f.size() - buf.size()) : pos;
  if (!has_end(tail) && (tail == pos || !has_end(pos))) f.CutShort();
}

// The first header of an OpenEXR file lies inside the file and holds the
// attributes every reader needs (channels, compression, data window);
// without them the library may size its buffers from garbage.
void CheckExr(const InputFile& f) {
  uint64_t pos = 8;
  bool channels = false, compression = false, data_window = false;
  for (int count = 0;; ++count) {
    char text[64];
    auto read_name = [&](std::string& out) {
      out.clear();
      while (true) {
        f.ReadExact(text, 1, pos++);
        if (text[0] == '\0') return;
        if (out.size() >= 255) f.CutShort();
        out += text[0];
      }
    };
    std::string name, type;
    read_name(name);
    if (name.empty()) break;  // the end of the header
    read_name(type);
    uint8_t size_bytes[4];
    f.ReadExact(size_bytes, 4, pos);
    const uint64_t size = uint64_t(size_bytes[0]) | uint64_t(size_bytes[1]) << 8 | uint64_t(size_bytes[2]) << 16 |
                          uint64_t(size_bytes[3]) << 24;
    pos += 4;
    if (size > f.size() - std::min(pos, f.size()) || count > 10000) f.CutShort();
    pos += size;
    channels = channels || (name == "channels" && type == "chlist");
    compression = compression || (name == "compression" && type == "compression");
    data_window = data_window || (name == "dataWindow" && type == "box2i");
  }
  if (!channels || !compression || !data_window) f.CutShort();
}

// Checks what the file declares against the file itself before anything
// is decoded or allocated, for the formats whose damage the libraries
// report late, only as a warning, or not at all.
void CheckStructure(const InputFile& f) {
  uint8_t magic[8] = {};
  const size_t n = f.Read(magic, sizeof magic, 0);
  static constexpr uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (n == 8 && std::memcmp(magic, kPng, 8) == 0) return CheckPng(f);
  if (n >= 4 && ((magic[0] == 'I' && magic[1] == 'I' && magic[2] == 42 && magic[3] == 0) ||
                 (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && magic[3] == 42))) {
    return CheckTiff(f);
  }
  if (n >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF) return CheckJpeg(f);
  if (n == 8 && magic[0] == 0x76 && magic[1] == 0x2F && magic[2] == 0x31 && magic[3] == 0x01) return CheckExr(f);
}

}  // namespace

QuietStderr::QuietStderr() {
  std::lock_guard lock(mutex_);
  if (depth_++ > 0) return;
  std::fflush(stderr);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  saved_ = null >= 0 ? ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0) : -1;
  if (saved_ >= 0 && ::dup2(null, STDERR_FILENO) < 0) {
    ::close(saved_);
    saved_ = -1;
  }
  if (null >= 0) ::close(null);
}

QuietStderr::~QuietStderr() {
  std::lock_guard lock(mutex_);
  if (--depth_ > 0 || saved_ < 0) return;
  std::fflush(stderr);
  ::dup2(saved_, STDERR_FILENO);
  ::close(saved_);
  saved_ = -1;
}

// Opens an image for reading after the checks above. OpenImageIO keeps
// messages about damage it works around (a JPEG's premature end, a TIFF
// strip that could not be read) even when the call succeeds; any message
// counts as a failure.
std::unique_ptr<ImageInput> OpenInput(const fs::path& path) {
  {
    const InputFile file(path);
    CheckStructure(file);
  }
  ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  std::unique_ptr<ImageInput> in;
  {
    const QuietStderr quiet;
    in = ImageInput::open(path.string(), &config);
  }
  if (!in) Refuse(path, OneLine(OIIO::geterror()));
  const std::string warning = in->geterror();
  if (!warning.empty()) Refuse(path, OneLine(warning));
  CheckSize(path, in->spec().width, in->spec().height);
  return in;
}

}  // namespace ombrix::image_io
