#include "common/CommitGroup.hpp"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace meshcodec {

namespace {

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

}  // namespace

SignalsHeld::SignalsHeld() {
  const sigset_t stops = stopSignals();
  sigprocmask(SIG_BLOCK, &stops, &previous);
}

SignalsHeld::~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous, nullptr); }

CommitGroup::CommitGroup() {
  const sigset_t stops = stopSignals();
  sigprocmask(SIG_BLOCK, &stops, &previous);
}

// A signal that arrived meanwhile is delivered here: its handler finds the committed
// files no longer temporary and only stops the process.
CommitGroup::~CommitGroup() { sigprocmask(SIG_SETMASK, &previous, nullptr); }

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
