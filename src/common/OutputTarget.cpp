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
#include <cstdlib>
#include <filesystem>
#include <tuple>
#include <utility>

#include "common/CodecError.hpp"
#include "common/CommitGroup.hpp"

namespace meshcodec {

namespace {

namespace fs = std::filesystem;

// The descriptors open when recordOpenDescriptors() was called, in increasing order.
bool descriptorsRecorded = false;
std::vector<int> descriptorsAtStart;

bool openAtStart(int descriptor) {
  return !descriptorsRecorded ||
         std::binary_search(descriptorsAtStart.begin(), descriptorsAtStart.end(), descriptor);
}

bool onProcFileSystem(const std::string& path) {
  std::string directory = fs::path(path).parent_path().string();
  if (directory.empty()) directory = ".";
  struct statfs info {};
  return statfs(directory.c_str(), &info) == 0 && info.f_type == PROC_SUPER_MAGIC;
}

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

// A link in a sticky, world-writable directory (such as /tmp) may have been planted
// by another user to send the output onto a file of that user's choosing. As the
// kernel's rule for protected links has it, such a link is followed only when it
// belongs to this user or to the directory's owner: the walk below follows links
// itself, so the kernel's rule would never apply, whatever the machine's setting.
void requireLinkOfThisUser(const std::string& link, const struct stat& linkInfo, const std::string& target) {
  const mode_t shared = S_ISVTX | S_IWOTH;
  struct stat directory {};
  if (stat(directoryOf(link).c_str(), &directory) != 0) {
    throw IoFailure(systemReason(("cannot follow the symbolic link " + link).c_str(), errno), target);
  }
  if ((directory.st_mode & shared) != shared || linkInfo.st_uid == geteuid() ||
      linkInfo.st_uid == directory.st_uid) {
    return;
  }
  throw IoFailure("will not follow the symbolic link " + link +
                      ": it is in a sticky world-writable directory and belongs to neither this user nor "
                      "the directory's owner",
                  target);
}

// Whether the process may replace other users' files in a sticky directory: it has
// CAP_FOWNER, as root has.
bool mayOverrideOwners() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return geteuid() == 0;
  return (data[CAP_TO_INDEX(CAP_FOWNER)].effective & CAP_TO_MASK(CAP_FOWNER)) != 0;
}

// Whether the file or directory is immutable or append-only, as far as its flags can
// be read (a file this user cannot read, or a file system without such flags, says no).
bool immutableOrAppendOnly(const std::string& path) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (descriptor < 0) return false;
  int flags = 0;
  const bool fixed = ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
  close(descriptor);
  return fixed;
}

// What the kernel would refuse, found before the work: IoFailure naming `target` when
// the name of `place` is longer than its file system allows, the path of `place` or
// of a temporary beside it is too long, `place` exists but cannot be examined, is a
// directory, is immutable or append-only, or is another user's file in a sticky
// directory (`directory`, already found writable) that the process may not replace.
void requireReplaceable(const std::string& place, const std::string& target, const struct stat& directory) {
  const std::string parent = directoryOf(place);
  const long nameMax = pathconf(parent.c_str(), _PC_NAME_MAX);
  const std::size_t nameLength = fs::path(place).filename().string().size();
  if ((nameMax > 0 && nameLength > static_cast<std::size_t>(nameMax)) || place.size() >= PATH_MAX ||
      parent.size() + kTemporaryPathRoom >= PATH_MAX) {
    throw IoFailure(systemReason("cannot create the output file", ENAMETOOLONG), target);
  }
  struct stat info {};
  if (lstat(place.c_str(), &info) != 0) {
    if (errno == ENOENT) return;  // a new file
    throw IoFailure(systemReason("cannot create the output file", errno), target);
  }
  if (S_ISDIR(info.st_mode)) throw IoFailure(systemReason("cannot replace the output file", EISDIR), target);
  // The kernel's rule for renaming onto a name in a sticky directory.
  if ((directory.st_mode & S_ISVTX) && info.st_uid != geteuid() && directory.st_uid != geteuid() &&
      !mayOverrideOwners()) {
    throw IoFailure("cannot replace the output file: it belongs to another user in a sticky directory", target);
  }
  if (immutableOrAppendOnly(place)) {
    throw IoFailure("cannot replace the output file: it is immutable or append-only", target);
  }
}

}  // namespace

// Symbolic links are followed to the end of their chain, relative ones from the
// link's directory, as the system follows them, and only where the system's rule for
// links in shared directories would follow them.
OutputTarget OutputTarget::of(const std::string& target) {
  constexpr int kMaxLinks = 40;
  std::string path = target;
  for (int links = 0;; ++links) {
    if (onProcFileSystem(path)) {
      const int descriptor = ownDescriptor(path);
      if (descriptor < 0) return {Direct, target, -1};
      // A descriptor that the program itself opened is another output's file.
      if (!openAtStart(descriptor)) throw IoFailure(systemReason("cannot open the output file", EBADF), target);
      return {OwnDescriptor, target, descriptor};
    }
    struct stat info {};
    // A name that does not exist is created by the rename; any other fault shows
    // when the temporary file is created beside it.
    if (lstat(path.c_str(), &info) != 0) return {Replace, path, -1};
    if (!S_ISLNK(info.st_mode)) {
      const bool replace = S_ISREG(info.st_mode) || S_ISDIR(info.st_mode);
      return {replace ? Replace : Direct, path, -1};
    }
    requireLinkOfThisUser(path, info, target);
    std::error_code error;
    const fs::path link = fs::read_symlink(path, error);
    if (error) throw IoFailure("cannot read the symbolic link " + path + ": " + error.message(), target);
    if (links == kMaxLinks) throw IoFailure(systemReason("cannot follow the output name", ELOOP), target);
    path = (link.is_absolute() ? link : fs::path(path).parent_path() / link).string();
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

void OutputTarget::checkTargets(const std::vector<std::string>& targets) {
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
    const OutputTarget placement = of(targets[i]);
    struct stat info {};
    if (placement.kind != Replace) {
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
      // An append-only directory takes the temporary file but never gives it up.
      else if (immutableOrAppendOnly(directory)) error = EPERM;
      if (error != 0) throw IoFailure(systemReason("cannot create the output file", error), targets[i]);
      checkedDirectory = directory;
    }
    requireReplaceable(placement.path, targets[i], directoryInfo);
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

void OutputTarget::checkNotInputs(const std::vector<std::string>& targets, const std::vector<std::string>& inputs) {
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
  for (const std::string& target : targets) {
    const OutputTarget placement = of(target);
    struct stat info {};
    if (placement.kind != Replace || stat(placement.path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    const auto input = std::lower_bound(identities.begin(), identities.end(), Identity{info.st_dev, info.st_ino, 0});
    if (input != identities.end() && input->device == info.st_dev && input->inode == info.st_ino) {
      throw BadArgument("the same file as " + inputs[input->input] + ", an input of the command", target);
    }
  }
}

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

}  // namespace meshcodec
