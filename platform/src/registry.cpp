// The per-user registry, kept in one file.
//
// Store file format (all integers little-endian):
//   8 bytes   magic "OBXREG\r\n"
//   u32       format version (1)
//   u32       payload length in bytes
//   payload   u32 key count, then per key:
//               u16 path length, path bytes (backslash-separated, as created)
//               u32 value count, then per value:
//                 u16 name length, name bytes (empty: the default value)
//                 u32 type, u32 size, size bytes
//   u32       CRC-32 (IEEE) of the payload
// A file that fails any check is damaged: it is reported once (one line,
// which also says where it will be kept), read as an empty store, and set
// aside as "<file>.damaged" before the next write.
//
// Writers serialise through an advisory lock on "registry.lock" in the same
// folder, re-read the file under the lock, and replace it atomically: a new
// file in the same folder, fsync, rename over the old one, fsync the folder.
// Leftover temporary files of an interrupted write are never read; they are
// removed by the next writer.
#include <ombrix/platform/files.h>
#include <ombrix/platform/headless.h>
#include <ombrix/platform/registry.h>

#include "internal.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <map>
#include <mutex>
#include <pwd.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ombrix::platform {

struct RegKey {
  std::string path;  // normalised, as first created; "" is the hive's root
  uint32_t access = 0;
};

namespace {

RegKey g_current_user{"", kKeyAllAccess};

constexpr char kMagic[8] = {'O', 'B', 'X', 'R', 'E', 'G', '\r', '\n'};
constexpr uint32_t kFormatVersion = 1;
constexpr const char* kStoreName = "registry.obr";
constexpr const char* kLockName = "registry.lock";
constexpr const char* kTempPrefix = "registry.obr.tmp-";
constexpr off_t kMaxStoreBytes = off_t(64) << 20;
constexpr size_t kMaxNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;

struct Value {
  std::string name;
  uint32_t type = 0;
  std::vector<uint8_t> bytes;
};
struct Key {
  std::string path;
  std::vector<Value> values;
  bool is_volatile = false;
};
using Store = std::map<std::string, Key>;  // by folded path

struct FileId {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  int64_t mtime_ns = 0;
  bool operator==(const FileId&) const = default;
};

struct Fault {
  int nth;
  Status status;
};

struct State {
  std::mutex mu;
  std::string dir_override;
  Store cache;
  FileId cache_id;
  bool cache_valid = false;
  FileId reported_damage;
  bool damage_reported = false;
  Store volatile_keys;
  std::set<RegKey*> handles;
  std::array<int, 4> calls{};
  std::array<std::vector<Fault>, 4> faults;
};

State& S() {
  static State* state = new State;  // lives for the whole process
  return *state;
}

std::string Fold(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  return Fold(a) == Fold(b);
}

// ---------------------------------------------------------------------------
// CRC-32 (IEEE 802.3, reflected, as zlib computes it)
// ---------------------------------------------------------------------------
constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[i] = c;
  }
  return t;
}
constexpr auto kCrcTable = MakeCrcTable();

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) c = kCrcTable[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

// ---------------------------------------------------------------------------
// Serialisation
// ---------------------------------------------------------------------------
void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
void PutBytes(std::vector<uint8_t>& out, const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  out.insert(out.end(), b, b + n);
}

std::vector<uint8_t> Serialise(const Store& store) {
  std::vector<uint8_t> payload;
  uint32_t persistent = 0;
  for (const auto& [folded, key] : store)
    if (!key.is_volatile) ++persistent;
  Put32(payload, persistent);
  for (const auto& [folded, key] : store) {
    if (key.is_volatile) continue;
    Put16(payload, uint32_t(key.path.size()));
    PutBytes(payload, key.path.data(), key.path.size());
    Put32(payload, uint32_t(key.values.size()));
    for (const Value& v : key.values) {
      Put16(payload, uint32_t(v.name.size()));
      PutBytes(payload, v.name.data(), v.name.size());
      Put32(payload, v.type);
      Put32(payload, uint32_t(v.bytes.size()));
      PutBytes(payload, v.bytes.data(), v.bytes.size());
    }
  }
  std::vector<uint8_t> file;
  PutBytes(file, kMagic, sizeof kMagic);
  Put32(file, kFormatVersion);
  Put32(file, uint32_t(payload.size()));
  PutBytes(file, payload.data(), payload.size());
  Put32(file, Crc32(payload.data(), payload.size()));
  return file;
}

struct Reader {
  const uint8_t* p;
  size_t n;
  size_t at = 0;
  bool ok = true;
  uint32_t Get(int bytes) {
    if (!ok || n - at < size_t(bytes)) {
      ok = false;
      return 0;
    }
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint32_t(p[at + i]) << (8 * i);
    at += size_t(bytes);
    return v;
  }
  std::string Text(size_t len) {
    if (!ok || n - at < len) {
      ok = false;
      return {};
    }
    std::string s(reinterpret_cast<const char*>(p + at), len);
    at += len;
    return s;
  }
};

bool ValidKeyPath(std::string_view path);

// Parses a store file; on failure `why` says what is wrong.
bool Parse(const std::vector<uint8_t>& file, Store* store, std::string* why) {
  if (file.size() < sizeof kMagic + 12 || std::memcmp(file.data(), kMagic, sizeof kMagic) != 0) {
    *why = "not a registry store";
    return false;
  }
  Reader head{file.data() + sizeof kMagic, file.size() - sizeof kMagic};
  const uint32_t version = head.Get(4);
  const uint32_t length = head.Get(4);
  if (version != kFormatVersion) {
    *why = "unsupported format version " + std::to_string(version);
    return false;
  }
  if (size_t(length) != file.size() - sizeof kMagic - 12) {
    *why = "truncated or overlong";
    return false;
  }
  const uint8_t* payload = file.data() + sizeof kMagic + 8;
  Reader tail{payload + length, 4};
  if (tail.Get(4) != Crc32(payload, length)) {
    *why = "checksum mismatch";
    return false;
  }
  Reader r{payload, length};
  const uint32_t keys = r.Get(4);
  Store out;
  for (uint32_t k = 0; k < keys && r.ok; ++k) {
    Key key;
    key.path = r.Text(r.Get(2));
    const uint32_t values = r.Get(4);
    if (!r.ok) break;
    if (!ValidKeyPath(key.path) || out.count(Fold(key.path))) {
      *why = "bad key path";
      return false;
    }
    for (uint32_t v = 0; v < values && r.ok; ++v) {
      Value value;
      value.name = r.Text(r.Get(2));
      value.type = r.Get(4);
      const uint32_t size = r.Get(4);
      if (!r.ok || size > kRegMaxValueSize || r.n - r.at < size) {
        r.ok = false;
        break;
      }
      value.bytes.assign(r.p + r.at, r.p + r.at + size);
      r.at += size;
      for (const Value& other : key.values)
        if (SameName(other.name, value.name)) {
          *why = "duplicate value";
          return false;
        }
      key.values.push_back(std::move(value));
    }
    out.emplace(Fold(key.path), std::move(key));
  }
  if (!r.ok || r.at != r.n) {
    *why = "malformed contents";
    return false;
  }
  *store = std::move(out);
  return true;
}

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------
std::string DefaultDirectory() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/ombrix";
  const char* home = std::getenv("HOME");
  std::string h = home && home[0] == '/' ? home : "";
  if (h.empty()) {
    struct passwd pw, *res = nullptr;
    char buf[4096];
    if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &res) == 0 && res && res->pw_dir) h = res->pw_dir;
  }
  if (h.empty()) h = "/tmp";
  return h + "/.config/ombrix";
}

std::string Directory(State& s) { return s.dir_override.empty() ? DefaultDirectory() : s.dir_override; }

FileId IdOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size, int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

struct Loaded {
  Store store;
  FileId id;
  bool damaged = false;
};

// The one line that reports a damaged store.
void ReportDamage(const std::string& path, const std::string& why) {
  detail::Diagnose("the settings store " + path + " " + why + "; using empty settings (the file is kept as " + path +
                   ".damaged when settings are next saved)");
}

// Reads the store file. A missing file is an empty store. Damage is
// reported once per damaged file.
Loaded LoadFile(State& s, const std::string& path) {
  Loaded out;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) {
      const int err = errno;
      out.damaged = true;
      struct stat st;
      if (::stat(path.c_str(), &st) == 0) out.id = IdOf(st);
      if (!s.damage_reported || !(s.reported_damage == out.id)) {
        s.damage_reported = true;
        s.reported_damage = out.id;
        ReportDamage(path, "cannot be read (" + detail::ErrnoText(err) + ")");
      }
    }
    return out;
  }
  struct stat st;
  std::vector<uint8_t> bytes;
  bool read_ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (read_ok) {
    out.id = IdOf(st);
    if (s.cache_valid && s.cache_id == out.id) {
      ::close(fd);
      out.store = s.cache;
      return out;
    }
    // A store larger than any the writers make is damage, not something to load.
    if (st.st_size > kMaxStoreBytes) {
      ::close(fd);
      out.damaged = true;
      if (!s.damage_reported || !(s.reported_damage == out.id)) {
        s.damage_reported = true;
        s.reported_damage = out.id;
        ReportDamage(path, "is damaged (larger than " + std::to_string(kMaxStoreBytes >> 20) + " MiB)");
      }
      return out;
    }
    bytes.resize(size_t(st.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
      ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += size_t(n);
    }
    read_ok = got == bytes.size();
  }
  ::close(fd);
  std::string why = "unreadable";
  if (read_ok && Parse(bytes, &out.store, &why)) {
    s.cache = out.store;
    s.cache_id = out.id;
    s.cache_valid = true;
    return out;
  }
  out.store.clear();
  out.damaged = true;
  if (!s.damage_reported || !(s.reported_damage == out.id)) {
    s.damage_reported = true;
    s.reported_damage = out.id;
    ReportDamage(path, "is damaged (" + why + ")");
  }
  return out;
}

// The persistent store as it stands, merged with this process's volatile keys.
Store Current(State& s) {
  Store store = LoadFile(s, Directory(s) + "/" + kStoreName).store;
  for (const auto& [folded, key] : s.volatile_keys) store.insert_or_assign(folded, key);
  return store;
}

void RemoveStaleTemps(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = ::readdir(d)) {
    if (std::strncmp(e->d_name, kTempPrefix, std::strlen(kTempPrefix)) == 0 ||
        std::strncmp(e->d_name, kReplacementPrefix, std::strlen(kReplacementPrefix)) == 0)
      ::unlinkat(::dirfd(d), e->d_name, 0);
  }
  ::closedir(d);
}

Status IoStatus(int err) {
  Status st = detail::StatusFromErrno(err);
  return st == kErrAccessDenied ? st : kErrStoreIoFailed;
}

// Read-modify-write of the persistent store under the lock. `change` edits
// the store and answers whether anything changed (and its own result).
Status Mutate(State& s, const std::function<Status(Store&, bool&)>& change) {
  const std::string dir = Directory(s);
  if (int err = detail::MakeDirectories(dir, 0700)) return IoStatus(err);
  const std::string lock_path = dir + "/" + kLockName;
  int lock_fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock_fd < 0) return IoStatus(errno);
  while (::flock(lock_fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  struct Unlock {
    int fd;
    ~Unlock() { ::close(fd); }
  } unlock{lock_fd};

  const std::string path = dir + "/" + kStoreName;
  Loaded loaded = LoadFile(s, path);
  bool changed = false;
  Status result = change(loaded.store, changed);
  if (result != kOk || !changed) return result;

  // Set aside as the damage report said; only a failure to do so is news.
  if (loaded.damaged && ::access(path.c_str(), F_OK) == 0) {
    const std::string aside = path + ".damaged";
    if (::rename(path.c_str(), aside.c_str()) != 0) {
      const int err = errno;
      detail::Diagnose("the damaged settings store " + path + " cannot be kept as " + aside + " (" +
                       detail::ErrnoText(err) + "); it is replaced");
    }
  }
  RemoveStaleTemps(dir);

  FileReplacement file;
  if (!file.Begin(path, 0600)) return IoStatus(file.error_number());
  const std::vector<uint8_t> bytes = Serialise(loaded.store);
  if (!file.Append(bytes.data(), bytes.size()) || !file.Commit()) return IoStatus(file.error_number());
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return IoStatus(errno);
  s.cache = loaded.store;
  s.cache_id = IdOf(info);
  s.cache_valid = true;
  return kOk;
}

// ---------------------------------------------------------------------------
// Paths and handles
// ---------------------------------------------------------------------------
bool ValidKeyPath(std::string_view path) {
  if (path.empty()) return false;
  size_t start = 0;
  while (true) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    const size_t len = end - start;
    if (len == 0 || len > kMaxNameLength) return false;
    for (size_t i = start; i < end; ++i)
      if (static_cast<unsigned char>(path[i]) < 0x20) return false;
    if (end == path.size()) return true;
    start = end + 1;
  }
}

bool LiveHandle(State& s, RegKeyHandle key) { return key == &g_current_user || (key && s.handles.count(key)); }

// Joins a parent key and a relative name. Answers kOk or kErrBadPathName.
Status Join(const RegKey* parent, const char* subkey, std::string* out) {
  std::string_view sub = subkey ? subkey : "";
  if (sub.empty()) {
    *out = parent->path;
    return kOk;
  }
  if (!ValidKeyPath(sub)) return kErrBadPathName;
  *out = parent->path.empty() ? std::string(sub) : parent->path + "\\" + std::string(sub);
  return kOk;
}

Status CheckFault(State& s, RegistryCall call) {
  const int index = int(call);
  const int n = ++s.calls[size_t(index)];
  for (const Fault& f : s.faults[size_t(index)])
    if (f.nth == n) return f.status;
  return kOk;
}

Status NewHandle(State& s, std::string path, uint32_t access, RegKeyHandle* result) {
  auto* key = new (std::nothrow) RegKey{std::move(path), access};
  if (!key) return kErrOutOfMemory;
  s.handles.insert(key);
  *result = key;
  return kOk;
}

const Value* FindValue(const Key& key, std::string_view name) {
  for (const Value& v : key.values)
    if (SameName(v.name, name)) return &v;
  return nullptr;
}

}  // namespace

RegKeyHandle const kRegCurrentUser = &g_current_user;

Status RegOpenKey(RegKeyHandle parent, const char* subkey, uint32_t access, RegKeyHandle* result) noexcept try {
  if (!result) return kErrInvalidParameter;
  *result = nullptr;
  State& s = S();
  std::lock_guard lock(s.mu);
  if (!LiveHandle(s, parent)) return kErrInvalidHandle;
  if (Status f = CheckFault(s, RegistryCall::kOpen)) return f;
  std::string path;
  if (Status st = Join(parent, subkey, &path)) return st;
  if (!path.empty()) {
    Store store = Current(s);
    auto it = store.find(Fold(path));
    if (it == store.end()) return kErrFileNotFound;
    path = it->second.path;
  }
  return NewHandle(s, std::move(path), access, result);
} catch (...) {
  return kErrOutOfMemory;
}

Status RegCreateKey(RegKeyHandle parent, const char* subkey, uint32_t options, uint32_t access, RegKeyHandle* result,
                    uint32_t* disposition) noexcept try {
  if (!result) return kErrInvalidParameter;
  *result = nullptr;
  if (options & ~kRegOptionVolatile) return kErrInvalidParameter;
  State& s = S();
  std::lock_guard lock(s.mu);
  if (!LiveHandle(s, parent)) return kErrInvalidHandle;
  if (Status f = CheckFault(s, RegistryCall::kCreate)) return f;
  std::string path;
  if (Status st = Join(parent, subkey, &path)) return st;
  if (path.empty()) {
    if (disposition) *disposition = kRegOpenedExistingKey;
    return NewHandle(s, "", access, result);
  }
  if (parent != kRegCurrentUser && !(parent->access & kKeyCreateSubKey)) {
    Store store = Current(s);
    if (!store.count(Fold(path))) return kErrAccessDenied;
  }
  const bool want_volatile = options & kRegOptionVolatile;

  // Every key from the root down to `path`, in order.
  std::vector<std::string> chain;
  for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1))
    chain.push_back(path.substr(0, at));
  chain.push_back(path);

  Store current = Current(s);
  std::string stored_path = path;
  bool created = false;
  bool parent_volatile = false;
  std::vector<std::string> missing;
  for (const std::string& p : chain) {
    auto it = current.find(Fold(p));
    if (it == current.end()) {
      missing.push_back(p);
    } else {
      parent_volatile = it->second.is_volatile;
      if (&p == &chain.back()) stored_path = it->second.path;
    }
  }
  if (!missing.empty()) {
    if (parent_volatile && !want_volatile) return kErrChildMustBeVolatile;
    created = true;
    // Keys created volatile live in this process only; keys above them that
    // are missing are created volatile too.
    if (want_volatile || parent_volatile) {
      for (const std::string& p : missing) s.volatile_keys.emplace(Fold(p), Key{p, {}, true});
    } else {
      Status st = Mutate(s, [&](Store& store, bool& changed) {
        for (const std::string& p : missing)
          if (store.emplace(Fold(p), Key{p, {}, false}).second) changed = true;
        return kOk;
      });
      if (st != kOk) return st;
    }
  }
  if (disposition) *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
  return NewHandle(s, stored_path, access, result);
} catch (...) {
  return kErrOutOfMemory;
}

Status RegQueryValue(RegKeyHandle key, const char* name, uint32_t* type, void* data, uint32_t* size) noexcept try {
  State& s = S();
  std::lock_guard lock(s.mu);
  if (!LiveHandle(s, key)) return kErrInvalidHandle;
  if (data && !size) return kErrInvalidParameter;
  if (Status f = CheckFault(s, RegistryCall::kQuery)) return f;
  if (!(key->access & kKeyQueryValue)) return kErrAccessDenied;
  if (key->path.empty()) return kErrFileNotFound;  // the root holds no values
  Store store = Current(s);
  auto it = store.find(Fold(key->path));
  if (it == store.end()) return kErrFileNotFound;
  const Value* v = FindValue(it->second, name ? name : "");
  if (!v) return kErrFileNotFound;
  if (type) *type = v->type;
  const uint32_t n = uint32_t(v->bytes.size());
  if (data && *size < n) {
    *size = n;
    return kErrMoreData;
  }
  if (data && n) std::memcpy(data, v->bytes.data(), n);
  if (size) *size = n;
  return kOk;
} catch (...) {
  return kErrOutOfMemory;
}

Status RegSetValue(RegKeyHandle key, const char* name, uint32_t type, const void* data, uint32_t size) noexcept try {
  State& s = S();
  std::lock_guard lock(s.mu);
  if (!LiveHandle(s, key)) return kErrInvalidHandle;
  if ((!data && size) || size > kRegMaxValueSize) return kErrInvalidParameter;
  std::string value_name = name ? name : "";
  if (value_name.size() > kMaxValueNameLength) return kErrInvalidParameter;
  if (Status f = CheckFault(s, RegistryCall::kSet)) return f;
  if (!(key->access & kKeySetValue)) return kErrAccessDenied;
  if (key->path.empty()) return kErrAccessDenied;  // the root holds no values
  const auto* bytes = static_cast<const uint8_t*>(data);
  auto apply = [&](Key& k) {
    for (Value& v : k.values)
      if (SameName(v.name, value_name)) {
        v.type = type;
        v.bytes.assign(bytes, bytes + size);
        return;
      }
    k.values.push_back(Value{value_name, type, std::vector<uint8_t>(bytes, bytes + size)});
  };
  const std::string folded = Fold(key->path);
  if (auto it = s.volatile_keys.find(folded); it != s.volatile_keys.end()) {
    apply(it->second);
    return kOk;
  }
  return Mutate(s, [&](Store& store, bool& changed) {
    auto it = store.find(folded);
    if (it == store.end()) return kErrFileNotFound;  // the key is gone (damaged store)
    apply(it->second);
    changed = true;
    return kOk;
  });
} catch (...) {
  return kErrOutOfMemory;
}

Status RegCloseKey(RegKeyHandle key) noexcept {
  if (key == kRegCurrentUser) return kOk;
  State& s = S();
  std::lock_guard lock(s.mu);
  if (!key || !s.handles.erase(key)) return kErrInvalidHandle;
  delete key;
  return kOk;
}

// ---------------------------------------------------------------------------
// Host configuration
// ---------------------------------------------------------------------------
void SetRegistryDirectory(std::string_view dir) {
  State& s = S();
  std::lock_guard lock(s.mu);
  s.dir_override = std::string(dir);
  while (s.dir_override.size() > 1 && s.dir_override.back() == '/') s.dir_override.pop_back();
  s.cache_valid = false;
  s.damage_reported = false;
}

std::string RegistryDirectory() {
  State& s = S();
  std::lock_guard lock(s.mu);
  return Directory(s);
}

std::string RegistryFile() { return RegistryDirectory() + "/" + kStoreName; }

void FailRegistryCall(RegistryCall call, int nth, Status status) {
  State& s = S();
  std::lock_guard lock(s.mu);
  const size_t i = size_t(call);
  s.faults[i].push_back(Fault{s.calls[i] + nth, status});
}

void ClearRegistryFailures() {
  State& s = S();
  std::lock_guard lock(s.mu);
  for (auto& f : s.faults) f.clear();
}

}  // namespace ombrix::platform
