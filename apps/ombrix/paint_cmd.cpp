// `ombrix paint info|import|export`. Drawings are read, built and written
// only through the Paint effect's own drawing code, so the files are
// exactly the sequence data the effect stores and restores.
#include "paint_cmd.h"

#include "commands.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>

#include <ombrix/host/host_error.h>
#include <ombrix/platform/files.h>

#include "flat_drawing.h"
#include "local_handles.h"
#include "paint_files.h"

namespace ombrix::cli {

using nlohmann::json;
using paint::MemoryBlock;

namespace {

constexpr const char kFormat[] = "ombrix-paint-strokes";
constexpr int kFormatVersion = 1;
// Flat drawings address their parts with signed 32-bit offsets.
constexpr off_t kMaxFileBytes = 0x7FFFFFFF;

}  // namespace

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  return ReadRegularFile(path, "cannot read '" + path + "': ", kMaxFileBytes, "larger than 2 GiB");
}

void WriteWholeFile(const std::string& path, const void* data, size_t size) {
  ReplaceFile(path, "cannot write '" + path + "': ", data, size);
}

void Load(const std::string& path, LoadedDrawing& out) {
  const std::vector<uint8_t> bytes = ReadWholeFile(path);
  const PF_UtilCallbacks* utils = paint::LocalHandleServices();
  out.facts = paint::InspectStoredDrawing(bytes.data(), uint32_t(bytes.size()));
  PF_Handle h = utils->host_new_handle(A_u_long(bytes.size()));
  if (!h) throw std::bad_alloc();
  std::memcpy(utils->host_lock_handle(h), bytes.data(), bytes.size());
  out.ref.flat = h;
  const paint::DrawingStatus status = paint::Unflatten(utils, out.ref);
  if (!out.ref.unflat) {
    throw UsageError("'" + path + "' is not a Paint drawing that can be opened: " +
                     (status.message ? status.message : "unknown fault"));
  }
  if (status.message) std::cerr << "ombrix: '" << path << "': " << status.message << "\n";
}

namespace {

const char* OrderName(paint::ByteOrder order) {
  const bool little = (order == paint::ByteOrder::kNative) == (std::endian::native == std::endian::little);
  return little ? "little-endian" : "big-endian";
}

// The float as JSON writes it: its shortest decimal form when that reads back the same.
double JsonFloat(float f) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, f).ptr;
  *end = '\0';
  const double d = std::strtod(text, nullptr);
  return float(d) == f ? d : double(f);
}

json BrushJson(const paint::BrushSettings& b) {
  return json{{"color", {JsonFloat(b.red), JsonFloat(b.green), JsonFloat(b.blue)}},
              {"opacity", JsonFloat(b.opacity)},
              {"radius", JsonFloat(b.radius)},
              {"type", b.type},
              {"feather", JsonFloat(b.feather)},
              {"pressure_radius", (b.stylus & paint::kPressureRadius) != 0},
              {"pressure_opacity", (b.stylus & paint::kPressureOpacity) != 0}};
}

// ---------------------------------------------------------------------------
// Reading the strokes file
// ---------------------------------------------------------------------------

}  // namespace

// The value of `key` in `object`, or null when absent.
const json* Member(const json& object, const char* key) {
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

float FloatOf(const json& value, const std::string& where) {
  if (!value.is_number()) throw UsageError(where + ": expected a number");
  const float f = float(value.get<double>());
  if (!std::isfinite(f)) throw UsageError(where + ": the number is out of range");
  return f;
}

bool BoolOf(const json& value, const std::string& where) {
  if (!value.is_boolean()) throw UsageError(where + ": expected true or false");
  return value.get<bool>();
}

int32_t IntOf(const json& value, const std::string& where) {
  if (!value.is_number_integer() || value.get<int64_t>() < INT32_MIN || value.get<int64_t>() > INT32_MAX) {
    throw UsageError(where + ": expected a whole number");
  }
  return int32_t(value.get<int64_t>());
}

// Values are brought into their ranges as the brush control does.
paint::BrushSettings BrushOf(const json& value, paint::BrushSettings brush, const std::string& where) {
  if (!value.is_object()) throw UsageError(where + ": expected an object");
  if (const json* c = Member(value, "color")) {
    if (!c->is_array() || c->size() != 3) throw UsageError(where + ".color: expected [red, green, blue]");
    paint::SetBrushColor(brush, FloatOf((*c)[0], where + ".color"), FloatOf((*c)[1], where + ".color"),
                         FloatOf((*c)[2], where + ".color"));
  }
  if (const json* v = Member(value, "opacity")) paint::SetBrushOpacity(brush, FloatOf(*v, where + ".opacity"));
  if (const json* v = Member(value, "radius")) paint::SetBrushRadius(brush, FloatOf(*v, where + ".radius"));
  if (const json* v = Member(value, "type")) paint::SetBrushType(brush, IntOf(*v, where + ".type"));
  if (const json* v = Member(value, "feather")) paint::SetBrushFeather(brush, FloatOf(*v, where + ".feather"));
  int32_t stylus = brush.stylus;
  if (const json* v = Member(value, "pressure_radius")) {
    stylus =
        BoolOf(*v, where + ".pressure_radius") ? stylus | paint::kPressureRadius : stylus & ~paint::kPressureRadius;
  }
  if (const json* v = Member(value, "pressure_opacity")) {
    stylus =
        BoolOf(*v, where + ".pressure_opacity") ? stylus | paint::kPressureOpacity : stylus & ~paint::kPressureOpacity;
  }
  paint::SetStylusControls(brush, stylus);
  return brush;
}

// One stroke, begun, given its points and ended through the drawing's own operations.
void ImportStroke(const json& s, MemoryBlock* drawing, const std::string& where) {
  if (!s.is_object()) throw UsageError(where + ": expected an object");
  const json* time = Member(s, "time");
  const json* points = Member(s, "points");
  if (!time) throw UsageError(where + ": no \"time\"");
  if (!points || !points->is_array()) throw UsageError(where + ": no \"points\" array");
  if (points->size() < 2) throw UsageError(where + ": a stroke needs at least 2 points");
  const paint::BrushSettings current = paint::HeaderOf(drawing)->brush;
  const json* brush = Member(s, "brush");
  const paint::BrushSettings b = brush ? BrushOf(*brush, current, where + ".brush") : current;
  paint::MemoryBlock* stroke = paint::BeginStroke(FloatOf(*time, where + ".time"), b);
  if (!stroke) throw std::bad_alloc();
  struct Owner {
    MemoryBlock* stroke;
    ~Owner() { paint::DiscardStroke(stroke); }
  } owner{stroke};
  float last_time = 0.0f;
  for (size_t i = 0; i < points->size(); ++i) {
    const json& p = (*points)[i];
    const std::string at = where + ".points[" + std::to_string(i) + "]";
    if (!p.is_array() || p.size() < 3 || p.size() > 4) throw UsageError(at + ": expected [time, x, y, pressure]");
    const paint::StrokePoint point{FloatOf(p[0], at), FloatOf(p[1], at), FloatOf(p[2], at),
                                   p.size() == 4 ? FloatOf(p[3], at) : 1.0f};
    if (!paint::AppendStrokePoint(stroke, point)) throw std::bad_alloc();
    last_time = point.time;
  }
  const json* duration = Member(s, "duration");
  const float seconds = duration ? FloatOf(*duration, where + ".duration") : last_time;
  owner.stroke = nullptr;
  if (!paint::EndStrokeAfter(drawing, stroke, seconds)) {
    throw std::bad_alloc();
  }
}

namespace {

// A new drawing built from the strokes file's text.
paint::MemoryBlock* ImportDrawing(const std::string& text, const std::string& path) {
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::exception& e) {
    throw UsageError("'" + path + "' is not JSON: " + e.what());
  }
  if (!doc.is_object()) throw UsageError("'" + path + "': expected an object");
  if (const json* f = Member(doc, "format"); f && *f != kFormat) {
    throw UsageError("'" + path + "': \"format\" is not \"" + kFormat + "\"");
  }
  if (const json* v = Member(doc, "version"); v && *v != kFormatVersion) {
    throw UsageError("'" + path + "': only version " + std::to_string(kFormatVersion) + " is known");
  }
  const json* strokes = Member(doc, "strokes");
  if (!strokes || !strokes->is_array()) throw UsageError("'" + path + "': no \"strokes\" array");
  paint::MemoryBlock* drawing = paint::NewDrawing();
  if (!drawing) throw std::bad_alloc();
  try {
    paint::DrawingHeader& h = *paint::HeaderOf(drawing);
    if (const json* b = Member(doc, "brush")) h.brush = BrushOf(*b, h.brush, "brush");
    if (const json* v = Member(doc, "color_clone")) paint::SetColorClone(h, BoolOf(*v, "color_clone"));
    if (const json* v = Member(doc, "smooth")) paint::SetSmoothStrokes(h, BoolOf(*v, "smooth"));
    if (const json* v = Member(doc, "timing")) paint::SetPaintTiming(h, IntOf(*v, "timing"));
    for (size_t i = 0; i < strokes->size(); ++i) {
      ImportStroke((*strokes)[i], drawing, "strokes[" + std::to_string(i) + "]");
    }
  } catch (const UsageError& e) {
    paint::DisposeDrawing(drawing);
    throw UsageError("'" + path + "': " + e.what());
  } catch (...) {
    paint::DisposeDrawing(drawing);
    throw;
  }
  return drawing;
}

// ---------------------------------------------------------------------------
// The subcommands
// ---------------------------------------------------------------------------

int TotalPoints(const paint::MemoryBlock* d) {
  int total = 0;
  for (int32_t i = 0; i < paint::StrokeCount(d); ++i) total += paint::StrokeAt(d, i)->point_count;
  return total;
}

// The drawing's options and strokes; each stroke with its points, or with
// their count only.
json DrawingJson(const paint::MemoryBlock* d, bool with_points) {
  const paint::DrawingHeader& h = *paint::HeaderOf(d);
  json strokes = json::array();
  for (int32_t i = 0; i < paint::StrokeCount(d); ++i) {
    const paint::StrokeRecord& s = *paint::StrokeAt(d, i);
    json points = s.point_count;
    if (with_points) {
      const paint::StrokePoint* pts = paint::StrokePoints(s);
      points = json::array();
      for (int32_t k = 0; k < s.point_count; ++k) {
        points.push_back(
            {JsonFloat(pts[k].time), JsonFloat(pts[k].x), JsonFloat(pts[k].y), JsonFloat(pts[k].pressure)});
      }
    }
    strokes.push_back({{"id", s.id},
                       {"time", JsonFloat(s.paint_time)},
                       {"duration", JsonFloat(s.duration)},
                       {"brush", BrushJson(s.brush)},
                       {"points", points}});
  }
  return json{{"brush", BrushJson(h.brush)},
              {"color_clone", paint::ColorClone(h)},
              {"smooth", paint::SmoothStrokes(h)},
              {"timing", paint::PaintTiming(h)},
              {"strokes", strokes}};
}

int RunInfoCommand(const PaintCommands& p) {
  LoadedDrawing loaded;
  Load(p.input, loaded);
  const paint::MemoryBlock* d = loaded.ref.unflat;
  json out = DrawingJson(d, p.points);
  out["version"] = loaded.facts.version;
  out["byte_order"] = OrderName(loaded.facts.order);
  out["stroke_count"] = paint::StrokeCount(d);
  out["point_count"] = TotalPoints(d);
  out["last_stroke_id"] = paint::HeaderOf(d)->last_stroke_id;
  const paint::DrawingHeader& h = *paint::HeaderOf(d);
  int selected = 0;
  for (size_t i = 0; i < out["strokes"].size(); ++i) {
    out["strokes"][i]["index"] = i;
    // Flags count only while there is a selection: without one the next render clears them.
    const bool on = h.selection_state != 0 && paint::StrokeAt(d, int32_t(i))->selected != 0;
    out["strokes"][i]["selected"] = on;
    selected += on;
  }
  const char* kFields[] = {"color", "opacity", "radius", "type", "feather", "stylus"};
  json agree;
  for (int f = 0; f < 6; ++f) agree[kFields[f]] = h.selection_mask[f] != 0;
  out["selection"] = {
      {"state", h.selection_state}, {"selected", selected}, {"brush", BrushJson(h.selection)}, {"agree", agree}};
  if (p.json) {
    std::cout << out.dump(2) << "\n";
    return kExitOk;
  }
  std::cout << p.input << ": version " << out["version"] << ", " << OrderName(loaded.facts.order) << ", "
            << out["stroke_count"] << " strokes, " << out["point_count"] << " points\n"
            << "brush: " << out["brush"].dump() << "\n"
            << "color clone " << (out["color_clone"] ? "on" : "off") << ", " << (out["smooth"] ? "smooth" : "sharp")
            << " strokes, timing " << out["timing"] << ", last stroke id " << out["last_stroke_id"] << "\n";
  if (selected > 0) {
    std::cout << "selection: " << selected << " of " << out["stroke_count"] << " strokes, brush "
              << out["selection"]["brush"].dump() << "\n";
  } else {
    std::cout << "selection: none\n";
  }
  for (const json& s : out["strokes"]) {
    std::cout << "stroke " << s["index"] << ": id " << s["id"] << ", time " << s["time"] << " s, duration "
              << s["duration"] << " s, type " << s["brush"]["type"] << ", radius " << s["brush"]["radius"] << ", "
              << (p.points ? s["points"].size() : s["points"].get<size_t>()) << " points"
              << (s["selected"] ? ", selected" : "") << "\n";
    if (p.points)
      for (const json& pt : s["points"])
        std::cout << "  time " << pt[0] << " s, x " << pt[1] << ", y " << pt[2] << ", pressure " << pt[3] << "\n";
  }
  return kExitOk;
}

int RunExportCommand(const PaintCommands& p) {
  LoadedDrawing loaded;
  Load(p.input, loaded);
  json out = DrawingJson(loaded.ref.unflat, true);
  out["format"] = kFormat;
  out["version"] = kFormatVersion;
  const json& strokes = out["strokes"];
  // One line per setting and per stroke: readable, and diffs show which stroke changed.
  std::string text = "{\n";
  for (const auto& [key, value] : out.items()) {
    if (key != "strokes") text += "  " + json(key).dump() + ": " + value.dump() + ",\n";
  }
  text += "  \"strokes\": [";
  for (size_t i = 0; i < strokes.size(); ++i) text += (i ? ",\n    " : "\n    ") + strokes[i].dump();
  text += strokes.empty() ? "]\n}\n" : "\n  ]\n}\n";
  WriteWholeFile(p.output, text.data(), text.size());
  return kExitOk;
}

int RunImportCommand(const PaintCommands& p) {
  if (p.byte_order != "little" && p.byte_order != "big") {
    throw UsageError("--byte-order: expected little or big, got '" + p.byte_order + "'");
  }
  const std::string problem = platform::ReplaceProblem(p.output);
  if (!problem.empty()) throw UsageError("cannot write '" + p.output + "': " + problem);
  const std::vector<uint8_t> text = ReadWholeFile(p.input);
  const bool little = p.byte_order == "little";
  const std::vector<uint8_t> drawing = StoredDrawingFromStrokes(std::string(text.begin(), text.end()), p.input, little);
  WriteWholeFile(p.output, drawing.data(), drawing.size());
  return kExitOk;
}

}  // namespace

std::vector<uint8_t> StoredDrawingFromStrokes(const std::string& text, const std::string& name, bool little_endian) {
  paint::DrawingRef ref{ImportDrawing(text, name), nullptr};
  const PF_UtilCallbacks* utils = paint::LocalHandleServices();
  const bool native = little_endian == (std::endian::native == std::endian::little);
  const paint::DrawingStatus status =
      paint::Flatten(utils, ref, native ? paint::ByteOrder::kNative : paint::ByteOrder::kReversed);
  struct Freer {
    paint::DrawingRef& ref;
    ~Freer() { paint::DisposeDrawing(paint::LocalHandleServices(), ref); }
  } freer{ref};
  if (status.err != PF_Err_NONE) throw HostError(status.message ? status.message : "cannot flatten", status.err);
  const auto* bytes = static_cast<const uint8_t*>(utils->host_lock_handle(ref.flat));
  return std::vector<uint8_t>(bytes, bytes + utils->host_get_handle_size(ref.flat));
}

void AddPaintCommands(CLI::App& app, PaintCommands& p) {
  p.paint = app.add_subcommand("paint", "Paint's stored drawings: describe, import from JSON strokes, export, edit");
  p.paint->require_subcommand(1);
  p.info = p.paint->add_subcommand("info", "Version, byte order, brushes and strokes of a drawing");
  p.info->add_option("DRAWING", p.input, "A drawing file (Paint's stored sequence data)")->required();
  p.info->add_flag("--json", p.json, "Print JSON");
  p.info->add_flag("--points", p.points, "List each stroke's points: time, x, y (layer fractions) and pressure");
  p.import = p.paint->add_subcommand("import", "Build a drawing from a JSON strokes file");
  p.import->add_option("STROKES", p.input, "The JSON strokes file (docs/paint.md)")->required();
  p.import->add_option("-o,--output", p.output, "The drawing file to write")->required();
  p.import->add_option("--byte-order", p.byte_order, "little or big")->capture_default_str();
  p.export_ = p.paint->add_subcommand("export", "Write a drawing's strokes as a JSON strokes file");
  p.export_->add_option("DRAWING", p.input, "A drawing file")->required();
  p.export_->add_option("-o,--output", p.output, "The JSON file to write")->required();
  p.apply = p.paint->add_subcommand("apply", "Edit a drawing with the popup menu's commands, from a JSON script");
  p.apply->add_option("DRAWING", p.input, "A drawing file")->required();
  p.apply->add_option("SCRIPT", p.script, "The JSON script of steps (docs/paint.md)")->required();
  p.apply->add_option("-o,--output", p.output, "The drawing file to write (may be DRAWING)")->required();
  p.apply->add_option("--registry", p.registry, "Where the preferences are kept (\"Edit Preferences...\")");
  p.apply->add_option("--view-log", p.view_log, "Write what the effect drew on its views while replaying gestures");
}

int RunPaint(const PaintCommands& p) {
  if (*p.info) return RunInfoCommand(p);
  if (*p.import) return RunImportCommand(p);
  if (*p.apply) return RunApplyCommand(p);
  return RunExportCommand(p);
}

}  // namespace ombrix::cli
