// What each adapter binary says about itself: the effect it carries and
// the frei0r kind it is (defined by the small source CMake writes for it).
#pragma once

#include "catalogue.h"

namespace ombrix::frei0r {

extern const char* const kAdapterEffect;  // the plug-in's short name: "mistform"
extern const AdapterKind kAdapterKind;

}  // namespace ombrix::frei0r
