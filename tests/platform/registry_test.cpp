#include <ombrix/platform/headless.h>
#include <ombrix/platform/registry.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scratch_dir.h"

namespace plat = ombrix::platform;
namespace fs = std::filesystem;

namespace {

constexpr const char* kKey = "Software\\Kestrane\\Ombrix One";

std::vector<std::string> g_messages;
void Collect(const char* message, void*) { g_messages.push_back(message); }

struct RegistryTest : ::testing::Test {
  ScratchDir dir;
  void SetUp() override {
    plat::ResetHeadless();
    plat::SetRegistryDirectory(dir.path.string());
    g_messages.clear();
    plat::SetDiagnosticsHook(Collect, nullptr);
  }
  void TearDown() override {
    plat::SetDiagnosticsHook(nullptr, nullptr);
    plat::SetRegistryDirectory("");
  }
  // Forgets the in-process cache, as a new process would.
  void Reopen() { plat::SetRegistryDirectory(dir.path.string()); }

  plat::Status SetDefault(const std::vector<uint8_t>& bytes, uint32_t type = plat::kRegBinary) {
    plat::RegKeyHandle key = nullptr;
    plat::Status st = plat::RegCreateKey(plat::kRegCurrentUser, kKey, plat::kRegOptionNonVolatile, plat::kKeyAllAccess,
                                         &key, nullptr);
    if (st != plat::kOk) return st;
    st = plat::RegSetValue(key, nullptr, type, bytes.data(), uint32_t(bytes.size()));
    plat::RegCloseKey(key);
    return st;
  }
  std::vector<uint8_t> QueryDefault(plat::Status* status, uint32_t* type) {
    plat::RegKeyHandle key = nullptr;
    *status = plat::RegOpenKey(plat::kRegCurrentUser, kKey, plat::kKeyAllAccess, &key);
    if (*status != plat::kOk) return {};
    std::vector<uint8_t> buf(264);
    uint32_t size = 264;
    *status = plat::RegQueryValue(key, "", type, buf.data(), &size);
    plat::RegCloseKey(key);
    buf.resize(*status == plat::kOk ? size : 0);
    return buf;
  }
};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 7);
  return v;
}

TEST_F(RegistryTest, CreateSetQueryRoundTripSurvivesANewProcess) {
  plat::RegKeyHandle key = nullptr;
  uint32_t disposition = 0;
  ASSERT_EQ(plat::RegOpenKey(plat::kRegCurrentUser, kKey, plat::kKeyAllAccess, &key), plat::kErrFileNotFound);
  ASSERT_EQ(plat::RegCreateKey(plat::kRegCurrentUser, kKey, plat::kRegOptionNonVolatile, plat::kKeyAllAccess, &key,
                               &disposition),
            plat::kOk);
  EXPECT_EQ(disposition, plat::kRegCreatedNewKey);
  const auto record = Pattern(264, 3);
  ASSERT_EQ(plat::RegSetValue(key, nullptr, plat::kRegBinary, record.data(), 264), plat::kOk);
  ASSERT_EQ(plat::RegCloseKey(key), plat::kOk);

  Reopen();
  // Names compare without regard to case; the parent keys were made too.
  ASSERT_EQ(plat::RegOpenKey(plat::kRegCurrentUser, "software\\KESTRANE", plat::kKeyRead, &key), plat::kOk);
  plat::RegCloseKey(key);
  ASSERT_EQ(plat::RegCreateKey(plat::kRegCurrentUser, "SOFTWARE\\Kestrane\\ombrix one", 0, plat::kKeyAllAccess, &key,
                               &disposition),
            plat::kOk);
  EXPECT_EQ(disposition, plat::kRegOpenedExistingKey);
  plat::RegCloseKey(key);

  plat::Status st;
  uint32_t type = 0;
  EXPECT_EQ(QueryDefault(&st, &type), record);
  EXPECT_EQ(st, plat::kOk);
  EXPECT_EQ(type, plat::kRegBinary);

  // A named value beside the default one, and replacing a value.
  ASSERT_EQ(plat::RegOpenKey(plat::kRegCurrentUser, kKey, plat::kKeyAllAccess, &key), plat::kOk);
  ASSERT_EQ(plat::RegSetValue(key, "Name", plat::kRegString, "abc", 4), plat::kOk);
  const auto shorter = Pattern(10, 9);
  ASSERT_EQ(plat::RegSetValue(key, "", plat::kRegBinary, shorter.data(), 10), plat::kOk);
  plat::RegCloseKey(key);
  Reopen();
  EXPECT_EQ(QueryDefault(&st, &type), shorter);
  ASSERT_EQ(plat::RegOpenKey(plat::kRegCurrentUser, kKey, plat::kKeyRead, &key), plat::kOk);
  char text[8] = {};
  uint32_t size = sizeof text;
  EXPECT_EQ(plat::RegQueryValue(key, "NAME", &type, text, &size), plat::kOk);
  EXPECT_EQ(type, plat::kRegString);
  EXPECT_EQ(size, 4u);
  EXPECT_STREQ(text, "abc");
  plat::RegCloseKey(key);
  EXPECT_TRUE(g_messages.empty());
}

TEST_F(RegistryTest, AnswersForWrongSizeTypeMissingValuesAndAccess) {
  const auto small = Pattern(100, 1);
  ASSERT_EQ(SetDefault(small), plat::kOk);
  plat::RegKeyHandle key = nullptr;
  ASSERT_EQ(plat::RegOpenKey(plat::kRegCurrentUser, kKey, plat::kKeyRead, &key), plat::kOk);

  uint32_t type = 0, size = 264;
  std::vector<uint8_t> buf(264, 0xEE);
  // A 100-byte value read into a 264-byte buffer: success, with its true size.
  EXPECT_EQ(plat::RegQueryValue(key, nullptr, &type, buf.data(), &size), plat::kOk);
  EXPECT_EQ(size, 100u);
  EXPECT_EQ(type, plat::kRegBinary);
  // Too small a buffer: "more data", the size needed, nothing copied.
  std::vector<uint8_t> tiny(50, 0xEE);
  size = 50;
  EXPECT_EQ(plat::RegQueryValue(key, nullptr, &type, tiny.data(), &size), plat::kErrMoreData);
  EXPECT_EQ(size, 100u);
  EXPECT_EQ(tiny, std::vector<uint8_t>(50, 0xEE));
  // Size only.
  size = 0;
  EXPECT_EQ(plat::RegQueryValue(key, nullptr, nullptr, nullptr, &size), plat::kOk);
  EXPECT_EQ(size, 100u);
  // Missing value; missing key; no write access through a read-only handle.
  size = 264;
  EXPECT_EQ(plat::RegQueryValue(key, "absent", &type, buf.data(), &size), plat::kErrFileNotFound);
  EXPECT_EQ(plat::RegSetValue(key, nullptr, plat::kRegBinary, buf.data(), 264), plat::kErrAccessDenied);
  plat::RegCloseKey(key);
  plat::RegKeyHandle other = nullptr;
  EXPECT_EQ(plat::RegOpenKey(plat::kRegCurrentUser, "Software\\Kestrane\\Nothing", plat::kKeyRead, &other),
            plat::kErrFileNotFound);
  EXPECT_EQ(other, nullptr);
  // A closed handle is no longer accepted.
  EXPECT_EQ(plat::RegQueryValue(key, nullptr, &type, buf.data(), &size), plat::kErrInvalidHandle);
  // Malformed paths.
  EXPECT_EQ(plat::RegCreateKey(plat::kRegCurrentUser, "\\Software", 0, plat::kKeyAllAccess, &other, nullptr),
            plat::kErrBadPathName);
  EXPECT_EQ(plat::RegCreateKey(plat::kRegCurrentUser, "a\\\\b", 0, plat::kKeyAllAccess, &other, nullptr),
            plat::kErrBadPathName);

  // A string value keeps its type and exact size.
  ASSERT_EQ(SetDefault({'h', 'i', 0}, plat::kRegString), plat::kOk);
  plat::Status st;
  EXPECT_EQ(QueryDefault(&st, &type), (std::vector<uint8_t>{'h', 'i', 0}));
  EXPECT_EQ(type, plat::kRegString);
}

TEST_F(RegistryTest, LeftoverOfACrashedWriteIsIgnoredAndCleanedUp) {
  const auto old_value = Pattern(264, 5);
  ASSERT_EQ(SetDefault(old_value), plat::kOk);
  const fs::path store = plat::RegistryFile();
  ASSERT_TRUE(fs::exists(store));
  // A write that died before its rename: a complete, newer-looking store
  // under the temporary name. It must not be taken for the store.
  const auto newer = Pattern(264, 77);
  ASSERT_EQ(SetDefault(newer), plat::kOk);
  const std::string newer_bytes = ReadFile(store);
  ASSERT_EQ(SetDefault(old_value), plat::kOk);
  WriteFile(dir.path / "registry.obr.tmp-crash1", newer_bytes);
  WriteFile(dir.path / "registry.obr.tmp-crash2", "partial");

  Reopen();
  plat::Status st;
  uint32_t type;
  EXPECT_EQ(QueryDefault(&st, &type), old_value);

  // The next write replaces the store whole and clears the leftovers.
  plat::RegKeyHandle key = nullptr;
  ASSERT_EQ(plat::RegOpenKey(plat::kRegCurrentUser, kKey, plat::kKeyAllAccess, &key), plat::kOk);
  ASSERT_EQ(plat::RegSetValue(key, "Other", plat::kRegBinary, "x", 1), plat::kOk);
  plat::RegCloseKey(key);
  EXPECT_FALSE(fs::exists(dir.path / "registry.obr.tmp-crash1"));
  EXPECT_FALSE(fs::exists(dir.path / "registry.obr.tmp-crash2"));
  Reopen();
  EXPECT_EQ(QueryDefault(&st, &type), old_value);
  EXPECT_TRUE(g_messages.empty());
}

TEST_F(RegistryTest, DamagedStoreIsReportedOnceReadAsEmptyAndSetAside) {
  const auto value = Pattern(264, 2);
  ASSERT_EQ(SetDefault(value), plat::kOk);
  const fs::path store = plat::RegistryFile();

  // One flipped byte in the payload: the checksum no longer matches.
  std::string bytes = ReadFile(store);
  bytes[bytes.size() / 2] ^= 0x40;
  WriteFile(store, bytes);
  Reopen();
  plat::Status st;
  uint32_t type;
  QueryDefault(&st, &type);
  EXPECT_EQ(st, plat::kErrFileNotFound);
  QueryDefault(&st, &type);
  ASSERT_EQ(g_messages.size(), 1u);
  EXPECT_NE(g_messages[0].find("damaged"), std::string::npos);

  // Writing keeps the damaged file aside, where the one report said, and starts a good store.
  ASSERT_EQ(SetDefault(value), plat::kOk);
  EXPECT_EQ(ReadFile(fs::path(store.string() + ".damaged")), bytes);
  ASSERT_EQ(g_messages.size(), 1u);
  EXPECT_NE(g_messages[0].find("kept as " + store.string() + ".damaged"), std::string::npos) << g_messages[0];
  Reopen();
  EXPECT_EQ(QueryDefault(&st, &type), value);

  // Other kinds of damage: garbage, truncation, an empty file.
  for (const std::string& junk : {std::string("not a store at all"), ReadFile(store).substr(0, 30), std::string()}) {
    WriteFile(store, junk);
    Reopen();
    g_messages.clear();
    QueryDefault(&st, &type);
    EXPECT_EQ(st, plat::kErrFileNotFound);
    EXPECT_EQ(g_messages.size(), 1u);
  }
}

TEST_F(RegistryTest, WriteFailuresLeaveTheValueAlone) {
  const auto value = Pattern(264, 4);
  ASSERT_EQ(SetDefault(value), plat::kOk);
  plat::FailRegistryCall(plat::RegistryCall::kSet, 1, plat::kErrAccessDenied);
  EXPECT_EQ(SetDefault(Pattern(264, 8)), plat::kErrAccessDenied);
  plat::Status st;
  uint32_t type;
  EXPECT_EQ(QueryDefault(&st, &type), value);

  // A store folder that cannot exist (its parent is a file).
  WriteFile(dir.path / "plain", "x");
  plat::SetRegistryDirectory((dir.path / "plain" / "ombrix").string());
  plat::RegKeyHandle key = nullptr;
  EXPECT_NE(plat::RegCreateKey(plat::kRegCurrentUser, kKey, 0, plat::kKeyAllAccess, &key, nullptr), plat::kOk);
  EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryTest, VolatileKeysAreNotWrittenToTheStore) {
  plat::RegKeyHandle key = nullptr;
  ASSERT_EQ(plat::RegCreateKey(plat::kRegCurrentUser, "Volatile\\Here", plat::kRegOptionVolatile, plat::kKeyAllAccess,
                               &key, nullptr),
            plat::kOk);
  ASSERT_EQ(plat::RegSetValue(key, nullptr, plat::kRegBinary, "ab", 2), plat::kOk);
  plat::RegKeyHandle child = nullptr;
  EXPECT_EQ(plat::RegCreateKey(key, "Child", plat::kRegOptionNonVolatile, plat::kKeyAllAccess, &child, nullptr),
            plat::kErrChildMustBeVolatile);
  plat::RegCloseKey(key);
  EXPECT_FALSE(fs::exists(plat::RegistryFile()));
}

}  // namespace
