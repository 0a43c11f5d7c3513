// Failure injection: makes chosen service calls fail, for tests and for
// trying how plug-ins cope.
#pragma once

#include <pf/api.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix {

// The n-th call (1-based) of a named service answers err.
// Service names: "add_param", "checkout_param", "checkin_param", "abort",
// "progress", "iterate", "copy", "fill", "new_world", "dispose_world",
// "subpixel_sample", "area_sample", "new_handle", "lock_handle",
// "resize_handle", "get_callback_addr", "get_platform_data", "RGBtoHLS",
// "HLStoRGB", "register_ui", "acquire_suite", "smooth" (the smoothing
// routine of get_callback_addr). A failing new_handle answers NULL and a failing
// lock_handle NULL; the others answer err. The basic suite's block
// services are "allocate_block" and "reallocate_block"; besides
// "acquire_suite" (which then also hands out NULL) it has "release_suite".
// The calls of the host suites are "font_style_sheet" (the app suite's
// style sheets), "current_tool" (the helper suite) and "refresh_windows"
// (the advanced app suite).
// The count for an armed failure starts at the Arm call: nth_call 1 fails
// the next call. Arm throws HostError for a name not in ServiceNames().
// Thread-safe: services may be called from iterate's worker threads.
// Counting is cheap and exact: each thread adds to counters of its own
// (summed by Calls), and only calls of a service with an armed failure still
// to come take a lock, so that exactly the n-th of them fails. With one
// thread that is the n-th call in program order; with several it is the
// n-th to reach the lock (which pixel that is may differ from run to run).
// Arm and Clear between commands, not while services run.
//
// Running out of memory is injected apart from that: ArmOutOfMemory makes
// the n-th allocating step of the services throw std::bad_alloc where the
// memory would have been taken, which the services answer with
// PF_Err_OUT_OF_MEMORY (or NULL, for new_handle).
class FailureInjector {
  static constexpr int kMaxServices = 32;

 public:
  void Arm(std::string service, int nth_call, PF_Err err);
  void Clear();  // disarms everything, out of memory included, and resets the counts
  // Counts one call of `service`; returns the armed error on the armed call, else 0.
  PF_Err Check(std::string_view service);
  // The same by position in ServiceNames() (the host's services pass
  // positions fixed when they are compiled); other positions answer 0.
  PF_Err Check(int service_index);
  int Calls(std::string_view service) const;
  static std::span<const std::string_view> ServiceNames();

  // The n-th allocating step from now on (1: the next) throws std::bad_alloc.
  // The steps are those where the services take memory for a plug-in: a
  // handle, world, block or checked-out layer, a handle's or block's new
  // size, the scratch of a scaled copy or of smoothing, and iterate's shared
  // state and each task it hands to a worker (ThreadPool::Submit).
  void ArmOutOfMemory(int nth_allocation);
  // True while the allocation armed by ArmOutOfMemory is still to come.
  bool OutOfMemoryArmed() const { return oom_armed_.load(std::memory_order_acquire); }
  // Called by each allocating step before it allocates; throws on the armed
  // one. Nothing armed: one relaxed load.
  void Allocating() {
    if (oom_armed_.load(std::memory_order_relaxed)) AllocatingArmed();
  }

  // The counting of one thread's run of calls, as iterate's bands count the
  // per-pixel services: the calls add to plain counters of the tally, handed
  // to the thread's shard by Flush (and when the tally ends), so a call costs
  // no atomic operation. A service with an armed failure still to come is
  // checked call by call under the lock, as Check does, so the n-th call
  // still fails exactly: arms only change between commands, and a tally
  // lives within one. Calls counts a tally's calls once it is flushed.
  class Tally {
   public:
    explicit Tally(FailureInjector& failures)
        : failures_(failures), armed_at_start_(failures.armed_mask_.load(std::memory_order_acquire)) {}
    ~Tally() { Flush(); }
    Tally(const Tally&) = delete;
    Tally& operator=(const Tally&) = delete;
    // `service_index` must be a position in ServiceNames().
    PF_Err Check(int service_index) {
      if (failures_.armed_mask_.load(std::memory_order_acquire) & (1u << service_index))
        return failures_.CheckArmed(service_index);
      ++pending_[service_index];
      return PF_Err_NONE;
    }
    // Counts the call and answers true when `service_index` had no armed
    // failure to come as the tally began (arms do not change while it
    // lives, so none can fire); false, counting nothing, when it had: the
    // call is then to be checked with Check.
    bool CountUnarmed(int service_index) {
      if (armed_at_start_ & (1u << service_index)) return false;
      ++pending_[service_index];
      return true;
    }
    void Flush();

   private:
    FailureInjector& failures_;
    const uint32_t armed_at_start_;  // armed_mask_ when the tally began
    int pending_[kMaxServices] = {};
  };

 private:
  struct Arm_ {
    int service;
    int nth;
    PF_Err err;
  };
  static constexpr int kShards = 16;  // threads share a shard only past 16 threads
  struct alignas(64) Shard {
    std::atomic<int> calls[kMaxServices] = {};
  };
  int TotalLocked(int index) const;
  PF_Err CheckArmed(int index);
  void AllocatingArmed();
  mutable std::mutex mutex_;             // guards armed_, oom_countdown_ and the counting of armed services
  std::atomic<uint32_t> armed_mask_{0};  // bit i: service i has an armed failure to come
  std::atomic<bool> oom_armed_{false};
  int oom_countdown_ = 0;  // allocations left until the armed one
  Shard shards_[kShards];
  std::vector<Arm_> armed_;
};

}  // namespace ombrix
