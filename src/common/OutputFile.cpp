#include "common/OutputFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <streambuf>
#include <utility>

#include "common/CodecError.hpp"
#include "common/CommitGroup.hpp"
#include "common/OutputTarget.hpp"

namespace meshcodec {

namespace {

namespace fs = std::filesystem;

// Creates a new file in `directory` ("" for the working directory) with the given
// permissions and returns its descriptor, the file registered for removal on a
// signal. The name is short, so that it is legal wherever the target's name is;
// O_EXCL refuses names that exist, so a leftover of an earlier run or a concurrent
// writer is never reused.
int createTemporaryIn(const fs::path& directory, const std::string& target, mode_t mode, std::string& temporary,
                      std::ptrdiff_t& slot) {
  int lastError = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = (directory / temporaryName()).string();
    const SignalsHeld held;
    const int descriptor = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (descriptor >= 0) {
      try {
        slot = addTemporary(candidate);
      } catch (...) {
        ::close(descriptor);
        unlink(candidate.c_str());
        throw;
      }
      temporary = candidate;
      return descriptor;
    }
    lastError = errno;
    if (lastError != EEXIST) break;
  }
  throw IoFailure(systemReason("cannot create the output file", lastError), target);
}

// The extended attribute that holds a file's access ACL.
constexpr const char* kAccessAcl = "system.posix_acl_access";

// Gives the replacement of `replaced` (at `place`) the replaced file's access ACL, or
// none when it has none: a default ACL of the directory, inherited at creation, would
// open the file to users the replaced file kept out. With an ACL the group bits of
// the mode are only its mask, so the mode alone would open the file to its owning
// group and shut out its named users and groups; rather than that, IoFailure naming
// the target when the ACL cannot be kept (a filesystem without ACLs, no permission).
void takeAccessAcl(int descriptor, const std::string& place, const std::string& target) {
  std::string acl;
  for (;;) {
    const ssize_t size = getxattr(place.c_str(), kAccessAcl, nullptr, 0);
    if (size < 0) break;
    acl.resize(static_cast<std::size_t>(size));
    const ssize_t read = getxattr(place.c_str(), kAccessAcl, acl.data(), acl.size());
    if (read >= 0) {
      acl.resize(static_cast<std::size_t>(read));
      if (fsetxattr(descriptor, kAccessAcl, acl.data(), acl.size(), 0) != 0) {
        throw IoFailure(systemReason("cannot keep the access control list of the replaced file", errno), target);
      }
      return;
    }
    if (errno != ERANGE) break;  // ERANGE: the ACL grew between the two calls; read it again
  }
  if (errno != ENODATA && errno != ENOTSUP) {
    throw IoFailure(systemReason("cannot read the access control list of the replaced file", errno), target);
  }
  if (fremovexattr(descriptor, kAccessAcl) != 0 && errno != ENODATA && errno != ENOTSUP) {
    throw IoFailure(systemReason("cannot remove an inherited access control list", errno), target);
  }
}

// Gives a file, created private, the owner and group of the file it replaces where the
// process may set them (root may; another user only a group of its own), and its
// access ACL, as a copy that preserves them would; failures of the owner or group
// leave it with this user's. Returns the mode to set once the content is written: a
// write by a process that may not set ids clears set-id bits, and so does a change of
// owner, which is why the owner comes first. A set-id bit of an owner or a group that
// could not be kept is dropped: it would grant this user's rights instead. So are the
// group's permissions beyond those of others when the group could not be kept: they
// would open the file to this user's group, which the replaced file kept out.
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
  takeAccessAcl(descriptor, place, target);
  mode_t mode = replaced.st_mode & 07777;
  if (!owner) mode &= ~S_ISUID;
  if (!group) mode = (mode & ~(S_ISGID | S_IRWXG)) | (mode & (mode & S_IRWXO) << 3);
  return mode;
}

}  // namespace

// A stream that writes through a file descriptor and keeps the first error of a
// write or of closing, which a full disk may only report then.
class OutputFile::Descriptor : public std::streambuf {
 public:
  explicit Descriptor(int descriptor) : descriptor(descriptor), stream(this) {
    setp(buffer, buffer + sizeof buffer);
  }
  ~Descriptor() override {
    if (descriptor >= 0) ::close(descriptor);
  }

  // Writes out the buffer and closes the descriptor, giving the file `mode` in between
  // when one is set; the errno of the first failed write or close, -1 for a stream
  // that failed otherwise, 0 when every byte was written. A mode that cannot be set
  // leaves the file as private as it is.
  int finish(const std::optional<mode_t>& mode) {
    drain();
    if (error == 0 && mode) fchmod(descriptor, *mode);
    if (::close(descriptor) != 0 && error == 0) error = errno;
    descriptor = -1;
    if (error == 0 && stream.fail()) error = -1;
    return error;
  }

  std::ostream& out() { return stream; }

 protected:
  int_type overflow(int_type c) override {
    if (!drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return drain() ? 0 : -1; }

 private:
  bool drain() {
    for (const char* next = pbase(); next < pptr() && error == 0;) {
      const ssize_t written = ::write(descriptor, next, static_cast<size_t>(pptr() - next));
      if (written > 0) {
        next += written;
      } else if (written == 0 || errno != EINTR) {
        error = written == 0 ? EIO : errno;  // a device that takes nothing would loop forever
      }
    }
    setp(buffer, buffer + sizeof buffer);
    return error == 0;
  }

  int descriptor;
  int error = 0;
  std::ostream stream;
  char buffer[1 << 16];
};

OutputFile::OutputFile(std::string target, CommitGroup* group) : targetPath(std::move(target)) {
  const OutputTarget placement = OutputTarget::of(targetPath);
  int descriptor = -1;
  switch (placement.kind) {
    case OutputTarget::Replace: {
      placePath = placement.path;
      requireFileName(placePath, targetPath);
      struct stat replaced {};
      bool replaces = false;
      // Only a name that does not exist is a new file: one that cannot be examined
      // (too long a name, a size beyond the offsets) would lose its mode and owner.
      if (stat(placePath.c_str(), &replaced) == 0) replaces = S_ISREG(replaced.st_mode);
      else if (errno != ENOENT) throw IoFailure(systemReason("cannot create the output file", errno), targetPath);
      const fs::path directory = group ? fs::path(group->directoryBeside(placePath, targetPath))
                                       : fs::path(placePath).parent_path();
      // A new file gets what the umask leaves of 0666; a replacement is private until
      // it has the replaced file's owner and mode, never more open than that file.
      descriptor = createTemporaryIn(directory, targetPath, replaces ? 0600 : 0666, temporaryPath, slot);
      if (replaces) {
        try {
          modeAfterWriting = takeOwnerAndMode(descriptor, placePath, replaced, targetPath);
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
      descriptor = fcntl(placement.descriptor, F_DUPFD_CLOEXEC, 0);
      break;
    case OutputTarget::Direct:
      // Appending writes after what a file behind a /proc name already holds; a
      // device or a FIFO ignores it.
      descriptor = open(placement.path.c_str(), O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC);
      break;
  }
  if (descriptor < 0) {
    const int error = errno;
    discard();
    throw IoFailure(systemReason("cannot open the output file", error), targetPath);
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
    : targetPath(std::move(other.targetPath)),
      placePath(std::move(other.placePath)),
      temporaryPath(std::move(other.temporaryPath)),
      out(std::move(other.out)),
      slot(other.slot),
      modeAfterWriting(other.modeAfterWriting),
      state(other.state) {
  other.temporaryPath.clear();
  other.slot = -1;
  other.state = State::Committed;  // nothing left to remove
}

OutputFile::~OutputFile() {
  if (state != State::Committed) discard();
}

void OutputFile::discard() noexcept {
  out.reset();
  state = State::Failed;
  if (temporaryPath.empty()) return;
  const SignalsHeld held;
  unlink(temporaryPath.c_str());
  dropTemporary(slot);
  slot = -1;
  temporaryPath.clear();
}

void OutputFile::close() {
  if (state == State::Failed) throw Misuse("output file used after a failure", targetPath);
  if (state != State::Open) return;
  // The replaced file's mode goes on once the content is written, so that no write
  // clears its set-id bits.
  const int error = out->finish(modeAfterWriting);
  if (error != 0) {
    discard();
    throw IoFailure(systemReason("cannot write the output file", error), targetPath);
  }
  out.reset();
  // A directory would refuse the rename; finding it now keeps the other files of a
  // group from being replaced before it.
  struct stat info {};
  if (!placePath.empty() && stat(placePath.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    discard();
    throw IoFailure(systemReason("cannot replace the output file", EISDIR), targetPath);
  }
  state = State::Closed;
}

void OutputFile::commit() {
  if (state == State::Committed) throw Misuse("output file committed twice", targetPath);
  close();
  if (!temporaryPath.empty()) {
    const SignalsHeld held;
    if (std::rename(temporaryPath.c_str(), placePath.c_str()) != 0) {
      const int error = errno;
      discard();
      throw IoFailure(systemReason("cannot replace the output file", error), targetPath);
    }
    dropTemporary(slot);
    slot = -1;
    temporaryPath.clear();
  }
  state = State::Committed;
}

}  // namespace meshcodec
