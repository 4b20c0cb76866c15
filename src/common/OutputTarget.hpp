#pragma once
// What an output name stands for, and the checks of a command's outputs before its
// work. Symbolic links are followed to the end of their chain, which is replaced (or
// created when the chain ends at a missing name); a device, a FIFO, a socket and
// anything under /proc are written directly; a name of one of this process's
// descriptors (/dev/stdout, /dev/fd/N, /proc/self/fd/N, /proc/thread-self/fd/N) is
// written through that descriptor as it was when the program started.

#include <string>
#include <vector>

namespace meshcodec {

struct OutputTarget {
  enum Kind { Replace, Direct, OwnDescriptor } kind;
  std::string path;  // Replace: the file that the rename replaces (or creates)
  int descriptor;    // OwnDescriptor: the descriptor that the name stands for

  // Where the output named `target` goes. IoFailure naming the target for a loop of
  // links, a link that cannot be read, a link in a sticky world-writable directory
  // that belongs to neither this user nor the directory's owner, or a descriptor that
  // was not open at start.
  static OutputTarget of(const std::string& target);

  // Notes which descriptors are open now. From then on a name of one of the process's
  // descriptors means that descriptor as it was at this call: a number that was free
  // then may since name a temporary file of another output, and is refused. The
  // program's entry calls it before anything opens a file; until then any open
  // descriptor counts.
  static void recordOpenDescriptors();

  // Checks the targets of one command before the work that produces them, so that
  // what OutputFile or the kernel would refuse is reported first: IoFailure naming a
  // target whose directory is missing, cannot be written or is append-only, a loop of
  // links, a descriptor that was not open, a name that is no file name, a name or a
  // path too long, an existing directory, an immutable or append-only file, another
  // user's file in a sticky directory that the process may not replace, or a name
  // that exists but cannot be examined. BadArgument naming two targets that are
  // one file (the same existing file, through links and hard links, or the same name
  // to be created), of which only the last written would remain.
  static void checkTargets(const std::vector<std::string>& targets);

  // Checks before the work that no target is one of the command's input files, which
  // replacing it would destroy: BadArgument naming the target and the input when a
  // file that a target replaces is an input (the same device and inode, through
  // links and hard links). A target to be created, and one written directly (a
  // device, a descriptor), cannot be an input file.
  static void checkNotInputs(const std::vector<std::string>& targets, const std::vector<std::string>& inputs);
};

// IoFailure naming `target` unless `place` ends in a name that a rename can replace
// or create; an empty target is named as typed, since an error without a file name
// would be taken for the input's.
void requireFileName(const std::string& place, const std::string& target);

// The directory that holds `place`, "." for a bare name.
std::string directoryOf(const std::string& place);

}  // namespace meshcodec
