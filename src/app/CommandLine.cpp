#include "app/CommandLine.hpp"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

#include "app/Codecs.hpp"
#include "app/GeometryMethod.hpp"
#include "common/CodecError.hpp"
#include "common/DescriptorBuffer.hpp"
#include "common/OutputTarget.hpp"
#include "mesh/DynamicMeshObjLoader.hpp"

namespace meshcodec {

namespace {

using Arguments = std::vector<std::string>;

// The address is a build setting (MESHCODEC_CONTACT in CMake): whoever distributes
// the program names the mailbox that reads its reports.
#ifndef MESHCODEC_CONTACT
#error "MESHCODEC_CONTACT, the banner's address, is set by the build"
#endif
const char* const kBanner[] = {
    "meshcodec compresses triangle meshes by EdgeBreaker connectivity coding and quantized "
    "Laplacian geometry coding.",
    "See readme.txt for details",
    "Please report problems to " MESHCODEC_CONTACT,
    "You may use, copy and modify this program; for any other use write to " MESHCODEC_CONTACT,
};

// Only the static commands are listed.
const char* const kOptionList = "-e encode\n-d decode\n-r reindex";

// Keeps an error message on one readable line whatever bytes an argument or a file
// brought into it.
std::string printable(const std::string& text) {
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '\n') shown += "\\n";
    else if (c == '\r') shown += "\\r";
    else if (c == '\t') shown += "\\t";
    else if (u < 0x20 || u == 0x7f) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", u);
      shown += hex;
    } else {
      shown += c;
    }
  }
  return shown;
}

[[noreturn]] void badNumber(const Arguments& args, int entry, const char* role,
                            const char* problem) {
  throw BadArgument("argument " + std::to_string(entry) + " (" + role + "): '" + args[entry] +
                    "' " + problem);
}

// std::stoi and std::stof take the leading number and ignore the rest ("2.7" gives 2,
// "0.01x" gives 0.01); a text without one, or a number beyond the type, stops the
// command before anything is read or written.
int toInt(const Arguments& args, int entry, const char* role) {
  try {
    return std::stoi(args[entry], nullptr, 10);
  } catch (const std::invalid_argument&) {
    badNumber(args, entry, role, "is not a number");
  } catch (const std::out_of_range&) {
    badNumber(args, entry, role, "is out of range");
  }
}

float toFloat(const Arguments& args, int entry, const char* role) {
  try {
    return std::stof(args[entry], nullptr);
  } catch (const std::invalid_argument&) {
    badNumber(args, entry, role, "is not a number");
  } catch (const std::out_of_range&) {
    badNumber(args, entry, role, "is out of range");
  }
}

// A quantization step: a positive finite number. The pipelines check it again for
// in-process callers, but only here is the argument's text known.
float toStep(const Arguments& args, int entry, const char* role) {
  const float step = toFloat(args, entry, role);
  if (!(std::isfinite(step) && step > 0)) badNumber(args, entry, role, "is not a positive number");
  return step;
}

// A method number without a geometry coder is valid and gives a file without
// positions, which is seldom what was meant: once the command has succeeded, standard
// error says so (standard output is the format's own).
std::string withoutPositions(int method, const char* what) {
  return "method " + std::to_string(method) + " " + what;
}

// The frames that a directory and an expression select; none when they cannot be
// listed, which the command itself reports.
std::vector<std::string> listedFrames(const std::string& directory, const std::string& regexMask) {
  try {
    return DynamicMeshObjLoader(directory, regexMask).frames();
  } catch (const CodecError&) {
    return {};
  }
}

// Whether -ed reads its reference mesh: for a method that needs one, and for a method
// argument that is no number, as the command stops at it only after printing.
bool readsReference(const Arguments& args) {
  try {
    const GeometryMethod* coder = animatedMethod(toInt(args, 8, "method"));
    return coder != nullptr && coder->needsReference;
  } catch (const BadArgument&) {
    return true;
  }
}

// One row per option. Each run function copies the strings before the first number,
// converts the numbers in entry order, copies the strings after them, then calls the
// pipeline; it returns the note on what the method left out, or nothing. The usage
// texts are fixed as they are, argument names included; takes names the arguments as
// the README's synopsis does, and goes to standard error after a usage text that
// names them wrongly. inputs names the files that the command reads, and fixedOutput
// the one it writes by a fixed name: standard output must be none of them.
struct Command {
  const char* option;
  int argc;  // program path and option word included
  const char* usage;
  const char* example;
  const char* takes;
  bool usageMisleads;
  std::string (*run)(const Arguments& args);
  std::vector<std::string> (*inputs)(const Arguments& args);
  const char* fixedOutput;
};

const Command kCommands[] = {
    {"-e", 6, "usage: -e <inputFileName> <OutputFileName> <Quantization> <Method>",
     "example: -e input.obj encoded.bin 0.01 0",
     "<input.obj> <output.bin> <quantization> <method>", false,
     [](const Arguments& a) {
       std::string in = a[2], out = a[3];
       const float quantization = toStep(a, 4, "quantization");
       const int method = toInt(a, 5, "method");
       encode(std::move(in), std::move(out), quantization, method);
       if (staticMethod(method)) return std::string();
       return withoutPositions(method, "codes no positions: the compressed file holds the connectivity only");
     },
     [](const Arguments& a) { return std::vector<std::string>{a[2]}; }, "map.txt"},
    {"-d", 5, "usage: -d <InputFileName> <OutputFileName> <Method>",
     "example: -d encoded.bin decoded.obj 0",
     "<input.bin> <output.obj> <method>", false,
     [](const Arguments& a) {
       std::string in = a[2], out = a[3];
       const int method = toInt(a, 4, "method");
       decode(std::move(in), std::move(out), method);
       if (staticMethod(method)) return std::string();
       return withoutPositions(method, "decodes no positions: the OBJ file holds face lines only");
     },
     [](const Arguments& a) { return std::vector<std::string>{a[2]}; }, nullptr},
    {"-r", 4, "usage: -r <InputFileName> <OutputFileName>", "example: -r input.obj reindexed.obj",
     "<input.obj> <output.obj>", false,
     [](const Arguments& a) {
       reindex(a[2], a[3]);
       return std::string();
     },
     [](const Arguments& a) { return std::vector<std::string>{a[2]}; }, nullptr},
    {"-ed", 10,
     "syntax: -e <inputdirectory> <regexmask> <outputfile> <number_of_bases> <precission> "
     "<coefficient quantization>",
     R"(ex: -ed dir "mesh\_[0-9]+\.obj" file.cbin 30 0.1 0.01)",
     "<frame directory> <frame name regex> <output.bin> <bases> <precision> "
     "<coefficient quantization> <method> <reference.obj>",
     true,
     [](const Arguments& a) {
       std::string directory = a[2], regexMask = a[3], out = a[4];
       const int bases = toInt(a, 5, "bases");
       const float precision = toStep(a, 6, "precision");
       const float coefQuant = toStep(a, 7, "coefficient quantization");
       const int method = toInt(a, 8, "method");
       std::string reference = a[9];
       encodeDynamic(std::move(directory), std::move(regexMask), std::move(out), bases, precision,
                     coefQuant, method, std::move(reference));
       if (animatedMethod(method)) return std::string();
       return withoutPositions(method, "codes no coefficients: the compressed file holds the connectivity "
                                       "and the PCA mean and basis only");
     },
     [](const Arguments& a) {
       std::vector<std::string> inputs = listedFrames(a[2], a[3]);
       if (readsReference(a)) inputs.push_back(a[9]);
       return inputs;
     },
     nullptr},
    {"-dd", 5, "syntax: -d <inputfile> <outputfile>", "ex: -dd file.cbin file.bin",
     "<input.bin> <output frame prefix> <method>", true,
     [](const Arguments& a) {
       std::string in = a[2], prefix = a[3];
       const int method = toInt(a, 4, "method");
       decodeDynamic(std::move(in), std::move(prefix), method);
       const GeometryMethod* coder = animatedMethod(method);
       if (coder && coder->hasDecoder()) return std::string();
       return withoutPositions(method, coder ? "has no decoder: the frame files hold face lines only"
                                             : "decodes no positions: the frame files hold face lines only");
     },
     [](const Arguments& a) { return std::vector<std::string>{a[2]}; }, nullptr},
    {"-rd", 5, "syntax: -rd <inputfile> <outputfile>", "ex: -r file.bin file.rbin",
     "<frame directory> <frame name regex> <output frame prefix>", true,
     [](const Arguments& a) {
       reindexDynamic(a[2], a[3], a[4]);
       return std::string();
     },
     [](const Arguments& a) { return listedFrames(a[2], a[3]); }, nullptr},
};

// Stands in for standard output's buffer and writes to descriptor 1 itself, keeping
// the system's reason for the first write that failed: the stream keeps only a flag,
// and the reason is gone by the time the entry looks. The C library's buffer would
// drop what it held when a non-blocking descriptor has no room; this one waits. On a
// terminal each line goes out as it ends, as the C library's would.
class FailureKeepingBuffer : public DescriptorBuffer {
 public:
  explicit FailureKeepingBuffer(std::ostream& stream)
      : DescriptorBuffer(STDOUT_FILENO), stream(stream), previous(stream.rdbuf(this)),
        terminal(isatty(STDOUT_FILENO) != 0) {}
  ~FailureKeepingBuffer() override {
    sync();
    stream.rdbuf(previous);
  }

  int failure() const { return error; }  // the errno of the first failed write, or 0

 protected:
  int_type overflow(int_type c) override {
    const int_type result = DescriptorBuffer::overflow(c);
    if (terminal && traits_type::eq_int_type(c, traits_type::to_int_type('\n'))) sync();
    return result;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    const std::streamsize put = DescriptorBuffer::xsputn(s, n);
    if (terminal && std::memchr(s, '\n', static_cast<std::size_t>(n)) != nullptr) sync();
    return put;
  }

 private:
  std::ostream& stream;
  std::streambuf* previous;
  bool terminal;
};

// Refuses a standard output that is a regular file the command reads, or writes by
// a fixed name: the banner would change it before any check of the command could
// refuse, as `>> in.obj` gives it. Runs before anything is printed.
void requireStandardOutputApart(const Command& command, const Arguments& args) {
  struct stat out {};
  if (fstat(STDOUT_FILENO, &out) != 0 || !S_ISREG(out.st_mode)) return;
  const auto isOut = [&out](const std::string& name) {
    struct stat info {};
    return stat(name.c_str(), &info) == 0 && info.st_dev == out.st_dev && info.st_ino == out.st_ino;
  };
  for (const std::string& input : command.inputs(args)) {
    if (isOut(input)) throw BadArgument("the same file as " + input + ", an input of the command", "standard output");
  }
  if (command.fixedOutput != nullptr && isOut(command.fixedOutput)) {
    throw BadArgument("the same file as " + std::string(command.fixedOutput) + ", an output of the command",
                      "standard output");
  }
}

}  // namespace

int CommandLine::run(int argc, char** argv) {
  // Before anything opens a file, so that /dev/fd/N means what the caller opened.
  OutputTarget::recordOpenDescriptors();
  // A write beyond the file-size limit then fails with EFBIG, an error like a full
  // disk, instead of killing the process and leaving its temporary files behind.
  signal(SIGXFSZ, SIG_IGN);
  FailureKeepingBuffer standardOutput(std::cout);
  // The option words differ, so at most one row matches.
  const Command* command = nullptr;
  for (const Command& row : kCommands) {
    if (argc >= 2 && std::strcmp(argv[1], row.option) == 0) command = &row;
  }
  if (command != nullptr && argc == command->argc) {
    const int status =
        reportFailures([&] { requireStandardOutputApart(*command, Arguments(argv, argv + argc)); }, std::cerr);
    if (status != 0) return status;
  }
  for (const char* line : kBanner) std::cout << line << std::endl;
  bool usageError = false;
  std::string note;
  const int status = reportFailures(
      [&] {
        if (argc < 2) {
          std::cout << kOptionList << std::endl;
          return;
        }
        const Arguments args(argv, argv + argc);
        if (command != nullptr) {
          if (argc != command->argc) {
            usageError = true;
            std::cout << command->usage << std::endl << command->example << std::endl;
            if (command->usageMisleads) {
              std::cerr << "meshcodec: " << command->option << " takes " << command->takes
                        << std::endl;
            }
          } else {
            note = command->run(args);
          }
          return;
        }
        usageError = true;
        std::cerr << "meshcodec: error: unknown option '" << printable(args[1]) << "'\n"
                  << "options:\n";
        for (const Command& row : kCommands) {
          std::cerr << "  meshcodec " << row.option << " " << row.takes << "\n";
        }
        std::cerr.flush();
      },
      std::cerr);
  // What the command could not tidy away once its files were in place.
  for (const Warning& warning : takeWarnings()) {
    std::cerr << printable("meshcodec: warning: " + warning.file + ": " + warning.reason) << std::endl;
  }
  if (status != 0) return status;
  // A usage text is not a command's result: the caller learns of the mistake by the
  // status, whatever became of the text.
  if (usageError) return static_cast<int>(ErrorKind::BadArgument);
  // The printed numbers are part of a command's result: lost ones fail it, once its
  // files are in place.
  const int outputStatus = reportFailures(
      [&] {
        std::cout.flush();
        if (std::cout) return;
        const int error = standardOutput.failure();
        throw IoFailure(std::string("cannot write") + (error > 0 ? std::string(": ") + std::strerror(error) : ""),
                        "standard output");
      },
      std::cerr);
  // A failed command's one line is its error; the note is for a result the user has.
  if (outputStatus == 0 && !note.empty()) std::cerr << "meshcodec: note: " << note << std::endl;
  return outputStatus;
}

int CommandLine::reportFailures(const std::function<void()>& command, std::ostream& err) {
  const auto report = [&err](const CodecError& e) {
    // An empty name is shown as the shell writes it, as the outputs' checks name one.
    const std::string file = e.file().empty() ? "''" : e.file();
    const std::string where = e.namesFile() ? file + ": " : "";
    err << printable("meshcodec: error: " + where + e.what()) << std::endl;
    return e.exitStatus();
  };
  try {
    command();
    return 0;
  } catch (const CodecError& e) {
    return report(e);
  } catch (const std::bad_alloc&) {
    return report(OutOfMemory());  // outside the work on any file
  } catch (const std::length_error&) {
    return report(OutOfMemory());
  } catch (const std::exception& e) {
    err << printable(std::string("meshcodec: error: ") + e.what()) << std::endl;
  } catch (...) {
    err << "meshcodec: error: unknown failure" << std::endl;
  }
  return 1;
}

}  // namespace meshcodec
