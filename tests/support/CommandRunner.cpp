#include "support/CommandRunner.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifndef MESHCODEC_EXE
#define MESHCODEC_EXE "meshcodec"
#endif

namespace meshcodec::testing {

namespace {
std::string shellQuote(const std::string& s) {
  std::string quoted = "'";
  for (char c : s) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}
}  // namespace

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

ScopedCurrentDir::ScopedCurrentDir(const std::string& dir)
    : previous(std::filesystem::current_path().string()) {
  std::filesystem::current_path(dir);
}

ScopedCurrentDir::~ScopedCurrentDir() { std::filesystem::current_path(previous); }

bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

RunResult runFeedingFifo(const std::vector<std::string>& args, const std::string& workDir, const std::string& fifo,
                         const std::string& content, const std::function<void()>& meanwhile) {
  // More would wait, after a failure, for a reader that never comes.
  if (content.size() > 65536) throw std::invalid_argument("more than a pipe holds");
  std::atomic<bool> opened{false};
  std::thread feeder([&] {
    // A reader gone makes the write fail for this thread, rather than end the process.
    sigset_t broken;
    sigemptyset(&broken);
    sigaddset(&broken, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &broken, nullptr);
    const int writer = open(fifo.c_str(), O_WRONLY);  // waits for a reader
    opened = true;
    meanwhile();
    for (std::size_t done = 0; writer >= 0 && done < content.size();) {
      const ssize_t written = write(writer, content.data() + done, content.size() - done);
      if (written <= 0) break;
      done += static_cast<std::size_t>(written);
    }
    if (writer >= 0) close(writer);
  });
  const RunResult result = runMeshcodec(args, workDir);
  // A program that ended without opening the FIFO leaves the feeder waiting for a
  // reader: this one takes what it writes, which the pipe holds.
  const int reader = opened ? -1 : open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  feeder.join();
  if (reader >= 0) close(reader);
  return result;
}

const std::string& recoveryCommand() {
  static const std::string command =
      R"(for h in .meshcodec-*.tmp; do [ -e "$h/${h%.tmp}.done" ] || (cd "./$h/${h%.tmp}.new" 2>/dev/null && )"
      R"(for f in * .[!.]* ..?*; do [ -f "$f" ] && [ "$f" -ef "../../$f" ] || continue; rm -f "../../$f"; )"
      R"(if [ -e "../$f" ] || [ -L "../$f" ]; then [ "../$f" -ef "$f" ] || mv -f "../$f" "../../$f"; fi; done); )"
      R"(rm -rf "$h"; done)";
  return command;
}

int runRecoveryCommand(const std::string& directory) {
  return std::system(("cd " + shellQuote(directory) + " && sh -c " + shellQuote(recoveryCommand())).c_str());
}

std::string makeTempDir(const std::string& tag) {
  const auto base = std::filesystem::temp_directory_path();
  std::string pattern = (base / ("meshcodec_" + tag + "_XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

std::vector<std::string> programCommand() {
#ifdef MESHCODEC_EMULATOR
  std::vector<std::string> words = {MESHCODEC_EMULATOR};
#else
  std::vector<std::string> words;
#endif
  words.push_back(MESHCODEC_EXE);
  return words;
}

pid_t startMeshcodec(const std::vector<std::string>& args, const std::string& workDir, int standardOutput) {
  std::vector<std::string> words = programCommand();
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (chdir(workDir.c_str()) == 0 && dup2(standardOutput, 1) == 1) execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

RunResult runMeshcodec(const std::vector<std::string>& args, const std::string& workDir,
                       long memoryLimitKb, const std::string& redirections,
                       const std::vector<std::string>& wrapper) {
  std::filesystem::create_directories(workDir);
  const std::string outFile = workDir + "/.stdout", errFile = workDir + "/.stderr";
  std::string command = "cd " + shellQuote(workDir) + " && ";
  if (memoryLimitKb > 0) command += "ulimit -v " + std::to_string(memoryLimitKb) + " && ";
  for (const std::string& word : wrapper) command += shellQuote(word) + " ";
  for (const std::string& word : programCommand()) command += shellQuote(word) + " ";
  for (const auto& a : args) command += shellQuote(a) + " ";
  command += " >" + shellQuote(outFile) + " 2>" + shellQuote(errFile) + " </dev/null " + redirections;
  const int raw = std::system(command.c_str());
  RunResult result;
  if (WIFEXITED(raw)) result.status = WEXITSTATUS(raw);
  else if (WIFSIGNALED(raw)) result.status = 128 + WTERMSIG(raw);
  result.out = readFile(outFile);
  result.err = readFile(errFile);
  std::filesystem::remove(outFile);
  std::filesystem::remove(errFile);
  return result;
}

}  // namespace meshcodec::testing
