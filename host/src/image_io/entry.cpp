// The image library's one exported symbol: the table the host core reaches
// its file functions through.
#include "image_io_library.h"
#include "internal.h"

extern "C" __attribute__((visibility("default"))) const ombrix::image_io::LibraryTable* OmbrixImageIoTable() {
  using namespace ombrix::image_io;
  static constexpr LibraryTable kTable{kLibraryVersion, sizeof(LibraryTable), &ReadFile,
                                       &ReadFileSize,   &ReadFileInfo,        &WriteFile};
  return &kTable;
}
