// Reader for MAME floppy images (MFI).
#ifndef ZEFACUT_FLUX_MFI_IMAGE_H
#define ZEFACUT_FLUX_MFI_IMAGE_H

#include "formats/image_format.h"

// Its load is null (the format is named but not read) in a build without
// zlib, which its tracks are compressed with.
extern const ImageFormat kMfiFormat;

#endif  // ZEFACUT_FLUX_MFI_IMAGE_H
