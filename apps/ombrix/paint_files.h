// What the `ombrix paint` subcommands share: drawing files read whole and
// written atomically, and the JSON readers of strokes and brushes.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "flat_drawing.h"
#include "local_handles.h"

namespace ombrix::cli {

// A regular file's bytes (UsageError when it cannot be read).
std::vector<uint8_t> ReadWholeFile(const std::string& path);
// Replaces `path` whole, or leaves it as it was (HostError).
void WriteWholeFile(const std::string& path, const void* data, size_t size);

// A drawing read from a file, freed on every way out.
struct LoadedDrawing {
  paint::StoredFacts facts;
  paint::DrawingRef ref;
  ~LoadedDrawing() { paint::DisposeDrawing(paint::LocalHandleServices(), ref); }
};
// Reads and rebuilds the drawing at `path`; UsageError when it is none.
void Load(const std::string& path, LoadedDrawing& out);

// JSON readers; `where` names the value in messages (UsageError).
const nlohmann::json* Member(const nlohmann::json& object, const char* key);
float FloatOf(const nlohmann::json& value, const std::string& where);
bool BoolOf(const nlohmann::json& value, const std::string& where);
int32_t IntOf(const nlohmann::json& value, const std::string& where);
// A brush object: fields not given keep the values of `brush`.
paint::BrushSettings BrushOf(const nlohmann::json& value, paint::BrushSettings brush, const std::string& where);
// One stroke of a strokes file, begun, given its points and ended in `drawing`.
void ImportStroke(const nlohmann::json& stroke, paint::MemoryBlock* drawing, const std::string& where);

}  // namespace ombrix::cli
