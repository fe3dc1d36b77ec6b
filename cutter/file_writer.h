// zefacut's files on disk: each written whole under a temporary name beside
// its target and renamed into place, never over an image of the run.
#ifndef ZEFACUT_CUTTER_FILE_WRITER_H
#define ZEFACUT_CUTTER_FILE_WRITER_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/portable.h"

class FileWriter {
 public:
  // `images`: the files of the run, which no output file may replace.
  explicit FileWriter(std::vector<FileIdentity> images) : images_(std::move(images)) {}

  // Makes a folder for files with its parents; empty, or why not. A folder
  // that this run made new holds no image: its files need no check.
  std::string MakeFolder(const std::string& folder);

  // Whether the file at `path` is one its owner protected from writing.
  bool IsReadOnly(const std::string& path);

  // Empty when written; otherwise why not, in words.
  std::string Write(const std::string& path, const unsigned char* data, std::size_t size);

 private:
  // Whether a file in `folder` can be an image of the run: only when the
  // folder lies on a device that holds one. Asked once per folder.
  bool MayHoldImage(const std::string& folder);

  std::vector<FileIdentity> images_;
  std::map<std::string, bool> folders_;
  // The folders cleared of stale temporaries, or made new by this run.
  std::set<std::string> swept_;
  // The folders this run made new.
  std::set<std::string> made_;
  // What IsReadOnly saw of a path, for the Write of that path that follows:
  // one look at each existing file.
  std::string lookedAt_;
  FileFacts facts_;
  TemporaryNamer namer_;
};

#endif  // ZEFACUT_CUTTER_FILE_WRITER_H
