#include "common/CommitGroup.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "common/CodecError.hpp"
#include "common/TemporaryFiles.hpp"

namespace meshcodec {

namespace {

using Placed = OutputFile::Placed;

// ".meshcodec-<id>" of a hidden directory ".meshcodec-<id>.tmp", which names its
// links and its mark: no output can have those names before the directory exists.
std::string stem(const std::string& hiddenName) { return hiddenName.substr(0, hiddenName.size() - 4); }

}  // namespace

CommitGroup::~CommitGroup() {
  members.clear();  // each removes its temporary file unless committed
  removeHiddenDirectories(false, 0);
}

OutputFile& CommitGroup::add(OutputTarget placement) {
  std::shared_ptr<const Directory> directory;
  std::string temporary;
  if (placement.kind == OutputTarget::Replace) {
    directory = hiddenBeside(placement.directory, placement.given);
    // Named after its target: once exchanged, the name holds the replaced file, and
    // a person who finds the directory after a SIGKILL can tell whose file it is.
    temporary = placement.name;
  }
  members.emplace_back(std::move(placement), std::move(directory), std::move(temporary));
  return members.back();
}

OutputFile& CommitGroup::add(std::string target) { return add(OutputTarget::of(target, &resolved)); }

std::shared_ptr<const Directory> CommitGroup::hiddenBeside(const std::shared_ptr<const Directory>& directory,
                                                           const std::string& target) {
  for (const Hidden& made : hidden) {
    if (made.parent->sameAs(*directory)) return made.directory;
  }
  requireWritableDirectory(*directory, target);
  const SignalsHeld held;
  int error = EEXIST;
  for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
    std::string name = temporaryName();
    if (mkdirat(directory->descriptor(), name.c_str(), 0700) != 0) {
      error = errno;
      continue;
    }
    Hidden made{directory, std::move(name), nullptr, -1, target, nullptr, nullptr, {}};
    try {
      made.entry = addTemporary(directory->descriptor(), made.name, true);
      const int descriptor =
          openat(directory->descriptor(), made.name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (descriptor < 0) throw IoFailure(systemReason("cannot create the output file", errno), target);
      made.directory = std::make_shared<const Directory>(descriptor, directory->pathOf(made.name));
      hidden.push_back(made);
    } catch (...) {
      unlinkat(directory->descriptor(), made.name.c_str(), AT_REMOVEDIR);
      dropTemporary(made.entry);
      throw;
    }
    return made.directory;
  }
  throw IoFailure(systemReason("cannot create the output file", error), target);
}

CommitGroup::Hidden& CommitGroup::hiddenOf(const OutputFile& file) {
  for (Hidden& made : hidden) {
    if (made.directory.get() == &file.temporaryDirectory()) return made;
  }
  throw Misuse("a member of an output group without its hidden directory", file.target());
}

// The links are made with the stop signals held, so a stop signal never finds them;
// a SIGKILL does, and they tell which outputs were placed.
void CommitGroup::linkForRecovery() {
  for (Hidden& made : hidden) {
    const std::string name = stem(made.name) + ".new";
    int descriptor = -1;
    if (mkdirat(made.directory->descriptor(), name.c_str(), 0700) == 0) {
      descriptor = openat(made.directory->descriptor(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (descriptor < 0) unlinkat(made.directory->descriptor(), name.c_str(), AT_REMOVEDIR);
    }
    if (descriptor < 0) throw IoFailure(systemReason("cannot create the output file", errno), made.firstTarget);
    made.links = std::make_shared<const Directory>(descriptor, made.directory->pathOf(name));
    made.linksParent = made.directory;
    made.linksName = name;
  }
  for (const OutputFile& file : members) {
    if (!file.hasTemporary()) continue;
    const Hidden& made = hiddenOf(file);
    const char* name = file.temporary().c_str();
    if (linkat(made.directory->descriptor(), name, made.links->descriptor(), name, 0) == 0) continue;
    // A file system without hard links: after a SIGKILL nothing tells the new outputs
    // already placed from the earlier files, and they stay.
    if (errno == EPERM || errno == ENOTSUP || errno == EOPNOTSUPP) continue;
    throw IoFailure(systemReason("cannot create the output file", errno), file.target());
  }
}

// The first hidden directory's links become the last one's mark: one rename marks
// both directories of a group at once, the first by its links going and the last by
// its mark coming, so that each, put back or not on its own, agrees with the other
// (the program's groups span at most two directories: -e's compressed file may be
// elsewhere than map.txt). Between two file systems, or two mounts of one, no rename
// can do that, and each directory is marked in turn.
void CommitGroup::markComplete() noexcept {
  if (hidden.empty() || !hidden.front().links) return;
  const auto markInPlace = [](Hidden& made) {
    const std::string mark = stem(made.name) + ".done";
    if (renameat(made.directory->descriptor(), made.linksName.c_str(), made.directory->descriptor(), mark.c_str()) ==
        0) {
      made.linksName = mark;
    }
  };
  Hidden& first = hidden.front();
  Hidden& last = hidden.back();
  const std::string mark = stem(last.name) + ".done";
  if (renameat(first.directory->descriptor(), first.linksName.c_str(), last.directory->descriptor(), mark.c_str()) !=
      0) {
    for (Hidden& made : hidden) markInPlace(made);
    return;
  }
  first.linksParent = last.directory;
  first.linksName = mark;
  for (std::size_t i = 1; i + 1 < hidden.size(); ++i) markInPlace(hidden[i]);
}

std::string CommitGroup::putBack(OutputFile& file, Placed placed, bool& leftNew) {
  if (placed == Placed::Direct || placed == Placed::Replaced) return {};
  const int from = file.temporaryDirectory().descriptor();
  const std::string kept = file.temporary();  // release() clears the member's
  const char* temporary = kept.c_str();
  const int to = file.placement().directory->descriptor();
  const char* name = file.placement().name.c_str();
  const std::string aside = file.temporaryDirectory().pathOf(kept);
  const auto ours = [&] {
    struct stat info {};
    return fstatat(from, temporary, &info, AT_SYMLINK_NOFOLLOW) == 0 && file.written().is(info);
  };
  if (placed == Placed::Created) {
    // Removed only while it is the file this command made: taken into the hidden
    // directory, it is looked at there, and the file of another writer that took its
    // name meanwhile goes back to that name.
    if (renameat2(to, name, from, temporary, RENAME_NOREPLACE) != 0 &&
        (!noExchangeHere(errno) || renameat(to, name, from, temporary) != 0)) {
      if (errno == ENOENT) return {};  // no longer there
      leftNew = true;
      return systemReason((file.target() + " is left new: cannot remove it").c_str(), errno);
    }
    if (ours()) return {};  // the member removes it
    file.release();
    if (renameat2(from, temporary, to, name, RENAME_NOREPLACE) == 0) {
      return file.target() + " is left as it is: another file took its name after this command made it";
    }
    return "the file that took the name of " + file.target() + " after this command made it is now " + aside;
  }
  const bool back = placed == Placed::Exchanged ? renameat2(from, temporary, to, name, RENAME_EXCHANGE) == 0
                                                : renameat(from, temporary, to, name) == 0;
  if (!back) {
    leftNew = true;
    file.release();  // the temporary's name holds the earlier file
    return file.target() + " is left new, its earlier file is " + aside;
  }
  if (placed == Placed::Linked || ours()) return {};
  file.release();
  return file.target() + " has its earlier file back, and the file that had taken its place is now " + aside;
}

std::string CommitGroup::undo(const std::vector<Placed>& placed) {
  std::string said;
  bool leftNew = false;
  for (std::size_t i = placed.size(); i-- > 0;) {
    const std::string note = putBack(members[i], placed[i], leftNew);
    if (!note.empty()) said += "; " + note;
  }
  // An output left new keeps the links, which tell the recovery what to put back.
  if (!leftNew) removeLinks();
  members.clear();
  if (leftNew) {
    for (Hidden& made : hidden) dropTemporary(made.entry);
    hidden.clear();
  } else {
    removeHiddenDirectories(false, 0);
  }
  return said;
}

void CommitGroup::commit() {
  if (committed) throw Misuse("output group committed twice");
  committed = true;
  for (OutputFile& file : members) file.close();
  // Every file that replaces another is on disk before the first takes its place.
  for (OutputFile& file : members) file.awaitData();
  std::vector<Placed> placed;
  placed.reserve(members.size());
  const SignalsHeld held;
  try {
    linkForRecovery();
    for (OutputFile& file : members) {
      if (file.hasTemporary()) {
        placed.push_back(file.place(true));
      } else {
        file.commit();  // written directly: closing it is all
        placed.push_back(Placed::Direct);
      }
    }
  } catch (const IoFailure& e) {
    const std::string notPutBack = undo(placed);
    if (notPutBack.empty()) throw;
    throw IoFailure(e.what() + notPutBack, e.file());
  } catch (...) {
    undo(placed);
    throw;
  }
  markComplete();
  // Every file is in place: the replaced ones go.
  int cause = 0;
  for (std::size_t i = 0; i < members.size(); ++i) {
    OutputFile& file = members[i];
    if ((placed[i] == Placed::Exchanged || placed[i] == Placed::Linked) &&
        unlinkat(file.temporaryDirectory().descriptor(), file.temporary().c_str(), 0) != 0 && cause == 0) {
      cause = errno;
    }
  }
  if (const int error = removeLinks(); cause == 0) cause = error;
  for (OutputFile& file : members) file.release();
  removeHiddenDirectories(true, cause);
}

int CommitGroup::removeLinks() noexcept {
  int first = 0;
  for (const OutputFile& file : members) {
    if (!file.hasTemporary()) continue;
    for (const Hidden& made : hidden) {
      if (made.directory.get() != &file.temporaryDirectory() || !made.links) continue;
      if (unlinkat(made.links->descriptor(), file.temporary().c_str(), 0) != 0 && errno != ENOENT && first == 0) {
        first = errno;
      }
    }
  }
  for (Hidden& made : hidden) {
    if (!made.links) continue;
    made.links.reset();
    if (unlinkat(made.linksParent->descriptor(), made.linksName.c_str(), AT_REMOVEDIR) != 0 && first == 0) {
      first = errno;
    }
    made.linksParent.reset();
  }
  return first;
}

void CommitGroup::removeHiddenDirectories(bool warn, int cause) noexcept {
  const SignalsHeld held;
  for (Hidden& made : hidden) {
    made.directory.reset();
    if (unlinkat(made.parent->descriptor(), made.name.c_str(), AT_REMOVEDIR) != 0) {
      const int error = errno;
      if (warn && error != ENOENT) {
        warnAfterCommand(made.parent->pathOf(made.name),
                         systemReason("left behind with what it holds: cannot remove it", cause != 0 ? cause : error) +
                             "; every output is in place");
      }
    }
    dropTemporary(made.entry);
  }
  hidden.clear();
}

}  // namespace meshcodec
