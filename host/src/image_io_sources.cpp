// Image sources: frame-number patterns, raw streams and solid colours (solid
// images and the test card are drawn in image_io_testcard.cpp; files are
// read through the image library).
#include <ombrix/host/image_io.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace ombrix {
namespace {

namespace fs = std::filesystem;

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A decimal integer made only of digits, within [0, max]; nothing otherwise.
std::optional<int64_t> ParseCount(std::string_view s, int64_t max) {
  if (!AllDigits(s) || s.size() > 12) return std::nullopt;
  int64_t v = 0;
  std::from_chars(s.data(), s.data() + s.size(), v);
  if (v > max) return std::nullopt;
  return v;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

// ---------------------------------------------------------------------------
// Parsing of sizes and colours
// ---------------------------------------------------------------------------
ImageSize ParseSize(std::string_view text) {
  const size_t x = text.find('x');
  std::optional<int64_t> w, h;
  if (x != std::string_view::npos) {
    w = ParseCount(text.substr(0, x), kMaxImageSide);
    h = ParseCount(text.substr(x + 1), kMaxImageSide);
  }
  if (!w || !h || *w < 1 || *h < 1 || *w * *h > kMaxImagePixels) {
    throw HostError("bad size '" + std::string(text) + "' (expected WIDTHxHEIGHT, each 1.." +
                    std::to_string(kMaxImageSide) + ", at most " + std::to_string(kMaxImagePixels) + " pixels)");
  }
  return {A_long(*w), A_long(*h)};
}

PF_Pixel ParseColor(std::string_view text) {
  auto bad = [&]() -> HostError {
    return HostError("bad colour '" + std::string(text) +
                     "' (expected #RRGGBB, #RRGGBBAA or R,G,B[,A] with values 0..255)");
  };
  uint8_t v[4] = {0, 0, 0, 255};
  if (!text.empty() && text[0] == '#') {
    const std::string_view hex = text.substr(1);
    if (hex.size() != 6 && hex.size() != 8) throw bad();
    for (size_t i = 0; i < hex.size(); i += 2) {
      const int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
      if (hi < 0 || lo < 0) throw bad();
      v[i / 2] = uint8_t(hi * 16 + lo);
    }
  } else {
    size_t n = 0, start = 0;
    while (true) {
      const size_t comma = text.find(',', start);
      const std::string_view part = text.substr(start, comma == std::string_view::npos ? text.npos : comma - start);
      const auto value = ParseCount(part, 255);
      if (!value || n == 4) throw bad();
      v[n++] = uint8_t(*value);
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
    if (n < 3) throw bad();
  }
  PF_Pixel p;
  p.red = v[0];
  p.green = v[1];
  p.blue = v[2];
  p.alpha = v[3];
  return p;
}

// ---------------------------------------------------------------------------
// Frame patterns
// ---------------------------------------------------------------------------
namespace {

// One placeholder or escape at path[i], or nothing for an ordinary character.
struct Token {
  enum class Kind { kPlain, kEscape, kFrame } kind = Kind::kPlain;
  size_t length = 1;  // bytes of the path it takes
  char literal = 0;   // kEscape: the character it stands for
  int digits = 0;     // kFrame: the zero-padding width (0: none)
};

Token TokenAt(std::string_view path, size_t i) {
  Token t;
  const char c = path[i];
  const char next = i + 1 < path.size() ? path[i + 1] : '\0';
  if (c == '\\' && (next == '#' || next == '\\')) {
    t.kind = Token::Kind::kEscape;
    t.length = 2;
    t.literal = next;
  } else if (c == '%' && next == '%') {
    t.kind = Token::Kind::kEscape;
    t.length = 2;
    t.literal = '%';
  } else if (c == '#') {
    size_t j = i;
    while (j < path.size() && path[j] == '#') ++j;
    t.kind = Token::Kind::kFrame;
    t.length = j - i;
    t.digits = int(std::min<size_t>(j - i, size_t(kMaxFrameDigits) + 1));
  } else if (c == '%') {
    // %d, %Nd or %0Nd: the digits give the width, leading zeros aside.
    size_t j = i + 1;
    int64_t width = 0;
    while (j < path.size() && path[j] >= '0' && path[j] <= '9') {
      width = std::min<int64_t>(width * 10 + (path[j] - '0'), int64_t(kMaxFrameDigits) + 1);
      ++j;
    }
    if (j < path.size() && path[j] == 'd') {
      t.kind = Token::Kind::kFrame;
      t.length = j + 1 - i;
      t.digits = int(width);
    }
  }
  return t;
}

}  // namespace

std::optional<FramePattern> ParseFramePattern(std::string_view path) {
  std::optional<FramePattern> found;
  std::string text;  // the path read so far, escapes resolved
  for (size_t i = 0; i < path.size();) {
    const Token t = TokenAt(path, i);
    if (t.kind == Token::Kind::kFrame) {
      const std::string placeholder(path.substr(i, t.length));
      if (found) throw HostError("'" + std::string(path) + "' has more than one frame-number placeholder");
      if (t.digits > kMaxFrameDigits) {
        throw HostError("'" + std::string(path) + "': the frame-number placeholder '" + placeholder +
                        "' is wider than " + std::to_string(kMaxFrameDigits) + " digits");
      }
      if (path.find('/', i) != std::string_view::npos) {
        throw HostError("'" + std::string(path) + "': the frame number must be in the file name, not a folder");
      }
      found = FramePattern{text, "", t.digits};
      text.clear();
    } else if (t.kind == Token::Kind::kEscape) {
      text += t.literal;
    } else {
      text += path[i];
    }
    i += t.length;
  }
  if (found) found->suffix = text;
  return found;
}

std::string LiteralPath(std::string_view path) {
  std::string text;
  for (size_t i = 0; i < path.size();) {
    const Token t = TokenAt(path, i);
    if (t.kind == Token::Kind::kEscape)
      text += t.literal;
    else
      text.append(path.substr(i, t.length));
    i += t.length;
  }
  return text;
}

std::string EscapePath(std::string_view path) {
  std::string text;
  for (const char c : path) {
    if (c == '\\' || c == '#') text += '\\';
    if (c == '%') text += '%';
    text += c;
  }
  return text;
}

std::string FramePath(const FramePattern& pattern, int64_t frame) {
  std::string digits = std::to_string(frame < 0 ? -frame : frame);
  const size_t width = size_t(std::max(pattern.digits - (frame < 0 ? 1 : 0), 0));
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return pattern.prefix + (frame < 0 ? "-" : "") + digits + pattern.suffix;
}

namespace {

// The folder a pattern's frames are in, and the file-name text before the number.
std::pair<fs::path, std::string> PatternFolder(const FramePattern& pattern) {
  const size_t slash = pattern.prefix.rfind('/');
  if (slash == std::string::npos) return {fs::path("."), pattern.prefix};
  return {fs::path(slash == 0 ? std::string("/") : pattern.prefix.substr(0, slash)), pattern.prefix.substr(slash + 1)};
}

}  // namespace

std::vector<int64_t> DiscoverFrames(const FramePattern& pattern, bool regular_only) {
  const auto [dir, head] = PatternFolder(pattern);
  std::vector<int64_t> frames;
  std::error_code ec;
  fs::directory_iterator it(dir, ec), end;
  if (ec) return frames;
  for (; it != end; it.increment(ec)) {
    if (ec) break;
    const std::string name = it->path().filename().string();
    if (name.size() <= head.size() + pattern.suffix.size()) continue;
    if (name.compare(0, head.size(), head) != 0) continue;
    if (name.compare(name.size() - pattern.suffix.size(), pattern.suffix.size(), pattern.suffix) != 0) continue;
    const std::string_view number(name.data() + head.size(), name.size() - head.size() - pattern.suffix.size());
    if (!AllDigits(number)) continue;
    // Zero padding to exactly `digits`; longer numbers only without leading zeros.
    const size_t want = size_t(std::max(pattern.digits, 1));
    if (number.size() < want) continue;
    if (number.size() > want && number[0] == '0') continue;
    const size_t first = std::min(number.find_first_not_of('0'), number.size() - 1);
    const std::string_view value = number.substr(first);
    if (value.size() > 12) continue;
    int64_t f = 0;
    std::from_chars(value.data(), value.data() + value.size(), f);
    std::error_code fec;
    if (regular_only && !fs::is_regular_file(it->path(), fec)) continue;
    frames.push_back(f);
  }
  std::sort(frames.begin(), frames.end());
  frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
  return frames;
}

// ---------------------------------------------------------------------------
// Sources
// ---------------------------------------------------------------------------
namespace {

// Why a sequence has no frames: its folder cannot be read, or nothing
// matches. When the text, read as a plain name, is a file, the message
// says how to write it so that it is read as one.
std::string NoFramesMessage(const std::string& text, const FramePattern& pattern) {
  const fs::path dir = PatternFolder(pattern).first;
  const std::string head = "no frames found for the sequence '" + text + "'";
  DIR* d = ::opendir(dir.c_str());
  if (!d) return head + ": cannot read the folder '" + dir.string() + "': " + std::strerror(errno);
  ::closedir(d);
  std::error_code ec;
  if (fs::is_regular_file(fs::path(text), ec)) {
    return head + " ('" + text + "' is a file: to read it as one image, write '" + EscapePath(text) +
           "', quoted in the shell)";
  }
  return head;
}

}  // namespace

ImageSource ParseSource(std::string_view text) {
  ImageSource s;
  s.text = std::string(text);
  if (text.empty()) throw HostError("empty input source");
  auto starts = [&](std::string_view word) {
    return text.substr(0, word.size()) == word && (text.size() == word.size() || text[word.size()] == ':');
  };
  if (starts("testcard")) {
    s.kind = SourceKind::kTestCard;
    if (text.size() > 8) {
      const ImageSize size = ParseSize(text.substr(9));
      s.width = size.width;
      s.height = size.height;
    }
    return s;
  }
  if (starts("solid")) {
    s.kind = SourceKind::kSolid;
    if (text.size() <= 5) throw HostError("bad source 'solid': expected solid:WIDTHxHEIGHT[:#RRGGBBAA]");
    std::string_view rest = text.substr(6);
    const size_t colon = rest.find(':');
    const ImageSize size = ParseSize(rest.substr(0, colon));
    s.width = size.width;
    s.height = size.height;
    if (colon != std::string_view::npos) s.color = ParseColor(rest.substr(colon + 1));
    return s;
  }
  if (starts("rgba")) {
    // rgba:WIDTHxHEIGHT:PATH, PATH "-" for standard input.
    s.kind = SourceKind::kRawStream;
    const size_t colon = text.find(':', 5);
    if (text.size() <= 5 || colon == std::string_view::npos || colon + 1 == text.size()) {
      throw HostError("bad source '" + s.text + "': expected rgba:WIDTHxHEIGHT:PATH (PATH - for standard input)");
    }
    const ImageSize size = ParseSize(text.substr(5, colon - 5));
    s.width = size.width;
    s.height = size.height;
    s.path = fs::path(std::string(text.substr(colon + 1)));
    if (s.path != "-") {
      struct stat st;
      if (::stat(s.path.c_str(), &st) != 0) {
        throw HostError("cannot read '" + s.path.string() + "': " + std::strerror(errno));
      }
      if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode)) {
        throw HostError("cannot read '" + s.path.string() +
                        "': " + (S_ISDIR(st.st_mode) ? "it is a directory" : "it is neither a file nor a FIFO"));
      }
    }
    return s;
  }
  if (auto pattern = ParseFramePattern(text)) {
    s.kind = SourceKind::kSequence;
    s.pattern = *pattern;
    s.frames = DiscoverFrames(*pattern);
    if (s.frames.empty()) throw HostError(NoFramesMessage(s.text, *pattern));
    const ImageSize size = ReadImageSize(FramePath(s.pattern, s.frames.front()));
    s.width = size.width;
    s.height = size.height;
    return s;
  }
  s.kind = SourceKind::kFile;
  s.path = fs::path(LiteralPath(text));
  const ImageSize size = ReadImageSize(s.path);
  s.width = size.width;
  s.height = size.height;
  return s;
}

void CheckSequenceFrames(const ImageSource& source) {
  for (int64_t frame : source.frames) {
    const std::string path = FramePath(source.pattern, frame);
    const ImageSize size = ReadImageSize(path);
    if (size.width != source.width || size.height != source.height) {
      throw HostError("'" + path + "' is " + std::to_string(size.width) + "x" + std::to_string(size.height) +
                      " but the sequence's first frame is " + std::to_string(source.width) + "x" +
                      std::to_string(source.height));
    }
  }
}

std::optional<ImageInfo> SourceInfo(const ImageSource& source) {
  if (source.kind == SourceKind::kFile) return ReadImageInfo(source.path);
  if (source.kind == SourceKind::kSequence && !source.frames.empty()) {
    return ReadImageInfo(FramePath(source.pattern, source.frames.front()));
  }
  return std::nullopt;
}

int64_t SequenceFrameAt(const ImageSource& source, int64_t ticks, int64_t step) {
  if (source.frames.empty()) throw HostError("the sequence '" + source.text + "' has no frames");
  if (step <= 0) step = 1;
  int64_t f = ticks / step;
  if (ticks % step != 0 && ticks < 0) --f;  // floor toward minus infinity
  auto it = std::upper_bound(source.frames.begin(), source.frames.end(), f);
  if (it == source.frames.begin()) return source.frames.front();
  return *(it - 1);
}

World LoadSource(const ImageSource& source, int64_t ticks, int64_t step, A_long pad_bytes, ImageInfo* info) {
  if (info && (source.kind == SourceKind::kTestCard || source.kind == SourceKind::kSolid)) {
    *info = ImageInfo();
    info->width = source.width;
    info->height = source.height;
  }
  switch (source.kind) {
    case SourceKind::kTestCard:
      return MakeTestCard(source.width, source.height, pad_bytes);
    case SourceKind::kSolid:
      return MakeSolid(source.width, source.height, source.color, pad_bytes);
    case SourceKind::kFile:
      return ReadImage(source.path, pad_bytes, source.read, info);
    case SourceKind::kRawStream:
      throw HostError("the stream '" + source.text + "' is read frame by frame, in order");
    case SourceKind::kSequence: {
      const int64_t frame = SequenceFrameAt(source, ticks, step);
      const std::string path = FramePath(source.pattern, frame);
      World w = ReadImage(path, pad_bytes, source.read, info);
      if (w.width() != source.width || w.height() != source.height) {
        throw HostError("'" + path + "' is " + std::to_string(w.width()) + "x" + std::to_string(w.height()) +
                        " but the sequence's first frame is " + std::to_string(source.width) + "x" +
                        std::to_string(source.height));
      }
      return w;
    }
  }
  throw HostError("unknown source kind");
}

}  // namespace ombrix
