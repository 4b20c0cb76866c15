#include "mesh/ObjText.hpp"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

#if !MESHCODEC_HAVE_DOUBLE_FROM_CHARS
#include <locale.h>  // newlocale, locale_t
#include <stdlib.h>  // strtod_l
#ifdef __APPLE__
#include <xlocale.h>
#endif
#endif

#include "common/CodecError.hpp"
#include "common/InputFile.hpp"
#include "mesh/ObjLineFilter.hpp"

namespace meshcodec {

namespace {

// White space as the C locale's isspace sees it; the program never changes locale.
bool isCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

size_t skipCSpace(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && isCSpace(text[i])) ++i;
  return i;
}

// True when only white space follows the number that ends at used: the number is the
// whole field.
bool wholeField(std::string_view field, size_t used) {
  while (used < field.size() && isCSpace(field[used])) ++used;
  return used == field.size();
}

// True when a digit 1-9 stands before the exponent of the decimal number at
// [first, last): a zero result from such a text is an underflow.
bool hasNonZeroMantissa(const char* first, const char* last) {
  for (; first < last && *first != 'e' && *first != 'E'; ++first) {
    if (*first >= '1' && *first <= '9') return true;
  }
  return false;
}

#if !MESHCODEC_HAVE_DOUBLE_FROM_CHARS
// The "C" locale, whatever locale the process runs in: its decimal point is a full
// stop. Null when the C library cannot make one.
locale_t cLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return locale;
}
#endif

// Reads the plain decimal number (optional '-', digits with at most one point,
// optional exponent) that starts at first, correctly rounded to the nearest double.
// Returns where it ends, or nullptr when there is none or it is outside the range of
// double. Standard libraries without the floating-point from_chars (libc++ before
// LLVM 20) have the C library's strtod_l read it in the "C" locale, which gives the
// same doubles and stops at the same character.
const char* readDecimal(const char* first, const char* last, double& value) {
#if MESHCODEC_HAVE_DOUBLE_FROM_CHARS
  const auto result = std::from_chars(first, last, value, std::chars_format::general);
  return result.ec == std::errc() ? result.ptr : nullptr;
#else
  const locale_t locale = cLocale();
  if (!locale) return nullptr;
  // Such a number is made of these characters only; strtod_l needs a terminated copy
  // of their run, and reads the same number from it as from the whole text.
  const char* run = first;
  while (run < last && (isDigit(*run) || *run == '.' || *run == 'e' || *run == 'E' ||
                        *run == '+' || *run == '-')) {
    ++run;
  }
  const size_t length = static_cast<size_t>(run - first);
  char shortCopy[64];
  std::string longCopy;
  char* copy = shortCopy;
  if (length < sizeof shortCopy) {
    std::memcpy(shortCopy, first, length);
    shortCopy[length] = '\0';
  } else {
    longCopy.assign(first, length);
    copy = longCopy.data();
  }
  char* copyEnd = nullptr;
  errno = 0;
  value = strtod_l(copy, &copyEnd, locale);
  if (copyEnd == copy || errno == ERANGE) return nullptr;
  return first + (copyEnd - copy);
#endif
}

// Position of the first blank at or after from, or npos. Without tabs a blank is a
// space, and a search for one character costs a fraction of testing every
// character for either.
template <bool tabs>
size_t findBlank(std::string_view line, size_t from) {
  if constexpr (tabs) {
    while (from < line.size() && !isBlank(line[from])) ++from;
    return from < line.size() ? from : std::string_view::npos;
  } else {
    return line.find(' ', from);
  }
}

// A field's text that failed to convert is missing rather than malformed when only
// blanks follow its blank: the line ended before the field.
TextFault missingOr(TextFault fault, std::string_view line, size_t blank) {
  while (blank < line.size() && isBlank(line[blank])) ++blank;
  return blank == line.size() ? TextFault::MissingField : fault;
}

// The fields of v and f lines are separated by any run of blanks. The conversion
// skips leading white space itself, so a field may start at any blank of the run;
// it is taken from the last, so that the next blank found is the one after the
// field. A blank followed by another is rare, and only then is the run walked.

template <bool tabs>
LineFault parseVertexFields(std::string_view line, double xyz[3]) {
  constexpr size_t npos = std::string_view::npos;
  size_t p = findBlank<tabs>(line, 0);
  for (int k = 0; k < 3; ++k) {
    size_t start = p;
    if (start == npos) return {TextFault::MissingField, k, {}};
    p = findBlank<tabs>(line, start + 1);
    if (p == start + 1) {
      while (p < line.size() && isBlank(line[p])) start = p++;
      p = findBlank<tabs>(line, p);
    }
    const std::string_view text = line.substr(start, p == npos ? npos : p - start);
    size_t used = 0;
    TextFault fault = toDouble(text, xyz[k], &used);
    if (fault == TextFault::None && !wholeField(text, used)) fault = TextFault::NoNumber;
    if (fault != TextFault::None) {
      fault = missingOr(fault, line, start);
      return {fault, k, fault == TextFault::MissingField ? std::string_view() : text};
    }
  }
  return {};
}

template <bool tabs>
LineFault parseFaceFields(std::string_view line, unsigned long corners[3]) {
  constexpr size_t npos = std::string_view::npos;
  size_t blank = findBlank<tabs>(line, 0);
  // The first slash after the current blank, searched again only once the fields
  // have passed it: a line without slashes is searched once, not once per corner.
  size_t slash = 0;
  for (int k = 0; k < 3; ++k) {
    if (blank == npos) return {TextFault::MissingField, k, {}};
    size_t nextBlank = findBlank<tabs>(line, blank + 1);
    if (nextBlank == blank + 1) {
      while (nextBlank < line.size() && isBlank(line[nextBlank])) blank = nextBlank++;
      nextBlank = findBlank<tabs>(line, nextBlank);
    }
    if (slash != npos && slash <= blank) slash = line.find('/', blank + 1);
    const size_t end = std::min(nextBlank, slash);  // npos when neither exists
    const std::string_view text = line.substr(blank, end == npos ? npos : end - blank);
    size_t used = 0;
    TextFault fault = toUnsignedLong(text, corners[k], &used);
    if (fault == TextFault::None && !wholeField(text, used)) fault = TextFault::NoNumber;
    // The conversion negates in unsigned arithmetic, and a long enough negative index
    // would wrap around to a valid one. A converted index that does not start right
    // after its blank may have a sign; a negative one is named so whether or not it
    // fits an unsigned long, whose width differs between targets.
    if ((fault == TextFault::None || fault == TextFault::OutOfRange) && !isDigit(text[1])) {
      const size_t sign = skipCSpace(text);
      if (sign < text.size() && text[sign] == '-') fault = TextFault::Negative;
    }
    if (fault != TextFault::None) {
      fault = missingOr(fault, line, blank);
      return {fault, k, fault == TextFault::MissingField ? std::string_view() : text};
    }
    blank = nextBlank;
  }
  return {};
}

const char kLoneCarriageReturnNote[] =
    "; lines seem to end in a lone carriage return, which this reader does not take as a line end";

[[noreturn]] void refuseNul(const std::string& fileName, size_t at) {
  // No text file holds a NUL byte, and nearly every compressed or other binary file
  // soon does: such a file is not reported by whatever its bytes happen to look like.
  throw MalformedObj(
      "not OBJ text: byte " + std::to_string(at) + " is NUL, which no text file holds", fileName);
}

}  // namespace

void KeptText::append(const char* bytes, size_t count) {
  if (count == 0) return;
  if (count > capacity_ - size_) {
    if (count > SIZE_MAX - size_) throw std::length_error("KeptText::append");
    const size_t needed = size_ + count;
    if (needed > ceiling_) ceiling_ = SIZE_MAX;
    // Doubling keeps the number of moves logarithmic; 64 KiB spares the first ones.
    const size_t grown = capacity_ > SIZE_MAX / 2 ? SIZE_MAX : std::max<size_t>(2 * capacity_, size_t{1} << 16);
    const size_t capacity = std::max(needed, std::min(grown, ceiling_));
    char* const data = static_cast<char*>(std::realloc(data_, capacity));
    if (data == nullptr) throw std::bad_alloc();
    data_ = data;
    capacity_ = capacity;
  }
  std::memcpy(data_ + size_, bytes, count);
  size_ += count;
}

void KeptText::release() {
  std::free(data_);
  data_ = nullptr;
  size_ = capacity_ = 0;
}

void readObjFile(const std::string& fileName, ObjInput& input) {
  const int descriptor = openInput(fileName);
  if (descriptor < 0) throw UnreadableInput(systemReason("cannot open for reading", errno), fileName);
  struct Closer {
    int descriptor;
    ~Closer() { ::close(descriptor); }
  } closer{descriptor};
  // Whatever the kind of file, its lines are classified as they arrive and only those
  // that are read are kept, so that memory follows the vertex and face lines: a
  // regular file may hold mostly other lines, or more bytes than memory, as a stream
  // may. Its size only bounds the text.
  ObjLineFilter filter(input);
  struct stat status;
  const bool regular = fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
  input.text.expectAtMost(regular && static_cast<std::uintmax_t>(status.st_size) < SIZE_MAX
                              ? static_cast<size_t>(status.st_size)
                              : SIZE_MAX);
  char chunk[1 << 16];
  size_t total = 0;
  try {
    for (;;) {
      const ssize_t n = readInput(descriptor, chunk, sizeof chunk);
      // A directory opens on this platform and fails on the first read.
      if (n < 0) throw UnreadableInput(systemReason("cannot read", errno), fileName);
      if (n == 0) break;
      const size_t got = static_cast<size_t>(n);
      // The NUL byte is looked for in each chunk while it is still in the cache: a
      // second pass over the whole text would cost a few percent of reading it.
      if (const void* nul = std::memchr(chunk, 0, got)) {
        input.text.release();
        refuseNul(fileName, total + static_cast<size_t>(static_cast<const char*>(nul) - chunk));
      }
      total += got;
      filter.take(std::string_view(chunk, got));
    }
  } catch (const std::bad_alloc&) {
    // More vertex and face lines than fit; what was read goes before the error is built.
    input.text.release();
    std::vector<SkippedLines>().swap(input.skipped);
    throw OutOfMemory(fileName);
  } catch (const std::length_error&) {
    // More than a size_t counts, which a 32-bit target reaches.
    input.text.release();
    std::vector<SkippedLines>().swap(input.skipped);
    throw OutOfMemory(fileName);
  }
  filter.finish();
}

TextFault toDouble(std::string_view text, double& value, size_t* end) {
  // Fast path for plain decimal numbers (optional '-', digits, point, exponent): the
  // correctly rounded result of readDecimal is strtod's as long as it lies strictly
  // inside the normal range. Everything else (a '+' sign, hexadecimal, inf, nan,
  // results near the range limits, no number) is left to strtod itself.
  const size_t begin = skipCSpace(text);
  const char* first = text.data() + begin;
  const char* last = text.data() + text.size();
  const char* body = (first < last && *first == '-') ? first + 1 : first;
  const bool plain = body < last && (isDigit(*body) || *body == '.') &&
                     !(*body == '0' && body + 1 < last && (body[1] == 'x' || body[1] == 'X'));
  if (plain) {
    double v;
    if (const char* numberEnd = readDecimal(first, last, v)) {
      const double magnitude = std::fabs(v);
      if ((magnitude > DBL_MIN && magnitude < DBL_MAX) ||
          (v == 0.0 && !hasNonZeroMantissa(first, numberEnd))) {
        value = v;
        if (end) *end = static_cast<size_t>(numberEnd - text.data());
        return TextFault::None;
      }
    }
  }
  const std::string copy(text);  // terminated, and cut at a NUL as std::stod cuts it
  char* numberEnd = nullptr;
  errno = 0;
  const double v = std::strtod(copy.c_str(), &numberEnd);
  if (numberEnd == copy.c_str()) return TextFault::NoNumber;
  // strtod reports both ends of the range alike. An underflow keeps the subnormal or
  // zero that it gives, as the writer prints such values and must read them back;
  // only a number beyond the largest double, given as an infinity, is refused.
  if (errno == ERANGE && std::isinf(v)) return TextFault::OutOfRange;
  value = v;
  if (end) *end = static_cast<size_t>(numberEnd - copy.c_str());
  return TextFault::None;
}

TextFault toUnsignedLong(std::string_view text, unsigned long& value, size_t* end) {
  size_t i = skipCSpace(text);
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size() || !isDigit(text[i])) return TextFault::NoNumber;
  unsigned long v = 0;
  bool overflow = false;
  for (; i < text.size() && isDigit(text[i]); ++i) {
    const unsigned long digit = static_cast<unsigned long>(text[i] - '0');
    if (v > (ULONG_MAX - digit) / 10) overflow = true;  // keep consuming digits
    else v = v * 10 + digit;
  }
  if (overflow) return TextFault::OutOfRange;
  value = negative ? 0ul - v : v;
  if (end) *end = i;
  return TextFault::None;
}

bool mayHoldTabs(std::string_view text) { return text.find('\t') != std::string_view::npos; }

LineFault parseVertexLine(std::string_view line, double xyz[3], bool tabs) {
  return tabs ? parseVertexFields<true>(line, xyz) : parseVertexFields<false>(line, xyz);
}

LineFault parseFaceLine(std::string_view line, unsigned long corners[3], bool tabs) {
  return tabs ? parseFaceFields<true>(line, corners) : parseFaceFields<false>(line, corners);
}

std::string describeLineFault(const LineFault& fault, bool faceLine) {
  const std::string what = faceLine ? "face corner " : "vertex coordinate ";
  if (fault.kind == TextFault::MissingField) {
    return faceLine ? "face line has fewer than three corners"
                    : "vertex line has fewer than three coordinates";
  }
  constexpr size_t kShown = 40;
  // The carriage return of a CRLF line end is left out. Control bytes inside the text
  // are shown escaped: printed as they are, a carriage return would move the rest of
  // the message over its start, and a NUL would end the message's C string there.
  std::string_view text = fault.text;
  while (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  std::string shown;
  for (const char c : text.substr(0, kShown)) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '\r') {
      shown += "\\r";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (u < 0x20 || u == 0x7f) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", u);
      shown += hex;
    } else {
      shown += c;
    }
  }
  if (text.size() > kShown) shown += "...";
  const char* problem = fault.kind == TextFault::NoNumber ? " is not a number: '"
                        : fault.kind == TextFault::Negative
                            ? " is a negative index; relative indices are not read: '"
                            : " is out of range: '";
  return what + std::to_string(fault.field + 1) + problem + shown + "'" +
         loneCarriageReturnNote(text);
}

std::string loneCarriageReturnNote(std::string_view text) {
  for (size_t cr = text.find('\r'); cr != std::string_view::npos; cr = text.find('\r', cr + 1)) {
    if (cr + 1 == text.size() || text[cr + 1] != '\n') return kLoneCarriageReturnNote;
  }
  return "";
}

std::string loneCarriageReturnNote(std::string_view text, bool skippedLoneCarriageReturn) {
  return skippedLoneCarriageReturn ? kLoneCarriageReturnNote : loneCarriageReturnNote(text);
}

std::string describeNonFinite(const double xyz[3]) {
  int k = 0;
  while (k < 2 && std::isfinite(xyz[k])) ++k;
  return "vertex coordinate " + std::to_string(k + 1) + " is not finite: " + formatNumber(xyz[k]);
}

char* formatDouble(char* out, double v) {
  // Infinities and NaNs are written by their sign alone, as printf writes them: some
  // libraries' to_chars also names the kind of NaN ("-nan(ind)", "nan(snan)").
  if (!std::isfinite(v)) {
    const char* text = std::isnan(v) ? (std::signbit(v) ? "-nan" : "nan") : (v < 0 ? "-inf" : "inf");
    const size_t length = std::strlen(text);
    std::memcpy(out, text, length);
    return out + length;
  }
  // std::to_chars with a precision is defined as printf's %.*g in the C locale,
  // which is what std::ostream's default double output produces; it is several
  // times faster than going through a stream or snprintf.
  return std::to_chars(out, out + kMaxFormattedDouble, v, std::chars_format::general, 6).ptr;
}

std::string formatNumber(double v) {
  char text[kMaxFormattedDouble];
  return std::string(text, formatDouble(text, v));
}

}  // namespace meshcodec
