// An image library from another build: its table is of version 0.
#include "image_io_library.h"

extern "C" __attribute__((visibility("default"))) const ombrix::image_io::LibraryTable* OmbrixImageIoTable() {
  static const ombrix::image_io::LibraryTable table{
      0, sizeof(ombrix::image_io::LibraryTable), nullptr, nullptr, nullptr, nullptr};
  return &table;
}
