// Diagnostics hook and small helpers shared by the services.
#include "internal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <sys/stat.h>

namespace ombrix::platform {
namespace {

// One line on stderr, whatever characters a path in the message holds.
void DefaultHook(const char* message, void*) {
  std::string line = message;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  std::fprintf(stderr, "ombrix: %s\n", line.c_str());
}

std::mutex g_hook_mutex;
DiagnosticsHook g_hook = DefaultHook;
void* g_hook_user = nullptr;

}  // namespace

void SetDiagnosticsHook(DiagnosticsHook hook, void* user) noexcept {
  std::lock_guard lock(g_hook_mutex);
  g_hook = hook ? hook : DefaultHook;
  g_hook_user = hook ? user : nullptr;
}

namespace detail {

void Diagnose(const std::string& message) noexcept {
  DiagnosticsHook hook;
  void* user;
  {
    std::lock_guard lock(g_hook_mutex);
    hook = g_hook;
    user = g_hook_user;
  }
  hook(message.c_str(), user);
}

uint32_t CopyOut(std::string_view text, char* buffer, uint32_t size) noexcept {
  if (!buffer || size == 0) return 0;
  const size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return uint32_t(n);
}

std::string ErrnoText(int err) {
  char buf[256];
  return std::string(strerror_r(err, buf, sizeof buf));
}

Status StatusFromErrno(int err) noexcept {
  switch (err) {
    case 0:
      return kOk;
    case ENOENT:
      return kErrFileNotFound;
    case ENOTDIR:
      return kErrPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return kErrAccessDenied;
    case EEXIST:
      return kErrFileExists;
    case ENOMEM:
      return kErrOutOfMemory;
    case ENAMETOOLONG:
      return kErrBadPathName;
    case ELOOP:
      return kErrAccessDenied;
    default:
      return kErrStoreIoFailed;
  }
}

int MakeDirectories(const std::string& path, unsigned mode) noexcept {
  if (path.empty()) return ENOENT;
  std::string partial;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t next = path.find('/', pos);
    if (next == std::string::npos) next = path.size();
    partial.assign(path, 0, next);
    pos = next + 1;
    if (partial.empty()) continue;
    const bool last = next == path.size();
    if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) return errno;
    if (last) break;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

}  // namespace detail
}  // namespace ombrix::platform
