// Images owned by the host.
#pragma once

#include <pf/api.h>

#include <cstddef>
#include <cstdint>

namespace ombrix {

// An image owned by the host. New worlds are transparent black, including
// any row padding. `pf` is what plug-ins see.
class World {
 public:
  World() = default;
  World(A_long width, A_long height, A_long pad_bytes = 0);
  World(const World&);
  World& operator=(const World&);
  World(World&&) noexcept;
  World& operator=(World&&) noexcept;
  ~World();

  PF_EffectWorld& pf() { return pf_; }
  const PF_EffectWorld& pf() const { return pf_; }
  A_long width() const { return pf_.width; }
  A_long height() const { return pf_.height; }
  A_long rowbytes() const { return pf_.rowbytes; }
  bool empty() const { return pf_.data == nullptr; }
  PF_Pixel* Row(A_long y) { return reinterpret_cast<PF_Pixel*>(bytes_ + size_t(y) * pf_.rowbytes); }
  const PF_Pixel* Row(A_long y) const { return reinterpret_cast<const PF_Pixel*>(bytes_ + size_t(y) * pf_.rowbytes); }
  PF_Pixel& At(A_long x, A_long y) { return Row(y)[x]; }
  const PF_Pixel& At(A_long x, A_long y) const { return Row(y)[x]; }

 private:
  void Allocate(A_long width, A_long height, A_long rowbytes);
  PF_EffectWorld pf_{};
  uint8_t* bytes_ = nullptr;
  size_t size_ = 0;
};

// True when both worlds have the same size and the same pixels (padding ignored).
bool SamePixels(const PF_EffectWorld& a, const PF_EffectWorld& b);

}  // namespace ombrix
