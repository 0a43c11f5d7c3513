// The options of `ombrix render` on a CLI11 command, shared by every
// command that takes a render's options (render itself, farm submit).
#pragma once

#include "commands.h"

#include <CLI/CLI.hpp>

#include <string>

namespace ombrix::cli {

// Numbers on the command line are plain decimals; CLI11 alone would also
// read 0x10, 0o10 and 0b10. A CLI11 check: empty when `text` is fine.
std::string DecimalOnly(std::string& text);

// Adds EFFECT and every render option to `cmd`, read into `o`.
void AddRenderOptions(CLI::App* cmd, RenderOptions& o);

}  // namespace ombrix::cli
