#include "testkit/format_writers.h"

#include <algorithm>

#include "testkit/flux_writers.h"

// One row a format: a new writer is one row here and its value in
// WrittenFormat.
const std::vector<WrittenFormatName>& WrittenFormats() {
  static const std::vector<WrittenFormatName> formats = {
      {WrittenFormat::kD88, "D88", ".d88", [](const DiskSpec& disk) { return BuildImage({disk}); }},
      {WrittenFormat::kRaw, "raw", ".hdm", BuildRaw},
      {WrittenFormat::kFdi, "FDI", ".fdi", BuildFdi},
      {WrittenFormat::kDim, "DIM", ".dim", BuildDim},
      {WrittenFormat::kNfd0, "NFD", ".nfd", [](const DiskSpec& disk) { return BuildNfd(disk, 0); }},
      {WrittenFormat::kNfd1, "NFD", ".nfd", [](const DiskSpec& disk) { return BuildNfd(disk, 1); }},
      {WrittenFormat::kFdd, "FDD", ".fdd", BuildFdd},
      {WrittenFormat::kImd, "IMD", ".imd", BuildImd},
      {WrittenFormat::kHfe1, "HFE", ".hfe", [](const DiskSpec& disk) { return BuildHfe(disk, 1); }},
      {WrittenFormat::kHfe3, "HFE", ".hfe", [](const DiskSpec& disk) { return BuildHfe(disk, 3); }},
      {WrittenFormat::kTd0, "Teledisk", ".td0",
       [](const DiskSpec& disk) { return BuildTd0(disk); }},
      {WrittenFormat::kScp, "SCP", ".scp", [](const DiskSpec& disk) { return BuildScp(disk); }},
      {WrittenFormat::kHxcMfm, "HxC MFM", ".mfm", BuildHxcMfm},
      {WrittenFormat::kMfi, "MFI", ".mfi",
       [](const DiskSpec& disk) {
         return BuildMfi(disk, MfiOptions{false, 0, 0.1});
       }},
      {WrittenFormat::kPsi, "PSI", ".psi", BuildPsi},
      {WrittenFormat::k86f, "86F", ".86f",
       [](const DiskSpec& disk) { return Build86f(disk, 1234); }},
      {WrittenFormat::kPri, "PRI", ".pri", BuildPri},
  };
  return formats;
}

Bytes BuildInFormat(WrittenFormat format, const DiskSpec& disk) {
  const std::vector<WrittenFormatName>& formats = WrittenFormats();
  const auto row =
      std::find_if(formats.begin(), formats.end(),
                   [format](const WrittenFormatName& each) { return each.format == format; });
  return row == formats.end() ? Bytes{} : row->build(disk);
}
