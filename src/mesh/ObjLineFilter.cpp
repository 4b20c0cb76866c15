#include "mesh/ObjLineFilter.hpp"

namespace meshcodec {

namespace {

const char kByteOrderMark[] = "\xEF\xBB\xBF";

}  // namespace

ObjLineFilter::ObjLineFilter(ObjInput& input) : input(input) {
  input.text.clear();
  input.skipped.clear();
  input.skippedLoneCarriageReturn = false;
  input.vertexLines = input.faceLines = 0;
}

void ObjLineFilter::keepLine(char keyword) {
  if (skippedRun > 0) input.skipped.push_back({input.text.size(), skippedRun});
  skippedRun = 0;
  ++(keyword == 'f' ? input.faceLines : input.vertexLines);
  state = State::Keep;
}

void ObjLineFilter::take(std::string_view bytes) {
  constexpr size_t npos = std::string_view::npos;
  // Kept lines that follow one another in the piece are appended in one go, from
  // `kept` up to the first byte that is not kept or the piece's end.
  size_t i = 0, kept = state == State::Keep ? 0 : npos;
  auto appendKept = [&] {
    if (kept != npos) input.text.append(bytes.data() + kept, i - kept);
    kept = npos;
  };
  // A line that starts at `at` is kept: its first bytes, in this piece, say so.
  auto keptLineAt = [&](size_t at) {
    return bytes[at] == 'f' || (bytes[at] == 'v' && at + 1 < bytes.size() && isBlank(bytes[at + 1]));
  };
  auto keepFromHere = [&] {
    keepLine(bytes[i]);
    if (kept == npos) kept = i;
  };
  while (i < bytes.size()) {
    const char c = bytes[i];
    switch (state) {
      case State::ByteOrderMark:
        if (c == kByteOrderMark[markBytes]) {
          ++i;
          if (++markBytes == 3) state = State::LineStart;
        } else {
          // The part of a mark already seen starts the first line, with a byte that
          // is neither a blank nor a keyword.
          state = markBytes > 0 ? State::Skip : State::LineStart;
        }
        break;
      case State::LineStart:
        if (keptLineAt(i)) {
          keepFromHere();
          break;
        }
        appendKept();
        if (isBlank(c)) {
          ++i;
        } else if (c == 'v' && i + 1 == bytes.size()) {
          // The next piece's first byte decides.
          state = State::AfterV;
          ++i;
        } else {
          state = State::Skip;
        }
        break;
      case State::AfterV:
        if (isBlank(c)) {
          keepLine('v');
          input.text.append("v", 1);
          kept = i;
        } else {
          state = State::Skip;
        }
        break;
      case State::Keep:
        // Nearly every line of a mesh is kept: the next line continues the run here,
        // without a turn through the states, when it surely is kept too.
        for (;;) {
          const size_t end = bytes.find('\n', i);
          if (end == npos) {
            i = bytes.size();
            break;
          }
          i = end + 1;
          if (i == bytes.size() || !keptLineAt(i)) {
            state = State::LineStart;
            break;
          }
          ++(bytes[i] == 'f' ? input.faceLines : input.vertexLines);
        }
        break;
      case State::Skip: {
        // The line is dropped, but a carriage return in it still tells how the file's
        // lines seem to end: one that another byte of the line follows is lone.
        const size_t end = bytes.find('\n', i);
        const std::string_view part = bytes.substr(i, end == npos ? end : end - i);
        if (!part.empty()) {
          const size_t cr = part.find('\r');
          if (carriageReturn || (cr != npos && cr + 1 < part.size())) input.skippedLoneCarriageReturn = true;
          carriageReturn = part.back() == '\r';
        }
        i += part.size();
        if (end != npos) {
          ++i;
          ++skippedRun;
          carriageReturn = false;
          state = State::LineStart;
        }
        break;
      }
    }
  }
  appendKept();
}

void ObjLineFilter::finish() {
  // Lines after the last kept one are numbered by nothing; a carriage return that
  // ends the stream is lone.
  if (carriageReturn) input.skippedLoneCarriageReturn = true;
  carriageReturn = false;
}

}  // namespace meshcodec
