// The worker threads behind iterate and the smoothing routine.
#pragma once

#include <functional>
#include <memory>

namespace ombrix {

class FailureInjector;

// A fixed set of worker threads running submitted tasks in order of
// submission. Tasks must not wait on other tasks.
class ThreadPool {
 public:
  // 0 threads: all cores. Each Submit counts as an allocating step of
  // `failures` (see FailureInjector::ArmOutOfMemory), when given.
  explicit ThreadPool(int threads, FailureInjector* failures = nullptr);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;
  int size() const;
  // Throws std::bad_alloc when the task cannot be queued.
  void Submit(std::function<void()> task);
  // Runs task(0) .. task(count - 1) on the workers and waits for all of
  // them (in order on this thread with one worker, or when called from a
  // worker). Tasks must not throw. When the work cannot be handed out
  // (std::bad_alloc), the tasks already started finish before the
  // exception leaves, so none outlives the call.
  void ForEach(int count, const std::function<void(int)>& task);
  // True on the pool's own worker threads.
  static bool OnWorker();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  FailureInjector* failures_ = nullptr;
};

}  // namespace ombrix
