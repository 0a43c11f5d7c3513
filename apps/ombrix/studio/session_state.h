// What a Session holds, shared by its parts: the project and its history
// (edits.cpp), the renderer and its live instances (renderer.cpp).
#pragma once

#include "project.h"
#include "session.h"

#include <ombrix/host/instance.h>

#include <deque>
#include <mutex>

namespace ombrix::studio {

// Undo keeps at most this many steps.
inline constexpr size_t kUndoDepth = 200;

// An instance kept across renders, with what it was made for; it is made
// anew when any of these change.
struct LiveInstance {
  std::string effect;
  std::optional<std::vector<uint8_t>> sequence_data;
  A_long width = 0, height = 0;
  std::string fps;
  std::unique_ptr<Instance> instance;
  std::vector<ParamValue> defaults;  // every parameter's value when it was made
};

// The renderer's caches, used under `render_mutex` only.
struct RenderCache {
  std::map<std::string, LiveInstance> instances;  // by effect entry id
  std::map<std::string, ImageSource> sources;     // by source text
  std::map<std::string, World> stills;            // sources that do not change over time
};

struct SessionState {
  explicit SessionState(const cli::CommonOptions& c) : common(c), catalog(c) {}

  cli::CommonOptions common;
  Catalog catalog;

  // The project and its history; every change holds `mutex`.
  std::mutex mutex;
  Project project;
  std::optional<std::string> path;
  std::string saved_text;  // the project as last saved or opened ("" for a new one)
  std::deque<Project> undo, redo;
  std::string merge_key;  // the parameter the last step set with merge, "" when none
  int64_t revision = 0;
  int next_id = 1;

  // Renders, one at a time.
  std::mutex render_mutex;
  RenderCache cache;
  const std::atomic<bool>* cancel = nullptr;  // the running render's

  // Options dialogs and the inspection of one drive the platform's dialog
  // scripts, which are one for the process.
  std::mutex dialog_mutex;
};

// The state the page is sent: {"project", "path", "dirty", "can_undo", "can_redo", "revision"}.
nlohmann::json StateJson(SessionState& s);

// A new id for a layer or effect entry, unused in `project`.
std::string NewId(SessionState& s, const char* prefix);

// The render of a snapshot (renderer.cpp). Nothing when `cancel` became true.
std::optional<Frame> RenderProject(SessionState& s, const Project& project, int64_t frame,
                                   const std::string& downsample, const std::atomic<bool>* cancel);

// Sets an instance's parameters to what the entry says (layer parameters bound).
void ApplyParams(Instance& instance, const Effect& effect, const EffectEntry& entry,
                 const std::vector<ParamValue>& defaults, A_long width, A_long height, const TimeBase& tb,
                 const FrameRate& rate);

// An instance of the entry's effect with its stored sequence data; HostError
// when its sequence setup fails.
std::unique_ptr<Instance> MakeInstance(Effect& effect, const EffectEntry& entry, const TimeBase& tb, A_long width,
                                       A_long height);

TimeBase CompositionTimeBase(const Composition& c);

}  // namespace ombrix::studio
