// Host-owned worlds and pixel comparison.
#include <ombrix/host/host_error.h>
#include <ombrix/host/world.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace ombrix {

World::World(A_long width, A_long height, A_long pad_bytes) {
  if (width < 0 || height < 0 || pad_bytes < 0) throw HostError("world size must not be negative");
  int64_t rowbytes = int64_t(width) * 4 + pad_bytes;
  if (rowbytes > INT32_MAX) throw HostError("world rows too wide");
  Allocate(width, height, A_long(rowbytes));
}

void World::Allocate(A_long width, A_long height, A_long rowbytes) {
  pf_ = PF_EffectWorld{};
  size_ = size_t(rowbytes) * size_t(height);
  if (size_ > 0) {
    // Every byte zero, padding included, so unwritten bytes are defined.
    bytes_ = static_cast<uint8_t*>(std::calloc(size_, 1));
    if (!bytes_) throw std::bad_alloc();
  }
  pf_.data = reinterpret_cast<PF_PixelPtr>(bytes_);
  pf_.rowbytes = rowbytes;
  pf_.width = width;
  pf_.height = height;
  pf_.extent_hint = PF_Rect{0, 0, width, height};
  pf_.pix_aspect_ratio = PF_RationalScale{1, 1};
}

World::World(const World& other) {
  Allocate(other.pf_.width, other.pf_.height, other.pf_.rowbytes);
  if (size_) std::memcpy(bytes_, other.bytes_, size_);
  pf_.extent_hint = other.pf_.extent_hint;
  pf_.pix_aspect_ratio = other.pf_.pix_aspect_ratio;
}

World& World::operator=(const World& other) {
  if (this != &other) {
    World copy(other);
    *this = std::move(copy);
  }
  return *this;
}

World::World(World&& other) noexcept : pf_(other.pf_), bytes_(other.bytes_), size_(other.size_) {
  other.pf_ = PF_EffectWorld{};
  other.bytes_ = nullptr;
  other.size_ = 0;
}

World& World::operator=(World&& other) noexcept {
  if (this != &other) {
    std::free(bytes_);
    pf_ = other.pf_;
    bytes_ = other.bytes_;
    size_ = other.size_;
    other.pf_ = PF_EffectWorld{};
    other.bytes_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

World::~World() { std::free(bytes_); }

bool SamePixels(const PF_EffectWorld& a, const PF_EffectWorld& b) {
  if (a.width != b.width || a.height != b.height) return false;
  if (a.width == 0 || a.height == 0) return true;
  if (!a.data || !b.data) return a.data == b.data;
  const size_t row = size_t(a.width) * 4;
  for (A_long y = 0; y < a.height; ++y) {
    const auto* ra = reinterpret_cast<const uint8_t*>(a.data) + size_t(y) * a.rowbytes;
    const auto* rb = reinterpret_cast<const uint8_t*>(b.data) + size_t(y) * b.rowbytes;
    if (std::memcmp(ra, rb, row) != 0) return false;
  }
  return true;
}

}  // namespace ombrix
