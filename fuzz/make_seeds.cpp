// Writes the fuzz seed corpus with the image builder: each known disk with
// only the tracks its reads need, a disk of no known kind, and damaged
// variants. Run it again after changing what it makes:
//   make_fuzz_seeds fuzz/corpus
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "testkit/flux_writers.h"
#include "testkit/format_writers.h"
#include "testkit/image_builder.h"
#include "testkit/kryoflux_writer.h"

namespace {

// Keeps only the listed tracks of a disk.
DiskSpec OnlyTracks(DiskSpec disk, const std::vector<int>& keep) {
  std::map<int, TrackSpec> kept;
  for (int track : keep) {
    kept[track] = disk.tracks.at(track);
  }
  disk.tracks = kept;
  return disk;
}

std::vector<int> Range(int from, int to, std::vector<int> more = {}) {
  for (int track = from; track <= to; ++track) {
    more.push_back(track);
  }
  return more;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s FOLDER\n", argc > 0 ? argv[0] : "make_fuzz_seeds");
    return 1;
  }
  const std::string folder = argv[1];
  std::vector<std::pair<std::string, Bytes>> seeds;
  const std::vector<std::vector<int>> needed = {
      Range(12, 22, {1, 4, 5, 6}),  // Title1DiskA
      {1},                          // Title1DiskB
      Range(0, 3),                  // Title2DiskA
      Range(5, 13, {0}),            // Title2DiskB
      Range(5, 13, {0}),            // Title2UserDisk
      Range(0, 3),                  // Title3DiskA
      Range(7, 15, {0}),            // Title3DiskB
      Range(7, 15, {0}),            // Title3UserDisk
  };
  for (int kind = 0; kind < 8; ++kind) {
    const DiskSpec disk = OnlyTracks(KnownDisk(kind, 10U + kind, 23), needed[kind]);
    seeds.emplace_back(kKnownSignatures[kind].kind, BuildImage({disk}));
  }
  seeds.emplace_back("unsupported", BuildImage({OnlyTracks(PlainDisk(2, 7), {0, 1})}));

  // Damaged variants.
  const DiskSpec title1 = OnlyTracks(KnownDisk(0, 20, 23), needed[0]);
  Bytes truncated = BuildImage({title1});
  truncated.resize(truncated.size() - 40000);
  seeds.emplace_back("truncated-title1", truncated);

  DiskSpec noTrack16 = title1;
  noTrack16.tracks.erase(16);
  seeds.emplace_back("title1-no-track-16", BuildImage({noTrack16}));

  DiskSpec badCounts = OnlyTracks(KnownDisk(2, 21, 4), Range(0, 3));
  for (auto& sector : badCounts.tracks[1].sectors) {
    sector.count = 3;
  }
  badCounts.tracks[0].sectors[0].count = 0;
  seeds.emplace_back("title2a-bad-counts", BuildImage({badCounts}));

  DiskSpec shortSectors = OnlyTracks(KnownDisk(3, 22, 14), Range(5, 13, {0}));
  shortSectors.tracks[6].sectors[2].data.resize(100);
  shortSectors.tracks[7].sectors[0].dataSize = 0;
  shortSectors.trackTableOverrides[11] = 0xFFFFFFF0U;
  seeds.emplace_back("title2b-short-sectors", BuildImage({shortSectors}));

  // A known disk, then a disk whose identification sector is cut short.
  DiskSpec stale = OnlyTracks(PlainDisk(2, 23), {0, 1});
  stale.tracks[1].sectors[4].data.resize(12);
  seeds.emplace_back("stale-signature", BuildImage({OnlyTracks(KnownDisk(1, 24, 2), {1}), stale}));

  DiskSpec sizeZero = OnlyTracks(KnownDisk(1, 25, 2), {1});
  sizeZero.sizeField = 0;
  seeds.emplace_back("size-zero", BuildImage({sizeZero}));

  DiskSpec huge = OnlyTracks(KnownDisk(1, 26, 2), {1});
  huge.sizeField = 0x80000000U;
  seeds.emplace_back("size-2g", BuildImage({OnlyTracks(PlainDisk(1, 27), {0}), huge}));

  seeds.emplace_back("empty", Bytes{});
  seeds.emplace_back("header-only", BuildImage({DiskSpec{}}));

  // The other formats: ZEFA LOMRI 2 Disk A (tracks 0 to 3) in each, as small
  // as the format allows, and one damaged form of each.
  const DiskSpec title2a = OnlyTracks(KnownDisk(2, 30, 4), Range(0, 3));
  for (const WrittenFormatName& format : WrittenFormats()) {
    if (format.format == WrittenFormat::kD88 || format.format == WrittenFormat::kScp) {
      continue;  // flux dumps of whole tracks are too large for seeds: below
    }
    // MFI's flux changes as written, not moved at random: zlib packs them
    // tight.
    Bytes bytes = format.format == WrittenFormat::kMfi ? BuildMfi(title2a)
                                                       : BuildInFormat(format.format, title2a);
    if (format.format == WrittenFormat::kFdi) {
      // Two cylinders instead of 77: the header's data size and cylinder
      // count, and the data they give.
      constexpr std::size_t kFdiHeader = 4096;
      constexpr std::uint32_t kData = 2 * 2 * 8 * 1024;
      for (int i = 0; i < 4; ++i) {
        bytes[0x0C + i] = static_cast<std::uint8_t>(kData >> (8 * i));
        bytes[0x1C + i] = static_cast<std::uint8_t>(i == 0 ? 2 : 0);
      }
      bytes.resize(kFdiHeader + kData);
    } else if (format.format == WrittenFormat::kDim) {
      // Cut after track 3: the tracks after it are absent.
      bytes.resize(0x100 + 4 * 8 * 1024);
    }
    std::string name =
        std::string("title2a-") + (format.format == WrittenFormat::kNfd1   ? "nfd1"
                                   : format.format == WrittenFormat::kHfe3 ? "hfe3"
                                                                           : format.name);
    std::replace(name.begin(), name.end(), ' ', '-');
    if (format.format != WrittenFormat::kRaw) {
      Bytes cutShort = bytes;
      cutShort.resize(cutShort.size() * 2 / 3);
      seeds.emplace_back(name + "-truncated" + format.extension, cutShort);
    }
    seeds.emplace_back(name + format.extension, bytes);
  }

  // Teledisk compressed (LZHUF), whole and cut short; the normal form is
  // among the formats above.
  Td0Options packed;
  packed.compressed = true;
  packed.comment = "zefacut seed";
  Bytes td0 = BuildTd0(title2a, packed);
  seeds.emplace_back("title2a-td0-compressed.td0", td0);
  Bytes damagedTd0 = td0;
  damagedTd0[damagedTd0.size() / 2] ^= 0x10;  // decodes to records that make no sense
  seeds.emplace_back("title2a-td0-compressed-damaged.td0", damagedTd0);
  td0.resize(td0.size() * 2 / 3);
  seeds.emplace_back("title2a-td0-compressed-truncated.td0", td0);

  // Raw images of other usual sizes: a 160 KB PC disk whose boot sector's
  // BPB names it (its size fits two layouts), and a 2D disk without one.
  const RawGeometry pc160{40, 1, 8, 512};
  seeds.emplace_back("pc160k.img", BuildRawOf(pc160, &pc160));
  seeds.emplace_back("2d.img", BuildRawOf({40, 2, 16, 256}));

  // A KryoFlux stream, read from memory as its dump's only track: flux of
  // every block kind over two revolutions, and the stream cut short.
  KryoFluxTrackSpec flux;
  for (std::uint32_t i = 0; i < 400; ++i) {
    flux.intervals.push_back(i % 50 == 49 ? 0x10000 + i : i % 7 == 6 ? 0x900 + i : 48 + i % 3 * 24);
  }
  flux.indexes = {10, 200, 390};
  KryoFluxWriteOptions blocks;
  blocks.nops = true;
  blocks.streamInfoEvery = 256;
  blocks.indexLag = 2;
  const Bytes stream = KryoFluxStream(flux, blocks);
  seeds.emplace_back("kryoflux-track00.0.raw", stream);
  seeds.emplace_back("kryoflux-truncated.raw", Bytes(stream.begin(), stream.begin() + 300));

  // SCP: two tracks of one 128-byte sector each, spun fast enough that a
  // revolution is some 2,000 flux changes; one with a sector read badly
  // in one revolution, one side only in extended mode, and one cut short.
  DiskSpec small;
  for (int track = 0; track < 2; ++track) {
    SectorSpec sector;
    sector.c = 0;
    sector.h = static_cast<std::uint8_t>(track);
    sector.r = 1;
    sector.n = 0;
    sector.data = PatternSector(40, track, 1, 128);
    small.tracks[track].sectors.push_back(sector);
  }
  ScpOptions scp;
  scp.flux.revolutions = 2;
  scp.flux.rpm = 10000;
  seeds.emplace_back("small.scp", BuildScp(small, scp));
  ScpOptions spoilt = scp;
  spoilt.flux.damage = {{1, 1, {0}, std::nullopt, std::nullopt}};
  Bytes cutShort = BuildScp(small, spoilt);
  seeds.emplace_back("small-spoilt.scp", cutShort);
  cutShort.resize(cutShort.size() - 3000);
  seeds.emplace_back("small-truncated.scp", cutShort);
  ScpOptions oneSide = scp;
  oneSide.heads = 2;
  oneSide.extended = true;
  oneSide.flux.revolutions = 1;
  seeds.emplace_back("small-side1-extended.scp", BuildScp(small, oneSide));
  // One side in today's layout and in the older one, a header damaged past
  // what identification passes over, and a bad checksum.
  ScpOptions sideZero = scp;
  sideZero.heads = 1;
  seeds.emplace_back("small-side0.scp", BuildScp(small, sideZero));
  sideZero.byCylinder = true;
  seeds.emplace_back("small-side0-by-cylinder.scp", BuildScp(small, sideZero));
  Bytes threeHeads = BuildScp(small, scp);
  threeHeads[0x0A] = 3;
  seeds.emplace_back("small-three-heads.scp", threeHeads);
  ScpOptions badSum = scp;
  badSum.badChecksum = true;
  seeds.emplace_back("small-bad-checksum.scp", BuildScp(small, badSum));

  // Three cylinders read in a 96 tpi drive, the odd physical tracks echoes;
  // and the same flux as KryoFlux streams without KFInfo.
  DiskSpec steps;
  for (int track = 0; track < 6; ++track) {
    SectorSpec sector;
    sector.c = static_cast<std::uint8_t>(track / 2);
    sector.h = static_cast<std::uint8_t>(track % 2);
    sector.r = 1;
    sector.n = 0;
    sector.data = PatternSector(41, track, 1, 128);
    steps.tracks[track].sectors.push_back(sector);
  }
  ScpOptions stepped = scp;
  stepped.flux.revolutions = 1;
  stepped.doubleStepped = true;
  stepped.echoes = true;
  stepped.flag96Tpi = true;
  seeds.emplace_back("small-96tpi.scp", BuildScp(steps, stepped));
  KryoFluxWriteOptions bare;
  bare.kfInfo = false;
  seeds.emplace_back("kryoflux-no-kfinfo.raw", KryoFluxStream(flux, bare));

  // FM: track 0 of a PC-98 2HD disk (26 sectors of 128 bytes, one with a
  // bad data CRC, one deleted) in HFE, and the small SCP's sectors in FM,
  // spun a little slower so that a revolution holds the longer FM track.
  DiskSpec fmTrackZero;
  fmTrackZero.tracks[0] = FmTrackZero(41);
  fmTrackZero.tracks[0].sectors[2].status = 0xB0;
  fmTrackZero.tracks[0].sectors[4].deletedMark = 0x10;
  seeds.emplace_back("fm-track0.hfe", BuildHfe(fmTrackZero, 1));
  DiskSpec smallFm = small;
  for (auto& entry : smallFm.tracks) {
    entry.second.sectors.front().density = kFmDensity;
  }
  ScpOptions fmScp = scp;
  fmScp.flux.rpm = 7000;
  seeds.emplace_back("small-fm.scp", BuildScp(smallFm, fmScp));

  for (const auto& [name, bytes] : seeds) {
    std::string path = folder;
    path += '/';
    path += name;
    if (name.find('.') == std::string::npos) {
      path += ".d88";
    }
    if (!WriteFileBytes(path, bytes)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
