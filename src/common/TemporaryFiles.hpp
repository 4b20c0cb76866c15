#pragma once
// The temporary files and directories that outputs are written through, and the stop
// signals that a user or a shell sends (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE).
// Every temporary is registered here while it exists, as a name in a directory held
// open, so that the handler of those signals can remove it with async-signal-safe
// calls before the process ends. OutputFile and CommitGroup both build on this.

#include <signal.h>

#include <cstddef>
#include <string>

namespace meshcodec {

// Blocks the stop signals for its lifetime, around a change of the temporaries.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous;
};

// A new hidden name for a temporary file or directory, ".meshcodec-<pid>-<r>.tmp",
// where r is 16 hexadecimal digits from the kernel's random source: another user
// cannot create the names before the program does.
std::string temporaryName();

// Registers the entry `name` of the directory open as `directory` for removal by a
// stop signal, a directory with rmdir's rule; the descriptor must stay open until
// the entry is dropped. Call with the signals held; the first call installs the
// handler. Returns the entry's handle, which dropTemporary frees (a negative handle
// is none).
std::ptrdiff_t addTemporary(int directory, const std::string& name, bool isDirectory);
void dropTemporary(std::ptrdiff_t entry);

}  // namespace meshcodec
