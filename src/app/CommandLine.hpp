#pragma once
// The program entry's logic: prints the banner, picks one of the six commands by the
// option word, checks its argument count, converts its numbers and calls its
// pipeline (app/Codecs.hpp). It is also the one place where an error becomes a line
// on standard error and an exit status.

#include <functional>
#include <ostream>

namespace meshcodec {

class CommandLine {
 public:
  // Runs one command and returns the process exit status: 0 after a command and after
  // the option list that no arguments print; BadArgument's status after a usage text
  // (a known option with the wrong argument count) and after an unknown option word;
  // the error's status after a failure.
  static int run(int argc, char** argv);

  // Calls command. An exception escaping it becomes one line on err,
  // "meshcodec: error: <file>: <reason>" (the file part only when the error names
  // one, '' for an empty name), and the returned status: the error kind's,
  // OutOfMemory's for std::bad_alloc and std::length_error, or 1 for any other
  // exception.
  static int reportFailures(const std::function<void()>& command, std::ostream& err);
};

}  // namespace meshcodec
