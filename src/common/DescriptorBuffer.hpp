#pragma once
// A stream buffer that writes through a file descriptor, keeping the system's reason
// for the first write that failed (a stream keeps only a flag). Outputs written
// directly and what the program prints on standard output go through it. Such a
// descriptor may be one the caller made non-blocking, a flag shared with the other
// processes that hold it: a write that finds no room waits until the reader makes
// some, rather than fail.

#include <cstddef>
#include <streambuf>

namespace meshcodec {

class DescriptorBuffer : public std::streambuf {
 public:
  // Writes to `descriptor`, which stays open and the caller's.
  explicit DescriptorBuffer(int descriptor);
  DescriptorBuffer(const DescriptorBuffer&) = delete;
  DescriptorBuffer& operator=(const DescriptorBuffer&) = delete;

 protected:
  int_type overflow(int_type c) override;
  int sync() override;

  // Writes out what is buffered, unless a write has failed before; false once one has.
  bool drain();

  int descriptor;
  int error = 0;  // the errno of the first failed write, 0 while none failed

 private:
  char buffer[1 << 16];
};

}  // namespace meshcodec
