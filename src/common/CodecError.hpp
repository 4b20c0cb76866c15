#pragma once
// The one family of errors that the codec reports. Each is thrown where the fault is
// found, with its context in the reason; the program entry catches them once, prints
// "meshcodec: error: <file>: <reason>" on standard error and exits with the status
// of the kind (listed in the README).

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace meshcodec {

enum class ErrorKind {
  BadArgument = 2,      // a command-line argument that cannot be used
  UnreadableInput = 3,  // an input file that cannot be opened or read
  MalformedObj = 4,     // an OBJ line that cannot be parsed, a bad face index, or a
                        // file without vertex or face lines
  OutOfDomain = 5,      // a mesh the format cannot carry (border, non-manifold, ...)
  CorruptStream = 6,    // a compressed file that is truncated or inconsistent
  IoFailure = 7,        // an output file that cannot be written
  Misuse = 8,           // an internal call outside its contract
  OutOfMemory = 9,      // an allocation failed while working on a file
};

class CodecError : public std::runtime_error {
 public:
  // Without a file the error names none until a caller gives one (setFileIfUnset). An
  // empty name is a file all the same, the one that an empty argument names.
  CodecError(ErrorKind kind, const std::string& reason, std::optional<std::string> file = {});

  ErrorKind kind() const { return kind_; }
  int exitStatus() const { return static_cast<int>(kind_); }
  bool namesFile() const { return namesFile_; }
  const std::string& file() const { return file_; }  // empty when none is named
  // Errors raised below the pipelines do not know the file; the pipeline names it.
  void setFileIfUnset(const std::string& file);

 private:
  ErrorKind kind_;
  bool namesFile_;
  std::string file_;
};

#define MESHCODEC_ERROR_KIND(Name)                                        \
  class Name : public CodecError {                                        \
   public:                                                                \
    explicit Name(const std::string& reason,                              \
                  std::optional<std::string> file = {})                   \
        : CodecError(ErrorKind::Name, reason, std::move(file)) {}         \
  };

MESHCODEC_ERROR_KIND(BadArgument)
MESHCODEC_ERROR_KIND(UnreadableInput)
MESHCODEC_ERROR_KIND(MalformedObj)
MESHCODEC_ERROR_KIND(OutOfDomain)
MESHCODEC_ERROR_KIND(CorruptStream)
MESHCODEC_ERROR_KIND(IoFailure)
MESHCODEC_ERROR_KIND(Misuse)

#undef MESHCODEC_ERROR_KIND

// An allocation failure (std::bad_alloc) as an error of the file being worked on. A
// standard length error (std::length_error: a string or vector asked for more than
// the address space can hold, as a file of 1 GiB does on a 32-bit target) is the same
// failure and is reported the same way.
class OutOfMemory : public CodecError {
 public:
  explicit OutOfMemory(std::optional<std::string> file = {})
      : CodecError(ErrorKind::OutOfMemory, "memory ran out", std::move(file)) {}
};

// For a catch (...) handler: rethrows the exception being handled so that it names
// file. A CodecError without a file gets it, std::bad_alloc and std::length_error
// become OutOfMemory, and anything else is rethrown as it is.
[[noreturn]] void rethrowNamingFile(const std::string& file);

// A reason followed by the system's text for an errno value ("what: No such file or
// directory"); a value of 0 or below adds nothing.
std::string systemReason(const char* what, int error);

// What a command could not tidy away once its outputs were in place, which does not
// fail it: the program's entry prints each, once the command is over, as
// "meshcodec: warning: <file>: <reason>".
struct Warning {
  std::string file;
  std::string reason;
};
void warnAfterCommand(std::string file, std::string reason);
// The warnings given so far, in order; the list is then empty.
std::vector<Warning> takeWarnings();

}  // namespace meshcodec
