#include "support/format_writers.h"

#include "support/flux_writers.h"

const std::vector<WrittenFormatName> kWrittenFormats = {
    {WrittenFormat::kD88, "D88", ".d88"},        {WrittenFormat::kRaw, "raw", ".hdm"},
    {WrittenFormat::kFdi, "FDI", ".fdi"},        {WrittenFormat::kDim, "DIM", ".dim"},
    {WrittenFormat::kNfd0, "NFD", ".nfd"},       {WrittenFormat::kNfd1, "NFD", ".nfd"},
    {WrittenFormat::kFdd, "FDD", ".fdd"},        {WrittenFormat::kImd, "IMD", ".imd"},
    {WrittenFormat::kHfe1, "HFE", ".hfe"},       {WrittenFormat::kHfe3, "HFE", ".hfe"},
    {WrittenFormat::kTd0, "Teledisk", ".td0"},   {WrittenFormat::kScp, "SCP", ".scp"},
    {WrittenFormat::kHxcMfm, "HxC MFM", ".mfm"}, {WrittenFormat::kMfi, "MFI", ".mfi"},
    {WrittenFormat::kPsi, "PSI", ".psi"},        {WrittenFormat::k86f, "86F", ".86f"},
    {WrittenFormat::kPri, "PRI", ".pri"},
};

Bytes BuildInFormat(WrittenFormat format, const DiskSpec& disk) {
  switch (format) {
    case WrittenFormat::kD88:
      return BuildImage({disk});
    case WrittenFormat::kRaw:
      return BuildRaw(disk);
    case WrittenFormat::kFdi:
      return BuildFdi(disk);
    case WrittenFormat::kDim:
      return BuildDim(disk);
    case WrittenFormat::kNfd0:
      return BuildNfd(disk, 0);
    case WrittenFormat::kNfd1:
      return BuildNfd(disk, 1);
    case WrittenFormat::kFdd:
      return BuildFdd(disk);
    case WrittenFormat::kImd:
      return BuildImd(disk);
    case WrittenFormat::kHfe1:
      return BuildHfe(disk, 1);
    case WrittenFormat::kHfe3:
      return BuildHfe(disk, 3);
    case WrittenFormat::kTd0:
      return BuildTd0(disk);
    case WrittenFormat::kScp:
      return BuildScp(disk);
    case WrittenFormat::kHxcMfm:
      return BuildHxcMfm(disk);
    case WrittenFormat::kPri:
      return BuildPri(disk);
    case WrittenFormat::k86f:
      return Build86f(disk, 1234);
    case WrittenFormat::kPsi:
      return BuildPsi(disk);
    case WrittenFormat::kMfi:
      return BuildMfi(disk, MfiOptions{false, 0, 0.1});
  }
  return {};
}
