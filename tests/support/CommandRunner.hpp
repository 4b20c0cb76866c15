#pragma once
// Runs the built meshcodec program as a black box: exit status, standard output and
// standard error, in a working directory of the test's choosing.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace meshcodec::testing {

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// The words that start the program: the emulator's first when the tests run the
// target's executables through one, then MESHCODEC_EXE.
std::vector<std::string> programCommand();

// Runs the program with args in workDir (created if missing); with a positive
// memoryLimitKb, under that limit of address space (ulimit -v), so that allocations
// fail where they would on a machine without the memory. Shell redirections, such as
// ">/dev/full" or ">&-", apply after those that capture the output. The words of
// `wrapper` start the program under other conditions ("prlimit --fsize=1024",
// "setpriv --reuid=65534 ...").
RunResult runMeshcodec(const std::vector<std::string>& args, const std::string& workDir,
                       long memoryLimitKb = 0, const std::string& redirections = "",
                       const std::vector<std::string>& wrapper = {});

// Starts the program with args in workDir, its standard output on the descriptor
// `standardOutput` and without core dumps, and returns its process id at once, for a
// test that acts while it runs; the caller waits for it.
pid_t startMeshcodec(const std::vector<std::string>& args, const std::string& workDir, int standardOutput);

// Runs the program as runMeshcodec does with `fifo`, a FIFO, as an input: once the
// program has opened it, past its checks of the outputs, `meanwhile` runs, and then
// `content` is written into the FIFO.
RunResult runFeedingFifo(const std::vector<std::string>& args, const std::string& workDir, const std::string& fifo,
                         const std::string& content, const std::function<void()>& meanwhile);

// The README's command for outputs stopped by SIGKILL while a group was put in place.
const std::string& recoveryCommand();

// Runs, in `directory`, the README's command for outputs stopped by SIGKILL while a
// group was put in place: one whole set is left, the earlier or the new, and no hidden
// entry. Returns the shell's status.
int runRecoveryCommand(const std::string& directory);

// A fresh, empty directory under the system's temporary directory.
std::string makeTempDir(const std::string& tag);

std::string readFile(const std::string& path);

// Makes dir the working directory until the end of the scope, for in-process calls
// of commands that write "map.txt" into the working directory.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const std::string& dir);
  ~ScopedCurrentDir();
  ScopedCurrentDir(const ScopedCurrentDir&) = delete;
  ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

 private:
  std::string previous;
};
bool fileExists(const std::string& path);

}  // namespace meshcodec::testing
