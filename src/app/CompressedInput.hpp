#pragma once
// The compressed file that -d and -dd decode, as the decoders read it: a stream over
// the file's descriptor that reads at most one buffer ahead of the decoders, so that
// a pipe or a device is read no further than decoding needs, and that counts the
// bytes it has handed out, so that tellg() gives the byte offsets that the decoders'
// messages name on any kind of file.

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

namespace meshcodec {

class CompressedInput : private std::streambuf {
 public:
  // Opens the file by openInput, so that a name of a descriptor is read through it;
  // UnreadableInput with the system's reason when it cannot be opened or is a directory.
  explicit CompressedInput(std::string path);
  ~CompressedInput() override;
  CompressedInput(const CompressedInput&) = delete;
  CompressedInput& operator=(const CompressedInput&) = delete;

  // Read only; a read that fails throws UnreadableInput out of the stream's calls.
  std::iostream& stream() { return in; }

  // Reads up to size bytes into out and returns how many there were: fewer only where
  // the file ends.
  std::size_t read(std::uint8_t* out, std::size_t size);

  // CorruptStream when a byte follows the stream's position: the sub-streams of a
  // genuine file end at its last byte. A regular file's remaining bytes are counted;
  // a pipe or a device is not read further to count them, as it may never end.
  void requireConsumed(int method);

 private:
  int_type underflow() override;
  pos_type seekoff(off_type offset, std::ios_base::seekdir from, std::ios_base::openmode which) override;
  std::int64_t position() const;

  std::string path;
  int descriptor = -1;
  bool regular = false;
  std::int64_t startOffset = 0;  // a regular file's offset where the stream starts
  std::int64_t bufferStart = 0;  // offset in the file of the buffer's first byte
  std::vector<char> buffer;
  std::iostream in;
};

}  // namespace meshcodec
