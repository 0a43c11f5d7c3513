#include "effect_run.h"
#include "streams.h"

#include <ombrix/host/image_io.h>
#include <ombrix/platform/files.h>

#include <unistd.h>

#include <csignal>
#include <iostream>

namespace ombrix::cli {
namespace {

extern "C" void OnInterrupt(int sig) {
  platform::RemoveUnfinishedReplacements();
  RemoveStreamFilesNow();
  ::_exit(128 + sig);
}

}  // namespace

void CatchInterrupts() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

ImageSource OpenInput(const std::string& text) {
  try {
    return OpenSource(text);
  } catch (const HostError& e) {
    throw UsageError(std::string("bad input: ") + e.what());
  }
}

void Messages::Listen(Host& host) {
  host.on_message = [this](std::string_view m) { pending.push_back(FromWindows1252(m)); };
}

void Messages::Take(const CommandResult& result) {
  const std::string message = FromWindows1252(result.message);
  if (!message.empty() && (pending.empty() || pending.back() != message)) {
    pending.push_back(message);
  }
}

void Messages::Settle(const std::string& effect, const char* what, const CommandResult& result) {
  Take(result);
  if (result.err != PF_Err_NONE) {
    std::string line = effect + ": " + what + " failed with error " + std::to_string(result.err);
    if (!pending.empty()) line += ": " + pending.back();
    pending.clear();
    throw HostError(line);
  }
  for (const std::string& m : pending) std::cerr << "ombrix: " << effect << ": " << m << "\n";
  pending.clear();
}

void NoteSource(const ImageSource& source, bool quiet) {
  if (quiet) return;
  const std::optional<ImageInfo> info = SourceInfo(source);
  if (!info) return;
  static const std::pair<const char*, const char*> kSamples[] = {{"uint16", "16-bit"},
                                                                 {"half", "16-bit float"},
                                                                 {"float", "32-bit float"},
                                                                 {"double", "64-bit float"},
                                                                 {"uint", "32-bit"}};
  if (info->sample_type != "uint8") {
    std::string depth = info->sample_type;
    for (const auto& [type, words] : kSamples) {
      if (depth == type) depth = words;
    }
    std::cerr << "ombrix: note: '" << source.text << "' has " << depth
              << " samples; effects work on 8 bits per channel, so they are reduced\n";
  }
  if (info->subimages > 1) {
    std::cerr << "ombrix: note: '" << source.text << "' has " << info->subimages
              << (info->format == "openexr" ? " parts" : " pages") << "; the first is used\n";
  }
}

}  // namespace ombrix::cli
