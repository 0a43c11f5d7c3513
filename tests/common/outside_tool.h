// Tests that drive an outside program (ffmpeg, a browser, a batch scheduler)
// look it up on PATH with OMBRIX_NEED_TOOL. On a developer's machine a
// missing program skips the test. Where tools are required (CI, or
// OMBRIX_REQUIRE_TOOLS=1) a missing program fails it instead, so that a green
// run proves the install scripts bring in every program the tests use.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace ombrix_test {

// The path of an executable regular file named PROGRAM in the folders of
// SEARCH (a PATH-style list; an empty entry is the current folder), or ""
// when there is none. A PROGRAM containing '/' is checked as it stands.
inline std::string FindOnPath(std::string_view program, std::string_view search) {
  auto runnable = [](const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p.c_str(), X_OK) == 0;
  };
  if (program.empty()) return "";
  if (program.find('/') != std::string_view::npos) {
    std::string p(program);
    return runnable(p) ? p : "";
  }
  for (size_t start = 0;;) {
    size_t end = search.find(':', start);
    std::string_view dir = search.substr(start, end == std::string_view::npos ? end : end - start);
    std::string p = (dir.empty() ? std::string(".") : std::string(dir)) + "/" + std::string(program);
    if (runnable(p)) return p;
    if (end == std::string_view::npos) return "";
    start = end + 1;
  }
}

inline std::string FindOnPath(std::string_view program) {
  const char* path = std::getenv("PATH");
  return FindOnPath(program, path ? path : "/usr/bin:/bin");
}

// OMBRIX_REQUIRE_TOOLS decides when set ("0" or empty: not required);
// otherwise tools are required when CI=true, as CI services set it.
inline bool OutsideToolsRequired() {
  if (const char* v = std::getenv("OMBRIX_REQUIRE_TOOLS")) return *v && std::strcmp(v, "0") != 0;
  const char* ci = std::getenv("CI");
  return ci && std::strcmp(ci, "true") == 0;
}

}  // namespace ombrix_test

// Declares `const std::string VAR` holding PROGRAM's path, or ends the test:
// a failure when tools are required, a skip otherwise.
#define OMBRIX_NEED_TOOL(VAR, PROGRAM)                                                     \
  const std::string VAR = ::ombrix_test::FindOnPath(PROGRAM);                              \
  if (VAR.empty()) {                                                                       \
    if (::ombrix_test::OutsideToolsRequired())                                             \
      FAIL() << "the program \"" << (PROGRAM) << "\" is not on PATH; the install scripts " \
             << "must install it";                                                         \
    else                                                                                   \
      GTEST_SKIP() << "the program \"" << (PROGRAM) << "\" is not on PATH";                \
  }
