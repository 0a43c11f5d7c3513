// The temporary folder, and making files there without following or reusing
// anything another user may have put in the way.
#pragma once

#include <ombrix/platform/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace ombrix::platform {

inline constexpr uint32_t kMaxPath = 4096;

// Writes the temporary folder's path, ending in '/', into `buffer`. Answers
// its length without the NUL; when `size` is too small, the size needed
// (NUL included) and nothing written; 0 on failure.
OMBRIX_PLATFORM_API uint32_t GetTempFolder(uint32_t size, char* buffer) noexcept;

// Creates a new directory that only the current user can use (mode 0700,
// owned by the user, a real directory, fresh: never one that existed
// before), under $XDG_RUNTIME_DIR when that is a private folder of the user,
// else under the temporary folder. Its path (no trailing '/') goes into
// `buffer`; kErrInsufficientBuffer when it does not fit (nothing is left behind).
OMBRIX_PLATFORM_API Status MakePrivateDirectory(char* buffer, uint32_t size) noexcept;

// Creates the file `path` for writing, exclusively: fails with kErrFileExists
// when anything (a file, a link, a dangling link) already has that name, and
// never follows a link. The folder must belong to the user (or root) and be
// writable by nobody else unless it is sticky; otherwise kErrAccessDenied.
// With `fd` null the file is closed at once; else the caller owns the
// descriptor (close-on-exec).
OMBRIX_PLATFORM_API Status CreateNewFile(const char* path, int* fd) noexcept;

OMBRIX_PLATFORM_API Status DeleteFile(const char* path) noexcept;
// Removes an empty directory.
OMBRIX_PLATFORM_API Status RemoveDirectory(const char* path) noexcept;

// ---------------------------------------------------------------------------
// Replacing a file as a whole: readers see the old file or the complete new
// one, never a part. The new bytes go to a temporary file with a short name
// (".obx-" and six characters) in the target's folder, every write checked;
// Commit() flushes it to disk, closes it (checked), renames it over the
// target and flushes the folder. A target that is a link is replaced by the
// file, never followed. An existing regular file keeps its permission bits
// (and group where allowed); a read-only one is refused. A new file gets
// `new_mode` (0666 by default) less the umask. On any failure, or when the object is destroyed
// uncommitted, the temporary is removed and the target is untouched.
// ---------------------------------------------------------------------------
class OMBRIX_PLATFORM_API FileReplacement {
 public:
  FileReplacement() = default;
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Checks the target (as ReplaceProblem) and creates the temporary.
  // False with error() set on failure.
  bool Begin(const std::string& path, unsigned new_mode = 0666) noexcept;
  // Writes all `size` bytes at `offset`; the file grows as needed.
  bool WriteAt(const void* data, size_t size, uint64_t offset) noexcept;
  // Writes after the furthest byte written so far.
  bool Append(const void* data, size_t size) noexcept;
  // Reads back up to `size` bytes at `offset`; the count read, or -1.
  long ReadAt(void* data, size_t size, uint64_t offset) noexcept;
  uint64_t size() const noexcept { return end_; }
  bool Commit() noexcept;
  void Abandon() noexcept;
  // What failed, one line: "File too large", "it is read-only", ...
  const std::string& error() const noexcept { return error_; }
  // The errno value behind error() (EACCES for a read-only target).
  int error_number() const noexcept { return errno_; }

 private:
  bool Fail(const std::string& why, int err) noexcept;
  std::string path_, temp_, error_;
  int errno_ = 0;
  int fd_ = -1;
  int slot_ = -1;
  uint64_t end_ = 0;
};

// Why `path` cannot be replaced as above, or "" when it can: its folder is
// missing or not writable, it is a folder or another non-regular file, or
// it is a read-only file. Meant for checking outputs before work starts.
OMBRIX_PLATFORM_API std::string ReplaceProblem(const std::string& path);

// Removes the temporary files of every replacement not yet committed or
// abandoned. Async-signal-safe: meant for SIGINT/SIGTERM handlers that then
// end the process.
OMBRIX_PLATFORM_API void RemoveUnfinishedReplacements() noexcept;

// The temporary-name prefix of FileReplacement, for a folder's owner that
// sweeps leftovers of killed writers while it holds that folder's lock.
inline constexpr const char kReplacementPrefix[] = ".obx-";

}  // namespace ombrix::platform
