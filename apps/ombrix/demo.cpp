// `ombrix demo`: every effect on one image, with its defaults and with each
// selectable item of its first popup.
#include "effect_run.h"
#include "paint_cmd.h"
#include "streams.h"

#include <ombrix/host/image_io.h>

#include <bit>
#include <filesystem>
#include <iostream>
#include <optional>

namespace ombrix::cli {

namespace fs = std::filesystem;

namespace {

// What an effect's demo images start from beyond its parameters' defaults,
// and a further popup whose chosen items get images of their own
// (<name>-<more_prefix>-<item>.png).
struct DemoScene {
  std::optional<std::vector<uint8_t>> sequence_data;
  double seconds = 0;
  std::string more_param;
  std::string more_prefix;
  std::vector<A_long> more_items;
};

// Paint draws the drawing kept with the examples, at 1.5 s, where every
// "Draw Strokes..." mode has strokes to show (one painted on that frame, one
// a frame before and one after for the onion skin), and is also put over,
// under and used as a matte of the layer.
DemoScene SceneFor(const PluginFile& file) {
  DemoScene scene;
  if (file.pipl.match_name != "obx Basic Paint") return scene;
  scene.sequence_data =
      StoredDrawingFromStrokes(kDemoDrawing, "demo-drawing.json", std::endian::native == std::endian::little);
  scene.seconds = 1.5;
  scene.more_param = "Composite Paint...";
  scene.more_prefix = "composite";
  scene.more_items = {4, 5, 10, 11};
  return scene;
}

}  // namespace

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
      const DemoScene scene = SceneFor(file);
      const TimeBase time = TimeBase::ForRate(FrameRate{});
      auto render = [&](const std::string& file_name, int popup, A_long item) {
        Instance instance(effect, time, input.width(), input.height(), scene.sequence_data);
        messages.Settle(file.pipl.display_name, "sequence setup", instance.setup_result());
        if (popup > 0) {
          ParamValue v;
          v.value = item;
          instance.SetValue(popup, v);
        }
        World in = input;
        World out(input.width(), input.height());
        messages.Settle(file.pipl.display_name, "render",
                        instance.RenderFrame(time.SecondsToTicks(scene.seconds), in.pf(), out.pf()));
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
      for (size_t i = 1; i < effect.params().size() && !scene.more_param.empty(); ++i) {
        if (effect.params()[i].name != scene.more_param) continue;
        for (const A_long item : scene.more_items)
          render(file.short_name + "-" + scene.more_prefix + "-" + std::to_string(item) + ".png", int(i), item);
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
