// Pins the bytes that every encoder writes, and what every decoder makes of them, to
// files kept in tests/data/golden/. A refactor, a compiler or a library upgrade that
// moves a single bit of a coded file fails here, naming the method and the first
// byte offset that differs.
//
// The encoders' bytes are compared only in x86-64 builds whose linear-algebra kernels
// are the baseline's (SSE2, no AVX or fused multiply-add), which write the reference
// files (32-bit x86 with SSE2 is not one of them): other vector kernels sum the animation's trajectory scatter matrix in another
// order, which moves the last bits of the PCA and, with them, the coded coefficients.
// Every build checks what holds everywhere: each golden file decodes to its pinned
// text. (The round-trip tests check every build's own files against their bounds.)
//
// The inputs are generated, so the manifest also keeps a hash of each input's OBJ
// text: a change there means the generator moved, not the codec. To write the files
// anew after a deliberate format change, run the test with MESHCODEC_UPDATE_GOLDEN=1.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include <Eigen/Core>

#include "app/Codecs.hpp"
#include "support/CommandRunner.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

namespace fs = std::filesystem;

const fs::path kGoldenDir = fs::path(MESHCODEC_TEST_DATA) / "golden";
const fs::path kManifest = kGoldenDir / "manifest.txt";

#if defined(__x86_64__) && defined(EIGEN_VECTORIZE_SSE2) && !defined(EIGEN_VECTORIZE_AVX) && \
    !defined(EIGEN_VECTORIZE_FMA)
constexpr bool kReferenceKernels = true;
#else
constexpr bool kReferenceKernels = false;
#endif

bool updating() {
  const char* flag = std::getenv("MESHCODEC_UPDATE_GOLDEN");
  return flag != nullptr && std::string(flag) == "1";
}

// FNV-1a, 64 bits: enough to tell that a text moved.
std::string hashOf(const std::string& bytes) {
  std::uint64_t h = 14695981039346656037ull;
  for (const unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016" PRIx64, h);
  return hex;
}

// One line per case: name, hash of the input text, hash of the decoded text ("-"
// for a method without a decoder).
struct ManifestEntry {
  std::string input, decoded;
};

std::map<std::string, ManifestEntry>& manifest() {
  static std::map<std::string, ManifestEntry> entries = [] {
    std::map<std::string, ManifestEntry> read;
    std::ifstream in(kManifest);
    for (std::string name, input, decoded; in >> name >> input >> decoded;) read[name] = {input, decoded};
    return read;
  }();
  return entries;
}

void writeManifest() {
  std::ofstream out(kManifest);
  for (const auto& [name, entry] : manifest()) out << name << " " << entry.input << " " << entry.decoded << "\n";
}

// Compares one case with its golden file and manifest line, or records it.
// decodeFile(path) decodes a compressed file and returns the text it decodes to, or
// "" for a method without a decoder; it runs on the golden file, so that a decoder
// change shows even alongside an encoder change.
void checkCase(const std::string& name, const std::string& input, const std::string& encoded,
               const std::function<std::string(const std::string&)>& decodeFile) {
  const fs::path golden = kGoldenDir / (name + ".bin");
  if (updating()) {
    ASSERT_TRUE(kReferenceKernels) << "golden files are written by a build for the x86-64 baseline";
    fs::create_directories(kGoldenDir);
    std::ofstream(golden, std::ios::binary) << encoded;
    const std::string decoded = decodeFile(golden.string());
    manifest()[name] = {hashOf(input), decoded.empty() ? "-" : hashOf(decoded)};
    writeManifest();
    return;
  }
  ASSERT_TRUE(fs::exists(golden)) << name << ": no golden file " << golden;
  const ManifestEntry& expected = manifest()[name];
  ASSERT_EQ(hashOf(input), expected.input) << name << ": the generated input changed, not the codec";
  if (kReferenceKernels) {
    const std::string want = testing::readFile(golden.string());
    size_t offset = 0;
    while (offset < want.size() && offset < encoded.size() && want[offset] == encoded[offset]) ++offset;
    EXPECT_TRUE(offset == want.size() && offset == encoded.size())
        << name << ": the encoder's bytes differ from the golden file from byte offset " << offset << " ("
        << encoded.size() << " bytes written, " << want.size() << " expected)";
  }
  std::string decoded;
  try {
    decoded = decodeFile(golden.string());
  } catch (const std::exception& e) {
    ADD_FAILURE() << name << ": the golden file does not decode: " << e.what();
    return;
  }
  EXPECT_EQ(decoded.empty() ? "-" : hashOf(decoded), expected.decoded)
      << name << ": decoding the golden file gives another output";
}

class GoldenFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { dir = testing::makeTempDir("golden"); }
  void TearDown() override { fs::remove_all(dir); }
  std::string path(const std::string& name) const { return dir + "/" + name; }
  std::string dir;
};

TEST_F(GoldenFilesTest, StaticMethods) {
  Mesh mesh = testing::uvSphere(5, 8);
  testing::addNoise(mesh, 0.01);
  testing::writeObj(mesh, path("in.obj"));
  const std::string input = testing::readFile(path("in.obj"));
  testing::ScopedCurrentDir cwd(dir);  // encode writes map.txt here
  for (int method = 0; method <= 3; ++method) {
    const std::string name = "static_method" + std::to_string(method);
    encode(path("in.obj"), path("out.bin"), 0.01f, method);
    checkCase(name, input, testing::readFile(path("out.bin")), [&](const std::string& file) {
      decode(file, path("out.obj"), method);
      return testing::readFile(path("out.obj"));
    });
  }
}

TEST_F(GoldenFilesTest, AnimatedMethods) {
  // Four frames of a 26-vertex sphere; method 6 fits positive definite weights on it.
  const Mesh rest = testing::uvSphere(4, 6);
  constexpr int kFrames = 4;
  testing::writeAnimation(rest, kFrames, path("frames"));
  testing::writeObj(rest, path("reference.obj"));
  std::string input = testing::readFile(path("reference.obj"));
  for (int f = 0; f < kFrames; ++f) input += testing::readFile(path("frames/mesh_0000" + std::to_string(f) + ".obj"));
  for (int bases : {3, 0}) {
    for (int method = 0; method <= 6; ++method) {
      const std::string name = "animated_bases" + std::to_string(bases) + "_method" + std::to_string(method);
      encodeDynamic(path("frames"), "mesh_[0-9]+\\.obj", path("out.bin"), bases, 0.01f, 0.001f, method,
                    path("reference.obj"));
      checkCase(name, input, testing::readFile(path("out.bin")), [&](const std::string& file) {
        std::string decoded;
        if (method > 5) return decoded;  // method 6 has no decoder
        decodeDynamic(file, path("d_"), method);
        for (int f = 0; f < kFrames; ++f) decoded += testing::readFile(path("d_0000" + std::to_string(f) + ".obj"));
        return decoded;
      });
    }
  }
}

}  // namespace
}  // namespace meshcodec
