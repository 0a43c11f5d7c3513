// The studio's open project: the project model, its edits and undo, and
// renders of its composition. Everything the server does to a project goes
// through a Session; the server itself only moves requests and bytes.
//
// A Session is safe to use from several threads: edits, undo, saving and
// opening are serialised, and a render works on a snapshot of the project
// taken when it starts, so an edit never waits for a render to finish.
#pragma once

#include "../commands.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ombrix::studio {

// A rendered composition: 8-bit straight-alpha RGBA, rows packed.
struct Frame {
  A_long width = 0, height = 0;
  std::vector<uint8_t> rgba;
};

// What a Session holds (studio/session_state.h).
struct SessionState;

class Session {
 public:
  // Scans the plug-in folder; opens `project_path` when given (UsageError
  // for a file that is not a valid project), else starts a new project.
  Session(const cli::CommonOptions& common, const std::optional<std::string>& project_path);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // GET /api/effects and GET /api/effects/NAME (UsageError: no such effect).
  nlohmann::json Effects();
  nlohmann::json EffectDetails(const std::string& name);

  // The state: {"project", "path", "dirty", "can_undo", "can_redo", "revision"}.
  nlohmann::json State();
  // One edit (docs/studio.md). UsageError for a bad edit, with the project
  // unchanged; HostError when the host or an effect fails.
  nlohmann::json Edit(const nlohmann::json& edit);
  nlohmann::json Undo();
  nlohmann::json Redo();
  nlohmann::json New();
  nlohmann::json Open(const std::string& path);
  nlohmann::json Save(const std::optional<std::string>& path);
  int64_t revision();

  // The composition at `frame`, downsampled by `downsample` ("N/D").
  // Returns nothing when `cancel` became true before it finished.
  std::optional<Frame> Render(int64_t frame, const std::string& downsample, const std::atomic<bool>* cancel);
  // The frame written to `path` in the format its extension names, as
  // `ombrix render` writes it (atomically).
  void WriteFrame(const Frame& frame, const std::string& path);
  // The frame as PNG bytes.
  std::vector<uint8_t> EncodePng(const Frame& frame);

 private:
  std::unique_ptr<SessionState> state_;
};

}  // namespace ombrix::studio
