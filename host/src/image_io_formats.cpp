// The writable formats' names, depths and compressions, and the metadata
// lookup: everything about image files a command can check without the
// image library, so that options are refused before it is loaded.
#include "image_io_formats.h"

#include <algorithm>

namespace ombrix {
namespace image_io {

namespace fs = std::filesystem;

std::string OneLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text.empty() ? std::string("unknown error") : text;
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

std::string LowerExtension(const fs::path& path) {
  std::string ext = path.extension().string();
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return ext;
}

std::string FormatForExtension(const std::string& ext) {
  if (ext == "png") return "png";
  if (ext == "exr") return "openexr";
  if (ext == "tif" || ext == "tiff") return "tiff";
  if (ext == "jpg" || ext == "jpeg") return "jpeg";
  return "";
}

std::vector<SampleDepth> FormatDepths(const std::string& format) {
  if (format == "png") return {SampleDepth::k8, SampleDepth::k16};
  if (format == "tiff") return {SampleDepth::k8, SampleDepth::k16, SampleDepth::kHalf, SampleDepth::kFloat};
  if (format == "openexr") return {SampleDepth::kHalf, SampleDepth::kFloat};
  return {SampleDepth::k8};
}

namespace {

const char* DepthName(SampleDepth depth) {
  switch (depth) {
    case SampleDepth::k16:
      return "16";
    case SampleDepth::kHalf:
      return "half";
    case SampleDepth::kFloat:
      return "float";
    default:
      return "8";
  }
}

// The short name of a writable path's format for messages: png, tif, jpg, exr.
std::string ShortName(const std::string& format) {
  if (format == "tiff") return "tif";
  if (format == "jpeg") return "jpg";
  if (format == "openexr") return "exr";
  return format;
}

// A whole number of digits only, within [lo, hi].
bool Number(std::string_view text, int lo, int hi, int& value) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string_view::npos) return false;
  value = std::stoi(std::string(text));
  return value >= lo && value <= hi;
}

void Add(std::vector<EncoderAttribute>* attributes, std::string name, int number) {
  if (attributes) attributes->push_back({std::move(name), number, {}, false});
}

void Add(std::vector<EncoderAttribute>* attributes, std::string name, std::string_view text) {
  if (attributes) attributes->push_back({std::move(name), 0, std::string(text), true});
}

}  // namespace

std::string ParseCompression(const std::string& format, std::string_view text,
                             std::vector<EncoderAttribute>* attributes) {
  if (format == "jpeg") {
    int quality = 95;
    std::string subsampling;
    if (!text.empty()) {
      const size_t comma = text.find(',');
      if (comma != std::string_view::npos) subsampling = std::string(text.substr(comma + 1));
      if (!Number(text.substr(0, comma), 1, 100, quality) ||
          (comma != std::string_view::npos && subsampling != "4:2:0" && subsampling != "4:2:2" &&
           subsampling != "4:4:4")) {
        return "jpg takes QUALITY (1..100) or QUALITY,SUBSAMPLING (4:2:0, 4:2:2 or 4:4:4)";
      }
    }
    Add(attributes, "CompressionQuality", quality);
    if (!subsampling.empty()) Add(attributes, "jpeg:subsampling", subsampling);
    return "";
  }
  if (text.empty()) return "";
  if (format == "png") {
    int level = 0;
    if (!Number(text, 0, 9, level)) return "png takes a zlib level 0..9";
    Add(attributes, "png:compressionLevel", level);
    return "";
  }
  if (format == "openexr") {
    static constexpr std::string_view kCodecs[] = {"none",  "rle", "zips", "zip",  "piz",
                                                   "pxr24", "b44", "b44a", "dwaa", "dwab"};
    const size_t colon = text.find(':');
    const std::string_view codec = text.substr(0, colon);
    bool ok = std::find(std::begin(kCodecs), std::end(kCodecs), codec) != std::end(kCodecs);
    if (ok && colon != std::string_view::npos) {
      int level = 0;
      const std::string_view digits = text.substr(colon + 1);
      if (codec == "dwaa" || codec == "dwab")
        ok = Number(digits, 1, 10000, level);
      else if (codec == "zip" || codec == "zips")
        ok = Number(digits, 1, 9, level);
      else
        ok = false;
    }
    if (!ok) {
      return "exr takes none, rle, zips, zip, piz, pxr24, b44, b44a, dwaa or dwab "
             "(dwaa:LEVEL and dwab:LEVEL with 1..10000, zip:LEVEL and zips:LEVEL with 1..9)";
    }
    Add(attributes, "compression", text);
    return "";
  }
  if (format == "tiff") {
    if (text != "none" && text != "lzw" && text != "zip" && text != "packbits") {
      return "tif takes none, lzw, zip or packbits";
    }
    Add(attributes, "compression", text);
    return "";
  }
  return "unknown image format";
}

}  // namespace image_io

using namespace image_io;

bool IsWritableImagePath(const fs::path& path) { return !FormatForExtension(LowerExtension(path)).empty(); }

std::string DepthProblem(const fs::path& path, SampleDepth depth) {
  const std::string format = FormatForExtension(LowerExtension(path));
  if (format.empty()) return "unknown image format";
  const std::vector<SampleDepth> depths = FormatDepths(format);
  if (depth == SampleDepth::kDefault || std::find(depths.begin(), depths.end(), depth) != depths.end()) return "";
  std::string names;
  for (size_t i = 0; i < depths.size(); ++i) {
    names += i == 0 ? "" : i + 1 == depths.size() ? " or " : ", ";
    names += DepthName(depths[i]);
  }
  return ShortName(format) + " holds " + names;
}

std::string CompressionProblem(const fs::path& path, std::string_view compression) {
  return ParseCompression(FormatForExtension(LowerExtension(path)), compression);
}

const MetadataItem* FindMetadata(const ImageMetadata& metadata, std::string_view name) {
  for (const MetadataItem& item : metadata.items) {
    if (item.name == name) return &item;
  }
  return nullptr;
}

}  // namespace ombrix
