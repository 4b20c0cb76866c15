#pragma once
// The outputs of one command that replace their targets together, all or none. A
// group's members keep their temporary files in one hidden directory beside their
// targets (one per directory that targets are in), each named after its target, so
// that what a SIGKILL can leave is that one entry. The stop signals wait while the
// group is put in place, and act once the last file is.
//
// While the group is put in place, the hidden directory ".meshcodec-<id>.tmp" also
// holds ".meshcodec-<id>.new", a second hard link of each written file under its
// target's name. After a SIGKILL there, an output whose name has its new file was
// placed; the hidden directory's entry of that name, when it is another file, is the
// file it replaced. Once every output is in place, that directory becomes
// ".meshcodec-<id>.done", atomically, before anything is removed: a group so marked
// is complete, any other is put back by whoever finds it.

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

  // A new member that writes to the target resolved to `placement` as an OutputFile
  // does; its temporary file is in the group's directory beside the file it replaces.
  // The reference stays valid for the group's lifetime.
  OutputFile& add(OutputTarget placement);
  // The same for a target resolved now.
  OutputFile& add(std::string target);

  // Closes every member and waits until those that replace files are on disk, then
  // puts every one in place (OutputFile::place) while the stop signals wait, marks
  // the group complete and removes the replaced files. When a placement is refused,
  // the targets already placed are put back (exchanged again, or removed when new
  // and still the file this command made) and IoFailure names the refused output;
  // its reason also names each output that could not be put back and where its
  // earlier file is, and the hidden directory then stays for the recovery. What
  // cannot be removed once every output is in place is a warning (warnAfterCommand).
  // IoFailure from a member's close() replaces nothing. Misuse when called twice.
  void commit();

 private:
  struct Hidden {
    std::shared_ptr<const Directory> parent;
    std::string name;
    std::shared_ptr<const Directory> directory;
    std::ptrdiff_t entry = -1;  // its entry among those a signal removes
    std::string firstTarget;    // named when the group's links cannot be made here
    // During the commit: the directory of the written files' second links, and
    // where it is (it ends as the group's mark, perhaps in another hidden directory).
    std::shared_ptr<const Directory> links;
    std::shared_ptr<const Directory> linksParent;
    std::string linksName;
  };

  // The group's directory beside the targets in `directory`; made on first use.
  // IoFailure naming `target` when it cannot be made.
  std::shared_ptr<const Directory> hiddenBeside(const std::shared_ptr<const Directory>& directory,
                                                const std::string& target);
  Hidden& hiddenOf(const OutputFile& file);
  void linkForRecovery();
  void markComplete() noexcept;
  // Puts the target of a placed member back; what could not be, said for the error
  // line (empty when all went well). Sets `leftNew` when an output stays new.
  std::string putBack(OutputFile& file, OutputFile::Placed placed, bool& leftNew);
  // Puts back the first placed.size() members and ends the group; what could not be.
  std::string undo(const std::vector<OutputFile::Placed>& placed);
  // The errno of the first removal that failed, 0 when all went.
  int removeLinks() noexcept;
  // With `warn` (every output in place), a directory that cannot be removed is a
  // warning, which gives `cause`, the first failure of the removals before, if any.
  void removeHiddenDirectories(bool warn, int cause) noexcept;

  std::deque<OutputFile> members;  // a deque keeps references to them valid
  std::vector<Hidden> hidden;      // one per directory of targets, in the order made
  OutputTarget::Cache resolved;    // the frames of an animation share their directory
  bool committed = false;
};

}  // namespace meshcodec
