// The OBJ conversions must agree with strtod, std::stoul and the default double
// output of a stream on every text and value, not only on typical ones.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <utility>
#include <vector>

#include "mesh/ObjLineFilter.hpp"
#include "mesh/ObjText.hpp"

namespace meshcodec {
namespace {

template <typename Convert>
TextFault reference(const std::string& text, Convert convert) {
  try {
    convert(text);
    return TextFault::None;
  } catch (const std::invalid_argument&) {
    return TextFault::NoNumber;
  } catch (const std::out_of_range&) {
    return TextFault::OutOfRange;
  }
}

// strtod's value and end; of its range errors only an overflow is a fault: an
// underflow is read as the subnormal or zero that it gives.
TextFault viaStrtod(const std::string& text, double& value, size_t& end) {
  char* stop = nullptr;
  errno = 0;
  value = std::strtod(text.c_str(), &stop);
  end = static_cast<size_t>(stop - text.c_str());
  if (end == 0) return TextFault::NoNumber;
  return errno == ERANGE && std::isinf(value) ? TextFault::OutOfRange : TextFault::None;
}

// The readers take a field as wholly a number from where the conversion stopped.
void expectSameAsStrtod(const std::string& text) {
  double expected = 0, actual = 0;
  size_t expectedEnd = 0, actualEnd = 0;
  const TextFault want = viaStrtod(text, expected, expectedEnd);
  ASSERT_EQ(toDouble(text, actual, &actualEnd), want) << "'" << text << "'";
  if (want != TextFault::None) return;
  EXPECT_EQ(actualEnd, expectedEnd) << "'" << text << "'";
  if (std::isnan(expected)) {
    EXPECT_TRUE(std::isnan(actual)) << "'" << text << "'";
    EXPECT_EQ(std::signbit(actual), std::signbit(expected)) << "'" << text << "'";
  } else {
    EXPECT_EQ(std::memcmp(&actual, &expected, sizeof actual), 0) << "'" << text << "' " << actual;
  }
}

void expectSameAsStoul(const std::string& text) {
  unsigned long expected = 0, actual = 0;
  size_t expectedEnd = 0, actualEnd = 0;
  const TextFault want =
      reference(text, [&](const std::string& t) { expected = std::stoul(t, &expectedEnd, 10); });
  ASSERT_EQ(toUnsignedLong(text, actual, &actualEnd), want) << "'" << text << "'";
  if (want == TextFault::None) {
    EXPECT_EQ(actual, expected) << "'" << text << "'";
    EXPECT_EQ(actualEnd, expectedEnd) << "'" << text << "'";
  }
}

// Random texts over the characters that matter to either conversion, NUL included.
std::string randomText(std::mt19937& rng, const std::string& alphabet, int maxLength) {
  std::string text(std::uniform_int_distribution<int>(0, maxLength)(rng), ' ');
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  for (char& c : text) c = alphabet[pick(rng)];
  return text;
}

TEST(ObjText, DoubleConversionMatchesStrtod) {
  for (const char* text :
       {" 1.5", " ", "", "0x1p3", " -0", "+.5e1x", "\t\r7", "nan(1)", "-inf", "1e309", "1e-310",
        "2.2250738585072011e-308", "2.2250738585072014e-308", "1.7976931348623157e308",
        "1.7976931348623159e308", "0e-999", "1e-999", "00000.00000e99999", "1,5", "1e", ".",
        "-.", "-", "0x", "1.2.3", "4.9e-324", " 12345678901234567890123456789e-10", " 2.22507e-308",
        "-1e-400", "0x1p-1074", "-0x1p1024"}) {
    expectSameAsStrtod(text);
  }
  std::mt19937 rng(7);
  const std::string alphabet = std::string(" \t\r\v\f\n+-.0123456789eExXpPinfatyINF()_,/") + '\0';
  for (int i = 0; i < 200000; ++i) expectSameAsStrtod(randomText(rng, alphabet, 12));
  // Well-formed numbers across the whole exponent range, edges included.
  std::uniform_int_distribution<int> exponent(-340, 320), digit(0, 9);
  for (int i = 0; i < 100000; ++i) {
    std::string text = (i % 2 ? " -" : " ") + std::to_string(digit(rng)) + ".";
    for (int d = digit(rng) + digit(rng); d > 0; --d) text += char('0' + digit(rng));
    expectSameAsStrtod(text + "e" + std::to_string(exponent(rng)));
  }
}

TEST(ObjText, IndexConversionMatchesStoul) {
  for (const char* text : {" 1", "-1", "+7", "-0", " 18446744073709551615",
                           "18446744073709551616", "-18446744073709551616", "1/2", "0x10", "", "-",
                           "\t 42abc", "+-1"}) {
    expectSameAsStoul(text);
  }
  std::mt19937 rng(11);
  const std::string alphabet = std::string(" \t\r+-/x0123456789999") + '\0';
  for (int i = 0; i < 100000; ++i) expectSameAsStoul(randomText(rng, alphabet, 24));
}

std::string viaStream(double v) {
  std::ostringstream os;
  os << v;
  return os.str();
}

std::string viaFormatter(double v) {
  char buffer[kMaxFormattedDouble];
  return std::string(buffer, formatDouble(buffer, v));
}

TEST(ObjText, FormattingMatchesTheStreamDefault) {
  using limits = std::numeric_limits<double>;
  std::vector<double> values = {0.0, -0.0, 1e-5, 1.2e-5, 1e20, 1.5e6, 2.0 / 3.0, 0.1, 100, -7,
                                limits::quiet_NaN(), -limits::quiet_NaN(), limits::infinity(),
                                -limits::infinity(), limits::denorm_min(), -limits::denorm_min(),
                                limits::min(), limits::max(), limits::lowest(), 123456.5, 1234565,
                                999999.5, 9999995, 0.0001, 0.00009999995, 1e-4 - 1e-20};
  // Around every power of ten, where the choice between fixed and exponent form and
  // the rounding carry change.
  for (int e = -320; e <= 308; ++e) {
    for (const double base : {1.0, 9.999995, 9.9999949, 5.0}) {
      const double v = base * std::pow(10.0, e);
      values.insert(values.end(), {v, std::nextafter(v, 0.0), std::nextafter(v, limits::max())});
    }
  }
  std::mt19937_64 rng(3);
  for (int i = 0; i < 300000; ++i) {
    double v;
    const uint64_t bits = rng();
    std::memcpy(&v, &bits, sizeof v);
    values.push_back(v);
  }
  std::uniform_real_distribution<double> uniform(-1000, 1000);
  for (int i = 0; i < 100000; ++i) values.push_back(std::round(uniform(rng) * 1e4) / 1e4);
  for (const double v : values) ASSERT_EQ(viaFormatter(v), viaStream(v)) << std::hexfloat << v;
  // Special values by their sign alone, whatever a library's to_chars would add.
  const std::pair<double, const char*> special[] = {{limits::quiet_NaN(), "nan"},
      {-limits::quiet_NaN(), "-nan"}, {limits::signaling_NaN(), "nan"}, {-limits::infinity(), "-inf"}};
  for (const auto& [v, text] : special) EXPECT_EQ(viaFormatter(v), text);
}

// What a file's reader keeps, given the file in pieces of any size, must be read as
// the whole text is: the same vertex and face lines under the same numbers and counts,
// no other line, and the same note on carriage returns.
TEST(ObjText, LineFilterKeepsWhatTheReadersReadUnderTheSameNumbers) {
  using Lines = std::vector<std::pair<std::string, long long>>;
  std::mt19937 rng(5);
  const std::string alphabet = " \t\r\n\n\nvvff1x\xEF\xBB\xBF";
  for (int i = 0; i < 100000; ++i) {
    std::string text = randomText(rng, alphabet, 24);
    if (i % 4 == 0) text = "\xEF\xBB\xBF" + text;
    Lines expected, kept;
    long long vertexLines = 0, faceLines = 0;
    forEachObjLine(text, [&](std::string_view line, long long number) {
      if (isVertexLine(line) || isFaceLine(line)) expected.emplace_back(line, number);
      vertexLines += isVertexLine(line);
      faceLines += isFaceLine(line);
    });
    ObjInput input;
    ObjLineFilter filter(input);
    for (size_t at = 0; at < text.size();) {
      const size_t piece = std::uniform_int_distribution<size_t>(1, 4)(rng);
      filter.take(std::string_view(text).substr(at, piece));
      at += piece;
    }
    filter.finish();
    forEachObjLine(input.text, input.skipped, [&](std::string_view line, long long number) {
      kept.emplace_back(line, number);
    });
    ASSERT_EQ(kept, expected) << "'" << text << "'";
    ASSERT_EQ(input.vertexLines, vertexLines) << "'" << text << "'";
    ASSERT_EQ(input.faceLines, faceLines) << "'" << text << "'";
    ASSERT_EQ(loneCarriageReturnNote(input.text, input.skippedLoneCarriageReturn), loneCarriageReturnNote(text))
        << "'" << text << "'";
  }
}

}  // namespace
}  // namespace meshcodec
