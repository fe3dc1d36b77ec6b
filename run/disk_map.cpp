#include "run/disk_map.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "known/known_disks.h"
#include "known/recognition.h"
#include "known/sector_run.h"
#include "platform/text_form.h"

namespace {

struct StateLook {
  const char* name;
  const char* css;  // the class its cells are drawn in
  CellState state;
  char letter;
};

// In CellState's order: worst first.
constexpr StateLook kStateLooks[kCellStates] = {
    {"missing", "missing", CellState::Missing, 'M'},
    {"ID CRC error or no ID mark", "id", CellState::IdError, 'I'},
    {"no data mark", "nodata", CellState::NoData, 'N'},
    {"data CRC error", "crc", CellState::DataCrcError, 'C'},
    {"image file damaged or cut short", "damaged", CellState::ImageDamaged, 'B'},
    {"deleted data", "deleted", CellState::DeletedData, 'X'},
    {"ID duplicated on the track", "dup", CellState::Duplicated, '2'},
    {"recovered from bad reads", "recovered", CellState::Recovered, 'R'},
    {"read well in k of n revolutions", "partly", CellState::PartlyRead, ' '},
    {"read well", "good", CellState::Good, ' '},
};

constexpr bool LooksInOrder() {
  for (std::size_t i = 0; i < kCellStates; ++i) {
    if (static_cast<std::size_t>(kStateLooks[i].state) != i) {
      return false;
    }
  }
  return true;
}
static_assert(LooksInOrder(), "one look per state, in the enum's order");

const StateLook& LookOf(CellState state) { return kStateLooks[static_cast<std::size_t>(state)]; }

// The sector IDs of a track, for finding where a missing one belongs.
bool SameId(const MapCell& cell, SectorId id) { return cell.id == id; }

// The R range most tracks of the disk hold, and their usual size code:
// the layout whose gaps are told as missing sectors.
struct UsualLayout {
  bool known = false;
  std::uint8_t first = 0;
  std::uint8_t last = 0;
  std::uint8_t n = 0;
};

UsualLayout UsualLayoutOf(const std::vector<MapRow>& rows) {
  std::map<std::pair<int, int>, int> ranges;
  std::map<int, int> sizes;
  for (const MapRow& row : rows) {
    if (row.cells.empty()) {
      continue;
    }
    int first = 255;
    int last = 0;
    for (const MapCell& cell : row.cells) {
      first = std::min(first, static_cast<int>(cell.id.r));
      last = std::max(last, static_cast<int>(cell.id.r));
      ++sizes[cell.id.n];
    }
    ++ranges[{first, last}];
  }
  UsualLayout usual;
  int most = 0;
  // Of ranges held by as many tracks, the widest: a track cut short by
  // the end of the file holds fewer sectors, not more.
  for (const auto& range : ranges) {
    const int width = range.first.second - range.first.first;
    if (range.second > most || (range.second == most && width > usual.last - usual.first)) {
      most = range.second;
      usual.known = true;
      usual.first = static_cast<std::uint8_t>(range.first.first);
      usual.last = static_cast<std::uint8_t>(range.first.second);
    }
  }
  most = 0;
  for (const auto& size : sizes) {
    if (size.second > most) {
      most = size.second;
      usual.n = static_cast<std::uint8_t>(size.first);
    }
  }
  return usual;
}

// Puts a missing sector into a row where its R belongs: after the last cell
// of a lower R, or first.
void InsertMissing(MapRow& row, SectorId id) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < row.cells.size(); ++i) {
    if (row.cells[i].id.r < id.r) {
      at = i + 1;
    }
  }
  MapCell cell;
  cell.id = id;
  cell.present = false;
  row.cells.insert(row.cells.begin() + static_cast<std::ptrdiff_t>(at), cell);
}

// The row of a track, made when the disk holds none.
MapRow& RowOf(std::vector<MapRow>& rows, int track) {
  // The rows stay in track order.
  const auto at = std::lower_bound(rows.begin(), rows.end(), track,
                                   [](const MapRow& row, int t) { return row.track < t; });
  if (at != rows.end() && at->track == track) {
    return *at;
  }
  MapRow row;
  row.track = track;
  return *rows.insert(at, row);
}

// The cell a drive reading sector `at` by ID reaches; null when none.
MapCell* CellAt(std::vector<MapRow>& rows, const SectorAddress& at, std::size_t* index) {
  for (MapRow& row : rows) {
    if (row.track != at.track) {
      continue;
    }
    for (std::size_t i = 0; i < row.cells.size(); ++i) {
      if (SameId(row.cells[i], at.id)) {
        *index = i;
        return &row.cells[i];
      }
    }
  }
  return nullptr;
}

// Makes sure a sector the disk needs has a cell, a missing one if need be.
void Need(std::vector<MapRow>& rows, const SectorAddress& at) {
  std::size_t index = 0;
  if (CellAt(rows, at, &index) == nullptr) {
    InsertMissing(RowOf(rows, at.track), at.id);
  }
}

// The sectors a cut's bytes come from: from the one holding its first byte
// to the one holding its last, along its run.
std::vector<SectorAddress> CutSectors(const Cut& cut) {
  std::vector<SectorAddress> sectors;
  SectorAddress at = RunStart(cut);
  const long long first = cut.offset / kSectorSize;
  const long long last = (static_cast<long long>(cut.offset) + cut.length - 1) / kSectorSize;
  for (long long i = 0; i <= last; ++i) {
    if (i >= first) {
      sectors.push_back(at);
    }
    if (!NextInRun(at)) {
      break;
    }
  }
  return sectors;
}

std::string Printed(const char* format, unsigned a, unsigned b, unsigned c, unsigned d) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b, c, d);
  return text;
}

std::string IdText(SectorId id) { return Printed("C%u H%u R%u N%u", id.c, id.h, id.r, id.n); }

}  // namespace

const char* CellStateName(CellState state) { return LookOf(state).name; }

char CellStateLetter(CellState state) { return LookOf(state).letter; }

CellState StateOf(const MapCell& cell) {
  if (!cell.present) {
    return CellState::Missing;
  }
  if ((cell.flags & (kIdCrcError | kNoAddressMark)) != 0) {
    return CellState::IdError;
  }
  if ((cell.flags & kNoDataMark) != 0) {
    return CellState::NoData;
  }
  if ((cell.flags & kDataCrcError) != 0) {
    return CellState::DataCrcError;
  }
  if ((cell.flags & kImageCheckFails) != 0 || cell.cutShort) {
    return CellState::ImageDamaged;
  }
  if ((cell.flags & kDeletedData) != 0) {
    return CellState::DeletedData;
  }
  if (cell.duplicated) {
    return CellState::Duplicated;
  }
  if (cell.recoveredFrom > 0) {
    return CellState::Recovered;
  }
  if (cell.revolutionsGood < cell.revolutions) {
    return CellState::PartlyRead;
  }
  return CellState::Good;
}

DiskMap MapDisk(DiskImage& image, int disk) {
  DiskMap map;
  map.number = disk + 1;
  map.name = ShownShiftJisName(image.Describe(disk).name);
  bool even = false;
  bool odd = false;
  for (int track = 0; track < DiskImage::kMaxTracks; ++track) {
    const std::shared_ptr<const Track> read = image.ReadTrack(disk, track);
    if (!read) {
      continue;
    }
    (track % 2 == 0 ? even : odd) = true;
    MapRow row;
    row.track = track;
    for (const Sector& sector : read->Sectors()) {
      MapCell cell;
      cell.id = sector.id;
      cell.flags = sector.flags;
      cell.revolutionsGood = sector.revolutionsGood;
      cell.revolutions = sector.revolutions;
      cell.recoveredFrom = sector.recoveredFrom;
      cell.cutShort = sector.size < sector.recordedSize;
      row.cells.push_back(cell);
    }
    // A later sector of an ID is never reached; the first is what is read.
    const std::vector<Sector>& sectors = read->Sectors();
    for (std::size_t i = 0; i < sectors.size(); ++i) {
      if (row.cells[i].shadowed) {
        continue;
      }
      for (const Sector* later : read->LaterWithSameId(sectors[i])) {
        row.cells[i].duplicated = true;
        MapCell& cell = row.cells[static_cast<std::size_t>(later - sectors.data())];
        cell.duplicated = true;
        cell.shadowed = true;
      }
    }
    if (read->Sectors().empty()) {
      if (read->CutShort()) {
        row.unread = "the image file ends inside this track";
      } else if (read->Reading()) {
        const std::string& why = read->Reading()->unread;
        row.unread =
            "no sector could be decoded" + (why.empty() ? std::string() : " (" + why + ")");
      } else {
        row.unread = "no sectors";
      }
    }
    map.rows.push_back(std::move(row));
  }
  // A track the image lacks between tracks it holds is shown as such; on a
  // disk of one side only, the other side's tracks are not.
  if (!map.rows.empty()) {
    const int last = map.rows.back().track;
    for (int track = 0; track < last; ++track) {
      if ((track % 2 == 0 ? even : odd)) {
        MapRow& row = RowOf(map.rows, track);
        if (row.cells.empty() && row.unread.empty()) {
          row.unread = "not in the image";
        }
      }
    }
  }
  // Gaps in the usual layout of the tracks that hold sectors are missing.
  const UsualLayout usual = UsualLayoutOf(map.rows);
  if (usual.known) {
    for (MapRow& row : map.rows) {
      if (row.cells.empty()) {
        continue;
      }
      const SectorId sample = row.cells.front().id;
      for (int r = usual.first; r <= usual.last; ++r) {
        const bool held = std::any_of(row.cells.begin(), row.cells.end(),
                                      [r](const MapCell& cell) { return cell.id.r == r; });
        if (!held) {
          InsertMissing(row, {sample.c, sample.h, static_cast<std::uint8_t>(r), usual.n});
        }
      }
    }
  }

  const Recognition recognition = RecogniseDisk(image, disk);
  const KnownDiskRow* known = FindKnownDisk(recognition.kind);
  std::vector<SectorAddress> signatures;
  if (known != nullptr) {
    map.known = std::string(known->title) + " " + known->disk;
    signatures.push_back(recognition.sector);
    std::vector<std::vector<SectorAddress>> extents;
    for (std::size_t i = 0; i < known->cutCount; ++i) {
      extents.push_back(CutSectors(known->cuts[i]));
      for (const SectorAddress& at : extents.back()) {
        Need(map.rows, at);
      }
    }
    for (std::size_t i = 0; i < known->cutCount; ++i) {
      MapFile file;
      file.name = known->cuts[i].name.data();
      for (const SectorAddress& at : extents[i]) {
        std::size_t index = 0;
        if (MapCell* cell = CellAt(map.rows, at, &index)) {
          cell->files.push_back(map.files.size());
          file.sectors.push_back({at.track, index});
        }
      }
      map.files.push_back(std::move(file));
    }
  } else {
    // The sectors an unknown disk was compared by.
    signatures.push_back(kIdentificationSector);
    signatures.push_back(kBootSector);
  }
  for (const SectorAddress& at : signatures) {
    std::size_t index = 0;
    if (MapCell* cell = CellAt(map.rows, at, &index)) {
      cell->signature = true;
    }
  }
  return map;
}

ImageMap MapImage(DiskImage& image, const std::string& name) {
  ImageMap map;
  map.name = name;
  for (int disk = 0; disk < image.DiskCount(); ++disk) {
    map.disks.push_back(MapDisk(image, disk));
  }
  return map;
}

std::string XmlText(const std::string& text) {
  const std::string shown = ShownName(text);
  std::string out;
  for (std::size_t at = 0; at < shown.size();) {
    const Utf8Step step = NextUtf8(shown, at);
    // ShownName leaves only well-formed characters; the two that XML holds
    // no place for are escaped as it escapes others.
    if (step.valid && (step.code == 0xFFFE || step.code == 0xFFFF)) {
      out += step.code == 0xFFFE ? "\\ufffe" : "\\uffff";
    } else if (shown[at] == '&') {
      out += "&amp;";
    } else if (shown[at] == '<') {
      out += "&lt;";
    } else if (shown[at] == '>') {
      out += "&gt;";
    } else if (shown[at] == '"') {
      out += "&quot;";
    } else if (shown[at] == '\'') {
      out += "&apos;";
    } else {
      out.append(shown, at, step.length);
    }
    at += step.length;
  }
  return out;
}

namespace {

// The drawing's measures, in pixels.
constexpr int kMargin = 16;
constexpr int kLabelWidth = 116;
constexpr int kCellWidth = 30;
constexpr int kCellHeight = 16;
// Under each row, two lanes for the files' extents, so that two files that
// meet in one row stay apart without colour.
constexpr int kLaneHeight = 4;
constexpr int kRowHeight = kCellHeight + 2 * kLaneHeight + 6;
constexpr int kFileListWidth = 220;
constexpr int kHeadingHeight = 44;
constexpr int kLegendRowHeight = 20;
constexpr int kLegendColumn = 235;
constexpr int kLegendColumns = 3;
constexpr int kFileColours = 6;
// The text equivalent names at most so many sectors that did not read well
// per disk, then how many more.
constexpr std::size_t kMostBadSectorsTold = 200;

const char kStyle[] =
    "<style>\n"
    "  .bg { fill: #ffffff; }\n"
    "  text { font-family: sans-serif; fill: #1a1a1a; }\n"
    "  .head { font-size: 15px; font-weight: bold; }\n"
    "  .sub, .label, .files, .note { font-size: 11px; }\n"
    "  .note { font-style: italic; }\n"
    "  .letter { font-family: monospace; font-size: 11px; text-anchor: middle; }\n"
    "  .cell { stroke: #555555; stroke-width: 0.5; }\n"
    "  .good { fill: #8fd18f; }\n"
    "  .partly { fill: #cfe68a; }\n"
    "  .recovered { fill: #ffd966; }\n"
    "  .dup { fill: #c3b1e1; }\n"
    "  .deleted { fill: #9fcbf5; }\n"
    "  .damaged { fill: #f5a3c4; }\n"
    "  .crc { fill: #f06a67; }\n"
    "  .nodata { fill: #ff9f7a; }\n"
    "  .id { fill: #b59a8f; }\n"
    "  .missing { fill: none; stroke-dasharray: 3 2; }\n"
    "  .sig { fill: #1a1a1a; }\n"
    "  .f0 { fill: #1f5fbf; } .f1 { fill: #c0392b; } .f2 { fill: #1e8449; }\n"
    "  .f3 { fill: #8e44ad; } .f4 { fill: #b9770e; } .f5 { fill: #117a8b; }\n"
    "  @media (prefers-color-scheme: dark) {\n"
    "    .bg { fill: #161616; }\n"
    "    text { fill: #e8e8e8; }\n"
    "    .cell { stroke: #aaaaaa; }\n"
    "    .good { fill: #2e6b2e; }\n"
    "    .partly { fill: #5d6e1e; }\n"
    "    .recovered { fill: #8a6d00; }\n"
    "    .dup { fill: #59418f; }\n"
    "    .deleted { fill: #1d5a99; }\n"
    "    .damaged { fill: #8f2456; }\n"
    "    .crc { fill: #a82220; }\n"
    "    .nodata { fill: #b0421b; }\n"
    "    .id { fill: #6b5047; }\n"
    "    .missing { fill: none; }\n"
    "    .sig { fill: #f0f0f0; }\n"
    "    .f0 { fill: #6fa8ff; } .f1 { fill: #ff7b6b; } .f2 { fill: #5fd38d; }\n"
    "    .f3 { fill: #c79bf2; } .f4 { fill: #f5b041; } .f5 { fill: #48c9d8; }\n"
    "  }\n"
    "</style>\n";

std::string Num(long long value) { return std::to_string(value); }

std::string Rect(int x, int y, int width, int height, const std::string& css) {
  return "<rect x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" width=\"" + Num(width) + "\" height=\"" +
         Num(height) + "\" class=\"" + css + "\"/>";
}

std::string Text(int x, int y, const std::string& css, const std::string& xml) {
  return "<text x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" class=\"" + css + "\">" + xml + "</text>";
}

// What a cell shows in place of colour: its state's letter, or for a
// sector read well in only some revolutions, how many of how many.
std::string CellLetter(const MapCell& cell) {
  const CellState state = StateOf(cell);
  if (state == CellState::PartlyRead) {
    return Num(cell.revolutionsGood) + "/" + Num(cell.revolutions);
  }
  const char letter = CellStateLetter(state);
  return letter == ' ' ? std::string() : std::string(1, letter);
}

// "track 12, C6 H0 R7 N3: data CRC error, deleted data; read well in 1 of
// 3 revolutions; file FMSE; signature sector".
std::string CellWords(const DiskMap& map, int track, const MapCell& cell) {
  std::string words = "track " + Num(track) + ", " + IdText(cell.id) + ": ";
  const CellState state = StateOf(cell);
  if (state == CellState::Missing) {
    words += "missing";
  } else {
    std::string marks;
    for (const std::string& name : FlagNames(cell.flags)) {
      marks += (marks.empty() ? "" : ", ") + name;
    }
    if (cell.cutShort) {
      marks += std::string(marks.empty() ? "" : ", ") + "the image file ends inside its data";
    }
    if (cell.shadowed) {
      marks += std::string(marks.empty() ? "" : ", ") + "a later sector of a duplicated ID";
    } else if (cell.duplicated) {
      marks += std::string(marks.empty() ? "" : ", ") + "ID duplicated on the track";
    }
    words += marks.empty() ? "read well" : marks;
    if (cell.revolutions > 0) {
      words += "; read well in " + Num(cell.revolutionsGood) + " of " + Num(cell.revolutions) +
               " revolution" + (cell.revolutions == 1 ? "" : "s");
    }
    if (cell.recoveredFrom > 0) {
      words += "; recovered from " + Num(cell.recoveredFrom) + " bad reads";
    }
  }
  for (const std::size_t file : cell.files) {
    words += "; file " + map.files[file].name;
  }
  if (cell.signature) {
    words += "; signature sector";
  }
  return words;
}

std::size_t WidestRow(const std::vector<ImageMap>& images) {
  std::size_t widest = 8;
  for (const ImageMap& image : images) {
    for (const DiskMap& disk : image.disks) {
      for (const MapRow& row : disk.rows) {
        widest = std::max(widest, row.cells.size());
      }
    }
  }
  return widest;
}

// The text equivalent of a disk's map: what it is, what did not read well
// and where each file lies.
std::string DiskWords(const std::string& imageName, const DiskMap& map) {
  std::string words = imageName + ", disk " + Num(map.number);
  if (!map.name.empty()) {
    words += " \"" + map.name + "\"";
  }
  words += map.known.empty() ? ": not a disk zefacut knows" : ": " + map.known;
  std::size_t sectors = 0;
  std::size_t good = 0;
  std::vector<std::string> bad;
  for (const MapRow& row : map.rows) {
    for (const MapCell& cell : row.cells) {
      ++sectors;
      const CellState state = StateOf(cell);
      if (state == CellState::Good) {
        ++good;
      } else {
        bad.push_back(CellWords(map, row.track, cell));
      }
    }
  }
  words += "; " + Num(static_cast<long long>(map.rows.size())) + " tracks, " +
           Num(static_cast<long long>(sectors)) + " sectors, " + Num(static_cast<long long>(good)) +
           " read well.";
  for (std::size_t i = 0; i < bad.size() && i < kMostBadSectorsTold; ++i) {
    words += " " + bad[i] + ".";
  }
  if (bad.size() > kMostBadSectorsTold) {
    words += " And " + Num(static_cast<long long>(bad.size() - kMostBadSectorsTold)) +
             " more sectors not read well.";
  }
  for (const MapRow& row : map.rows) {
    if (!row.unread.empty()) {
      words += " Track " + Num(row.track) + ": " + row.unread + ".";
    }
  }
  for (const MapFile& file : map.files) {
    words += " File " + file.name + ": " + Num(static_cast<long long>(file.sectors.size())) +
             (file.sectors.size() == 1 ? " sector" : " sectors");
    if (!file.sectors.empty()) {
      words += ", track " + Num(file.sectors.front().track) + " to track " +
               Num(file.sectors.back().track);
    }
    words += ".";
  }
  return words;
}

void DrawLegend(std::string& svg, int top) {
  int x = kMargin;
  int y = top;
  svg += Text(x, y + 12, "sub", "Key:") + "\n";
  x += 40;
  int column = 0;
  for (const StateLook& look : kStateLooks) {
    if (column == kLegendColumns) {
      column = 0;
      x = kMargin + 40;
      y += kLegendRowHeight;
    }
    ++column;
    svg += Rect(x, y, kCellWidth, kCellHeight, std::string("cell ") + look.css);
    // A cell read well in some revolutions shows how many of how many.
    const std::string letter = look.state == CellState::PartlyRead ? std::string("2/3")
                               : look.letter != ' '                ? std::string(1, look.letter)
                                                                   : std::string();
    if (!letter.empty()) {
      svg += Text(x + kCellWidth / 2, y + 12, "letter", letter);
    }
    svg += Text(x + kCellWidth + 6, y + 12, "sub", XmlText(look.name)) + "\n";
    x += kLegendColumn;
  }
  y += kLegendRowHeight;
  x = kMargin + 40;
  svg += Rect(x, y, kCellWidth, kCellHeight, "cell good");
  svg += "<polygon points=\"" + Num(x) + "," + Num(y) + " " + Num(x + 8) + "," + Num(y) + " " +
         Num(x) + "," + Num(y + 8) + "\" class=\"sig\"/>";
  svg += Text(x + kCellWidth + 6, y + 12, "sub", "signature sector (corner mark)");
  x += kLegendColumn;
  svg += Rect(x, y + 2, kCellWidth, kLaneHeight, "f0");
  svg += Rect(x, y + 2 + kLaneHeight + 2, kCellWidth, kLaneHeight, "f1");
  svg += Text(x + kCellWidth + 6, y + 12, "sub",
              "a file's sectors (bars under the cells, named at the right)") +
         "\n";
}

// The states' rows and one for the marks over them.
constexpr int kLegendHeight =
    (static_cast<int>((kCellStates + kLegendColumns - 1) / kLegendColumns) + 1) * kLegendRowHeight +
    8;

void DrawDisk(std::string& svg, const std::string& imageName, const DiskMap& map, int top,
              std::size_t widest) {
  svg += "<g role=\"group\" aria-label=\"" + XmlText(DiskWords(imageName, map)) + "\">\n";
  std::string heading = imageName + ", disk " + Num(map.number);
  if (!map.name.empty()) {
    heading += " \"" + map.name + "\"";
  }
  svg += Text(kMargin, top + 18, "head", XmlText(heading)) + "\n";
  svg += Text(kMargin, top + 34, "sub",
              XmlText(map.known.empty() ? "not a disk zefacut knows" : map.known)) +
         "\n";
  const int cellsLeft = kMargin + kLabelWidth;
  const int filesLeft = cellsLeft + static_cast<int>(widest) * kCellWidth + 12;
  int y = top + kHeadingHeight;
  for (const MapRow& row : map.rows) {
    svg += Text(
        kMargin, y + 12, "label",
        "track " + Num(row.track) + " (C" + Num(row.track / 2) + " H" + Num(row.track % 2) + ")");
    if (!row.unread.empty()) {
      svg += Text(cellsLeft, y + 12, "note", XmlText(row.unread));
    }
    std::set<std::size_t> rowFiles;
    for (std::size_t i = 0; i < row.cells.size(); ++i) {
      const MapCell& cell = row.cells[i];
      const int x = cellsLeft + static_cast<int>(i) * kCellWidth;
      svg += "<g><title>" + XmlText(CellWords(map, row.track, cell)) + "</title>";
      svg += Rect(x, y, kCellWidth, kCellHeight, std::string("cell ") + LookOf(StateOf(cell)).css);
      const std::string letter = CellLetter(cell);
      if (!letter.empty()) {
        svg += Text(x + kCellWidth / 2, y + 12, "letter", letter);
      }
      if (cell.signature) {
        svg += "<polygon points=\"" + Num(x) + "," + Num(y) + " " + Num(x + 8) + "," + Num(y) +
               " " + Num(x) + "," + Num(y + 8) + "\" class=\"sig\"/>";
      }
      for (const std::size_t file : cell.files) {
        rowFiles.insert(file);
        const int lane = static_cast<int>(file % 2);
        svg += Rect(x + 1, y + kCellHeight + 2 + lane * (kLaneHeight + 1), kCellWidth - 2,
                    kLaneHeight, "f" + Num(static_cast<long long>(file % kFileColours)));
      }
      svg += "</g>\n";
    }
    if (!rowFiles.empty()) {
      std::string names;
      for (const std::size_t file : rowFiles) {
        names += (names.empty() ? "" : ", ") + map.files[file].name;
      }
      svg += Text(filesLeft, y + 12, "files", XmlText(names)) + "\n";
    } else {
      svg += "\n";
    }
    y += kRowHeight;
  }
  svg += "</g>\n";
}

int DiskHeight(const DiskMap& map) {
  return kHeadingHeight + static_cast<int>(map.rows.size()) * kRowHeight + kMargin;
}

}  // namespace

std::string DiskMapSvg(const std::vector<ImageMap>& images) {
  const std::size_t widest = WidestRow(images);
  const int width =
      kMargin + kLabelWidth + static_cast<int>(widest) * kCellWidth + 12 + kFileListWidth + kMargin;
  const int legendWidth = kMargin + 40 + kLegendColumns * kLegendColumn + kMargin;
  const int totalWidth = std::max(width, legendWidth);
  int height = kMargin + kLegendHeight;
  std::size_t disks = 0;
  for (const ImageMap& image : images) {
    for (const DiskMap& disk : image.disks) {
      height += DiskHeight(disk);
      ++disks;
    }
  }
  std::string title = "Map of the sectors of ";
  if (images.size() == 1) {
    title += images.front().name;
  } else {
    title += Num(static_cast<long long>(images.size())) + " images";
  }
  std::string desc = "Each row is a track, each cell a sector in its order on the track. " +
                     Num(static_cast<long long>(disks)) + (disks == 1 ? " disk." : " disks.");
  for (const ImageMap& image : images) {
    for (const DiskMap& disk : image.disks) {
      desc += " " + DiskWords(image.name, disk);
    }
  }
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + Num(totalWidth) +
         "\" height=\"" + Num(height) + "\" viewBox=\"0 0 " + Num(totalWidth) + " " + Num(height) +
         "\" role=\"img\" aria-labelledby=\"map-title map-desc\">\n";
  svg += "<title id=\"map-title\">" + XmlText(title) + "</title>\n";
  svg += "<desc id=\"map-desc\">" + XmlText(desc) + "</desc>\n";
  svg += kStyle;
  svg += Rect(0, 0, totalWidth, height, "bg") + "\n";
  DrawLegend(svg, kMargin);
  int top = kMargin + kLegendHeight;
  for (const ImageMap& image : images) {
    for (const DiskMap& disk : image.disks) {
      DrawDisk(svg, image.name, disk, top, widest);
      top += DiskHeight(disk);
    }
  }
  svg += "</svg>\n";
  return svg;
}
