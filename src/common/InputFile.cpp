#include "common/InputFile.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/CodecError.hpp"
#include "common/OutputTarget.hpp"

namespace meshcodec {

int openInput(const std::string& name) {
  // Every entry of a descriptor directory is a symbolic link: a name whose last entry
  // is none (a frame among hundreds) is opened without the walk.
  struct stat info {};
  if (lstat(name.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    try {
      const OutputTarget target = OutputTarget::of(name);
      if (target.kind == OutputTarget::OwnDescriptor) return fcntl(target.descriptor, F_DUPFD_CLOEXEC, 0);
    } catch (const CodecError&) {
      // What the rules for outputs refuse (another user's link in a shared directory,
      // a descriptor that was not open at the start) is opened as the system opens
      // it, which refuses it with its own reason where it must.
    }
  }
  return open(name.c_str(), O_RDONLY | O_CLOEXEC);
}

ssize_t readInput(int descriptor, void* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = read(descriptor, buffer, size);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    pollfd readable{descriptor, POLLIN, 0};
    if (poll(&readable, 1, -1) < 0 && errno != EINTR) return -1;
  }
}

}  // namespace meshcodec
