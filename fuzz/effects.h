// Every effect of the plug-in folder, loaded once for a fuzzer's lifetime.
// The folder is $OMBRIX_PLUGIN_PATH, else the build's plug-ins; the
// effects are in the order of their short names, so that a seed's first
// byte picks the same effect on every run.
#pragma once

#include <ombrix/host/host.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace ombrix::fuzz {

struct Effects {
  Host host;
  std::vector<PluginFile> files;
  std::vector<std::unique_ptr<Effect>> effects;

  Effects() : host(HostOptions{1, 0, {}}) {
    host.on_message = [](std::string_view) {};
    PluginScan scan = ScanPluginFolder(DefaultPluginFolder());
    files = scan.plugins;
    std::sort(files.begin(), files.end(),
              [](const PluginFile& a, const PluginFile& b) { return a.short_name < b.short_name; });
    for (const PluginFile& f : files) effects.push_back(std::make_unique<Effect>(host, f));
    if (effects.empty()) {
      std::fprintf(stderr, "fuzz: no plug-ins in %s\n", DefaultPluginFolder().c_str());
      std::abort();
    }
  }
};

inline Effects& LoadedEffects() {
  static Effects* e = new Effects;  // kept until exit: the plug-ins stay loaded
  return *e;
}

}  // namespace ombrix::fuzz
