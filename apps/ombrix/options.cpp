// `ombrix about` and the options-dialog and sequence-data parts of
// `ombrix render`: the platform's key state, scripted dialogs and registry
// folder as the command line sets them.
#include "commands.h"

#include <ombrix/platform/files.h>
#include <ombrix/platform/headless.h>
#include <ombrix/platform/input.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace ombrix::cli {

namespace plat = ombrix::platform;

// Stored sequence data is a settings record of a few words (the largest is
// Lightning's 36 bytes) or, for effects that flatten it, a drawing; a file
// far larger than either is refused.
constexpr off_t kMaxRecordBytes = 64 * 1024;
constexpr off_t kMaxFlatBytes = 64 * 1024 * 1024;

namespace {

// Splits "ID=VALUE,ID=VALUE" at commas not escaped as "\,".
std::vector<std::string> SplitAnswers(const std::string& text) {
  std::vector<std::string> items(1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == ',' || text[i + 1] == '\\')) {
      items.back() += text[++i];
    } else if (text[i] == ',') {
      items.emplace_back();
    } else {
      items.back() += text[i];
    }
  }
  return items;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// The text that names a control without one of its own (an edit, a scroll
// bar): the unnamed label or group box before it, and an unnamed label
// right after it ("Every ... revolutions").
std::string LabelBefore(const std::vector<plat::ControlRecord>& controls, size_t i) {
  constexpr int kNoId = -1;
  std::string label;
  for (size_t k = i; k-- > 0;) {
    const auto& c = controls[k];
    if (c.id == kNoId && (c.kind == plat::ControlKind::kStatic || c.kind == plat::ControlKind::kGroupBox) &&
        !c.text.empty()) {
      label = c.text;
      break;
    }
  }
  while (!label.empty() && (label.back() == ':' || label.back() == ' ')) label.pop_back();
  // A label followed by another edit or bar is that one's label instead.
  const bool labels_next = i + 2 < controls.size() && (controls[i + 2].kind == plat::ControlKind::kEdit ||
                                                       controls[i + 2].kind == plat::ControlKind::kHScrollBar);
  if (i + 1 < controls.size() && controls[i + 1].id == kNoId && controls[i + 1].kind == plat::ControlKind::kStatic &&
      !controls[i + 1].text.empty() && !labels_next) {
    label += " ... " + controls[i + 1].text;
  }
  return label;
}

bool Answerable(plat::ControlKind kind) {
  return kind != plat::ControlKind::kStatic && kind != plat::ControlKind::kGroupBox;
}

const DialogControlInfo* FindControl(const OptionsDialogInfo& dialog, int id) {
  for (const auto& c : dialog.controls)
    if (c.id == id) return &c;
  return nullptr;
}

}  // namespace

std::string ControlKindName(plat::ControlKind kind) {
  switch (kind) {
    case plat::ControlKind::kEdit:
      return "edit";
    case plat::ControlKind::kStatic:
      return "label";
    case plat::ControlKind::kCheckBox:
      return "check box";
    case plat::ControlKind::kRadioButton:
      return "radio button";
    case plat::ControlKind::kPushButton:
      return "button";
    case plat::ControlKind::kHScrollBar:
      return "scroll bar";
    case plat::ControlKind::kGroupBox:
      return "group box";
  }
  return "control";
}

std::string ControlValues(const DialogControlInfo& c) {
  switch (c.kind) {
    case plat::ControlKind::kEdit:
      return "text";
    case plat::ControlKind::kCheckBox:
      return "on/off";
    case plat::ControlKind::kRadioButton:
      return "on";
    case plat::ControlKind::kPushButton:
      return "click";
    case plat::ControlKind::kHScrollBar:
      return std::to_string(c.min) + ".." + std::to_string(c.max);
    default:
      return "";
  }
}

std::vector<DialogAnswer> ParseDialogAnswers(const std::vector<std::string>& options) {
  std::vector<DialogAnswer> answers;
  for (const std::string& option : options) {
    for (const std::string& item : SplitAnswers(option)) {
      if (item.empty()) continue;
      DialogAnswer a;
      a.text = item;
      if (item == "ok" || item == "cancel") {
        a.kind = item == "ok" ? DialogAnswer::Kind::kOk : DialogAnswer::Kind::kCancel;
        answers.push_back(std::move(a));
        continue;
      }
      if (item.rfind("color=", 0) == 0) {
        a.kind = DialogAnswer::Kind::kColor;
        a.value = item.substr(6);
        if (!plat::ParseColorAnswer(a.value, &a.color)) {
          throw UsageError("bad --dialog item " + Quoted(item) + " (expected color=#RRGGBB or color=cancel)");
        }
        answers.push_back(std::move(a));
        continue;
      }
      const size_t eq = item.find('=');
      const std::string id = item.substr(0, eq);
      const bool numeric_id = !id.empty() && id.size() <= 9 && id.find_first_not_of("0123456789") == std::string::npos;
      if (eq == std::string::npos || !numeric_id) {
        throw UsageError("bad --dialog item " + Quoted(item) + " (expected ID=VALUE, ok, cancel or color=...)");
      }
      a.id = std::stoi(id);
      a.value = item.substr(eq + 1);
      a.kind = a.value == "click" ? DialogAnswer::Kind::kClick : DialogAnswer::Kind::kSet;
      answers.push_back(std::move(a));
    }
  }
  return answers;
}

OptionsDialogInfo InspectOptionsDialog(Effect& effect) {
  OptionsDialogInfo info;
  if (!(effect.global_out_flags() & PF_OutFlag_I_DO_DIALOG)) return info;
  info.has_dialog = true;
  // Opened on an instance of its own and cancelled, so that the instance
  // that renders sees one options command only.
  Instance scratch(effect, TimeBase{}, 64, 64);
  plat::ClearDialogRecords();
  plat::DialogScript cancel;
  cancel.steps.push_back(plat::DialogStep{plat::DialogStepKind::kClick, plat::kIdCancel, {}, 0, 0});
  plat::PushDialogScript(std::move(cancel));
  scratch.Command(PF_Cmd_DO_DIALOG);
  plat::ClearDialogScripts();
  const auto records = plat::DialogRecords();
  plat::ClearDialogRecords();
  if (records.empty()) {
    info.error = "the effect showed no dialog";
    return info;
  }
  const plat::DialogRecord& r = records.back();  // the options dialog ends after any it opened
  if (r.outcome == plat::DialogOutcome::kNotCreated) {
    info.error = r.error;
    return info;
  }
  info.title = FromWindows1252(r.title);
  for (size_t i = 0; i < r.controls.size(); ++i) {
    const plat::ControlRecord& c = r.controls[i];
    if (!Answerable(c.kind)) continue;
    DialogControlInfo out;
    out.id = c.id;
    out.kind = c.kind;
    out.enabled = c.enabled;
    out.min = c.scroll_min;
    out.max = c.scroll_max;
    const bool own_text = c.kind != plat::ControlKind::kEdit && c.kind != plat::ControlKind::kHScrollBar;
    out.label = FromWindows1252(own_text ? c.text : LabelBefore(r.controls, i));
    info.controls.push_back(std::move(out));
  }
  return info;
}

void CheckDialogAnswers(const std::string& effect_name, const OptionsDialogInfo& dialog,
                        const std::vector<DialogAnswer>& answers) {
  if (answers.empty()) return;
  if (!dialog.has_dialog) throw UsageError("--dialog: " + effect_name + " has no options dialog");
  if (!dialog.error.empty()) {
    throw UsageError("--dialog: the options dialog of " + effect_name + " could not be shown: " + dialog.error);
  }
  for (const DialogAnswer& a : answers) {
    if (a.kind == DialogAnswer::Kind::kOk || a.kind == DialogAnswer::Kind::kCancel) continue;
    if (a.kind == DialogAnswer::Kind::kColor) continue;  // for whichever colour chooser opens
    const std::string what = "bad --dialog item " + Quoted(a.text) + ": ";
    const DialogControlInfo* c = FindControl(dialog, a.id);
    if (!c) {
      std::string ids;
      for (const auto& k : dialog.controls) ids += (ids.empty() ? "" : ", ") + std::to_string(k.id);
      throw UsageError(what + "the options dialog of " + effect_name + " has no control " + std::to_string(a.id) +
                       " that takes answers (controls: " + ids + "; see ombrix info)");
    }
    const std::string name =
        "control " + std::to_string(c->id) + " \"" + c->label + "\" is a " + ControlKindName(c->kind);
    if (!c->enabled) throw UsageError(what + name + " that is disabled");
    if (a.kind == DialogAnswer::Kind::kClick) {
      if (c->kind == plat::ControlKind::kEdit || c->kind == plat::ControlKind::kHScrollBar) {
        throw UsageError(what + name + ", not a button (expected " + ControlValues(*c) + ")");
      }
      continue;
    }
    bool ok = false;
    switch (c->kind) {
      case plat::ControlKind::kEdit:
        ok = true;
        break;
      case plat::ControlKind::kCheckBox:
        ok = a.value == "on" || a.value == "off";
        break;
      case plat::ControlKind::kRadioButton:
        ok = a.value == "on";
        break;
      case plat::ControlKind::kHScrollBar: {
        const std::string& v = a.value;
        const bool digits = !v.empty() && v.size() <= 9 &&
                            v.find_first_not_of("0123456789", v[0] == '-' ? 1 : 0) == std::string::npos && v != "-";
        ok = digits && std::stoi(v) >= c->min && std::stoi(v) <= c->max;
        break;
      }
      default:
        break;
    }
    if (!ok) throw UsageError(what + name + " (expected " + ControlValues(*c) + ")");
  }
}

namespace {

// The answers that are steps the user takes in the dialog itself; colour
// answers go to the colour choosers it opens, in their order.
std::vector<const DialogAnswer*> StepAnswers(const std::vector<DialogAnswer>& answers) {
  std::vector<const DialogAnswer*> steps;
  for (const DialogAnswer& a : answers)
    if (a.kind != DialogAnswer::Kind::kColor) steps.push_back(&a);
  return steps;
}

// The answers as the steps the user takes; OK is pressed after them unless
// the last step pressed OK or Cancel.
plat::DialogScript ScriptOf(const std::vector<DialogAnswer>& answers) {
  plat::DialogScript script;
  for (const DialogAnswer& a : answers)
    if (a.kind == DialogAnswer::Kind::kColor) script.colors.push_back(a.color);
  const std::vector<const DialogAnswer*> steps = StepAnswers(answers);
  for (const DialogAnswer* a : steps) {
    plat::DialogStep step;
    switch (a->kind) {
      case DialogAnswer::Kind::kOk:
        step = {plat::DialogStepKind::kClick, plat::kIdOk, {}, 0, 0};
        break;
      case DialogAnswer::Kind::kCancel:
        step = {plat::DialogStepKind::kClick, plat::kIdCancel, {}, 0, 0};
        break;
      case DialogAnswer::Kind::kClick:
        step = {plat::DialogStepKind::kClick, a->id, {}, 0, 0};
        break;
      case DialogAnswer::Kind::kSet:
        step = {plat::DialogStepKind::kSet, a->id, a->value, 0, 0};
        break;
      case DialogAnswer::Kind::kColor:
        break;
    }
    script.steps.push_back(std::move(step));
  }
  const bool pressed = !steps.empty() && (steps.back()->kind == DialogAnswer::Kind::kOk ||
                                          steps.back()->kind == DialogAnswer::Kind::kCancel);
  if (!pressed) script.steps.push_back({plat::DialogStepKind::kClick, plat::kIdOk, {}, 0, 0});
  return script;
}

}  // namespace

std::vector<uint8_t> ReadRegularFile(const std::string& path, const std::string& what, off_t max_bytes,
                                     const std::string& too_large) {
  // Non-blocking, so that a FIFO or a device is refused instead of waited on.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw UsageError(what + std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st;
  if (::fstat(fd, &st) != 0) throw UsageError(what + std::strerror(errno));
  if (S_ISDIR(st.st_mode)) throw UsageError(what + "it is a folder");
  if (!S_ISREG(st.st_mode)) throw UsageError(what + "it is not a regular file");
  if (st.st_size > max_bytes) throw UsageError(what + too_large);
  std::vector<uint8_t> bytes(size_t(st.st_size));
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw UsageError(what + std::strerror(errno));
    if (n == 0) throw UsageError(what + "the file shrank while it was read");
    got += size_t(n);
  }
  return bytes;
}

std::vector<uint8_t> ReadSequenceData(const std::string& path, bool flattened) {
  const std::string what = "cannot read --sequence-data '" + path + "': ";
  if (flattened) {
    return ReadRegularFile(
        path, what, kMaxFlatBytes,
        "larger than any stored drawing (" + std::to_string(kMaxFlatBytes / (1024 * 1024)) + " MiB at most)");
  }
  return ReadRegularFile(
      path, what, kMaxRecordBytes,
      "larger than any stored settings (" + std::to_string(kMaxRecordBytes / 1024) + " KiB at most)");
}

void ReplaceFile(const std::string& path, const std::string& what, const void* data, size_t size) {
  platform::FileReplacement file;
  if (!file.Begin(path) || !file.Append(data, size) || !file.Commit()) throw HostError(what + file.error());
}

void WriteSequenceData(const std::string& path, const std::vector<uint8_t>& bytes) {
  ReplaceFile(path, "cannot write --save-sequence-data '" + path + "': ", bytes.data(), bytes.size());
}

CommandResult RunOptionsDialog(Instance& instance, const std::string& effect_name,
                               const std::vector<DialogAnswer>& answers, bool quiet) {
  const plat::DialogScript script = ScriptOf(answers);
  plat::ClearDialogRecords();
  plat::PushDialogScript(script);
  CommandResult result = instance.Command(PF_Cmd_DO_DIALOG);
  plat::ClearDialogScripts();
  const auto records = plat::DialogRecords();
  plat::ClearDialogRecords();
  const std::string what = "--dialog: the options dialog of " + effect_name;
  if (records.empty()) throw UsageError(what + " was not shown");
  const plat::DialogRecord& r = records.back();  // the options dialog ends after any it opened
  // The answer a step stands for (the OK pressed after the answers has none).
  const std::vector<const DialogAnswer*> steps = StepAnswers(answers);
  auto answer_text = [&](int step) {
    return step < int(steps.size()) ? Quoted(steps[size_t(step)]->text) : std::string("the final ok");
  };
  switch (r.outcome) {
    case plat::DialogOutcome::kNotCreated:
      throw UsageError(what + " could not be shown: " + r.error);
    case plat::DialogOutcome::kScriptError:
      throw UsageError(what + " refused " + answer_text(r.steps_run - 1) + ": " + r.error);
    case plat::DialogOutcome::kScriptExhausted: {
      // The dialog corrected a value and stayed open: say which, as it now reads.
      std::string shows;
      for (const auto& c : r.controls) {
        if (c.id == r.focus_id && c.kind == plat::ControlKind::kEdit) {
          shows = " (control " + std::to_string(c.id) + " now reads " + FromWindows1252(c.text) +
                  "; another ok accepts it)";
        }
      }
      throw UsageError(what + " was still open after the last answer" + shows);
    }
    case plat::DialogOutcome::kEnded:
      if (r.steps_unused > 0) {
        throw UsageError(what + " closed before " + answer_text(r.steps_run) + " (answers after the closing ok or " +
                         "cancel are not used)");
      }
      if (r.colors_unused > 0) {
        throw UsageError(what + " opened no colour chooser for " + std::to_string(r.colors_unused) +
                         " of the color= answers");
      }
      break;
  }
  if (r.result == plat::kIdCancel && result.message.empty()) result.message = "Cancel was pressed";
  if (!quiet && result.err == PF_Err_NONE) {
    std::cerr << "ombrix: options dialog: " << (r.result == plat::kIdOk ? "OK" : "Cancel") << "\n";
  }
  return result;
}

AboutResult AboutText(Effect& effect, bool alt) {
  PF_InData in = effect.BaseInData();
  PF_OutData out{};
  out.global_data = effect.global_data();
  plat::SetKeyDown(plat::kVkAlt, alt);
  AboutResult about;
  about.err = effect.Send(PF_Cmd_ABOUT, in, out, nullptr, nullptr, nullptr);
  plat::SetKeyDown(plat::kVkAlt, false);
  about.text = FromWindows1252(std::string_view(out.return_msg, strnlen(out.return_msg, sizeof out.return_msg)));
  // The text breaks lines with carriage returns; a terminal wants newlines.
  for (char& c : about.text)
    if (c == '\r') c = '\n';
  return about;
}

int RunAbout(const CommonOptions& common, const AboutOptions& o) {
  const PluginScan scan = ScanPlugins(common);
  const PluginFile& file = FindEffect(scan, o.effect);
  HostOptions host_options;
  host_options.registry_dir = o.registry;
  Host host(host_options);
  host.on_message = [](std::string_view) {};  // the text is printed below
  Effect effect(host, file);
  const AboutResult about = AboutText(effect, o.alt);
  if (!about.text.empty()) std::cout << about.text << "\n";
  if (about.err != PF_Err_NONE)
    throw HostError(file.pipl.display_name + ": about failed with error " + std::to_string(about.err), about.err);
  return kExitOk;
}

}  // namespace ombrix::cli
