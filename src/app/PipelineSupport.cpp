#include "app/PipelineSupport.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <iterator>
#include <sstream>

#include "common/CodecError.hpp"
#include "connectivity/EdgeBreaker.hpp"
#include "entropy/BlockFormat.hpp"

namespace meshcodec {

void writeUint32(std::ostream& s, std::uint32_t value) {
  std::uint8_t bytes[4];
  putLE32(bytes, value);
  s.write(reinterpret_cast<const char*>(bytes), 4);
}

void writeInt32(std::ostream& s, std::int32_t value) { writeUint32(s, static_cast<std::uint32_t>(value)); }

void writeFloat(std::ostream& s, float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, 4);
  writeUint32(s, bits);
}

std::uint32_t uint32At(const std::uint8_t* bytes, std::size_t offset) { return getLE32(bytes + offset); }

std::int32_t int32At(const std::uint8_t* bytes, std::size_t offset) { return asInt32(uint32At(bytes, offset)); }

float floatAt(const std::uint8_t* bytes, std::size_t offset) {
  const std::uint32_t bits = uint32At(bytes, offset);
  float value;
  std::memcpy(&value, &bits, 4);
  return value;
}

std::stringstream makeCodeStream() {
  std::stringstream s(std::ios::in | std::ios::out | std::ios::binary);
  s.exceptions(std::ios::badbit);
  return s;
}

void requireEveryVertexUsed(const VertexOrder& order, long long vertexCount) {
  if (static_cast<long long>(order.size()) < vertexCount) {
    throw OutOfDomain("vertex " + std::to_string(order.size() + 1) + " (counted from 1) of " +
                      std::to_string(vertexCount) + " is used by no triangle");
  }
}

void requireDecodableConnectivity(std::iostream& s, std::int64_t start, int triangleCount) {
  s.seekg(start);
  try {
    EdgeBreaker::decode(triangleCount, s);
  } catch (const CorruptStream& e) {
    throw OutOfDomain(std::string("the connectivity would not decode: ") + e.what());
  }
}

std::string implausibleCounts(std::int32_t triangleCount, std::int32_t vertexCount) {
  if (triangleCount <= 0 || vertexCount <= 0) {
    return std::to_string(triangleCount) + " triangles and " + std::to_string(vertexCount) + " vertices";
  }
  if (vertexCount > triangleCount / 2 + 2) {
    return std::to_string(vertexCount) + " vertices cannot close " + std::to_string(triangleCount) + " triangles";
  }
  return "";
}

void requirePlausibleCounts(std::int32_t triangleCount, std::int32_t vertexCount, const std::string& what) {
  if (const std::string fault = implausibleCounts(triangleCount, vertexCount); !fault.empty()) {
    throw CorruptStream(what + ": " + fault);
  }
}

std::string implausibleAnimationHeader(std::uint32_t meshCount, std::int32_t frames, std::int32_t bases) {
  if (meshCount == 0) return "the file holds no mesh";
  const std::int64_t entries = 3 * std::int64_t{frames};
  if (frames < 2 || bases < 0 || bases > entries) {
    return std::to_string(frames) + " frames and " + std::to_string(bases) + " bases";
  }
  // No file holds such a mean block: refused here, before any block is read for it.
  if (entries > INT32_MAX) {
    return std::to_string(frames) + " frames exceed the " + std::to_string(INT32_MAX / 3) +
           " that the 32-bit count of the PCA mean can hold (3 entries a frame)";
  }
  return "";
}

void requireDecodedCounts(const TriangleList& tris, std::int32_t triangleCount, std::int32_t vertexCount) {
  unsigned maxVertex = 0;
  for (const auto& t : tris) maxVertex = std::max({maxVertex, t[0], t[1], t[2]});
  if (tris.size() != static_cast<std::size_t>(triangleCount) ||
      static_cast<std::int64_t>(maxVertex) + 1 != vertexCount) {
    throw CorruptStream("connectivity decodes to " + std::to_string(tris.size()) + " triangles over " +
                        std::to_string(std::int64_t{maxVertex} + 1) + " vertices; the header states " +
                        std::to_string(triangleCount) + " and " + std::to_string(vertexCount));
  }
}

namespace {

// Text that starts as OBJ lines start: a comment, or a keyword and a blank, after an
// optional UTF-8 byte order mark and blanks or empty lines. Any byte of a line may
// come from a UTF-8 name or comment, but no control character other than white space.
bool looksLikeObjText(const std::uint8_t* bytes, std::size_t size) {
  const auto isText = [](std::uint8_t c) { return c >= 0x20 ? c != 0x7F : c >= '\t' && c <= '\r'; };
  if (!std::all_of(bytes, bytes + size, isText)) return false;
  const std::string text(reinterpret_cast<const char*>(bytes), size);
  const std::size_t start = text.find_first_not_of(" \t\r\n", text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0);
  if (start == std::string::npos) return false;
  if (text[start] == '#') return true;
  const std::size_t end = text.find_first_of(" \t", start);
  if (end == std::string::npos) return false;
  static const char* const keywords[] = {"v", "vt", "vn", "vp", "f", "l", "p", "o", "g", "s", "mtllib", "usemtl"};
  const std::string word = text.substr(start, end - start);
  return std::any_of(std::begin(keywords), std::end(keywords), [&](const char* k) { return word == k; });
}

// The first four bytes of a static file hold its step, a positive float; those of an
// animation its mesh count, a small integer whose bits make a subnormal float.
constexpr std::uint32_t kSmallestNormalFloatBits = 0x00800000;
constexpr std::size_t kCountedHeaderBytes = 12;

bool looksLikeStaticHeader(const std::uint8_t* header, std::size_t size) {
  if (size < kCountedHeaderBytes) return false;
  const float q = floatAt(header, 0);
  return std::isnormal(q) && q > 0 && implausibleCounts(int32At(header, 4), int32At(header, 8)).empty();
}

// The coefficient step that follows these fields is not among the 12 bytes of a
// static header, so it is left out here.
bool looksLikeAnimationHeader(const std::uint8_t* header, std::size_t size) {
  if (size < kCountedHeaderBytes) return false;
  const std::uint32_t meshCount = uint32At(header, 0);
  return meshCount < kSmallestNormalFloatBits &&
         implausibleAnimationHeader(meshCount, int32At(header, 4), int32At(header, 8)).empty();
}

}  // namespace

void refuseCompressedFile(const CorruptStream& refusal, CompressedKind expected, const std::uint8_t* header,
                          std::size_t size, bool geometryReached, const std::string& file) {
  std::string reason = refusal.what();
  if (looksLikeObjText(header, size)) {
    reason += "; the file looks like OBJ text, not a compressed file";
  } else if (expected == CompressedKind::StaticMesh && looksLikeAnimationHeader(header, size)) {
    reason += "; the file looks like a compressed animation: use -dd";
  } else if (expected == CompressedKind::Animation && looksLikeStaticHeader(header, size)) {
    reason += "; the file looks like a compressed static mesh: use -d";
  } else if (geometryReached) {
    reason += "; a file decoded with another method number than it was encoded with fails like this";
  }
  throw CorruptStream(reason, refusal.namesFile() ? refusal.file() : file);
}

}  // namespace meshcodec
