// Temporary folder, private directories and exclusive file creation.
#include <ombrix/platform/files.h>
#include <ombrix/platform/headless.h>

#include "internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace ombrix::platform {
namespace {

std::mutex g_mutex;
std::string g_temp_override;

std::string TempFolder() {
  std::string dir;
  {
    std::lock_guard lock(g_mutex);
    dir = g_temp_override;
  }
  if (dir.empty()) {
    const char* env = std::getenv("TMPDIR");
    struct stat st;
    if (env && env[0] == '/' && ::stat(env, &st) == 0 && S_ISDIR(st.st_mode)) dir = env;
  }
  if (dir.empty()) dir = "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

// A folder that only the user can reach: a real directory (not a link),
// owned by the user, no access for group or others.
bool PrivateFolder(const char* path) {
  struct stat st;
  return path && path[0] == '/' && ::lstat(path, &st) == 0 && S_ISDIR(st.st_mode) &&
         st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

}  // namespace

uint32_t GetTempFolder(uint32_t size, char* buffer) noexcept try {
  const std::string dir = TempFolder();
  if (!buffer || size < dir.size() + 1) return uint32_t(dir.size() + 1);
  detail::CopyOut(dir, buffer, size);
  return uint32_t(dir.size());
} catch (...) {
  return 0;
}

Status MakePrivateDirectory(char* buffer, uint32_t size) noexcept try {
  if (!buffer || size == 0) return kErrInvalidParameter;
  buffer[0] = '\0';
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string base = PrivateFolder(runtime) ? std::string(runtime) + "/" : TempFolder();
  std::string templ = base + "ombrix-XXXXXX";
  if (templ.size() + 1 > size) return kErrInsufficientBuffer;
  if (!::mkdtemp(templ.data())) return detail::StatusFromErrno(errno);
  // mkdtemp makes a fresh 0700 directory; check what is there now, so that
  // a folder swapped in by someone else is never handed out.
  if (!PrivateFolder(templ.c_str())) return kErrAccessDenied;
  detail::CopyOut(templ, buffer, size);
  return kOk;
} catch (...) {
  return kErrOutOfMemory;
}

Status CreateNewFile(const char* path, int* fd) noexcept try {
  if (fd) *fd = -1;
  if (!path || path[0] == '\0') return kErrInvalidParameter;
  std::string p(path);
  const size_t slash = p.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
  const std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return kErrInvalidParameter;

  int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd < 0) return detail::StatusFromErrno(errno);
  struct stat st;
  if (::fstat(dir_fd, &st) != 0) {
    const int err = errno;
    ::close(dir_fd);
    return detail::StatusFromErrno(err);
  }
  const bool owner_ok = st.st_uid == ::geteuid() || st.st_uid == 0;
  const bool others_write = (st.st_mode & 022) != 0;
  if (!owner_ok || (others_write && !(st.st_mode & S_ISVTX))) {
    ::close(dir_fd);
    return kErrAccessDenied;
  }
  const int file = ::openat(dir_fd, name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  const int err = errno;
  ::close(dir_fd);
  if (file < 0) return detail::StatusFromErrno(err);
  if (fd)
    *fd = file;
  else
    ::close(file);
  return kOk;
} catch (...) {
  return kErrOutOfMemory;
}

Status DeleteFile(const char* path) noexcept {
  if (!path) return kErrInvalidParameter;
  return ::unlink(path) == 0 ? kOk : detail::StatusFromErrno(errno);
}

Status RemoveDirectory(const char* path) noexcept {
  if (!path) return kErrInvalidParameter;
  return ::rmdir(path) == 0 ? kOk : detail::StatusFromErrno(errno);
}

void SetTempFolder(std::string_view dir) {
  std::lock_guard lock(g_mutex);
  g_temp_override = std::string(dir);
}

}  // namespace ombrix::platform
