// The worker threads behind iterate and the smoothing routine.
#include <ombrix/host/failures.h>
#include <ombrix/host/thread_pool.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace ombrix {
namespace {
thread_local bool tls_on_worker = false;
}

struct ThreadPool::Impl {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::function<void()>> queue;
  std::vector<std::thread> workers;
  bool stopping = false;

  void Work() {
    tls_on_worker = true;
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock lock(mutex);
        wake.wait(lock, [&] { return stopping || !queue.empty(); });
        if (queue.empty()) return;
        task = std::move(queue.front());
        queue.pop_front();
      }
      task();
    }
  }
};

ThreadPool::ThreadPool(int threads, FailureInjector* failures) : impl_(std::make_unique<Impl>()), failures_(failures) {
  if (threads <= 0) threads = int(std::max(1u, std::thread::hardware_concurrency()));
  impl_->workers.reserve(size_t(threads));
  for (int i = 0; i < threads; ++i) impl_->workers.emplace_back([this] { impl_->Work(); });
}

ThreadPool::~ThreadPool() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->wake.notify_all();
  for (auto& t : impl_->workers) t.join();
}

int ThreadPool::size() const { return int(impl_->workers.size()); }

void ThreadPool::Submit(std::function<void()> task) {
  if (failures_) failures_->Allocating();
  {
    std::lock_guard lock(impl_->mutex);
    impl_->queue.push_back(std::move(task));
  }
  impl_->wake.notify_one();
}

void ThreadPool::ForEach(int count, const std::function<void(int)>& task) {
  const int workers = std::min(size(), count);
  if (workers <= 1 || OnWorker()) {
    for (int i = 0; i < count; ++i) task(i);
    return;
  }
  struct State {
    std::atomic<int> next{0};
    std::mutex mutex;
    std::condition_variable finished;
    int active = 0;
  };
  auto state = std::make_shared<State>();
  auto wait_all = [&] {
    std::unique_lock lock(state->mutex);
    state->finished.wait(lock, [&] { return state->active == 0; });
  };
  for (int t = 0; t < workers; ++t) {
    {
      std::lock_guard lock(state->mutex);
      ++state->active;
    }
    try {
      Submit([state, &task, count] {
        for (int i = state->next.fetch_add(1); i < count; i = state->next.fetch_add(1)) task(i);
        std::lock_guard lock(state->mutex);
        if (--state->active == 0) state->finished.notify_all();
      });
    } catch (...) {
      {
        std::lock_guard lock(state->mutex);
        --state->active;
      }
      // The tasks already queued refer to `task`: they take no more items
      // and are waited for before the failure goes up.
      state->next.store(count);
      wait_all();
      throw;
    }
  }
  wait_all();
}

bool ThreadPool::OnWorker() { return tls_on_worker; }

}  // namespace ombrix
