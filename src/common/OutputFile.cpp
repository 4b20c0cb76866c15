#include "common/OutputFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <optional>
#include <utility>

#include "common/CodecError.hpp"
#include "common/DescriptorBuffer.hpp"
#include "common/TemporaryFiles.hpp"
#include "common/Writeback.hpp"

namespace meshcodec {

namespace {

// The extended attribute that holds a file's access ACL: a 4-byte version, then
// 8-byte entries of a 16-bit tag, 16-bit permissions and a 32-bit id, little-endian.
constexpr const char* kAccessAcl = "system.posix_acl_access";
constexpr unsigned kAclVersion = 2, kAclGroupObj = 0x04, kAclMask = 0x10, kAclOther = 0x20;

unsigned aclField16(const std::string& acl, std::size_t at) {
  return static_cast<unsigned char>(acl[at]) | static_cast<unsigned char>(acl[at + 1]) << 8;
}

// Limits the owning group's entry of the ACL `acl` to the rights of others, as the
// group bits of a mode without an ACL are limited; the mask and the named entries
// keep theirs. Returns whether the ACL has a mask, which the mode's group bits then
// stand for. IoFailure naming the target for bytes not in the known form.
bool restrictOwningGroup(std::string& acl, const std::string& target) {
  const bool known =
      acl.size() >= 4 && (acl.size() - 4) % 8 == 0 && aclField16(acl, 0) == kAclVersion && aclField16(acl, 2) == 0;
  std::size_t group = 0;  // where the owning group's entry starts; none starts at 0
  unsigned others = 0;
  bool masked = false;
  for (std::size_t at = 4; known && at < acl.size(); at += 8) {
    const unsigned tag = aclField16(acl, at);
    if (tag == kAclGroupObj) group = at;
    if (tag == kAclOther) others = aclField16(acl, at + 2);
    masked = masked || tag == kAclMask;
  }
  if (group == 0) {
    throw IoFailure("cannot keep the access control list of the replaced file: it is not in a known form", target);
  }
  const unsigned rights = aclField16(acl, group + 2) & others;
  acl[group + 2] = static_cast<char>(rights & 0xff);
  acl[group + 3] = static_cast<char>(rights >> 8);
  return masked;
}

// Gives the replacement of `replaced` (at `place`) the replaced file's access ACL, or
// none when it has none: a default ACL of the directory, inherited at creation, would
// open the file to users the replaced file kept out. With an ACL the group bits of
// the mode are only its mask, so the mode alone would open the file to its owning
// group and shut out its named users and groups; rather than that, IoFailure naming
// the target when the ACL cannot be kept (a filesystem without ACLs, no permission).
// A group that was not kept has its entry restricted (restrictOwningGroup). Returns
// whether the replacement has an ACL with a mask.
bool takeAccessAcl(int descriptor, const std::string& place, bool groupKept, const std::string& target) {
  std::string acl;
  for (;;) {
    const ssize_t size = lgetxattr(place.c_str(), kAccessAcl, nullptr, 0);
    if (size < 0) break;
    acl.resize(static_cast<std::size_t>(size));
    const ssize_t read = lgetxattr(place.c_str(), kAccessAcl, acl.data(), acl.size());
    if (read >= 0) {
      acl.resize(static_cast<std::size_t>(read));
      const bool masked = !groupKept && restrictOwningGroup(acl, target);
      if (fsetxattr(descriptor, kAccessAcl, acl.data(), acl.size(), 0) != 0) {
        throw IoFailure(systemReason("cannot keep the access control list of the replaced file", errno), target);
      }
      return masked;
    }
    if (errno != ERANGE) break;  // ERANGE: the ACL grew between the two calls; read it again
  }
  if (errno != ENODATA && errno != ENOTSUP) {
    throw IoFailure(systemReason("cannot read the access control list of the replaced file", errno), target);
  }
  if (fremovexattr(descriptor, kAccessAcl) != 0 && errno != ENODATA && errno != ENOTSUP) {
    throw IoFailure(systemReason("cannot remove an inherited access control list", errno), target);
  }
  return false;
}

// Gives a file, created private, the owner and group of the file it replaces where the
// process may set them (root may; another user only a group of its own), and its
// access ACL, as a copy that preserves them would; failures of the owner or group
// leave it with this user's. Returns the mode to set once the content is written: a
// write by a process that may not set ids clears set-id bits, and so does a change of
// owner, which is why the owner comes first. A set-id bit of an owner or a group that
// could not be kept is dropped: it would grant this user's rights instead. So are the
// group's permissions beyond those of others when the group could not be kept: they
// would open the file to this user's group, which the replaced file kept out. With an
// ACL's mask those bits are the mask, which bounds the named users and groups too, so
// the owning group's own entry is restricted instead.
mode_t takeOwnerAndMode(int descriptor, const std::string& place, const struct stat& replaced,
                        const std::string& target) {
  if (fchown(descriptor, replaced.st_uid, replaced.st_gid) != 0 &&
      fchown(descriptor, static_cast<uid_t>(-1), replaced.st_gid) != 0) {
    // Neither: the file keeps this user's group as well.
  }
  // What was kept, whichever call kept it: this user's own file keeps its owner even
  // when its group is one that this user may not give.
  struct stat taken {};
  const bool known = fstat(descriptor, &taken) == 0;
  const bool owner = known && taken.st_uid == replaced.st_uid;
  const bool group = known && taken.st_gid == replaced.st_gid;
  const bool masked = takeAccessAcl(descriptor, place, group, target);
  mode_t mode = replaced.st_mode & 07777;
  if (!owner) mode &= ~S_ISUID;
  if (!group) mode &= ~S_ISGID;
  if (!group && !masked) mode = (mode & ~S_IRWXG) | (mode & (mode & S_IRWXO) << 3);
  return mode;
}

}  // namespace

// A stream that writes through a file descriptor and keeps the first error of a
// write or of closing, which a full disk may only report then.
class OutputFile::Descriptor : public DescriptorBuffer {
 public:
  explicit Descriptor(int descriptor) : DescriptorBuffer(descriptor), stream(this) {}
  ~Descriptor() override {
    if (descriptor >= 0) ::close(descriptor);
  }

  // Writes out the buffer and closes the descriptor, giving the file `mode` in between
  // when one is set, and with `copy` a descriptor of the file for its way to disk; the
  // errno of the first failed write or close, -1 for a stream that failed otherwise,
  // 0 when every byte was written. A mode that cannot be set leaves the file as
  // private as it is.
  int finish(const std::optional<mode_t>& mode, int* copy) {
    drain();
    if (error == 0 && mode) fchmod(descriptor, *mode);
    if (error == 0 && copy != nullptr && (*copy = fcntl(descriptor, F_DUPFD_CLOEXEC, 0)) < 0) error = errno;
    if (::close(descriptor) != 0 && error == 0) error = errno;
    descriptor = -1;
    if (error == 0 && stream.fail()) error = -1;
    return error;
  }

  std::ostream& out() { return stream; }

 private:
  std::ostream stream;
};

namespace {

// Creates the temporary file as the entry `name` of `directory` with the given
// permissions (O_EXCL: never a name that exists) and registers it for removal by a
// stop signal; returns its descriptor and entry, or the descriptor -1 with errno set.
int createTemporary(const Directory& directory, const std::string& name, mode_t mode, std::ptrdiff_t& entry) {
  const SignalsHeld held;
  const int descriptor =
      openat(directory.descriptor(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (descriptor < 0) return -1;
  try {
    entry = addTemporary(directory.descriptor(), name, false);
  } catch (...) {
    ::close(descriptor);
    unlinkat(directory.descriptor(), name.c_str(), 0);
    throw;
  }
  return descriptor;
}

}  // namespace

OutputFile::OutputFile(std::string target) : OutputFile(OutputTarget::of(target)) {}

OutputFile::OutputFile(OutputTarget placement) : OutputFile(std::move(placement), nullptr, std::string()) {}

OutputFile::OutputFile(OutputTarget placement, std::shared_ptr<const Directory> temporaryDirectory,
                       std::string temporary)
    : placement_(std::move(placement)) {
  int descriptor = -1;
  switch (placement_.kind) {
    case OutputTarget::Replace: {
      const Directory& directory = *placement_.directory;
      struct stat replaced {};
      const bool exists = fstatat(directory.descriptor(), placement_.name.c_str(), &replaced, AT_SYMLINK_NOFOLLOW) == 0;
      // Only a name that does not exist is a new file: one that cannot be examined
      // (too long a name, a size beyond the offsets) would lose its mode and owner.
      if (!exists && errno != ENOENT) {
        throw IoFailure(systemReason("cannot create the output file", errno), target());
      }
      if (exists != placement_.found.exists || (exists && !placement_.found.is(replaced))) changedAfterChecks();
      const bool replaces = exists && S_ISREG(replaced.st_mode);
      // A new file gets what the umask leaves of 0666; a replacement is private until
      // it has the replaced file's owner and mode, never more open than that file.
      const mode_t mode = replaces ? 0600 : 0666;
      if (temporaryDirectory) {
        temporaryDirectory_ = std::move(temporaryDirectory);
        descriptor = createTemporary(*temporaryDirectory_, temporary, mode, entry);
        if (descriptor >= 0) temporary_ = std::move(temporary);
      } else {
        // Beside the target, under a hidden name of its own.
        requireWritableDirectory(directory, target());
        temporaryDirectory_ = placement_.directory;
        for (int attempt = 0; attempt < 100 && descriptor < 0; ++attempt) {
          std::string name = meshcodec::temporaryName();
          descriptor = createTemporary(directory, name, mode, entry);
          if (descriptor >= 0) temporary_ = std::move(name);
          else if (errno != EEXIST) break;
        }
      }
      if (descriptor < 0) throw IoFailure(systemReason("cannot create the output file", errno), target());
      struct stat created {};
      if (fstat(descriptor, &created) == 0) written_ = EntryIdentity::of(created);
      if (replaces) {
        writeback = Writeback::Wanted;
        try {
          modeAfterWriting = takeOwnerAndMode(descriptor, stablePathOf(directory, placement_.name), replaced,
                                              target());
        } catch (...) {
          ::close(descriptor);
          discard();
          throw;
        }
      }
      break;
    }
    case OutputTarget::OwnDescriptor:
      // What the program has printed on standard output goes first, as it would
      // on a terminal.
      std::cout.flush();
      descriptor = fcntl(placement_.descriptor, F_DUPFD_CLOEXEC, 0);
      break;
    case OutputTarget::Direct: {
      // Appending writes after what a file behind a /proc name already holds; a
      // device or a FIFO ignores it. Only a /proc name may be a link (to what a
      // process has open).
      const Directory& directory = *placement_.directory;
      descriptor = openat(directory.descriptor(), placement_.name.c_str(),
                          O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC | (directory.onProc() ? 0 : O_NOFOLLOW));
      break;
    }
  }
  if (descriptor < 0) {
    const int error = errno;
    discard();
    throw IoFailure(systemReason("cannot open the output file", error), target());
  }
  try {
    out = std::make_unique<Descriptor>(descriptor);
  } catch (...) {
    ::close(descriptor);
    discard();
    throw;
  }
}

std::ostream& OutputFile::stream() { return out->out(); }

OutputFile::OutputFile(OutputFile&& other) noexcept
    : placement_(std::move(other.placement_)),
      temporaryDirectory_(std::move(other.temporaryDirectory_)),
      temporary_(std::move(other.temporary_)),
      written_(other.written_),
      out(std::move(other.out)),
      entry(other.entry),
      modeAfterWriting(other.modeAfterWriting),
      writeback(other.writeback),
      ticket(other.ticket),
      state(other.state) {
  other.temporary_.clear();
  other.entry = -1;
  other.state = State::Committed;  // nothing left to remove
}

OutputFile::~OutputFile() {
  if (state != State::Committed) discard();
}

void OutputFile::dropTemporaryEntry() noexcept {
  dropTemporary(entry);
  entry = -1;
  temporary_.clear();
}

void OutputFile::discard() noexcept {
  out.reset();
  state = State::Failed;
  if (temporary_.empty()) return;
  const SignalsHeld held;
  unlinkat(temporaryDirectory_->descriptor(), temporary_.c_str(), 0);
  dropTemporaryEntry();
}

void OutputFile::release() noexcept {
  const SignalsHeld held;
  dropTemporaryEntry();
  state = State::Committed;
}

void OutputFile::close() {
  if (state == State::Failed) throw Misuse("output file used after a failure", target());
  if (state != State::Open) return;
  // The replaced file's mode goes on once the content is written, so that no write
  // clears its set-id bits.
  int copy = -1;
  const int error = out->finish(modeAfterWriting, writeback == Writeback::Wanted ? &copy : nullptr);
  if (error != 0) {
    if (copy >= 0) ::close(copy);
    discard();
    throw IoFailure(systemReason("cannot write the output file", error), target());
  }
  out.reset();
  if (copy >= 0) {
    ticket = startWriteback(copy);
    writeback = Writeback::Started;
  }
  if (placement_.kind == OutputTarget::Replace) {
    try {
      // Found now, a changed entry or a directory, which would refuse the rename,
      // keeps the other files of a group from being replaced before it.
      requireUnchanged();
      if (placement_.found.type == S_IFDIR) {
        throw IoFailure(systemReason("cannot replace the output file", EISDIR), target());
      }
    } catch (...) {
      discard();
      throw;
    }
  }
  state = State::Closed;
}

void OutputFile::awaitData() {
  if (writeback != Writeback::Started) return;
  writeback = Writeback::Done;
  if (const int error = awaitWriteback(ticket); error != 0) {
    discard();
    throw IoFailure(systemReason("cannot write the output file", error), target());
  }
}

void OutputFile::requireUnchanged() const {
  struct stat now {};
  const bool exists =
      fstatat(placement_.directory->descriptor(), placement_.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0;
  if (placement_.found.exists ? !(exists && placement_.found.is(now)) : exists) changedAfterChecks();
}

void OutputFile::changedAfterChecks() const {
  throw IoFailure(placement_.found.exists
                      ? "cannot replace the output file: another entry took its place after the checks"
                      : "cannot create the output file: another entry took its name after the checks",
                  target());
}

OutputFile::Placed OutputFile::place(bool undoable) {
  const int from = temporaryDirectory_->descriptor();
  const char* temporary = temporary_.c_str();
  const int to = placement_.directory->descriptor();
  const char* name = placement_.name.c_str();
  const EntryIdentity& found = placement_.found;
  const auto refused = [&](int error) {
    throw IoFailure(systemReason("cannot replace the output file", error), target());
  };
  requireUnchanged();
  if (!found.exists) {
    // A name that appears meanwhile is another writer's file, not to be replaced.
    if (renameat2(from, temporary, to, name, RENAME_NOREPLACE) == 0) return Placed::Created;
    if (errno == EEXIST) changedAfterChecks();
    if (!noExchangeHere(errno)) refused(errno);
    if (linkat(from, temporary, to, name, 0) == 0) {
      unlinkat(from, temporary, 0);
      return Placed::Created;
    }
    if (errno == EEXIST) changedAfterChecks();
    // Nor hard links: the plain rename, which may replace a name that appeared since
    // the look above.
    if (renameat(from, temporary, to, name) != 0) refused(errno);
    return Placed::Created;
  }
  if (renameat2(from, temporary, to, name, RENAME_EXCHANGE) == 0) {
    // Another entry put under the name between the look above and the exchange (a
    // directory, a link, another file) has come in instead of the resolved file: it
    // goes back to its name, untouched.
    struct stat came {};
    if (fstatat(from, temporary, &came, AT_SYMLINK_NOFOLLOW) == 0 && found.is(came)) return Placed::Exchanged;
    if (renameat2(from, temporary, to, name, RENAME_EXCHANGE) == 0) changedAfterChecks();
    const int error = errno;
    const std::string where = temporaryDirectory_->pathOf(temporary_);
    release();  // what has the temporary's name is that other entry, not to be removed
    throw IoFailure(systemReason("cannot replace the output file: another entry took its place after the checks "
                                 "and cannot have its name back",
                                 error) +
                        "; the new file has that name, and the other entry is now " + where,
                    target());
  }
  if (!noExchangeHere(errno)) refused(errno);
  if (!undoable) {
    if (renameat(from, temporary, to, name) != 0) refused(errno);
    return Placed::Replaced;
  }
  // Without the exchange the replaced file keeps a hard link under the temporary's
  // name, which the written file leaves for a name of its own first.
  const std::string aside = temporaryName();
  if (renameat(from, temporary, from, aside.c_str()) != 0) refused(errno);
  if (linkat(to, name, from, temporary, 0) != 0) {
    const int error = errno;
    renameat(from, aside.c_str(), from, temporary);
    throw IoFailure(systemReason("cannot replace the output file: it can be neither exchanged nor linked to be put "
                                 "back should another output fail",
                                 error),
                    target());
  }
  struct stat linked {};
  if (fstatat(from, temporary, &linked, AT_SYMLINK_NOFOLLOW) != 0 || !found.is(linked)) {
    unlinkat(from, temporary, 0);
    renameat(from, aside.c_str(), from, temporary);
    changedAfterChecks();
  }
  if (renameat(from, aside.c_str(), to, name) != 0) {
    const int error = errno;
    unlinkat(from, temporary, 0);
    renameat(from, aside.c_str(), from, temporary);
    refused(error);
  }
  return Placed::Linked;
}

void OutputFile::commit() {
  if (state == State::Committed) throw Misuse("output file committed twice", target());
  close();
  if (!temporary_.empty()) {
    try {
      awaitData();
      const SignalsHeld held;
      if (place(false) == Placed::Exchanged &&
          unlinkat(temporaryDirectory_->descriptor(), temporary_.c_str(), 0) != 0) {
        warnAfterCommand(temporaryDirectory_->pathOf(temporary_),
                         systemReason("the file that the output replaced is left under this name: cannot remove it",
                                      errno));
      }
      dropTemporaryEntry();
    } catch (...) {
      if (state != State::Committed) discard();
      throw;
    }
  }
  state = State::Committed;
}

}  // namespace meshcodec
