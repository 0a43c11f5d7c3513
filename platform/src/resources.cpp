// Module resources (string table and icons) and the info palette,
// headless: loads can be made to fail by id, the palette records what it
// was shown.
#include <ombrix/platform/headless.h>
#include <ombrix/platform/info_palette.h>
#include <ombrix/platform/resources.h>

#include "internal.h"

#include <mutex>
#include <set>
#include <utility>

namespace ombrix::platform {

namespace {

struct ResourceState {
  std::mutex mu;
  std::set<std::pair<ResourceKind, int>> failing;
  std::vector<InfoPaletteRecord> palette;
};

ResourceState& RS() {
  static ResourceState* state = new ResourceState;
  return *state;
}

bool Failing(ResourceKind kind, int id) {
  ResourceState& s = RS();
  std::lock_guard<std::mutex> lock(s.mu);
  return s.failing.count({kind, id}) != 0;
}

void AddPalette(InfoPaletteRecord record) {
  ResourceState& s = RS();
  std::lock_guard<std::mutex> lock(s.mu);
  s.palette.push_back(std::move(record));
}

// A palette line holds 255 bytes.
std::string PaletteLine(const char* text) {
  std::string line = text ? text : "";
  if (line.size() > 255) line.resize(255);
  return line;
}

}  // namespace

int LoadStringResource(const ModuleResources* module, int id, char* buffer, int size) noexcept try {
  if (buffer && size > 0) buffer[0] = '\0';
  if (!module || !module->strings || !buffer || size <= 0 || Failing(ResourceKind::kString, id)) return 0;
  for (int i = 0; i < module->string_count; ++i) {
    const StringResource& r = module->strings[i];
    if (r.id == id && r.text) return int(detail::CopyOut(r.text, buffer, uint32_t(size)));
  }
  return 0;
} catch (...) {
  return 0;
}

const IconResource* LoadIconResource(const ModuleResources* module, int id) noexcept try {
  if (!module || !module->icons || Failing(ResourceKind::kIcon, id)) return nullptr;
  for (int i = 0; i < module->icon_count; ++i) {
    const IconResource& r = module->icons[i];
    if (r.id == id && r.pixels && r.width > 0 && r.height > 0) return &r;
  }
  return nullptr;
} catch (...) {
  return nullptr;
}

bool InfoPaletteText(const char* line1, const char* line2) noexcept try {
  InfoPaletteRecord record;
  record.line1 = PaletteLine(line1);
  record.line2 = PaletteLine(line2);
  AddPalette(std::move(record));
  return true;
} catch (...) {
  return false;
}

bool InfoPaletteColor(uint8_t red, uint8_t green, uint8_t blue) noexcept try {
  InfoPaletteRecord record;
  record.is_color = true;
  record.red = red;
  record.green = green;
  record.blue = blue;
  AddPalette(std::move(record));
  return true;
} catch (...) {
  return false;
}

void FailResourceLoad(ResourceKind kind, int id) {
  ResourceState& s = RS();
  std::lock_guard<std::mutex> lock(s.mu);
  s.failing.insert({kind, id});
}

void ClearResourceFailures() {
  ResourceState& s = RS();
  std::lock_guard<std::mutex> lock(s.mu);
  s.failing.clear();
}

std::vector<InfoPaletteRecord> InfoPaletteRecords() {
  ResourceState& s = RS();
  std::lock_guard<std::mutex> lock(s.mu);
  return s.palette;
}

void ClearInfoPaletteRecords() {
  ResourceState& s = RS();
  std::lock_guard<std::mutex> lock(s.mu);
  s.palette.clear();
}

}  // namespace ombrix::platform
