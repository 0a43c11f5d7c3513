// `ombrix paint`: Paint's stored drawings (the sequence data the effect
// keeps) read, built from and written as JSON strokes.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace ombrix::cli {

struct PaintCommands {
  CLI::App* paint = nullptr;
  CLI::App* info = nullptr;
  CLI::App* import = nullptr;
  CLI::App* export_ = nullptr;
  std::string input;   // DRAWING (info, export) or the strokes file (import)
  std::string output;  // -o
  bool json = false;   // info --json
  std::string byte_order = "little";
};

// Adds `paint info|import|export` to the command line.
void AddPaintCommands(CLI::App& app, PaintCommands& paint);
// Runs the paint subcommand that was given. Throws UsageError for bad input.
int RunPaint(const PaintCommands& paint);

}  // namespace ombrix::cli
