// Whether plug-ins should take their plain reference paths instead of the
// optimised ones: set OMBRIX_REFERENCE_PATHS to anything but "" or "0".
// Both paths give the same bytes; tests render each way and compare.
#pragma once

#include <cstdlib>

namespace pf {

inline bool ReferencePathsRequested() {
  const char* v = std::getenv("OMBRIX_REFERENCE_PATHS");
  return v != nullptr && v[0] != '\0' && !(v[0] == '0' && v[1] == '\0');
}

}  // namespace pf
