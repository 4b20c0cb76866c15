#include "common/CodecError.hpp"

#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

namespace meshcodec {

CodecError::CodecError(ErrorKind kind, const std::string& reason, std::optional<std::string> file)
    : std::runtime_error(reason), kind_(kind), namesFile_(file.has_value()),
      file_(std::move(file).value_or(std::string())) {}

void CodecError::setFileIfUnset(const std::string& file) {
  if (namesFile_) return;
  namesFile_ = true;
  file_ = file;
}

void rethrowNamingFile(const std::string& file) {
  try {
    throw;
  } catch (CodecError& e) {
    e.setFileIfUnset(file);
    throw;
  } catch (const std::bad_alloc&) {
    throw OutOfMemory(file);
  } catch (const std::length_error&) {
    throw OutOfMemory(file);
  }
}

std::string systemReason(const char* what, int error) {
  std::string reason = what;
  if (error > 0) reason += std::string(": ") + std::strerror(error);
  return reason;
}

namespace {
std::vector<Warning> warnings;
}  // namespace

void warnAfterCommand(std::string file, std::string reason) {
  try {
    warnings.push_back({std::move(file), std::move(reason)});
  } catch (const std::bad_alloc&) {
    // A cleanup that found memory short says nothing more.
  }
}

std::vector<Warning> takeWarnings() { return std::exchange(warnings, {}); }

}  // namespace meshcodec
