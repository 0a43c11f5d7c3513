// ombrix: list, describe and render Ombrix One effects from the command line.
//
// Every failure ends with one line on stderr and a non-zero status:
// 2 for a mistake in the command line (option, effect, parameter, value,
// input), 1 when an effect or a file operation fails.
#include "commands.h"
#include "farm.h"
#include "paint_cmd.h"
#include "render_cli.h"
#include "streams.h"
#include "studio/server.h"

#include <CLI/CLI.hpp>

#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

namespace {

using namespace ombrix::cli;

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// Values quoted in a message ('...') longer than a screen line are cut in
// the middle, so that a mistyped 10,000-character value still gives one
// readable line.
std::string ShortenQuoted(const std::string& text) {
  constexpr size_t kLongest = 80, kHead = 48, kTail = 24;
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    const size_t open = text.find('\'', i);
    const size_t close = open == std::string::npos ? std::string::npos : text.find('\'', open + 1);
    if (close == std::string::npos) break;
    out.append(text, i, open + 1 - i);
    const std::string_view value = std::string_view(text).substr(open + 1, close - open - 1);
    if (value.size() > kLongest) {
      out.append(value.substr(0, kHead)).append("...").append(value.substr(value.size() - kTail));
    } else {
      out.append(value);
    }
    out += '\'';
    i = close + 1;
  }
  out.append(text, std::min(i, text.size()), std::string::npos);
  return out;
}

int Fail(int status, const std::string& message) {
  std::cerr << "ombrix: " << ShortenQuoted(OneLine(NameStreams(message))) << "\n";
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"ombrix: list, describe and render Ombrix One effects"};
  app.require_subcommand(1);
  // The same synopsis as docs/cli.md.
  app.footer(
      "Synopsis:\n"
      "  ombrix list [--json]\n"
      "  ombrix info EFFECT [--json]\n"
      "  ombrix about EFFECT [--alt] [--registry DIR]\n"
      "  ombrix render EFFECT -o OUTPUT [-i SOURCE] [-p NAME=VALUE]... [-k NAME@SECONDS=VALUE]...\n"
      "                [--frame N | --time SECONDS] [--frames FIRST-LAST] [--fps RATE] [options]\n"
      "  ombrix render --project FILE -o OUTPUT [--frame N | --frames FIRST-LAST] [--downsample N/D]\n"
      "  ombrix demo [OUTDIR] [-i SOURCE]\n"
      "  ombrix paint info DRAWING [--json] | import STROKES.json -o DRAWING | export DRAWING -o STROKES.json\n"
      "  ombrix paint apply DRAWING SCRIPT.json -o DRAWING [--registry DIR] [--view-log FILE]\n"
      "  ombrix farm submit EFFECT [render options] --frames FIRST-LAST [--chunk N] [--partition P]\n"
      "                [--max-parallel K] [--slurm=OPTION]... [--job-dir DIR]\n"
      "  ombrix farm status|collect|task|resubmit JOB\n"
      "  ombrix studio [PROJECT] [--port N] [--web DIR] [--no-open]\n"
      "\n"
      "Every subcommand also takes --plugins DIR and -q/--quiet; `ombrix SUBCOMMAND --help` lists its options.\n"
      "SOURCE: a file, a sequence (name.####.png, name.%04d.png), solid:WxH[:COLOUR], testcard[:WxH],\n"
      "- (an image file on standard input) or rgba:WxH:PATH (raw RGBA frames; PATH - for standard input).\n"
      "OUTPUT: a file (png, exr, tif, jpg), a pattern (name.####.png), png:-, exr:-, tif:-, jpg:- (one\n"
      "image on standard output) or rgba:- (raw RGBA frames on standard output).");
  app.set_version_flag("--version", "ombrix 1.0.0");

  CommonOptions common;
  auto add_common = [&](CLI::App* sub) {
    sub->add_option("--plugins", common.plugins,
                    "Folder of plug-ins (default: $OMBRIX_PLUGIN_PATH or the built/installed ones)");
    sub->add_flag("-q,--quiet", common.quiet, "No progress or summary lines");
  };

  ListOptions list;
  CLI::App* list_cmd = app.add_subcommand("list", "List the effects by category, then display name");
  list_cmd->add_flag("--json", list.json, "Print JSON");
  add_common(list_cmd);

  InfoOptions info;
  CLI::App* info_cmd = app.add_subcommand("info", "Registration data and every parameter of an effect");
  info_cmd->add_option("EFFECT", info.effect, "Short name, display name or match name")->required();
  info_cmd->add_flag("--json", info.json, "Print JSON");
  add_common(info_cmd);

  AboutOptions about;
  CLI::App* about_cmd = app.add_subcommand("about", "The effect's about text, or with --alt its web page");
  about_cmd->add_option("EFFECT", about.effect, "Short name, display name or match name")->required();
  about_cmd->add_flag("--alt", about.alt, "Hold the Alt key: open the vendor's web page in the browser");
  about_cmd->add_option("--registry", about.registry, "Folder of the settings registry (default: the user's)");
  add_common(about_cmd);

  RenderOptions render;
  CLI::App* render_cmd =
      app.add_subcommand("render", "Render an effect into image files, or through standard input and output");
  AddRenderOptions(render_cmd, render);
  add_common(render_cmd);

  DemoOptions demo;
  CLI::App* demo_cmd = app.add_subcommand("demo", "Render every installed effect with its defaults");
  demo_cmd->add_option("OUTDIR", demo.out_dir, "Folder for the images")->capture_default_str();
  demo_cmd->add_option("-i,--input", demo.input, "Source, as for render (not a raw stream)")->capture_default_str();
  add_common(demo_cmd);

  PaintCommands paint;
  AddPaintCommands(app, paint);
  FarmCommands farm;
  AddFarmCommands(app, farm, common);

  ombrix::studio::StudioOptions studio;
  CLI::App* studio_cmd = app.add_subcommand("studio", "Apply, tweak and preview effects in a web browser");
  studio_cmd->add_option("PROJECT", studio.project, "Project file to open");
  studio_cmd->add_option("--port", studio.port, "Port on 127.0.0.1 (default: a free one)")->check(CLI::Range(0, 65535));
  studio_cmd->add_option("--web", studio.web, "Folder of the front end (default: the installed or built one)");
  studio_cmd->add_flag("--no-open", studio.no_open, "Print the address only; do not open a browser");
  add_common(studio_cmd);

  bool known = argc < 2 || argv[1][0] == '-';
  for (const CLI::App* sub : app.get_subcommands({})) known = known || sub->get_name() == argv[1];
  if (!known) {
    return Fail(kExitBadInput, std::string("unknown command '") + argv[1] +
                                   "' (expected list, info, about, render, demo, paint, farm or studio)");
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return Fail(kExitBadInput, e.what());
  }

  InstallCrashReport();
  try {
    if (*list_cmd) return RunList(common, list);
    if (*info_cmd) return RunInfo(common, info);
    if (*about_cmd) return RunAbout(common, about);
    if (*render_cmd) return RunRender(common, render);
    if (*demo_cmd) return RunDemo(common, demo);
    if (*farm.farm) return RunFarm(common, farm);
    if (*studio_cmd) return ombrix::studio::RunStudio(common, studio);
    if (*paint.paint) {
      paint.plugins = common.plugins;
      return RunPaint(paint);
    }
  } catch (const UsageError& e) {
    return Fail(kExitBadInput, e.what());
  } catch (const ombrix::HostError& e) {
    return Fail(kExitFailed, e.what());
  } catch (const std::bad_alloc&) {
    return Fail(kExitFailed, "out of memory");
  } catch (const std::exception& e) {
    return Fail(kExitFailed, e.what());
  }
  return kExitBadInput;
}
