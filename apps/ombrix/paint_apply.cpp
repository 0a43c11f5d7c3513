// `ombrix paint apply`: a drawing edited by a script of popup-menu choices.
//
// Each menu step opens the effect's own popup menu in the state the drawing
// and tool give it and chooses the item, with the answers of the message
// box, the "Set" dialog or the colour chooser the command opens queued
// beforehand; the command then runs through the same code as a click. An
// item the menu shows disabled is refused, and nothing is written.
#include <ombrix/host/host_error.h>
#include <ombrix/platform/files.h>
#include <ombrix/platform/headless.h>
#include <ombrix/platform/registry.h>

#include <cmath>
#include <cstdio>
#include <iostream>

#include "commands.h"
#include "menu.h"
#include "paint_cmd.h"
#include "paint_files.h"
#include "paint_gestures.h"
#include "set_dialog.h"

namespace ombrix::cli {
namespace {

using nlohmann::json;
namespace plat = ombrix::platform;

// One step of the script, checked before any step runs.
struct Step {
  enum class Kind { kMenu, kTime, kStroke, kGesture } kind = Kind::kMenu;
  Gesture gesture;
  int menu = 0;
  double time = 0.0;
  const json* stroke = nullptr;
  std::optional<bool> confirm;
  std::optional<double> value;
  std::optional<plat::ColorAnswer> color;
  bool cancel = false;
  std::optional<plat::DialogScript> dialog;
};

struct Script {
  json doc;
  double time = 0.0;
  int width = 640, height = 360;
  GestureView view;
  GestureTablet tablet;
  std::vector<Step> steps;
};

std::string StepName(size_t index) { return "steps[" + std::to_string(index) + "]"; }

double TimeOf(const json& value, const std::string& where) {
  if (!value.is_number() || !std::isfinite(value.get<double>())) throw UsageError(where + ": expected seconds");
  return value.get<double>();
}

int SizeOf(const json* value, int fallback, const std::string& where) {
  if (!value) return fallback;
  const int32_t size = IntOf(*value, where);
  if (size < 1 || size > 30000) throw UsageError(where + ": expected 1..30000 pixels");
  return size;
}

Step ReadMenuStep(const json& s, const std::string& where) {
  Step step;
  step.menu = IntOf(s["menu"], where + ".menu");
  for (const auto& [key, value] : s.items()) {
    const std::string at = where + "." + key;
    if (key == "menu") continue;
    if (key == "confirm") {
      step.confirm = BoolOf(value, at);
    } else if (key == "value") {
      if (!value.is_number() || !std::isfinite(value.get<double>())) throw UsageError(at + ": expected a number");
      step.value = value.get<double>();
    } else if (key == "color") {
      plat::ColorAnswer answer;
      if (!value.is_string() || !plat::ParseColorAnswer(value.get<std::string>(), &answer) || answer.cancel)
        throw UsageError(at + ": expected \"#RRGGBB\"");
      step.color = answer;
    } else if (key == "cancel") {
      step.cancel = BoolOf(value, at);
    } else if (key == "dialog") {
      std::string error;
      plat::DialogScript dialog;
      if (!value.is_string() || !plat::ParseDialogScript(value.get<std::string>(), &dialog, &error))
        throw UsageError(at + ": " + (error.empty() ? "expected a dialog script" : error));
      step.dialog = dialog;
    } else {
      throw UsageError(at + ": unknown key (expected menu, confirm, value, color, cancel or dialog)");
    }
  }
  return step;
}

Step ReadStep(const json& s, const std::string& where) {
  if (!s.is_object()) throw UsageError(where + ": expected an object");
  if (IsGesture(s)) {
    Step step;
    step.kind = Step::Kind::kGesture;
    step.gesture = ReadGesture(s, where);
    return step;
  }
  if (s.contains("menu")) return ReadMenuStep(s, where);
  Step step;
  if (s.contains("time") && s.size() == 1) {
    step.kind = Step::Kind::kTime;
    step.time = TimeOf(s["time"], where + ".time");
  } else if (s.contains("stroke") && s.size() == 1) {
    step.kind = Step::Kind::kStroke;
    step.stroke = &s["stroke"];
  } else {
    throw UsageError(where + ": expected {\"menu\": ID, ...}, {\"time\": SECONDS} or {\"stroke\": {...}}");
  }
  return step;
}

void ReadScript(const std::string& path, Script& script) {
  const std::vector<uint8_t> bytes = ReadWholeFile(path);
  try {
    script.doc = json::parse(bytes.begin(), bytes.end());
  } catch (const json::exception& e) {
    throw UsageError("'" + path + "' is not JSON: " + e.what());
  }
  try {
    const json& doc = script.doc;
    if (!doc.is_object()) throw UsageError("expected an object");
    for (const auto& [key, value] : doc.items()) {
      if (key != "time" && key != "width" && key != "height" && key != "steps" && key != "view" && key != "tablet")
        throw UsageError(key + ": unknown key (expected time, width, height, view, tablet or steps)");
    }
    if (const json* v = Member(doc, "view")) script.view = ReadGestureView(*v, "view");
    if (const json* t = Member(doc, "tablet")) script.tablet = ReadGestureTablet(*t, "tablet");
    if (const json* t = Member(doc, "time")) script.time = TimeOf(*t, "time");
    script.width = SizeOf(Member(doc, "width"), script.width, "width");
    script.height = SizeOf(Member(doc, "height"), script.height, "height");
    const json* steps = Member(doc, "steps");
    if (!steps || !steps->is_array()) throw UsageError("no \"steps\" array");
    for (size_t i = 0; i < steps->size(); ++i) {
      script.steps.push_back(ReadStep((*steps)[i], StepName(i)));
      if (script.steps.back().gesture.pressure && !script.tablet.present)
        throw UsageError(StepName(i) + ".pressure: the pen needs \"tablet\": {\"present\": true}");
    }
  } catch (const UsageError& e) {
    throw UsageError("'" + path + "': " + e.what());
  }
}

}  // namespace

void QueueSetDialogValue(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6f", value);
  plat::DialogScript set;
  set.steps.push_back({plat::DialogStepKind::kSet, paint::kIdSetValue, text, 0, 0});
  set.steps.push_back({plat::DialogStepKind::kClick, plat::kIdOk, "", 0, 0});
  plat::PushDialogScript(set);
}

namespace {

// The answers a step gives to whatever its command opens.
void QueueAnswers(const Step& step) {
  plat::ClearMessageBoxAnswers();
  plat::ClearDialogScripts();
  plat::ClearColorAnswers();
  if (step.confirm) plat::PushMessageBoxAnswer(*step.confirm ? plat::kIdOk : plat::kIdCancel);
  if (step.value) QueueSetDialogValue(*step.value);
  if (step.dialog) plat::PushDialogScript(*step.dialog);
  if (step.color) plat::PushColorAnswer(*step.color);
  if (step.cancel) {
    plat::PushMessageBoxAnswer(plat::kIdCancel);
    plat::DialogScript cancel;
    cancel.steps.push_back({plat::DialogStepKind::kClick, plat::kIdCancel, "", 0, 0});
    plat::PushDialogScript(cancel);
    plat::PushColorAnswer(plat::ColorAnswer{true, 0});
  }
}

// A box the command opened that the step did not answer was closed as by
// Cancel; the user is told so.
void NoteUnanswered(const std::string& where) {
  for (const auto& r : plat::MessageBoxRecords()) {
    if (r.outcome == plat::MessageBoxOutcome::kUnanswered)
      std::cerr << "ombrix: " << where << ": the message box \"" << r.caption << "\" was not answered: cancelled\n";
  }
  for (const auto& r : plat::DialogRecords()) {
    if (r.outcome == plat::DialogOutcome::kScriptExhausted)
      std::cerr << "ombrix: " << where << ": the dialog \"" << r.title << "\" was not answered: cancelled\n";
  }
  for (const auto& r : plat::ColorChooserRecords()) {
    if (r.outcome == plat::ColorChooserOutcome::kUnanswered)
      std::cerr << "ombrix: " << where << ": the colour chooser was not answered: cancelled\n";
  }
}

void ClearRecords() {
  plat::ClearMenuRecords();
  plat::ClearMessageBoxRecords();
  plat::ClearDialogRecords();
  plat::ClearColorChooserRecords();
}

void RunMenuStep(const paint::CommandContext& ctx, const Step& step, const std::string& where) {
  ClearRecords();
  QueueAnswers(step);
  plat::ClearMenuAnswers();
  plat::PushMenuAnswer(step.menu);
  paint::RunPopupMenu(ctx, 0, 0, nullptr);
  const std::vector<plat::MenuRecord> menus = plat::MenuRecords();
  const std::string id = std::to_string(step.menu);
  if (menus.empty()) throw HostError(where + ": the popup menu could not be built", PF_Err_INTERNAL_STRUCT_DAMAGED);
  const plat::MenuRecord& menu = menus.back();
  switch (menu.outcome) {
    case plat::MenuOutcome::kChosen:
      break;
    case plat::MenuOutcome::kDisabled:
      throw UsageError(where + ": the menu item \"" + menu.item + "\" (" + id + ") is disabled in this state");
    case plat::MenuOutcome::kNoSuchItem:
    case plat::MenuOutcome::kDismissed:
      throw UsageError(where + ": " + id + " is not an item of the popup menu");
    default:
      throw HostError(where + ": the popup menu was not shown" + (menu.error.empty() ? "" : ": " + menu.error),
                      PF_Err_INTERNAL_STRUCT_DAMAGED);
  }
  NoteUnanswered(where);
}

// A stroke painted as the Paint tool files it: Undo then takes back just
// this stroke, and no selection is left.
void RunStrokeStep(const paint::CommandContext& ctx, const Step& step, const std::string& where) {
  paint::DrawingHeader& h = *paint::HeaderOf(ctx.drawing);
  paint::ClearUndoStore(h);
  ImportStroke(*step.stroke, ctx.drawing, where + ".stroke");
  h.selection_state = 0;
  for (int32_t i = 0; i < paint::StrokeCount(ctx.drawing); ++i) paint::StrokeAt(ctx.drawing, i)->selected = 0;
}

const char* ToolName(int32_t tool) {
  switch (tool) {
    case paint::kToolEyedropper:
      return "Eyedropper";
    case paint::kToolSelect:
      return "Select";
    case paint::kToolEraser:
      return "Eraser";
    default:
      return "Paint";
  }
}

}  // namespace

int RunApplyCommand(const PaintCommands& p) {
  const std::string problem = platform::ReplaceProblem(p.output);
  if (!problem.empty()) throw UsageError("cannot write '" + p.output + "': " + problem);
  Script script;
  ReadScript(p.script, script);
  LoadedDrawing loaded;
  Load(p.input, loaded);
  if (!p.registry.empty()) plat::SetRegistryDirectory(p.registry);

  // The session's global data: no tablet, the Paint tool (the tool is not
  // kept in drawings).
  paint::PaintGlobals globals;
  paint::InitPaintGlobals(&globals);
  paint::CommandContext ctx;
  ctx.drawing = loaded.ref.unflat;
  ctx.globals = &globals;
  ctx.current_time = script.time;
  ctx.parent = plat::MainWindow();
  std::vector<std::string> view_log;
  GestureSession session{p.plugins,   p.registry,    script.width, script.height,
                         script.view, script.tablet, 0.0,          &view_log};
  for (size_t i = 0; i < script.steps.size(); ++i) {
    const Step& step = script.steps[i];
    const std::string where = "'" + p.script + "': " + StepName(i);
    if (step.kind == Step::Kind::kGesture) {
      // A run of gestures goes through the effect in one session.
      std::vector<Gesture> run;
      for (; i < script.steps.size() && script.steps[i].kind == Step::Kind::kGesture; ++i)
        run.push_back(script.steps[i].gesture);
      --i;
      session.time = ctx.current_time;
      RunGestures(session, run, loaded.ref, globals, where);
      ctx.drawing = loaded.ref.unflat;
      continue;
    }
    switch (step.kind) {
      case Step::Kind::kTime:
        ctx.current_time = step.time;
        break;
      case Step::Kind::kStroke:
        RunStrokeStep(ctx, step, where);
        break;
      case Step::Kind::kMenu:
        RunMenuStep(ctx, step, where);
        break;
      case Step::Kind::kGesture:
        break;
    }
  }

  int selected = 0;
  const paint::DrawingHeader& h = *paint::HeaderOf(ctx.drawing);
  const int32_t strokes = paint::StrokeCount(ctx.drawing);
  for (int32_t i = 0; i < strokes; ++i) selected += h.selection_state != 0 && paint::StrokeAt(ctx.drawing, i)->selected;

  // Stored in the byte order it was read in.
  const PF_UtilCallbacks* utils = paint::LocalHandleServices();
  const paint::DrawingStatus status = paint::Flatten(utils, loaded.ref, loaded.facts.order);
  if (status.err != PF_Err_NONE) throw HostError(status.message ? status.message : "cannot flatten", status.err);
  if (!p.view_log.empty()) {
    std::string text;
    for (const std::string& line : view_log) text += line + "\n";
    WriteWholeFile(p.view_log, text.data(), text.size());
  }
  WriteWholeFile(p.output, utils->host_lock_handle(loaded.ref.flat), utils->host_get_handle_size(loaded.ref.flat));

  std::cout << p.output << ": " << script.steps.size() << " steps, " << strokes << " strokes, " << selected
            << " selected, tool " << ToolName(globals.tool) << "\n";
  return kExitOk;
}

}  // namespace ombrix::cli
