// What d88info prints about a D88 image: every disk with its header fields,
// the sector IDs of each track, and what zefacut makes of the disk.
#ifndef ZEFACUT_D88INFO_LISTING_H
#define ZEFACUT_D88INFO_LISTING_H

#include <functional>
#include <string>

#include "d88/d88_image.h"

// Hands the listing of the image open in `image`, one line at a time without
// its line feed, to `emit`. Selects each disk in turn and sets the sector
// range to 1..8, as zefacut does.
void ListImage(D88Image& image, const std::function<void(const std::string&)>& emit);

// The media byte's usual meaning: "2D", "2DD", "2HD", "1D", "1DD" or
// "unknown".
const char* MediaTypeName(int mediaType);

#endif  // ZEFACUT_D88INFO_LISTING_H
