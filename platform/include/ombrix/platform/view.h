// Drawing on a window area the host shows: filled discs, lines, inverted
// circles, text and bitmap blits, and reading screen pixels back.
//
// Headless, a view is a bitmap the host fills (the rendered frame at the
// view's zoom) and the effect draws over; every drawing call is also kept in
// the view's log. The screen is the view the host names as such, with its
// top left corner at screen (0, 0).
#pragma once

#include <ombrix/platform/color.h>
#include <ombrix/platform/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ombrix::platform {

struct View;  // opaque

// A filled disc of radius `r` about (cx, cy): the pixels whose centres lie
// within r of the centre.
OMBRIX_PLATFORM_API bool ViewFillDisc(View* view, double cx, double cy, double r, ColorRef color) noexcept;
// A one-pixel line from (x0, y0) to (x1, y1), both ends drawn.
OMBRIX_PLATFORM_API bool ViewLine(View* view, int x0, int y0, int x1, int y1, ColorRef color) noexcept;
// A filled rectangle [left, right) x [top, bottom).
OMBRIX_PLATFORM_API bool ViewFillRect(View* view, int left, int top, int right, int bottom, ColorRef color) noexcept;
// The outline of a circle drawn by inverting the pixels under it; drawing
// the same circle again restores them.
OMBRIX_PLATFORM_API bool ViewInvertCircle(View* view, int cx, int cy, int r) noexcept;
// Text with its top left at (x, y) in the named font (logged; the headless
// view does not rasterise glyphs).
OMBRIX_PLATFORM_API bool ViewText(View* view, int x, int y, const char* text, const char* font,
                                  ColorRef color) noexcept;
// Copies `width` x `height` pixels (0x00RRGGBB words, `stride` words a row)
// with their top left at (x, y).
OMBRIX_PLATFORM_API bool ViewBlit(View* view, int x, int y, int width, int height, const uint32_t* pixels,
                                  int stride) noexcept;
OMBRIX_PLATFORM_API bool ViewSize(View* view, int* width, int* height) noexcept;
// The colour of the screen pixel at (x, y); black off the screen.
OMBRIX_PLATFORM_API ColorRef GetScreenPixel(int x, int y) noexcept;

// ---------------------------------------------------------------------------
// The host's side (headless)
// ---------------------------------------------------------------------------
OMBRIX_PLATFORM_API View* CreateView(int width, int height);
OMBRIX_PLATFORM_API void DestroyView(View* view);
// Replaces the pixels (0x00RRGGBB words, width x height, rows in order).
OMBRIX_PLATFORM_API void SetViewPixels(View* view, const std::vector<uint32_t>& pixels);
OMBRIX_PLATFORM_API std::vector<uint32_t> ViewPixels(View* view);
// One line per drawing call, e.g. "disc 10.5 4 3 #ff0000".
OMBRIX_PLATFORM_API std::vector<std::string> ViewLog(View* view);
OMBRIX_PLATFORM_API void ClearViewLog(View* view);
OMBRIX_PLATFORM_API void SetScreenView(View* view);  // null: no screen

}  // namespace ombrix::platform
