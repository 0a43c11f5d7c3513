// Host handle services for programs that keep drawings without a host (the
// command line, tests, fuzzing): plain heap blocks behind the handle calls
// of PF_UtilCallbacks. Only the handle members of the table are set.
#pragma once

#include <pf/api.h>

namespace paint {

const PF_UtilCallbacks* LocalHandleServices();
// The n-th handle allocation from now (1 = the next) fails; 0 disarms.
void FailLocalHandleAllocation(int nth);
// Handles alive, for leak checks.
int LiveLocalHandles();

}  // namespace paint
