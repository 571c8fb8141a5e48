#include "platform/filemap.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

bool file_readable(const char* path) {
  int fd = open(path, O_RDONLY);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  close(fd);
  return ok;
}

bool map_file(const char* path, FileMapping& out) {
  out = FileMapping{};
  int fd = open(path, O_RDONLY);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return false;
  }
  if (st.st_size == 0) {
    close(fd);
    return true;
  }
  void* p = mmap(nullptr, std::size_t(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
  close(fd);  // the mapping keeps the file open
  if (p == MAP_FAILED) return false;
  out.data = static_cast<const std::uint8_t*>(p);
  out.size = std::size_t(st.st_size);
  return true;
}

bool unmap_file(FileMapping& mapping) {
  bool ok = true;
  if (mapping.data) ok = munmap(const_cast<std::uint8_t*>(mapping.data), mapping.size) == 0;
  mapping = FileMapping{};
  return ok;
}
