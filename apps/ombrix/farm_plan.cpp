// The parts of `ombrix farm` that only compute: chunks, array specs, the
// render's arguments, the batch script, and what the queue's answers mean.
#include "farm.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <set>
#include <sstream>

namespace ombrix::cli {
namespace {

bool ReadInt(std::string_view s, int64_t& v) {
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return !s.empty() && ec == std::errc() && ptr == s.data() + s.size();
}

// "3-5,7" (a Slurm array's index list, without its "%N" limit) into `out`.
bool ReadIndexList(std::string_view list, std::vector<int64_t>& out) {
  while (!list.empty()) {
    const size_t comma = list.find(',');
    const std::string_view item = list.substr(0, comma);
    const size_t dash = item.find('-');
    int64_t a = 0, b = 0;
    if (!ReadInt(item.substr(0, dash), a) || a < 0) return false;
    b = a;
    if (dash != std::string_view::npos && (!ReadInt(item.substr(dash + 1), b) || b < a)) return false;
    if (b - a > 1000000) return false;
    for (int64_t i = a; i <= b; ++i) out.push_back(i);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return true;
}

bool OneOf(const std::string& state, std::initializer_list<const char*> words) {
  return std::any_of(words.begin(), words.end(), [&](const char* w) { return state == w; });
}

}  // namespace

int64_t ChunkCount(int64_t first, int64_t last, int64_t size) { return (last - first) / size + 1; }

Chunk ChunkFrames(int64_t first, int64_t last, int64_t size, int64_t k) {
  const int64_t a = first + k * size;
  return {a, std::min(last, a + size - 1)};
}

std::string ArrayIndices(const std::vector<int64_t>& chunks) {
  std::string out;
  for (size_t i = 0; i < chunks.size();) {
    size_t j = i;
    while (j + 1 < chunks.size() && chunks[j + 1] == chunks[j] + 1) ++j;
    if (!out.empty()) out += ',';
    out += std::to_string(chunks[i]);
    if (j > i) out += '-' + std::to_string(chunks[j]);
    i = j + 1;
  }
  return out;
}

std::vector<int64_t> ParseChunkList(const std::string& text, int64_t count) {
  std::vector<int64_t> chunks;
  if (text.empty() || !ReadIndexList(text, chunks)) {
    throw UsageError("bad --chunks '" + text + "' (expected chunk numbers such as 1,3-5)");
  }
  for (int64_t k : chunks) {
    if (k >= count) {
      throw UsageError("bad --chunks '" + text + "': the job has chunks 0.." + std::to_string(count - 1));
    }
  }
  std::sort(chunks.begin(), chunks.end());
  chunks.erase(std::unique(chunks.begin(), chunks.end()), chunks.end());
  return chunks;
}

std::string ShellQuote(const std::string& text) {
  const bool plain = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("-_./=:,@%+", c);
  });
  if (plain) return text;
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string ShellCommand(const std::vector<std::string>& argv) {
  std::string out;
  for (const std::string& a : argv) out += (out.empty() ? "" : " ") + ShellQuote(a);
  return out;
}

std::vector<std::string> RenderArgs(const RenderOptions& o) {
  const RenderOptions d;  // the defaults are left out
  std::vector<std::string> a = {o.effect, "-i", o.input, "-o", o.output};
  auto add = [&](const char* name, const std::string& value, const std::string& fallback) {
    if (value != fallback) a.insert(a.end(), {name, value});
  };
  auto add_all = [&](const char* name, const std::vector<std::string>& values) {
    for (const std::string& v : values) a.insert(a.end(), {name, v});
  };
  add_all("-p", o.params);
  add_all("-k", o.keys);
  add_all("--dialog", o.dialog);
  add_all("--layer", o.layers);
  add("--sequence-data", o.sequence_data, d.sequence_data);
  add("--save-sequence-data", o.save_sequence_data, d.save_sequence_data);
  add("--registry", o.registry, d.registry);
  if (o.time) {
    std::ostringstream s;
    s.precision(17);
    s << *o.time;
    a.insert(a.end(), {"--time", s.str()});
  }
  add("--frame", o.frame, d.frame);
  add("--fps", o.fps, d.fps);
  add("--frames", o.frames, d.frames);
  if (o.time_scale) a.insert(a.end(), {"--time-scale", std::to_string(*o.time_scale)});
  add("--quality", o.quality, d.quality);
  add("--threads", std::to_string(o.threads), std::to_string(d.threads));
  add("--pad-rows", std::to_string(o.pad_rows), std::to_string(d.pad_rows));
  add("--downsample", o.downsample, d.downsample);
  add("--pixel-aspect", o.pixel_aspect, d.pixel_aspect);
  add("--exr-values", o.exr_values, d.exr_values);
  add("--out-depth", o.out_depth, d.out_depth);
  add("--compression", o.compression, d.compression);
  add("--host-tool", std::to_string(o.host_tool), std::to_string(d.host_tool));
  add("--checksums", o.checksums, d.checksums);
  return a;
}

std::vector<std::string> IdentityChanges(const std::vector<PluginIdentity>& recorded,
                                         const std::vector<PluginIdentity>& found) {
  std::vector<std::string> changes;
  auto find = [](const std::vector<PluginIdentity>& list, const std::string& name) {
    return std::find_if(list.begin(), list.end(), [&](const PluginIdentity& p) { return p.name == name; });
  };
  for (const PluginIdentity& r : recorded) {
    auto f = find(found, r.name);
    if (f == found.end()) {
      changes.push_back(r.name + ": missing");
    } else if (f->size != r.size) {
      changes.push_back(r.name + ": changed (size " + std::to_string(f->size) + ", was " + std::to_string(r.size) +
                        ")");
    } else if (f->sha256 != r.sha256) {
      changes.push_back(r.name + ": changed (same size, other contents)");
    }
  }
  for (const PluginIdentity& f : found) {
    if (find(recorded, f.name) == recorded.end()) changes.push_back(f.name + ": added");
  }
  return changes;
}

std::map<int64_t, std::string> QueueStates(const std::vector<std::string>& job_ids, const std::string& lines) {
  std::map<int64_t, std::string> states;
  for (const std::string& id : job_ids) {
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);) {
      const size_t bar = line.find('|');
      if (bar == std::string::npos || line.compare(0, id.size() + 1, id + "_") != 0) continue;
      std::string_view tasks = std::string_view(line).substr(id.size() + 1, bar - id.size() - 1);
      std::string state = line.substr(bar + 1);
      state = state.substr(0, state.find_first_of(" |"));  // "CANCELLED by 0"
      if (tasks.size() >= 2 && tasks.front() == '[' && tasks.back() == ']') {
        tasks = tasks.substr(1, tasks.size() - 2);
        tasks = tasks.substr(0, tasks.find('%'));
      }
      std::vector<int64_t> indices;
      if (!ReadIndexList(tasks, indices)) continue;
      for (int64_t k : indices) states[k] = state;
    }
  }
  return states;
}

ChunkState Classify(const ChunkView& v) {
  if (OneOf(v.queue_state, {"RUNNING", "COMPLETING", "CONFIGURING", "STAGE_OUT", "SIGNALING"})) {
    return ChunkState::kRunning;
  }
  if (OneOf(v.queue_state, {"PENDING", "REQUEUED", "REQUEUE_HOLD", "REQUEUE_FED", "RESIZING", "SUSPENDED", "STOPPED",
                            "RESV_DEL_HOLD", "SPECIAL_EXIT"})) {
    return ChunkState::kPending;
  }
  if (v.recorded == v.frames) return ChunkState::kDone;
  if (v.task_state.rfind("failed", 0) == 0) return ChunkState::kFailed;
  if (OneOf(v.accounting,
            {"FAILED", "CANCELLED", "TIMEOUT", "NODE_FAIL", "OUT_OF_MEMORY", "BOOT_FAIL", "DEADLINE", "PREEMPTED"})) {
    return ChunkState::kFailed;
  }
  if (!v.queue_known) return v.task_state == "running" ? ChunkState::kRunning : ChunkState::kPending;
  return ChunkState::kFailed;  // gone from the queue, not done
}

std::string BatchScript(const ScriptSettings& s) {
  auto line = [](const std::string& option, const std::string& value) {
    const bool spaces = value.find_first_of(" \t") != std::string::npos;
    return "#SBATCH " + option + (spaces ? "=\"" + value + "\"\n" : "=" + value + "\n");
  };
  std::string script = "#!/bin/sh\n# ombrix farm: each array task renders one chunk of the job's frames.\n";
  script += line("--job-name", s.job_name);
  script += line("--output", s.job_dir + "/logs/%A_%a.out");
  script += line("--chdir", s.work_dir);
  script += "#SBATCH --requeue\n#SBATCH --open-mode=append\n";
  if (!s.partition.empty()) script += line("--partition", s.partition);
  for (const std::string& option : s.slurm_options) script += "#SBATCH " + option + "\n";
  script += "exec " + ShellCommand({s.ombrix, "farm", "task", s.job_dir}) + "\n";
  return script;
}

}  // namespace ombrix::cli
