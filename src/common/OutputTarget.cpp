#include "common/OutputTarget.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <tuple>
#include <utility>

#include "common/CodecError.hpp"

namespace meshcodec {

namespace {

// The most links followed while resolving one name, as the kernel allows.
constexpr int kMaxLinks = 40;

// The descriptors open when recordOpenDescriptors() was called, in increasing order.
bool descriptorsRecorded = false;
std::vector<int> descriptorsAtStart;

bool openAtStart(int descriptor) {
  return !descriptorsRecorded ||
         std::binary_search(descriptorsAtStart.begin(), descriptorsAtStart.end(), descriptor);
}

[[noreturn]] void cannotCreate(int error, const std::string& target) {
  throw IoFailure(systemReason("cannot create the output file", error), target);
}

std::shared_ptr<const Directory> openDirectory(int at, const char* name, std::string path, const std::string& target) {
  const int descriptor = openat(at, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) cannotCreate(errno, target);
  return std::make_shared<const Directory>(descriptor, std::move(path));
}

bool sameFile(const Directory& directory, const char* path) {
  struct stat info {};
  return stat(path, &info) == 0 && info.st_dev == directory.device() && info.st_ino == directory.inode();
}

// The descriptor that `name` in `directory` stands for when the directory is this
// process's descriptor directory (the thread's own is another with the same
// descriptors), -1 otherwise. Only the kernel's own spelling of a number names an
// entry there: "01" is no descriptor, and whatever such a name then gives is the
// kernel's answer.
int ownDescriptor(const Directory& directory, const std::string& name) {
  if (name.empty() || name.size() > 9 || name.find_first_not_of("0123456789") != std::string::npos ||
      (name[0] == '0' && name.size() > 1)) {
    return -1;
  }
  return sameFile(directory, "/proc/self/fd") || sameFile(directory, "/proc/thread-self/fd") ? std::atoi(name.c_str())
                                                                                            : -1;
}

// Another user may plant entries in a sticky, world-writable directory such as /tmp,
// to send the output onto a file of that user's choosing (a link) or to a reader of
// that user's (a FIFO). As the kernel's rules for protected links and FIFOs have it,
// whatever the machine's settings, such an entry is used only when it belongs to this
// user or to the directory's owner. The walk follows links itself, so the kernel's
// rule would never apply to them.
void requireEntryOfThisUser(const Directory& directory, const std::string& name, const struct stat& info,
                            const char* verb, const std::string& target) {
  if (!directory.shared() || info.st_uid == geteuid() || info.st_uid == directory.owner()) return;
  throw IoFailure(std::string("will not ") + verb + " " + directory.pathOf(name) +
                      ": it is in a sticky world-writable directory and belongs to neither this user nor the "
                      "directory's owner",
                  target);
}

// The last component of `path` and the part before it (with its slash, so that "/x"
// keeps the root); no slash, an empty directory part.
std::pair<std::string_view, std::string_view> splitLast(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {{}, path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

bool isFileName(std::string_view name) { return !name.empty() && name != "." && name != ".."; }

// Walks the directories of `path` from `from` (from the root for an absolute path, from
// the working directory when `from` is null), each of them, links to them included,
// and returns the last. Links count against `links`.
std::shared_ptr<const Directory> walkDirectories(std::shared_ptr<const Directory> from, std::string_view path,
                                                 int& links, const std::string& target);

// Follows the link `name` of `directory` to a directory, as a directory part of a name.
std::shared_ptr<const Directory> followToDirectory(const std::shared_ptr<const Directory>& directory,
                                                   const std::string& name, const struct stat& info, int& links,
                                                   const std::string& target);

std::string readLink(const Directory& directory, const std::string& name, const struct stat& info, int& links,
                     const std::string& target) {
  requireEntryOfThisUser(directory, name, info, "follow the symbolic link", target);
  if (++links > kMaxLinks) cannotCreate(ELOOP, target);
  std::string text(static_cast<std::size_t>(std::max<off_t>(info.st_size, 0)) + 1, '\0');
  for (;;) {
    const ssize_t length = readlinkat(directory.descriptor(), name.c_str(), text.data(), text.size());
    if (length < 0) {
      throw IoFailure(systemReason(("cannot read the symbolic link " + directory.pathOf(name)).c_str(), errno),
                      target);
    }
    if (static_cast<std::size_t>(length) < text.size()) {
      text.resize(static_cast<std::size_t>(length));
      return text;
    }
    text.resize(2 * text.size());  // a link of /proc states no size; it grew since
  }
}

// The directory where the walk of the absolute `path` starts, and `path` past it: the
// root, or the directory that the first name leads to when it is one and no link. The
// latter is opened by its absolute name, the same directory as the root's entry; a
// user-mode emulator that maps absolute names into the target's system root (as qemu
// does for the names found there) then finds it as it finds the files of the test.
std::shared_ptr<const Directory> startAtRoot(std::string_view& path, const std::string& target) {
  const std::size_t first = path.find_first_not_of('/');
  if (first != std::string_view::npos) {
    const std::size_t end = path.find('/', first);
    const std::string name(path.substr(0, end));
    struct stat info {};
    if (fstatat(AT_FDCWD, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode)) {
      path = end == std::string_view::npos ? std::string_view() : path.substr(end);
      return openDirectory(AT_FDCWD, name.c_str(), name, target);
    }
  }
  return openDirectory(AT_FDCWD, "/", "/", target);
}

std::shared_ptr<const Directory> walkDirectories(std::shared_ptr<const Directory> from, std::string_view path,
                                                 int& links, const std::string& target) {
  std::shared_ptr<const Directory> directory = std::move(from);
  if (!path.empty() && path[0] == '/') {
    directory = startAtRoot(path, target);
  } else if (!directory) {
    directory = openDirectory(AT_FDCWD, ".", "", target);
  }
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string name(path.substr(0, slash));
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    if (name.empty() || name == ".") continue;
    struct stat info {};
    if (fstatat(directory->descriptor(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) cannotCreate(errno, target);
    if (S_ISLNK(info.st_mode)) {
      directory = followToDirectory(directory, name, info, links, target);
    } else if (S_ISDIR(info.st_mode)) {
      directory = openDirectory(directory->descriptor(), name.c_str(), directory->pathOf(name), target);
    } else {
      cannotCreate(ENOTDIR, target);
    }
  }
  return directory;
}

std::shared_ptr<const Directory> followToDirectory(const std::shared_ptr<const Directory>& directory,
                                                   const std::string& name, const struct stat& info, int& links,
                                                   const std::string& target) {
  const std::string text = readLink(*directory, name, info, links, target);
  return walkDirectories(directory, text, links, target);
}

// Whether the process may replace other users' files in a sticky directory: it has
// CAP_FOWNER, as root has.
bool mayOverrideOwners() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return geteuid() == 0;
  return (data[CAP_TO_INDEX(CAP_FOWNER)].effective & CAP_TO_MASK(CAP_FOWNER)) != 0;
}

// Whether the entry `name` of the directory (the directory itself for an empty name)
// is immutable or append-only. statx reads the flags without opening the entry, so
// that an entry this user may not read is checked too; where the system lacks it,
// they are read through a descriptor. A file system without such flags says no.
bool immutableOrAppendOnly(int directory, const char* name) {
  struct statx info {};
  const int flags = AT_SYMLINK_NOFOLLOW | (*name == '\0' ? AT_EMPTY_PATH : 0);
  if (statx(directory, name, flags, 0, &info) == 0) {
    return (info.stx_attributes & (STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND)) != 0;
  }
  if (errno != ENOSYS) return false;
  const int descriptor =
      openat(directory, *name == '\0' ? "." : name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) return false;
  int inodeFlags = 0;
  const bool fixed =
      ioctl(descriptor, FS_IOC_GETFLAGS, &inodeFlags) == 0 && (inodeFlags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
  close(descriptor);
  return fixed;
}

// What the kernel would refuse, found before the work: IoFailure naming `target` when
// the entry `name` of `directory` (already found writable) is longer than its file
// system allows, exists but cannot be examined, is a directory, is immutable or
// append-only, or is another user's file in a sticky directory that the process may
// not replace.
void requireReplaceable(const Directory& directory, const std::string& name, const std::string& target) {
  const long nameMax = fpathconf(directory.descriptor(), _PC_NAME_MAX);
  if (nameMax > 0 && name.size() > static_cast<std::size_t>(nameMax)) cannotCreate(ENAMETOOLONG, target);
  struct stat info {};
  if (fstatat(directory.descriptor(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return;  // a new file
    cannotCreate(errno, target);
  }
  if (S_ISDIR(info.st_mode)) throw IoFailure(systemReason("cannot replace the output file", EISDIR), target);
  // The kernel's rule for renaming onto a name in a sticky directory.
  struct stat parent {};
  if (fstat(directory.descriptor(), &parent) == 0 && (parent.st_mode & S_ISVTX) && info.st_uid != geteuid() &&
      parent.st_uid != geteuid() && !mayOverrideOwners()) {
    throw IoFailure("cannot replace the output file: it belongs to another user in a sticky directory", target);
  }
  if (immutableOrAppendOnly(directory.descriptor(), name.c_str())) {
    throw IoFailure("cannot replace the output file: it is immutable or append-only", target);
  }
}

// The mount that `descriptor` was opened through, from statx, or where the kernel
// predates that from the descriptor's entry under /proc; 0 when neither says.
std::uint64_t mountOf(int descriptor) {
#ifdef STATX_MNT_ID
  struct statx info {};
  if (statx(descriptor, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &info) == 0 &&
      (info.stx_mask & STATX_MNT_ID) != 0) {
    return info.stx_mnt_id;
  }
#endif
  const std::string entry = "/proc/self/fdinfo/" + std::to_string(descriptor);
  std::FILE* text = std::fopen(entry.c_str(), "re");
  if (text == nullptr) return 0;
  unsigned long long mount = 0;
  char line[256];
  while (std::fgets(line, sizeof line, text) != nullptr && std::sscanf(line, "mnt_id: %llu", &mount) != 1) {
  }
  std::fclose(text);
  return mount;
}

}  // namespace

Directory::Directory(int descriptor, std::string path) : descriptor_(descriptor), path_(std::move(path)) {
  struct stat info {};
  if (fstat(descriptor_, &info) == 0) {
    device_ = info.st_dev;
    inode_ = info.st_ino;
    owner_ = info.st_uid;
    shared_ = (info.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
  }
  mount_ = mountOf(descriptor_);
  struct statfs system {};
  onProc_ = fstatfs(descriptor_, &system) == 0 && system.f_type == PROC_SUPER_MAGIC;
}

Directory::~Directory() { close(descriptor_); }

bool Directory::sameAs(const Directory& other) const {
  if (device_ != other.device_ || inode_ != other.inode_) return false;
  return mount_ != 0 && other.mount_ != 0 ? mount_ == other.mount_ : this == &other;
}

std::string Directory::pathOf(const std::string& name) const {
  if (path_.empty()) return name;
  return path_.back() == '/' ? path_ + name : path_ + "/" + name;
}

// Each directory part is opened in the one before it, never by its whole path, and
// each link met on the way is read and walked in turn, under the rule for links in
// shared directories.
OutputTarget OutputTarget::of(const std::string& target, Cache* cache) {
  // A name that no system call would take; the walk below could, but no other
  // program could then read the output.
  if (target.size() >= PATH_MAX) cannotCreate(ENAMETOOLONG, target);
  const auto [directoryPart, lastPart] = splitLast(target);
  if (!isFileName(lastPart)) throw IoFailure("not a file name", target.empty() ? "''" : target);
  int links = 0;
  std::shared_ptr<const Directory> directory;
  if (cache != nullptr && cache->directory && cache->directoryPart == directoryPart) {
    directory = cache->directory;
  } else {
    directory = walkDirectories(nullptr, directoryPart, links, target);
    if (cache != nullptr) *cache = {std::string(directoryPart), directory};
  }
  std::string name(lastPart);
  for (;;) {
    if (directory->onProc()) {
      const int descriptor = ownDescriptor(*directory, name);
      if (descriptor < 0) return {Direct, directory, name, -1, {}, target};
      // A descriptor that the program itself opened is another output's file.
      if (!openAtStart(descriptor)) throw IoFailure(systemReason("cannot open the output file", EBADF), target);
      return {OwnDescriptor, directory, name, descriptor, {}, target};
    }
    struct stat info {};
    // A name that does not exist is created; any other fault shows when the
    // temporary file is made beside it.
    if (fstatat(directory->descriptor(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      return {Replace, directory, name, -1, {}, target};
    }
    if (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)) {
      return {Replace, directory, name, -1, EntryIdentity::of(info), target};
    }
    if (!S_ISLNK(info.st_mode)) {
      // A device is the machine's, not another user's; a FIFO or a socket may be.
      if (!S_ISCHR(info.st_mode) && !S_ISBLK(info.st_mode)) {
        requireEntryOfThisUser(*directory, name, info, S_ISFIFO(info.st_mode) ? "write to the FIFO" : "write to",
                               target);
      }
      return {Direct, directory, name, -1, {}, target};
    }
    const std::string text = readLink(*directory, name, info, links, target);
    const auto [linkDirectory, linkLast] = splitLast(text);
    if (!isFileName(linkLast)) throw IoFailure("not a file name", target);
    directory = walkDirectories(directory, linkDirectory, links, target);
    name = linkLast;
  }
}

void OutputTarget::recordOpenDescriptors() {
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

std::vector<OutputTarget> OutputTarget::checkTargets(const std::vector<std::string>& targets, Cache* shared) {
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
  std::vector<OutputTarget> placements;
  placements.reserve(targets.size());
  Cache local;
  Cache& cache = shared != nullptr ? *shared : local;
  std::shared_ptr<const Directory> checkedDirectory;  // the frames of an animation share one
  for (std::size_t i = 0; i < targets.size(); ++i) {
    placements.push_back(of(targets[i], &cache));
    const OutputTarget& placement = placements.back();
    struct stat info {};
    if (placement.kind == OwnDescriptor) {
      if (fstat(placement.descriptor, &info) == 0) identities.push_back({info.st_dev, info.st_ino, {}, i});
      continue;
    }
    const Directory& directory = *placement.directory;
    if (placement.kind == Direct) {
      if (fstatat(directory.descriptor(), placement.name.c_str(), &info, 0) == 0) {
        identities.push_back({info.st_dev, info.st_ino, {}, i});
      } else if (errno == ENOENT && directory.onProc()) {
        // Nothing can be created under /proc: a name it lacks (`/dev/fd/01`) fails now
        // as it would when opened after the work.
        throw IoFailure(systemReason("cannot open the output file", ENOENT), targets[i]);
      }
      continue;
    }
    if (placement.directory != checkedDirectory) {
      requireWritableDirectory(directory, targets[i]);
      checkedDirectory = placement.directory;
    }
    requireReplaceable(directory, placement.name, targets[i]);
    if (placement.found.exists) {
      identities.push_back({placement.found.device, placement.found.inode, {}, i});
    } else {
      identities.push_back({directory.device(), directory.inode(), placement.name, i});
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
  return placements;
}

void OutputTarget::checkNotInputs(const std::vector<OutputTarget>& targets, const std::vector<std::string>& inputs) {
  // The inputs that exist, sorted by device and inode; one that is missing or cannot
  // be reached is reported when it is read.
  struct Identity {
    dev_t device;
    ino_t inode;
    std::size_t input;
    bool operator<(const Identity& other) const {
      return std::tie(device, inode, input) < std::tie(other.device, other.inode, other.input);
    }
  };
  std::vector<Identity> identities;
  identities.reserve(inputs.size());
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    struct stat info {};
    if (stat(inputs[i].c_str(), &info) == 0) identities.push_back({info.st_dev, info.st_ino, i});
  }
  if (identities.empty()) return;
  std::sort(identities.begin(), identities.end());
  for (const OutputTarget& placement : targets) {
    // The file that the output would write: the one it replaces as resolved, the one a
    // descriptor is open on, or the one a /proc name leads to. Only a regular file can
    // be an input that writing destroys; a device or a pipe is read and written as a
    // stream.
    EntryIdentity file = placement.found;
    if (placement.kind != Replace) {
      struct stat info {};
      const bool open = placement.kind == OwnDescriptor
                            ? fstat(placement.descriptor, &info) == 0
                            : fstatat(placement.directory->descriptor(), placement.name.c_str(), &info, 0) == 0;
      file = open ? EntryIdentity::of(info) : EntryIdentity{};
    }
    if (!file.exists || file.type != S_IFREG) continue;
    const auto input = std::lower_bound(identities.begin(), identities.end(), Identity{file.device, file.inode, 0});
    if (input != identities.end() && input->device == file.device && input->inode == file.inode) {
      throw BadArgument("the same file as " + inputs[input->input] + ", an input of the command", placement.given);
    }
  }
}

void requireWritableDirectory(const Directory& directory, const std::string& target) {
  // A removed directory (a working directory after rmdir) still opens and passes the
  // access check, but takes no new entry: the kernel refuses the create as missing.
  struct stat info {};
  if (fstat(directory.descriptor(), &info) == 0 && info.st_nlink == 0) cannotCreate(ENOENT, target);
  // The reason is the one that creating the temporary file would give.
  if (faccessat(directory.descriptor(), ".", W_OK | X_OK, AT_EACCESS) != 0) cannotCreate(errno, target);
  // An append-only directory takes the temporary file but never gives it up.
  if (immutableOrAppendOnly(directory.descriptor(), "")) cannotCreate(EPERM, target);
}

std::string stablePathOf(const Directory& directory, const std::string& name) {
  const std::string through = "/proc/self/fd/" + std::to_string(directory.descriptor());
  if (access(through.c_str(), F_OK) == 0) return through + "/" + name;
  return directory.pathOf(name);
}

}  // namespace meshcodec
