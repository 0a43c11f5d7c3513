// The remembered verdicts of plug-in trials (the child process that runs
// each trial is in child_process.cpp).
//
// A plug-in is machine code: a damaged file that passes every structural
// check can still crash while it loads or renders. Listing and the demo
// must survive that, so each new or changed plug-in is tried once in a
// child process (loaded, set up, a small frame rendered) and the verdict is
// kept in a cache keyed by the file's path, size and modification time.
#include <ombrix/host/host.h>
#include <ombrix/host/instance.h>
#include <ombrix/host/plugin_trial.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

namespace ombrix {
namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Trials and their cache
// ---------------------------------------------------------------------------
namespace {

constexpr int kTrialSeconds = 60;
constexpr const char* kCacheHeader = "ombrix plug-in trials 1";
constexpr uintmax_t kMaxCacheBytes = 4 << 20;
constexpr size_t kMaxCacheEntries = 4096;

// Loads the plug-in, sets up an instance and renders a small gradient with
// the defaults; throws when loading or setting up fails. Render errors are
// the effect's answer, not damage, and do not refuse it.
void TrialRun(const PluginFile& file) {
  HostOptions options;
  options.threads = 1;
  Host host(options);
  host.on_message = [](std::string_view) {};
  Effect effect(host, file);
  constexpr A_long kW = 24, kH = 16;
  Instance instance(effect, TimeBase::ForRate(FrameRate{}), kW, kH);
  if (instance.setup_result().err != PF_Err_NONE) return;
  World input(kW, kH), output(kW, kH);
  for (A_long y = 0; y < kH; ++y)
    for (A_long x = 0; x < kW; ++x)
      input.At(x, y) = PF_Pixel{A_u_char(255 - 4 * y), A_u_char(10 * x), A_u_char(15 * y), A_u_char(128)};
  instance.RenderFrame(0, input.pf(), output);
}

std::string Escape(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x20 || c == '%' || c == 0x7F) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out;
}

std::optional<std::string> Unescape(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    unsigned v = 0;
    if (i + 2 >= s.size() || std::from_chars(s.data() + i + 1, s.data() + i + 3, v, 16).ptr != s.data() + i + 3)
      return std::nullopt;
    out += char(v);
    i += 2;
  }
  return out;
}

template <typename T>
bool ParseNumber(std::string_view s, T& v) {
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return !s.empty() && ec == std::errc() && ptr == s.data() + s.size();
}

bool StatKey(const fs::path& path, uint64_t& size, int64_t& mtime_ns) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  size = uint64_t(st.st_size);
  mtime_ns = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

std::string KeyOf(const fs::path& path) {
  std::error_code ec;
  const fs::path abs = fs::absolute(path, ec);
  return (ec ? path : abs).lexically_normal().string();
}

}  // namespace

PluginTrials::PluginTrials(fs::path cache_file) : cache_file_(std::move(cache_file)) {
  if (cache_file_.empty()) return;
  std::error_code ec;
  if (!fs::is_regular_file(cache_file_, ec) || fs::file_size(cache_file_, ec) > kMaxCacheBytes || ec) return;
  std::ifstream in(cache_file_, std::ios::binary);
  std::string line;
  if (!std::getline(in, line) || line != kCacheHeader) return;
  // Lines: size TAB mtime_ns TAB path TAB verdict ("ok" or "refused:why"),
  // then "end N" with the number of lines. Anything malformed or missing
  // discards the whole cache; trials run again.
  std::map<std::string, Entry> entries;
  size_t lines = 0;
  bool ended = false;
  while (std::getline(in, line)) {
    if (ended) return;
    if (line.rfind("end ", 0) == 0) {
      size_t n = 0;
      if (!ParseNumber(std::string_view(line).substr(4), n) || n != lines) return;
      ended = true;
      continue;
    }
    ++lines;
    std::string_view rest = line;
    std::string_view field[4];
    for (int i = 0; i < 4; ++i) {
      const size_t tab = i < 3 ? rest.find('\t') : std::string_view::npos;
      if (i < 3 && tab == std::string_view::npos) return;
      field[i] = rest.substr(0, tab);
      rest = i < 3 ? rest.substr(tab + 1) : std::string_view();
    }
    Entry e{};
    auto path = Unescape(field[2]);
    auto verdict = Unescape(field[3]);
    if (!ParseNumber(field[0], e.size) || !ParseNumber(field[1], e.mtime_ns) || !path || path->empty() || !verdict)
      return;
    if (*verdict == "ok")
      e.verdict.clear();
    else if (verdict->rfind("refused:", 0) == 0 && verdict->size() > 8)
      e.verdict = verdict->substr(8);
    else
      return;
    entries[*path] = std::move(e);
  }
  if (in.bad() || !ended) return;
  entries_ = std::move(entries);
}

std::string PluginTrials::Verdict(const PluginFile& file) {
  uint64_t size = 0;
  int64_t mtime_ns = 0;
  if (!StatKey(file.path, size, mtime_ns)) return file.path.string() + ": cannot read: " + std::strerror(errno);
  const std::string key = KeyOf(file.path);
  if (auto it = entries_.find(key); it != entries_.end() && it->second.size == size && it->second.mtime_ns == mtime_ns)
    return it->second.verdict;

  ++trials_run_;
  const ChildOutcome outcome = RunInChild([&] { TrialRun(file); }, kTrialSeconds, /*quiet=*/true);
  std::string verdict;
  switch (outcome.kind) {
    case ChildOutcome::Kind::kOk:
      break;
    case ChildOutcome::Kind::kFailed:
      verdict = outcome.message.rfind(file.path.string() + ": ", 0) == 0 ? outcome.message
                                                                         : file.path.string() + ": " + outcome.message;
      break;
    case ChildOutcome::Kind::kLost:
      if (outcome.message.rfind("cannot start", 0) == 0)  // not the plug-in's fault: try again next time
        return file.path.string() + ": cannot be tried: " + outcome.message;
      verdict = file.path.string() + ": " + outcome.message + " on its trial run";
      break;
    default:
      verdict = file.path.string() + ": " + outcome.Describe() + " on its trial run";
      break;
  }
  for (char& c : verdict)
    if (c == '\n' || c == '\r') c = ' ';
  entries_[key] = Entry{size, mtime_ns, verdict};
  dirty_ = true;
  return verdict;
}

void PluginTrials::Save() {
  if (!dirty_ || cache_file_.empty()) return;
  dirty_ = false;
  // Forget files that are gone, and keep the cache small.
  for (auto it = entries_.begin(); it != entries_.end();) {
    std::error_code ec;
    if (!fs::exists(it->first, ec) || entries_.size() > kMaxCacheEntries)
      it = entries_.erase(it);
    else
      ++it;
  }
  std::ostringstream text;
  text << kCacheHeader << "\n";
  for (const auto& [path, e] : entries_)
    text << e.size << '\t' << e.mtime_ns << '\t' << Escape(path) << '\t'
         << Escape(e.verdict.empty() ? "ok" : "refused:" + e.verdict) << "\n";
  text << "end " << entries_.size() << "\n";
  const std::string bytes = text.str();

  std::error_code ec;
  const fs::path dir = cache_file_.parent_path();
  if (!dir.empty()) fs::create_directories(dir, ec);
  std::string temp = (dir / ".plugin-trials.XXXXXX").string();
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return;
  size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += size_t(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(temp.c_str(), cache_file_.c_str()) != 0) ::unlink(temp.c_str());
}

void TryPlugins(PluginScan& scan, PluginTrials& trials) {
  std::vector<PluginFile> kept;
  for (PluginFile& file : scan.plugins) {
    std::string verdict = trials.Verdict(file);
    if (verdict.empty()) {
      kept.push_back(std::move(file));
    } else {
      scan.errors.push_back(verdict);
      scan.refused.emplace_back(std::move(file), std::move(verdict));
    }
  }
  scan.plugins = std::move(kept);
}

fs::path DefaultTrialCacheFile() {
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/')
    return fs::path(xdg) / "ombrix" / "plugin-trials";
  if (const char* home = std::getenv("HOME"); home && *home == '/')
    return fs::path(home) / ".cache" / "ombrix" / "plugin-trials";
  return {};
}

}  // namespace ombrix
