// What the tests that run the `ombrix` binary share: the outcome of a run,
// shell quoting, and reading files whole.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace ombrix_cli_test {

// The exit status and what the run printed.
struct Result {
  int status = -1;
  std::string out, err;
};

// `s` as one word for sh: in single quotes, each ' written as '\''.
inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string Bytes(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

inline int Lines(const std::string& s) { return int(std::count(s.begin(), s.end(), '\n')); }

}  // namespace ombrix_cli_test
