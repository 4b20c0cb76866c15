#include "app/PipelineSupport.hpp"

#include <algorithm>
#include <cstring>
#include <iostream>
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

void requirePlausibleCounts(std::int32_t triangleCount, std::int32_t vertexCount, const std::string& what) {
  if (triangleCount <= 0 || vertexCount <= 0) {
    throw CorruptStream(what + ": " + std::to_string(triangleCount) + " triangles and " +
                        std::to_string(vertexCount) + " vertices");
  }
  if (vertexCount > triangleCount / 2 + 2) {
    throw CorruptStream(what + ": " + std::to_string(vertexCount) + " vertices cannot close " +
                        std::to_string(triangleCount) + " triangles");
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

}  // namespace meshcodec
