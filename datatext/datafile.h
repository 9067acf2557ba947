// An open data text file, as the readers of data texts and tables open
// them: a regular file of at most kMaxTextBytes, opened without waiting on a
// FIFO that has no writer.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <system_error>

#include "datatext/conversion.h"

namespace orvalle {

struct datafile {
  int fd = -1;
  std::size_t size = 0;
  std::string path;
  datafile() = default;
  datafile(const datafile &) = delete;
  datafile &operator=(const datafile &) = delete;
  ~datafile() {
    if (fd >= 0)
      ::close(fd);
  }
  textreaderror toolarge() const {
    return textreaderror(path + " is larger than a data text may be (" +
                         std::to_string(kMaxTextBytes >> 30) + " GiB)");
  }
  // Up to room bytes from offset at; 0 at the end of the file. Threads may
  // read a file at once this way.
  std::size_t readat(char *into, std::size_t room, std::size_t at) const {
    for (;;) {
      const ssize_t n = ::pread(fd, into, room, static_cast<off_t>(at));
      if (n >= 0)
        return static_cast<std::size_t>(n);
      if (errno != EINTR)
        throw std::system_error(errno, std::generic_category(), path);
    }
  }
  // Up to room bytes; 0 at the end of the file.
  std::size_t readsome(char *into, std::size_t room) const {
    for (;;) {
      const ssize_t n = ::read(fd, into, room);
      if (n >= 0)
        return static_cast<std::size_t>(n);
      if (errno != EINTR)
        throw std::system_error(errno, std::generic_category(), path);
    }
  }
};

// Opens path into f; throws std::system_error or textreaderror (a folder, a
// FIFO, a device, a file too large) without waiting on it.
void opendatafile(const std::string &path, datafile &f);

} // namespace orvalle
