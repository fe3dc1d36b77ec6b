// The inputs of a run in the order they are read: the paths of the command
// line, and with -r every file under each folder named, found by a walk in
// name order, depth first.
#ifndef ZEFACUT_CUTTER_COLLECTION_H
#define ZEFACUT_CUTTER_COLLECTION_H

#include <cstdint>
#include <string>
#include <vector>

struct CollectionItem {
  enum class Kind {
    Input,         // a file, or a folder of KryoFlux stream files, to cut
    Unlisted,      // a folder of the walk that could not be listed: `error`
    FolderNotRead  // a folder named without -r
  };
  Kind kind = Kind::Input;
  std::string path;
  // Where its disks' files go: the output folder, and under a walk the
  // folders between the walked one and the input ("out/pc98/").
  std::string folder;
  // The path below the walked folder ("pc98/game.zip"), or the path given.
  std::string shown;
  // Found by a walk: a file that nothing reads and whose name is no image's
  // is then passed over without a word.
  bool walked = false;
  int error = 0;
  std::uint64_t size = 0;
};

// Appends the inputs under the folder `root` to `items`, each with its
// folder under `base` (empty, or ending in a separator). Files and folders
// come in the byte order of their names, a folder's inputs in its place.
// Links to files are read; links to folders are not followed, so that no
// walk can loop. A folder of KryoFlux stream files is one input. FIFOs,
// devices and sockets are no inputs.
void WalkFolder(const std::string& root, const std::string& base,
                std::vector<CollectionItem>& items);

#endif  // ZEFACUT_CUTTER_COLLECTION_H
