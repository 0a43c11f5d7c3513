#include "render_cli.h"

namespace ombrix::cli {

std::string DecimalOnly(std::string& text) {
  return ParseDecimal(text) ? std::string() : "expected a decimal number, got '" + text + "'";
}

void AddRenderOptions(CLI::App* cmd, RenderOptions& o) {
  cmd->add_option("EFFECT", o.effect, "Short name, display name or match name (not with --project)");
  cmd->add_option("--project", o.project,
                  "Render the composition of a studio project file instead of one effect (with -o, --frame or "
                  "--frames, --downsample and the output options)");
  cmd->add_option("-i,--input", o.input,
                  "Image file, sequence (name.####.png, name.%04d.png), solid:WxH[:#RRGGBBAA], "
                  "testcard[:WxH], - (an image file on standard input) or rgba:WxH:PATH (raw RGBA "
                  "frames from a file or FIFO, PATH - for standard input)")
      ->capture_default_str();
  cmd->add_option("-o,--output", o.output,
                  "Output file (png, exr, tif, jpg); #### or %04d renders frames; png:-, exr:-, tif:-, "
                  "jpg:- write one image to standard output, rgba:- raw RGBA frames")
      ->required();
  cmd->add_option("-p,--param", o.params, "NAME=VALUE, the value at every time (repeatable)")->allow_extra_args(false);
  cmd->add_option("-k,--key", o.keys, "NAME@SECONDS=VALUE, a keyframe (repeatable)")->allow_extra_args(false);
  cmd->add_option("--dialog", o.dialog,
                  "ID=VALUE,... answers for the options dialog (edit text, on/off, bar position, "
                  "click), ok and cancel press those buttons; OK is pressed after the last answer "
                  "unless it was ok or cancel; color=#RRGGBB or color=cancel answer the colour "
                  "choosers the dialog opens, in order (ids: ombrix info EFFECT)");
  cmd->add_option("--sequence-data", o.sequence_data, "Restore stored sequence data from FILE");
  cmd->add_option("--save-sequence-data", o.save_sequence_data, "Write the sequence data to FILE");
  cmd->add_option("--host-tool", o.host_tool, "The host's current tool for the effect (1: the arrow tool)")
      ->capture_default_str();
  cmd->add_option("--registry", o.registry, "Folder of the settings registry (default: the user's)");
  const CLI::Validator decimal(DecimalOnly, "");
  CLI::Option* time_opt = cmd->add_option("--time", o.time, "Time in seconds")->check(decimal);
  CLI::Option* frame_opt = cmd->add_option("--frame", o.frame, "Frame number");
  time_opt->excludes(frame_opt);
  cmd->add_option("--fps", o.fps, "Frame rate: N, N/D, or 23.976, 29.97, 59.94 (N x 1000/1001)")->capture_default_str();
  cmd->add_option("--frames", o.frames, "Frame range FIRST-LAST for an output pattern or rgba:-");
  cmd->add_option("--time-scale", o.time_scale, "Ticks per second")->check(decimal);
  cmd->add_option("--quality", o.quality, "high or low")->capture_default_str();
  cmd->add_option("--threads", o.threads, "Worker threads (0: all cores)")->capture_default_str()->check(decimal);
  cmd->add_option("--pad-rows", o.pad_rows, "Bytes of padding after each row of every world the host makes")
      ->capture_default_str()
      ->check(decimal);
  cmd->add_option("--downsample", o.downsample, "Render at reduced resolution N/D (1/2: half size)")
      ->capture_default_str();
  cmd->add_option("--pixel-aspect", o.pixel_aspect, "Pixel aspect ratio N/D")->capture_default_str();
  cmd->add_option("--layer", o.layers,
                  "NAME=SOURCE for a layer parameter: self, none, or a source as for --input (repeatable)")
      ->allow_extra_args(false);
  cmd->add_option("--exr-values", o.exr_values,
                  "EXR inputs, layers and outputs: linear (light, sRGB-encoded for effects) or raw (value x 255)")
      ->capture_default_str();
  cmd->add_option("--out-depth", o.out_depth,
                  "Output samples: 8 or 16 (png), 8, 16, half or float (tif), 8 (jpg), half or float (exr)");
  cmd->add_option("--compression", o.compression,
                  "jpg QUALITY[,4:2:0|4:2:2|4:4:4], png 0..9, exr none|rle|zips|zip|piz|pxr24|b44|b44a|dwaa|dwab"
                  "[:LEVEL], tif none|lzw|zip|packbits");
  cmd->add_option("--checksums", o.checksums,
                  "After writing each frame of an output pattern, record its size and SHA-256 in DIR/FRAME");
}

}  // namespace ombrix::cli
