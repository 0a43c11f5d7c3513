// A scratch folder for a fuzz target's files: made on first use, removed
// when the process exits.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

inline const std::string& ScratchFolder(const char* target) {
  // Never destroyed, so that the clean-up at exit can still name it.
  static const std::string* dir = [target] {
    std::string name = std::string("/tmp/ombrix-fuzz-") + target + "-XXXXXX";
    if (!::mkdtemp(name.data())) std::abort();
    std::atexit([] { std::filesystem::remove_all(ScratchFolder(nullptr)); });
    return new std::string(name);
  }();
  return *dir;
}
