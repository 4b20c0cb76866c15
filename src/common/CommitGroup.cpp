#include "common/CommitGroup.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "common/CodecError.hpp"
#include "common/TemporaryFiles.hpp"

namespace meshcodec {

namespace {

// The file system cannot exchange two names, or the system does not know the call.
bool noExchangeHere(int error) { return error == EINVAL || error == ENOSYS; }

[[noreturn]] void refused(int error, const OutputFile& file) {
  throw IoFailure(systemReason("cannot replace the output file", error), file.target());
}

}  // namespace

CommitGroup::~CommitGroup() {
  members.clear();  // each removes its temporary file unless committed
  removeHiddenDirectories();
}

OutputFile& CommitGroup::add(std::string target) {
  OutputTarget placement = OutputTarget::of(target, &resolved);
  std::shared_ptr<const Directory> directory;
  std::string temporary;
  if (placement.kind == OutputTarget::Replace) {
    directory = hiddenBeside(placement.directory, target);
    // Named after its target: once exchanged, the name holds the replaced file, and
    // a person who finds the directory after a SIGKILL can tell whose file it is.
    temporary = placement.name;
  }
  members.emplace_back(std::move(target), std::move(placement), std::move(directory), std::move(temporary));
  return members.back();
}

std::shared_ptr<const Directory> CommitGroup::hiddenBeside(const std::shared_ptr<const Directory>& directory,
                                                           const std::string& target) {
  for (const Hidden& made : hidden) {
    if (made.parent->device() == directory->device() && made.parent->inode() == directory->inode()) {
      return made.directory;
    }
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
    Hidden made{directory, std::move(name), nullptr, -1};
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

CommitGroup::Placed CommitGroup::place(OutputFile& file) {
  if (!file.hasTemporary()) {
    file.commit();  // written directly: closing it is all
    return Placed::Direct;
  }
  const int from = file.temporaryDirectory().descriptor();
  const char* temporary = file.temporary().c_str();
  const int to = file.placement().directory->descriptor();
  const char* name = file.placement().name.c_str();
  struct stat info {};
  if (fstatat(to, name, &info, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) {
    // A name that appears meanwhile is another writer's file, not to be replaced.
    if (renameat2(from, temporary, to, name, RENAME_NOREPLACE) == 0) return Placed::Created;
    if (!noExchangeHere(errno)) refused(errno, file);
    if (linkat(from, temporary, to, name, 0) == 0) {
      unlinkat(from, temporary, 0);
      return Placed::Created;
    }
    if (errno == EEXIST) refused(errno, file);
    // Nor hard links: the plain rename, which may replace a name that appeared.
    if (renameat(from, temporary, to, name) != 0) refused(errno, file);
    return Placed::Created;
  }
  // A rename refuses to put a file over a directory; an exchange would not.
  if (S_ISDIR(info.st_mode)) refused(EISDIR, file);
  if (renameat2(from, temporary, to, name, RENAME_EXCHANGE) == 0) return Placed::Exchanged;
  if (!noExchangeHere(errno)) refused(errno, file);
  // Without the exchange the replaced file keeps a hard link under the temporary's
  // name, which the written file leaves for a name of its own first.
  const std::string aside = temporaryName();
  if (renameat(from, temporary, from, aside.c_str()) != 0) refused(errno, file);
  if (linkat(to, name, from, temporary, 0) != 0) {
    const int error = errno;
    renameat(from, aside.c_str(), from, temporary);
    throw IoFailure(systemReason("cannot replace the output file: it can be neither exchanged nor linked to be put "
                                 "back should another output fail",
                                 error),
                    file.target());
  }
  if (renameat(from, aside.c_str(), to, name) != 0) {
    const int error = errno;
    unlinkat(from, temporary, 0);
    renameat(from, aside.c_str(), from, temporary);
    refused(error, file);
  }
  return Placed::Linked;
}

void CommitGroup::putBack(OutputFile& file, Placed placed) noexcept {
  if (placed == Placed::Direct) return;
  const int from = file.temporaryDirectory().descriptor();
  const char* temporary = file.temporary().c_str();
  const int to = file.placement().directory->descriptor();
  const char* name = file.placement().name.c_str();
  switch (placed) {
    case Placed::Exchanged:
      // The written file is back under the temporary's name, for the member to remove.
      if (renameat2(from, temporary, to, name, RENAME_EXCHANGE) == 0) return;
      break;
    case Placed::Linked:
      if (renameat(from, temporary, to, name) == 0) return;
      break;
    case Placed::Created:
      unlinkat(to, name, 0);
      return;
    case Placed::Direct:
      return;
  }
  // The replaced file could not be put back: it stays, with its content, in the
  // hidden directory under its target's name, which the member must not remove.
  file.release();
}

void CommitGroup::commit() {
  if (committed) throw Misuse("output group committed twice");
  committed = true;
  for (OutputFile& file : members) file.close();
  std::vector<Placed> placed;
  placed.reserve(members.size());
  const SignalsHeld held;
  try {
    for (OutputFile& file : members) placed.push_back(place(file));
  } catch (...) {
    for (std::size_t i = placed.size(); i-- > 0;) putBack(members[i], placed[i]);
    members.clear();
    removeHiddenDirectories();
    throw;
  }
  // Every file is in place: the replaced ones go.
  for (std::size_t i = 0; i < members.size(); ++i) {
    OutputFile& file = members[i];
    if (placed[i] == Placed::Exchanged || placed[i] == Placed::Linked) {
      unlinkat(file.temporaryDirectory().descriptor(), file.temporary().c_str(), 0);
    }
    file.release();
  }
  removeHiddenDirectories();
}

void CommitGroup::removeHiddenDirectories() noexcept {
  const SignalsHeld held;
  for (Hidden& made : hidden) {
    made.directory.reset();
    unlinkat(made.parent->descriptor(), made.name.c_str(), AT_REMOVEDIR);
    dropTemporary(made.entry);
  }
  hidden.clear();
}

}  // namespace meshcodec
