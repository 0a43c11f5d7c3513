// Resources a module carries beside its code: its string table and its
// icons, found by id.
//
// The module hands its own tables to the loaders, as a program names its
// module when it loads a resource. In the headless backend a host or test
// may make the load of a given id fail (headless.h), as a damaged or
// missing resource would.
#pragma once

#include <ombrix/platform/types.h>

namespace ombrix::platform {

struct StringResource {
  int id;
  const char* text;
};

// An icon: width × height pixels, 0xAARRGGBB, rows top to bottom.
struct IconResource {
  int id;
  int width, height;
  const uint32_t* pixels;
};

struct ModuleResources {
  const StringResource* strings;
  int string_count;
  const IconResource* icons;
  int icon_count;
};

// Copies string `id` into `buffer` (at most size - 1 characters and a NUL)
// and answers the characters copied; 0, with the buffer emptied when it has
// room, when the string is missing or cannot be loaded.
OMBRIX_PLATFORM_API int LoadStringResource(const ModuleResources* module, int id, char* buffer, int size) noexcept;

// Icon `id`, or null when it is missing or cannot be loaded.
OMBRIX_PLATFORM_API const IconResource* LoadIconResource(const ModuleResources* module, int id) noexcept;

}  // namespace ombrix::platform
