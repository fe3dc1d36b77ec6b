// The archive reader of a build without libarchive (configured with
// -DZEFACUT_ARCHIVES=OFF): it reads no member and says why. The magic bytes
// are still told (archive_magic.cpp), so that the tool names the archive it
// does not read.
#include "input/archive.h"

std::string ForEachMember(ByteSource& /*source*/, const std::string& /*archiveName*/,
                          const std::function<void(ArchiveMember&)>& /*visit*/,
                          std::uint64_t /*cap*/, const LargeMembers* /*large*/) {
  return "this build of the tool reads no archives; unpack the archive first";
}

bool ArchivesRead() { return false; }
