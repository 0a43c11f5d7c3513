// The parts of the service boundary that are not templates: the thread's
// command and band, and the error codes for exceptions.
#include "service_boundary.h"

#include <new>
#include <stdexcept>

namespace ombrix {

PF_ProgressInfo*& CurrentCall() {
  thread_local PF_ProgressInfo* current = nullptr;
  return current;
}

constinit thread_local PixelBand* current_pixel_band = nullptr;

PF_Err CaughtError() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return PF_Err_OUT_OF_MEMORY;
  } catch (const std::length_error&) {
    return PF_Err_OUT_OF_MEMORY;  // a size past what a container can hold
  } catch (...) {
    return PF_Err_INTERNAL_STRUCT_DAMAGED;
  }
}

}  // namespace ombrix
