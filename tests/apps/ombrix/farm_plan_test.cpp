// The computing parts of `ombrix farm`: checksums, chunks, Slurm's array
// specs and answers, the render's arguments and shell quoting.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "farm.h"
#include "render_cli.h"
#include "sha256.h"

namespace {

using namespace ombrix::cli;

std::string Digest(const std::string& text, size_t piece) {
  Sha256 sha;
  for (size_t i = 0; i < text.size(); i += piece) sha.Update(text.data() + i, std::min(piece, text.size() - i));
  return sha.HexDigest();
}

// FIPS 180-2's examples and lengths around the padding's edges, fed whole
// and in odd pieces; the edge digests are those of coreutils' sha256sum.
TEST(FarmSha256, KnownDigests) {
  const struct {
    std::string text, digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {std::string(55, 'x'), "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
      {std::string(56, 'x'), "04c26261370ee7541549d16dee320c723e3fd14671e66a099afe0a377c16888e"},
      {std::string(64, 'x'), "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
  };
  for (const auto& c : cases) {
    for (size_t piece : {c.text.size() + 1, size_t(1), size_t(7), size_t(63), size_t(64)}) {
      if (piece == 0) continue;
      EXPECT_EQ(Digest(c.text, piece), c.digest) << c.text.size() << " bytes in pieces of " << piece;
    }
  }
}

TEST(FarmPlan, ChunksCoverTheRangeOnce) {
  const struct {
    int64_t first, last, size, count, last_first, last_last;
  } cases[] = {
      {0, 47, 10, 5, 40, 47}, {0, 9, 10, 1, 0, 9}, {0, 10, 10, 2, 10, 10}, {5, 5, 3, 1, 5, 5}, {3, 20, 1, 18, 20, 20},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(ChunkCount(c.first, c.last, c.size), c.count) << c.first << "-" << c.last << " by " << c.size;
    int64_t next = c.first;
    for (int64_t k = 0; k < c.count; ++k) {
      const Chunk chunk = ChunkFrames(c.first, c.last, c.size, k);
      EXPECT_EQ(chunk.first, next);
      EXPECT_LE(chunk.last - chunk.first + 1, c.size);
      next = chunk.last + 1;
    }
    const Chunk end = ChunkFrames(c.first, c.last, c.size, c.count - 1);
    EXPECT_EQ(end.first, c.last_first);
    EXPECT_EQ(end.last, c.last_last);
  }
}

TEST(FarmPlan, ChunkListsAndArrayIndicess) {
  const struct {
    std::string text;
    int64_t count;
    std::vector<int64_t> chunks;  // empty: refused
    std::string array;
  } cases[] = {
      {"1,3-5", 6, {1, 3, 4, 5}, "1,3-5"},
      {"4,0,1,1", 5, {0, 1, 4}, "0-1,4"},
      {"0-4", 5, {0, 1, 2, 3, 4}, "0-4"},
      {"7", 5, {}, ""},
      {"5-3", 9, {}, ""},
      {"", 3, {}, ""},
      {"1,,2", 3, {}, ""},
      {"-1", 3, {}, ""},
      {"a", 3, {}, ""},
  };
  for (const auto& c : cases) {
    if (c.chunks.empty()) {
      EXPECT_THROW(ParseChunkList(c.text, c.count), UsageError) << c.text;
      continue;
    }
    EXPECT_EQ(ParseChunkList(c.text, c.count), c.chunks) << c.text;
    EXPECT_EQ(ArrayIndices(c.chunks), c.array) << c.text;
  }
}

// squeue -r and sacct -X answers; later submissions of the job win, and
// other jobs' lines (12 is not 1) are left out.
TEST(FarmPlan, QueueStatesReadArrayTasks) {
  const std::string lines =
      "12_3|RUNNING\n12_[4-6%2]|PENDING\n13_3|PENDING\n99_1|FAILED\n12_0|CANCELLED by 0\n1_9|RUNNING\n12_x|FAILED\n";
  const std::map<int64_t, std::string> want = {
      {0, "CANCELLED"}, {3, "PENDING"}, {4, "PENDING"}, {5, "PENDING"}, {6, "PENDING"}};
  EXPECT_EQ(QueueStates({"12", "13"}, lines), want);
  EXPECT_EQ(QueueStates({"13", "12"}, lines).at(3), "RUNNING");
  EXPECT_TRUE(QueueStates({"7"}, lines).empty());
}

TEST(FarmPlan, ChunkStates) {
  const struct {
    ChunkView view;
    ChunkState want;
  } cases[] = {
      {{10, 10, "done", "", "", true}, ChunkState::kDone},
      {{3, 10, "running", "RUNNING", "", true}, ChunkState::kRunning},
      {{10, 10, "done", "PENDING", "", true}, ChunkState::kPending},  // requeued after it finished
      {{0, 10, "", "PENDING", "", true}, ChunkState::kPending},
      {{0, 10, "failed: plug-ins differ", "", "", true}, ChunkState::kFailed},
      {{4, 10, "running", "", "", true}, ChunkState::kFailed},  // killed: gone from the queue
      {{4, 10, "running", "", "", false}, ChunkState::kRunning},
      {{0, 10, "", "", "", false}, ChunkState::kPending},
      {{0, 10, "", "", "TIMEOUT", false}, ChunkState::kFailed},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Classify(c.view), c.want) << c.view.task_state << "/" << c.view.queue_state << "/" << c.view.accounting;
  }
}

TEST(FarmPlan, IdentityChanges) {
  const std::vector<PluginIdentity> recorded = {{"a.aex", 10, "aa"}, {"b.aex", 20, "bb"}, {"c.aex", 30, "cc"}};
  EXPECT_TRUE(IdentityChanges(recorded, recorded).empty());
  const std::vector<PluginIdentity> found = {{"a.aex", 11, "ax"}, {"b.aex", 20, "bx"}, {"d.aex", 1, "dd"}};
  const std::vector<std::string> want = {"a.aex: changed (size 11, was 10)",
                                         "b.aex: changed (same size, other contents)", "c.aex: missing",
                                         "d.aex: added"};
  EXPECT_EQ(IdentityChanges(recorded, found), want);
}

// What /bin/sh makes of the quoted words must be the words themselves.
TEST(FarmPlan, ShellQuotingSurvivesTheShell) {
  const std::vector<std::string> words = {"plain", "two words", "it's", "", "$HOME", "a\"b", "*", "x\ny", "-k", "#"};
  const std::string command = "printf '%s\\0' " + ShellCommand(words);
  FILE* p = ::popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  for (int c; (c = std::fgetc(p)) != EOF;) out += char(c);
  ASSERT_EQ(::pclose(p), 0);
  std::string want;
  for (const std::string& w : words) want += w + '\0';
  EXPECT_EQ(out, want);
}

// Every render option, none at its default, comes back as typed (--time
// and --frame exclude each other, so each has a line of its own).
TEST(FarmPlan, RenderArgumentsRoundTrip) {
  const std::vector<std::string> common = {"mistform",
                                           "-i",
                                           "in.####.png",
                                           "-o",
                                           "out/f.####.exr",
                                           "-p",
                                           "Amount=3",
                                           "-p",
                                           "Seed=2",
                                           "-k",
                                           "Amount@1=4",
                                           "--dialog",
                                           "3=on",
                                           "--layer",
                                           "Map=self",
                                           "--sequence-data",
                                           "seq.bin",
                                           "--save-sequence-data",
                                           "save.bin",
                                           "--registry",
                                           "reg"};
  const std::vector<std::string> rest = {"--fps",        "30",   "--frames",       "2-9", "--time-scale", "600",
                                         "--quality",    "low",  "--threads",      "2",   "--pad-rows",   "16",
                                         "--downsample", "1/2",  "--pixel-aspect", "2/1", "--exr-values", "raw",
                                         "--out-depth",  "half", "--compression",  "zip", "--host-tool",  "3",
                                         "--checksums",  "sums"};
  for (const std::vector<std::string>& when :
       {std::vector<std::string>{"--time", "0.10000000000000001"}, std::vector<std::string>{"--frame", "7"}}) {
    std::vector<std::string> args = common;
    args.insert(args.end(), when.begin(), when.end());
    args.insert(args.end(), rest.begin(), rest.end());
    CLI::App app;
    RenderOptions o;
    AddRenderOptions(&app, o);
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    ASSERT_NO_THROW(app.parse(reversed)) << when[0];
    EXPECT_EQ(RenderArgs(o), args);
  }
  RenderOptions plain;
  plain.effect = "x";
  plain.output = "o.png";
  EXPECT_EQ(RenderArgs(plain), (std::vector<std::string>{"x", "-i", "testcard", "-o", "o.png"}));
}

}  // namespace
