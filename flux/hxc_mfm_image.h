// Reader for HxC MFM images (HXCMFM).
#ifndef ZEFACUT_FLUX_HXC_MFM_IMAGE_H
#define ZEFACUT_FLUX_HXC_MFM_IMAGE_H

#include "formats/image_format.h"

extern const ImageFormat kHxcMfmFormat;

#endif  // ZEFACUT_FLUX_HXC_MFM_IMAGE_H
