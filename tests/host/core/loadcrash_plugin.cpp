// The probe crashing in its entry at global setup, as a damaged file may.
#define PROBE_NAME "AA Load Crash"
#define PROBE_MATCH "obx Load Crash"
#define PROBE_CATEGORY "Ombrix Tests"
#define PROBE_FLATTEN 0
#define PROBE_CRASH_AT_SETUP 1
#include "probe_plugin.cpp"
