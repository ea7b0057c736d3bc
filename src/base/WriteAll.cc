#include "base/WriteAll.h"

#include <unistd.h>

#include <cerrno>

int WriteAll(int fd, std::string_view data, size_t* written) {
  size_t done = 0;
  int err = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    if (n == 0) {  // cannot happen for a regular file; never loop on it
      err = EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (written) *written = done;
  return err;
}
