// Temporary folder, private directories, exclusive file creation and
// whole-file replacement.
#include <ombrix/platform/files.h>
#include <ombrix/platform/headless.h>

#include "internal.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/random.h>
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
  return path && path[0] == '/' && ::lstat(path, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & 077) == 0;
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
  const int file = ::openat(dir_fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
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

// ---------------------------------------------------------------------------
// Whole-file replacement
// ---------------------------------------------------------------------------
namespace {

// Temporaries of unfinished replacements, for signal handlers. A slot is
// free (0), being changed (1) or holds a temporary's path (2).
struct PendingSlot {
  std::atomic<int> state{0};
  char path[kMaxPath];
};
constexpr int kPendingSlots = 32;
PendingSlot g_pending[kPendingSlots];

int ClaimSlot(const std::string& path) noexcept {
  if (path.size() >= kMaxPath) return -1;
  for (int i = 0; i < kPendingSlots; ++i) {
    int expected = 0;
    if (g_pending[i].state.compare_exchange_strong(expected, 1)) {
      std::memcpy(g_pending[i].path, path.c_str(), path.size() + 1);
      g_pending[i].state.store(2);
      return i;
    }
  }
  return -1;
}

void ReleaseSlot(int slot) noexcept {
  if (slot >= 0) g_pending[slot].state.store(0);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The checks of ReplaceProblem; `existing` receives the target's status
// when it is a regular file.
std::string Problem(const std::string& path, struct stat* existing, bool* exists) {
  *exists = false;
  const std::string name = NameOf(path);
  if (name.empty() || name == "." || name == "..") return "not a file name";
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return "it is a folder";
    if (S_ISREG(st.st_mode)) {
      if ((st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0) return "it is read-only";
      *existing = st;
      *exists = true;
    } else if (!S_ISLNK(st.st_mode)) {
      return "it is not a regular file";
    }
  } else if (errno != ENOENT) {
    return detail::ErrnoText(errno);
  }
  const std::string dir = FolderOf(path);
  struct stat dst;
  if (::stat(dir.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode)) return "the folder '" + dir + "' does not exist";
  if (::access(dir.c_str(), W_OK | X_OK) != 0) return "the folder '" + dir + "' is not writable";
  return "";
}

}  // namespace

std::string ReplaceProblem(const std::string& path) {
  struct stat st;
  bool exists = false;
  return Problem(path, &st, &exists);
}

void RemoveUnfinishedReplacements() noexcept {
  for (PendingSlot& slot : g_pending) {
    if (slot.state.load() == 2) ::unlink(slot.path);
  }
}

FileReplacement::~FileReplacement() { Abandon(); }

bool FileReplacement::Fail(const std::string& why, int err) noexcept {
  errno_ = err;
  try {
    error_ = why;
  } catch (...) {
  }
  Abandon();
  return false;
}

bool FileReplacement::Begin(const std::string& path, unsigned new_mode) noexcept try {
  Abandon();
  error_.clear();
  path_ = path;
  struct stat existing;
  bool exists = false;
  const std::string problem = Problem(path, &existing, &exists);
  if (!problem.empty()) {
    const bool denied =
        problem.find("read-only") != std::string::npos || problem.find("not writable") != std::string::npos;
    return Fail(problem, denied ? EACCES : problem.find("does not exist") != std::string::npos ? ENOENT : EINVAL);
  }
  const std::string dir = FolderOf(path);
  const std::string prefix = (path.rfind('/') == std::string::npos ? std::string() : dir + "/") + kReplacementPrefix;
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::atomic<uint32_t> counter{0};
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    unsigned char random[6];
    if (::getrandom(random, sizeof random, GRND_NONBLOCK) != ssize_t(sizeof random)) {
      uint64_t v = (uint64_t(::getpid()) << 20) ^ counter.fetch_add(1) ^ uint64_t(attempt) << 40;
      for (unsigned char& r : random) r = static_cast<unsigned char>(v), v >>= 8;
    }
    std::string temp = prefix;
    for (unsigned char r : random) temp += kChars[r % (sizeof kChars - 1)];
    // The slot is claimed before the file exists, so that a signal arriving
    // right after creation still finds it.
    const int slot = ClaimSlot(temp);
    const int fd =
        ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, exists ? 0600 : (new_mode & 0777));
    if (fd < 0) {
      const int err = errno;
      ReleaseSlot(slot);
      if (err == EEXIST) continue;
      return Fail(detail::ErrnoText(err), err);
    }
    fd_ = fd;
    slot_ = slot;
    temp_ = temp;
  }
  if (fd_ < 0) return Fail("no free temporary name", EEXIST);
  end_ = 0;
  if (exists) {
    // Keep the group where the user may (a member of it); otherwise the new
    // file has the user's group, as any file the user creates. The owner
    // stays the user.
    if (::fchown(fd_, uid_t(-1), existing.st_gid) != 0) errno = 0;
    if (::fchmod(fd_, existing.st_mode & 07777) != 0) {
      const int err = errno;
      return Fail(detail::ErrnoText(err), err);
    }
  }
  return true;
} catch (...) {
  return Fail("out of memory", ENOMEM);
}

bool FileReplacement::WriteAt(const void* data, size_t size, uint64_t offset) noexcept {
  if (fd_ < 0) return false;
  const char* p = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd_, p + done, size - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      return Fail(detail::ErrnoText(err), err);
    }
    done += size_t(n);
  }
  if (offset + size > end_) end_ = offset + size;
  return true;
}

bool FileReplacement::Append(const void* data, size_t size) noexcept { return WriteAt(data, size, end_); }

long FileReplacement::ReadAt(void* data, size_t size, uint64_t offset) noexcept {
  if (fd_ < 0) return -1;
  while (true) {
    const ssize_t n = ::pread(fd_, data, size, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    return long(n);
  }
}

bool FileReplacement::Commit() noexcept {
  if (fd_ < 0) return false;
  if (::fsync(fd_) != 0) {
    const int err = errno;
    return Fail(detail::ErrnoText(err), err);
  }
  const int fd = fd_;
  fd_ = -1;
  // On failure Fail() removes the temporary (temp_ is still set).
  if (::close(fd) != 0 || ::rename(temp_.c_str(), path_.c_str()) != 0) {
    const int err = errno;
    return Fail(detail::ErrnoText(err), err);
  }
  temp_.clear();
  ReleaseSlot(slot_);
  slot_ = -1;
  const int dir_fd = ::open(FolderOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return true;
}

void FileReplacement::Abandon() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  ReleaseSlot(slot_);
  slot_ = -1;
}

}  // namespace ombrix::platform
