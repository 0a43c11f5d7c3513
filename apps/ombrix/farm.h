// `ombrix farm`: a render split into chunks of frames, one Slurm array task
// per chunk, with a job folder on a shared filesystem that holds what the
// tasks need and what they report:
//
//   DIR/job.json          the render's arguments, frames, chunk size, the
//                         working folder, the ombrix program and the plug-in
//                         folder with every .aex file's name, size and SHA-256
//   DIR/job.sbatch        the batch script: `ombrix farm task DIR`
//   DIR/sequence-data     a copy of --sequence-data, when given
//   DIR/slurm-jobs        one line per submission: JOBID ARRAY
//   DIR/chunks/K          task K's state: running, done, or failed: REASON
//   DIR/frames/N          frame N's size and SHA-256, recorded by its task
//   DIR/logs/JOBID_K.out  task K's output
#pragma once

#include "commands.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ombrix::cli {

// ---- Pieces without side effects (farm_plan.cpp) -------------------------

struct Chunk {
  int64_t first, last;
};
// Chunk `k` of the frames first..last cut every `size` frames.
int64_t ChunkCount(int64_t first, int64_t last, int64_t size);
Chunk ChunkFrames(int64_t first, int64_t last, int64_t size, int64_t k);
// Sorted chunk indices as Slurm's --array takes them: "0-4", "1,3-5".
std::string ArrayIndices(const std::vector<int64_t>& chunks);
// "1,3-5" back to indices below `count`; throws UsageError for anything else.
std::vector<int64_t> ParseChunkList(const std::string& text, int64_t count);

// `text` quoted for a POSIX shell when it needs it.
std::string ShellQuote(const std::string& text);
std::string ShellCommand(const std::vector<std::string>& argv);

// The command-line arguments that give `o` to `ombrix render` (EFFECT first).
std::vector<std::string> RenderArgs(const RenderOptions& o);

// One .aex file of the plug-in folder as the job recorded it.
struct PluginIdentity {
  std::string name;
  uint64_t size = 0;
  std::string sha256;
  bool operator==(const PluginIdentity&) const = default;
};
// What differs between the recorded files and those found, one line each
// ("mistform.aex: changed (size 100, was 90)", "...: missing", "...: added").
std::vector<std::string> IdentityChanges(const std::vector<PluginIdentity>& recorded,
                                         const std::vector<PluginIdentity>& found);

// A chunk's state in the scheduler, from squeue or sacct lines "JOBID_TASK|STATE"
// of the job's submissions (later submissions win). Lines of other jobs,
// or for tasks not yet split out of their array ("12_[3-5]"), are read too.
std::map<int64_t, std::string> QueueStates(const std::vector<std::string>& job_ids, const std::string& lines);

enum class ChunkState { kDone, kRunning, kPending, kFailed };
struct ChunkView {
  int64_t recorded = 0;     // frames of the chunk with a checksum recorded
  int64_t frames = 0;       // frames in the chunk
  std::string task_state;   // the task's own word: "", "running", "done", "failed: ..."
  std::string queue_state;  // Slurm's: "" when the queue does not know it
  std::string accounting;   // sacct's, "" when there is none
  bool queue_known = true;  // false when squeue could not be asked
};
// Done when every frame is recorded; running or pending while the queue
// says so; failed when the task or the accounting says so, or when the
// queue no longer holds a chunk that is not done.
ChunkState Classify(const ChunkView& v);

// The batch script run by every array task.
struct ScriptSettings {
  std::string job_name, job_dir, work_dir, ombrix;
  std::string partition;
  std::vector<std::string> slurm_options;  // written as #SBATCH lines
};
std::string BatchScript(const ScriptSettings& s);

// ---- The commands (farm.cpp) --------------------------------------------

struct FarmSubmitOptions {
  RenderOptions render;
  int64_t chunk = 10;
  std::string partition;
  int max_parallel = 0;                    // 0: no limit
  std::vector<std::string> slurm_options;  // passed to sbatch, as #SBATCH lines
  std::string job_dir;                     // empty: ombrix-farm/EFFECT-TIME
};
struct FarmJobOptions {
  std::string job_dir;
  std::string chunks;  // resubmit: "1,3-5"; empty: every chunk not complete
  int max_parallel = 0;
  int64_t task = -1;  // task: the chunk; -1: $SLURM_ARRAY_TASK_ID
};

struct FarmCommands {
  CLI::App* farm = nullptr;
  CLI::App *submit = nullptr, *task = nullptr, *status = nullptr, *collect = nullptr, *resubmit = nullptr;
  FarmSubmitOptions submit_options;
  FarmJobOptions job;
};
void AddFarmCommands(CLI::App& app, FarmCommands& farm, CommonOptions& common);
int RunFarm(const CommonOptions& common, const FarmCommands& farm);

// The subcommands, and what they share (farm_report.cpp holds status and collect).
int RunFarmSubmit(const CommonOptions& common, const FarmSubmitOptions& o);
int RunFarmTask(const CommonOptions& common, const FarmJobOptions& o);
int RunFarmStatus(const CommonOptions& common, const FarmJobOptions& o);
int RunFarmCollect(const CommonOptions& common, const FarmJobOptions& o);
int RunFarmResubmit(const CommonOptions& common, const FarmJobOptions& o);

// A job folder read back.
struct FarmJob {
  std::string dir;
  nlohmann::json record;  // job.json
  int64_t first = 0, last = 0, chunk = 1, chunks = 1;
  std::vector<std::string> slurm_jobs;  // every submission's job id, oldest first
};
FarmJob ReadFarmJob(const std::string& dir);

// A frame's check against the checksum its task recorded.
enum class FrameCheck { kGood, kUnrecorded, kMissing, kDamaged };
FrameCheck CheckFrame(const FarmJob& job, int64_t frame);
// The frame's file, with the working folder of the submission applied.
std::string FrameFile(const FarmJob& job, int64_t frame);
// Frames recorded in the chunk.
int64_t RecordedFrames(const FarmJob& job, const Chunk& c);
std::string ChunkTaskState(const FarmJob& job, int64_t k);

struct ProgramResult {
  int status = -1;  // the exit status; -1 when it could not run or was killed
  std::string out, err;
};
// Runs `argv` (searched on PATH) and collects its output.
ProgramResult RunProgram(const std::vector<std::string>& argv);

// What Slurm says of the job's chunks: squeue's states of chunks queued or
// running, sacct's of every chunk when accounting is kept.
struct QueueView {
  std::map<int64_t, std::string> states, accounting;
  bool known = true;  // false when squeue could not be asked
};
QueueView AskQueue(const FarmJob& job);

// Submits the job's batch script for `chunks`; records and returns the job id.
std::string SubmitChunks(const FarmJob& job, const std::vector<int64_t>& chunks, int max_parallel);

}  // namespace ombrix::cli
