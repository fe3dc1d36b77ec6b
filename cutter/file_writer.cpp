#include "cutter/file_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/paths.h"

bool FileWriter::MayHoldImage(const std::string& folder) {
  if (images_.empty()) {
    return false;
  }
  const auto known = folders_.find(folder);
  if (known != folders_.end()) {
    return known->second;
  }
  const std::optional<FileIdentity> identity = IdentifyFile(folder.empty() ? "." : folder.c_str());
  // A folder that cannot be examined may still hold one.
  const bool may = !identity || std::any_of(images_.begin(), images_.end(),
                                            [&identity](const FileIdentity& image) {
                                              return image.device == identity->device;
                                            });
  folders_.emplace(folder, may);
  return may;
}

std::string FileWriter::MakeFolder(const std::string& folder) {
  bool created = false;
  const int error = CreateFolders(folder, &created);
  if (error != 0) {
    return std::strerror(error);
  }
  if (created) {
    folders_[folder] = false;
    swept_.insert(folder);
    made_.insert(folder);
  }
  return {};
}

bool FileWriter::IsReadOnly(const std::string& path) {
  // A folder this run made holds only the run's own files.
  const std::string folder = FolderOf(path);
  if (made_.count(folder) != 0) {
    return false;
  }
  lookedAt_ = path;
  facts_ = FactsOf(path);
  return facts_.readOnly;
}

std::string FileWriter::Write(const std::string& path, const unsigned char* data,
                              std::size_t size) {
  // Renaming over the image would destroy it, under whatever name it goes.
  const std::string folder = FolderOf(path);
  const bool looked = lookedAt_ == path;
  lookedAt_.clear();
  if (MayHoldImage(folder)) {
    const std::optional<FileIdentity> existing =
        looked ? facts_.identity : IdentifyFile(path.c_str());
    if (existing && std::find(images_.begin(), images_.end(), *existing) != images_.end()) {
      return "it is the image being read";
    }
  }
  // What an earlier run killed outright left in the folder goes before this
  // run adds to it.
  if (swept_.insert(folder).second) {
    RemoveStaleTemporaries(folder);
  }
  // The bytes go to a temporary file of its own first, which takes the name
  // only once it is complete: a failed write never leaves a file that looks
  // whole, and an older good file of that name survives it.
  TemporaryFile temporary;
  int error = OpenTemporaryBeside(path, temporary, namer_);
  if (error != 0) {
    return std::strerror(error);
  }
  error = WriteAll(temporary.descriptor, data, size);
  if (error != 0) {
    DiscardTemporary(temporary);
    return std::strerror(error);
  }
  error = PlaceTemporary(temporary, path, namer_, made_.count(folder) != 0);
  if (error != 0) {
    return std::strerror(error);
  }
  return {};
}
