// Formats that are told from their content but not read: flux images and
// images of formats no reader of the tool handles. A file in one of them gets
// a clear word instead of being taken for a D88 image.
#ifndef ZEFACUT_FORMATS_UNREAD_FORMATS_H
#define ZEFACUT_FORMATS_UNREAD_FORMATS_H

#include "formats/image_format.h"

extern const ImageFormat kIpfFormat;
extern const ImageFormat kWozFormat;
extern const ImageFormat kCpcDskFormat;

#endif  // ZEFACUT_FORMATS_UNREAD_FORMATS_H
