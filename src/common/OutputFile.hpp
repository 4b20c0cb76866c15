#pragma once
// Every file the program writes goes through here, so that an output file is either
// complete or not touched at all. Writes go to a temporary file beside the target;
// commit() checks that every write succeeded and renames it into place, and an
// output that is abandoned (an error on the way) leaves only the earlier file behind.
//
// What the target name stands for is kept: a symbolic link stays a link and the file
// at the end of its chain is replaced (created when the chain ends at a missing name).
// A replaced file's mode, and its owner and group where the process may set them,
// pass to the file that replaces it. A device, a FIFO or a socket, and anything
// reached through /proc, is written directly: replacing it would turn a device into
// a regular file or detach a file from the descriptor that names it. A name of one
// of this process's descriptors (/dev/stdout, /dev/fd/N, /proc/self/fd/N,
// /proc/thread-self/fd/N) is written through that descriptor, after what it has
// written, as standard output is after the banner. Such a target cannot be written
// atomically.
//
// Temporary files are removed if the process is stopped by SIGINT, SIGTERM, SIGHUP or
// SIGPIPE.

#include <signal.h>

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace meshcodec {

class OutputFile {
 public:
  // Creates the temporary file in the directory of the file to replace, or opens the
  // target that is written directly; IoFailure naming the target when that is
  // impossible (missing directory, no permission, a loop of links, ...).
  explicit OutputFile(std::string target);
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

  // While one exists, SIGINT, SIGTERM, SIGHUP and SIGPIPE wait and act when it ends,
  // so that the commits made in its lifetime replace their targets all or none: a
  // signal that came before the first commit removes the temporary files, one that
  // comes during the commits acts once the last file is in place.
  class CommitGroup {
   public:
    CommitGroup();
    ~CommitGroup();
    CommitGroup(const CommitGroup&) = delete;
    CommitGroup& operator=(const CommitGroup&) = delete;

   private:
    sigset_t previous;
  };

  // Notes which descriptors are open now. From then on a name of one of the process's
  // descriptors means that descriptor as it was at this call: a number that was free
  // then may since name a temporary file of another output, and is refused. The
  // program's entry calls it before anything opens a file; until then any open
  // descriptor counts.
  static void recordOpenDescriptors();

  // Checks the targets of one command before the work that produces them, so that
  // what the constructor would refuse is reported first: IoFailure naming a target
  // whose directory is missing or cannot be written, a loop of links, a descriptor
  // that was not open, or a name that is no file name. BadArgument naming two targets
  // that are one file (the same existing file, through links and hard links, or the
  // same name to be created), of which only the last written would remain.
  static void checkTargets(const std::vector<std::string>& targets);

 private:
  void discard() noexcept;

  class Descriptor;  // the open file and a stream on it

  std::string targetPath;            // as given, for messages
  std::string placePath;             // the file that the rename replaces; empty when written directly
  std::string temporaryPath;         // empty when written directly
  std::unique_ptr<Descriptor> out;   // null once closed
  std::ptrdiff_t slot = -1;          // the temporary's entry among those a signal removes
  enum class State { Open, Closed, Committed, Failed } state = State::Open;
};

}  // namespace meshcodec
