#include "requests.h"

#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace ombrix::studio {
namespace fs = std::filesystem;

std::string MakeToken() {
  std::array<unsigned char, 16> bits{};
  size_t got = 0;
  while (got < bits.size()) {
    const ssize_t n = ::getrandom(bits.data() + got, bits.size() - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // Kernels without getrandom: the device gives the same bits.
      std::ifstream urandom("/dev/urandom", std::ios::binary);
      if (!urandom.read(reinterpret_cast<char*>(bits.data()), bits.size())) {
        throw std::runtime_error("cannot read random bits for the studio's token");
      }
      break;
    }
    got += size_t(n);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bits) {
    token += kHex[b >> 4];
    token += kHex[b & 15];
  }
  return token;
}

bool SameToken(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  // The volatile read keeps the loop from being cut short by the optimiser.
  volatile unsigned char result = diff;
  return result == 0;
}

namespace {

// Calls `each(name, value)` for the `separator`-separated name=value pairs
// of `text`, spaces around a pair trimmed; stops when `each` returns true.
template <typename Each>
void ForEachPair(std::string_view text, char separator, Each each) {
  while (!text.empty()) {
    const size_t end = text.find(separator);
    std::string_view pair = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    while (!pair.empty() && pair.back() == ' ') pair.remove_suffix(1);
    const size_t eq = pair.find('=');
    if (eq == std::string_view::npos) continue;
    if (each(pair.substr(0, eq), pair.substr(eq + 1))) return;
  }
}

}  // namespace

std::optional<std::string> PercentDecode(std::string_view text, bool plus_is_space) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      unsigned value = 0;
      const char* end = text.data() + i + 3;
      if (std::from_chars(text.data() + i + 1, end, value, 16).ptr != end) return std::nullopt;
      c = char(value);
      i += 2;
    } else if (c == '+' && plus_is_space) {
      c = ' ';
    }
    if (c == '\0') return std::nullopt;
    out += c;
  }
  return out;
}

Target SplitTarget(std::string_view target) {
  const size_t q = target.find('?');
  if (q == std::string_view::npos) return {target, {}};
  return {target.substr(0, q), target.substr(q + 1)};
}

std::optional<std::string> QueryValue(std::string_view query, std::string_view name) {
  std::optional<std::string> found;
  ForEachPair(query, '&', [&](std::string_view key, std::string_view value) {
    if (PercentDecode(key, true) != std::string(name)) return false;
    found = PercentDecode(value, true);
    return true;
  });
  return found;
}

std::optional<std::string> CookieValue(std::string_view header, std::string_view name) {
  std::optional<std::string> found;
  ForEachPair(header, ';', [&](std::string_view key, std::string_view value) {
    if (key != name) return false;
    found = std::string(value);
    return true;
  });
  return found;
}

bool HostAllowed(std::string_view host, uint16_t port) {
  const std::string suffix = ":" + std::to_string(port);
  return host == "127.0.0.1" + suffix || host == "localhost" + suffix;
}

bool OriginAllowed(std::string_view origin, uint16_t port) {
  const std::string suffix = ":" + std::to_string(port);
  return origin == "http://127.0.0.1" + suffix || origin == "http://localhost" + suffix;
}

namespace {

bool HasIndex(const fs::path& dir) {
  std::error_code ec;
  return fs::is_regular_file(dir / "index.html", ec);
}

fs::path ExecutableDir() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe.parent_path();
}

}  // namespace

fs::path FindWebRoot(const std::string& web) {
  if (!web.empty()) {
    if (!HasIndex(web)) {
      throw std::runtime_error("no studio front end in '" + web + "' (it has no index.html)");
    }
    return fs::canonical(web);
  }
  const fs::path bin = ExecutableDir();
  if (!bin.empty() && bin.filename() == "bin") {
    const fs::path installed = bin / OMBRIX_STUDIO_INSTALLED_WEB;
    if (HasIndex(installed)) return fs::canonical(installed);
  }
  const fs::path built = OMBRIX_STUDIO_BUILD_WEB;
  if (HasIndex(built)) return fs::canonical(built);
  throw std::runtime_error("the studio's front end is not built: run scripts/build");
}

std::optional<fs::path> WebFile(const fs::path& root, std::string_view path) {
  const std::optional<std::string> decoded = PercentDecode(path, false);
  if (!decoded || decoded->empty() || decoded->front() != '/') return std::nullopt;
  fs::path relative;
  std::string_view rest = std::string_view(*decoded).substr(1);
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (part.empty()) continue;
    // "..", ".", dot files and backslashes never name a file of the front end.
    if (part.front() == '.' || part.find('\\') != std::string_view::npos) return std::nullopt;
    relative /= part;
  }
  if (relative.empty()) relative = "index.html";
  std::error_code ec;
  const fs::path file = fs::canonical(root / relative, ec);
  if (ec || !fs::is_regular_file(file, ec)) return std::nullopt;
  // A link may point out of the folder: the resolved file must still be inside.
  const auto [root_end, unused] = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
  (void)unused;
  if (root_end != root.end()) return std::nullopt;
  return file;
}

std::string_view ContentType(const fs::path& file) {
  static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
      {".html", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".json", "application/json"},
      {".map", "application/json"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"},
      {".jpg", "image/jpeg"},
      {".ico", "image/x-icon"},
      {".woff2", "font/woff2"},
      {".woff", "font/woff"},
      {".wasm", "application/wasm"},
      {".txt", "text/plain; charset=utf-8"},
  };
  const std::string ext = file.extension().string();
  for (const auto& [known, type] : kTypes) {
    if (ext == known) return type;
  }
  return "application/octet-stream";
}

}  // namespace ombrix::studio
