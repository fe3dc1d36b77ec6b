#include "cutter/collection.h"

#include <algorithm>
#include <utility>

#include "input/image_input.h"
#include "platform/input_file.h"
#include "platform/paths.h"
#include "platform/text_form.h"
#include "run/cut_run.h"

namespace {

// `folder` joined with `name`, with one separator between.
std::string Joined(const std::string& folder, const std::string& name) {
  if (folder.empty()) {
    return name;
  }
  const char last = folder.back();
  return last == '/' || last == '\\' ? folder + name : folder + "/" + name;
}

// One folder being walked: its names in order and how far the walk is.
struct Level {
  std::string path;
  std::string relative;  // below the root, ending in '/' ("" for the root)
  std::vector<std::string> names;
  std::size_t next = 0;
};

void AddInput(std::vector<CollectionItem>& items, const std::string& path,
              const std::string& folder, const std::string& shown) {
  CollectionItem item;
  item.path = path;
  item.folder = folder;
  item.shown = shown;
  item.walked = true;
  FileStamp stamp;
  if (StampOf(path, stamp)) {
    item.size = stamp.size;
  }
  items.push_back(std::move(item));
}

// Lists a folder into a new level, or records why it cannot be.
bool Enter(std::vector<Level>& levels, std::vector<CollectionItem>& items, const std::string& path,
           const std::string& relative, const std::string& base) {
  Level level;
  level.path = path;
  level.relative = relative;
  int error = 0;
  if (!ListFolder(path, level.names, error)) {
    CollectionItem item;
    item.kind = CollectionItem::Kind::Unlisted;
    item.path = path;
    item.folder = base;
    item.shown = relative.empty() ? path : relative;
    item.walked = true;
    item.error = error;
    items.push_back(std::move(item));
    return false;
  }
  // Byte order, whatever the system's listing order or locale.
  std::sort(level.names.begin(), level.names.end());
  levels.push_back(std::move(level));
  return true;
}

}  // namespace

void WalkFolder(const std::string& root, const std::string& base,
                std::vector<CollectionItem>& items) {
  // An explicit stack: a tree however deep walks in bounded stack space.
  std::vector<Level> levels;
  Enter(levels, items, root, "", base);
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.next == level.names.size()) {
      levels.pop_back();
      continue;
    }
    const std::string name = level.names[level.next++];
    const std::string path = Joined(level.path, name);
    const std::string relative = level.relative;
    // The output folders mirror the walked ones, each name made valid on
    // any file system.
    const std::string folder = base + relative;
    const bool link = IsLink(path);
    const PathKind kind = KindOfPath(path);
    if (kind == PathKind::Folder) {
      if (link) {
        continue;
      }
      if (IsKryoFluxDumpFolder(path)) {
        AddInput(items, path, folder, relative + name);
      } else {
        Enter(levels, items, path, relative + SafeFolderName(name) + "/", base);
      }
      continue;
    }
    // A plain file, or a name that cannot be examined (a link leading
    // nowhere, or round in a loop), which opening it tells.
    if (kind != PathKind::Other) {
      AddInput(items, path, folder, relative + name);
    }
  }
}
