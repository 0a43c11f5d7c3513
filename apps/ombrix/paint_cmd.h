// `ombrix paint`: Paint's stored drawings (the sequence data the effect
// keeps) read, built from and written as JSON strokes.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>
#include <vector>

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

// The stored drawing (flat sequence data) built from the text of a JSON
// strokes file, in little- or big-endian order; `name` names the file in
// messages. Throws UsageError for text that is not such a file.
std::vector<uint8_t> StoredDrawingFromStrokes(const std::string& text, const std::string& name, bool little_endian);

// The strokes file the demo paints with (examples/paint/demo-drawing.json).
extern const char kDemoDrawing[];

}  // namespace ombrix::cli
