// The studio's two background threads: the render worker, which renders
// previews and /api/frame requests one at a time, newest request per page
// first, and the render queue, which writes frame ranges to files. Neither
// knows about the network: they report through callbacks, which the server
// passes on to its I/O thread.
#pragma once

#include "session.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ombrix::studio {

class RenderWorker {
 public:
  // `run` renders, polling `cancel`; `dropped` is called instead when the
  // task is superseded or the worker stops before it started.
  struct Task {
    const void* owner = nullptr;  // a page's socket; null: never superseded
    std::function<void(const std::atomic<bool>& cancel)> run;
    std::function<void()> dropped;
  };

  RenderWorker();
  ~RenderWorker();  // Stop()
  RenderWorker(const RenderWorker&) = delete;
  RenderWorker& operator=(const RenderWorker&) = delete;

  // Queues `task`. A waiting task of the same owner is dropped, and the
  // running one of that owner is asked to cancel: a page's newer preview
  // replaces the one it no longer shows.
  void Submit(Task task);
  // Cancels the owner's tasks (its socket closed).
  void Forget(const void* owner);
  // Cancels everything and joins the thread; later tasks are dropped at once.
  void Stop();

 private:
  void Loop();
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> waiting_;
  const void* running_owner_ = nullptr;
  std::shared_ptr<std::atomic<bool>> running_cancel_;
  bool stopping_ = false;
  std::thread thread_;
};

// Renders of frame ranges to files, one job at a time on a thread of its own.
class RenderQueue {
 public:
  // `changed` receives a job's JSON each time its state or progress changes
  // (on the queue's thread).
  RenderQueue(Session& session, std::function<void(const nlohmann::json&)> changed);
  ~RenderQueue();  // Stop()
  RenderQueue(const RenderQueue&) = delete;
  RenderQueue& operator=(const RenderQueue&) = delete;

  // POST /api/queue {"first", "last", "output", "downsample"?}: {"id"}.
  // UsageError for a bad request.
  nlohmann::json Add(const nlohmann::json& request);
  // GET /api/queue: every job, oldest first.
  nlohmann::json List();
  // POST /api/queue/ID/cancel: the job. Nothing for an unknown id; the job
  // with "finished": true when it had already ended.
  struct CancelResult {
    bool found = false, finished = false;
    nlohmann::json job;
  };
  CancelResult Cancel(int64_t id);
  // Cancels every job and joins the thread.
  void Stop();

 private:
  struct Job;
  static nlohmann::json ToJson(const Job& job);
  void Loop();
  void Run(Job& job);
  void Changed(const Job& job);

  Session& session_;
  std::function<void(const nlohmann::json&)> changed_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::shared_ptr<Job>> jobs_;
  int64_t next_id_ = 1;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace ombrix::studio
