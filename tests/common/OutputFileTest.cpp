#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <grp.h>
#include <sys/sysmacros.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <utility>

#include "common/CodecError.hpp"
#include "common/CommitGroup.hpp"
#include "common/TemporaryFiles.hpp"
#include "common/OutputFile.hpp"
#include "common/Writeback.hpp"
#include "common/OutputTarget.hpp"
#include "support/CommandRunner.hpp"

namespace meshcodec {
namespace {

// Stands in the way of the code under test to renameat2 and unlinkat: when set, it
// runs before each call with the call's name and the entry's ("renameat2 a.txt"), and
// an errno it returns fails the call. Just before a rename is the moment at which
// another process would change the target.
std::function<int(const std::string& call)> beforeCall;

int interpose(const char* call, const char* name) {
  static thread_local bool inside = false;  // the hook's own calls go through
  if (!beforeCall || inside) return 0;
  inside = true;
  const int error = beforeCall(std::string(call) + " " + name);
  inside = false;
  return error;
}

}  // namespace
}  // namespace meshcodec

extern "C" int renameat2(int from, const char* old, int to, const char* name, unsigned flags) noexcept {
  if (const int error = meshcodec::interpose("renameat2", name)) return errno = error, -1;
  return static_cast<int>(syscall(SYS_renameat2, from, old, to, name, flags));
}

extern "C" int unlinkat(int directory, const char* name, int flags) noexcept {
  if (const int error = meshcodec::interpose("unlinkat", name)) return errno = error, -1;
  return static_cast<int>(syscall(SYS_unlinkat, directory, name, flags));
}

namespace meshcodec {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

// What a directory entry is: "file <content>", "link <target>", "directory <entries>"
// or "none".
std::string entryState(const std::string& path) {
  const fs::file_status status = fs::symlink_status(path);
  if (fs::is_symlink(status)) return "link " + fs::read_symlink(path).string();
  if (fs::is_directory(status)) {
    return "directory " + std::to_string(std::distance(fs::directory_iterator(path), fs::directory_iterator()));
  }
  return fs::exists(status) ? "file " + testing::readFile(path) : "none";
}

// Runs `work` in a child process as user and group nobody, with no other group; true
// when it returns true. Only root can switch users.
bool asNobody(const std::function<bool()>& work) {
  const pid_t pid = fork();
  if (pid == 0) {
    const gid_t group = kNobody;
    const bool switched = setgroups(1, &group) == 0 && setresgid(group, group, group) == 0 &&
                          setresuid(kNobody, kNobody, kNobody) == 0;
    _exit(switched && work() ? 0 : 1);
  }
  int status = -1;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The bytes of a POSIX ACL extended attribute: a version-2 header, then each entry as
// a 16-bit tag, 16-bit permissions and 32-bit id, little-endian.
std::string aclBytes(std::initializer_list<std::array<std::uint32_t, 3>> entries) {
  std::string bytes;
  const auto put = [&](std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
  };
  put(2, 4);
  for (const auto& [tag, permissions, id] : entries) {
    put(tag, 2);
    put(permissions, 2);
    put(id, 4);
  }
  return bytes;
}

// Sets or clears an inode flag such as FS_IMMUTABLE_FL; false where the process may
// not (not root) or the file system has no such flags.
bool setInodeFlag(const std::string& path, int flag, bool on) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  int flags = 0;
  bool done = descriptor >= 0 && ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? flags | flag : flags & ~flag;
  done = done && ioctl(descriptor, FS_IOC_SETFLAGS, &flags) == 0;
  if (descriptor >= 0) close(descriptor);
  return done;
}

class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testing::makeTempDir("outfile");
    target = dir + "/out.txt";
    std::ofstream(target) << "earlier";
  }
  void TearDown() override { fs::remove_all(dir); }

  // The target's content, and that nothing else is in the directory.
  std::string onlyTarget() const {
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    return testing::readFile(target);
  }

  std::string dir, target;
};

TEST_F(OutputFileTest, CommitReplacesTheTarget) {
  OutputFile file(target);
  file.stream() << "new content";
  EXPECT_EQ(testing::readFile(target), "earlier");  // nothing visible before commit
  file.commit();
  EXPECT_EQ(onlyTarget(), "new content");
  EXPECT_THROW(file.commit(), Misuse);
}

TEST_F(OutputFileTest, AbandonedOrFailedOutputLeavesTheEarlierFile) {
  {
    OutputFile file(target);
    file.stream() << "half of it";
  }
  EXPECT_EQ(onlyTarget(), "earlier");

  OutputFile failed(target);
  failed.stream() << "written";
  failed.stream().setstate(std::ios::badbit);  // as a failed write leaves it
  EXPECT_THROW(failed.commit(), IoFailure);
  EXPECT_EQ(onlyTarget(), "earlier");
}

TEST_F(OutputFileTest, UnwritablePlacesAreIoFailures) {
  fs::create_directory(dir + "/sub");
  // checkTargets refuses each as the constructor does, without creating anything. A
  // name too long to examine is not taken for a new file.
  for (const std::string& path : {dir + "/missing/out.txt", target + "/below-a-file", dir + "/", std::string(),
                                  dir + "/" + std::string(256, 'n')}) {
    SCOPED_TRACE(path);
    std::string reason;
    try {
      OutputFile file(path);
      ADD_FAILURE() << "created";
    } catch (const IoFailure& e) {
      EXPECT_EQ(e.file(), path.empty() ? "''" : path);
      reason = e.what();
    }
    try {
      OutputTarget::checkTargets({target, path});
      ADD_FAILURE() << "accepted";
    } catch (const IoFailure& e) {
      EXPECT_EQ(e.file(), path.empty() ? "''" : path);
      EXPECT_EQ(e.what(), reason);
    }
  }
  OutputFile ontoDirectory(dir + "/sub");
  EXPECT_THROW(ontoDirectory.commit(), IoFailure);
  EXPECT_TRUE(fs::is_directory(dir + "/sub"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

TEST_F(OutputFileTest, WhatTheKernelWouldRefuseIsRefusedBeforeTheWork) {
  // A directory, a path longer than the system takes, an immutable or an append-only
  // file (as root, where the file system has such flags).
  fs::create_directory(dir + "/sub");
  std::string deep = dir;  // a directory of 4,020 characters
  while (deep.size() + 1 < 4020) deep += "/" + std::string(std::min<std::size_t>(250, 4020 - deep.size() - 1), 'd');
  fs::create_directories(deep);
  const struct {
    std::string name;
    std::string reason;
    int flag;
  } cases[] = {{dir + "/sub", "Is a directory", 0},
               {deep + "/" + std::string(80, 'n'), "File name too long", 0},
               {target, "immutable or append-only", FS_IMMUTABLE_FL},
               {target, "immutable or append-only", FS_APPEND_FL}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason + " " + std::to_string(c.flag));
    if (c.flag != 0 && !setInodeFlag(target, c.flag, true)) continue;
    try {
      OutputTarget::checkTargets({dir + "/new.txt", c.name});
      ADD_FAILURE() << "accepted";
    } catch (const IoFailure& e) {
      EXPECT_EQ(e.file(), c.name);
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
    }
    if (c.flag != 0) setInodeFlag(target, c.flag, false);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3);

  // Flags are read without opening: nobody, who may read neither root's 0600 file nor
  // its own 0300 directory, is refused both before the work, and no temporary is left
  // in the append-only directory, where none could be removed.
  if (geteuid() != 0) GTEST_SKIP() << "needs another user";
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  const std::string own = dir + "/nobody", roots = own + "/roots.txt", appendOnly = own + "/append";
  ASSERT_EQ(mkdir(own.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(appendOnly.c_str(), 0300), 0);
  ASSERT_EQ(chown(own.c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(chown(appendOnly.c_str(), kNobody, kNobody), 0);
  std::ofstream(roots) << "earlier";
  ASSERT_EQ(chmod(roots.c_str(), 0600), 0);
  if (!setInodeFlag(roots, FS_IMMUTABLE_FL, true)) GTEST_SKIP() << "no inode flags here";
  ASSERT_TRUE(setInodeFlag(appendOnly, FS_APPEND_FL, true));
  EXPECT_TRUE(asNobody([&] {
    const std::function<void()> refused[] = {[&] { OutputTarget::checkTargets({roots}); },
                                             [&] { OutputTarget::checkTargets({appendOnly + "/out.txt"}); },
                                             [&] { OutputFile file(appendOnly + "/out.txt"); }};
    for (const auto& attempt : refused) {
      try {
        attempt();
        return false;
      } catch (const IoFailure&) {
      }
    }
    return true;
  }));
  setInodeFlag(roots, FS_IMMUTABLE_FL, false);
  setInodeFlag(appendOnly, FS_APPEND_FL, false);
  EXPECT_TRUE(fs::is_empty(appendOnly));
}

TEST_F(OutputFileTest, LinksStayLinksAndTheFileAtTheEndOfTheChainIsReplaced) {
  // link -> relative link -> out.txt; a dangling link gets its target created; the
  // longest legal name still leaves room for the temporary name.
  fs::create_directory(dir + "/sub");
  fs::create_symlink("sub/hop", dir + "/link");
  fs::create_symlink("../out.txt", dir + "/sub/hop");
  fs::create_symlink(dir + "/sub/made.txt", dir + "/dangling");
  const std::string longest = dir + "/" + std::string(255, 'n');
  for (const std::string& name : {dir + "/link", dir + "/dangling", longest}) {
    OutputFile file(name);
    file.stream() << "through " << name.size();
    file.commit();
  }
  EXPECT_TRUE(fs::is_symlink(dir + "/link"));
  EXPECT_TRUE(fs::is_symlink(dir + "/sub/hop"));
  EXPECT_TRUE(fs::is_symlink(dir + "/dangling"));
  EXPECT_EQ(testing::readFile(target), "through " + std::to_string(dir.size() + 5));
  EXPECT_EQ(testing::readFile(dir + "/sub/made.txt"), "through " + std::to_string(dir.size() + 9));
  EXPECT_EQ(testing::readFile(longest), "through " + std::to_string(longest.size()));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 5);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/sub"), fs::directory_iterator()), 2);

  fs::create_symlink("loop_b", dir + "/loop_a");
  fs::create_symlink("loop_a", dir + "/loop_b");
  EXPECT_THROW(OutputFile(dir + "/loop_a"), IoFailure);
}

TEST_F(OutputFileTest, DevicesFifosAndDescriptorsAreWrittenThrough) {
  // A FIFO: its reader, already there, gets what was written.
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  const int reader = open((dir + "/fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  {
    OutputFile file(dir + "/fifo");
    file.stream() << "through the fifo";
    file.commit();
  }
  char read[32] = {};
  EXPECT_EQ(::read(reader, read, sizeof read), 16);
  close(reader);
  EXPECT_STREQ(read, "through the fifo");
  EXPECT_TRUE(fs::is_fifo(dir + "/fifo"));

  // A file named through the process's descriptor directories is written where its
  // descriptor writes, after what it holds, and is not replaced. A number that was
  // free when the descriptors were recorded is refused, even once another output's
  // temporary file has taken it.
  const int fd = open(target.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  const int spare = dup(fd);
  close(spare);
  OutputTarget::recordOpenDescriptors();
  struct stat before {};
  fstat(fd, &before);
  std::string expected = "earlier";
  for (const std::string& name : {std::string("/proc/self/fd/"), std::string("/dev/fd/"),
                                  std::string("/proc/thread-self/fd/"), "/proc/" + std::to_string(getpid()) + "/fd/"}) {
    OutputFile file(name + std::to_string(fd));
    file.stream() << " " << name;
    file.commit();
    expected += " " + name;
    OutputFile other(dir + "/other.txt");
    EXPECT_THROW(OutputFile(name + std::to_string(spare)), IoFailure) << name;
    // The kernel spells no descriptor with a leading zero.
    EXPECT_THROW(OutputFile(name + "0" + std::to_string(fd)), IoFailure) << name;
  }
  struct stat after {};
  stat(target.c_str(), &after);
  close(fd);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(testing::readFile(target), expected);

  // Character devices like the system's null and full devices: they stay devices, and
  // a write that the device refuses is an IoFailure.
  if (mknod((dir + "/null").c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0 ||
      mknod((dir + "/full").c_str(), S_IFCHR | 0600, makedev(1, 7)) != 0) {
    GTEST_SKIP() << "cannot create device nodes here";
  }
  OutputFile sink(dir + "/null");
  sink.stream() << "gone";
  sink.commit();
  OutputFile full(dir + "/full");
  full.stream() << "no room";
  EXPECT_THROW(full.commit(), IoFailure);
  for (const char* name : {"/null", "/full"}) EXPECT_TRUE(fs::is_character_file(dir + name)) << name;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 4);
}

TEST_F(OutputFileTest, FilesClosedTogetherAreReplacedTogether) {
  // close() checks every write before any file is in place; a directory in the way
  // shows there, before the other files are replaced.
  fs::create_directory(dir + "/sub");
  OutputFile first(target);
  first.stream() << "first";
  first.close();
  OutputFile blocked(dir + "/sub");
  EXPECT_THROW(blocked.close(), IoFailure);
  EXPECT_EQ(testing::readFile(target), "earlier");
  OutputFile moved(std::move(first));
  moved.commit();
  EXPECT_EQ(testing::readFile(target), "first");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

TEST_F(OutputFileTest, ARenameRefusedPartwayUndoesTheGroup) {
  // The last member's rename is refused once every member is closed: a directory has
  // taken its name, or (as root) it was made immutable. The members before it, one
  // replacing a file and one new, are put back: every target is as before, the
  // replaced file is the same file again, and nothing hidden is left.
  const std::string last = dir + "/last.txt";
  fs::create_hard_link(target, dir + "/hard");
  const std::function<bool()> refusals[] = {[&] { return fs::remove(last) && fs::create_directory(last); },
                                            [&] { return setInodeFlag(last, FS_IMMUTABLE_FL, true); }};
  for (const auto& refuse : refusals) {
    std::ofstream(last) << "earlier";
    CommitGroup group;
    for (const std::string& name : {target, dir + "/new.txt", last}) {
      OutputFile& file = group.add(name);
      file.stream() << "new";
      file.close();
    }
    if (!refuse()) continue;  // not root, or no such flags here
    try {
      group.commit();
      ADD_FAILURE() << "committed";
    } catch (const IoFailure& e) {
      EXPECT_EQ(e.file(), last);
    }
    EXPECT_EQ(testing::readFile(target), "earlier");
    EXPECT_TRUE(fs::equivalent(target, dir + "/hard"));
    EXPECT_FALSE(fs::exists(dir + "/new.txt"));
    EXPECT_TRUE(fs::is_directory(last) || testing::readFile(last) == "earlier");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3);
    setInodeFlag(last, FS_IMMUTABLE_FL, false);
    fs::remove(last);
  }

  // Putting back needs no hard link, which the kernel's rule for protected hard links
  // refuses to nobody for root's file, as an earlier run with sudo leaves one.
  if (geteuid() != 0) GTEST_SKIP() << "needs another user";
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  const std::string own = dir + "/nobody", roots = own + "/roots.txt";
  ASSERT_EQ(mkdir(own.c_str(), 0700), 0);
  ASSERT_EQ(chown(own.c_str(), kNobody, kNobody), 0);
  std::ofstream(roots) << "earlier";
  const struct stat before = [&] {
    struct stat info {};
    stat(roots.c_str(), &info);
    return info;
  }();
  EXPECT_TRUE(asNobody([&] {
    CommitGroup group;
    for (const std::string& name : {roots, own + "/new.txt", own + "/last.txt"}) {
      OutputFile& file = group.add(name);
      file.stream() << "new";
      file.close();
    }
    if (mkdir((own + "/last.txt").c_str(), 0700) != 0) return false;
    try {
      group.commit();
      return false;
    } catch (const IoFailure& e) {
      return e.file() == own + "/last.txt";
    }
  }));
  struct stat after {};
  stat(roots.c_str(), &after);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_uid, 0u);
  EXPECT_EQ(testing::readFile(roots), "earlier");
  EXPECT_EQ(std::distance(fs::directory_iterator(own), fs::directory_iterator()), 2);
}

TEST_F(OutputFileTest, WhatCannotBePutBackOrRemovedIsSaid) {
  // a.txt, new.txt (a new file) and b.txt are placed in turn, and the n-th call named
  // fails, after what another process does: b.txt is refused and a.txt cannot be put
  // back; another file takes new.txt's name; a directory takes a.txt's place and
  // cannot have its name back; a replaced file cannot be removed. The error or the
  // warning says so, and the recovery command then leaves one whole set, gives back
  // what took a name, and leaves no hidden entry.
  const std::string a = dir + "/a.txt", created = dir + "/new.txt", b = dir + "/b.txt";
  const auto plant = [&] { std::ofstream(dir + "/foreign") << "foreign", fs::rename(dir + "/foreign", created); };
  const auto swap = [&] { fs::rename(a, dir + "/moved.txt"), fs::create_directory(a); };
  struct Fault {
    std::string call;
    int nth, error;
    std::function<void()> before = [] {};
  };
  const struct {
    std::vector<Fault> faults;
    std::string refused, said, afterRecovery;
  } cases[] = {
      {{{"renameat2 b.txt", 1, EPERM}, {"renameat2 a.txt", 2, EIO}}, b,
       "; " + a + " is left new, its earlier file is " + dir + "/.meshcodec-", "earlier none earlier"},
      {{{"renameat2 b.txt", 1, EPERM, plant}}, b,
       "; " + created + " is left as it is: another file took its name after this command made it",
       "earlier foreign earlier"},
      {{{"renameat2 a.txt", 1, 0, swap}, {"renameat2 a.txt", 2, EIO}}, a,
       "; the new file has that name, and the other entry is now " + dir + "/.meshcodec-", "directory none earlier"},
      {{{"unlinkat a.txt", 1, EBUSY}}, "",
       "left behind with what it holds: cannot remove it: Device or resource busy; every output is in place",
       "new new new"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    fs::remove_all(a);
    for (const std::string& name : {target, created, dir + "/moved.txt"}) fs::remove(name);
    std::ofstream(a) << "earlier";
    std::ofstream(b) << "earlier";
    CommitGroup group;
    for (const OutputTarget& placement : OutputTarget::checkTargets({a, created, b})) {
      group.add(placement).stream() << "new";
    }
    std::map<std::string, int> calls;
    beforeCall = [&](const std::string& call) {
      const int nth = ++calls[call];
      for (const Fault& fault : c.faults) {
        if (fault.call == call && fault.nth == nth) return fault.before(), fault.error;
      }
      return 0;
    };
    try {
      group.commit();
      const std::vector<Warning> warnings = takeWarnings();
      ASSERT_EQ(warnings.size(), 1u);
      EXPECT_EQ(warnings[0].file.rfind(dir + "/.meshcodec-", 0), 0u) << warnings[0].file;
      EXPECT_EQ(warnings[0].reason, c.said);
    } catch (const IoFailure& e) {
      EXPECT_EQ(e.file(), c.refused);
      EXPECT_NE(std::string(e.what()).find(c.said), std::string::npos) << e.what();
    }
    beforeCall = nullptr;
    EXPECT_EQ(testing::runRecoveryCommand(dir), 0);
    const auto content = [](const std::string& path) {
      return fs::is_directory(path) ? "directory" : fs::exists(path) ? testing::readFile(path) : "none";
    };
    EXPECT_EQ(content(a) + " " + content(created) + " " + content(b), c.afterRecovery);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()),
              2 + fs::exists(created) + fs::exists(dir + "/moved.txt"));
  }
}

TEST_F(OutputFileTest, AFileIsWrittenInTheDirectoryItsNameLedTo) {
  // The directory is held from the moment the name is resolved: renamed away, with a
  // link to another directory in its place, it still receives the file.
  fs::create_directory(dir + "/sub");
  fs::create_directory(dir + "/elsewhere");
  OutputFile file(dir + "/sub/out.txt");
  file.stream() << "new";
  fs::rename(dir + "/sub", dir + "/moved");
  fs::create_directory_symlink("elsewhere", dir + "/sub");
  file.commit();
  EXPECT_EQ(testing::readFile(dir + "/moved/out.txt"), "new");
  EXPECT_TRUE(fs::is_empty(dir + "/elsewhere"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/moved"), fs::directory_iterator()), 1);
}

TEST_F(OutputFileTest, AnEntryChangedAfterItsResolutionIsNotReplaced) {
  // Once the targets are resolved, another entry takes the name of changed.txt: a
  // file where the name was free, or a directory, a link or another file where it
  // held a file. Early (before the output is closed) or at the last moment (just
  // before the rename, as a racing process would), the single output and the group
  // are refused, the entry that took the name stays as it is, and out.txt, placed
  // first in the group, is put back.
  const std::string changed = dir + "/changed.txt";
  std::ofstream(dir + "/other.txt") << "other";
  const std::pair<bool, std::function<void()>> changes[] = {
      {false, [&] { std::ofstream(changed) << "taken"; }},
      {true, [&] { fs::remove(changed), fs::create_directory(changed), std::ofstream(changed + "/inner"); }},
      {true, [&] { fs::remove(changed), fs::create_symlink("other.txt", changed); }},
      // Made before the first goes, which would give its inode number to the next file.
      {true, [&] { std::ofstream(dir + "/taken") << "taken", fs::rename(dir + "/taken", changed); }}};
  for (const auto& entry : changes) {
    for (int way = 0; way < 4; ++way) {
      const bool existed = entry.first, atTheRename = way & 1, grouped = way & 2;
      fs::remove_all(changed);
      if (existed) std::ofstream(changed) << "earlier";
      const std::vector<OutputTarget> targets = OutputTarget::checkTargets({target, changed});
      std::string expected;
      const auto changeNow = [&] {
        entry.second();
        expected = entryState(changed);
      };
      beforeCall = [&](const std::string& call) {
        if (atTheRename && expected.empty() && call == "renameat2 changed.txt") changeNow();
        return 0;
      };
      SCOPED_TRACE(entryState(changed) + (atTheRename ? ", at the rename" : "") + (grouped ? ", grouped" : ""));
      try {
        if (grouped) {
          CommitGroup group;
          for (const OutputTarget& placement : targets) group.add(placement).stream() << "new";
          if (!atTheRename) changeNow();
          group.commit();
        } else {
          OutputFile file(targets[1]);
          file.stream() << "new";
          if (!atTheRename) changeNow();
          file.commit();
        }
        ADD_FAILURE() << "replaced";
      } catch (const IoFailure& e) {
        EXPECT_EQ(e.file(), changed);
        EXPECT_NE(std::string(e.what()).find("after the checks"), std::string::npos) << e.what();
      }
      beforeCall = nullptr;
      EXPECT_EQ(entryState(changed), expected);
      EXPECT_EQ(testing::readFile(target), "earlier");
      EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3);
    }
  }
}

TEST_F(OutputFileTest, AGroupReachesItsDirectoryThroughABindMountToo) {
  // view is a bind mount of work: a name through it leads to the same directory on
  // another mount, which no rename crosses, as -e's map.txt and ../view/out.bin do.
  if (geteuid() != 0) GTEST_SKIP() << "only root may mount";
  const std::string work = dir + "/work", view = dir + "/view";
  fs::create_directory(work);
  fs::create_directory(view);
  if (mount(work.c_str(), view.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "no bind mount here: " << std::strerror(errno);
  }
  std::ofstream(work + "/out.bin") << "earlier";
  try {
    CommitGroup group;
    for (const OutputTarget& placement : OutputTarget::checkTargets({work + "/map.txt", view + "/out.bin"})) {
      group.add(placement).stream() << "new";
    }
    group.commit();
  } catch (const IoFailure& e) {
    ADD_FAILURE() << e.file() << ": " << e.what();
  }
  umount(view.c_str());
  EXPECT_EQ(testing::readFile(work + "/map.txt") + testing::readFile(work + "/out.bin"), "newnew");
  EXPECT_EQ(std::distance(fs::directory_iterator(work), fs::directory_iterator()), 2);
}

TEST_F(OutputFileTest, NamesTakenBeforehandDoNotStopTheOutputs) {
  // Another user may create every name that this process's id and a counter would
  // give; a random part in the temporaries' names leaves them useless.
  for (int n = 0; n < 100; ++n) {
    std::ofstream(dir + "/.meshcodec-" + std::to_string(getpid()) + "-" + std::to_string(n) + ".tmp");
  }
  OutputFile(target).commit();
  CommitGroup group;
  group.add(target);
  group.add(dir + "/second.txt");
  group.commit();
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 102);
}

TEST_F(OutputFileTest, OneFileNamedTwiceIsRefused) {
  // Pairs of names of one file: through a link, a hard link, a dangling link to a
  // name to be created, and two spellings of a new name.
  fs::create_directory(dir + "/sub");
  fs::create_symlink("out.txt", dir + "/link");
  fs::create_hard_link(target, dir + "/hard");
  fs::create_symlink("new.txt", dir + "/dangling");
  const std::pair<std::string, std::string> pairs[] = {{target, dir + "/link"},
                                                       {dir + "/hard", target},
                                                       {dir + "/dangling", dir + "/new.txt"},
                                                       {dir + "/sub/../new.txt", dir + "/new.txt"}};
  for (const auto& [first, second] : pairs) {
    try {
      OutputTarget::checkTargets({first, dir + "/other.txt", second});
      ADD_FAILURE() << first << " and " << second << " accepted";
    } catch (const BadArgument& e) {
      EXPECT_EQ(e.file(), first);
      EXPECT_EQ(std::string(e.what()), "the same file as " + second + ", another output of the command");
    }
  }
  OutputTarget::checkTargets({target, dir + "/new.txt", dir + "/sub/new.txt", "/dev/null"});
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 5);
}

TEST_F(OutputFileTest, AReplacementTakesTheModeAndOwnerOfTheFileItReplaces) {
  const auto modeOf = [](const std::string& path) {
    struct stat info {};
    stat(path.c_str(), &info);
    return info.st_mode & 07777;
  };
  const mode_t mask = umask(022);
  for (const mode_t mode : {0600, 0755, 0440}) {
    chmod(target.c_str(), mode);
    OutputFile file(target);
    // The temporary file is never more open to others than the file it replaces; it
    // takes the mode once written.
    for (const auto& entry : fs::directory_iterator(dir)) EXPECT_EQ(modeOf(entry.path()) & ~mode & 077, 0u);
    file.commit();
    EXPECT_EQ(modeOf(target), mode);
  }
  OutputFile(dir + "/new.txt").commit();
  umask(mask);
  EXPECT_EQ(modeOf(dir + "/new.txt"), 0644u);

  if (geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
  ASSERT_EQ(chown(target.c_str(), 1234, 2345), 0);
  ASSERT_EQ(chmod(target.c_str(), 06750), 0);  // after chown, which clears set-id bits
  OutputFile(target).commit();
  struct stat info {};
  stat(target.c_str(), &info);
  EXPECT_EQ(info.st_uid, 1234u);
  EXPECT_EQ(info.st_gid, 2345u);
  EXPECT_EQ(modeOf(target), 06750u);
}

TEST_F(OutputFileTest, AReplacementKeepsTheAccessListOfTheFileItReplaces) {
  // -rw-rw----+ with group::--- and user:nobody:rw-: the mode alone would open the
  // file to its owning group and shut nobody out. A directory's default ACL, which a
  // new file inherits, does not pass to the replacement of a file without one.
  constexpr std::uint32_t kUserObj = 0x01, kUser = 0x02, kGroupObj = 0x04, kMask = 0x10, kOther = 0x20;
  constexpr std::uint32_t kNone = 0xffffffff;
  const std::string acl =
      aclBytes({{kUserObj, 6, kNone}, {kUser, 6, kNobody}, {kGroupObj, 0, kNone}, {kMask, 6, kNone}, {kOther, 0, kNone}});
  if (setxattr(target.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0) {
    GTEST_SKIP() << "no ACLs here: " << std::strerror(errno);
  }
  const std::string plain = dir + "/plain.txt";
  std::ofstream(plain) << "earlier";
  chmod(plain.c_str(), 0640);
  for (const std::string& name : {target, plain}) {
    if (name == plain) {
      ASSERT_EQ(setxattr(dir.c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0), 0);
    }
    OutputFile file(name);
    file.stream() << "new";
    file.commit();
  }
  std::string kept(64, '\0');
  const ssize_t size = getxattr(target.c_str(), "system.posix_acl_access", kept.data(), kept.size());
  EXPECT_EQ(kept.substr(0, static_cast<size_t>(std::max<ssize_t>(size, 0))), acl);
  EXPECT_LT(getxattr(plain.c_str(), "system.posix_acl_access", nullptr, 0), 0);
  struct stat info {};
  stat(target.c_str(), &info);
  EXPECT_EQ(info.st_mode & 07777, 0660u);
  stat(plain.c_str(), &info);
  EXPECT_EQ(info.st_mode & 07777, 0640u);

  // Nobody replacing root's file cannot keep its group: the owning group's entry is
  // cut to what others have, and the mask, which bounds user 1234's entry, is kept.
  if (geteuid() != 0) GTEST_SKIP() << "needs another user";
  ASSERT_EQ(removexattr(dir.c_str(), "system.posix_acl_default"), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  const std::string own = dir + "/nobody", roots = own + "/roots.txt";
  ASSERT_EQ(mkdir(own.c_str(), 0700), 0);
  ASSERT_EQ(chown(own.c_str(), kNobody, kNobody), 0);
  std::ofstream(roots) << "earlier";
  const auto named = [&](std::uint32_t group) {
    return aclBytes({{kUserObj, 6, kNone}, {kUser, 6, 1234}, {kGroupObj, group, kNone}, {kMask, 6, kNone},
                     {kOther, 4, kNone}});
  };
  ASSERT_EQ(setxattr(roots.c_str(), "system.posix_acl_access", named(6).data(), named(6).size(), 0), 0);
  EXPECT_TRUE(asNobody([&] {
    OutputFile file(roots);
    file.commit();
    return true;
  }));
  const ssize_t length = getxattr(roots.c_str(), "system.posix_acl_access", kept.data(), kept.size());
  EXPECT_EQ(kept.substr(0, static_cast<size_t>(std::max<ssize_t>(length, 0))), named(4));
  stat(roots.c_str(), &info);
  EXPECT_EQ(info.st_mode & 07777, 0664u);
  EXPECT_EQ(info.st_uid, kNobody);
}

TEST_F(OutputFileTest, SetIdBitsOfOnesOwnFileSurviveTheWrites) {
  // The kernel clears set-id bits when a process that may not set ids writes to the
  // file: nobody replacing its own 6755 file keeps them, except the set-group-id bit
  // of a group it is not in, which it cannot give; nor does that group's access pass
  // to nobody's own group.
  if (geteuid() != 0) GTEST_SKIP() << "needs another user";
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  const std::string own = dir + "/nobody";
  ASSERT_EQ(mkdir(own.c_str(), 0700), 0);
  ASSERT_EQ(chown(own.c_str(), kNobody, kNobody), 0);
  const struct {
    gid_t group;
    mode_t mode, kept;
  } cases[] = {{kNobody, 06755, 06755}, {0, 06755, 04755}, {0, 06771, 04711}};
  for (const auto& [group, mode, kept] : cases) {
    const std::string file = own + "/tool";
    std::ofstream(file) << "earlier";
    ASSERT_EQ(chown(file.c_str(), kNobody, group), 0);
    ASSERT_EQ(chmod(file.c_str(), mode), 0);  // after chown, which clears set-id bits
    EXPECT_TRUE(asNobody([&] {
      OutputFile replacement(file);
      replacement.stream() << std::string(100000, 'x');
      replacement.commit();
      return true;
    }));
    struct stat info {};
    stat(file.c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, kept) << std::oct << mode;
    EXPECT_EQ(info.st_size, 100000);
  }
}

TEST_F(OutputFileTest, EntriesOfOtherUsersInSharedDirectoriesAreNotUsed) {
  // The kernel's rules for protected links and FIFOs, whatever the machine's settings:
  // in a sticky world-writable directory a link, also one met as a directory, is
  // followed and a FIFO written when it belongs to this user or to the directory's
  // owner.
  if (geteuid() != 0) GTEST_SKIP() << "needs another user";
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  const std::string shared = dir + "/shared", entry = shared + "/out.obj";
  enum Entry { Link, DirectoryLink, Fifo };
  const struct {
    uid_t directoryOwner;
    mode_t mode;
    uid_t entryOwner;
    bool used;
    Entry kind;
  } cases[] = {{0, 01777, kNobody, false, Link},          {kNobody, 01777, 0, true, Link},
               {kNobody, 01777, kNobody, true, Link},     {0, 0777, kNobody, true, Link},
               {0, 01777, kNobody, false, DirectoryLink}, {kNobody, 01777, kNobody, true, DirectoryLink},
               {0, 01777, kNobody, false, Fifo}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.kind) + " of " + std::to_string(c.entryOwner) + " in " +
                 std::to_string(c.directoryOwner) + "'s " + std::to_string(c.mode));
    fs::remove_all(shared);
    ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(chown(shared.c_str(), c.directoryOwner, c.directoryOwner), 0);
    ASSERT_EQ(chmod(shared.c_str(), c.mode), 0);
    const auto plant = [&] {
      return c.kind == Fifo ? mkfifo(entry.c_str(), 0666) == 0
                            : symlink(c.kind == Link ? target.c_str() : dir.c_str(), entry.c_str()) == 0;
    };
    ASSERT_TRUE(c.entryOwner == 0 ? plant() : asNobody(plant));
    std::ofstream(target) << "earlier";
    const std::string name = c.kind == DirectoryLink ? entry + "/out.txt" : entry;
    try {
      OutputTarget::checkTargets({name});
      OutputFile file(name);
      file.stream() << "new";
      file.commit();
      EXPECT_TRUE(c.used);
    } catch (const IoFailure& e) {
      EXPECT_FALSE(c.used);
      EXPECT_EQ(e.file(), name);
      EXPECT_NE(std::string(e.what()).find(c.kind == Fifo ? "will not write to the FIFO " + entry
                                                          : "will not follow the symbolic link " + entry),
                std::string::npos)
          << e.what();
    }
    EXPECT_EQ(testing::readFile(target), c.used ? "new" : "earlier");
    EXPECT_EQ(fs::symlink_status(entry).type(), c.kind == Fifo ? fs::file_type::fifo : fs::file_type::symlink);
    EXPECT_EQ(std::distance(fs::directory_iterator(shared), fs::directory_iterator()), 1);
  }
}

TEST_F(OutputFileTest, ASignalDuringTheCommitsOfAGroupActsAfterTheLast) {
  // A child process writes two files and stops itself with a signal before the
  // group's commit, which removes the temporary files and the group's directory, or
  // between two renames while the signals are held, as the group's commit holds
  // them: the files are all old or all new.
  const std::string second = dir + "/second.txt";
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    for (const bool between : {false, true}) {
      SCOPED_TRACE(std::to_string(signal) + (between ? " between the commits" : " before them"));
      std::ofstream(target) << "earlier";
      std::ofstream(second) << "earlier";
      const pid_t pid = fork();
      if (pid == 0) {
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        if (!between) {
          CommitGroup group;
          group.add(target).stream() << "new";
          group.add(second).stream() << "new";
          raise(signal);
          group.commit();
          _exit(0);
        }
        OutputFile first(target), last(second);
        first.stream() << "new";
        last.stream() << "new";
        {
          const SignalsHeld held;
          first.commit();
          raise(signal);
          last.commit();
        }
        _exit(0);
      }
      ASSERT_GT(pid, 0);
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
      EXPECT_EQ(testing::readFile(target), between ? "new" : "earlier");
      EXPECT_EQ(testing::readFile(second), between ? "new" : "earlier");
      EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
    }
  }
}

TEST(Writeback, EveryFileIsAwaitedAndAFailureIsItsOwn) {
  // More files than wait at once, the eleventh a pipe, which cannot be flushed: every
  // ticket ends, and only the pipe's with an error.
  std::FILE* file = std::tmpfile();
  int ends[2] = {-1, -1};
  ASSERT_TRUE(file != nullptr && pipe(ends) == 0);
  std::vector<std::uint64_t> tickets;
  for (int i = 0; i < 40; ++i) tickets.push_back(startWriteback(i == 10 ? ends[1] : dup(fileno(file))));
  for (int i = 0; i < 40; ++i) EXPECT_EQ(awaitWriteback(tickets[i]) != 0, i == 10) << i;
  close(ends[0]);
  std::fclose(file);
}

}  // namespace
}  // namespace meshcodec
