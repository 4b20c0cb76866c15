#pragma once
// The outputs of one command that replace their targets together, all or none, and
// the stop signals that a user or a shell sends (SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// SIGPIPE). A group's members keep their temporary files in one hidden directory
// beside their targets (one per directory that targets are in), so that what a
// SIGKILL can leave is that one entry. A stop signal that comes while a group is
// renamed into place acts once the last file is in place; one that comes at any
// other time removes every temporary file and directory before the process ends.

#include <signal.h>

#include <cstddef>
#include <deque>
#include <map>
#include <string>

#include "common/OutputFile.hpp"

namespace meshcodec {

class CommitGroup {
 public:
  CommitGroup() = default;
  // Removes the members' temporary files and the group's directories, unless the
  // group was committed.
  ~CommitGroup();
  CommitGroup(const CommitGroup&) = delete;
  CommitGroup& operator=(const CommitGroup&) = delete;

  // A new member that writes to `target` as an OutputFile does; its temporary file is
  // in the group's directory beside the file it replaces. The reference stays valid
  // for the group's lifetime.
  OutputFile& add(std::string target);

  // Closes every member, then renames every one into place while the stop signals
  // wait. Each file to be replaced first gets a hard link in the group's directory;
  // when the kernel refuses a rename, the targets already replaced are put back (the
  // link renamed back, a target that did not exist removed) and IoFailure names the
  // refused output. IoFailure from a member's close() replaces nothing. Misuse when
  // called twice.
  void commit();

 private:
  friend class OutputFile;

  // The group's directory beside `place`, the file a member replaces; made on first
  // use. IoFailure naming `target` when it cannot be made.
  const std::string& directoryBeside(const std::string& place, const std::string& target);
  // Where the replaced file of member `index` is kept during the commit.
  std::string keptName(std::size_t index);
  void removeDirectories() noexcept;

  struct Directory {
    std::string path;
    std::ptrdiff_t slot = -1;  // its entry among those a signal removes
  };
  std::deque<OutputFile> members;       // a deque keeps references to them valid
  std::map<std::string, Directory> directories;  // by the directory of the targets
  bool committed = false;
};

// Blocks the stop signals for its lifetime, around a change of the temporary files.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous;
};

// A new hidden name for a temporary file or directory: ".meshcodec-<pid>-<n>.tmp".
std::string temporaryName();
// The most that a temporary's path adds to the path of its target's directory: a
// group's directory and a name in it.
constexpr std::size_t kTemporaryPathRoom = 80;

// The temporary files and directories that a stop signal removes. Both are called
// with the signals held; the first installs the handler of the stop signals on its
// first call. Returns the path's entry, which dropTemporary frees (a negative entry
// is none).
std::ptrdiff_t addTemporary(const std::string& path);
void dropTemporary(std::ptrdiff_t entry);

}  // namespace meshcodec
