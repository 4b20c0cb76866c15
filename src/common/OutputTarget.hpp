#pragma once
// What an output name stands for, and the checks of a command's outputs before its
// work. The name is resolved one component at a time, the directories held open, so
// that what is checked is what is written: a directory renamed or a link planted
// after the name was resolved cannot redirect the work. Symbolic links are followed
// to the end of their chain, whose last name is replaced (or created when missing);
// a link in a sticky world-writable directory is followed only as the kernel's rule
// for protected links has it. A device, a FIFO, a socket and anything under /proc are
// written directly; a name of one of this process's descriptors (/dev/stdout,
// /dev/fd/N, /proc/self/fd/N, /proc/thread-self/fd/N) is written through that
// descriptor as it was when the program started.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace meshcodec {

// A directory held open by a descriptor that serves only as the base of the *at
// calls (O_PATH), with what was known of it when it was opened.
class Directory {
 public:
  // Takes over `descriptor`, an open directory reached as `path` ("" for the working
  // directory).
  Directory(int descriptor, std::string path);
  ~Directory();
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;

  int descriptor() const { return descriptor_; }
  // The path of the entry `name` as the walk reached it, for messages.
  std::string pathOf(const std::string& name) const;
  const std::string& path() const { return path_; }
  dev_t device() const { return device_; }
  ino_t inode() const { return inode_; }
  // The same directory reached through the same mount: a bind mount shows a directory
  // on a second mount, between which and the first no rename is possible. Where the
  // system does not say which mount a descriptor is on, only the same object counts.
  bool sameAs(const Directory& other) const;
  uid_t owner() const { return owner_; }
  // Sticky and writable by every user, as /tmp is: another user may have put entries
  // there.
  bool shared() const { return shared_; }
  bool onProc() const { return onProc_; }

 private:
  int descriptor_;
  std::string path_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  std::uint64_t mount_ = 0;  // 0: not known
  uid_t owner_ = 0;
  bool shared_ = false;
  bool onProc_ = false;
};

// An entry of a directory as it was found at one moment: the file's device, inode and
// type, or nothing under that name.
struct EntryIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  mode_t type = 0;
  bool exists = false;

  static EntryIdentity of(const struct stat& info) { return {info.st_dev, info.st_ino, info.st_mode & S_IFMT, true}; }
  bool is(const struct stat& info) const {
    return exists && device == info.st_dev && inode == info.st_ino && type == (info.st_mode & S_IFMT);
  }
};

struct OutputTarget {
  enum Kind { Replace, Direct, OwnDescriptor } kind = Replace;
  // Replace and Direct: the directory that holds the entry, and its name there. A
  // Replace entry may be missing (it is created) or a directory (refused later).
  std::shared_ptr<const Directory> directory;
  std::string name;
  int descriptor = -1;  // OwnDescriptor: the descriptor that the name stands for
  // Replace: the entry as it was when the name was resolved. The output takes only
  // the place of that file, or of nothing when the name was free: an entry changed
  // since then (a name taken, another file, a directory or a link put there) is
  // refused rather than replaced.
  EntryIdentity found;
  std::string given;  // the name as the command was given it, for messages

  // The last directory that a name's directory part led to, so that the many names
  // of one directory (the frames of an animation) walk it once and share its
  // descriptor.
  struct Cache {
    std::string directoryPart;
    std::shared_ptr<const Directory> directory;
  };

  // Where the output named `target` goes. IoFailure naming the target for a name
  // that is no file name or is too long, a directory part that cannot be walked
  // (missing, not a directory, no search permission), a loop of links, a link that
  // cannot be read, a link, or a FIFO or socket to be written directly, in a sticky
  // world-writable directory that belongs to neither this user nor the directory's
  // owner, or a descriptor that was not open at start.
  static OutputTarget of(const std::string& target, Cache* cache = nullptr);

  // Notes which descriptors are open now. From then on a name of one of the process's
  // descriptors means that descriptor as it was at this call: a number that was free
  // then may since name a temporary file of another output, and is refused. The
  // program's entry calls it before anything opens a file; until then any open
  // descriptor counts.
  static void recordOpenDescriptors();

  // Resolves and checks the targets of one command before the work that produces
  // them, and returns their resolutions, in order, for the code that writes them: the
  // names are never resolved again. A cache shared with an earlier call keeps its
  // directory: the frames of an animation, counted only after decoding, are resolved
  // in the directory held since the start. What OutputFile or the kernel would refuse
  // is reported first: what of() refuses, and IoFailure naming a target whose
  // directory cannot be written or is immutable or append-only, a name longer than its
  // file system allows, an existing directory, an immutable or append-only file,
  // another user's file in a sticky directory that the process may not replace, or a
  // name that exists but cannot be examined. BadArgument naming two targets that are one file (the same existing
  // file, through links and hard links, or the same name to be created), of which
  // only the last written would remain.
  static std::vector<OutputTarget> checkTargets(const std::vector<std::string>& targets, Cache* cache = nullptr);

  // Checks before the work that no target is one of the command's input files, which
  // writing it would destroy: BadArgument naming the target and the input when the
  // file that a target replaces, or the regular file that it writes directly (a
  // descriptor open on it, a name under /proc), is an input (the same device and
  // inode, through links and hard links).
  static void checkNotInputs(const std::vector<OutputTarget>& targets, const std::vector<std::string>& inputs);
};

// IoFailure naming `target` ("cannot create the output file" and the reason) unless
// temporaries can be made in `directory` and removed again: it has not been removed,
// this user may write and search it, and it is neither immutable nor append-only,
// where a temporary once made could never be removed.
void requireWritableDirectory(const Directory& directory, const std::string& target);

// The path that reaches the entry `name` of `directory` whatever happened to the
// directory's own path since it was opened: through /proc/self/fd where there is
// one, for the calls that take only paths.
std::string stablePathOf(const Directory& directory, const std::string& name);

}  // namespace meshcodec
