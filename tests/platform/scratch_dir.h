// A fresh scratch folder per test, removed afterwards.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdlib.h>
#include <string>

struct ScratchDir {
  std::filesystem::path path;
  ScratchDir() {
    std::string t = (std::filesystem::temp_directory_path() / "obx-plat-XXXXXX").string();
    if (mkdtemp(t.data())) path = t;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path, ec);
  }
};

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary);
  out << bytes;
}

// Sets an environment variable for the scope, restoring it afterwards.
struct ScopedEnv {
  std::string name;
  bool had = false;
  std::string old;
  ScopedEnv(const char* n, const char* value) : name(n) {
    if (const char* v = getenv(n)) {
      had = true;
      old = v;
    }
    if (value)
      setenv(n, value, 1);
    else
      unsetenv(n);
  }
  ~ScopedEnv() {
    if (had)
      setenv(name.c_str(), old.c_str(), 1);
    else
      unsetenv(name.c_str());
  }
};
