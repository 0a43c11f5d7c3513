// The frei0r entry points of an adapter: one effect, offered as a filter,
// a source or a two-input mixer (identity.cpp of each adapter says which),
// rendered by a host core of its own through the same commands as ombrix.
//
// Everything a loaded adapter shares (its host, the loaded plug-in and the
// table of parameters) is made once, on first use, and every call that
// reaches the plug-in holds one lock: a plug-in's module-wide tables are
// shared by all its instances, so its renders must not overlap.
#include "adapter.h"

#include "params.h"

#include <ombrix/host/effect.h>
#include <ombrix/host/host.h>
#include <ombrix/host/instance.h>
#include <ombrix/host/plugin_file.h>

// frei0r.h declares its functions without C linkage for C++ readers.
extern "C" {
#include <frei0r.h>
}

#include <dlfcn.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <set>

namespace ombrix::frei0r {
namespace {

namespace fs = std::filesystem;
using Role = AdaptedParam::Role;

// What one loaded adapter holds.
struct Module {
  std::mutex lock;
  bool tried = false;
  std::unique_ptr<Host> host;
  std::unique_ptr<Effect> effect;
  const EffectEntry* entry = nullptr;
  ParamTable table;
  std::string plugin_name;  // frei0r's name: "OB Mistform", "OB Mistform (source)"
  std::string explanation;
  std::vector<std::string> messages;  // return messages of the command running
  int users = 0;                      // f0r_init calls not yet matched by f0r_deinit
};

// Never destroyed: a video host may unload adapters in any order at exit.
Module& TheModule() {
  static Module* module = new Module;
  return *module;
}

std::string Prefix() { return std::string("obx_") + kAdapterEffect + ": "; }

// The plug-in file: $OMBRIX_PLUGIN_PATH, then beside the adapter, then the
// installed plug-in folder (lib/ombrix/plugins, or the multiarch library
// folder's, seen from lib/frei0r-1), then the build tree's (plugins beside
// frei0r-1).
fs::path FindPluginFile() {
  const std::string file = std::string(kAdapterEffect) + ".aex";
  std::vector<fs::path> folders;
  if (const char* env = std::getenv("OMBRIX_PLUGIN_PATH"); env && *env) folders.emplace_back(env);
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&FindPluginFile), &info) && info.dli_fname) {
    const fs::path here = fs::absolute(info.dli_fname).parent_path();
    folders.push_back(here);
    folders.push_back(here / OMBRIX_FREI0R_INSTALLED_PLUGINS);
    folders.push_back(here / ".." / "plugins");
  }
  std::error_code ec;
  for (const fs::path& folder : folders) {
    if (fs::is_regular_file(folder / file, ec)) return (folder / file).lexically_normal();
  }
  throw HostError("cannot find the plug-in file " + file + " beside the adapter or in the plug-in folders");
}

// Loads the plug-in once; a failure is reported once and leaves the module
// without an effect (no parameters, and instances cannot be made).
Module& Loaded() {
  Module& m = TheModule();
  if (m.tried) return m;
  m.tried = true;
  m.entry = FindEffectEntry(kAdapterEffect);
  m.plugin_name = std::string("obx ") + kAdapterEffect;
  try {
    const PluginFile file = ReadPluginFile(FindPluginFile());
    m.host = std::make_unique<Host>();
    m.host->on_message = [&m](std::string_view text) { m.messages.emplace_back(text); };
    m.effect = std::make_unique<Effect>(*m.host, file);
    m.table = MakeParamTable(*m.effect, m.entry);
    static const char* const kKinds[] = {"", " (source)", " (mixer)"};
    m.plugin_name = file.pipl.display_name + kKinds[int(kAdapterKind)];
    m.explanation = "Ombrix One: " + file.pipl.display_name + " (" + file.pipl.match_name + ")";
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s%s\n", Prefix().c_str(), e.what());
    m.effect.reset();
    m.host.reset();
  }
  return m;
}

// One frei0r instance: the values of the adapter's parameters, and the host
// instance made from them (again when the settings or the drawing change).
struct Adapted {
  int width, height;
  std::vector<Value> values;
  std::unique_ptr<Instance> instance;
  bool stale = true;  // the host instance must be made again
  World input, output;
  std::shared_ptr<World> second;  // a mixer's second input
  int second_index = 0;           // the layer parameter it feeds
  std::set<std::string> reported;
  double last_seconds = 0;  // the time of the previous frame

  // Each distinct problem goes to stderr once per instance.
  void Report(const std::string& what) {
    if (reported.insert(what).second) std::fprintf(stderr, "%s%s\n", Prefix().c_str(), what.c_str());
  }
};

size_t Find(const ParamTable& t, Role role) {
  for (size_t i = 0; i < t.params.size(); ++i) {
    if (t.params[i].role == role) return i;
  }
  return t.params.size();
}

// The stored sequence data the instance starts from: the drawing file's
// bytes, or the settings record when a field differs from its default.
std::optional<std::vector<uint8_t>> StoredData(Module& m, Adapted& a) {
  if (!m.entry) return std::nullopt;
  if (m.entry->drawing) {
    const std::string& path = a.values[Find(m.table, Role::kDrawing)].s;
    if (path.empty()) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    if (!in.good() && !in.eof()) throw HostError("cannot read the drawing " + path);
    if (!in) throw HostError("cannot open the drawing " + path);
    return bytes;
  }
  std::vector<Value> fields;
  for (size_t i = 0; i < m.table.params.size(); ++i) {
    if (m.table.params[i].role == Role::kSetting) fields.push_back(a.values[i]);
  }
  if (fields.empty()) return std::nullopt;
  std::string problem;
  auto bytes = SettingsBytes(*m.entry, fields, problem);
  if (!problem.empty()) a.Report(problem);
  return bytes;
}

FrameRate RateOf(Module& m, Adapted& a) {
  const std::string& text = a.values[Find(m.table, Role::kFrameRate)].s;
  if (auto rate = ParseRate(text)) return *rate;
  a.Report("parameter \"Frame Rate\": \"" + text + "\" is not a frame rate; 24 is used");
  return FrameRate{};
}

double Seconds(Module& m, Adapted& a, double time) {
  const std::string& unit = a.values[Find(m.table, Role::kTimeUnit)].s;
  if (unit == "ms" || unit == "milliseconds") return time / 1000.0;
  if (unit != "s" && unit != "seconds") a.Report("parameter \"Time Unit\": \"" + unit + "\" is neither s nor ms");
  return time;
}

// Makes the host instance when it is stale; false (reported) when it cannot be made.
bool Ready(Module& m, Adapted& a) {
  if (!a.stale && a.instance) return true;
  a.instance.reset();
  const TimeBase time = TimeBase::ForRate(RateOf(m, a));
  auto instance = std::make_unique<Instance>(*m.effect, time, a.width, a.height, StoredData(m, a));
  if (instance->setup_result().err != PF_Err_NONE) {
    a.Report("sequence setup failed with error " + std::to_string(instance->setup_result().err) + ": " +
             instance->setup_result().message);
    return false;
  }
  if (kAdapterKind == AdapterKind::kMixer && a.second_index > 0) {
    instance->BindLayer(a.second_index, LayerSource::Still(a.second));
  }
  a.instance = std::move(instance);
  a.stale = false;
  return true;
}

// The alignment ffmpeg gives the rows of the frames it hands to frei0r
// plug-ins, or 0 outside ffmpeg. frei0r promises rows of width x 4 bytes,
// but ffmpeg's frei0r filter and source pass frames from its buffer pools,
// whose rows are padded to the CPU's largest vector alignment; a width that
// is not a multiple of that would otherwise be read and written skewed. The
// process is ffmpeg's when libavfilter is loaded and neither MLT nor
// GStreamer is.
size_t FfmpegRowAlignment() {
  static const size_t alignment = [] {
    if (!dlsym(RTLD_DEFAULT, "avfilter_get_by_name") || dlsym(RTLD_DEFAULT, "mlt_factory_init") ||
        dlsym(RTLD_DEFAULT, "gst_init"))
      return size_t(0);
    auto* max_align = reinterpret_cast<size_t (*)()>(dlsym(RTLD_DEFAULT, "av_cpu_max_align"));
    return max_align ? max_align() : size_t(32);
  }();
  return alignment;
}

// The bytes from one row of the video host's frames to the next.
size_t RowBytes(Module& m, Adapted& a) {
  const std::string& text = a.values[Find(m.table, Role::kRowAlignment)].s;
  size_t alignment = 0;
  if (text == "auto") {
    alignment = FfmpegRowAlignment();
  } else {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end || v < 0 || v > 4096 || (v & (v - 1)) != 0)
      a.Report("parameter \"Row Alignment\": \"" + text +
               "\" is not auto or a power of two up to 4096; rows are width x 4 bytes");
    else
      alignment = size_t(v);
  }
  const size_t tight = size_t(a.width) * 4;
  return alignment > 1 ? (tight + alignment - 1) / alignment * alignment : tight;
}

// RGBA bytes to the host's ARGB pixels and back; `stride` bytes per row.
void FromRgba(const uint32_t* frame, size_t stride, World& world) {
  for (A_long y = 0; y < world.height(); ++y) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(frame) + stride * size_t(y);
    PF_Pixel* row = world.Row(y);
    for (A_long x = 0; x < world.width(); ++x, bytes += 4) row[x] = PF_Pixel{bytes[3], bytes[0], bytes[1], bytes[2]};
  }
}

void ToRgba(const World& world, size_t stride, uint32_t* frame) {
  for (A_long y = 0; y < world.height(); ++y) {
    uint8_t* bytes = reinterpret_cast<uint8_t*>(frame) + stride * size_t(y);
    const PF_Pixel* row = world.Row(y);
    for (A_long x = 0; x < world.width(); ++x, bytes += 4) {
      bytes[0] = row[x].red;
      bytes[1] = row[x].green;
      bytes[2] = row[x].blue;
      bytes[3] = row[x].alpha;
    }
  }
}

// The frame's time in seconds. A time that is no time at all (ffmpeg
// passes its "no timestamp" value for frames it had to copy) is taken as
// one frame after the previous one.
double FrameSeconds(Module& m, Adapted& a, double time) {
  double seconds = Seconds(m, a, time);
  if (!(std::fabs(seconds) < 1e9)) {
    a.Report("the video host passed no usable time; frames are timed one after the previous");
    const FrameRate rate = RateOf(m, a);
    seconds = a.last_seconds + double(rate.den) / double(rate.num);
  }
  a.last_seconds = seconds;
  return seconds;
}

void Render(Module& m, Adapted& a, double time, const uint32_t* in1, const uint32_t* in2, uint32_t* out) {
  const size_t stride = RowBytes(m, a);
  if (kAdapterKind == AdapterKind::kSource || !in1) {
    a.input = World(a.width, a.height);  // a cleared frame
    if (m.entry && m.entry->opaque_source) {
      for (A_long y = 0; y < a.height; ++y) {
        for (A_long x = 0; x < a.width; ++x) a.input.At(x, y).alpha = 255;
      }
    }
  } else
    FromRgba(in1, stride, a.input);
  if (a.second && in2) FromRgba(in2, stride, *a.second);
  try {
    if (!Ready(m, a)) throw HostError("");
    const double seconds = FrameSeconds(m, a, time);
    for (size_t i = 1; i < m.effect->params().size(); ++i) {
      if (!HostValueGiven(m.table, a.values, int(i))) continue;
      std::string problem;
      a.instance->SetValue(int(i),
                           HostValue(*m.effect, m.table, a.values, int(i), seconds, a.width, a.height, problem));
      if (!problem.empty()) a.Report(problem);
    }
    m.messages.clear();
    const CommandResult result =
        a.instance->RenderFrame(a.instance->time_base().SecondsToTicks(seconds), a.input.pf(), a.output);
    for (const std::string& text : m.messages) a.Report(text);
    if (result.err != PF_Err_NONE) {
      throw HostError("the render failed with error " + std::to_string(result.err) +
                      (result.message.empty() ? "" : ": " + result.message));
    }
    ToRgba(a.output, stride, out);
  } catch (const std::exception& e) {
    if (*e.what()) a.Report(std::string(e.what()) + " (the frame is passed through)");
    for (A_long y = 0; y < a.height; ++y) {
      uint8_t* row = reinterpret_cast<uint8_t*>(out) + stride * size_t(y);
      if (in1 && kAdapterKind != AdapterKind::kSource)
        std::memmove(row, reinterpret_cast<const uint8_t*>(in1) + stride * size_t(y), size_t(a.width) * 4);
      else
        std::memset(row, 0, size_t(a.width) * 4);
    }
  }
}

}  // namespace
}  // namespace ombrix::frei0r

using namespace ombrix;
using namespace ombrix::frei0r;

#define OBX_EXPORT extern "C" __attribute__((visibility("default")))

OBX_EXPORT int f0r_init() {
  Module& m = TheModule();
  std::lock_guard guard(m.lock);
  ++m.users;
  Loaded();
  return 1;
}

OBX_EXPORT void f0r_deinit() {
  Module& m = TheModule();
  std::lock_guard guard(m.lock);
  if (m.users == 0 || --m.users > 0) return;
  // The last user is gone: the plug-in gets GLOBAL_SETDOWN and is unloaded;
  // a later f0r_init loads it again.
  m.effect.reset();
  m.host.reset();
  m.table = ParamTable{};
  m.tried = false;
}

OBX_EXPORT void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  Module& m = TheModule();
  std::lock_guard guard(m.lock);
  Loaded();
  info->name = m.plugin_name.c_str();
  info->author = "Kestrane";
  info->plugin_type = int(kAdapterKind) == 0   ? F0R_PLUGIN_TYPE_FILTER
                      : int(kAdapterKind) == 1 ? F0R_PLUGIN_TYPE_SOURCE
                                               : F0R_PLUGIN_TYPE_MIXER2;
  info->color_model = F0R_COLOR_MODEL_RGBA8888;
  info->frei0r_version = FREI0R_MAJOR_VERSION;
  info->major_version = 1;
  info->minor_version = 0;
  info->num_params = int(m.table.params.size());
  info->explanation = m.explanation.c_str();
}

OBX_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int index) {
  Module& m = TheModule();
  std::lock_guard guard(m.lock);
  Loaded();
  if (index < 0 || size_t(index) >= m.table.params.size()) {
    *info = f0r_param_info_t{"", F0R_PARAM_DOUBLE, ""};
    return;
  }
  const AdaptedParam& p = m.table.params[size_t(index)];
  info->name = p.name.c_str();
  info->type = int(p.type);
  info->explanation = p.explanation.c_str();
}

OBX_EXPORT f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  Module& m = TheModule();
  std::lock_guard guard(m.lock);
  Loaded();
  if (!m.effect || width == 0 || height == 0 || width > 65535 || height > 65535) {
    std::fprintf(stderr, "%scannot make an instance of %ux%u pixels\n", Prefix().c_str(), width, height);
    return nullptr;
  }
  try {
    auto a = std::make_unique<Adapted>();
    a->width = int(width);
    a->height = int(height);
    a->values = m.table.defaults;
    a->input = World(a->width, a->height);
    a->output = World(a->width, a->height);
    if (kAdapterKind == AdapterKind::kMixer) {
      a->second = std::make_shared<World>(a->width, a->height);
      for (size_t i = 1; i < m.effect->params().size() && !a->second_index; ++i) {
        if (m.effect->params()[i].param_type == PF_Param_LAYER) a->second_index = int(i);
      }
    }
    return a.release();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s%s\n", Prefix().c_str(), e.what());
    return nullptr;
  }
}

OBX_EXPORT void f0r_destruct(f0r_instance_t instance) {
  Module& m = TheModule();
  std::lock_guard guard(m.lock);
  delete static_cast<Adapted*>(instance);  // SEQUENCE_SETDOWN
}

OBX_EXPORT void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
  Module& m = TheModule();
  std::lock_guard guard(m.lock);
  auto* a = static_cast<Adapted*>(instance);
  if (!a || !param || index < 0 || size_t(index) >= m.table.params.size()) return;
  const AdaptedParam& p = m.table.params[size_t(index)];
  Value& v = a->values[size_t(index)];
  switch (p.type) {
    case kBool:
    case kDouble:
      v.d = *static_cast<const double*>(param);
      break;
    case kColor: {
      const auto* c = static_cast<const f0r_param_color_t*>(param);
      v.r = c->r;
      v.g = c->g;
      v.b = c->b;
      break;
    }
    case kPosition: {
      const auto* pos = static_cast<const f0r_param_position_t*>(param);
      v.x = pos->x;
      v.y = pos->y;
      break;
    }
    case kString: {
      const char* text = *static_cast<const f0r_param_string*>(param);
      const std::string s = text ? text : "";
      if (p.role == Role::kSetting || p.role == Role::kDrawing || p.role == Role::kFrameRate) {
        if (s != v.s) a->stale = true;
      }
      v.s = s;
      break;
    }
  }
  if (p.role == Role::kSetting) a->stale = true;
  v.set = true;
}

OBX_EXPORT void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
  Module& m = TheModule();
  std::lock_guard guard(m.lock);
  auto* a = static_cast<Adapted*>(instance);
  if (!a || !param || index < 0 || size_t(index) >= m.table.params.size()) return;
  const Value& v = a->values[size_t(index)];
  switch (m.table.params[size_t(index)].type) {
    case kBool:
    case kDouble:
      *static_cast<double*>(param) = v.d;
      break;
    case kColor:
      *static_cast<f0r_param_color_t*>(param) = f0r_param_color_t{v.r, v.g, v.b};
      break;
    case kPosition:
      *static_cast<f0r_param_position_t*>(param) = f0r_param_position_t{v.x, v.y};
      break;
    case kString:
      // Valid until the value is set again or the instance goes.
      *static_cast<f0r_param_string*>(param) = const_cast<char*>(v.s.c_str());
      break;
  }
}

OBX_EXPORT void f0r_update2(f0r_instance_t instance, double time, const uint32_t* inframe1, const uint32_t* inframe2,
                            const uint32_t*, uint32_t* outframe) {
  Module& m = TheModule();
  std::lock_guard guard(m.lock);
  auto* a = static_cast<Adapted*>(instance);
  if (!a || !outframe) return;
  Render(m, *a, time, inframe1, inframe2, outframe);
}

OBX_EXPORT void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe, uint32_t* outframe) {
  f0r_update2(instance, time, inframe, nullptr, nullptr, outframe);
}
