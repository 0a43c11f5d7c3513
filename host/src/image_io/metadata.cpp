// Metadata that travels from an input file to the files made from it, the
// EXIF/TIFF orientation applied on read, and what a file holds.
#include "internal.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace ombrix::image_io {
namespace {

using OIIO::ImageInput;
using OIIO::ImageSpec;
using OIIO::ParamValue;
using OIIO::TypeDesc;

// What travels: the ICC profile, EXIF and GPS data (OpenImageIO names
// EXIF's exposure time and f-number without the "Exif:" prefix), the
// descriptive tags and the resolution. Format-private attributes (oiio:,
// tiff:, png:, jpeg:, openexr:, compression, planar configuration) describe
// the file, not the picture, and the EXIF pixel dimensions would be wrong
// at another size.
bool ExifData(std::string_view name) {
  return name.starts_with("Exif:") || name.starts_with("GPS:") || name == "ExposureTime" || name == "FNumber";
}

bool Travels(std::string_view name) {
  if (name == "Exif:PixelXDimension" || name == "Exif:PixelYDimension") return false;
  if (ExifData(name)) return true;
  static constexpr std::string_view kNames[] = {
      "ICCProfile",       "Make",        "Model",       "DateTime",      "Artist", "Copyright",
      "ImageDescription", "XResolution", "YResolution", "ResolutionUnit"};
  return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// An ICC profile whose header and tag table are sound and which describes
// RGB data: output files hold RGB whatever the input was, and libpng
// refuses to write a profile that fails these checks.
bool UsableRgbProfile(const std::vector<uint8_t>& p) {
  if (p.size() < 132 || Be32(&p[0]) != p.size()) return false;
  if (std::memcmp(&p[36], "acsp", 4) != 0 || std::memcmp(&p[16], "RGB ", 4) != 0) return false;
  if (std::memcmp(&p[20], "XYZ ", 4) != 0 && std::memcmp(&p[20], "Lab ", 4) != 0) return false;
  if (Be32(&p[64]) >= 0xFFFF) return false;  // rendering intent
  const uint64_t tags = Be32(&p[128]);
  if (132 + 12 * tags > p.size()) return false;
  for (uint64_t t = 0; t < tags; ++t) {
    const uint8_t* entry = &p[132 + 12 * t];
    if (uint64_t(Be32(entry + 4)) + Be32(entry + 8) > p.size()) return false;
  }
  return true;
}

std::string UnitName(std::string unit) {
  std::transform(unit.begin(), unit.end(), unit.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  if (unit == "in" || unit == "inch") return "in";
  if (unit == "cm" || unit == "centimeter") return "cm";
  return "none";
}

MetadataItem FloatItem(const std::string& name, float v) {
  MetadataItem item{name, "float", std::vector<uint8_t>(sizeof v)};
  std::memcpy(item.bytes.data(), &v, sizeof v);
  return item;
}

}  // namespace

int OrientationOf(const ImageSpec& spec) {
  const int code = spec.get_int_attribute("Orientation", 1);
  return code >= 1 && code <= 8 ? code : 1;
}

void Orientation::Place(int64_t x, int64_t y, int64_t& ux, int64_t& uy) const {
  const int64_t rx = width - 1 - x, ry = height - 1 - y;
  switch (code) {
    case 2:
      ux = rx, uy = y;
      break;
    case 3:
      ux = rx, uy = ry;
      break;
    case 4:
      ux = x, uy = ry;
      break;
    case 5:
      ux = y, uy = x;
      break;
    case 6:
      ux = ry, uy = x;
      break;
    case 7:
      ux = ry, uy = rx;
      break;
    case 8:
      ux = y, uy = rx;
      break;
    default:
      ux = x, uy = y;
      break;
  }
}

ImageMetadata MetadataOf(const ImageSpec& spec, const Orientation& orientation) {
  ImageMetadata m;
  m.width = A_long(orientation.upright_width());
  m.height = A_long(orientation.upright_height());
  for (const ParamValue& p : spec.extra_attribs) {
    std::string name = p.name().string();
    if (!Travels(name) || p.nvalues() != 1) continue;
    const TypeDesc type = p.type();
    if (name == "XResolution" || name == "YResolution") {
      // Read for the upright picture: a quarter turn swaps the axes.
      if (orientation.swaps()) name = name == "XResolution" ? "YResolution" : "XResolution";
      m.items.push_back(FloatItem(name, spec.get_float_attribute(p.name(), 0.0f)));
    } else if (name == "ResolutionUnit") {
      const std::string unit = UnitName(spec.get_string_attribute(name));
      m.items.push_back({name, "string", std::vector<uint8_t>(unit.begin(), unit.end())});
    } else if (type == TypeDesc::STRING) {
      const std::string text = static_cast<const OIIO::ustring*>(p.data())->string();
      m.items.push_back({name, "string", std::vector<uint8_t>(text.begin(), text.end())});
    } else if (type.basetype != TypeDesc::STRING && type.basetype != TypeDesc::PTR &&
               type.basetype != TypeDesc::UNKNOWN && TypeDesc(type.c_str()) == type) {
      // Kept as bytes under a type name that reads back as the same type.
      const auto* bytes = static_cast<const uint8_t*>(p.data());
      m.items.push_back({name, type.c_str(), std::vector<uint8_t>(bytes, bytes + type.size())});
    }
  }
  std::sort(m.items.begin(), m.items.end(),
            [](const MetadataItem& a, const MetadataItem& b) { return a.name < b.name; });
  return m;
}

ImageInfo InfoOf(ImageInput& in, const Orientation& orientation) {
  const ImageSpec spec = in.spec();
  ImageInfo info;
  info.width = A_long(orientation.upright_width());
  info.height = A_long(orientation.upright_height());
  info.format = in.format_name();
  info.sample_type = TypeDesc(TypeDesc::BASETYPE(spec.format.basetype)).c_str();
  info.channels = spec.nchannels;
  info.orientation = orientation.code;
  info.metadata = MetadataOf(spec, orientation);
  // EXR says how many parts it has; TIFF pages are counted by visiting
  // them. Moving past the last one leaves a message behind, not a fault.
  info.subimages = std::max(1, spec.get_int_attribute("oiio:subimages", 0));
  if (!spec.find_attribute("oiio:subimages")) {
    while (in.seek_subimage(info.subimages, 0)) ++info.subimages;
    in.geterror();
  }
  return info;
}

void AddMetadata(ImageSpec& spec, const ImageMetadata& metadata, const std::string& format) {
  const bool exr = format == "openexr";
  // OpenImageIO's TIFF writer reads its main directory back after writing
  // the EXIF one, which it cannot do through an I/O proxy: the file would
  // lose its image size. So TIFF files get no EXIF (nor GPS) block.
  const bool tiff = format == "tiff";
  if (tiff) spec.attribute("tiff:write_exif", 0);
  float resolution[2] = {0.0f, 0.0f};
  for (const MetadataItem& item : metadata.items) {
    if (!Travels(item.name)) continue;
    if (item.name == "ICCProfile" && (exr || !UsableRgbProfile(item.bytes))) continue;
    if (tiff && ExifData(item.name)) continue;
    if (item.type == "string") {
      spec.attribute(item.name, std::string(item.bytes.begin(), item.bytes.end()));
      continue;
    }
    const TypeDesc type(item.type.c_str());
    if (type.basetype == TypeDesc::UNKNOWN || type.basetype == TypeDesc::STRING || type.basetype == TypeDesc::PTR ||
        type.size() != item.bytes.size()) {
      continue;
    }
    const int axis = item.name == "XResolution" ? 0 : item.name == "YResolution" ? 1 : -1;
    if (axis < 0) {
      spec.attribute(item.name, type, item.bytes.data());
      continue;
    }
    if (type != TypeDesc::FLOAT) continue;
    // Scaled with the picture, so that its printed size stays the same.
    float v;
    std::memcpy(&v, item.bytes.data(), sizeof v);
    const A_long from = axis == 0 ? metadata.width : metadata.height;
    const int to = axis == 0 ? spec.width : spec.height;
    if (from > 0) v = float(double(v) * double(to) / double(from));
    resolution[axis] = v;
    spec.attribute(item.name, v);
  }
  // OpenImageIO's TIFF and EXR writers take the vertical resolution as the
  // horizontal one times PixelAspectRatio (EXR holds only those two); its
  // JPEG writer reads that ratio the other way round, so it gets none.
  if ((tiff || exr) && resolution[0] > 0.0f && resolution[1] > 0.0f) {
    spec.attribute("PixelAspectRatio", resolution[1] / resolution[0]);
  }
}

}  // namespace ombrix::image_io
