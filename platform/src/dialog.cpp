// Modal dialogs, headless and scripted.
//
// DialogBoxParam builds the dialog's windows from the template, sends
// WM_INITDIALOG, then lets the next script play the user one step at a time
// until the procedure ends the dialog; then WM_DESTROY, and a record of the
// controls' final state. The user's actions behave as the system's controls
// do: an automatic check box toggles (and an automatic radio button checks
// itself and clears its group) before the WM_COMMAND click arrives; typing
// into an edit sends EN_CHANGE; a scroll bar does not move by itself, the
// procedure moves it in answer to WM_HSCROLL, and every scroll action ends
// with SB_ENDSCROLL as a mouse release does.
#include <ombrix/platform/dialog.h>
#include <ombrix/platform/headless.h>
#include <ombrix/platform/pointer.h>
#include <ombrix/platform/tablet.h>

#include "internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace ombrix::platform {

struct DialogWindow {
  enum Type { kMain, kDialog, kControl } type = kControl;
  DialogWindow* owner = nullptr;  // a control's dialog
  intptr_t user_data = 0;

  // Controls.
  int id = 0;
  ControlKind kind = ControlKind::kStatic;
  uint32_t flags = 0;
  std::string text;
  unsigned check = 0;
  int scroll_min = 0, scroll_max = 100, scroll_pos = 0;
  int sel_start = 0, sel_end = 0;
  bool enabled = true;
  int redraws = 0;

  // Dialogs.
  std::string title;
  DialogProc proc = nullptr;
  std::vector<std::unique_ptr<DialogWindow>> controls;
  DialogWindow* focus = nullptr;
  bool ended = false;
  intptr_t result = 0;
  bool refuse_user_data = false;
  std::deque<ColorAnswer> colors;  // the script's answers for colour choosers
  DialogRecord* record = nullptr;
};

namespace {

struct State {
  std::recursive_mutex mu;
  DialogWindow main_window;
  std::set<DialogWindow*> live;
  std::vector<DialogWindow*> active;  // open dialogs, innermost last
  std::deque<DialogScript> scripts;
  std::vector<DialogRecord> records;
  State() {
    main_window.type = DialogWindow::kMain;
    main_window.title = "Ombrix";
    live.insert(&main_window);
  }
};

State& S() {
  static State* state = new State;
  return *state;
}

using Lock = std::lock_guard<std::recursive_mutex>;

DialogWindow* Live(State& s, DialogWindow* w) { return w && s.live.count(w) ? w : nullptr; }

DialogWindow* Control(State& s, DialogWindow* dialog, int id) {
  if (!Live(s, dialog) || dialog->type != DialogWindow::kDialog) return nullptr;
  for (auto& c : dialog->controls)
    if (c->id == id) return c.get();
  return nullptr;
}

bool IsButtonKind(ControlKind k) { return k == ControlKind::kCheckBox || k == ControlKind::kRadioButton; }

// Gives a message to the dialog's procedure, recording it.
intptr_t Deliver(DialogWindow* dialog, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  size_t index = 0;
  DialogRecord* record = dialog->record;
  if (record) {
    index = record->messages.size();
    record->messages.push_back(MessageRecord{msg, wparam, lparam, 0});
  }
  const intptr_t r = dialog->proc(dialog, msg, wparam, lparam);
  if (record) record->messages[index].result = r;
  return r;
}

void SetText(DialogWindow* c, const char* text) {
  c->text = text ? text : "";
  c->sel_start = c->sel_end = 0;
}

void SetSelection(DialogWindow* c, int start, int end) {
  const int len = int(c->text.size());
  if (start < 0) {
    c->sel_start = c->sel_end;
    return;
  }
  if (end < 0 || end > len) end = len;
  if (start > len) start = len;
  if (start > end) std::swap(start, end);
  c->sel_start = start;
  c->sel_end = end;
}

// The radio group around control index i: consecutive radio buttons, a new
// group starting at a control flagged kControlGroup.
std::pair<size_t, size_t> RadioGroup(DialogWindow* dialog, size_t i) {
  auto& cs = dialog->controls;
  size_t first = i;
  while (first > 0 && !(cs[first]->flags & kControlGroup) && cs[first - 1]->kind == ControlKind::kRadioButton) --first;
  size_t last = i;
  while (last + 1 < cs.size() && cs[last + 1]->kind == ControlKind::kRadioButton &&
         !(cs[last + 1]->flags & kControlGroup))
    ++last;
  return {first, last};
}

// A click as the user makes it. Answers false for a control that cannot be clicked.
bool Click(DialogWindow* c) {
  DialogWindow* dialog = c->owner;
  if (!c->enabled) return false;
  switch (c->kind) {
    case ControlKind::kPushButton:
      break;
    case ControlKind::kCheckBox:
      if (!(c->flags & kControlManual)) c->check = c->check == kChecked ? kUnchecked : kChecked;
      break;
    case ControlKind::kRadioButton:
      if (!(c->flags & kControlManual)) {
        size_t i = 0;
        while (dialog->controls[i].get() != c) ++i;
        auto [first, last] = RadioGroup(dialog, i);
        for (size_t k = first; k <= last; ++k) dialog->controls[k]->check = kUnchecked;
        c->check = kChecked;
      }
      break;
    default:
      return false;
  }
  dialog->focus = c;
  Deliver(dialog, kWmCommand, MakeWParam(unsigned(c->id), kBnClicked), reinterpret_cast<intptr_t>(c));
  return true;
}

void Scroll(DialogWindow* bar, unsigned action, int pos) {
  DialogWindow* dialog = bar->owner;
  Deliver(dialog, kWmHScroll, MakeWParam(action, unsigned(pos)), reinterpret_cast<intptr_t>(bar));
}

bool ParseState(const std::string& text, unsigned* state) {
  if (text == "1" || text == "on" || text == "true")
    *state = kChecked;
  else if (text == "0" || text == "off" || text == "false")
    *state = kUnchecked;
  else
    return false;
  return true;
}

// Runs one step; answers an error text, empty when the step was played.
std::string RunStep(DialogWindow* dialog, const DialogStep& step) {
  State& s = S();
  DialogWindow* c = Control(s, dialog, step.id);
  if (step.kind == DialogStepKind::kCommand) {
    Deliver(dialog, kWmCommand, MakeWParam(unsigned(step.id), unsigned(step.value)), reinterpret_cast<intptr_t>(c));
    return {};
  }
  const std::string which = "control " + std::to_string(step.id);
  if (!c) return which + " does not exist";
  if (!c->enabled) return which + " is disabled";
  DialogStepKind kind = step.kind;
  std::string text = step.text;
  unsigned state = unsigned(step.value);
  int pos = step.pos;
  if (kind == DialogStepKind::kSet) {
    if (c->kind == ControlKind::kEdit) {
      kind = DialogStepKind::kSetText;
    } else if (IsButtonKind(c->kind)) {
      if (!ParseState(text, &state)) return which + ": \"" + text + "\" is not a check state";
      kind = DialogStepKind::kSetCheck;
    } else if (c->kind == ControlKind::kHScrollBar) {
      char* end = nullptr;
      errno = 0;
      const long v = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end || errno) return which + ": \"" + text + "\" is not a position";
      if (v < c->scroll_min || v > c->scroll_max) return which + ": position " + text + " is outside the bar";
      Scroll(c, kSbThumbTrack, int(v));
      if (!dialog->ended) Scroll(c, kSbThumbPosition, int(v));
      if (!dialog->ended) Scroll(c, kSbEndScroll, 0);
      return {};
    } else {
      return which + " cannot be set";
    }
  }
  switch (kind) {
    case DialogStepKind::kSetText:
      if (c->kind != ControlKind::kEdit) return which + " is not an edit";
      dialog->focus = c;
      SetText(c, text.c_str());
      c->sel_start = c->sel_end = int(c->text.size());
      Deliver(dialog, kWmCommand, MakeWParam(unsigned(c->id), kEnChange), reinterpret_cast<intptr_t>(c));
      return {};
    case DialogStepKind::kSetCheck:
      if (!IsButtonKind(c->kind)) return which + " is not a check box or radio button";
      if (state > kChecked) return which + ": check state " + std::to_string(state) + " cannot be clicked to";
      if (c->check != state) {
        if (c->kind == ControlKind::kRadioButton && state == kUnchecked)
          return which + ": a radio button is cleared by choosing another";
        Click(c);
      }
      return {};
    case DialogStepKind::kScroll: {
      if (c->kind != ControlKind::kHScrollBar) return which + " is not a scroll bar";
      const unsigned action = unsigned(step.value);
      if (action > kSbEndScroll) return which + ": unknown scroll action " + std::to_string(action);
      const bool thumb = action == kSbThumbPosition || action == kSbThumbTrack;
      if (thumb && (pos < c->scroll_min || pos > c->scroll_max))
        return which + ": position " + std::to_string(pos) + " is outside the bar";
      Scroll(c, action, thumb ? pos : 0);
      if (action != kSbEndScroll && !dialog->ended) Scroll(c, kSbEndScroll, 0);
      return {};
    }
    case DialogStepKind::kClick:
      if (!Click(c)) return which + " cannot be clicked";
      return {};
    default:
      return "unknown step";
  }
}

ControlRecord RecordOf(const DialogWindow* c) {
  ControlRecord r;
  r.id = c->id;
  r.kind = c->kind;
  r.text = c->text;
  r.check = c->check;
  r.scroll_min = c->scroll_min;
  r.scroll_max = c->scroll_max;
  r.scroll_pos = c->scroll_pos;
  r.sel_start = c->sel_start;
  r.sel_end = c->sel_end;
  r.enabled = c->enabled;
  r.redraws = c->redraws;
  return r;
}

bool Focusable(const DialogWindow* c) {
  return c->enabled && c->kind != ControlKind::kStatic && c->kind != ControlKind::kGroupBox;
}

intptr_t NotCreated(State& s, const DialogTemplate* tmpl, intptr_t result, const char* why) {
  DialogRecord r;
  r.title = tmpl && tmpl->title ? tmpl->title : "";
  r.result = result;
  r.outcome = DialogOutcome::kNotCreated;
  r.error = why;
  s.records.push_back(std::move(r));
  return result;
}

}  // namespace

intptr_t DialogBoxParam(const DialogTemplate* tmpl, DialogWindow* parent, DialogProc proc, intptr_t init_param) noexcept
    try {
  State& s = S();
  Lock lock(s.mu);
  if (parent && !Live(s, parent)) return NotCreated(s, tmpl, 0, "the parent window does not exist");
  DialogScript script;
  if (!s.scripts.empty()) {
    script = std::move(s.scripts.front());
    s.scripts.pop_front();
  }
  if (!tmpl || !proc) return NotCreated(s, tmpl, -1, "no template or no dialog procedure");
  if (tmpl->control_count < 0 || (tmpl->control_count > 0 && !tmpl->controls) || tmpl->cx < 0 || tmpl->cy < 0)
    return NotCreated(s, tmpl, -1, "damaged template");
  if (script.fail_create) return NotCreated(s, tmpl, -1, "creation refused by the script");

  auto dialog = std::make_unique<DialogWindow>();
  dialog->type = DialogWindow::kDialog;
  dialog->owner = parent;
  dialog->title = tmpl->title ? tmpl->title : "";
  dialog->proc = proc;
  dialog->refuse_user_data = script.refuse_user_data;
  dialog->colors.assign(script.colors.begin(), script.colors.end());
  for (int i = 0; i < tmpl->control_count; ++i) {
    const DialogControl& t = tmpl->controls[i];
    auto c = std::make_unique<DialogWindow>();
    c->owner = dialog.get();
    c->id = t.id;
    c->kind = t.kind;
    c->flags = t.flags;
    c->text = t.text ? t.text : "";
    c->enabled = !(t.flags & kControlDisabled);
    dialog->controls.push_back(std::move(c));
  }
  DialogRecord record;
  record.title = dialog->title;
  dialog->record = &record;

  DialogWindow* d = dialog.get();
  s.live.insert(d);
  for (auto& c : d->controls) s.live.insert(c.get());
  s.active.push_back(d);

  DialogWindow* first = nullptr;
  for (auto& c : d->controls)
    if (Focusable(c.get())) {
      first = c.get();
      break;
    }
  if (Deliver(d, kWmInitDialog, reinterpret_cast<uintptr_t>(first), init_param) && first) d->focus = first;

  size_t step = 0;
  std::string error;
  while (!d->ended && step < script.steps.size()) {
    error = RunStep(d, script.steps[step]);
    ++step;
    if (!error.empty()) break;
  }
  record.steps_run = int(step);
  if (!error.empty()) {
    record.outcome = DialogOutcome::kScriptError;
    record.error = error;
    record.result = kDialogScriptError;
  } else if (!d->ended) {
    record.outcome = DialogOutcome::kScriptExhausted;
    record.result = kDialogScriptExhausted;
  } else {
    record.outcome = DialogOutcome::kEnded;
    record.result = d->result;
    record.steps_unused = int(script.steps.size() - step);
  }

  Deliver(d, kWmDestroy, 0, 0);
  record.focus_id = d->focus ? d->focus->id : 0;
  record.colors_unused = int(d->colors.size());
  record.user_data = d->user_data;
  for (auto& c : d->controls) record.controls.push_back(RecordOf(c.get()));

  s.active.pop_back();
  for (auto& c : d->controls) s.live.erase(c.get());
  s.live.erase(d);
  d->record = nullptr;
  const intptr_t result = record.result;
  s.records.push_back(std::move(record));
  return result;
} catch (...) {
  return -1;
}

bool EndDialog(DialogWindow* dialog, intptr_t result) noexcept {
  State& s = S();
  Lock lock(s.mu);
  if (!Live(s, dialog) || dialog->type != DialogWindow::kDialog) return false;
  dialog->ended = true;
  dialog->result = result;
  return true;
}

DialogWindow* GetDialogItem(DialogWindow* dialog, int id) noexcept {
  State& s = S();
  Lock lock(s.mu);
  return Control(s, dialog, id);
}

int GetDialogControlId(DialogWindow* control) noexcept {
  State& s = S();
  Lock lock(s.mu);
  return Live(s, control) && control->type == DialogWindow::kControl ? control->id : 0;
}

bool SetDialogItemText(DialogWindow* dialog, int id, const char* text) noexcept try {
  State& s = S();
  Lock lock(s.mu);
  DialogWindow* c = Control(s, dialog, id);
  if (!c) return false;
  SetText(c, text);
  return true;
} catch (...) {
  return false;
}

uint32_t GetDialogItemText(DialogWindow* dialog, int id, char* buffer, uint32_t size) noexcept {
  State& s = S();
  Lock lock(s.mu);
  DialogWindow* c = Control(s, dialog, id);
  if (!c) {
    detail::CopyOut("", buffer, size);
    return 0;
  }
  return detail::CopyOut(c->text, buffer, size);
}

bool CheckDialogButton(DialogWindow* dialog, int id, unsigned state) noexcept {
  State& s = S();
  Lock lock(s.mu);
  DialogWindow* c = Control(s, dialog, id);
  if (!c || !IsButtonKind(c->kind) || state > 2) return false;
  c->check = state;
  return true;
}

unsigned IsDialogButtonChecked(DialogWindow* dialog, int id) noexcept {
  State& s = S();
  Lock lock(s.mu);
  DialogWindow* c = Control(s, dialog, id);
  return c && IsButtonKind(c->kind) ? c->check : 0;
}

bool EnableWindow(DialogWindow* window, bool enable) noexcept {
  State& s = S();
  Lock lock(s.mu);
  if (!Live(s, window)) return false;
  window->enabled = enable;
  if (!enable && window->owner && window->owner->focus == window) window->owner->focus = nullptr;
  return true;
}

DialogWindow* SetFocus(DialogWindow* window) noexcept {
  State& s = S();
  Lock lock(s.mu);
  if (!Live(s, window) || window->type != DialogWindow::kControl) return nullptr;
  DialogWindow* dialog = window->owner;
  DialogWindow* previous = dialog->focus;
  dialog->focus = window;
  return previous;
}

DialogWindow* GetFocus() noexcept {
  State& s = S();
  Lock lock(s.mu);
  return s.active.empty() ? nullptr : s.active.back()->focus;
}

bool SetEditSelection(DialogWindow* edit, int start, int end) noexcept {
  State& s = S();
  Lock lock(s.mu);
  if (!Live(s, edit) || edit->kind != ControlKind::kEdit || edit->type != DialogWindow::kControl) return false;
  SetSelection(edit, start, end);
  return true;
}

bool GetEditSelection(DialogWindow* edit, int* start, int* end) noexcept {
  State& s = S();
  Lock lock(s.mu);
  if (!Live(s, edit) || edit->kind != ControlKind::kEdit || edit->type != DialogWindow::kControl) return false;
  if (start) *start = edit->sel_start;
  if (end) *end = edit->sel_end;
  return true;
}

namespace {
DialogWindow* Bar(State& s, DialogWindow* w, int bar) {
  return Live(s, w) && w->type == DialogWindow::kControl && w->kind == ControlKind::kHScrollBar && bar == kSbCtl
             ? w
             : nullptr;
}
}  // namespace

bool SetScrollRange(DialogWindow* bar_window, int bar, int min, int max, bool redraw) noexcept {
  State& s = S();
  Lock lock(s.mu);
  DialogWindow* b = Bar(s, bar_window, bar);
  if (!b || min > max) return false;
  b->scroll_min = min;
  b->scroll_max = max;
  b->scroll_pos = b->scroll_pos < min ? min : b->scroll_pos > max ? max : b->scroll_pos;
  if (redraw) ++b->redraws;
  return true;
}

bool GetScrollRange(DialogWindow* bar_window, int bar, int* min, int* max) noexcept {
  State& s = S();
  Lock lock(s.mu);
  DialogWindow* b = Bar(s, bar_window, bar);
  if (!b) return false;
  if (min) *min = b->scroll_min;
  if (max) *max = b->scroll_max;
  return true;
}

int SetScrollPos(DialogWindow* bar_window, int bar, int pos, bool redraw) noexcept {
  State& s = S();
  Lock lock(s.mu);
  DialogWindow* b = Bar(s, bar_window, bar);
  if (!b) return 0;
  const int previous = b->scroll_pos;
  b->scroll_pos = pos < b->scroll_min ? b->scroll_min : pos > b->scroll_max ? b->scroll_max : pos;
  if (redraw) ++b->redraws;
  return previous;
}

int GetScrollPos(DialogWindow* bar_window, int bar) noexcept {
  State& s = S();
  Lock lock(s.mu);
  DialogWindow* b = Bar(s, bar_window, bar);
  return b ? b->scroll_pos : 0;
}

bool SetWindowUserData(DialogWindow* window, intptr_t value) noexcept {
  State& s = S();
  Lock lock(s.mu);
  if (!Live(s, window)) return false;
  const DialogWindow* dialog = window->type == DialogWindow::kControl ? window->owner : window;
  if (dialog->refuse_user_data) return false;
  window->user_data = value;
  return true;
}

intptr_t GetWindowUserData(DialogWindow* window) noexcept {
  State& s = S();
  Lock lock(s.mu);
  return Live(s, window) ? window->user_data : 0;
}

intptr_t SendMessage(DialogWindow* window, unsigned msg, uintptr_t wparam, intptr_t lparam) noexcept try {
  State& s = S();
  Lock lock(s.mu);
  if (!Live(s, window)) return 0;
  if (window->type == DialogWindow::kDialog) return Deliver(window, msg, wparam, lparam);
  if (window->type != DialogWindow::kControl) return 0;
  DialogWindow* c = window;
  switch (msg) {
    case kWmSetText:
      SetText(c, reinterpret_cast<const char*>(lparam));
      return 1;
    case kWmGetText:
      return intptr_t(detail::CopyOut(c->text, reinterpret_cast<char*>(lparam), uint32_t(wparam)));
    case kWmGetTextLength:
      return intptr_t(c->text.size());
    case kEmSetSel:
      if (c->kind != ControlKind::kEdit) return 0;
      SetSelection(c, int(intptr_t(wparam)), int(lparam));
      return 1;
    case kEmGetSel:
      if (c->kind != ControlKind::kEdit) return 0;
      if (wparam) *reinterpret_cast<uint32_t*>(wparam) = uint32_t(c->sel_start);
      if (lparam) *reinterpret_cast<uint32_t*>(lparam) = uint32_t(c->sel_end);
      return intptr_t(MakeWParam(unsigned(c->sel_start), unsigned(c->sel_end)));
    case kBmSetCheck:
      if (!IsButtonKind(c->kind) || wparam > 2) return 0;
      c->check = unsigned(wparam);
      return 0;
    case kBmGetCheck:
      return IsButtonKind(c->kind) ? intptr_t(c->check) : 0;
    case kBmClick:
      Click(c);
      return 0;
    default:
      return 0;
  }
} catch (...) {
  return 0;
}

namespace detail {

bool ChooserContext(DialogWindow* owner, std::string* owner_title, bool* in_dialog,
                    std::optional<ColorAnswer>* answer) noexcept try {
  State& s = S();
  Lock lock(s.mu);
  if (owner && !Live(s, owner)) return false;
  *owner_title = owner ? (owner->type == DialogWindow::kControl ? owner->owner : owner)->title : std::string();
  *in_dialog = !s.active.empty();
  answer->reset();
  if (*in_dialog && !s.active.back()->colors.empty()) {
    *answer = s.active.back()->colors.front();
    s.active.back()->colors.pop_front();
  }
  return true;
} catch (...) {
  return false;
}

bool OwnerTitle(DialogWindow* owner, std::string* title) noexcept try {
  State& s = S();
  Lock lock(s.mu);
  if (owner && !Live(s, owner)) return false;
  *title = owner ? (owner->type == DialogWindow::kControl ? owner->owner : owner)->title : std::string();
  return true;
} catch (...) {
  return false;
}

}  // namespace detail

// ---------------------------------------------------------------------------
// Host configuration
// ---------------------------------------------------------------------------
DialogWindow* MainWindow() { return &S().main_window; }

void PushDialogScript(DialogScript script) {
  State& s = S();
  Lock lock(s.mu);
  s.scripts.push_back(std::move(script));
}

void ClearDialogScripts() {
  State& s = S();
  Lock lock(s.mu);
  s.scripts.clear();
}

size_t PendingDialogScripts() {
  State& s = S();
  Lock lock(s.mu);
  return s.scripts.size();
}

std::vector<DialogRecord> DialogRecords() {
  State& s = S();
  Lock lock(s.mu);
  return s.records;
}

void ClearDialogRecords() {
  State& s = S();
  Lock lock(s.mu);
  s.records.clear();
}

namespace {

bool ParseInt(std::string_view text, int* out) {
  std::string t(text);
  if (t.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(t.c_str(), &end, 0);
  if (*end || errno || v < INT32_MIN || v > INT32_MAX) return false;
  *out = int(v);
  return true;
}

constexpr const char* kScrollNames[] = {"lineleft",   "lineright", "pageleft", "pageright", "thumbposition",
                                        "thumbtrack", "left",      "right",    "endscroll"};

bool ParseStep(const std::string& raw, DialogScript* script, std::string* error) {
  // Trim blanks around the verb; the text of "text"/"set" is kept as the script gives it.
  size_t b = 0;
  while (b < raw.size() && (raw[b] == ' ' || raw[b] == '\t')) ++b;
  std::string line = raw.substr(b);
  if (line.empty()) return true;
  const size_t space = line.find_first_of(" \t");
  const std::string verb = line.substr(0, space);
  std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
  while (!rest.empty() && (rest[0] == ' ' || rest[0] == '\t')) rest.erase(0, 1);
  const size_t eq = rest.find('=');
  std::string id_text = rest.substr(0, eq);
  while (!id_text.empty() && (id_text.back() == ' ' || id_text.back() == '\t')) id_text.pop_back();
  const std::string arg = eq == std::string::npos ? "" : rest.substr(eq + 1);
  DialogStep step;
  auto need_id = [&]() {
    if (ParseInt(id_text, &step.id)) return true;
    *error = "step \"" + line + "\": expected a control id";
    return false;
  };
  if (verb == "color") {
    ColorAnswer answer;
    if (!ParseColorAnswer(rest, &answer)) {
      *error = "step \"" + line + "\": expected a colour #RRGGBB or cancel";
      return false;
    }
    script->colors.push_back(answer);
    return true;
  }
  if (verb == "fail-create") {
    script->fail_create = true;
    return true;
  }
  if (verb == "refuse-user-data") {
    script->refuse_user_data = true;
    return true;
  }
  if (verb == "ok" || verb == "cancel") {
    step.kind = DialogStepKind::kClick;
    step.id = verb == "ok" ? kIdOk : kIdCancel;
  } else if (verb == "click") {
    step.kind = DialogStepKind::kClick;
    if (!need_id()) return false;
  } else if (verb == "text" || verb == "set") {
    step.kind = verb == "text" ? DialogStepKind::kSetText : DialogStepKind::kSet;
    if (!need_id()) return false;
    if (eq == std::string::npos) {
      *error = "step \"" + line + "\": expected ID=VALUE";
      return false;
    }
    step.text = arg;
  } else if (verb == "check") {
    step.kind = DialogStepKind::kSetCheck;
    unsigned state = 0;
    if (!need_id()) return false;
    if (!ParseState(arg, &state)) {
      *error = "step \"" + line + "\": expected a check state 0 or 1";
      return false;
    }
    step.value = int(state);
  } else if (verb == "scroll") {
    step.kind = DialogStepKind::kScroll;
    if (!need_id()) return false;
    const size_t at = arg.find('@');
    const std::string action = arg.substr(0, at);
    step.value = -1;
    for (int i = 0; i < 9; ++i)
      if (action == kScrollNames[i]) step.value = i;
    if (step.value < 0 && !ParseInt(action, &step.value)) {
      *error = "step \"" + line + "\": unknown scroll action";
      return false;
    }
    if (at != std::string::npos && !ParseInt(arg.substr(at + 1), &step.pos)) {
      *error = "step \"" + line + "\": expected a position after '@'";
      return false;
    }
  } else if (verb == "command") {
    step.kind = DialogStepKind::kCommand;
    if (!need_id()) return false;
    if (eq != std::string::npos && !ParseInt(arg, &step.value)) {
      *error = "step \"" + line + "\": expected a notification code";
      return false;
    }
  } else {
    *error = "unknown dialog step \"" + verb + "\"";
    return false;
  }
  script->steps.push_back(std::move(step));
  return true;
}

}  // namespace

bool ParseDialogScript(std::string_view text, DialogScript* script, std::string* error) {
  DialogScript out;
  std::string err;
  std::string current;
  for (size_t i = 0; i <= text.size(); ++i) {
    const bool at_end = i == text.size();
    const char c = at_end ? '\0' : text[i];
    if (!at_end && c == '\\' && i + 1 < text.size() && (text[i + 1] == ';' || text[i + 1] == '\\')) {
      current += text[++i];
      continue;
    }
    if (at_end || c == ';' || c == '\n') {
      if (!current.empty() && current.back() == '\r') current.pop_back();
      if (!ParseStep(current, &out, &err)) {
        if (error) *error = err;
        return false;
      }
      current.clear();
      continue;
    }
    current += c;
  }
  if (script) *script = std::move(out);
  return true;
}

void ResetHeadless() {
  {
    State& s = S();
    Lock lock(s.mu);
    s.scripts.clear();
    s.records.clear();
  }
  ClearColorAnswers();
  ClearColorChooserRecords();
  ClearMenuAnswers();
  ClearMenuRecords();
  ClearMessageBoxAnswers();
  ClearMessageBoxRecords();
  ClearResourceFailures();
  ClearInfoPaletteRecords();
  ResetBeeps();
  ReleaseAllKeys();
  ClearRegistryFailures();
  ClearLaunchRecords();
  SetLaunchMode(LaunchMode::kStart);
  UseSystemClock();
  RemoveTabletDriver();
  ClearWindowRecords();
  ClearPointer();
  ClearCursorLog();
}

}  // namespace ombrix::platform
