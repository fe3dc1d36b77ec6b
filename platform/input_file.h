// Opening the files the programs read, without ever waiting on one: a FIFO,
// a terminal or a device is told apart before a byte is read from it, since
// reading one could wait for ever or never end. And standard input, read
// whole into memory for `-`.
#ifndef ZEFACUT_PLATFORM_INPUT_FILE_H
#define ZEFACUT_PLATFORM_INPUT_FILE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// What a path names, following links.
enum class PathKind {
  Missing,      // nothing, or nothing that can be examined
  RegularFile,  // a plain file
  Folder,       // a directory
  Other,        // a FIFO, a device, a socket
};
PathKind KindOfPath(const std::string& path);

// Whether `path` is a symbolic link itself (whatever it leads to).
bool IsLink(const std::string& path);

// A file's size and time of last change, as one look gives them: two looks
// that differ tell of a file written to in between.
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t changed = 0;  // in the system's finest unit
  bool operator==(const FileStamp& other) const {
    return size == other.size && changed == other.changed;
  }
};
// False when the path cannot be examined.
bool StampOf(const std::string& path, FileStamp& stamp);

// The names (UTF-8) of what a folder holds, "." and ".." left out, in no
// particular order; false, with the system's reason in `error`, when it
// cannot be read.
bool ListFolder(const std::string& path, std::vector<std::string>& names, int& error);

// The name a folder goes by where it lies: the last part of its full path,
// links followed ("games" for "." inside /home/me/games); empty when it
// cannot be found or the folder is the root.
std::string FolderOwnName(const std::string& path);

// A file opened for binary reading, or why not.
struct InputFile {
  std::FILE* stream = nullptr;  // null when not opened; the caller closes it
  int error = 0;                // the system's reason (EISDIR for a folder)
  bool notRegular = false;      // it is there, but no plain file nor folder
};

// Opens the plain file at `path` (UTF-8). Anything else is refused at once:
// the check is made on the opened file itself, opened so that opening it
// does not wait, so no other file can take the name in between.
InputFile OpenInputFile(const std::string& path);

// Standard input read to its end, each block handed on as it comes.
struct StandardInput {
  enum class Result { Read, TooLarge, Terminal, Failed };
  Result result = Result::Read;
  int error = 0;  // the system's reason, for Failed
};
// Hands each block read to `take`, which returns false to stop reading: the
// input is then TooLarge (and the rest is left unread). A terminal is not
// read at all: no image is typed in.
StandardInput ReadStandardInput(const std::function<bool(const unsigned char*, std::size_t)>& take);

#endif  // ZEFACUT_PLATFORM_INPUT_FILE_H
