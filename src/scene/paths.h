// File-name helpers for the readers. Names inside an OBJ or MTL file are
// resolved against the OBJ file's own directory by joining paths, so reading a
// mesh never changes the process's working directory (which other threads
// share).
#pragma once

#include <string>
#include <string_view>

namespace lumeno {

// The part of fileName before its last '/' or '\', or empty text when it has
// no separator.
std::string DirectoryOf(std::string_view fileName);

// fileName relative to directory: unchanged when directory is empty or
// fileName is absolute, otherwise directory + '/' + fileName.
std::string ResolvePath(std::string_view directory, std::string_view fileName);

// The path to open for a name as written: the name itself when it exists,
// otherwise, when it holds Windows separators, the name with '\' read as '/'.
std::string LocatePath(const std::string& path);

}  // namespace lumeno
