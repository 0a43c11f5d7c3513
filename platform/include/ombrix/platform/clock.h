// The machine's clocks as a plug-in reads them: a high-resolution counter
// in microseconds and a millisecond tick count. In the headless backend the
// host (or a test) may stop the clock at a time of its choosing and move it
// on by hand (headless.h), so that timed work gives the same numbers on
// every run. Sleeping on a stopped clock moves it on.
#pragma once

#include <ombrix/platform/types.h>

#include <cstdint>

namespace ombrix::platform {

// Microseconds on a monotonic counter with an arbitrary start. False (and
// `*microseconds` untouched) when the machine has no high-resolution
// counter; callers then read GetTickCount() in its place.
OMBRIX_PLATFORM_API bool QueryMicrosecondCounter(int64_t* microseconds) noexcept;

// Milliseconds on the same monotonic clock, wrapping at 2^32.
OMBRIX_PLATFORM_API uint32_t GetTickCount() noexcept;

// Waits `milliseconds`. On a stopped (scripted) clock nothing waits: the
// clock moves on by that much instead.
OMBRIX_PLATFORM_API void Sleep(uint32_t milliseconds) noexcept;

}  // namespace ombrix::platform
