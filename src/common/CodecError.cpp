#include "common/CodecError.hpp"

#include <utility>

namespace meshcodec {

CodecError::CodecError(ErrorKind kind, const std::string& reason, std::string file)
    : std::runtime_error(reason), kind_(kind), file_(std::move(file)) {}

void CodecError::setFileIfUnset(const std::string& file) {
  if (file_.empty()) file_ = file;
}

}  // namespace meshcodec
