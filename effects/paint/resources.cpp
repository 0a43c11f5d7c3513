// Paint's string table.
#include "resources.h"

#include <iterator>

namespace paint {
namespace {

constexpr ombrix::platform::StringResource kStrings[] = {
    {2, "Single Frame"},
    {3, "Next Frame"},
    {4, "Realtime"},
    {5, "Continuous"},
    {7, "Color"},
    {8, "Paint"},
    {9, "Select"},
    {10, "Erase"},
    {12, "Stylus"},
    {13, "Mouse"},
    {14, "Mouse/Stylus"},
    {16, "Brushtype"},
    {17, "Color"},
    {18, "Radius"},
    {19, "Opacity"},
    {20, "Stylus:"},
    {21, "Feather"},
    {22, "Radius"},
    {23, "Opacity"},
    {24, "Colorclone:"},
    {25, "On"},
    {26, "Off"},
    {28, "Solid"},
    {29, "Paint"},
    {30, "Air"},
    {31, "Square"},
    {33, "No stylus detected"},
    {34, "Stylus vendor: Wacom (compatible)"},
    {35, "Stylus vendor: unknown"},
};

constexpr ombrix::platform::ModuleResources kResources = {kStrings, int(std::size(kStrings)), nullptr, 0};

}  // namespace

const ombrix::platform::ModuleResources* PaintResources() { return &kResources; }

}  // namespace paint
