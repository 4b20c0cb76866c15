#include "mesh/ObjLineFilter.hpp"

namespace meshcodec {

namespace {

const char kByteOrderMark[] = "\xEF\xBB\xBF";

}  // namespace

ObjLineFilter::ObjLineFilter(ObjInput& input) : input(input) {
  input.text.clear();
  input.skipped.clear();
  input.skippedLoneCarriageReturn = false;
}

void ObjLineFilter::keepLine() {
  if (skippedRun > 0) input.skipped.push_back({input.text.size(), skippedRun});
  skippedRun = 0;
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
  auto keepFromHere = [&] {
    keepLine();
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
        if (c == 'f' || (c == 'v' && i + 1 < bytes.size() && isBlank(bytes[i + 1]))) {
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
          keepLine();
          input.text += 'v';
          kept = i;
        } else {
          state = State::Skip;
        }
        break;
      case State::Keep: {
        const size_t end = bytes.find('\n', i);
        i = end == npos ? bytes.size() : end + 1;
        if (end != npos) state = State::LineStart;
        break;
      }
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
