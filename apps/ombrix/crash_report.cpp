// The one line printed when plug-in code crashes the process.
#include "commands.h"
#include "streams.h"

#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <cstdio>

namespace {

using namespace ombrix::cli;

// The effect whose code is running, for the crash line; set before it is loaded.
char g_crash_name[256] = "";

void Append(char* line, size_t& n, size_t cap, const char* text) {
  for (; *text && n + 1 < cap; ++text) line[n++] = *text;
}

// Plug-in code that crashes the process ends it with one line and status 1
// rather than a bare signal. Only async-signal-safe calls here.
extern "C" void OnCrash(int sig) {
  char line[512];
  size_t n = 0;
  Append(line, n, sizeof line, "ombrix: ");
  if (g_crash_name[0]) {
    Append(line, n, sizeof line, g_crash_name);
    Append(line, n, sizeof line, ": ");
  }
  Append(line, n, sizeof line, "crashed (SIG");
  const char* abbrev = sigabbrev_np(sig);
  Append(line, n, sizeof line, abbrev ? abbrev : "?");
  Append(line, n, sizeof line, ")\n");
  ssize_t ignored = ::write(STDERR_FILENO, line, n);
  (void)ignored;
  RemoveStreamFilesNow();
  ::_exit(kExitFailed);
}

}  // namespace

namespace ombrix::cli {

void SetCrashContext(const std::string& effect_name) {
  std::snprintf(g_crash_name, sizeof g_crash_name, "%s", effect_name.c_str());
}

void InstallCrashReport() {
  // On a stack of its own, so that a stack overflow is reported too.
  static char alt_stack[64 * 1024];
  stack_t ss{};
  ss.ss_sp = alt_stack;
  ss.ss_size = sizeof alt_stack;
  ::sigaltstack(&ss, nullptr);
  struct sigaction sa {};
  sa.sa_handler = OnCrash;
  sa.sa_flags = SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) ::sigaction(sig, &sa, nullptr);
}

}  // namespace ombrix::cli
