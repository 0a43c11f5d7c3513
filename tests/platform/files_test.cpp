#include <ombrix/platform/files.h>
#include <ombrix/platform/headless.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "scratch_dir.h"

namespace plat = ombrix::platform;
namespace fs = std::filesystem;

TEST(TempFolder, AnswersLengthOrSizeNeeded) {
  ScratchDir dir;
  plat::SetTempFolder(dir.path.string());
  const std::string expected = dir.path.string() + "/";
  char buf[plat::kMaxPath];
  EXPECT_EQ(plat::GetTempFolder(sizeof buf, buf), expected.size());
  EXPECT_EQ(std::string(buf), expected);
  char small[4] = {'k', 'e', 'e', 'p'};
  EXPECT_EQ(plat::GetTempFolder(sizeof small, small), expected.size() + 1);
  EXPECT_EQ(small[0], 'k');
  plat::SetTempFolder("");
}

TEST(PrivateDirectory, FreshOwnedAndClosedToOthers) {
  ScratchDir dir;
  ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
  plat::SetTempFolder(dir.path.string());
  char a[plat::kMaxPath], b[plat::kMaxPath];
  ASSERT_EQ(plat::MakePrivateDirectory(a, sizeof a), plat::kOk);
  ASSERT_EQ(plat::MakePrivateDirectory(b, sizeof b), plat::kOk);
  EXPECT_STRNE(a, b);
  EXPECT_EQ(fs::path(a).parent_path(), dir.path);
  struct stat st;
  ASSERT_EQ(lstat(a, &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(st.st_uid, geteuid());
  char tiny[8];
  EXPECT_EQ(plat::MakePrivateDirectory(tiny, sizeof tiny), plat::kErrInsufficientBuffer);

  // A runtime folder open to others is not used.
  const fs::path open_runtime = dir.path / "runtime";
  fs::create_directory(open_runtime);
  chmod(open_runtime.c_str(), 0755);
  ScopedEnv bad("XDG_RUNTIME_DIR", open_runtime.c_str());
  char c[plat::kMaxPath];
  ASSERT_EQ(plat::MakePrivateDirectory(c, sizeof c), plat::kOk);
  EXPECT_EQ(fs::path(c).parent_path(), dir.path);
  chmod(open_runtime.c_str(), 0700);
  char d[plat::kMaxPath];
  ASSERT_EQ(plat::MakePrivateDirectory(d, sizeof d), plat::kOk);
  EXPECT_EQ(fs::path(d).parent_path(), open_runtime);
  plat::SetTempFolder("");
}

TEST(CreateNewFile, ExclusiveAndNeverFollowsALink) {
  ScratchDir dir;
  const fs::path elsewhere = dir.path / "victim";
  WriteFile(elsewhere, "precious");
  char priv[plat::kMaxPath];
  plat::SetTempFolder(dir.path.string());
  ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
  ASSERT_EQ(plat::MakePrivateDirectory(priv, sizeof priv), plat::kOk);
  const fs::path file = fs::path(priv) / "a.html";

  int fd = -1;
  ASSERT_EQ(plat::CreateNewFile(file.c_str(), &fd), plat::kOk);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(write(fd, "x", 1), 1);
  close(fd);
  struct stat st;
  ASSERT_EQ(lstat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // An existing file is refused and left as it is.
  EXPECT_EQ(plat::CreateNewFile(file.c_str(), nullptr), plat::kErrFileExists);
  EXPECT_EQ(ReadFile(file), "x");
  ASSERT_EQ(plat::DeleteFile(file.c_str()), plat::kOk);

  // A link in its place, to a file or to nothing, is refused and not followed.
  fs::create_symlink(elsewhere, file);
  EXPECT_EQ(plat::CreateNewFile(file.c_str(), nullptr), plat::kErrFileExists);
  EXPECT_EQ(ReadFile(elsewhere), "precious");
  fs::remove(file);
  fs::create_symlink(dir.path / "not-there", file);
  EXPECT_EQ(plat::CreateNewFile(file.c_str(), nullptr), plat::kErrFileExists);
  EXPECT_FALSE(fs::exists(dir.path / "not-there"));
  fs::remove(file);
  EXPECT_EQ(plat::RemoveDirectory(priv), plat::kOk);

  // A folder anyone may write to, without the sticky bit, is refused.
  const fs::path shared = dir.path / "shared";
  fs::create_directory(shared);
  chmod(shared.c_str(), 0777);
  EXPECT_EQ(plat::CreateNewFile((shared / "a.html").c_str(), nullptr), plat::kErrAccessDenied);
  chmod(shared.c_str(), 01777);
  EXPECT_EQ(plat::CreateNewFile((shared / "a.html").c_str(), nullptr), plat::kOk);
  plat::SetTempFolder("");
}

// What a replacement does to each kind of target: the bytes that end up at
// the path, the mode they carry, and what happens to a link's target.
TEST(FileReplacement, ReplacesWholeKeepsModeAndNeverFollowsLinks) {
  struct Case {
    const char* name;
    const char* existing;  // file content, or nullptr for none
    mode_t mode;           // of the existing file
    bool link;             // the target is a link to "victim"
    bool refused;
    mode_t expected_mode;
  };
  const mode_t umask_now = ::umask(022);
  ::umask(umask_now);
  const Case cases[] = {
      {"new file", nullptr, 0, false, false, mode_t(0666 & ~umask_now)},
      {"private file", "old", 0600, false, false, 0600},
      {"group file", "old", 0640, false, false, 0640},
      {"read-only file", "old", 0444, false, true, 0444},
      {"link", nullptr, 0, true, false, mode_t(0666 & ~umask_now)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const fs::path target = dir.path / "out.bin";
    WriteFile(dir.path / "victim", "victim");
    if (c.existing) {
      WriteFile(target, c.existing);
      fs::permissions(target, fs::perms(c.mode));
    }
    if (c.link) fs::create_symlink(dir.path / "victim", target);

    plat::FileReplacement file;
    const bool begun = file.Begin(target.string());
    ASSERT_EQ(begun, !c.refused) << file.error();
    if (begun) {
      ASSERT_TRUE(file.Append("new ", 4));
      ASSERT_TRUE(file.WriteAt("bytes", 5, 4));
      EXPECT_EQ(ReadFile(target), c.existing ? c.existing : c.link ? "victim" : "");  // not yet replaced
      ASSERT_TRUE(file.Commit()) << file.error();
    }
    EXPECT_EQ(ReadFile(target), c.refused ? c.existing : "new bytes");
    EXPECT_EQ(ReadFile(dir.path / "victim"), "victim");
    struct stat st;
    ASSERT_EQ(lstat(target.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, c.expected_mode);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 2);  // no temporaries
  }
}

TEST(FileReplacement, AbandonedOrFailedLeavesTheTargetAndNoTemporary) {
  ScratchDir dir;
  const fs::path target = dir.path / "keep.bin";
  WriteFile(target, "original");
  {
    plat::FileReplacement file;
    ASSERT_TRUE(file.Begin(target.string()));
    ASSERT_TRUE(file.Append("partial", 7));
    plat::RemoveUnfinishedReplacements();  // what a signal handler does
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
  }  // destroyed uncommitted
  {
    plat::FileReplacement file;
    ASSERT_TRUE(file.Begin(target.string()));
    ASSERT_TRUE(file.Append("partial", 7));
  }
  EXPECT_EQ(ReadFile(target), "original");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);

  fs::create_directory(dir.path / "folder");
  for (const fs::path& bad : {dir.path / "folder", dir.path / "missing" / "x", fs::path("/dev/null")}) {
    EXPECT_NE(plat::ReplaceProblem(bad.string()), "") << bad;
    plat::FileReplacement file;
    EXPECT_FALSE(file.Begin(bad.string())) << bad;
  }
}
