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

// Stored sequence data is small (the largest record any effect keeps is
// Lightning's 36 bytes); anything far larger is not a settings record.
constexpr off_t kMaxSequenceDataBytes = 64 * 1024;

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

std::string EscapeStep(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == ';' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

namespace {

plat::DialogScript DialogScriptFromAnswers(const std::vector<std::string>& answers) {
  std::string script;
  bool cancel = false;
  for (const std::string& option : answers) {
    for (const std::string& item : SplitAnswers(option)) {
      if (item.empty()) continue;
      if (item == "cancel") {
        cancel = true;
        continue;
      }
      const size_t eq = item.find('=');
      const std::string id = item.substr(0, eq);
      const bool numeric_id = !id.empty() && id.find_first_not_of("0123456789") == std::string::npos;
      if (eq == std::string::npos || !numeric_id) {
        throw UsageError("bad --dialog item '" + item + "' (expected ID=VALUE or cancel)");
      }
      const std::string value = item.substr(eq + 1);
      // A push button other than OK and Cancel (such as "Default") is clicked.
      if (value == "click") script += "click " + id + ";";
      else script += "set " + id + "=" + EscapeStep(value) + ";";
    }
  }
  script += cancel ? "cancel" : "ok";
  plat::DialogScript parsed;
  std::string error;
  if (!plat::ParseDialogScript(script, &parsed, &error)) throw UsageError("bad --dialog: " + error);
  return parsed;
}

std::string DialogOutcomeText(const plat::DialogRecord& record) {
  switch (record.outcome) {
    case plat::DialogOutcome::kEnded:
      return record.result == 1 ? "OK" : record.result == 2 ? "Cancel" : "ended with " + std::to_string(record.result);
    case plat::DialogOutcome::kScriptExhausted: return "still open after the last answer (values refused)";
    case plat::DialogOutcome::kScriptError: return "refused an answer: " + record.error;
    case plat::DialogOutcome::kNotCreated: return "not shown: " + record.error;
  }
  return "unknown";
}

}  // namespace

std::vector<uint8_t> ReadSequenceData(const std::string& path) {
  const std::string what = "cannot read --sequence-data '" + path + "': ";
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
  if (st.st_size > kMaxSequenceDataBytes) {
    throw UsageError(what + "larger than any stored settings (" + std::to_string(kMaxSequenceDataBytes / 1024) +
                     " KiB at most)");
  }
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

void WriteSequenceData(const std::string& path, const std::vector<uint8_t>& bytes) {
  platform::FileReplacement file;
  if (!file.Begin(path) || !file.Append(bytes.data(), bytes.size()) || !file.Commit()) {
    throw HostError("cannot write --save-sequence-data '" + path + "': " + file.error());
  }
}

CommandResult RunOptionsDialog(Instance& instance, const std::vector<std::string>& answers, bool quiet) {
  plat::ClearDialogRecords();
  plat::PushDialogScript(DialogScriptFromAnswers(answers));
  CommandResult result = instance.Command(PF_Cmd_DO_DIALOG);
  plat::ClearDialogScripts();
  const auto records = plat::DialogRecords();
  if (!quiet || result.err != PF_Err_NONE) {
    std::cerr << "ombrix: options dialog: "
              << (records.empty() ? std::string("not shown") : DialogOutcomeText(records.back()))
              << " (result " << result.err << ")\n";
  }
  return result;
}

int RunAbout(const CommonOptions& common, const AboutOptions& o) {
  const PluginScan scan = ScanPlugins(common);
  const PluginFile& file = FindEffect(scan, o.effect);
  HostOptions host_options;
  host_options.registry_dir = o.registry;
  Host host(host_options);
  std::string message;
  host.on_message = [&](std::string_view m) { message.assign(m); };
  Effect effect(host, file);
  PF_InData in = effect.BaseInData();
  PF_OutData out{};
  out.global_data = effect.global_data();
  plat::SetKeyDown(plat::kVkAlt, o.alt);
  const PF_Err err = effect.Send(PF_Cmd_ABOUT, in, out, nullptr, nullptr, nullptr);
  plat::SetKeyDown(plat::kVkAlt, false);
  // The text breaks lines with carriage returns; a terminal wants newlines.
  for (char& c : message)
    if (c == '\r') c = '\n';
  if (!message.empty()) std::cout << message << "\n";
  if (err != PF_Err_NONE) throw HostError(file.pipl.display_name + ": about failed with error " + std::to_string(err), err);
  return kExitOk;
}

}  // namespace ombrix::cli
