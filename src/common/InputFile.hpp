#pragma once
// How the readers of OBJ text and compressed files open and read their input, so that
// both take every kind of name alike. A name of one of this process's descriptors is
// resolved as an output's name is (OutputTarget) and read through that descriptor:
// a socket cannot be opened again by name, and a file given as `< file` is read from
// where its descriptor stands.

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace meshcodec {

// A descriptor open for reading on the input `name` (close-on-exec), or -1 with errno
// set. A name that OutputTarget::of resolves to one of the process's descriptors
// (/dev/stdin, /dev/fd/N, /proc/self/fd/N, /proc/thread-self/fd/N, or a link to one)
// gives a duplicate of it, which shares its offset; any other name, and one that the
// rules for outputs refuse, is opened as the system opens it.
int openInput(const std::string& name);

// read(2) of up to size bytes, tried again when a signal interrupts it, and waiting
// for data when the descriptor is non-blocking, as one inherited from a caller may be.
ssize_t readInput(int descriptor, void* buffer, std::size_t size);

}  // namespace meshcodec
