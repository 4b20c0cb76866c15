#pragma once
// Every file the program writes goes through here, so that an output file is either
// complete or not touched at all. Writes go to a temporary file; commit() checks that
// every write succeeded and renames it into place, and an output that is abandoned
// (an error on the way) leaves only the earlier file behind.
//
// What the target name stands for (OutputTarget) is kept: a symbolic link stays a
// link and the file at the end of its chain is replaced. Everything happens relative
// to the directories found when the name was resolved, held open. A replaced file's
// mode and access ACL, and its owner and group where the process may set them, pass
// to the file that replaces it; the mode once the content is written, as a write may
// clear set-id bits. A device, a FIFO, a socket, anything reached through /proc and
// a name of one of this process's descriptors are written directly and cannot be
// written atomically.
//
// Temporary files are removed if the process is stopped by a stop signal
// (TemporaryFiles). Outputs that must replace their targets together are written by
// a CommitGroup, which hands each its temporary's directory.

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "common/OutputTarget.hpp"

namespace meshcodec {

class OutputFile {
 public:
  // Creates the temporary file, under a new hidden name in the directory of the file
  // to replace, or opens the target that is written directly; IoFailure naming the
  // target when that is impossible (missing directory, no permission, a loop of
  // links, a name that cannot be examined, ...).
  explicit OutputFile(std::string target);
  // The same for a target already resolved to `placement`, with the temporary file
  // created as the entry `temporary` of `temporaryDirectory` (a Replace placement
  // only; other kinds need neither). A null directory means beside the target, under
  // a new hidden name.
  OutputFile(std::string target, OutputTarget placement, std::shared_ptr<const Directory> temporaryDirectory,
             std::string temporary);
  // Removes the temporary file unless it was committed or released.
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

  // close() unless done, then renames the written file over the target. IoFailure
  // when close() fails or the rename is refused; the target is then unchanged.
  // Misuse when called twice.
  void commit();

  const std::string& target() const { return targetPath; }
  const OutputTarget& placement() const { return placement_; }

  // For a caller that puts a closed file in place itself: whether there is a
  // temporary file (a target written directly has none), where it is, and release(),
  // which leaves to the caller whatever is under the temporary's name (the written
  // file, or what the caller exchanged it with) and marks the output committed.
  bool hasTemporary() const { return !temporary_.empty(); }
  const Directory& temporaryDirectory() const { return *temporaryDirectory_; }
  const std::string& temporary() const { return temporary_; }
  void release() noexcept;

 private:
  void discard() noexcept;
  void dropTemporaryEntry() noexcept;

  class Descriptor;  // the open file and a stream on it

  std::string targetPath;  // as given, for messages
  OutputTarget placement_;
  std::shared_ptr<const Directory> temporaryDirectory_;
  std::string temporary_;                  // empty when written directly or once released
  std::unique_ptr<Descriptor> out;         // null once closed
  std::ptrdiff_t entry = -1;               // the temporary's entry among those a signal removes
  std::optional<mode_t> modeAfterWriting;  // the replaced file's, set once the content is written
  enum class State { Open, Closed, Committed, Failed } state = State::Open;
};

}  // namespace meshcodec
