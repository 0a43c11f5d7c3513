// What the host core and the image library both know about the writable
// formats, without OpenImageIO: their names, the depths they hold and the
// compressions they take, and how messages name files.
#pragma once

#include <ombrix/host/image_io.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix::image_io {

// OpenImageIO messages may span lines; ours are one line.
std::string OneLine(std::string text);
std::string Quoted(const std::filesystem::path& path);
// The extension in lower case, without the dot.
std::string LowerExtension(const std::filesystem::path& path);
// OpenImageIO's format name for a writable extension, or "".
std::string FormatForExtension(const std::string& ext);

// The depths a format ("png", "openexr", "tiff", "jpeg") holds, its default first.
std::vector<SampleDepth> FormatDepths(const std::string& format);

// One attribute the encoder of a format is given: a whole number or a text.
struct EncoderAttribute {
  std::string name;
  int number = 0;
  std::string text;
  bool is_text = false;
};

// Checks a compression text against what `format` takes. Returns why it is
// refused, or "" after adding the encoder's attributes for it to
// `attributes` when given.
std::string ParseCompression(const std::string& format, std::string_view text,
                             std::vector<EncoderAttribute>* attributes = nullptr);

}  // namespace ombrix::image_io
