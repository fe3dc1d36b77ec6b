// What libarchive reads an archive from: the bytes of a ByteSource, read in
// blocks at a position of the reader's own and moved about in for the
// formats that seek (ZIP's central directory, 7-Zip's header at the end); or,
// for a gzip file, the bytes it unpacks to, inflated here with zlib.
#ifndef ZEFACUT_INPUT_ARCHIVE_INPUT_H
#define ZEFACUT_INPUT_ARCHIVE_INPUT_H

#include <memory>
#include <string>

class ByteSource;
struct archive;

class ArchiveInput {
 public:
  // `gzip`: the source holds a gzip file, which libarchive is given unpacked.
  ArchiveInput(ByteSource& source, bool gzip);
  ~ArchiveInput();
  ArchiveInput(const ArchiveInput&) = delete;
  ArchiveInput& operator=(const ArchiveInput&) = delete;

  // Gives `reader` its callbacks over this input and opens it, at the start
  // of the source. Empty when open, otherwise why not. The input outlives
  // the reader's use of it.
  std::string Open(archive* reader);

 private:
  struct Blocks;
  class Inflater;
  std::unique_ptr<Blocks> blocks_;
  std::unique_ptr<Inflater> inflater_;  // null but for gzip
};

// libarchive's message for the reader's last error, in words (see
// ErrorInWords), or `otherwise` when it has none.
std::string ArchiveError(archive* reader, const char* otherwise);

// A libarchive message without the bare error number some end with: zlib's
// codes for data cut short or damaged become those words ("ZIP decompression
// failed (-5)": "the ZIP data is cut short"), any other number is left out.
std::string ErrorInWords(const std::string& text);

#endif  // ZEFACUT_INPUT_ARCHIVE_INPUT_H
