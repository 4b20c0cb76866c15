#pragma once
// What the static and the animated commands share around their coders: the raw
// little-endian fields of the container headers and the checks that tie a mesh or a
// file to what its connectivity can carry.

#include <cstdint>
#include <sstream>
#include <string>

#include "mesh/MeshTypes.hpp"

namespace meshcodec {

void writeInt32(std::ostream& s, std::int32_t value);
void writeUint32(std::ostream& s, std::uint32_t value);
void writeFloat(std::ostream& s, float value);

// Little-endian fields at a byte offset of header bytes read from a file; the caller
// has checked that the four bytes are there.
std::uint32_t uint32At(const std::uint8_t* bytes, std::size_t offset);
std::int32_t int32At(const std::uint8_t* bytes, std::size_t offset);
float floatAt(const std::uint8_t* bytes, std::size_t offset);

// An empty in-memory stream for a coded file. A stream catches an allocation failure
// of its buffer and only marks itself bad, which would leave a truncated file; this
// one lets std::bad_alloc escape.
std::stringstream makeCodeStream();

// The connectivity coder numbers only the vertices that triangles use, so a mesh with
// vertices beyond the highest used index cannot be carried (OutOfDomain).
void requireEveryVertexUsed(const VertexOrder& order, long long vertexCount);

// The connectivity decoder bounds its work per corner so that a forged file cannot
// keep it busy for hours; a valid but extremely irregular mesh could exceed that
// bound. Decoding the sub-stream that starts at `start` once, as the decoder will,
// turns that rare case into a refusal (OutOfDomain) instead of a file that cannot be
// read back. Leaves the read position after the sub-stream.
void requireDecodableConnectivity(std::iostream& s, std::int64_t start, int triangleCount);

// Triangle and vertex counts from a header, checked before anything is sized by them:
// both positive, and no more vertices than a closed mesh of that many triangles has
// (V = T / 2 + 2 - 2 genus). CorruptStream naming `what` otherwise.
void requirePlausibleCounts(std::int32_t triangleCount, std::int32_t vertexCount, const std::string& what);

// Why the first fields of an animation header cannot be, or empty: at least one mesh
// and two frames, 0 to 3F bases, and 3F within the 32-bit count of the PCA mean.
std::string implausibleAnimationHeader(std::uint32_t meshCount, std::int32_t frames, std::int32_t bases);

// The decoded connectivity must have the header's triangle and vertex counts.
void requireDecodedCounts(const TriangleList& tris, std::int32_t triangleCount, std::int32_t vertexCount);

}  // namespace meshcodec
