// What `ombrix render` and `ombrix demo` share while they run effects.
#pragma once

#include "commands.h"

#include <ombrix/host/image_io.h>

#include <string>
#include <vector>

namespace ombrix::cli {

// SIGINT and SIGTERM end the run at once: the temporary of a file being
// written is removed and the status is 128 + the signal (130, 143). Every
// file is replaced only when complete, so nothing half-written remains.
void CatchInterrupts();

// The input named by -i; a source that cannot be opened is a UsageError.
ImageSource OpenInput(const std::string& text);

// Routes each command's return_msg: collected while a command runs, then
// printed (result 0) or folded into the failure line (non-zero result).
struct Messages {
  std::vector<std::string> pending;

  // Collects what the host's effects report from now on.
  void Listen(Host& host);
  void Take(const CommandResult& result);
  // Prints the messages of a successful command, or throws for a failed one.
  void Settle(const std::string& effect, const char* what, const CommandResult& result);
};

// Notes on stderr what the effects will not see of a source's file: samples
// deeper than their 8 bits, and pages or parts after the first.
void NoteSource(const ImageSource& source, bool quiet);

}  // namespace ombrix::cli
