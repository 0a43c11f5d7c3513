#include "workers.h"

#include "../streams.h"

#include <ombrix/host/image_io.h>

#include <algorithm>

namespace ombrix::studio {

RenderWorker::RenderWorker() : thread_([this] { Loop(); }) {}

RenderWorker::~RenderWorker() { Stop(); }

void RenderWorker::Submit(Task task) {
  std::vector<Task> dropped;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) {
      dropped.push_back(std::move(task));
    } else {
      if (task.owner) {
        auto same = [&](const Task& t) { return t.owner == task.owner; };
        for (Task& t : waiting_) {
          if (same(t)) dropped.push_back(std::move(t));
        }
        waiting_.erase(std::remove_if(waiting_.begin(), waiting_.end(), same), waiting_.end());
        if (running_owner_ == task.owner) *running_cancel_ = true;
      }
      waiting_.push_back(std::move(task));
    }
  }
  wake_.notify_one();
  for (Task& t : dropped) t.dropped();
}

void RenderWorker::Forget(const void* owner) {
  std::lock_guard lock(mutex_);
  // The socket is gone: nobody is told.
  waiting_.erase(std::remove_if(waiting_.begin(), waiting_.end(), [&](const Task& t) { return t.owner == owner; }),
                 waiting_.end());
  if (running_owner_ == owner) *running_cancel_ = true;
}

void RenderWorker::Stop() {
  std::deque<Task> dropped;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    dropped.swap(waiting_);
    if (running_cancel_) *running_cancel_ = true;
  }
  wake_.notify_one();
  for (Task& t : dropped) t.dropped();
  if (thread_.joinable()) thread_.join();
}

void RenderWorker::Loop() {
  for (;;) {
    Task task;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || !waiting_.empty(); });
      if (stopping_) return;
      task = std::move(waiting_.front());
      waiting_.pop_front();
      running_owner_ = task.owner;
      running_cancel_ = std::make_shared<std::atomic<bool>>(false);
    }
    task.run(*running_cancel_);
    std::lock_guard lock(mutex_);
    running_owner_ = nullptr;
    running_cancel_.reset();
  }
}

struct RenderQueue::Job {
  int64_t id = 0, first = 0, last = 0;
  std::string output, downsample;
  cli::OutputSpec spec;
  int64_t done = 0;
  std::string state = "queued";  // queued, running, done, failed, cancelled
  std::string error;
  std::atomic<bool> cancel{false};
};

RenderQueue::RenderQueue(Session& session, std::function<void(const nlohmann::json&)> changed)
    : session_(session), changed_(std::move(changed)), thread_([this] { Loop(); }) {}

RenderQueue::~RenderQueue() { Stop(); }

nlohmann::json RenderQueue::ToJson(const Job& job) {
  return {{"id", job.id},       {"first", job.first},
          {"last", job.last},   {"output", job.output},
          {"done", job.done},   {"total", job.last - job.first + 1},
          {"state", job.state}, {"error", job.state == "failed" ? nlohmann::json(job.error) : nlohmann::json(nullptr)}};
}

namespace {

int64_t FrameNumber(const nlohmann::json& request, const char* key) {
  const auto it = request.find(key);
  if (it == request.end() || !it->is_number_integer() || it->get<int64_t>() < 0) {
    throw cli::UsageError(std::string("the render's \"") + key + "\" must be a frame number (0 or more)");
  }
  return it->get<int64_t>();
}

}  // namespace

nlohmann::json RenderQueue::Add(const nlohmann::json& request) {
  if (!request.is_object()) throw cli::UsageError("a render is a JSON object");
  auto job = std::make_shared<Job>();
  job->first = FrameNumber(request, "first");
  job->last = FrameNumber(request, "last");
  if (job->last < job->first) throw cli::UsageError("the render's last frame comes before its first");
  const auto output = request.find("output");
  if (output == request.end() || !output->is_string() || output->get<std::string>().empty()) {
    throw cli::UsageError("the render needs an \"output\" file or pattern");
  }
  job->output = output->get<std::string>();
  const auto downsample = request.find("downsample");
  if (downsample == request.end() || downsample->is_null()) {
    job->downsample = "1/1";
  } else if (downsample->is_string()) {
    job->downsample = downsample->get<std::string>();
  } else {
    throw cli::UsageError("the render's \"downsample\" must be a text such as \"1/2\"");
  }
  try {
    job->spec = cli::ParseOutput(job->output);
  } catch (const HostError& e) {
    throw cli::UsageError(std::string("bad output: ") + e.what());
  }
  if (job->spec.to_stdout()) throw cli::UsageError("the render queue writes files, not standard output");
  if (job->spec.kind != cli::OutputSpec::Kind::kPattern && job->first != job->last) {
    throw cli::UsageError("'" + job->output +
                          "' names one file: a range of frames needs a pattern such as name.####.png");
  }
  std::lock_guard lock(mutex_);
  if (stopping_) throw HostError("the studio is stopping");
  job->id = next_id_++;
  jobs_.push_back(job);
  wake_.notify_one();
  return {{"id", job->id}};
}

nlohmann::json RenderQueue::List() {
  std::lock_guard lock(mutex_);
  nlohmann::json list = nlohmann::json::array();
  for (const auto& job : jobs_) list.push_back(ToJson(*job));
  return list;
}

RenderQueue::CancelResult RenderQueue::Cancel(int64_t id) {
  nlohmann::json changed;
  CancelResult result;
  {
    std::lock_guard lock(mutex_);
    const auto it = std::find_if(jobs_.begin(), jobs_.end(), [&](const auto& job) { return job->id == id; });
    if (it == jobs_.end()) return result;
    Job& job = **it;
    result.found = true;
    result.finished = job.state != "queued" && job.state != "running";
    job.cancel = true;
    // A job still waiting ends here; a running one ends at its next check.
    if (job.state == "queued") {
      job.state = "cancelled";
      changed = ToJson(job);
    }
    result.job = ToJson(job);
  }
  if (!changed.is_null()) changed_(changed);
  return result;
}

void RenderQueue::Stop() {
  std::vector<nlohmann::json> changed;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    for (const auto& job : jobs_) {
      job->cancel = true;
      if (job->state == "queued") {
        job->state = "cancelled";
        changed.push_back(ToJson(*job));
      }
    }
  }
  wake_.notify_one();
  for (const auto& job : changed) changed_(job);
  if (thread_.joinable()) thread_.join();
}

void RenderQueue::Changed(const Job& job) {
  nlohmann::json copy;
  {
    std::lock_guard lock(mutex_);
    copy = ToJson(job);
  }
  changed_(copy);
}

void RenderQueue::Loop() {
  for (;;) {
    std::shared_ptr<Job> job;
    {
      std::unique_lock lock(mutex_);
      auto next = [&] {
        const auto it = std::find_if(jobs_.begin(), jobs_.end(), [](const auto& j) { return j->state == "queued"; });
        return it == jobs_.end() ? nullptr : *it;
      };
      wake_.wait(lock, [&] { return stopping_ || next() != nullptr; });
      if (stopping_) return;
      job = next();
      job->state = "running";
    }
    Changed(*job);
    Run(*job);
    Changed(*job);
  }
}

void RenderQueue::Run(Job& job) {
  std::string state = "done", error;
  for (int64_t frame = job.first; frame <= job.last; ++frame) {
    try {
      const std::optional<Frame> image =
          job.cancel ? std::nullopt : session_.Render(frame, job.downsample, &job.cancel);
      if (!image) {
        state = "cancelled";
        break;
      }
      const std::string path =
          job.spec.kind == cli::OutputSpec::Kind::kPattern ? FramePath(*job.spec.pattern, frame) : job.spec.path;
      session_.WriteFrame(*image, path);
    } catch (const std::exception& e) {
      state = "failed";
      error = e.what();
      break;
    }
    {
      std::lock_guard lock(mutex_);
      ++job.done;
    }
    if (frame < job.last) Changed(job);
  }
  std::lock_guard lock(mutex_);
  job.state = state;
  job.error = error;
}

}  // namespace ombrix::studio
