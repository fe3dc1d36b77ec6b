#include "formats/open_image.h"

#include "formats/d88_image.h"

std::unique_ptr<DiskImage> OpenImage(const char* path) {
  auto d88 = std::make_unique<D88Image>();
  if (!d88->Open(path)) {
    return nullptr;
  }
  return d88;
}
