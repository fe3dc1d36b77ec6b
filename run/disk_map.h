// A map of each disk of an image: its tracks as rows, each track's sectors
// as cells in their recorded order, each cell in the state the image gives
// it, with the files zefacut cuts laid over the sectors they come from and
// the sectors its signatures are read from marked. The model is plain data,
// for any writer; DiskMapSvg draws it as one standalone SVG file.
#ifndef ZEFACUT_RUN_DISK_MAP_H
#define ZEFACUT_RUN_DISK_MAP_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/model.h"

// What a cell shows, worst first: a cell of several marks shows the first of
// them in this order (its other marks stay in its flags).
enum class CellState : std::uint8_t {
  Missing,       // the disk's layout or a file needs it; the track lacks it
  IdError,       // its ID fails its CRC, or it has no ID address mark
  NoData,        // no data address mark
  DataCrcError,  // its data fails the CRC (in every revolution, from flux)
  ImageDamaged,  // the image file's own check of its data fails, or the
                 // file ends inside its data
  DeletedData,   // a deleted data mark
  Duplicated,    // another sector of the track carries its ID
  Recovered,     // from flux: no revolution read it well; the vote did
  PartlyRead,    // from flux: read well in some of the revolutions only
  Good,
};
constexpr std::size_t kCellStates = 10;

// The state's name for the legend and the text equivalent ("data CRC
// error"), and the letter a cell shows it by without colour: none for a
// sector read well, and none for one read well in some revolutions, whose
// cell shows how many of how many ("2/3").
const char* CellStateName(CellState state);
char CellStateLetter(CellState state);

struct MapCell {
  SectorId id;
  // False for a sector the disk's layout or a file needs that its track
  // lacks: the ID is then the one expected.
  bool present = true;
  SectorFlags flags = 0;
  // The image file ends inside its data.
  bool cutShort = false;
  // Another sector of the track carries the same ID; `shadowed` for those
  // after the first, which a drive reading by ID never reaches.
  bool duplicated = false;
  bool shadowed = false;
  // As the model gives them for a sector read from flux; 0 otherwise.
  std::uint8_t revolutionsGood = 0;
  std::uint8_t revolutions = 0;
  std::uint8_t recoveredFrom = 0;
  // A sector a signature is read from.
  bool signature = false;
  // The files (indexes into DiskMap::files) cut from this sector.
  std::vector<std::size_t> files;
};

CellState StateOf(const MapCell& cell);

struct MapRow {
  int track = 0;
  std::vector<MapCell> cells;
  // For a row with no sectors: why ("no sector could be decoded (no index
  // pulse)" from flux), or empty when the image holds no such track.
  std::string unread;
};

// A sector of a file's extent: the row's track and the cell within it.
struct MapPlace {
  int track = 0;
  std::size_t cell = 0;
};

struct MapFile {
  std::string name;
  // The sectors the file's bytes come from, in the order they are read.
  std::vector<MapPlace> sectors;
};

struct DiskMap {
  int number = 0;    // from 1
  std::string name;  // the disk's recorded name as shown (UTF-8, escaped)
  // For a known disk, "ZEFA LOMRI 2 Disk B"; empty for any other.
  std::string known;
  std::vector<MapRow> rows;  // by track, from track 0
  std::vector<MapFile> files;
};

// The disks of one image, under the name they are shown by (a file or an
// archive member's name, already shown as a line shows it).
struct ImageMap {
  std::string name;
  std::vector<DiskMap> disks;
};

// The map of disk `disk` of the image, from its tracks, recognition and the
// known-disk table.
DiskMap MapDisk(DiskImage& image, int disk);

// The maps of every disk of the image, shown under `name`.
ImageMap MapImage(DiskImage& image, const std::string& name);

// Text for XML character data and attribute values: markup characters as
// entities, and everything a line shows escaped (ShownName) shown the same
// way, so that any name makes well-formed XML.
std::string XmlText(const std::string& text);

// The maps as one standalone SVG document, the disks one below the other,
// with a legend, a title and a text equivalent of what is wrong where.
std::string DiskMapSvg(const std::vector<ImageMap>& images);

#endif  // ZEFACUT_RUN_DISK_MAP_H
