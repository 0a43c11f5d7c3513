// `ombrix demo`: every effect on one image, with its defaults and with each
// selectable item of its first popup.
#include "effect_run.h"
#include "streams.h"

#include <ombrix/host/image_io.h>

#include <filesystem>
#include <iostream>

namespace ombrix::cli {

namespace fs = std::filesystem;

int RunDemo(const CommonOptions& common, const DemoOptions& o) {
  CatchInterrupts();
  CheckStreamSources(o.input, {});
  const ImageSource source = OpenInput(o.input);
  if (source.kind == SourceKind::kRawStream) throw UsageError("demo takes an image, not a raw stream: -i " + o.input);
  const PluginScan scan = ScanAndTryPlugins(common);
  // A file that cannot be used costs its own effect; the others still render.
  int failures = int(scan.refused.size());
  for (const auto& refused : scan.refused) std::cerr << "ombrix: " << refused.second << "\n";
  if (scan.plugins.empty()) throw HostError("no effects found to render");
  std::error_code ec;
  fs::create_directories(o.out_dir, ec);
  if (ec) throw HostError("cannot create '" + o.out_dir + "': " + ec.message());

  WriteOptions write;  // the input's metadata goes to every image
  ImageInfo info;
  const World input = LoadSource(source, 0, 100, 0, &info);
  write.metadata = info.metadata;
  NoteSource(source, common.quiet);
  WriteImage(fs::path(o.out_dir) / "input.png", input.pf(), write);
  // Each effect with its defaults (<name>.png), then once per selectable item
  // of its first popup, which is its type or mode (<name>-<item>.png). Each
  // effect renders in a child process of its own, so a crash costs only it.
  for (const PluginFile& file : scan.plugins) {
    auto work = [&] {
      Host host;
      Messages messages;
      messages.Listen(host);
      Effect effect(host, file);
      auto render = [&](const std::string& file_name, int popup, A_long item) {
        Instance instance(effect, TimeBase::ForRate(FrameRate{}), input.width(), input.height());
        messages.Settle(file.pipl.display_name, "sequence setup", instance.setup_result());
        if (popup > 0) {
          ParamValue v;
          v.value = item;
          instance.SetValue(popup, v);
        }
        World in = input;
        World out(input.width(), input.height());
        messages.Settle(file.pipl.display_name, "render", instance.RenderFrame(0, in.pf(), out.pf()));
        const fs::path path = fs::path(o.out_dir) / file_name;
        WriteImage(path, out.pf(), write);
        if (!common.quiet) std::cout << "ombrix: wrote " << path.string() << std::endl;
      };
      render(file.short_name + ".png", 0, 0);
      for (size_t i = 1; i < effect.params().size(); ++i) {
        const PF_ParamDef& def = effect.params()[i];
        if (def.param_type != PF_Param_POPUP) continue;
        const std::vector<std::string> items = effect.PopupItems(int(i));
        for (size_t k = 0; k < items.size(); ++k) {
          const A_long item = A_long(k + 1);
          if (IsDisabledItem(items[k]) || item == def.u.pd.dephault) continue;
          render(file.short_name + "-" + std::to_string(item) + ".png", int(i), item);
        }
        break;
      }
    };
    const ChildOutcome outcome = RunInChild(work);
    if (outcome.kind != ChildOutcome::Kind::kOk) {
      ++failures;
      std::cerr << "ombrix: " << file.pipl.display_name << ": " << outcome.Describe() << "\n";
    }
  }
  return failures == 0 ? kExitOk : kExitFailed;
}

}  // namespace ombrix::cli
