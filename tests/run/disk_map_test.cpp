// The map of a disk over images built in memory: each sector's state, the
// known disks' files laid over their sectors, the signature sectors, flux
// revolutions; and the SVG drawn from it, checked to be well-formed XML that
// holds its legend and every name escaped.
#include "run/disk_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "known/known_disks.h"
#include "platform/text_form.h"
#include "support/format_test_helpers.h"
#include "testkit/flux_writers.h"
#include "testkit/image_builder.h"

namespace {

const MapRow* RowOf(const DiskMap& map, int track) {
  const auto row = std::find_if(map.rows.begin(), map.rows.end(),
                                [track](const MapRow& r) { return r.track == track; });
  return row == map.rows.end() ? nullptr : &*row;
}

DiskMap MapOf(const Bytes& bytes) {
  const OpenedImage opened = Open(bytes);
  if (!opened.image) {
    ADD_FAILURE() << "the image does not open";
    return {};
  }
  return MapDisk(*opened.image, 0);
}

// The Rs of a row's cells, in the map's order.
std::vector<int> RsOf(const MapRow& row) {
  std::vector<int> rs(row.cells.size());
  std::transform(row.cells.begin(), row.cells.end(), rs.begin(),
                 [](const MapCell& cell) { return cell.id.r; });
  return rs;
}

// --- The cells of a sector container -------------------------------------------------

TEST(DiskMapTest, EachSectorInTheStateTheImageGivesIt) {
  DiskSpec disk = PlainDisk(4, 3);
  std::vector<SectorSpec>& two = disk.tracks[2].sectors;
  two[2].status = 0xB0;       // R3: data CRC error
  two[3].deletedMark = 0x10;  // R4: deleted data
  two[5].status = 0xA0;       // R6: ID CRC error
  two[6].status = 0xF0;       // R7: no data mark
  RemoveSector(disk, 2, 5);   // R5: gone
  // Track 3 records R2 twice: the first is what a drive reads by ID.
  SectorSpec again = disk.tracks[3].sectors[1];
  again.data = PatternSector(99, 3, 2);
  disk.tracks[3].sectors.push_back(again);
  const DiskMap map = MapOf(BuildImage({disk}));

  EXPECT_EQ(map.number, 1);
  EXPECT_EQ(map.known, "");
  ASSERT_EQ(map.rows.size(), 4U);
  const MapRow& row = map.rows[2];
  // The missing sector stands where its R belongs.
  EXPECT_EQ(RsOf(row), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
  struct Case {
    int track;
    int cell;
    CellState state;
  };
  const Case cases[] = {
      {2, 0, CellState::Good},        {2, 2, CellState::DataCrcError},
      {2, 3, CellState::DeletedData}, {2, 4, CellState::Missing},
      {2, 5, CellState::IdError},     {2, 6, CellState::NoData},
      {3, 1, CellState::Duplicated},  {3, 8, CellState::Duplicated},
      {3, 2, CellState::Good},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("track " + std::to_string(c.track) + " cell " + std::to_string(c.cell));
    const MapRow* at = RowOf(map, c.track);
    ASSERT_NE(at, nullptr);
    const auto cell = static_cast<std::size_t>(c.cell);
    ASSERT_LT(cell, at->cells.size());
    EXPECT_EQ(StateOf(at->cells[cell]), c.state);
  }
  const MapCell& missing = row.cells[4];
  EXPECT_FALSE(missing.present);
  EXPECT_EQ(missing.id, (SectorId{1, 0, 5, 3}));
  const MapRow& three = map.rows[3];
  EXPECT_FALSE(three.cells[1].shadowed);
  EXPECT_TRUE(three.cells[8].shadowed);
  // A disk of no known kind: the sectors its signatures were compared in.
  EXPECT_TRUE(map.rows[0].cells[0].signature);
  EXPECT_TRUE(map.rows[1].cells[4].signature);
  EXPECT_TRUE(map.files.empty());
}

TEST(DiskMapTest, TheWorstMarkDecidesACellsState) {
  MapCell cell;
  cell.flags = kDeletedData | kDataCrcError;
  EXPECT_EQ(StateOf(cell), CellState::DataCrcError);
  cell.duplicated = true;
  EXPECT_EQ(StateOf(cell), CellState::DataCrcError);
  cell.flags = kNoAddressMark;
  EXPECT_EQ(StateOf(cell), CellState::IdError);
  cell.flags = kImageCheckFails;
  EXPECT_EQ(StateOf(cell), CellState::ImageDamaged);
  cell.flags = 0;
  EXPECT_EQ(StateOf(cell), CellState::Duplicated);
  cell.present = false;
  EXPECT_EQ(StateOf(cell), CellState::Missing);
}

TEST(DiskMapTest, ASectorWhoseDataTheFileCutsIsDamagedAndTheRestMissing) {
  const DiskSpec disk = PlainDisk(2, 5);
  Bytes image = BuildImage({disk});
  // The file ends 100 bytes into the data of track 1's fourth sector.
  constexpr std::size_t kSectorHeader = 16;
  image.resize(SectorHeaderOffset(disk, 1, 3) + kSectorHeader + 100);
  const DiskMap map = MapOf(image);
  const MapRow* row = RowOf(map, 1);
  ASSERT_NE(row, nullptr);
  ASSERT_EQ(RsOf(*row), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(StateOf(row->cells[2]), CellState::Good);
  EXPECT_TRUE(row->cells[3].cutShort);
  EXPECT_EQ(StateOf(row->cells[3]), CellState::ImageDamaged);
  for (std::size_t i = 4; i < 8; ++i) {
    EXPECT_EQ(StateOf(row->cells[i]), CellState::Missing) << i;
  }
}

TEST(DiskMapTest, TracksTheImageLacksAreShownOnlyWhereTheirSideIs) {
  // One side only: the other side's tracks are no gap.
  DiskSpec oneSide = PlainDisk(6, 4);
  oneSide.tracks.erase(1);
  oneSide.tracks.erase(3);
  oneSide.tracks.erase(5);
  const DiskMap single = MapOf(BuildImage({oneSide}));
  ASSERT_EQ(single.rows.size(), 3U);
  EXPECT_EQ(single.rows[1].track, 2);

  DiskSpec gap = PlainDisk(6, 4);
  gap.tracks.erase(2);
  const DiskMap both = MapOf(BuildImage({gap}));
  const MapRow* row = RowOf(both, 2);
  ASSERT_NE(row, nullptr);
  EXPECT_TRUE(row->cells.empty());
  EXPECT_EQ(row->unread, "not in the image");
}

// --- A known disk --------------------------------------------------------------------

TEST(DiskMapTest, AKnownDisksFilesLieOverTheirSectors) {
  // ZEFA LOMRI 2 Disk B: FMSE is 3124 bytes from byte 497 of track 12 R5, so
  // R5 to R8; R6 fails its CRC and R7 is gone.
  DiskSpec disk = KnownDisk(3, 21);
  disk.tracks[12].sectors[5].status = 0xB0;
  RemoveSector(disk, 12, 7);
  const DiskMap map = MapOf(BuildImage({disk}));
  EXPECT_EQ(map.known, "ZEFA LOMRI 2 Disk B");
  EXPECT_EQ(map.name, "Title2DiskB");
  ASSERT_EQ(map.files.size(), 4U);
  const MapFile& fmse = map.files[1];
  EXPECT_EQ(fmse.name, "FMSE");
  std::vector<std::pair<int, std::size_t>> places(fmse.sectors.size());
  std::transform(fmse.sectors.begin(), fmse.sectors.end(), places.begin(),
                 [](const MapPlace& place) { return std::make_pair(place.track, place.cell); });
  EXPECT_EQ(places, (std::vector<std::pair<int, std::size_t>>{{12, 4}, {12, 5}, {12, 6}, {12, 7}}));
  const MapRow* row = RowOf(map, 12);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(StateOf(row->cells[5]), CellState::DataCrcError);
  EXPECT_EQ(StateOf(row->cells[6]), CellState::Missing);
  EXPECT_EQ(row->cells[6].files, (std::vector<std::size_t>{1}));
  // BEEPSE runs from track 12 R8 into track 13: that sector holds both.
  EXPECT_EQ(row->cells[7].files, (std::vector<std::size_t>{1, 3}));
  // FMBGM: 41,279 bytes from track 5 R3, 41 sectors.
  EXPECT_EQ(map.files[0].sectors.size(), 41U);
  EXPECT_EQ(map.files[0].sectors.front().track, 5);
  EXPECT_EQ(map.files[0].sectors.back().track, 10);
  // The boot sector's label told this disk; the identification sector is
  // no signature of it.
  EXPECT_TRUE(map.rows[0].cells[0].signature);
  EXPECT_FALSE(map.rows[1].cells[4].signature);
}

TEST(DiskMapTest, AFileBeyondTheImagesTracksIsMissing) {
  // Twelve tracks: BEEPBGM ends in track 12 R1 to R5, FMSE is R5 to R8 of
  // it, and the image holds no track 12.
  const DiskMap map = MapOf(BuildImage({KnownDisk(3, 22, 12)}));
  const MapRow* row = RowOf(map, 12);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(RsOf(*row), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
  for (const MapCell& cell : row->cells) {
    EXPECT_EQ(StateOf(cell), CellState::Missing);
  }
  EXPECT_EQ(row->cells[4].files, (std::vector<std::size_t>{1, 2}));
  EXPECT_EQ(map.files[1].sectors.size(), 4U);
  EXPECT_EQ(map.files[2].sectors.size(), 19U);
}

// --- Flux ----------------------------------------------------------------------------

TEST(DiskMapTest, FluxSectorsTellHowManyRevolutionsReadThemWell) {
  const DiskSpec disk = PlainDisk(2, 30);
  ScpOptions options;
  options.flux.damage = {
      {0, 2, {0}, std::nullopt, std::nullopt},   // bad in one revolution
      {0, 3, {}, std::size_t{5}, std::nullopt},  // the same byte in all
      {0, 4, {}, std::nullopt, std::nullopt},    // a different byte each
  };
  const DiskMap map = MapOf(BuildScp(disk, options));
  const MapRow* row = RowOf(map, 0);
  ASSERT_NE(row, nullptr);
  ASSERT_EQ(row->cells.size(), 8U);
  EXPECT_EQ(StateOf(row->cells[0]), CellState::Good);
  EXPECT_EQ(row->cells[0].revolutionsGood, 3);
  EXPECT_EQ(row->cells[0].revolutions, 3);
  EXPECT_EQ(StateOf(row->cells[1]), CellState::PartlyRead);
  EXPECT_EQ(row->cells[1].revolutionsGood, 2);
  EXPECT_EQ(StateOf(row->cells[2]), CellState::DataCrcError);
  EXPECT_EQ(StateOf(row->cells[3]), CellState::Recovered);
  EXPECT_EQ(row->cells[3].recoveredFrom, 3);
  // The drawing says it without colour too.
  const std::string svg = DiskMapSvg({{"dump.scp", {map}}});
  EXPECT_NE(svg.find(">2/3</text>"), std::string::npos);
  EXPECT_NE(svg.find("read well in 2 of 3 revolutions"), std::string::npos);
  EXPECT_NE(svg.find("recovered from 3 bad reads"), std::string::npos);
}

// --- The SVG -------------------------------------------------------------------------

// Whether text is well-formed XML as far as the drawing uses it: one root,
// every tag closed in order, attributes quoted, no markup character loose
// in text or values, only XML's own entities, and valid UTF-8. Empty when
// it is; otherwise what is wrong and where.
std::string XmlFault(const std::string& xml) {
  for (std::size_t at = 0; at < xml.size();) {
    const Utf8Step step = NextUtf8(xml, at);
    if (!step.valid) {
      return "a byte that is no UTF-8 at " + std::to_string(at);
    }
    if (step.code < 0x20 && step.code != '\n' && step.code != '\t') {
      return "a control character at " + std::to_string(at);
    }
    at += step.length;
  }
  const auto entityFault = [&xml](std::size_t from, std::size_t to) -> std::string {
    for (std::size_t at = from; at < to; ++at) {
      if (xml[at] == '<' || xml[at] == '>') {
        return "a loose '" + std::string(1, xml[at]) + "' at " + std::to_string(at);
      }
      if (xml[at] == '&') {
        bool known = false;
        for (const char* entity : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"}) {
          known = known || xml.compare(at, std::char_traits<char>::length(entity), entity) == 0;
        }
        if (!known) {
          return "an unknown entity at " + std::to_string(at);
        }
      }
    }
    return {};
  };
  std::vector<std::string> open;
  bool rooted = false;
  std::size_t at = 0;
  if (xml.compare(0, 5, "<?xml") == 0) {
    at = xml.find("?>");
    if (at == std::string::npos) {
      return "an unclosed declaration";
    }
    at += 2;
  }
  while (at < xml.size()) {
    const std::size_t tag = xml.find('<', at);
    const std::size_t textEnd = tag == std::string::npos ? xml.size() : tag;
    if (open.empty() && xml.find_first_not_of(" \n", at) < textEnd) {
      return "text outside the root at " + std::to_string(at);
    }
    std::string fault = entityFault(at, textEnd);
    if (!fault.empty()) {
      return fault;
    }
    if (tag == std::string::npos) {
      break;
    }
    const bool closing = xml.compare(tag, 2, "</") == 0;
    std::size_t p = tag + (closing ? 2 : 1);
    const std::size_t nameStart = p;
    while (p < xml.size() && (std::isalnum(static_cast<unsigned char>(xml[p])) != 0 ||
                              xml[p] == '-' || xml[p] == ':' || xml[p] == '_')) {
      ++p;
    }
    const std::string name = xml.substr(nameStart, p - nameStart);
    if (name.empty()) {
      return "a tag with no name at " + std::to_string(tag);
    }
    if (closing) {
      if (open.empty() || open.back() != name) {
        return "</" + name + "> closes nothing open at " + std::to_string(tag);
      }
      open.pop_back();
      if (p >= xml.size() || xml[p] != '>') {
        return "a closing tag not ended at " + std::to_string(tag);
      }
      at = p + 1;
      continue;
    }
    if (open.empty() && rooted) {
      return "a second root at " + std::to_string(tag);
    }
    // Attributes: name="value", each value free of markup.
    while (true) {
      while (p < xml.size() && (xml[p] == ' ' || xml[p] == '\n')) {
        ++p;
      }
      if (p >= xml.size()) {
        return "a tag not ended at " + std::to_string(tag);
      }
      if (xml[p] == '>' || xml.compare(p, 2, "/>") == 0) {
        break;
      }
      const std::size_t equals = xml.find('=', p);
      if (equals == std::string::npos || equals + 1 >= xml.size() || xml[equals + 1] != '"') {
        return "an attribute not quoted at " + std::to_string(p);
      }
      const std::size_t end = xml.find('"', equals + 2);
      if (end == std::string::npos) {
        return "an attribute not ended at " + std::to_string(p);
      }
      fault = entityFault(equals + 2, end);
      if (!fault.empty()) {
        return fault;
      }
      p = end + 1;
    }
    rooted = true;
    if (xml[p] == '/') {
      at = p + 2;
    } else {
      open.push_back(name);
      at = p + 1;
    }
  }
  if (!open.empty()) {
    return "<" + open.back() + "> left open";
  }
  return rooted ? std::string() : "no root";
}

TEST(DiskMapSvgTest, TheCheckOfWellFormedXmlFindsFaults) {
  const struct {
    const char* xml;
    bool good;
  } cases[] = {
      {"<svg a=\"1\"><g><rect/></g><text>a &amp; b</text></svg>", true},
      {"<svg><g></svg>", false},
      {"<svg><text>a & b</text></svg>", false},
      {"<svg><text>a < b</text></svg>", false},
      {"<svg a=\"<\"/>", false},
      {"<svg a=1/>", false},
      {"<svg/><svg/>", false},
      {"<svg>\xff</svg>", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(XmlFault(c.xml).empty(), c.good) << c.xml << ": " << XmlFault(c.xml);
  }
}

TEST(DiskMapSvgTest, XmlTextEscapesMarkupAndWhatALineShowsEscaped) {
  const struct {
    const char* text;
    const char* xml;
  } cases[] = {
      {"FMSE", "FMSE"},
      {"a&b<c>", "a&amp;b&lt;c&gt;"},
      {"\"it's\"", "&quot;it&apos;s&quot;"},
      {"tab\there", "tab\\x09here"},
      {"\xff.d88", "\\xff.d88"},
      {"\xEF\xBF\xBE", "\\ufffe"},
      {"\xE2\x80\xAE"
       "evil",
       "\\u202eevil"},
      {"\xE9\x9F\xB3", "\xE9\x9F\xB3"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(XmlText(c.text), c.xml) << c.text;
  }
}

TEST(DiskMapSvgTest, TheDrawingIsWellFormedWithItsLegendAndEscapedNames) {
  // A disk name of markup and a byte that makes no Shift-JIS, and an image
  // name that is no UTF-8: all shown as the tools show them.
  DiskSpec known = KnownDisk(3, 23, 14);
  known.name = "<A&B>\"\x01\x81";
  known.tracks[12].sectors[5].status = 0xB0;
  DiskSpec other = PlainDisk(2, 24);
  other.name = "plain";
  const OpenedImage opened = Open(BuildImage({known, other}));
  ASSERT_TRUE(opened.image);
  const ImageMap image = MapImage(*opened.image, "x<\xff>.d88");
  ASSERT_EQ(image.disks.size(), 2U);
  const std::string svg = DiskMapSvg({image});
  EXPECT_EQ(XmlFault(svg), "");
  EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg ", 0), 0U);
  for (const char* part :
       {"<title id=\"map-title\">", "<desc id=\"map-desc\">", "prefers-color-scheme: dark",
        "aria-labelledby=\"map-title map-desc\"",
        "x&lt;\\xff&gt;.d88, disk 1 &quot;&lt;A&amp;B&gt;&quot;\\x01\\x81&quot;",
        ">ZEFA LOMRI 2 Disk B</text>", ">not a disk zefacut knows</text>",
        ">FMSE, BEEPBGM, BEEPSE</text>", "track 12, C6 H0 R6 N3: data CRC error; file FMSE"}) {
    EXPECT_NE(svg.find(part), std::string::npos) << part;
  }
  // The legend names every state, with the letter it is shown by.
  for (std::size_t i = 0; i < kCellStates; ++i) {
    const auto state = static_cast<CellState>(i);
    EXPECT_NE(svg.find(">" + XmlText(CellStateName(state)) + "</text>"), std::string::npos)
        << CellStateName(state);
    const char letter = CellStateLetter(state);
    if (letter != ' ') {
      EXPECT_NE(svg.find(std::string(">") + letter + "</text>"), std::string::npos) << letter;
    }
  }
  // The text equivalent tells the bad sector with its file.
  const std::size_t descEnd = svg.find("</desc>");
  EXPECT_LT(svg.find("track 12, C6 H0 R6 N3: data CRC error; file FMSE."), descEnd);
  EXPECT_LT(svg.find("File FMSE: 4 sectors, track 12 to track 12."), descEnd);
}

TEST(DiskMapSvgTest, NoDisksStillMakeADocument) {
  EXPECT_EQ(XmlFault(DiskMapSvg({})), "");
  EXPECT_EQ(XmlFault(DiskMapSvg({{"empty.d88", {}}})), "");
}

}  // namespace
