// The probe crashing when it renders item 3 of its popup: it loads and
// renders its defaults, so only a render of that item finds the fault.
#define PROBE_NAME "AA Render Crash"
#define PROBE_MATCH "obx Render Crash"
#define PROBE_CATEGORY "Ombrix Tests"
#define PROBE_FLATTEN 0
#define PROBE_CRASH_ON_CHOICE 3
#include "probe_plugin.cpp"
