// Program association and detached program start.
//
// Association for a document: its MIME type comes from the file name
// extension (or `xdg-mime query filetype`); HTML goes to $BROWSER first
// (a ':'-separated list of commands, "%s" standing for the address), then to
// the desktop entry named by `xdg-mime query default TYPE` (its Exec line
// parsed as the desktop entry format defines it, field codes expanded only
// as whole arguments), then to xdg-open. No command line is ever handed to
// a shell: every program starts from an argument vector.
//
// Reaping: each started child is waited for by a small detached thread
// blocked in waitpid on that one pid, so no zombie remains and no process-
// wide SIGCHLD disposition is touched (the host may have its own).
#include <ombrix/platform/files.h>
#include <ombrix/platform/headless.h>
#include <ombrix/platform/launch.h>

#include "internal.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace ombrix::platform {
namespace {

// An argument of a command template: literal text, or a slot for the
// document arguments.
struct Arg {
  enum Kind { kText, kOne, kAll } kind = kText;
  std::string text;
};
using Command = std::vector<Arg>;

struct State {
  std::mutex mu;
  LaunchMode mode = LaunchMode::kStart;
  std::map<std::string, Command> commands;  // found programs' templates
  std::vector<LaunchRecord> records;
};

State& S() {
  static State* state = new State;
  return *state;
}

bool Executable(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Resolves a program name through PATH; names with '/' are taken as they are.
std::optional<std::string> Resolve(const std::string& name) {
  if (name.empty()) return std::nullopt;
  if (name.find('/') != std::string::npos) {
    if (!Executable(name)) return std::nullopt;
    if (name[0] == '/') return name;
    char cwd[kMaxPath];
    if (!::getcwd(cwd, sizeof cwd)) return std::nullopt;
    return std::string(cwd) + "/" + name;
  }
  const char* path = std::getenv("PATH");
  std::string list = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    std::string dir = list.substr(start, end - start);
    start = end + 1;
    if (dir.empty() || dir[0] != '/') continue;  // never search the working folder
    std::string candidate = dir + "/" + name;
    if (Executable(candidate)) return candidate;
  }
  return std::nullopt;
}

// Runs a query program and returns its first line of output (trimmed);
// nothing when it cannot run, fails, or takes longer than a few seconds.
std::optional<std::string> Query(const std::vector<std::string>& args) {
  auto program = Resolve(args[0]);
  if (!program) return std::nullopt;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, program->c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    return std::nullopt;
  }
  std::string out;
  timespec start;
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  bool timed_out = false;
  while (out.size() < 65536) {
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const long elapsed_ms = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (elapsed_ms >= 5000) {
      timed_out = true;
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    const int ready = ::poll(&p, 1, int(5000 - elapsed_ms));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      timed_out = ready == 0;
      break;
    }
    char buf[512];
    const ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, size_t(n));
  }
  ::close(fds[0]);
  if (timed_out) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timed_out || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  const size_t nl = out.find('\n');
  if (nl != std::string::npos) out.resize(nl);
  while (!out.empty() && (out.back() == ' ' || out.back() == '\r' || out.back() == '\t')) out.pop_back();
  if (out.empty()) return std::nullopt;
  return out;
}

std::string MimeOf(const std::string& path) {
  static constexpr struct {
    const char* ext;
    const char* mime;
  } kTypes[] = {{"html", "text/html"},
                {"htm", "text/html"},
                {"shtml", "text/html"},
                {"xhtml", "application/xhtml+xml"},
                {"xht", "application/xhtml+xml"},
                {"txt", "text/plain"},
                {"png", "image/png"},
                {"jpg", "image/jpeg"},
                {"jpeg", "image/jpeg"},
                {"pdf", "application/pdf"}};
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& t : kTypes)
      if (ext == t.ext) return t.mime;
  }
  return Query({"xdg-mime", "query", "filetype", path}).value_or("");
}

bool IsWeb(const std::string& mime) { return mime == "text/html" || mime == "application/xhtml+xml"; }

// One $BROWSER entry: the whole entry as a program path, else words split
// at blanks; "%s" as a whole word takes the address (appended when absent).
// Entries with "%s" inside a longer word are not used.
std::optional<std::pair<std::string, Command>> BrowserEntry(const std::string& entry) {
  if (entry.empty()) return std::nullopt;
  if (auto whole = Resolve(entry)) return std::make_pair(*whole, Command{{Arg::kText, *whole}, {Arg::kOne, ""}});
  std::vector<std::string> words;
  size_t i = 0;
  while (i < entry.size()) {
    while (i < entry.size() && (entry[i] == ' ' || entry[i] == '\t')) ++i;
    size_t j = i;
    while (j < entry.size() && entry[j] != ' ' && entry[j] != '\t') ++j;
    if (j > i) words.push_back(entry.substr(i, j - i));
    i = j;
  }
  if (words.empty()) return std::nullopt;
  auto program = Resolve(words[0]);
  if (!program) return std::nullopt;
  Command cmd{{Arg::kText, *program}};
  bool slot = false;
  for (size_t w = 1; w < words.size(); ++w) {
    if (words[w] == "%s") {
      cmd.push_back({Arg::kOne, ""});
      slot = true;
    } else if (words[w].find("%s") != std::string::npos) {
      return std::nullopt;
    } else {
      std::string text;
      for (size_t k = 0; k < words[w].size(); ++k) {
        if (words[w][k] == '%' && k + 1 < words[w].size() && words[w][k + 1] == '%') ++k;
        text += words[w][k];
      }
      cmd.push_back({Arg::kText, text});
    }
  }
  if (!slot) cmd.push_back({Arg::kOne, ""});
  return std::make_pair(*program, cmd);
}

// Desktop entry files: the [Desktop Entry] group's keys, values unescaped.
std::map<std::string, std::string> ReadDesktopEntry(const std::string& path) {
  std::map<std::string, std::string> keys;
  std::ifstream in(path);
  std::string line;
  bool in_group = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      in_group = line == "[Desktop Entry]";
      continue;
    }
    if (!in_group) continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    size_t lead = 0;
    while (lead < value.size() && value[lead] == ' ') ++lead;
    value.erase(0, lead);
    std::string plain;
    for (size_t k = 0; k < value.size(); ++k) {
      if (value[k] == '\\' && k + 1 < value.size()) {
        const char c = value[++k];
        plain += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
      } else {
        plain += value[k];
      }
    }
    keys.emplace(key, plain);  // the first occurrence counts
  }
  return keys;
}

// Parses an Exec value into a command. Answers nothing for a line that is
// malformed or that puts a document field code inside a longer or quoted
// argument (where the document would become part of some other text).
std::optional<Command> ParseExec(const std::string& exec, const std::string& name, const std::string& file) {
  struct Word {
    std::string text;
    bool quoted = false;
  };
  std::vector<Word> words;
  size_t i = 0;
  while (i < exec.size()) {
    while (i < exec.size() && exec[i] == ' ') ++i;
    if (i >= exec.size()) break;
    Word w;
    while (i < exec.size() && exec[i] != ' ') {
      if (exec[i] == '"') {
        w.quoted = true;
        ++i;
        bool closed = false;
        while (i < exec.size()) {
          if (exec[i] == '\\' && i + 1 < exec.size() && std::strchr("\"`$\\", exec[i + 1])) {
            w.text += exec[i + 1];
            i += 2;
          } else if (exec[i] == '"') {
            closed = true;
            ++i;
            break;
          } else {
            w.text += exec[i++];
          }
        }
        if (!closed) return std::nullopt;
      } else {
        w.text += exec[i++];
      }
    }
    words.push_back(w);
  }
  if (words.empty()) return std::nullopt;
  Command cmd;
  bool slot = false;
  for (size_t k = 0; k < words.size(); ++k) {
    const Word& w = words[k];
    if (k > 0 && !w.quoted && (w.text == "%u" || w.text == "%f" || w.text == "%U" || w.text == "%F")) {
      cmd.push_back({(w.text == "%u" || w.text == "%f") ? Arg::kOne : Arg::kAll, ""});
      slot = true;
      continue;
    }
    if (!w.quoted && (w.text == "%i" || w.text == "%d" || w.text == "%D" || w.text == "%n" || w.text == "%N" ||
                      w.text == "%v" || w.text == "%m"))
      continue;  // icon and deprecated codes: dropped
    std::string text;
    for (size_t c = 0; c < w.text.size(); ++c) {
      if (w.text[c] != '%' || w.quoted) {
        if (w.quoted && w.text[c] == '%' && c + 1 < w.text.size() && std::strchr("uUfF", w.text[c + 1]))
          return std::nullopt;
        text += w.text[c];
        continue;
      }
      if (c + 1 >= w.text.size()) return std::nullopt;
      const char code = w.text[++c];
      if (code == '%')
        text += '%';
      else if (code == 'c')
        text += name;
      else if (code == 'k')
        text += file;
      else if (std::strchr("uUfF", code))
        return std::nullopt;
    }
    cmd.push_back({Arg::kText, text});
  }
  if (!slot) cmd.push_back({Arg::kAll, ""});
  return cmd;
}

std::vector<std::string> DataDirs() {
  std::vector<std::string> dirs;
  const char* data_home = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  if (data_home && data_home[0] == '/')
    dirs.push_back(data_home);
  else if (home && home[0] == '/')
    dirs.push_back(std::string(home) + "/.local/share");
  const char* data_dirs = std::getenv("XDG_DATA_DIRS");
  std::string list = data_dirs && data_dirs[0] ? data_dirs : "/usr/local/share:/usr/share";
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    std::string d = list.substr(start, end - start);
    if (!d.empty() && d[0] == '/') dirs.push_back(d);
    start = end + 1;
  }
  return dirs;
}

std::optional<std::pair<std::string, Command>> DesktopAssociation(const std::string& mime) {
  auto id = Query({"xdg-mime", "query", "default", mime});
  if (!id) return std::nullopt;
  // The answer may list several ids separated by ';'; take the first.
  std::string desktop = id->substr(0, id->find(';'));
  const std::string suffix = ".desktop";
  if (desktop.size() <= suffix.size() || desktop.compare(desktop.size() - suffix.size(), suffix.size(), suffix) != 0 ||
      desktop.find('/') != std::string::npos || desktop[0] == '.')
    return std::nullopt;
  for (const std::string& dir : DataDirs()) {
    // "a-b-c.desktop" may live at a-b-c.desktop, a/b-c.desktop, a/b/c.desktop.
    std::string rel = desktop;
    while (true) {
      const std::string path = dir + "/applications/" + rel;
      struct stat st;
      if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        auto keys = ReadDesktopEntry(path);
        if (keys["Hidden"] == "true") return std::nullopt;
        if (keys.count("TryExec") && !Resolve(keys["TryExec"])) return std::nullopt;
        auto cmd = ParseExec(keys["Exec"], keys["Name"], path);
        if (!cmd) return std::nullopt;
        auto program = Resolve((*cmd)[0].text);
        if (!program) return std::nullopt;
        (*cmd)[0].text = *program;
        return std::make_pair(*program, *cmd);
      }
      const size_t dash = rel.find('-');
      if (dash == std::string::npos) break;
      rel[dash] = '/';
    }
  }
  return std::nullopt;
}

std::optional<std::pair<std::string, Command>> Associate(const std::string& path) {
  const std::string mime = MimeOf(path);
  if (IsWeb(mime)) {
    if (const char* browser = std::getenv("BROWSER")) {
      std::string list = browser;
      size_t start = 0;
      while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        if (auto found = BrowserEntry(list.substr(start, end - start))) return found;
        start = end + 1;
      }
    }
  }
  if (!mime.empty())
    if (auto found = DesktopAssociation(mime)) return found;
  if (auto opener = Resolve("xdg-open"))
    return std::make_pair(*opener, Command{{Arg::kText, *opener}, {Arg::kAll, ""}});
  return std::nullopt;
}

void Reap(pid_t pid) {
  int status;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

Status Spawn(const std::string& program, const std::vector<std::string>& args, pid_t* pid) {
  posix_spawn_file_actions_t fa;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&fa);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&fa, 3);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const int rc = ::posix_spawn(pid, program.c_str(), &fa, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return detail::StatusFromErrno(rc);
  const pid_t child = *pid;
  try {
    std::thread(Reap, child).detach();
  } catch (...) {
    // No thread could be made: the child stays a zombie until this
    // process ends (it still runs; only its exit status waits).
  }
  return kOk;
}

}  // namespace

intptr_t FindExecutable(const char* file, const char* directory, char* result, uint32_t size) noexcept try {
  if (result && size) result[0] = '\0';
  if (!file || !file[0]) return kFindFileNotFound;
  std::string path = file;
  if (path[0] != '/' && directory && directory[0]) path = std::string(directory) + "/" + path;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? kFindFileNotFound : kFindPathNotFound;
  auto found = Associate(path);
  if (!found) return kFindNoAssociation;
  if (!result || size < found->first.size() + 1) return kFindOutOfResources;
  detail::CopyOut(found->first, result, size);
  State& s = S();
  std::lock_guard lock(s.mu);
  s.commands[found->first] = found->second;
  return kFindFound;
} catch (...) {
  return kFindOutOfResources;
}

Status StartProgram(const char* program, const char* const* argv) noexcept try {
  if (!program || !program[0] || !argv || !argv[0]) return kErrInvalidParameter;
  State& s = S();
  std::vector<std::string> given;
  for (const char* const* a = argv; *a; ++a) given.emplace_back(*a);

  LaunchRecord record;
  record.program = program;
  LaunchMode mode;
  {
    std::lock_guard lock(s.mu);
    mode = s.mode;
    auto it = s.commands.find(program);
    if (it == s.commands.end()) {
      record.argv = given;
    } else {
      const std::vector<std::string> docs(given.begin() + 1, given.end());
      for (const std::string& d : docs)
        if (!d.empty() && d[0] == '-') return kErrInvalidParameter;
      for (const Arg& a : it->second) {
        if (a.kind == Arg::kText)
          record.argv.push_back(a.text);
        else if (a.kind == Arg::kOne && !docs.empty())
          record.argv.push_back(docs[0]);
        else if (a.kind == Arg::kAll)
          record.argv.insert(record.argv.end(), docs.begin(), docs.end());
      }
      record.argv[0] = given[0];
    }
  }
  if (mode == LaunchMode::kStart) {
    pid_t pid = 0;
    record.status = Spawn(record.program, record.argv, &pid);
    record.pid = int(pid);
  }
  const Status status = record.status;
  std::lock_guard lock(s.mu);
  s.records.push_back(std::move(record));
  return status;
} catch (...) {
  return kErrOutOfMemory;
}

void SetLaunchMode(LaunchMode mode) {
  State& s = S();
  std::lock_guard lock(s.mu);
  s.mode = mode;
}

std::vector<LaunchRecord> LaunchRecords() {
  State& s = S();
  std::lock_guard lock(s.mu);
  return s.records;
}

void ClearLaunchRecords() {
  State& s = S();
  std::lock_guard lock(s.mu);
  s.records.clear();
}

}  // namespace ombrix::platform
