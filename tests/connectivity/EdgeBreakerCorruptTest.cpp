// Sub-streams no encoder writes: each is refused as corrupt, and none makes the
// decoder read or write outside its tables (the sanitizer build watches that).
#include <gtest/gtest.h>

#include <sstream>

#include "common/CodecError.hpp"
#include "connectivity/Clers.hpp"
#include "connectivity/EdgeBreaker.hpp"
#include "entropy/ArithCoder.hpp"
#include "support/MeshGenerators.hpp"
#include "TriangleSets.hpp"

namespace meshcodec::testing {
namespace {

std::vector<int> symbols(const std::string& letters) {
  std::vector<int> out;
  for (char letter : letters) out.push_back(static_cast<int>(std::string("CRLES").find(letter)));
  return out;
}

std::vector<int> repeated(const std::string& letters, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += letters;
  return symbols(out);
}

std::string substream(const TriangleList& tris) {
  std::stringstream stream;
  EdgeBreaker::encode(tris, stream);
  return stream.str();
}

// Decodes bytes as a sub-stream. A result that is returned must at least be a
// triangle list over the vertices 0 .. 3T.
void decodeOrRefuse(const std::string& bytes) {
  std::stringstream stream(bytes);
  try {
    const TriangleList tris = EdgeBreaker::decode(0, stream);
    for (const auto& t : tris)
      for (unsigned corner : t) ASSERT_LT(corner, 3 * tris.size());
  } catch (const CorruptStream&) {
  }
}

struct CorruptCase {
  const char* name;
  std::vector<int> clers;
  std::vector<int> handles;
  const char* reason;
};

TEST(EdgeBreakerCorrupt, ListsThatNoEncoderWrites) {
  const CorruptCase cases[] = {
      {"no symbols", {}, {}, "the walk needs more than the 0 symbols"},
      {"symbol above S", {CLERS::C, 5, CLERS::E}, {}, "symbol 5 at position 1 is not one of C, R, L, E, S"},
      {"negative symbol", {CLERS::C, CLERS::R, -1}, {}, "symbol -1 at position 2"},
      {"no closing E", symbols("CR"), {}, "the walk needs more than the 2 symbols in the stream"},
      {"symbols after the end", symbols("CREC"), {}, "the walk ended after 3 of 4 symbols"},
      {"odd handle list", symbols("CRE"), {5}, "handle list of odd length 1"},
      {"handle corner too large", symbols("CRE"), {5, 12}, "handle corner 12 out of range (4 triangles)"},
      {"negative handle corner", symbols("CRE"), {-7, 5}, "handle corner -7 out of range"},
      {"handle pair never met", symbols("RRLCRRE"), {19, 8}, "the walk used 0 of 1 handle pairs"},
      {"fan that cycles", symbols("RRLRRRRS"), {1, 0}, "the fan around corner 11 never closes"},
      {"tip never resolved", symbols("RRLE"), {}, "corner 3 never received a vertex"},
      {"open surface", symbols("CSLRRCCRRRERCE"), {44, 35, 19, 44},
       "the edge opposite corner 1 is left open: the stream does not describe a closed surface"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    try {
      EdgeBreaker decoder;
      decoder.decompress(k.clers, k.handles);
      ADD_FAILURE() << "accepted";
    } catch (const CorruptStream& e) {
      EXPECT_NE(std::string(e.what()).find(k.reason), std::string::npos) << e.what();
    }
  }
}

TEST(EdgeBreakerCorrupt, QuadraticZippingIsCutShort) {
  // Every zip of this stream circles the same growing fan; unchecked, its cost grows
  // with the square of its length. It is refused after a bounded number of steps.
  std::vector<int> clers = repeated("CS", 12000);
  const std::vector<int> tail = repeated("CE", 12000);
  clers.insert(clers.end(), tail.begin(), tail.end());
  clers.push_back(CLERS::E);
  EdgeBreaker decoder;
  try {
    decoder.decompress(clers, {});
    ADD_FAILURE() << "accepted";
  } catch (const CorruptStream& e) {
    EXPECT_NE(std::string(e.what()).find("steps around fans"), std::string::npos) << e.what();
  }
}

TEST(EdgeBreakerCorrupt, RandomListsAreDecodedOrRefused) {
  int decoded = 0;
  for (uint64_t seed = 0; seed < 20000; ++seed) {
    TestRandom random(seed);
    auto symbol = [&random]() {
      const uint32_t roll = random.below(100);
      if (roll < 2) return -1 - static_cast<int>(random.below(3));  // below C
      if (roll < 4) return CLERS::S + 1 + static_cast<int>(random.below(3));
      return static_cast<int>(random.below(5));
    };
    std::vector<int> clers(3 + random.below(40));
    for (auto& s : clers) s = symbol();
    std::vector<int> handles(2 * random.below(3) + (random.below(40) == 0));  // odd now and then
    for (auto& corner : handles) corner = static_cast<int>(random.below(3 * static_cast<uint32_t>(clers.size()) + 6));
    try {
      EdgeBreaker decoder;
      const CornerTable table = decoder.decompress(clers, handles);
      ++decoded;
      for (int c = 0; c < 3 * table.triSize(); ++c) ASSERT_LE(table.v(c), table.vmax());
    } catch (const CorruptStream&) {
    }
  }
  EXPECT_GT(decoded, 0);  // some random lists are genuine
}

TEST(EdgeBreakerCorrupt, BlocksCarryingImpossibleLists) {
  struct BlockCase {
    const char* name;
    std::vector<int> clers, handles;
    const char* reason;
    int triangles = 0;  // as a header states them
  };
  const BlockCase cases[] = {
      {"symbol 7", {CLERS::C, 7, CLERS::E}, {}, "symbol 7 at position 1"},
      {"odd handle block", symbols("CRE"), {5}, "handle list of odd length 1"},
      {"corner beyond the triangles", symbols("CRE"), {2, 912}, "handle corner 912 out of range (4 triangles)"},
      {"more handles than the triangles can have", symbols("CRE"), std::vector<int>(14, 2),
       "handle block: 14 handle entries, more than the 12 that 4 triangles can have", 4},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    std::stringstream stream;
    ArithCoder coder(stream, 2, 12);
    coder.encode(k.clers, false);
    coder.encode(k.handles, false);
    try {
      EdgeBreaker::decode(k.triangles, stream);
      ADD_FAILURE() << "accepted";
    } catch (const CorruptStream& e) {
      EXPECT_NE(std::string(e.what()).find(k.reason), std::string::npos) << e.what();
    }
  }
}

TEST(EdgeBreakerCorrupt, EveryTruncatedPrefixIsRefused) {
  for (const TriangleList& tris : {gridTorus(4, 5).getTriangles(), holedPlate(2, 1).getTriangles()}) {
    const std::string bytes = substream(tris);
    for (size_t length = 0; length < bytes.size(); ++length) {
      SCOPED_TRACE(length);
      std::stringstream stream(bytes.substr(0, length));
      EXPECT_THROW(EdgeBreaker::decode(0, stream), CorruptStream);
    }
  }
}

TEST(EdgeBreakerCorrupt, EverySingleBitFlipIsDecodedOrRefused) {
  for (const TriangleList& tris : {gridTorus(4, 5).getTriangles(), holedPlate(2, 2).getTriangles()}) {
    const std::string bytes = substream(tris);
    for (size_t bit = 0; bit < 8 * bytes.size(); ++bit) {
      SCOPED_TRACE(bit);
      std::string flipped = bytes;
      flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
      decodeOrRefuse(flipped);
    }
  }
}

TEST(EdgeBreakerCorrupt, ImpossibleSymbolCountIsRefusedBeforeAllocating) {
  std::string bytes = substream(tetrahedron().getTriangles());
  bytes.replace(0, 4, std::string("\xff\xff\xff\x7f", 4));  // 2^31 - 1 symbols
  std::stringstream stream(bytes);
  EXPECT_THROW(EdgeBreaker::decode(0, stream), CorruptStream);
}

}  // namespace
}  // namespace meshcodec::testing
