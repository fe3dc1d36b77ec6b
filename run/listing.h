// What d88info prints about a disk image of any format: the format, every disk with its header
// fields, the sector IDs of each track, and what zefacut makes of the disk.
#ifndef ZEFACUT_RUN_LISTING_H
#define ZEFACUT_RUN_LISTING_H

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "disk/model.h"
#include "known/known_disks.h"
#include "known/recognition.h"

// The geometry the tracks show, whatever the media byte says: how many tracks
// hold sectors, the most common number of sectors in them and the most common
// sector size, and the kind of disk that makes ("154 x 8 x 1024 (2HD)").
struct Geometry {
  int tracks = 0;
  int sectors = 0;
  int size = 0;
  const char* kind = "";
  // Cylinders up to the last that holds sectors, and heads: 2 when any odd
  // track holds sectors.
  int cylinders = 0;
  int heads = 0;
};

// A track index of a disk: where the format records it, and what it holds.
struct TrackListing {
  int track = 0;
  // Where the image records the track (0: absent), for formats that record
  // it for every index.
  std::optional<std::int64_t> location;
  // Null when the disk has no such track.
  std::shared_ptr<const Track> read;
};

// A doubt zefacut would tell of a file of a known disk.
struct FileNoteListing {
  std::string file;
  std::string note;
};

// What zefacut makes of a disk.
struct Verdict {
  // Null for a disk it does not know.
  const KnownDiskRow* known = nullptr;
  // For a known disk: the signature sector's marks in words (empty when it
  // has none), and each file's notes in file order.
  std::string signatureNote;
  std::vector<FileNoteListing> notes;
  // For an unknown disk: the signature sectors as recognition read them.
  std::vector<SignatureRead> evidence;
};

struct DiskListing {
  DiskInfo info;
  Geometry geometry;
  // Every index the format records a place for or that holds a track.
  std::vector<TrackListing> tracks;
  Verdict verdict;
};

// Everything d88info tells of an image, read once; the text and the JSON
// are renderings of it.
struct ImageListing {
  ImageInfo about;
  std::vector<DiskListing> disks;
};

ImageListing BuildListing(DiskImage& image);

// The listing as text, one line at a time without its line feed, to `emit`.
void ListImage(const ImageListing& listing, const std::function<void(const std::string&)>& emit);

// The same as one JSON document, for scripts: the image, its disks with their
// geometry, tracks and sectors (IDs, sizes, flags), and the verdict.
void ListImageJson(const ImageListing& listing,
                   const std::function<void(const std::string&)>& emit);

// The listing of `image`, built and rendered.
void ListImage(DiskImage& image, const std::function<void(const std::string&)>& emit);

void ListImageJson(DiskImage& image, const std::function<void(const std::string&)>& emit);

// A JSON string of UTF-8 text: characters as they are, controls and the
// other characters that act on text (ActsOnText) as JSON's escapes, and a
// byte that makes no character as the text "\xNN", as the tools' lines
// show it.
std::string JsonString(const std::string& text);

#endif  // ZEFACUT_RUN_LISTING_H
