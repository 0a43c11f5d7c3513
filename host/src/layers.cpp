// Layer parameters: what each shows, the image loaded for a time, and
// checkouts of layers and values through checkout_param.
#include "call_context.h"
#include "fixed_math.h"
#include "param_services.h"
#include "param_values.h"

#include <ombrix/host/host.h>
#include <ombrix/host/image_io.h>
#include <ombrix/host/instance.h>
#include <ombrix/host/pixel_ops.h>

#include <algorithm>
#include <string>

namespace ombrix {

// A layer parameter's binding and the image last loaded for it.
struct Instance::LayerFeed {
  LayerSource source;
  bool cached = false;
  int64_t frame = 0;  // the sequence frame held in `world`
  World world;
};

LayerSource LayerSource::Image(ImageSource source, std::optional<FrameRate> rate) {
  LayerSource s;
  s.kind = Kind::kImage;
  s.image = std::make_shared<const ImageSource>(std::move(source));
  s.rate = rate;
  return s;
}

LayerSource LayerSource::Still(std::shared_ptr<const World> world) {
  LayerSource s;
  s.kind = Kind::kStill;
  s.still = std::move(world);
  return s;
}

void Instance::BindLayer(int index, LayerSource source) {
  if (index < 0 || size_t(index) >= effect_.params_.size() ||
      effect_.params_[size_t(index)].param_type != PF_Param_LAYER)
    throw HostError("parameter " + std::to_string(index) + " is not a layer");
  if (source.kind == LayerSource::Kind::kImage && !source.image) throw HostError("a layer image needs a source");
  if (source.kind == LayerSource::Kind::kStill && !source.still) throw HostError("a still layer needs an image");
  if (source.rate && (source.rate->num <= 0 || source.rate->den <= 0))
    throw HostError("a layer's frame rate must be positive");
  if (index == 0 && source.kind == LayerSource::Kind::kNone) throw HostError("the effect's own layer cannot be none");
  auto feed = std::make_shared<LayerFeed>();
  feed->source = std::move(source);
  layers_[size_t(index)] = std::move(feed);
}

LayerSource Instance::SourceOf(int index) const {
  if (layers_[size_t(index)]) return layers_[size_t(index)]->source;
  if (index == 0 || effect_.params_[size_t(index)].u.ld.dephault == PF_LayerDefault_MYSELF) return LayerSource::Self();
  return LayerSource::None();
}

// The layer's image at `what_time` (in units of `time_scale`): NULL for no
// layer; `full_size` tells whether it is at full resolution (a source
// image, or the render's full input) or already at the buffer size.
const PF_EffectWorld* Instance::LayerAt(int index, A_long what_time, A_u_long time_scale, bool& full_size) {
  const LayerSource source = SourceOf(index);
  if (source.kind == LayerSource::Kind::kNone) return nullptr;
  if (source.kind == LayerSource::Kind::kSelf) {
    if (index != 0) return LayerAt(0, what_time, time_scale, full_size);
    if (!current_input_) throw HostError("the effect's own layer is only known during a render");
    full_size = current_input_full_;
    return current_input_;
  }
  if (source.kind == LayerSource::Kind::kStill) {
    full_size = true;
    return &source.still->pf();
  }
  LayerFeed& feed = *layers_[size_t(index)];
  const ImageSource& image = *feed.source.image;
  full_size = true;
  int64_t frame = 0;
  if (image.kind == SourceKind::kSequence) {
    // Frames per second as a ratio: the layer's own rate, else the instance's.
    const Wide per_second_num = feed.source.rate ? Wide(feed.source.rate->num) : Wide(time_.time_scale);
    const Wide per_second_den = feed.source.rate ? Wide(feed.source.rate->den) : Wide(time_.time_step);
    const Wide n = Wide(what_time) * per_second_num, d = Wide(time_scale) * per_second_den;
    Wide f = n / d;
    if (n % d != 0 && n < 0) --f;  // floor
    frame = SequenceFrameAt(image, int64_t(std::clamp<Wide>(f, INT64_MIN / 2, INT64_MAX / 2)), 1);
  }
  if (!feed.cached || feed.frame != frame) {
    feed.cached = false;
    feed.world = LoadSource(image, frame, 1, 0);
    feed.frame = frame;
    feed.cached = true;
  }
  return &feed.world.pf();
}

PF_Err Instance::CheckoutLayer(int index, A_long what_time, A_u_long time_scale, const RenderSettings& settings,
                               PF_ParamDef* param, const void* owner, A_long pad_bytes) {
  const PF_ParamDef& def = effect_.params_[size_t(index)];
  bool full = true;
  const PF_EffectWorld* layer = LayerAt(index, what_time, time_scale, full);
  *param = def;
  param->u.ld = PF_LayerDef{};
  param->u.ld.dephault = def.u.ld.dephault;
  if (!layer || !layer->data) return PF_Err_NONE;  // no layer: a checkout without pixels
  const BufferSize size =
      full ? BufferSizeFor(layer->width, layer->height, settings) : BufferSize{layer->width, layer->height};
  HostMemory& memory = effect_.host().memory();
  PF_EffectWorld world;
  if (PF_Err e = memory.NewWorld(HostMemory::WorldKind::kCheckout, owner, size.width, size.height, pad_bytes, &world))
    return e;
  try {
    ScaledCopy(*layer, world);
  } catch (...) {
    memory.DisposeWorld(HostMemory::WorldKind::kCheckout, world.data);
    throw;
  }
  param->u.ld = world;
  param->u.ld.dephault = def.u.ld.dephault;
  return PF_Err_NONE;
}

PF_Err CheckoutParamFor(CallContext& ctx, PF_ParamIndex index, A_long what_time, A_long, A_u_long time_scale,
                        PF_ParamDef* param) {
  if (!param || !ctx.effect) return PF_Err_BAD_CALLBACK_PARAM;
  const Effect& effect = *ctx.effect;
  if (index < 0 || size_t(index) >= effect.params().size()) return PF_Err_INVALID_INDEX;
  const PF_ParamDef& def = effect.params()[size_t(index)];
  Instance* inst = ctx.instance;
  if (!inst || time_scale == 0) return PF_Err_BAD_CALLBACK_PARAM;
  if (def.param_type == PF_Param_LAYER) {
    // Failures become error codes, with the reason kept for the caller of
    // the render.
    try {
      return inst->CheckoutLayer(index, what_time, time_scale, ctx.settings, param, OwnerOf(&ctx),
                                 ctx.host->options().pad_rows);
    } catch (const std::bad_alloc&) {
      inst->service_error_ = "out of memory checking out a layer";
      return PF_Err_OUT_OF_MEMORY;
    } catch (const std::exception& e) {
      inst->service_error_ = std::string("checking out layer ") + std::to_string(index) + ": " + e.what();
      return PF_Err_BAD_CALLBACK_PARAM;
    }
  }
  A_long t = what_time;
  if (time_scale != inst->time_.time_scale)
    t = Clamp32(DivRoundHalfUp(Wide(what_time) * inst->time_.time_scale, Wide(time_scale)));
  *param = def;
  SetDefValue(*param, inst->ValueAt(index, t), ctx.settings);
  return PF_Err_NONE;
}

}  // namespace ombrix
