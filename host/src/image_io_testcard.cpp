// Generated sources: a solid colour, and the built-in test card drawn from its size alone.
#include <ombrix/host/image_io.h>

#include <algorithm>
#include <cmath>

namespace ombrix {
namespace {

double Round(double v) { return std::floor(v + 0.5); }
double Clamp01(double v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }
uint8_t Byte(double v) { return uint8_t(std::clamp(Round(v), 0.0, 255.0)); }
double Smoothstep(double e0, double e1, double x) {
  const double t = Clamp01((x - e0) / (e1 - e0));
  return t * t * (3.0 - 2.0 * t);
}

struct Rgb {
  double r, g, b;
};
Rgb Mix(Rgb a, Rgb b, double t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

}  // namespace

// ---------------------------------------------------------------------------
// The test card. All geometry is in continuous coordinates, pixel (x, y)
// sampled at its centre (x + 0.5, y + 0.5), so the card scales to any size.
// ---------------------------------------------------------------------------
namespace {

constexpr Rgb kBars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                          {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};

struct CardLayout {
  double margin;
  double x0, y0, x1, y1;  // the opaque card
  double corner;
  double disc_x, disc_y, disc_r, disc_soft;
};

CardLayout Layout(double W, double H) {
  CardLayout l;
  l.margin = std::max(1.0, Round(std::min(W, H) * 0.05));
  l.x0 = l.margin;
  l.y0 = l.margin;
  l.x1 = std::max(l.x0, Round(W * 0.76));
  l.y1 = std::max(l.y0, H - l.margin);
  l.corner = std::min(l.x1 - l.x0, l.y1 - l.y0) * 0.08;
  l.disc_x = (l.x1 + W) * 0.5;
  l.disc_y = H * 0.62;
  l.disc_r = std::min((W - l.x1) * 0.42, H * 0.3);
  l.disc_soft = l.disc_r * 0.5;
  return l;
}

// Coverage of the rounded card at a pixel centre, from its signed distance.
double CardCoverage(const CardLayout& l, double px, double py) {
  const double hx = (l.x1 - l.x0) * 0.5, hy = (l.y1 - l.y0) * 0.5;
  if (hx <= 0.0 || hy <= 0.0) return 0.0;
  const double qx = std::fabs(px - (l.x0 + hx)) - (hx - l.corner);
  const double qy = std::fabs(py - (l.y0 + hy)) - (hy - l.corner);
  const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
  const double sd = outside + std::min(std::max(qx, qy), 0.0) - l.corner;
  return Clamp01(0.5 - sd);
}

Rgb CardColour(const CardLayout& l, A_long x, A_long y, double px, double py) {
  const double cw = l.x1 - l.x0, ch = l.y1 - l.y0;
  const double u = Clamp01((px - l.x0) / cw), v = Clamp01((py - l.y0) / ch);
  if (v < 0.34) return kBars[std::min(7, int(u * 8.0))];
  if (v < 0.46) {
    const double g = Round(Clamp01((px - l.x0 - 0.5) / std::max(1.0, cw - 1.0)) * 255.0);
    return {g, g, g};
  }
  const double ly0 = l.y0 + ch * 0.46, lh = l.y1 - ly0;
  const double sv = Clamp01((py - ly0) / lh);
  const double split = l.x0 + cw * 0.55;
  if (px < split) {
    // A landscape at dusk: sky gradient, a glowing sun, a rolling horizon.
    const double a = (px - l.x0) / (split - l.x0), b = sv;
    Rgb sky = Mix({40, 80, 170}, {250, 180, 110}, Clamp01(b / 0.75));
    const double dx = a - 0.68, dy = (b - 0.45) * 0.8;
    const double glow = std::exp(-(dx * dx + dy * dy) / 0.012);
    sky = Mix(sky, {255, 236, 170}, glow);
    const double horizon = 0.72 + 0.06 * std::sin(a * 7.0 + 0.5);
    const double ground_t = Clamp01((b - horizon) * lh + 0.5);
    const Rgb ground = Mix({70, 120, 55}, {25, 55, 20}, Clamp01((b - horizon) / (1.0 - horizon)));
    return Mix(sky, ground, ground_t);
  }
  // Fine detail: a zone plate reaching one cycle per two pixels at its corners,
  // then a one-pixel checker, one-pixel columns and two-pixel rows.
  const double dw = l.x1 - split;
  if (sv < 0.6) {
    const double zx = split + dw * 0.5, zy = ly0 + lh * 0.3;
    // Half the box's diagonal: the frequency reaches Nyquist only at its corners.
    const double radius = std::max(1.0, std::hypot(dw, lh * 0.6) * 0.5);
    const double r2 = (px - zx) * (px - zx) + (py - zy) * (py - zy);
    const double g = Round(127.5 + 127.5 * std::cos(M_PI * r2 / (2.0 * radius)));
    return {g, g, g};
  }
  const double a = (px - split) / dw;
  double g;
  if (a < 1.0 / 3.0)
    g = ((x + y) & 1) ? 255.0 : 0.0;
  else if (a < 2.0 / 3.0)
    g = (x & 1) ? 255.0 : 0.0;
  else
    g = ((y >> 1) & 1) ? 255.0 : 0.0;
  return {g, g, g};
}

}  // namespace

World MakeSolid(A_long width, A_long height, PF_Pixel color, A_long pad_bytes) {
  World w(width, height, pad_bytes);
  for (A_long y = 0; y < height; ++y) std::fill_n(w.Row(y), width, color);
  return w;
}

World MakeTestCard(A_long width, A_long height, A_long pad_bytes) {
  World w(width, height, pad_bytes);
  const CardLayout l = Layout(width, height);
  for (A_long y = 0; y < height; ++y) {
    PF_Pixel* row = w.Row(y);
    for (A_long x = 0; x < width; ++x) {
      const double px = x + 0.5, py = y + 0.5;
      PF_Pixel& p = row[x];
      const double card = CardCoverage(l, px, py);
      if (card > 0.0) {
        const Rgb c = CardColour(l, x, y, px, py);
        p.alpha = Byte(card * 255.0);
        p.red = Byte(c.r);
        p.green = Byte(c.g);
        p.blue = Byte(c.b);
        continue;
      }
      if (l.disc_r > 1.0) {
        const double d = std::hypot(px - l.disc_x, py - l.disc_y);
        const double a = 160.0 * (1.0 - Smoothstep(l.disc_r - l.disc_soft, l.disc_r, d));
        if (Byte(a) > 0) {
          p.alpha = Byte(a);
          p.red = 255;
          p.green = 140;
          p.blue = 30;
        }
      }
    }
  }
  return w;
}

}  // namespace ombrix
