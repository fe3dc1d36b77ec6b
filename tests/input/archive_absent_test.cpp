// The archive module built without libarchive, as a build configured with
// -DZEFACUT_ARCHIVES=OFF has it: it reads no archive and says so, and still
// tells an archive by its magic bytes, so that the tool can say why it does
// not read one.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "input/archive.h"
#include "input/byte_source.h"

namespace {

// A source that counts the reads asked of it: this build asks none.
class CountingSource : public ByteSource {
 public:
  std::int64_t Size() const override { return 4096; }
  int Error() const override { return 0; }
  std::size_t ReadAt(std::int64_t /*offset*/, unsigned char* /*dest*/,
                     std::size_t /*length*/) override {
    ++reads;
    return 0;
  }

  int reads = 0;
};

TEST(ArchiveAbsentTest, NoArchiveIsReadAndTheReasonSaysWhat) {
  EXPECT_FALSE(ArchivesRead());
  int visits = 0;
  CountingSource source;
  const std::string reason =
      ForEachMember(source, "any.zip", [&visits](const ArchiveMember& /*member*/) { ++visits; });
  EXPECT_EQ(reason, "this build of the tool reads no archives; unpack the archive first");
  EXPECT_EQ(visits, 0);
  EXPECT_EQ(source.reads, 0);
}

TEST(ArchiveAbsentTest, ArchivesAreStillToldByTheirMagic) {
  // A ZIP member's local header (version 2.0, deflate, the rest 0) and the
  // start of a gzip file.
  const unsigned char zip[30] = {'P', 'K', 3, 4, 20, 0, 0, 0, 8, 0};
  const unsigned char gzip[] = {0x1F, 0x8B, 8, 0};
  EXPECT_STREQ(ArchiveFormat(zip, sizeof zip), "ZIP");
  EXPECT_STREQ(ArchiveFormat(gzip, sizeof gzip), "gzip");
}

}  // namespace
