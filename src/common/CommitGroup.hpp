#pragma once
// The outputs of one command replace their targets together: the stop signals that a
// user or a shell sends (SIGINT, SIGTERM, SIGHUP, SIGPIPE) are held while a group of
// temporary files is renamed into place, and a stop signal that comes at any other
// time removes every temporary file that exists before the process ends.

#include <signal.h>

#include <cstddef>
#include <string>

namespace meshcodec {

// While one exists, the stop signals wait and act when it ends, so that the commits
// made in its lifetime replace their targets all or none: a signal that came before
// the first commit removes the temporary files, one that comes during the commits acts
// once the last file is in place.
class CommitGroup {
 public:
  CommitGroup();
  ~CommitGroup();
  CommitGroup(const CommitGroup&) = delete;
  CommitGroup& operator=(const CommitGroup&) = delete;

 private:
  sigset_t previous;
};

// Blocks the stop signals for its lifetime, around a change of the temporary files.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous;
};

// The temporary files that a stop signal removes. Both are called with the signals
// held; the first installs the handler of the stop signals on its first call.
// Returns the file's entry, which dropTemporary frees (a negative entry is none).
std::ptrdiff_t addTemporary(const std::string& path);
void dropTemporary(std::ptrdiff_t entry);

}  // namespace meshcodec
