// `ombrix farm submit`, `task` and `resubmit`, and what every farm command
// shares: the job folder, the plug-in folder's identity, running Slurm's
// programs. The layout of the job folder is described in farm.h.
#include "farm.h"
#include "render_options.h"
#include "sha256.h"
#include "streams.h"

#include <ombrix/host/plugin_file.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

extern char** environ;

namespace ombrix::cli {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr off_t kMaxJobFile = 16 << 20;

std::string ReadText(const std::string& path, const std::string& what) {
  const std::vector<uint8_t> bytes = ReadRegularFile(path, what, kMaxJobFile, "too large");
  return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::string& path, const std::string& text) {
  ReplaceFile(path, "cannot write '" + path + "': ", text.data(), text.size());
}

std::string RecordPath(const FarmJob& job, int64_t frame) { return job.dir + "/frames/" + std::to_string(frame); }

// Frame `f` of the chunk that is not there as its task recorded it, from `from` on; c.last + 1 when none.
int64_t FirstFrameToRender(const FarmJob& job, const Chunk& c, int64_t from) {
  while (from <= c.last && CheckFrame(job, from) == FrameCheck::kGood) ++from;
  return from;
}

std::string SelfPath() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) throw HostError("cannot find the ombrix program itself: " + ec.message());
  return self.string();
}

// Every .aex file of the folder, sorted by name.
std::vector<PluginIdentity> ScanIdentity(const std::string& folder) {
  std::vector<PluginIdentity> found;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
    if (e.path().extension() != ".aex") continue;
    const FileDigest d = DigestFile(e.path().string());
    if (!d.ok) throw HostError("cannot read the plug-in '" + e.path().string() + "': " + d.error);
    found.push_back({e.path().filename().string(), d.size, d.sha256});
  }
  if (ec) throw HostError("cannot read the plug-in folder '" + folder + "': " + ec.message());
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  return found;
}

json IdentityJson(const std::vector<PluginIdentity>& list) {
  json j = json::array();
  for (const PluginIdentity& p : list) j.push_back({{"name", p.name}, {"size", p.size}, {"sha256", p.sha256}});
  return j;
}

std::vector<PluginIdentity> IdentityFromJson(const json& j) {
  std::vector<PluginIdentity> list;
  for (const json& p : j) list.push_back({p.at("name"), p.at("size"), p.at("sha256")});
  return list;
}

void WriteChunkState(const FarmJob& job, int64_t k, const std::string& state) {
  WriteText(job.dir + "/chunks/" + std::to_string(k), state + "\n");
}

// Runs `argv` with this process's standard streams and waits; its exit
// status, or -1 when it could not start or was killed.
int RunAttached(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Where sbatch's --parsable answer ends: "123" or "123;cluster".
std::string JobIdOf(const std::string& out) {
  std::string id = out.substr(0, out.find_first_of(";\n"));
  if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) {
    throw HostError("sbatch gave no job id (it printed '" + out + "')");
  }
  return id;
}

// The first line of a program's complaint.
std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

void CheckFarmable(const FarmSubmitOptions& o) {
  const RenderOptions& r = o.render;
  if (r.frames.empty()) throw UsageError("farm submit needs --frames FIRST-LAST");
  if (o.chunk < 1) throw UsageError("bad --chunk " + std::to_string(o.chunk) + " (1 or more frames)");
  if (o.max_parallel < 0) throw UsageError("bad --max-parallel " + std::to_string(o.max_parallel) + " (0: no limit)");
  if (ParseOutput(r.output).kind != OutputSpec::Kind::kPattern) {
    throw UsageError("farm submit needs an output pattern (name.####.png): each task writes its own frames");
  }
  if (!r.save_sequence_data.empty()) {
    throw UsageError("farm submit cannot --save-sequence-data: every task would write the same file");
  }
  std::vector<std::string> sources = {r.input};
  for (const std::string& l : r.layers) sources.push_back(l.substr(l.find('=') + 1));
  for (const std::string& s : sources) {
    if (s == "-" || (s.size() > 2 && s.compare(s.size() - 2, 2, ":-") == 0)) {
      throw UsageError("farm submit cannot read standard input ('" + s + "'): the tasks run elsewhere");
    }
  }
  for (const std::string& s : o.slurm_options) {
    if (s.empty() || s[0] != '-' || s.find_first_of("\n\r") != std::string::npos) {
      throw UsageError("bad --slurm '" + s + "' (expected one sbatch option such as --time=1:00:00)");
    }
  }
}

std::string DefaultJobDir(const std::string& effect) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&now, &tm);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
  std::string name;
  for (char c : effect) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return "ombrix-farm/" + name + "-" + stamp;
}

// The job folder, new or empty, and its subfolders.
fs::path MakeJobDir(const std::string& dir) {
  const fs::path path = fs::absolute(dir).lexically_normal();
  std::error_code ec;
  if (fs::exists(path, ec) && !fs::is_empty(path, ec)) {
    throw UsageError("the job folder '" + path.string() + "' already holds files (choose another --job-dir)");
  }
  for (const char* sub : {"logs", "chunks", "frames"}) {
    fs::create_directories(path / sub, ec);
    if (ec) throw HostError("cannot make the job folder '" + path.string() + "': " + ec.message());
  }
  const std::string text = path.string() + fs::current_path().string();
  if (text.find_first_of("\"\n\r") != std::string::npos) {
    throw UsageError("the job folder and the working folder cannot hold quotes or line breaks");
  }
  return path;
}

}  // namespace

void RecordChecksum(const std::string& dir, int64_t frame, const std::string& file) {
  const FileDigest d = DigestFile(file);
  if (!d.ok) throw HostError("cannot read '" + file + "' for its checksum: " + d.error);
  WriteText(dir + "/" + std::to_string(frame), d.sha256 + " " + std::to_string(d.size) + "\n");
}

FarmJob ReadFarmJob(const std::string& dir) {
  FarmJob job;
  job.dir = fs::absolute(dir).lexically_normal().string();
  if (!job.dir.empty() && job.dir.back() == '/') job.dir.pop_back();
  const std::string record_path = job.dir + "/job.json";
  try {
    job.record = json::parse(ReadText(record_path, "not a farm job folder: '" + record_path + "': "));
    job.first = job.record.at("first");
    job.last = job.record.at("last");
    job.chunk = job.record.at("chunk");
  } catch (const json::exception& e) {
    throw UsageError("damaged farm job file '" + record_path + "': " + e.what());
  }
  if (job.chunk < 1 || job.first < 0 || job.last < job.first)
    throw UsageError("damaged farm job file '" + record_path + "'");
  job.chunks = ChunkCount(job.first, job.last, job.chunk);
  std::ifstream jobs(job.dir + "/slurm-jobs");
  for (std::string id, array; jobs >> id >> array;) job.slurm_jobs.push_back(id);
  return job;
}

std::string FrameFile(const FarmJob& job, int64_t frame) {
  const OutputSpec out = ParseOutput(job.record.at("output").get<std::string>());
  const fs::path path = FramePath(*out.pattern, frame);
  return (path.is_absolute() ? path : fs::path(job.record.at("cwd").get<std::string>()) / path).string();
}

FrameCheck CheckFrame(const FarmJob& job, int64_t frame) {
  std::ifstream record(RecordPath(job, frame));
  std::string sha;
  uint64_t size = 0;
  const bool recorded = static_cast<bool>(record >> sha >> size);
  const FileDigest d = DigestFile(FrameFile(job, frame));
  if (!d.ok) return FrameCheck::kMissing;
  if (!recorded) return FrameCheck::kUnrecorded;
  return d.size == size && d.sha256 == sha ? FrameCheck::kGood : FrameCheck::kDamaged;
}

int64_t RecordedFrames(const FarmJob& job, const Chunk& c) {
  int64_t n = 0;
  std::error_code ec;
  for (int64_t f = c.first; f <= c.last; ++f) n += fs::exists(RecordPath(job, f), ec) ? 1 : 0;
  return n;
}

std::string ChunkTaskState(const FarmJob& job, int64_t k) {
  std::ifstream in(job.dir + "/chunks/" + std::to_string(k));
  std::string state;
  std::getline(in, state);
  return state;
}

ProgramResult RunProgram(const std::vector<std::string>& argv) {
  ProgramResult r;
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return r;
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]), ::close(out[1]);
    return r;
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int rc = ::posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  ::close(out[1]), ::close(err[1]);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&r.out, &r.err};
  for (int open = 2; rc == 0 && open > 0;) {
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buf[4096];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, size_t(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  ::close(out[0]), ::close(err[0]);
  if (rc != 0) {
    r.err = "cannot run " + argv[0] + ": " + std::strerror(rc);
    return r;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string SubmitChunks(const FarmJob& job, const std::vector<int64_t>& chunks, int max_parallel) {
  const std::string array = ArrayIndices(chunks) + (max_parallel > 0 ? "%" + std::to_string(max_parallel) : "");
  const ProgramResult r = RunProgram({"sbatch", "--parsable", "--array=" + array, job.dir + "/job.sbatch"});
  if (r.status != 0) throw HostError("sbatch failed: " + FirstLine(r.err.empty() ? r.out : r.err));
  const std::string id = JobIdOf(r.out);
  std::string jobs;
  std::ifstream in(job.dir + "/slurm-jobs");
  std::getline(in, jobs, '\0');
  WriteText(job.dir + "/slurm-jobs", jobs + id + " " + array + "\n");
  return id;
}

int RunFarmSubmit(const CommonOptions& common, const FarmSubmitOptions& o) {
  CheckFarmable(o);
  RunRender(common, o.render, /*check_only=*/true);
  CheckedOptions checked;
  CheckOptions(o.render, checked);
  const fs::path plugins =
      fs::canonical(common.plugins.empty() ? DefaultPluginFolder() : fs::path(common.plugins)).lexically_normal();
  const std::vector<PluginIdentity> identity = ScanIdentity(plugins.string());
  const fs::path dir = MakeJobDir(o.job_dir.empty() ? DefaultJobDir(o.render.effect) : o.job_dir);

  RenderOptions render = o.render;
  render.frames.clear();  // each task gives its chunk's, and records its checksums
  render.checksums.clear();
  if (!render.sequence_data.empty()) {
    const std::vector<uint8_t> data =
        ReadRegularFile(render.sequence_data,
                        "cannot read --sequence-data '" + render.sequence_data + "': ", kMaxJobFile << 2, "too large");
    render.sequence_data = (dir / "sequence-data").string();
    ReplaceFile(render.sequence_data, "cannot copy the sequence data: ", data.data(), data.size());
  }
  json record = {{"first", checked.range->first},
                 {"last", checked.range->last},
                 {"chunk", o.chunk},
                 {"cwd", fs::current_path().string()},
                 {"ombrix", SelfPath()},
                 {"plugins", plugins.string()},
                 {"identity", IdentityJson(identity)},
                 {"render", RenderArgs(render)},
                 {"max_parallel", o.max_parallel},
                 {"output", render.output}};
  WriteText((dir / "job.json").string(), record.dump(2) + "\n");
  ScriptSettings script{
      "ombrix-" + o.render.effect, dir.string(), fs::current_path().string(), SelfPath(), o.partition, o.slurm_options};
  WriteText((dir / "job.sbatch").string(), BatchScript(script));

  const FarmJob job = ReadFarmJob(dir.string());
  std::vector<int64_t> all;
  for (int64_t k = 0; k < job.chunks; ++k) all.push_back(k);
  const std::string id = SubmitChunks(job, all, o.max_parallel);
  std::cout << id << std::endl;
  if (!common.quiet) {
    std::cerr << "ombrix: submitted Slurm job " << id << ": frames " << job.first << "-" << job.last << " in "
              << job.chunks << " chunk" << (job.chunks == 1 ? "" : "s") << "; job folder " << job.dir << "\n";
  }
  return kExitOk;
}

int RunFarmTask(const CommonOptions& common, const FarmJobOptions& o) {
  const FarmJob job = ReadFarmJob(o.job_dir);
  int64_t k = o.task;
  if (k < 0) {
    const char* env = std::getenv("SLURM_ARRAY_TASK_ID");
    const std::optional<double> v = env ? ParseDecimal(env) : std::nullopt;
    if (!v) throw UsageError("farm task needs a CHUNK (or $SLURM_ARRAY_TASK_ID)");
    k = int64_t(*v);
  }
  if (k < 0 || k >= job.chunks) {
    throw UsageError("bad chunk " + std::to_string(k) + ": the job has chunks 0.." + std::to_string(job.chunks - 1));
  }
  const Chunk c = ChunkFrames(job.first, job.last, job.chunk, k);
  WriteChunkState(job, k, "running");
  const std::string plugins = job.record.at("plugins");
  const std::vector<std::string> changes =
      IdentityChanges(IdentityFromJson(job.record.at("identity")), ScanIdentity(plugins));
  if (!changes.empty()) {
    std::string reason = "the plug-ins in '" + plugins + "' differ from those recorded at submission:";
    for (const std::string& change : changes) reason += " " + change + ";";
    reason.pop_back();
    WriteChunkState(job, k, "failed: " + reason);
    throw HostError(reason);
  }
  // A requeued task goes on from its first frame not rendered whole.
  const int64_t from = FirstFrameToRender(job, c, c.first);
  if (!common.quiet) {
    std::cout << "ombrix farm: chunk " << k << " (frames " << c.first << "-" << c.last << ")"
              << (from > c.last    ? ": every frame is already there"
                  : from > c.first ? ", going on from frame " + std::to_string(from)
                                   : "")
              << std::endl;
  }
  for (int64_t f = from; f <= c.last; ++f) ::unlink(RecordPath(job, f).c_str());
  if (from <= c.last) {
    std::vector<std::string> argv = {SelfPath(), "render",      "--plugins",        plugins,
                                     "-q",       "--checksums", job.dir + "/frames"};
    for (const json& a : job.record.at("render")) argv.push_back(a);
    argv.insert(argv.end(), {"--frames", std::to_string(from) + "-" + std::to_string(c.last)});
    const int status = RunAttached(argv);
    if (status != kExitOk) {
      const std::string reason = "the render ended with status " + std::to_string(status);
      WriteChunkState(job, k, "failed: " + reason);
      throw HostError(reason);
    }
  }
  // The render recorded every frame it wrote; each must still be there as recorded.
  if (const int64_t bad = FirstFrameToRender(job, c, from); bad <= c.last) {
    const std::string reason = "frame " + std::to_string(bad) + " is not as the render recorded it";
    WriteChunkState(job, k, "failed: " + reason);
    throw HostError(reason);
  }
  WriteChunkState(job, k, "done");
  return kExitOk;
}

int RunFarmResubmit(const CommonOptions& common, const FarmJobOptions& o) {
  const FarmJob job = ReadFarmJob(o.job_dir);
  std::vector<int64_t> chunks;
  if (!o.chunks.empty()) {
    chunks = ParseChunkList(o.chunks, job.chunks);
  } else {
    const QueueView queue = AskQueue(job);
    for (int64_t k = 0; k < job.chunks; ++k) {
      const Chunk c = ChunkFrames(job.first, job.last, job.chunk, k);
      const bool active = queue.states.count(k) > 0;  // squeue lists chunks queued or running only
      for (int64_t f = c.first; f <= c.last && !active; ++f) {
        if (CheckFrame(job, f) != FrameCheck::kGood) {
          chunks.push_back(k);
          break;
        }
      }
    }
  }
  if (chunks.empty()) {
    if (!common.quiet) std::cerr << "ombrix: nothing to resubmit: every frame is there and matches its checksum\n";
    return kExitOk;
  }
  const int max_parallel = o.max_parallel > 0 ? o.max_parallel : job.record.value("max_parallel", 0);
  const std::string id = SubmitChunks(job, chunks, max_parallel);
  std::cout << id << std::endl;
  if (!common.quiet)
    std::cerr << "ombrix: resubmitted chunks " << ArrayIndices(chunks) << " as Slurm job " << id << "\n";
  return kExitOk;
}

}  // namespace ombrix::cli
