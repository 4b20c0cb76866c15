#include "common/TemporaryFiles.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace meshcodec {

namespace {

// The temporaries that exist, for the handler of the stop signals to remove. The list
// is changed only while those signals are blocked, so the handler never sees it half
// updated; it is never freed, as the handler may run while the program exits.
struct Temporary {
  int directory;
  char* name;  // null in a free entry
  bool isDirectory;
};
struct TemporaryList {
  std::vector<Temporary> entries;
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
  for (const Temporary& entry : temporaries->entries) {
    if (entry.name != nullptr && !entry.isDirectory) unlinkat(entry.directory, entry.name, 0);
  }
  for (const Temporary& entry : temporaries->entries) {
    if (entry.name != nullptr && entry.isDirectory) unlinkat(entry.directory, entry.name, AT_REMOVEDIR);
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

// Eight bytes from the kernel's random source. Without it (a kernel older than the
// call, a sandbox that forbids it) the clock and a counter still give names that this
// process has not used; O_EXCL and mkdir refuse the ones that exist.
std::uint64_t randomBits() {
  std::uint64_t bits = 0;
  if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits)) return bits;
  static std::uint64_t counter = 0;
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  return static_cast<std::uint64_t>(now) * 0x9E3779B97F4A7C15u + ++counter;
}

}  // namespace

SignalsHeld::SignalsHeld() {
  const sigset_t stops = stopSignals();
  sigprocmask(SIG_BLOCK, &stops, &previous);
}

SignalsHeld::~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous, nullptr); }

std::string temporaryName() {
  static const char digits[] = "0123456789abcdef";
  std::uint64_t bits = randomBits();
  char random[16];
  for (char& c : random) {
    c = digits[bits & 15];
    bits >>= 4;
  }
  return ".meshcodec-" + std::to_string(getpid()) + "-" + std::string(random, sizeof random) + ".tmp";
}

std::ptrdiff_t addTemporary(int directory, const std::string& name, bool isDirectory) {
  if (temporaries == nullptr) {
    temporaries = new TemporaryList;
    installHandler();
  }
  std::vector<Temporary>& entries = temporaries->entries;
  std::vector<std::size_t>& freeEntries = temporaries->freeEntries;
  if (freeEntries.empty()) {
    entries.push_back({-1, nullptr, false});
    freeEntries.push_back(entries.size() - 1);
    // Room for every entry to be free, so that dropTemporary cannot fail.
    freeEntries.reserve(entries.size());
  }
  char* copy = strdup(name.c_str());
  if (copy == nullptr) throw std::bad_alloc();
  const std::size_t entry = freeEntries.back();
  freeEntries.pop_back();
  entries[entry] = {directory, copy, isDirectory};
  return static_cast<std::ptrdiff_t>(entry);
}

void dropTemporary(std::ptrdiff_t entry) {
  if (entry < 0) return;
  Temporary& temporary = temporaries->entries[static_cast<std::size_t>(entry)];
  std::free(temporary.name);
  temporary = {-1, nullptr, false};
  temporaries->freeEntries.push_back(static_cast<std::size_t>(entry));
}

}  // namespace meshcodec
