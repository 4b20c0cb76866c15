#include "common/DescriptorBuffer.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace meshcodec {

namespace {

// Writes the bytes, waiting in poll() while a non-blocking descriptor has no room;
// returns 0, or the errno of the failure.
int writeAll(int descriptor, const char* next, const char* end) {
  while (next < end) {
    const ssize_t written = ::write(descriptor, next, static_cast<std::size_t>(end - next));
    if (written > 0) {
      next += written;
    } else if (written == 0) {
      return EIO;  // a device that takes nothing would loop forever
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd ready{descriptor, POLLOUT, 0};
      if (poll(&ready, 1, -1) < 0 && errno != EINTR) return errno;
    } else if (errno != EINTR) {
      return errno;
    }
  }
  return 0;
}

}  // namespace

DescriptorBuffer::DescriptorBuffer(int descriptor) : descriptor(descriptor) { setp(buffer, buffer + sizeof buffer); }

DescriptorBuffer::int_type DescriptorBuffer::overflow(int_type c) {
  if (!drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

int DescriptorBuffer::sync() { return drain() ? 0 : -1; }

bool DescriptorBuffer::drain() {
  if (error == 0) error = writeAll(descriptor, pbase(), pptr());
  setp(buffer, buffer + sizeof buffer);
  return error == 0;
}

}  // namespace meshcodec
