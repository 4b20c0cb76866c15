#pragma once
// Every file the program writes goes through here, so that an output file is either
// complete or not touched at all. Writes go to a temporary file beside the target;
// commit() checks that every write succeeded and renames it into place, and an
// output that is abandoned (an error on the way) leaves only the earlier file behind.
//
// What the target name stands for (OutputTarget) is kept: a symbolic link stays a
// link and the file at the end of its chain is replaced. A replaced file's mode and
// access ACL, and its owner and group where the process may set them, pass to the
// file that replaces it; the mode once the content is written, as a write may clear
// set-id bits. A device, a FIFO, a socket, anything reached through /proc and a name of one of
// this process's descriptors are written directly and cannot be written atomically.
//
// Temporary files are removed if the process is stopped by a stop signal. The outputs
// of one command that replace their targets together are members of a CommitGroup.

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace meshcodec {

class CommitGroup;

class OutputFile {
 public:
  // Creates the temporary file in the directory of the file to replace, or opens the
  // target that is written directly; IoFailure naming the target when that is
  // impossible (missing directory, no permission, a loop of links, a name that
  // cannot be examined, ...).
  explicit OutputFile(std::string target) : OutputFile(std::move(target), nullptr) {}
  // Removes the temporary file unless it was committed.
  ~OutputFile();
  // The moved-from object no longer owns the temporary file.
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&&) = delete;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Valid until close().
  std::ostream& stream();

  // Flushes and closes the stream and checks that every write succeeded: the file is
  // complete but not in place yet, so that several files can be written before any
  // of them replaces its target. IoFailure when a write failed, or when the target is
  // a directory that the file could never replace; the target is then unchanged.
  void close();

  // close() unless done, then replaces the target by the written file. IoFailure
  // when close() fails or the rename is refused; the target is then unchanged.
  // Misuse when called twice.
  void commit();

  const std::string& target() const { return targetPath; }

 private:
  friend class CommitGroup;
  // A member of `group` keeps its temporary file in the group's directory.
  OutputFile(std::string target, CommitGroup* group);
  void discard() noexcept;

  class Descriptor;  // the open file and a stream on it

  std::string targetPath;            // as given, for messages
  std::string placePath;             // the file that the rename replaces; empty when written directly
  std::string temporaryPath;         // empty when written directly
  std::unique_ptr<Descriptor> out;   // null once closed
  std::ptrdiff_t slot = -1;          // the temporary's entry among those a signal removes
  std::optional<mode_t> modeAfterWriting;  // the replaced file's, set once the content is written
  enum class State { Open, Closed, Committed, Failed } state = State::Open;
};

}  // namespace meshcodec
