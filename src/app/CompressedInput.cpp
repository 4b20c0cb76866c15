#include "app/CompressedInput.hpp"

#include <algorithm>
#include <cerrno>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

#include "common/CodecError.hpp"
#include "common/InputFile.hpp"

namespace meshcodec {

namespace {

constexpr std::size_t kBufferBytes = std::size_t{1} << 16;

}  // namespace

CompressedInput::CompressedInput(std::string path) : path(std::move(path)), in(this) {
  descriptor = openInput(this->path);
  if (descriptor < 0) throw UnreadableInput(systemReason("cannot open the compressed file", errno), this->path);
  // A directory opens; what it is decides, not how a later read of it fails, which
  // differs between libraries.
  struct stat status;
  const int error = fstat(descriptor, &status) != 0 ? errno : S_ISDIR(status.st_mode) ? EISDIR : 0;
  if (error != 0) {
    ::close(descriptor);
    throw UnreadableInput(systemReason("cannot read the compressed file", error), this->path);
  }
  regular = S_ISREG(status.st_mode);
  // A descriptor given as `< file` may stand past the file's start.
  if (regular) startOffset = std::max<off_t>(lseek(descriptor, 0, SEEK_CUR), 0);
  buffer.resize(kBufferBytes);
  // A read that fails throws from underflow(); the stream passes that on only when
  // badbit is among its exceptions, instead of reporting a file that ends early.
  in.exceptions(std::ios::badbit);
}

CompressedInput::~CompressedInput() { ::close(descriptor); }

std::size_t CompressedInput::read(std::uint8_t* out, std::size_t size) {
  in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(size));
  return static_cast<std::size_t>(in.gcount());
}

void CompressedInput::requireConsumed(int method) {
  if (traits_type::eq_int_type(sgetc(), traits_type::eof())) return;
  const std::string after = "bytes follow the last sub-stream of method " + std::to_string(method);
  struct stat status;
  if (regular && fstat(descriptor, &status) == 0 && status.st_size > startOffset + position()) {
    throw CorruptStream(std::to_string(status.st_size - startOffset - position()) + " " + after);
  }
  throw CorruptStream(after);
}

CompressedInput::int_type CompressedInput::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  bufferStart += egptr() - eback();
  const ssize_t n = readInput(descriptor, buffer.data(), buffer.size());
  if (n < 0) throw UnreadableInput(systemReason("cannot read the compressed file", errno), path);
  setg(buffer.data(), buffer.data(), buffer.data() + n);
  return n == 0 ? traits_type::eof() : traits_type::to_int_type(*gptr());
}

CompressedInput::pos_type CompressedInput::seekoff(off_type offset, std::ios_base::seekdir from,
                                                   std::ios_base::openmode which) {
  // Only the position is asked for (tellg); the decoders never move it.
  if (offset == 0 && from == std::ios_base::cur && (which & std::ios_base::in)) return pos_type(position());
  return pos_type(off_type(-1));
}

std::int64_t CompressedInput::position() const { return bufferStart + (gptr() - eback()); }

}  // namespace meshcodec
