// The session: effects on offer, the project's state, opening and saving,
// and renders of snapshots.
#include "session.h"

#include "composite.h"
#include "session_state.h"

#include <ombrix/host/image_io.h>
#include <ombrix/platform/files.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace ombrix::studio {
namespace {

using nlohmann::json;

// The options dialog as `info --json` describes it, with "has_dialog".
json DialogDetails(const json& info) {
  const json& dialog = info["options_dialog"];
  if (dialog.is_null()) return json{{"has_dialog", false}, {"title", ""}, {"controls", json::array()}};
  json j = dialog;
  j["has_dialog"] = true;
  return j;
}

// A temporary file of that extension, removed when this goes.
class TempFile {
 public:
  explicit TempFile(const char* extension) {
    std::string pattern = (std::filesystem::temp_directory_path() / "ombrix-studio-XXXXXX").string() + extension;
    const int fd = ::mkstemps(pattern.data(), int(std::strlen(extension)));
    if (fd < 0) throw HostError("cannot make a temporary file for the image: " + std::string(std::strerror(errno)));
    ::close(fd);
    path_ = pattern;
  }
  ~TempFile() { ::unlink(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

Session::Session(const cli::CommonOptions& common, const std::optional<std::string>& project_path)
    : state_(std::make_unique<SessionState>(common)) {
  if (project_path)
    Open(*project_path);
  else
    New();
}

Session::~Session() = default;

json Session::Effects() {
  json list = json::array();
  for (const PluginFile& p : state_->catalog.scan().plugins) {
    list.push_back({{"name", p.short_name}, {"display_name", p.pipl.display_name}, {"category", p.pipl.category}});
  }
  return list;
}

json Session::EffectDetails(const std::string& name) {
  SessionState& s = *state_;
  Effect& effect = s.catalog.Get(name);
  std::lock_guard lock(s.dialog_mutex);
  json j;
  j["info"] = json(cli::EffectInfoJson(effect.file(), effect));
  j["about"] = cli::AboutText(effect, false).text;
  j["dialog"] = DialogDetails(j["info"]);
  return j;
}

json Session::State() {
  std::lock_guard lock(state_->mutex);
  return StateJson(*state_);
}

json StateJson(SessionState& s) {
  return json{{"project", json(ProjectToJson(s.project))},
              {"path", s.path ? json(*s.path) : json(nullptr)},
              {"dirty", ProjectText(s.project) != s.saved_text},
              {"can_undo", !s.undo.empty()},
              {"can_redo", !s.redo.empty()},
              {"revision", s.revision}};
}

namespace {

// A project replaces the current one with a history of its own.
json Replace(SessionState& s, Project project, std::optional<std::string> path) {
  std::lock_guard lock(s.mutex);
  s.project = std::move(project);
  s.path = std::move(path);
  s.saved_text = ProjectText(s.project);
  s.undo.clear();
  s.redo.clear();
  s.merge_key.clear();
  ++s.revision;
  return StateJson(s);
}

}  // namespace

json Session::New() { return Replace(*state_, Project(), std::nullopt); }

json Session::Open(const std::string& path) {
  SessionState& s = *state_;
  const std::string what = "cannot open '" + path + "': ";
  const std::vector<uint8_t> bytes =
      cli::ReadRegularFile(path, what, kMaxProjectBytes, "larger than a project file can be");
  Project project;
  try {
    project = ParseProject(std::string(bytes.begin(), bytes.end()), s.catalog);
  } catch (const UsageError& e) {
    throw UsageError(what + e.what());
  }
  return Replace(s, std::move(project), path);
}

json Session::Save(const std::optional<std::string>& path) {
  SessionState& s = *state_;
  std::lock_guard lock(s.mutex);
  const std::optional<std::string> target = path ? path : s.path;
  if (!target || target->empty()) throw UsageError("the project has no file yet: save it with a path");
  if (const std::string problem = platform::ReplaceProblem(*target); !problem.empty()) {
    throw UsageError("cannot save '" + *target + "': " + problem);
  }
  const std::string text = ProjectText(s.project);
  cli::ReplaceFile(*target, "cannot save '" + *target + "': ", text.data(), text.size());
  s.path = *target;
  s.saved_text = text;
  ++s.revision;
  return StateJson(s);
}

int64_t Session::revision() {
  std::lock_guard lock(state_->mutex);
  return state_->revision;
}

std::optional<Frame> Session::Render(int64_t frame, const std::string& downsample, const std::atomic<bool>* cancel) {
  Project snapshot;
  {
    std::lock_guard lock(state_->mutex);
    snapshot = state_->project;
  }
  return RenderProject(*state_, snapshot, frame, downsample, cancel);
}

void Session::WriteFrame(const Frame& frame, const std::string& path) {
  if (!IsWritableImagePath(path)) {
    throw UsageError("cannot write '" + path + "': not an image file name (png, exr, tif, tiff, jpg, jpeg)");
  }
  WriteImage(path, WorldOf(frame).pf());
}

std::vector<uint8_t> Session::EncodePng(const Frame& frame) {
  TempFile file(".png");
  WriteImage(file.path(), WorldOf(frame).pf());
  std::ifstream in(file.path(), std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace ombrix::studio
