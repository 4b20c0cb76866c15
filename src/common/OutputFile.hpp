#pragma once
// Every file the program writes goes through here, so that an output file is either
// complete or not touched at all. Writes go to a temporary file beside the target;
// commit() checks that every write succeeded and renames it into place, and an
// output that is abandoned (an error on the way) leaves only the earlier file behind.

#include <fstream>
#include <string>

namespace meshcodec {

class OutputFile {
 public:
  // Creates the temporary file in the target's directory; IoFailure naming the
  // target when that is impossible (missing directory, no permission, ...).
  explicit OutputFile(std::string target);
  // Removes the temporary file unless it was committed.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  std::ostream& stream() { return out; }

  // Flushes and closes the stream, then replaces the target by the written file.
  // IoFailure when any write failed or the rename is refused; the target is then
  // unchanged. Misuse when called twice.
  void commit();

  const std::string& target() const { return targetPath; }

 private:
  void discard() noexcept;

  std::string targetPath;
  std::string temporaryPath;
  std::ofstream out;
  bool committed = false;
};

}  // namespace meshcodec
