#pragma once
// The line rules and number conversions of the OBJ subset, shared by every reader and
// writer of OBJ text (single meshes and animation frames), so that they all split,
// convert and format alike. Readers work on the file's vertex and face lines held in
// memory and report faults as values; the caller adds the file name and line number.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace meshcodec {

// Lines that a reader of a stream left out of the text it kept: `count` lines stood
// before byte `at` of that text.
struct SkippedLines {
  size_t at;
  long long count;
};

// The bytes that a reader keeps, appended at the end of one block that grows by
// realloc, for which the C library moves a large block's pages rather than copying
// them: a text kept piece by piece, of a size not known beforehand, then costs about
// what one block reserved at its final size does.
class KeptText {
 public:
  KeptText() = default;
  ~KeptText() { std::free(data_); }
  KeptText(const KeptText&) = delete;
  KeptText& operator=(const KeptText&) = delete;

  // std::bad_alloc when the block cannot grow, std::length_error beyond size_t.
  void append(const char* bytes, size_t count);
  // Empties the text and keeps the block, for the next file.
  void clear() { size_ = 0; }
  // Empties the text and frees the block.
  void release();
  // The text will hold at most this many bytes (a regular file's size), so the block
  // grows no further: one of exactly a file's size is what its text needs when every
  // line is kept. Beyond it, should the file grow meanwhile, growth doubles again.
  void expectAtMost(size_t bytes) { ceiling_ = bytes; }
  size_t size() const { return size_; }
  operator std::string_view() const { return {data_, size_}; }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  size_t ceiling_ = SIZE_MAX;
};

// An OBJ file as the readers take it: its vertex and face lines (without the blanks
// before them), with the other lines before each counted in `skipped`, in order of
// `at` (see ObjLineFilter), so that memory grows with the lines that are read, whatever
// the file's size or kind, and every kept line keeps its number. The readers make of
// it what they make of the whole file's text.
struct ObjInput {
  KeptText text;
  std::vector<SkippedLines> skipped;
  // A skipped line held a carriage return that no line feed follows.
  bool skippedLoneCarriageReturn = false;
  // The kept lines of each kind, counted as they were kept, which spares the readers
  // a pass over the text to size the mesh.
  long long vertexLines = 0;
  long long faceLines = 0;
};

// Replaces input by what is kept of the file, reusing its storage, so that a run of
// frame files is read without a fresh allocation per frame. The file is opened by
// openInput, so that a name of a descriptor is read through it. UnreadableInput naming
// the file when it cannot be opened or read; MalformedObj naming it at its first NUL
// byte, as binary files hold: it is not OBJ text. Nothing past that byte is read.
void readObjFile(const std::string& fileName, ObjInput& input);

// A blank separates the fields of vertex and face lines: a space or a tab.
inline bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The lines of text from byte start on, numbered after number; see forEachObjLine.
// False once a visit has asked to stop.
template <typename Visit>
bool forEachObjLineFrom(std::string_view text, size_t start, long long& number, Visit& visit) {
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    size_t first = start;
    while (first < end && isBlank(text[first])) ++first;
    const std::string_view line = text.substr(first, end - first);
    if constexpr (std::is_void_v<decltype(visit(line, number))>) {
      visit(line, ++number);
    } else if (!visit(line, ++number)) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

// Calls visit(line, lineNumber) for each line of text: a line ends at a line feed,
// which is not part of it (a carriage return before it is); a last line without a
// line feed is still a line; nothing follows a final line feed. Numbers start at 1,
// and the lines of `skipped` are counted where they stood but not visited.
// Blanks before a line's first other character are not part of the line, and a
// UTF-8 byte order mark at the start of text belongs to no line. A visit that returns
// false ends the walk.
template <typename Visit>
void forEachObjLine(std::string_view text, const std::vector<SkippedLines>& skipped, Visit&& visit) {
  long long number = 0;
  size_t start = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  for (const SkippedLines& run : skipped) {
    if (!forEachObjLineFrom(text.substr(0, run.at), start, number, visit)) return;
    start = std::max(start, run.at);
    number += run.count;
  }
  forEachObjLineFrom(text, start, number, visit);
}

template <typename Visit>
void forEachObjLine(std::string_view text, Visit&& visit) {
  forEachObjLine(text, {}, visit);
}

// At least two characters, 'v' then a blank.
inline bool isVertexLine(std::string_view line) {
  return line.size() >= 2 && line[0] == 'v' && isBlank(line[1]);
}

// Any line that starts with 'f'.
inline bool isFaceLine(std::string_view line) { return !line.empty() && line[0] == 'f'; }

enum class TextFault {
  None,
  MissingField,  // fewer blanks on the line than fields to take
  NoNumber,      // the field is not a number, or not wholly one
  OutOfRange,    // the number does not fit its type
  Negative,      // a face corner's index with a minus sign: a relative index
};

// The value that strtod gives on the same text (up to a NUL byte): leading white
// space, sign, decimal and hexadecimal forms, inf and nan, anything after the number
// ignored. A text without a number is NoNumber, and one beyond the largest double is
// OutOfRange; one below the smallest normal double is the subnormal or zero that
// strtod rounds it to, as the writer prints such values. Without a fault, *end (when
// given) is where the number ends.
TextFault toDouble(std::string_view text, double& value, size_t* end = nullptr);

// Same value and same fault as std::stoul(text, nullptr, 10): a '-' sign negates in
// unsigned arithmetic, as the C conversion does. *end as for toDouble.
TextFault toUnsignedLong(std::string_view text, unsigned long& value, size_t* end = nullptr);

struct LineFault {
  TextFault kind = TextFault::None;
  int field = 0;          // 0, 1 or 2: the coordinate or corner that failed
  std::string_view text;  // that field's text (empty for MissingField)
};

// False when text holds no tab: its lines may then be parsed with tabs = false,
// which spares the line parsers a test for a second blank character. Most files
// have no tab, and one search of the whole text costs less than one per line.
bool mayHoldTabs(std::string_view text);

// Any run of blanks separates two fields. Coordinate k's text runs from the last
// blank of the k-th run up to the next blank or the end of the line; that blank is
// leading white space of the conversion. The text must be wholly a number, white
// space after it aside (the carriage return of a CRLF line end): "0,25" and "1x" are
// NoNumber. A line whose blanks run to its end before the third field lacks it.
LineFault parseVertexLine(std::string_view line, double xyz[3], bool tabs = true);

// Fields are separated as on a vertex line. Corner k's text runs from the last blank
// of the k-th run up to the nearer of the next blank and the next slash, so
// index/texture/normal forms give their index; it must be wholly a number as a
// coordinate must, and one with a minus sign is Negative: relative indices are not
// resolved. Values are returned as written, counted from 1 and not yet checked
// against any vertex count.
LineFault parseFaceLine(std::string_view line, unsigned long corners[3], bool tabs = true);

// The reason text of a fault of a vertex line ("coordinate") or face line
// ("corner"), e.g. "face corner 2 is not a number: ' x'"; long texts are cut, control
// bytes inside the text are shown escaped (\r, \t, \x00), and a carriage return
// there adds loneCarriageReturnNote.
std::string describeLineFault(const LineFault& fault, bool faceLine);

// "; lines seem to end in a lone carriage return, ..." when text holds a carriage
// return that no line feed follows, otherwise "". The errors that a file of such
// line ends (one long line to these readers) runs into add it to their reason.
std::string loneCarriageReturnNote(std::string_view text);

// The same over a whole file of which a reader kept text and skipped lines as
// ObjInput tells.
std::string loneCarriageReturnNote(std::string_view text, bool skippedLoneCarriageReturn);

// What the readers accept as vertex coordinates: every number, or only finite ones
// for the encoders, which compute with the positions (reindexing only copies them).
enum class Coordinates { Any, Finite };

inline bool allFinite(const double xyz[3]) {
  return std::isfinite(xyz[0]) && std::isfinite(xyz[1]) && std::isfinite(xyz[2]);
}

// The reason text for a vertex line with an infinite or NaN coordinate, naming the
// first, e.g. "vertex coordinate 2 is not finite: nan".
std::string describeNonFinite(const double xyz[3]);

// Room that formatDouble may use, terminator not included.
constexpr int kMaxFormattedDouble = 24;

// Writes v as std::ostream writes a double by default (6 significant digits, the
// shorter of the fixed and exponent forms as %g chooses it, "-0", "nan", "-nan",
// "inf") and returns the end; nothing is terminated.
char* formatDouble(char* out, double v);

// v as formatDouble writes it, for the numbers that messages show: "0.01", "-1e+30".
std::string formatNumber(double v);

}  // namespace meshcodec
