// Reads any input as an archive or compressed file, as the tool reads one:
// the magic bytes decide whether it is one, libarchive (and zlib, for gzip)
// read its members from the input in memory through the reader's callbacks,
// and every member visited must keep to the size cap. Nothing read may
// fault, whatever the damage.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "input/archive.h"
#include "input/byte_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::unique_ptr<ByteSource> source =
      MemorySource(std::vector<unsigned char>(data, data + size));
  const std::size_t head = size < 4096 ? size : 4096;
  const char* format = ArchiveFormat(data, head);
  int visits = 0;
  const std::string reason =
      ForEachMember(*source, "archive.d88.gz", [&visits](const ArchiveMember& member) {
        ++visits;
        Require(member.bytes.size() <= static_cast<std::uint64_t>(kMaxImageBytes));
        Require(!member.tooLarge || member.bytes.empty());
      });
  // The same magic decides both: a file that is no archive by its first
  // bytes is read as none.
  Require((format == nullptr) == (reason == "not an archive"));
  Require(format != nullptr || visits == 0);
  return 0;
}
