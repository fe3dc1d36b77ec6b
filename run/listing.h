// What d88info prints about a disk image of any format: the format, every disk with its header
// fields, the sector IDs of each track, and what zefacut makes of the disk.
#ifndef ZEFACUT_RUN_LISTING_H
#define ZEFACUT_RUN_LISTING_H

#include <functional>
#include <string>

#include "disk/model.h"

// Hands the listing of `image`, one line at a time without its line feed, to
// `emit`.
void ListImage(DiskImage& image, const std::function<void(const std::string&)>& emit);

// The same as one JSON document, for scripts: the image, its disks with their
// geometry, tracks and sectors (IDs, sizes, flags), and the verdict.
void ListImageJson(DiskImage& image, const std::function<void(const std::string&)>& emit);

// A JSON string of UTF-8 text: characters as they are, controls and the
// other characters that act on text (ActsOnText) as JSON's escapes, and a
// byte that makes no character as the text "\xNN", as the tools' lines
// show it.
std::string JsonString(const std::string& text);

// The media byte's usual meaning: "2D", "2DD", "2HD", "1D", "1DD" or
// "unknown".
const char* MediaTypeName(int mediaType);

#endif  // ZEFACUT_RUN_LISTING_H
