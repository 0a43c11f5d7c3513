// `ombrix studio`: the local web server of the studio (docs/studio.md).
#pragma once

#include "../commands.h"

#include <optional>
#include <string>

namespace ombrix::studio {

struct StudioOptions {
  std::optional<std::string> project;  // opened at the start
  int port = 0;                        // 0: a free port chosen by the system
  std::string web;                     // --web DIR: the front end's folder
  bool no_open = false;                // do not open a browser
};

// Serves until SIGINT or SIGTERM, then cancels the renders, closes the
// sockets and returns 0. Throws UsageError for a bad project file and
// std::runtime_error when the server cannot start.
int RunStudio(const cli::CommonOptions& common, const StudioOptions& options);

}  // namespace ombrix::studio
