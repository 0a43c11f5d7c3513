// Paint's stored drawing: the bytes are a flat drawing handed to Unflatten
// as the host would hand them back. A drawing that opens is flattened
// again, and that must open once more with the same flat bytes; whatever
// happens, the stored bytes are kept on failure and no block is left over.
#include <cstdlib>
#include <cstring>

#include "flat_drawing.h"
#include "local_handles.h"

namespace {

PF_Handle HandleOf(const PF_UtilCallbacks* u, const void* data, size_t size) {
  PF_Handle h = u->host_new_handle(A_u_long(size));
  if (h && size) std::memcpy(u->host_lock_handle(h), data, size);
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const PF_UtilCallbacks* u = paint::LocalHandleServices();
  const uint32_t blocks = paint::LiveMemoryBlocks();
  paint::DrawingRef ref{nullptr, HandleOf(u, data, size)};
  const paint::DrawingStatus opened = paint::Unflatten(u, ref);
  if (!ref.unflat) {
    // Refused: a message, and the stored bytes as they were.
    if (!opened.message || u->host_get_handle_size(ref.flat) != size ||
        (size && std::memcmp(u->host_lock_handle(ref.flat), data, size) != 0)) {
      std::abort();
    }
  } else {
    if (paint::Flatten(u, ref).err != PF_Err_NONE) std::abort();
    const A_u_long flat_size = u->host_get_handle_size(ref.flat);
    PF_Handle copy = HandleOf(u, u->host_lock_handle(ref.flat), flat_size);
    paint::DrawingRef again{nullptr, copy};
    if (paint::Unflatten(u, again).err != PF_Err_NONE || paint::Flatten(u, again).err != PF_Err_NONE) std::abort();
    if (u->host_get_handle_size(again.flat) != flat_size ||
        std::memcmp(u->host_lock_handle(again.flat), u->host_lock_handle(ref.flat), flat_size) != 0) {
      std::abort();
    }
    paint::DisposeDrawing(u, again);
  }
  paint::DisposeDrawing(u, ref);
  if (paint::LiveMemoryBlocks() != blocks) std::abort();
  return 0;
}
