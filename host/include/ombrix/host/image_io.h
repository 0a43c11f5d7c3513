// Image files and image sources for the host and the command line.
//
// Worlds hold 8-bit straight (unassociated) ARGB with sRGB-encoded colour.
// PNG and TIFF keep that alpha byte for byte, colour under alpha 0
// included. EXR holds linear light with associated alpha: it is
// unpremultiplied and sRGB-encoded on read, decoded and premultiplied on
// write (or, with ExrValues::kRaw, its values are taken as they are).
// Every failure throws HostError with a one-line message.
//
// Reading and writing files is done by the image library, which is loaded
// the first time one of ReadImage, ReadImageSize, ReadImageInfo or
// WriteImage runs (or a function that calls them: ParseSource for a file or
// sequence, LoadSource, SourceInfo, CheckSequenceFrames); everything else
// here works without it.
#pragma once

#include <ombrix/host/host.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix {

// Largest side and largest pixel count accepted for any image or source.
inline constexpr A_long kMaxImageSide = 65535;
inline constexpr int64_t kMaxImagePixels = int64_t(1) << 28;

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

// How the values of EXR files map to the bytes of a world.
enum class ExrValues {
  kLinear,  // linear light: sRGB-encoded on read, sRGB-decoded on write
  kRaw,     // the value x 255 as it is, no transfer curve
};

struct ReadOptions {
  ExrValues exr_values = ExrValues::kLinear;
};

// One metadata attribute under the image library's name ("ICCProfile",
// "Exif:FocalLength", "GPS:Latitude", "Make", "XResolution", ...), its type as
// the library spells it ("string", "float", "int", "uint8[3144]",
// "float[3]", ...) and its value's bytes (a string's characters, without a
// terminator).
struct MetadataItem {
  std::string name;
  std::string type;
  std::vector<uint8_t> bytes;
};

// What travels from an input file to the files made from it: the ICC
// profile, EXIF and GPS data ("Exif:*", "GPS:*", ExposureTime, FNumber),
// Make, Model, DateTime, Artist, Copyright, ImageDescription and the
// resolution (XResolution and YResolution as floats, ResolutionUnit "in",
// "cm" or "none"). `width` x `height` is the upright size of the picture it
// describes; WriteImage scales the resolution by the output's size over it,
// so the printed size stays the same.
struct ImageMetadata {
  A_long width = 0, height = 0;
  std::vector<MetadataItem> items;
};

// The item named `name`, or null.
const MetadataItem* FindMetadata(const ImageMetadata& metadata, std::string_view name);

// What an image file holds, from its header.
struct ImageInfo {
  A_long width = 0, height = 0;  // upright (after the orientation)
  std::string format;            // "png", "openexr", "tiff", "jpeg", ...
  std::string sample_type;       // as decoded: "uint8", "uint16", "half", "float", ...
  int channels = 0;
  int subimages = 1;    // TIFF pages, EXR parts; only the first is read
  int orientation = 1;  // the EXIF/TIFF orientation stored (1..8)
  ImageMetadata metadata;
};

// Loads the image library now instead of on first use; throws HostError
// naming its file when it cannot be loaded.
void LoadImageLibrary();

// Reads the first subimage of an image file into a new world with
// `pad_bytes` of padding per row, upright: an EXIF/TIFF orientation
// (1..8; 5..8 swap width and height) is applied. Grey inputs expand to
// grey RGB (grey + alpha: the second channel is alpha), inputs without
// alpha get alpha 255, integer samples become bytes by round(v x 255 /
// max), associated alpha (EXR, a TIFF that declares it) is divided out,
// and EXR values are sRGB-encoded unless `options` says raw. `info`, when
// given, receives what the file holds.
// Only regular files are read. Before anything is decoded, the declared
// size is checked against the limits above and against the file where the
// format bounds it (PNG data inflates at most about 1032:1, TIFF strips and
// uncompressed pixels must fit the file, a JPEG must reach its end marker);
// a damaged file OpenImageIO reads with a warning is refused too.
World ReadImage(const std::filesystem::path& path, A_long pad_bytes = 0, const ReadOptions& options = {},
                ImageInfo* info = nullptr);

// Width and height of an image file, upright, from its header, after the same checks.
struct ImageSize {
  A_long width = 0, height = 0;
};
ImageSize ReadImageSize(const std::filesystem::path& path);

// What an image file holds, from its header, after the same checks.
ImageInfo ReadImageInfo(const std::filesystem::path& path);

// Sample types of written files. kDefault is 8 bits, for EXR half.
enum class SampleDepth { kDefault, k8, k16, kHalf, kFloat };

struct WriteOptions {
  SampleDepth depth = SampleDepth::kDefault;
  // The format's compression; empty for its default. JPEG: "QUALITY" or
  // "QUALITY,SUBSAMPLING" (1..100, default 95; 4:2:0, 4:2:2 or 4:4:4).
  // PNG: the zlib level "0".."9". EXR: none, rle, zips, zip, piz, pxr24,
  // b44, b44a, dwaa or dwab, dwaa/dwab with ":LEVEL" (1..10000) and
  // zip/zips with ":LEVEL" (1..9) allowed. TIFF: none, lzw, zip or packbits.
  std::string compression;
  ExrValues exr_values = ExrValues::kLinear;
  // Written as far as the format holds it: JPEG all of it, TIFF no EXIF or
  // GPS data, PNG only text-valued items, the ICC profile and the
  // resolution, EXR no ICC profile. An ICC profile that is not a sound
  // profile of RGB data is left out (outputs hold RGB).
  ImageMetadata metadata;
};

// True for the extensions WriteImage understands: png, exr, tif, tiff, jpg, jpeg.
bool IsWritableImagePath(const std::filesystem::path& path);

// Why the format of `path` cannot hold `depth` (naming the depths it
// holds), or "" when it can: png 8 or 16, tif 8, 16, half or float, jpg 8,
// exr half or float.
std::string DepthProblem(const std::filesystem::path& path, SampleDepth depth);
// Why the format of `path` does not take `compression` (naming what it
// takes), or "" when it does.
std::string CompressionProblem(const std::filesystem::path& path, std::string_view compression);

// Writes `world` to `path`, the format chosen by the extension, through a
// platform::FileReplacement: a short-named temporary beside the destination,
// every write checked, flushed and renamed into place (a link at `path` is
// replaced, an existing file's permissions kept, a read-only one refused).
// On any error (a full disk included) no temporary is left and an existing
// file at `path` is untouched. JPEG drops alpha. 16-bit samples hold v x
// 257, float and half v / 255, except EXR (see ExrValues).
void WriteImage(const std::filesystem::path& path, const PF_EffectWorld& world, const WriteOptions& options = {});

// ---------------------------------------------------------------------------
// Frame-number patterns, written as image tools and ffmpeg write them: a
// run of '#' is the number zero-padded to the run's length, "%d" the
// number as it is, "%Nd" and "%0Nd" the number zero-padded to N digits.
// "%%" stands for '%', "\#" for '#' and "\\" for a backslash; every other
// character, a '%' or '\' that starts none of these included, for itself.
// ---------------------------------------------------------------------------
inline constexpr int kMaxFrameDigits = 64;  // the widest padding a placeholder may ask for

struct FramePattern {
  std::string prefix;  // path text before the frame number, escapes resolved
  std::string suffix;  // path text after it
  int digits = 0;      // zero padding width; 0 means no padding
};

// The pattern in `path`, or nothing when the path has no frame placeholder.
// Throws HostError for a second placeholder, one in a folder's name, or one
// wider than kMaxFrameDigits.
std::optional<FramePattern> ParseFramePattern(std::string_view path);
// The file named by a path without a placeholder: its escapes resolved.
std::string LiteralPath(std::string_view path);
// A file name written so that the two functions above read it as itself.
std::string EscapePath(std::string_view path);
std::string FramePath(const FramePattern& pattern, int64_t frame);
// The frame numbers of existing files matching the pattern, ascending;
// with `regular_only` false, of any entry (folders and links included).
std::vector<int64_t> DiscoverFrames(const FramePattern& pattern, bool regular_only = true);

// ---------------------------------------------------------------------------
// Sources: what `--input` names.
// ---------------------------------------------------------------------------
// kRawStream: raw 8-bit straight RGBA frames, one after another, read in
// order by the caller (LoadSource cannot seek in them).
enum class SourceKind { kFile, kSequence, kSolid, kTestCard, kRawStream };

struct ImageSource {
  SourceKind kind = SourceKind::kTestCard;
  std::string text;                  // as the user wrote it
  std::filesystem::path path;        // kFile; kRawStream: the file or FIFO, "-" for standard input
  FramePattern pattern;              // kSequence
  std::vector<int64_t> frames;       // kSequence: existing frame numbers, ascending
  A_long width = 640, height = 360;  // kSolid, kTestCard, kRawStream; files: from the header
  PF_Pixel color{255, 0, 0, 0};      // kSolid (alpha, red, green, blue)
  ReadOptions read;                  // kFile, kSequence: how the files are read
};

// Parses a source: "testcard[:WxH]", "solid:WxH[:#RRGGBB[AA]]",
// "rgba:WxH:PATH" (a raw stream in a file or FIFO, or "-"; only checked to
// exist here), a frame pattern (its frames discovered from the folder) or a
// plain file (its size read from the header). Throws HostError naming what
// is wrong.
ImageSource ParseSource(std::string_view text);

// Checks every frame of a sequence source as far as reading its header
// goes (see ReadImage: a regular file, not cut short, within the size
// limits) and that each has the first frame's size, so that a damaged
// frame is found before any output is written. Throws HostError naming the
// frame.
void CheckSequenceFrames(const ImageSource& source);

// The sequence frame shown at `ticks`: frame f covers [f x step, (f+1) x step);
// times before the first or after the last frame hold the end frame, and a
// gap in the numbering holds the frame before it.
int64_t SequenceFrameAt(const ImageSource& source, int64_t ticks, int64_t step);

// The source's image at `ticks` (time only matters for sequences), read
// with the source's ReadOptions. `info`, when given, receives what the
// file (the sequence frame) holds; for solids and the test card only their
// size, format "" and no metadata.
World LoadSource(const ImageSource& source, int64_t ticks, int64_t step, A_long pad_bytes = 0,
                 ImageInfo* info = nullptr);

// What the source's file holds (a sequence: its first frame), from the
// header; nothing for solids and the test card.
std::optional<ImageInfo> SourceInfo(const ImageSource& source);

World MakeSolid(A_long width, A_long height, PF_Pixel color, A_long pad_bytes = 0);

// The built-in test card: a transparent margin around an opaque rounded card
// holding colour bars, a grey ramp, a smooth photo-like gradient and fine
// detail (zone plate, one-pixel checker and lines), with a soft-edged
// semi-transparent disc beside the card. Deterministic for every size.
World MakeTestCard(A_long width, A_long height, A_long pad_bytes = 0);

// "#RRGGBB", "#RRGGBBAA" or "R,G,B[,A]" (0..255; alpha 255 when omitted).
// Throws HostError naming the text.
PF_Pixel ParseColor(std::string_view text);

// "WIDTHxHEIGHT" within the image limits. Throws HostError.
ImageSize ParseSize(std::string_view text);

}  // namespace ombrix
