// `ombrix paint`: Paint's stored drawings (the sequence data the effect
// keeps) read, built from and written as JSON strokes, and edited with the
// popup menu's commands.
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
  CLI::App* apply = nullptr;
  std::string input;     // DRAWING (info, export, apply) or the strokes file (import)
  std::string script;    // apply: the script of edits
  std::string registry;  // apply --registry DIR: where the preferences are kept
  std::string output;    // -o
  std::string view_log;  // apply --view-log FILE: what the effect drew on the views
  std::string plugins;   // the plug-in folder (--plugins; empty: the default)
  bool json = false;     // info --json
  bool points = false;   // info --points: each stroke's points
  std::string byte_order = "little";
};

// Adds `paint info|import|export|apply` to the command line.
void AddPaintCommands(CLI::App& app, PaintCommands& paint);
// Runs the paint subcommand that was given. Throws UsageError for bad input.
int RunPaint(const PaintCommands& paint);
// `paint apply`: the script's steps run through the popup menu's commands (paint_apply.cpp).
int RunApplyCommand(const PaintCommands& paint);

// The stored drawing (flat sequence data) built from the text of a JSON
// strokes file, in little- or big-endian order; `name` names the file in
// messages. Throws UsageError for text that is not such a file.
std::vector<uint8_t> StoredDrawingFromStrokes(const std::string& text, const std::string& name, bool little_endian);

// The strokes file the demo paints with (examples/paint/demo-drawing.json).
extern const char kDemoDrawing[];

}  // namespace ombrix::cli
