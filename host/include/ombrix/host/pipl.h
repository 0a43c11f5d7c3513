// A plug-in's registration resource (PIPL), read without running the plug-in.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ombrix {

struct PiplInfo {
  std::string kind;                         // "eFKT"
  std::string display_name;                 // "OB Flatwash"
  std::string category;                     // "Ombrix One"
  std::string entry_point;                  // "main"
  uint16_t pipl_major = 0, pipl_minor = 0;  // 'ePVR'
  uint16_t api_major = 0, api_minor = 0;    // 'eSVR': the effect API version the plug-in was built for
  uint32_t effect_version = 0;              // 'eVER'
  uint16_t info_flags = 0;                  // 'eINF'
  uint32_t global_flags = 0;                // 'eGLO'
  std::string match_name;                   // 'eMNA'
  uint32_t ae_flags = 0, ae_reserved = 0;   // 'aeFL', 'aeRD'
  std::vector<uint8_t> bytes;               // the whole resource
};

// Parses PIPL bytes; throws HostError with a clear message on damage.
PiplInfo ParsePipl(std::span<const uint8_t> bytes);

}  // namespace ombrix
