// Paths and names as the tool takes them apart: '/' and '\' both separate
// folders, since a Windows path and an archive member's name may use either.
#ifndef ZEFACUT_PLATFORM_PATHS_H
#define ZEFACUT_PLATFORM_PATHS_H

#include <cstddef>
#include <string>

// The last part of a path or member name: the file's own name.
std::string FileNameOf(const std::string& path);

// The folder part of a path, up to and with its last separator; empty for a
// name with none.
std::string FolderOf(const std::string& path);

// The path without the separators at its end, down to `keep` characters: 1
// keeps a lone "/" (the root), 0 strips a name of separators only to
// nothing.
std::string WithoutTrailingSeparators(std::string path, std::size_t keep = 1);

// A folder name valid on Windows too: no characters it forbids, no trailing
// dot or blank.
std::string SafeFolderName(const std::string& name);

#endif  // ZEFACUT_PLATFORM_PATHS_H
