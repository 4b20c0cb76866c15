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
  size_t i = 0;
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
        if (isBlank(c)) {
          ++i;
        } else if (c == 'f') {
          keepLine();
        } else if (c == 'v') {
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
        } else {
          state = State::Skip;
        }
        break;
      case State::Keep: {
        const size_t end = bytes.find('\n', i);
        const size_t stop = end == std::string_view::npos ? bytes.size() : end + 1;
        input.text.append(bytes.data() + i, stop - i);
        i = stop;
        if (end != std::string_view::npos) state = State::LineStart;
        break;
      }
      case State::Skip: {
        // The line is dropped, but a carriage return in it still tells how the file's
        // lines seem to end: one that another byte of the line follows is lone.
        const size_t end = bytes.find('\n', i);
        const std::string_view part = bytes.substr(i, end == std::string_view::npos ? end : end - i);
        if (!part.empty()) {
          const size_t cr = part.find('\r');
          if (carriageReturn || (cr != std::string_view::npos && cr + 1 < part.size())) {
            input.skippedLoneCarriageReturn = true;
          }
          carriageReturn = part.back() == '\r';
        }
        i += part.size();
        if (end != std::string_view::npos) {
          ++i;
          ++skippedRun;
          carriageReturn = false;
          state = State::LineStart;
        }
        break;
      }
    }
  }
}

void ObjLineFilter::finish() {
  // Lines after the last kept one are numbered by nothing; a carriage return that
  // ends the stream is lone.
  if (carriageReturn) input.skippedLoneCarriageReturn = true;
  carriageReturn = false;
}

}  // namespace meshcodec
