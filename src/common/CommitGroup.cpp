#include "common/CommitGroup.hpp"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <vector>

#include "common/CodecError.hpp"

namespace meshcodec {

namespace {

namespace fs = std::filesystem;

// The temporary files and directories that exist, for the handler of the stop signals
// to remove. The list is changed only while those signals are blocked, so the handler
// never sees it half updated; it is never freed, as the handler may run while the
// program exits.
struct TemporaryList {
  std::vector<char*> paths;  // null in a free entry
  std::vector<std::size_t> freeEntries;
};
TemporaryList* temporaries = nullptr;

// The signals whose default action ends the process and that a user or a shell
// sends to stop a command: an interrupt, a termination, a closed terminal, the
// terminal's quit key, and a write to a pipe whose reader has gone (the output, or
// standard output, piped on).
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

sigset_t stopSignals() {
  sigset_t all;
  sigemptyset(&all);
  for (const int signal : kStopSignals) sigaddset(&all, signal);
  return all;
}

extern "C" void removeTemporariesAndStop(int signal) {
  // Only async-signal-safe calls. The files go first, then the directories that held
  // them. SA_RESETHAND has restored the default action, so the signal raised again
  // stops the process as soon as the handler returns.
  for (char* path : temporaries->paths) {
    if (path != nullptr) unlink(path);
  }
  for (char* path : temporaries->paths) {
    if (path != nullptr) rmdir(path);
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

// What a target was before the group's renames, and so how to put it back.
enum class Before : char {
  Missing,  // removed
  Kept,     // its hard link renamed back
  Lost,     // nothing to do: written directly, or no link could be made
};

}  // namespace

SignalsHeld::SignalsHeld() {
  const sigset_t stops = stopSignals();
  sigprocmask(SIG_BLOCK, &stops, &previous);
}

SignalsHeld::~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous, nullptr); }

CommitGroup::~CommitGroup() {
  members.clear();  // each removes its temporary file unless committed
  removeDirectories();
}

OutputFile& CommitGroup::add(std::string target) {
  members.push_back(OutputFile(std::move(target), this));
  return members.back();
}

void CommitGroup::commit() {
  if (committed) throw Misuse("output group committed twice");
  committed = true;
  for (OutputFile& file : members) file.close();
  std::vector<Before> before;
  before.reserve(members.size());
  const SignalsHeld held;
  std::size_t done = 0;
  try {
    for (std::size_t i = 0; i < members.size(); ++i) {
      const std::string& place = members[i].placePath;
      struct stat info {};
      if (place.empty()) before.push_back(Before::Lost);
      else if (lstat(place.c_str(), &info) != 0 && errno == ENOENT) before.push_back(Before::Missing);
      // A file system without hard links still gets its outputs, as a lone output would.
      else before.push_back(link(place.c_str(), keptName(i).c_str()) == 0 ? Before::Kept : Before::Lost);
    }
    for (; done < members.size(); ++done) members[done].commit();
  } catch (...) {
    // The members before `done` are in place: put back what they replaced. A link
    // that cannot be renamed back stays, with the old content, in the hidden directory.
    for (std::size_t i = 0; i < before.size(); ++i) {
      const std::string& place = members[i].placePath;
      if (before[i] == Before::Kept && i < done) std::rename(keptName(i).c_str(), place.c_str());
      else if (before[i] == Before::Kept) unlink(keptName(i).c_str());
      else if (before[i] == Before::Missing && i < done) unlink(place.c_str());
    }
    members.clear();
    removeDirectories();
    throw;
  }
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (before[i] == Before::Kept) unlink(keptName(i).c_str());
  }
  removeDirectories();
}

const std::string& CommitGroup::directoryBeside(const std::string& place, const std::string& target) {
  const fs::path parent = fs::path(place).parent_path();
  const auto found = directories.find(parent.string());
  if (found != directories.end()) return found->second.path;
  Directory& made = directories[parent.string()];
  const SignalsHeld held;
  int lastError = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    made.path = (parent / temporaryName()).string();
    if (mkdir(made.path.c_str(), 0700) == 0) {
      try {
        made.slot = addTemporary(made.path);
      } catch (...) {
        rmdir(made.path.c_str());
        directories.erase(parent.string());
        throw;
      }
      return made.path;
    }
    lastError = errno;
    if (lastError != EEXIST) break;
  }
  directories.erase(parent.string());
  throw IoFailure(systemReason("cannot create the output file", lastError), target);
}

std::string CommitGroup::keptName(std::size_t index) {
  const fs::path parent = fs::path(members[index].placePath).parent_path();
  return directories.at(parent.string()).path + "/" + std::to_string(index) + ".old";
}

void CommitGroup::removeDirectories() noexcept {
  const SignalsHeld held;
  for (const auto& entry : directories) {
    rmdir(entry.second.path.c_str());
    dropTemporary(entry.second.slot);
  }
  directories.clear();
}

std::string temporaryName() {
  static unsigned counter = 0;
  return ".meshcodec-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".tmp";
}

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

void dropTemporary(std::ptrdiff_t entry) {
  if (entry < 0) return;
  char*& path = temporaries->paths[static_cast<std::size_t>(entry)];
  std::free(path);
  path = nullptr;
  temporaries->freeEntries.push_back(static_cast<std::size_t>(entry));
}

}  // namespace meshcodec
