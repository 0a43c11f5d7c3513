// Failure injection on its own: exact counts from many threads, and the
// n-th call failing exactly once, in order on one thread.
#include <ombrix/host/host.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using ombrix::FailureInjector;

TEST(FailureInjector, NthCallFailsOnceInOrderAndCountsFromTheArm) {
  FailureInjector f;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(f.Check("copy"), PF_Err_NONE);
  f.Arm("copy", 2, PF_Err_OUT_OF_MEMORY);
  f.Arm("copy", 4, PF_Err_BAD_CALLBACK_PARAM);
  std::vector<PF_Err> answers;
  for (int i = 0; i < 6; ++i) answers.push_back(f.Check("copy"));
  EXPECT_EQ(answers, (std::vector<PF_Err>{0, PF_Err_OUT_OF_MEMORY, 0, PF_Err_BAD_CALLBACK_PARAM, 0, 0}));
  EXPECT_EQ(f.Calls("copy"), 11);
  EXPECT_EQ(f.Calls("fill"), 0);  // other services are not touched
  EXPECT_EQ(f.Check("no such service"), PF_Err_NONE);
  f.Clear();
  EXPECT_EQ(f.Calls("copy"), 0);
  f.Arm("copy", 1, PF_Err_OUT_OF_MEMORY);
  f.Clear();
  EXPECT_EQ(f.Check("copy"), PF_Err_NONE);  // Clear disarms
}

TEST(FailureInjector, ManyThreadsCountExactlyAndOneCallFails) {
  constexpr int kThreads = 4, kCalls = 50000;
  FailureInjector f;
  auto hammer = [&](std::atomic<int>& failures) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&] {
        for (int i = 0; i < kCalls; ++i)
          if (f.Check("subpixel_sample") != PF_Err_NONE) ++failures;
      });
    for (auto& t : threads) t.join();
  };
  std::atomic<int> failures{0};
  hammer(failures);
  EXPECT_EQ(f.Calls("subpixel_sample"), kThreads * kCalls);
  EXPECT_EQ(failures.load(), 0);
  // Armed in the middle of the next round's calls: exactly one of them fails.
  f.Arm("subpixel_sample", kThreads * kCalls / 2, PF_Err_INTERNAL_STRUCT_DAMAGED);
  hammer(failures);
  EXPECT_EQ(failures.load(), 1);
  EXPECT_EQ(f.Calls("subpixel_sample"), 2 * kThreads * kCalls);
}

}  // namespace
