#pragma once
// What the static and the animated commands share around their coders: the raw
// little-endian fields of the container headers and the checks that tie a mesh or a
// file to what its connectivity can carry.

#include <cstdint>
#include <sstream>
#include <string>

#include "common/CodecError.hpp"
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

// Why triangle and vertex counts from a header cannot be, or empty: both must be
// positive, with no more vertices than a closed mesh of that many triangles has
// (V = T / 2 + 2 - 2 genus).
std::string implausibleCounts(std::int32_t triangleCount, std::int32_t vertexCount);

// The counts checked before anything is sized by them: CorruptStream naming `what`
// when implausibleCounts finds them wrong.
void requirePlausibleCounts(std::int32_t triangleCount, std::int32_t vertexCount, const std::string& what);

// Why the first fields of an animation header cannot be, or empty: at least one mesh
// and two frames, 0 to 3F bases, and 3F within the 32-bit count of the PCA mean.
std::string implausibleAnimationHeader(std::uint32_t meshCount, std::int32_t frames, std::int32_t bases);

// The decoded connectivity must have the header's triangle and vertex counts.
void requireDecodedCounts(const TriangleList& tris, std::int32_t triangleCount, std::int32_t vertexCount);

// The two kinds of compressed file, which nothing in a file tells apart.
enum class CompressedKind { StaticMesh, Animation };

// Rethrows `refusal`, raised while decoding a file of the `expected` kind, naming
// `file`. Since a file records neither its kind nor its method, easy mistakes end in
// faults deep in a sub-stream; the reason is followed by the likely mistake where the
// header bytes read (`size` of them) show one: OBJ text, a file of the other kind, or,
// once decoding has reached the geometry, another method number than the encoder's.
[[noreturn]] void refuseCompressedFile(const CorruptStream& refusal, CompressedKind expected,
                                       const std::uint8_t* header, std::size_t size, bool geometryReached,
                                       const std::string& file);

}  // namespace meshcodec
