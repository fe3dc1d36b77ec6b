// d88info [--json] IMAGE: lists the disks of a disk image, the sector IDs of
// their tracks, and what zefacut makes of each disk.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "d88info/listing.h"
#include "formats/archive.h"
#include "formats/open_image.h"
#include "platform/portable.h"

int main(int argc, char** argv) {
  UseBinaryStandardStreams();
  const std::vector<std::string> arguments = ProgramArguments(argc, argv);
  const bool json = arguments.size() == 3 && arguments[1] == "--json";
  if (arguments.size() != 2 + (json ? 1U : 0U) || (!json && arguments[1] == "--json")) {
    std::fprintf(stderr, "Usage: %s [--json] IMAGE\n",
                 !arguments.empty() && !arguments[0].empty() ? arguments[0].c_str() : "d88info");
    return 1;
  }
  const std::string& path = arguments.back();
  const auto print = [](const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  };
  bool failed = false;
  // Says why an image cannot be listed.
  const auto refuse = [&failed](const std::string& name, const OpenedImage& opened) {
    std::fflush(stdout);
    if (opened.error != 0) {
      std::fprintf(stderr, "error: cannot open %s: %s\n", name.c_str(),
                   std::strerror(opened.error));
    } else {
      std::fprintf(stderr, "error: %s: %s\n", name.c_str(), opened.message.c_str());
    }
    failed = true;
  };
  errno = 0;
  std::unique_ptr<ByteSource> source = OpenFileSource(path.c_str());
  if (!source) {
    OpenedImage opened;
    opened.error = errno != 0 ? errno : ENOENT;
    refuse(path, opened);
    return 1;
  }
  unsigned char head[ImageProbe::kHeadSize] = {};
  const std::size_t length = source->ReadAt(0, head, sizeof head);
  if (const char* archive = ArchiveFormat(head, length)) {
    // Each image of the archive in member order, its listing after a line
    // that names it; in JSON, one document holding each member's.
    if (json) {
      print("{");
      print("  \"archive\": " + JsonString(archive) + ",");
      print("  \"members\": [");
    } else {
      print(std::string("archive: ") + archive);
    }
    bool first = true;
    const std::string reason = ForEachMember(*source, path, [&](const ArchiveMember& member) {
      const std::string name = path + "/" + member.name;
      ImageProbe probe;
      probe.head = member.bytes.data();
      probe.length = std::min(member.bytes.size(), ImageProbe::kHeadSize);
      probe.size = static_cast<std::int64_t>(member.bytes.size());
      if (member.tooLarge || !IsDiskImage(probe, member.name)) {
        return;
      }
      const OpenedImage opened = OpenImage(MemorySource(member.bytes));
      if (!opened.image) {
        refuse(name, opened);
        return;
      }
      if (json) {
        print(std::string(first ? "" : "    ,\n") + "    {\"member\": " + JsonString(member.name) +
              ", \"image\":");
        ListImageJson(*opened.image, [&print](const std::string& line) { print("    " + line); });
        print("    }");
      } else {
        print("");
        print("member: " + member.name);
        ListImage(*opened.image, print);
      }
      first = false;
    });
    if (json) {
      print("  ]");
      print("}");
    }
    if (!reason.empty()) {
      std::fflush(stdout);
      std::fprintf(stderr, "error: %s: cannot read the %s archive: %s\n", path.c_str(), archive,
                   reason.c_str());
      failed = true;
    }
  } else {
    const OpenedImage opened = OpenImage(std::move(source));
    if (!opened.image) {
      refuse(path, opened);
      return 1;
    }
    if (json) {
      ListImageJson(*opened.image, print);
    } else {
      ListImage(*opened.image, print);
    }
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fprintf(stderr, "error: cannot write the listing\n");
    return 1;
  }
  return failed ? 1 : 0;
}
