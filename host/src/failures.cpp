// Failure injection: makes the n-th call of a service answer an error.
//
// Every service call counts itself, per pixel for the samplers and the HLS
// conversions, from all of iterate's threads at once. A counter shared by
// all threads would bounce its cache line between cores on every call, so
// each thread adds (relaxed) to a shard of its own and Calls sums the
// shards. A service with an armed failure still to come is counted under
// the lock instead, which keeps "the n-th call fails" exact. Tallies (the
// per-pixel services inside iterate) add up a band's calls in plain counters
// and hand them to the thread's shard at the end of the band.
#include <ombrix/host/failures.h>
#include <ombrix/host/host_error.h>

#include "service_ids.h"

#include <algorithm>
#include <new>

namespace ombrix {

std::span<const std::string_view> FailureInjector::ServiceNames() { return kServiceNames; }

namespace {

// This thread's shard: threads take shards in turn as they first count.
int ShardOfThisThread(int shards) {
  static std::atomic<unsigned> next{0};
  thread_local const int shard = int(next.fetch_add(1, std::memory_order_relaxed) % unsigned(shards));
  return shard;
}

}  // namespace

int FailureInjector::TotalLocked(int index) const {
  int total = 0;
  for (const Shard& s : shards_) total += s.calls[index].load(std::memory_order_relaxed);
  return total;
}

void FailureInjector::Arm(std::string service, int nth_call, PF_Err err) {
  static_assert(kServiceNames.size() <= kMaxServices);
  const int index = ServiceIndex(service);
  if (index < 0) throw HostError("cannot inject a failure into unknown service '" + service + "'");
  if (nth_call < 1) throw HostError("failure injection: call number must be 1 or more");
  std::lock_guard lock(mutex_);
  armed_.push_back(Arm_{index, TotalLocked(index) + nth_call, err});
  armed_mask_.fetch_or(1u << index, std::memory_order_seq_cst);
}

void FailureInjector::Clear() {
  std::lock_guard lock(mutex_);
  for (Shard& s : shards_)
    for (auto& c : s.calls) c.store(0, std::memory_order_relaxed);
  armed_.clear();
  armed_mask_.store(0, std::memory_order_seq_cst);
  oom_countdown_ = 0;
  oom_armed_.store(false, std::memory_order_seq_cst);
}

void FailureInjector::ArmOutOfMemory(int nth_allocation) {
  if (nth_allocation < 1) throw HostError("failure injection: allocation number must be 1 or more");
  std::lock_guard lock(mutex_);
  oom_countdown_ = nth_allocation;
  oom_armed_.store(true, std::memory_order_seq_cst);
}

void FailureInjector::AllocatingArmed() {
  {
    std::lock_guard lock(mutex_);
    if (oom_countdown_ <= 0 || --oom_countdown_ > 0) return;
    oom_armed_.store(false, std::memory_order_seq_cst);
  }
  throw std::bad_alloc();
}

void FailureInjector::Tally::Flush() {
  Shard& shard = failures_.shards_[ShardOfThisThread(kShards)];
  for (int i = 0; i < kMaxServices; ++i)
    if (pending_[i]) {
      shard.calls[i].fetch_add(pending_[i], std::memory_order_relaxed);
      pending_[i] = 0;
    }
}

PF_Err FailureInjector::Check(std::string_view service) { return Check(ServiceIndex(service)); }

PF_Err FailureInjector::Check(int index) {
  if (index < 0 || index >= int(kServiceNames.size())) return PF_Err_NONE;
  if (armed_mask_.load(std::memory_order_acquire) & (1u << index)) return CheckArmed(index);
  shards_[ShardOfThisThread(kShards)].calls[index].fetch_add(1, std::memory_order_relaxed);
  return PF_Err_NONE;
}

PF_Err FailureInjector::CheckArmed(int index) {
  std::lock_guard lock(mutex_);
  const int n = TotalLocked(index) + 1;
  shards_[ShardOfThisThread(kShards)].calls[index].fetch_add(1, std::memory_order_relaxed);
  PF_Err answer = PF_Err_NONE;
  bool pending = false;  // an arm of this service still to come
  for (const Arm_& arm : armed_) {
    if (arm.service != index) continue;
    if (arm.nth == n && answer == PF_Err_NONE) answer = arm.err;
    if (arm.nth > n) pending = true;
  }
  // Arms whose call has passed can never fire again (counts only grow until
  // Clear, which drops all arms); once none is left the service goes back
  // to counting without the lock.
  std::erase_if(armed_, [&](const Arm_& arm) { return arm.service == index && arm.nth <= n; });
  if (!pending) armed_mask_.fetch_and(~(1u << index), std::memory_order_seq_cst);
  return answer;
}

int FailureInjector::Calls(std::string_view service) const {
  const int index = ServiceIndex(service);
  if (index < 0) return 0;
  std::lock_guard lock(mutex_);
  return TotalLocked(index);
}

}  // namespace ombrix
