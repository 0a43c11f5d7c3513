// The probe in a second form: another category and name, and sequence data
// that must be flattened before it is saved.
#define PROBE_NAME "AA Flat Probe"
#define PROBE_MATCH "obx Flat Probe"
#define PROBE_CATEGORY "Ombrix Tests"
#define PROBE_FLATTEN 1
#include "probe_plugin.cpp"
