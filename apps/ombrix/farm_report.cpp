// `ombrix farm status` and `collect`, and the farm commands on the command line.
#include "farm.h"
#include "render_cli.h"

#include <unistd.h>

#include <iostream>

namespace ombrix::cli {
namespace {

std::string JoinIds(const FarmJob& job) {
  std::string ids;
  for (const std::string& id : job.slurm_jobs) ids += (ids.empty() ? "" : ",") + id;
  return ids;
}

// "3, 5-9, 12" for sorted frame numbers.
std::string FrameList(const std::vector<int64_t>& frames) {
  std::string text = ArrayIndices(frames);
  for (size_t i = 0; (i = text.find(',', i)) != std::string::npos; i += 2) text.insert(i + 1, " ");
  return text;
}

const char* StateWord(ChunkState s) {
  switch (s) {
    case ChunkState::kDone:
      return "done";
    case ChunkState::kRunning:
      return "running";
    case ChunkState::kPending:
      return "pending";
    case ChunkState::kFailed:
      return "failed";
  }
  return "";
}

std::string ResubmitCommand(const FarmJob& job, const std::vector<int64_t>& chunks) {
  return ShellCommand({"ombrix", "farm", "resubmit", job.dir, "--chunks", ArrayIndices(chunks)});
}

}  // namespace

QueueView AskQueue(const FarmJob& job) {
  QueueView view;
  if (job.slurm_jobs.empty()) return view;
  const std::string ids = JoinIds(job);
  const ProgramResult queue = RunProgram({"squeue", "-h", "-r", "-o", "%i|%T", "-j", ids});
  if (queue.status == 0) {
    view.states = QueueStates(job.slurm_jobs, queue.out);
  } else {
    // Jobs that ended long ago are forgotten: squeue calls their ids invalid.
    view.known = queue.err.find("Invalid job id") != std::string::npos;
  }
  const ProgramResult accounting = RunProgram({"sacct", "-n", "-P", "-X", "-o", "JobID,State", "-j", ids});
  if (accounting.status == 0) view.accounting = QueueStates(job.slurm_jobs, accounting.out);
  return view;
}

int RunFarmStatus(const CommonOptions&, const FarmJobOptions& o) {
  const FarmJob job = ReadFarmJob(o.job_dir);
  const QueueView queue = AskQueue(job);
  int64_t frames[4] = {}, chunks[4] = {};
  std::vector<std::string> failures;
  std::vector<int64_t> failed_chunks;
  for (int64_t k = 0; k < job.chunks; ++k) {
    const Chunk c = ChunkFrames(job.first, job.last, job.chunk, k);
    ChunkView v;
    v.frames = c.last - c.first + 1;
    v.recorded = RecordedFrames(job, c);
    v.task_state = ChunkTaskState(job, k);
    v.queue_known = queue.known;
    if (auto it = queue.states.find(k); it != queue.states.end()) v.queue_state = it->second;
    if (auto it = queue.accounting.find(k); it != queue.accounting.end()) v.accounting = it->second;
    const ChunkState state = Classify(v);
    ++chunks[int(state)];
    frames[int(ChunkState::kDone)] += v.recorded;
    frames[int(state)] += state == ChunkState::kDone ? 0 : v.frames - v.recorded;
    if (state == ChunkState::kFailed) {
      failed_chunks.push_back(k);
      std::string why = v.task_state.rfind("failed: ", 0) == 0 ? v.task_state.substr(8)
                        : !v.accounting.empty()                ? "Slurm says " + v.accounting
                                                               : "the task ended before its frames were recorded";
      failures.push_back("chunk " + std::to_string(k) + " (frames " + std::to_string(c.first) + "-" +
                         std::to_string(c.last) + "): " + why);
    }
  }
  const int64_t total = job.last - job.first + 1;
  const int64_t done = frames[int(ChunkState::kDone)];
  std::cout << "job " << job.dir << " (Slurm job " << (job.slurm_jobs.empty() ? "none" : JoinIds(job)) << "): frames "
            << job.first << "-" << job.last << " in " << job.chunks << " chunks of " << job.chunk << "\n";
  if (::isatty(STDOUT_FILENO)) {
    constexpr int kWidth = 40;
    const int filled = int(done * kWidth / total);
    std::cout << "[" << std::string(size_t(filled), '#') << std::string(size_t(kWidth - filled), '.') << "] ";
  }
  std::cout << done << "/" << total << " frames done, " << frames[int(ChunkState::kRunning)] << " running, "
            << frames[int(ChunkState::kPending)] << " pending, " << frames[int(ChunkState::kFailed)] << " failed\n";
  std::cout << "chunks: ";
  for (ChunkState s : {ChunkState::kDone, ChunkState::kRunning, ChunkState::kPending, ChunkState::kFailed}) {
    std::cout << chunks[int(s)] << " " << StateWord(s) << (s == ChunkState::kFailed ? "\n" : ", ");
  }
  if (!queue.known) std::cout << "(the queue could not be asked: squeue failed)\n";
  for (const std::string& f : failures) std::cout << "failed " << f << "\n";
  if (!failed_chunks.empty()) std::cout << "resubmit them: " << ResubmitCommand(job, failed_chunks) << "\n";
  return kExitOk;
}

int RunFarmCollect(const CommonOptions& common, const FarmJobOptions& o) {
  const FarmJob job = ReadFarmJob(o.job_dir);
  std::vector<int64_t> missing, damaged, unrecorded, bad;
  for (int64_t f = job.first; f <= job.last; ++f) {
    const FrameCheck check = CheckFrame(job, f);
    if (check == FrameCheck::kGood) continue;
    (check == FrameCheck::kMissing ? missing : check == FrameCheck::kDamaged ? damaged : unrecorded).push_back(f);
    bad.push_back(f);
  }
  const int64_t total = job.last - job.first + 1;
  if (bad.empty()) {
    if (!common.quiet) std::cout << "all " << total << " frames are there and match their checksums\n";
    return kExitOk;
  }
  std::cout << bad.size() << " of " << total << " frames need rendering again\n";
  if (!missing.empty()) std::cout << "missing: " << FrameList(missing) << "\n";
  if (!damaged.empty()) std::cout << "damaged (not what the task wrote): " << FrameList(damaged) << "\n";
  if (!unrecorded.empty()) std::cout << "not recorded by a task: " << FrameList(unrecorded) << "\n";
  std::vector<int64_t> chunks;
  for (int64_t f : bad) {
    const int64_t k = (f - job.first) / job.chunk;
    if (chunks.empty() || chunks.back() != k) chunks.push_back(k);
  }
  std::cout << "on the farm:  " << ResubmitCommand(job, chunks) << "\n";
  std::vector<std::string> render = {"ombrix", "render", "--plugins", job.record.at("plugins")};
  for (const nlohmann::json& a : job.record.at("render")) render.push_back(a);
  for (size_t i = 0; i < bad.size();) {
    size_t j = i;
    while (j + 1 < bad.size() && bad[j + 1] == bad[j] + 1) ++j;
    std::vector<std::string> argv = render;
    argv.insert(argv.end(), {"--frames", std::to_string(bad[i]) + "-" + std::to_string(bad[j])});
    std::cout << (i == 0 ? "or here, in " + ShellQuote(job.record.at("cwd")) + ":\n" : "") << "  " << ShellCommand(argv)
              << "\n";
    i = j + 1;
  }
  return kExitFailed;
}

void AddFarmCommands(CLI::App& app, FarmCommands& farm, CommonOptions& common) {
  farm.farm = app.add_subcommand("farm", "Render a frame range on a Slurm cluster, one array task per chunk");
  farm.farm->require_subcommand(1);
  auto add_common = [&](CLI::App* sub) {
    sub->add_option("--plugins", common.plugins,
                    "Folder of plug-ins (default: $OMBRIX_PLUGIN_PATH or the built/installed ones)");
    sub->add_flag("-q,--quiet", common.quiet, "No progress or summary lines");
  };
  FarmSubmitOptions& s = farm.submit_options;
  farm.submit = farm.farm->add_subcommand("submit", "Check a render, write its job folder and submit it to Slurm");
  AddRenderOptions(farm.submit, s.render);
  farm.submit->add_option("--chunk", s.chunk, "Frames per task")
      ->capture_default_str()
      ->check(CLI::Validator(DecimalOnly, ""));
  farm.submit->add_option("--partition", s.partition, "Slurm partition");
  farm.submit->add_option("--max-parallel", s.max_parallel, "Tasks running at once (0: no limit)")
      ->check(CLI::Validator(DecimalOnly, ""));
  farm.submit
      ->add_option("--slurm", s.slurm_options,
                   "An sbatch option for every task, as --slurm=--time=1:00:00 (repeatable)")
      ->allow_extra_args(false);
  farm.submit->add_option("--job-dir", s.job_dir,
                          "The job folder, on a filesystem every node sees "
                          "(default: ombrix-farm/EFFECT-TIME)");
  add_common(farm.submit);

  FarmJobOptions& j = farm.job;
  auto job_command = [&](const char* name, const char* what) {
    CLI::App* sub = farm.farm->add_subcommand(name, what);
    sub->add_option("JOB", j.job_dir, "The job folder")->required();
    add_common(sub);
    return sub;
  };
  farm.task = job_command("task", "Render one chunk of a job (what each array task runs)");
  farm.task->add_option("CHUNK", j.task, "The chunk (default: $SLURM_ARRAY_TASK_ID)");
  farm.status = job_command("status", "Frames done, running, pending and failed");
  farm.collect = job_command("collect", "Check every frame against its recorded checksum");
  farm.resubmit = job_command("resubmit", "Submit chunks again: those named, or every one not complete");
  farm.resubmit->add_option("--chunks", j.chunks, "Chunks, as 1,3-5");
  farm.resubmit->add_option("--max-parallel", j.max_parallel, "Tasks running at once (default: as submitted)");
}

int RunFarm(const CommonOptions& common, const FarmCommands& farm) {
  if (*farm.submit) return RunFarmSubmit(common, farm.submit_options);
  if (*farm.task) return RunFarmTask(common, farm.job);
  if (*farm.status) return RunFarmStatus(common, farm.job);
  if (*farm.collect) return RunFarmCollect(common, farm.job);
  return RunFarmResubmit(common, farm.job);
}

}  // namespace ombrix::cli
