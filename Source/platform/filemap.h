// Read-only mapping of whole files (endgame tables).
#pragma once

#include <cstddef>
#include <cstdint>

struct FileMapping {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

// Whether the file exists and can be opened for reading.
bool file_readable(const char* path);
// Maps the whole file read-only.  Returns false when the file cannot be
// opened or mapped; an empty file maps to size 0 with a null pointer and true.
bool map_file(const char* path, FileMapping& out);
// Releases a mapping made by map_file; returns false (errno kept) on failure.
bool unmap_file(FileMapping& mapping);
