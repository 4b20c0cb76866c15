#include "common/OutputFile.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <streambuf>
#include <tuple>
#include <utility>
#include <vector>

#include "common/CodecError.hpp"

namespace meshcodec {

namespace {

namespace fs = std::filesystem;

std::string systemReason(const char* what, int error) {
  std::string reason = what;
  if (error > 0) reason += std::string(": ") + std::strerror(error);
  return reason;
}

// The temporary files that exist, for the handler of the stop signals to remove. The
// list is changed only while those signals are blocked, so the handler never sees it
// half updated; it is never freed, as the handler may run while the program exits.
struct TemporaryList {
  std::vector<char*> paths;  // null in a free entry
  std::vector<std::size_t> freeEntries;
};
TemporaryList* temporaries = nullptr;

// The signals whose default action ends the process and that a user or a shell
// sends to stop a command: an interrupt, a termination, a closed terminal, and a
// write to a pipe whose reader has gone (the output, or standard output, piped on).
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

sigset_t stopSignals() {
  sigset_t all;
  sigemptyset(&all);
  for (const int signal : kStopSignals) sigaddset(&all, signal);
  return all;
}

// Blocks the stop signals for its lifetime.
class SignalsHeld {
 public:
  SignalsHeld() {
    const sigset_t stops = stopSignals();
    sigprocmask(SIG_BLOCK, &stops, &previous);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous;
};

// The descriptors open when recordOpenDescriptors() was called, in increasing order.
bool descriptorsRecorded = false;
std::vector<int> descriptorsAtStart;

bool openAtStart(int descriptor) {
  return !descriptorsRecorded ||
         std::binary_search(descriptorsAtStart.begin(), descriptorsAtStart.end(), descriptor);
}

extern "C" void removeTemporariesAndStop(int signal) {
  // Only async-signal-safe calls. SA_RESETHAND has restored the default action, so
  // the signal raised again stops the process as soon as the handler returns.
  for (char* path : temporaries->paths) {
    if (path != nullptr) unlink(path);
  }
  raise(signal);
}

// Installs the handler for each signal whose action is still the default one: a
// signal that the caller of the program ignores stays ignored.
void installHandler() {
  for (const int signal : kStopSignals) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = removeTemporariesAndStop;
    action.sa_mask = stopSignals();
    action.sa_flags = SA_RESETHAND;
    sigaction(signal, &action, nullptr);
  }
}

// Called with the signals held.
std::ptrdiff_t addTemporary(const std::string& path) {
  if (temporaries == nullptr) {
    temporaries = new TemporaryList;
    installHandler();
  }
  std::vector<char*>& paths = temporaries->paths;
  std::vector<std::size_t>& freeEntries = temporaries->freeEntries;
  if (freeEntries.empty()) {
    paths.push_back(nullptr);
    freeEntries.push_back(paths.size() - 1);
    // Room for every entry to be free, so that dropTemporary cannot fail.
    freeEntries.reserve(paths.size());
  }
  char* copy = strdup(path.c_str());
  if (copy == nullptr) throw std::bad_alloc();
  const std::size_t entry = freeEntries.back();
  freeEntries.pop_back();
  paths[entry] = copy;
  return static_cast<std::ptrdiff_t>(entry);
}

// Called with the signals held.
void dropTemporary(std::ptrdiff_t entry) {
  if (entry < 0) return;
  char*& path = temporaries->paths[static_cast<std::size_t>(entry)];
  std::free(path);
  path = nullptr;
  temporaries->freeEntries.push_back(static_cast<std::size_t>(entry));
}

bool onProcFileSystem(const std::string& path) {
  std::string directory = fs::path(path).parent_path().string();
  if (directory.empty()) directory = ".";
  struct statfs info {};
  return statfs(directory.c_str(), &info) == 0 && info.f_type == PROC_SUPER_MAGIC;
}

// Where the output goes. Symbolic links are followed to the end of their chain,
// relative ones from the link's directory, as the system follows them.
struct Placement {
  enum Kind { Replace, Direct, OwnDescriptor } kind;
  std::string path;  // Replace: the file that the rename replaces (or creates)
  int descriptor;    // OwnDescriptor: the descriptor that the name stands for
};

bool sameFile(const std::string& a, const char* b) {
  struct stat first {}, second {};
  return stat(a.c_str(), &first) == 0 && stat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// A name in this process's descriptor directory, whatever way leads there. The
// thread's own directory is another one with the same descriptors.
int ownDescriptor(const std::string& path) {
  const fs::path name(path);
  const std::string number = name.filename().string();
  if (number.empty() || number.size() > 9 || number.find_first_not_of("0123456789") != std::string::npos) return -1;
  std::string directory = name.parent_path().string();
  if (directory.empty()) directory = ".";
  return sameFile(directory, "/proc/self/fd") || sameFile(directory, "/proc/thread-self/fd") ? std::stoi(number)
                                                                                                : -1;
}

Placement placementOf(const std::string& target) {
  constexpr int kMaxLinks = 40;
  std::string path = target;
  for (int links = 0;; ++links) {
    if (onProcFileSystem(path)) {
      const int descriptor = ownDescriptor(path);
      if (descriptor < 0) return {Placement::Direct, target, -1};
      // A descriptor that the program itself opened is another output's file.
      if (!openAtStart(descriptor)) throw IoFailure(systemReason("cannot open the output file", EBADF), target);
      return {Placement::OwnDescriptor, target, descriptor};
    }
    struct stat info {};
    // A name that does not exist is created by the rename; any other fault shows
    // when the temporary file is created beside it.
    if (lstat(path.c_str(), &info) != 0) return {Placement::Replace, path, -1};
    if (!S_ISLNK(info.st_mode)) {
      const bool replace = S_ISREG(info.st_mode) || S_ISDIR(info.st_mode);
      return {replace ? Placement::Replace : Placement::Direct, path, -1};
    }
    std::error_code error;
    const fs::path link = fs::read_symlink(path, error);
    if (error) throw IoFailure("cannot read the symbolic link " + path + ": " + error.message(), target);
    if (links == kMaxLinks) throw IoFailure(systemReason("cannot follow the output name", ELOOP), target);
    path = (link.is_absolute() ? link : fs::path(path).parent_path() / link).string();
  }
}

// The file name that a rename can replace or create; an empty target is named as
// typed, since an error without a file name would be taken for the input's.
void requireFileName(const std::string& place, const std::string& target) {
  const std::string name = fs::path(place).filename().string();
  if (name.empty() || name == "." || name == "..") {
    throw IoFailure("not a file name", target.empty() ? "''" : target);
  }
}

std::string directoryOf(const std::string& place) {
  const std::string directory = fs::path(place).parent_path().string();
  return directory.empty() ? "." : directory;
}

// Creates a new file beside `beside` with the given permissions and returns its
// descriptor, the file registered for removal on a signal. The name is short, so
// that it is legal wherever the target's name is; O_EXCL refuses names that exist, so
// a leftover of an earlier run or a concurrent writer is never reused.
int createTemporaryBeside(const std::string& beside, const std::string& target, mode_t mode,
                          std::string& temporary, std::ptrdiff_t& slot) {
  const fs::path path(beside);
  requireFileName(beside, target);
  static unsigned counter = 0;
  int lastError = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate =
        (path.parent_path() / (".meshcodec-" + std::to_string(getpid()) + "-" +
                               std::to_string(counter++) + ".tmp"))
            .string();
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

// Gives a file, created private, the mode of the file it replaces, and its owner and
// group where the process may set them (root may; another user only a group of its
// own), as a copy that preserves them would; failures leave it private. The owner goes
// first because a change of owner clears set-id bits. A set-id bit of an owner or a
// group that could not be kept is dropped: it would grant this user's rights instead.
void takeOwnerAndMode(int descriptor, const struct stat& replaced) {
  const bool owner = fchown(descriptor, replaced.st_uid, replaced.st_gid) == 0;
  const bool group = owner || fchown(descriptor, static_cast<uid_t>(-1), replaced.st_gid) == 0;
  mode_t mode = replaced.st_mode & 07777;
  if (!owner) mode &= ~S_ISUID;
  if (!group) mode &= ~S_ISGID;
  fchmod(descriptor, mode);
}

}  // namespace

OutputFile::CommitGroup::CommitGroup() {
  const sigset_t stops = stopSignals();
  sigprocmask(SIG_BLOCK, &stops, &previous);
}

// A signal that arrived meanwhile is delivered here: its handler finds the committed
// files no longer temporary and only stops the process.
OutputFile::CommitGroup::~CommitGroup() { sigprocmask(SIG_SETMASK, &previous, nullptr); }

void OutputFile::recordOpenDescriptors() {
  DIR* listing = opendir("/proc/self/fd");
  // Without /proc no name leads to a descriptor, and the record is not needed.
  if (listing == nullptr) return;
  std::vector<int> open;
  while (const dirent* entry = readdir(listing)) {
    char* end = nullptr;
    const long number = std::strtol(entry->d_name, &end, 10);
    if (end != entry->d_name && *end == '\0' && number != dirfd(listing)) open.push_back(static_cast<int>(number));
  }
  closedir(listing);
  std::sort(open.begin(), open.end());
  descriptorsAtStart = std::move(open);
  descriptorsRecorded = true;
}

void OutputFile::checkTargets(const std::vector<std::string>& targets) {
  // One file is one device and inode; a name to be created, its directory's and the
  // name in it. Sorted, two targets of one file are neighbours.
  struct Identity {
    dev_t device;
    ino_t inode;
    std::string name;
    std::size_t target;
    bool operator<(const Identity& other) const {
      return std::tie(device, inode, name, target) < std::tie(other.device, other.inode, other.name, other.target);
    }
  };
  std::vector<Identity> identities;
  identities.reserve(targets.size());
  std::string checkedDirectory;  // the frames of an animation share one
  struct stat directoryInfo {};
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const Placement placement = placementOf(targets[i]);
    struct stat info {};
    if (placement.kind != Placement::Replace) {
      if (stat(targets[i].c_str(), &info) == 0) identities.push_back({info.st_dev, info.st_ino, {}, i});
      continue;
    }
    requireFileName(placement.path, targets[i]);
    const std::string directory = directoryOf(placement.path);
    if (directory != checkedDirectory) {
      // A directory with search and write permission, as creating the temporary file
      // needs; the reason is the one that creating it would give.
      int error = 0;
      if (stat(directory.c_str(), &directoryInfo) != 0) error = errno;
      else if (!S_ISDIR(directoryInfo.st_mode)) error = ENOTDIR;
      else if (faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) != 0) error = errno;
      if (error != 0) throw IoFailure(systemReason("cannot create the output file", error), targets[i]);
      checkedDirectory = directory;
    }
    if (stat(placement.path.c_str(), &info) == 0) {
      identities.push_back({info.st_dev, info.st_ino, {}, i});
    } else {
      identities.push_back({directoryInfo.st_dev, directoryInfo.st_ino, fs::path(placement.path).filename().string(), i});
    }
  }
  std::sort(identities.begin(), identities.end());
  for (std::size_t i = 1; i < identities.size(); ++i) {
    const Identity& first = identities[i - 1];
    const Identity& second = identities[i];
    if (first.device == second.device && first.inode == second.inode && first.name == second.name) {
      throw BadArgument("the same file as " + targets[second.target] + ", another output of the command",
                        targets[first.target]);
    }
  }
}

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

  // Writes out the buffer and closes the descriptor; the errno of the first failure,
  // -1 for a stream that failed otherwise, 0 when every byte was written.
  int finish() {
    drain();
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

OutputFile::OutputFile(std::string target) : targetPath(std::move(target)) {
  const Placement placement = placementOf(targetPath);
  int descriptor = -1;
  switch (placement.kind) {
    case Placement::Replace: {
      placePath = placement.path;
      struct stat replaced {};
      const bool replaces = stat(placePath.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode);
      // A new file gets what the umask leaves of 0666; a replacement is private until
      // it has the replaced file's owner and mode, never more open than that file.
      descriptor = createTemporaryBeside(placePath, targetPath, replaces ? 0600 : 0666, temporaryPath, slot);
      if (replaces) takeOwnerAndMode(descriptor, replaced);
      break;
    }
    case Placement::OwnDescriptor:
      // What the program has printed on standard output goes first, as it would
      // on a terminal.
      std::cout.flush();
      descriptor = fcntl(placement.descriptor, F_DUPFD_CLOEXEC, 0);
      break;
    case Placement::Direct:
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
  const int error = out->finish();
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
