// Running work in a child process: a crash, a hang or an exit there costs
// only the child, and its outcome is reported in one line.
#include <ombrix/host/host.h>
#include <ombrix/host/instance.h>
#include <ombrix/host/plugin_trial.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

namespace ombrix {

namespace {

std::string SignalName(int sig) {
  const char* abbrev = sigabbrev_np(sig);
  return abbrev ? std::string("SIG") + abbrev : "signal " + std::to_string(sig);
}

void WriteAll(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    const ssize_t n = ::write(fd, s.data() + done, s.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += size_t(n);
  }
}

[[noreturn]] void ChildMain(const std::function<void()>& work, int fd, bool quiet) {
  if (quiet) {
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
      ::dup2(null, STDERR_FILENO);
      ::close(null);
    }
  }
  // A crash in the child must end it with the signal the parent reports,
  // not in a handler the parent installed (nor a core file).
  for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS}) ::signal(sig, SIG_DFL);
  const rlimit no_core{0, 0};
  ::setrlimit(RLIMIT_CORE, &no_core);
  std::string verdict = "O";
  try {
    work();
  } catch (const std::bad_alloc&) {
    verdict = "Fout of memory";
  } catch (const std::exception& e) {
    verdict = std::string("F") + e.what();
  } catch (...) {
    verdict = "Funknown error";
  }
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  WriteAll(fd, verdict);
  ::_exit(0);
}

}  // namespace

std::string ChildOutcome::Describe() const {
  switch (kind) {
    case Kind::kOk:
      return "finished";
    case Kind::kFailed:
      return message;
    case Kind::kCrashed:
      return "crashed (" + SignalName(signal) + ")";
    case Kind::kTimedOut:
      return message;
    case Kind::kLost:
      return message;
  }
  return message;
}

ChildOutcome RunInChild(const std::function<void()>& work, int timeout_seconds, bool quiet) {
  ChildOutcome outcome;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    outcome.kind = ChildOutcome::Kind::kLost;
    outcome.message = std::string("cannot start a child process: ") + std::strerror(errno);
    return outcome;
  }
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    const int err = errno;
    ::close(fds[0]);
    ::close(fds[1]);
    outcome.kind = ChildOutcome::Kind::kLost;
    outcome.message = std::string("cannot start a child process: ") + std::strerror(err);
    return outcome;
  }
  if (pid == 0) {
    ::close(fds[0]);
    ChildMain(work, fds[1], quiet);
  }
  ::close(fds[1]);

  // Read the verdict until the child closes its end (it exits), or time runs out.
  std::string verdict;
  bool timed_out = false;
  timespec start{};
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    int wait_ms = -1;
    if (timeout_seconds > 0) {
      timespec now{};
      ::clock_gettime(CLOCK_MONOTONIC, &now);
      const int64_t elapsed = int64_t(now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
      wait_ms = int(std::max<int64_t>(0, int64_t(timeout_seconds) * 1000 - elapsed));
    }
    pollfd p{fds[0], POLLIN, 0};
    const int ready = ::poll(&p, 1, wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      timed_out = true;
      ::kill(pid, SIGKILL);
      break;
    }
    char buf[512];
    const ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (verdict.size() < 4096) verdict.append(buf, size_t(n));
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }

  if (timed_out) {
    outcome.kind = ChildOutcome::Kind::kTimedOut;
    outcome.message = "did not finish within " + std::to_string(timeout_seconds) + " s";
  } else if (WIFSIGNALED(status)) {
    outcome.kind = ChildOutcome::Kind::kCrashed;
    outcome.signal = WTERMSIG(status);
  } else if (!verdict.empty() && verdict[0] == 'O' && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    outcome.kind = ChildOutcome::Kind::kOk;
  } else if (!verdict.empty() && verdict[0] == 'F') {
    outcome.kind = ChildOutcome::Kind::kFailed;
    outcome.message = verdict.substr(1);
  } else {
    // Exited on its own before finishing (a plug-in calling exit, or a
    // sanitizer ending the process after a report).
    outcome.kind = ChildOutcome::Kind::kLost;
    outcome.message =
        "ended abnormally (exit status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
  }
  return outcome;
}

}  // namespace ombrix
