#include "common/OutputFile.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include "common/CodecError.hpp"

namespace meshcodec {

namespace {

std::string systemReason(const char* what, int error) {
  std::string reason = what;
  if (error != 0) reason += std::string(": ") + std::strerror(error);
  return reason;
}

// Reserves a new, unique file name beside target: a hidden name made of the target's
// name, the process id and a counter. The "x" mode refuses names that exist, so a
// leftover of an earlier run or a concurrent writer is never reused.
std::string createTemporaryBeside(const std::string& target) {
  namespace fs = std::filesystem;
  const fs::path path(target);
  const std::string name = path.filename().string();
  if (name.empty() || name == "." || name == "..") {
    throw IoFailure("not a file name", target);
  }
  static unsigned counter = 0;
  int lastError = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate =
        (path.parent_path() / ("." + name + "." + std::to_string(getpid()) + "-" +
                               std::to_string(counter++) + ".tmp"))
            .string();
    errno = 0;
    if (std::FILE* f = std::fopen(candidate.c_str(), "wbx")) {
      std::fclose(f);
      return candidate;
    }
    lastError = errno;
    if (lastError != EEXIST) break;
  }
  throw IoFailure(systemReason("cannot create the output file", lastError), target);
}

}  // namespace

OutputFile::OutputFile(std::string target)
    : targetPath(std::move(target)), temporaryPath(createTemporaryBeside(targetPath)) {
  out.open(temporaryPath, std::ios::out | std::ios::binary | std::ios::trunc);
  if (!out) {
    const int error = errno;
    discard();
    throw IoFailure(systemReason("cannot open the output file", error), targetPath);
  }
}

OutputFile::~OutputFile() {
  if (!committed) discard();
}

void OutputFile::discard() noexcept {
  if (out.is_open()) out.close();
  std::error_code ignored;
  std::filesystem::remove(temporaryPath, ignored);
}

void OutputFile::commit() {
  if (committed) throw Misuse("output file committed twice", targetPath);
  errno = 0;
  // A full disk or an I/O error may only show when the buffer is written out, so
  // the state is read after flush and close.
  out.flush();
  if (out.good()) out.close();
  if (out.fail() || out.bad() || out.is_open()) {
    const int error = errno;
    discard();
    throw IoFailure(systemReason("cannot write the output file", error), targetPath);
  }
  std::error_code renameError;
  std::filesystem::rename(temporaryPath, targetPath, renameError);
  if (renameError) {
    discard();
    throw IoFailure("cannot replace the output file: " + renameError.message(), targetPath);
  }
  committed = true;
}

}  // namespace meshcodec
