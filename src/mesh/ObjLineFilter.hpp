#pragma once
// What the OBJ reader keeps of a file (see ObjInput), taken from its bytes piece by
// piece as they arrive. Each line is classified as forEachObjLine, isVertexLine and
// isFaceLine classify it, from its first bytes, so that a line that is not kept costs
// no memory however long it runs. NUL bytes are the caller's to refuse.

#include <string_view>

#include "mesh/ObjText.hpp"

namespace meshcodec {

class ObjLineFilter {
 public:
  // Empties input, which then receives what is kept.
  explicit ObjLineFilter(ObjInput& input);
  void take(std::string_view bytes);
  // The end of the stream.
  void finish();

 private:
  enum class State { ByteOrderMark, LineStart, AfterV, Keep, Skip };
  // A kept line begins, with this first byte.
  void keepLine(char keyword);

  ObjInput& input;
  State state = State::ByteOrderMark;
  int markBytes = 0;            // bytes of a byte order mark matched at the start
  bool carriageReturn = false;  // the last byte of a skipped line was a carriage return
  long long skippedRun = 0;     // lines skipped since the last kept one
};

}  // namespace meshcodec
