// The structure the dynamic loader follows in a plug-in file, checked
// against the file's bounds before the file is loaded.
#pragma once

#include <ombrix/host/host_error.h>

#include <cstdint>
#include <span>

namespace ombrix {

// Checks a little-endian x86-64 ELF shared object's header, program
// headers, dynamic section and the tables it names (strings, symbols, hash
// tables, versions, relocations, initialiser arrays): every offset inside
// the file, every address inside the segments it loads. Throws HostError
// naming the first fault. The caller has checked the identification bytes,
// the file type and the machine.
void CheckLoadableElf(std::span<const uint8_t> file);

}  // namespace ombrix
