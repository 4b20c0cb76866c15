#pragma once
// Every file the program writes goes through here, so that an output file is either
// complete or not touched at all. Writes go to a temporary file; commit() checks that
// every write succeeded, waits until a file that replaces another is on disk, and
// puts it in place, and an output that is abandoned (an error on the way) leaves only
// the earlier file behind.
//
// What the target name stands for (OutputTarget) is kept: a symbolic link stays a
// link and the file at the end of its chain is replaced. Everything happens relative
// to the directories found when the name was resolved, held open, and only the entry
// found then is replaced: one changed since is refused. A replaced file's
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
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "common/OutputTarget.hpp"

namespace meshcodec {

// The error of a renameat2 whose flag (exchange, no replace) the file system does not
// take, or whose call the system does not know: the caller falls back to plain calls.
inline bool noExchangeHere(int error) { return error == EINVAL || error == ENOSYS; }

class OutputFile {
 public:
  // Resolves `target` (OutputTarget::of) and writes to it as below.
  explicit OutputFile(std::string target);
  // Creates the temporary file for a target resolved to `placement`, under a new
  // hidden name in the directory of the file to replace, or opens the target that is
  // written directly; IoFailure naming the target when that is impossible (no
  // permission, a name that cannot be examined, an entry changed since it was
  // resolved, ...).
  explicit OutputFile(OutputTarget placement);
  // The same with the temporary file created as the entry `temporary` of
  // `temporaryDirectory` (a Replace placement only; other kinds need neither).
  OutputFile(OutputTarget placement, std::shared_ptr<const Directory> temporaryDirectory, std::string temporary);
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
  // of them replaces its target. A file that will replace another starts going to
  // disk. IoFailure when a write failed, or when the target is a directory that the
  // file could never replace or its entry changed since it was resolved; the target
  // is then unchanged.
  void close();

  // close() unless done, then puts the written file in place (place()) and removes
  // the file it replaced. IoFailure when close() fails or the placement is refused;
  // the target is then unchanged. Misuse when called twice.
  void commit();

  const std::string& target() const { return placement_.given; }
  const OutputTarget& placement() const { return placement_; }

  // For a caller that puts a closed file in place itself: whether there is a
  // temporary file (a target written directly has none), where it is, and release(),
  // which leaves to the caller whatever is under the temporary's name (the written
  // file, or what the caller exchanged it with) and marks the output committed.
  bool hasTemporary() const { return !temporary_.empty(); }
  const Directory& temporaryDirectory() const { return *temporaryDirectory_; }
  const std::string& temporary() const { return temporary_; }
  // The temporary file as it was created, to tell it from a file put under its name.
  const EntryIdentity& written() const { return written_; }
  void release() noexcept;

  // Waits until the data of a closed file that replaces another is on disk, so that
  // a crash once it has taken the other's place cannot leave it empty; nothing for a
  // new file, whose name had no content to lose. IoFailure when the data cannot be
  // written; the target is then unchanged.
  void awaitData();

  // How place() put the file in place, and so what undoes it.
  enum class Placed : char {
    Direct,     // written directly, not placed: nothing to undo
    Exchanged,  // the replaced file has the temporary's name
    Linked,     // the replaced file has a hard link of the temporary's name
    Replaced,   // renamed over the replaced file, which is gone
    Created,    // no file was replaced
  };
  // Puts a closed file with a temporary in place of the entry that its target was
  // resolved to; the caller holds the stop signals. A file that replaces another is
  // exchanged with it, and what comes into the temporary's name must be the file that
  // was resolved: another entry put there since goes back. One without a file to
  // replace is renamed onto a name that must still be free. Where the file system
  // cannot exchange two names, an `undoable` placement gives the replaced file a hard
  // link under the temporary's name (a file that cannot be linked is refused); any
  // other is renamed over it. IoFailure naming the target when its entry changed since
  // it was resolved or the system refuses the rename; the target is then as it was.
  Placed place(bool undoable);

 private:
  void discard() noexcept;
  void dropTemporaryEntry() noexcept;
  // IoFailure naming the target unless its entry is still the one it was resolved to.
  void requireUnchanged() const;
  [[noreturn]] void changedAfterChecks() const;

  class Descriptor;  // the open file and a stream on it

  OutputTarget placement_;
  std::shared_ptr<const Directory> temporaryDirectory_;
  std::string temporary_;                  // empty when written directly or once released
  EntryIdentity written_;                  // the temporary file
  std::unique_ptr<Descriptor> out;         // null once closed
  std::ptrdiff_t entry = -1;               // the temporary's entry among those a signal removes
  std::optional<mode_t> modeAfterWriting;  // the replaced file's, set once the content is written
  // The way to disk of a file that replaces another: started when it is closed, waited
  // for before it takes the other's place.
  enum class Writeback : char { None, Wanted, Started, Done } writeback = Writeback::None;
  std::uint64_t ticket = 0;  // Started: what awaitWriteback takes
  enum class State { Open, Closed, Committed, Failed } state = State::Open;
};

}  // namespace meshcodec
