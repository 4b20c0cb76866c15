#pragma once
// The outputs of one command that replace their targets together, all or none. A
// group's members keep their temporary files in one hidden directory beside their
// targets (one per directory that targets are in), each named after its target, so
// that what a SIGKILL can leave is that one entry. The stop signals wait while the
// group is put in place, and act once the last file is.

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "common/OutputFile.hpp"
#include "common/OutputTarget.hpp"

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

  // Closes every member, then puts every one in place while the stop signals wait.
  // A file that replaces another is exchanged with it, so that the replaced file
  // takes its name in the group's directory until the last is in place; one without
  // a file to replace is renamed onto a name that must still be free. When a rename
  // is refused, the targets already replaced are put back (exchanged again, or
  // removed when new) and IoFailure names the refused output. Where the file system
  // cannot exchange two names, the replaced file keeps a hard link instead, and a
  // file that can be neither exchanged nor linked is a refused rename. IoFailure from
  // a member's close() replaces nothing. Misuse when called twice.
  void commit();

 private:
  // The group's directory beside the targets in `directory`; made on first use.
  // IoFailure naming `target` when it cannot be made.
  std::shared_ptr<const Directory> hiddenBeside(const std::shared_ptr<const Directory>& directory,
                                                const std::string& target);
  void removeHiddenDirectories() noexcept;

  // How a member was put in place, and so how to put its target back.
  enum class Placed : char {
    Direct,     // written directly: nothing to put back
    Exchanged,  // the replaced file has the temporary's name
    Linked,     // the replaced file has a hard link of the temporary's name
    Created,    // no file was replaced: remove the new one
  };
  Placed place(OutputFile& file);
  void putBack(OutputFile& file, Placed placed) noexcept;

  struct Hidden {
    std::shared_ptr<const Directory> parent;
    std::string name;
    std::shared_ptr<const Directory> directory;
    std::ptrdiff_t entry = -1;  // its entry among those a signal removes
  };
  std::deque<OutputFile> members;  // a deque keeps references to them valid
  std::vector<Hidden> hidden;      // one per directory of targets, in the order made
  OutputTarget::Cache resolved;    // the frames of an animation share their directory
  bool committed = false;
};

}  // namespace meshcodec
