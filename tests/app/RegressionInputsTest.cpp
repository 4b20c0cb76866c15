// Every input a fuzzer found to crash, hang or over-allocate a decoder is kept in
// tests/data/bad/<entry point>/ and replayed here through the same entry point: it
// must now be rejected with a CodecError or decode to a finite result.

#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/CodecError.hpp"
#include "support/CommandRunner.hpp"
#include "support/DecodeEntryPoints.hpp"

namespace meshcodec::testing {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputsOf(const char* entryPoint) {
  std::vector<fs::path> files;
  const fs::path dir = fs::path(MESHCODEC_TEST_DATA) / "bad" / entryPoint;
  if (fs::is_directory(dir)) {
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

void replayAll(const char* entryPoint, const std::function<void(const std::string&)>& decodeInput) {
  for (const fs::path& file : inputsOf(entryPoint)) {
    SCOPED_TRACE(file.string());
    try {
      decodeInput(readFile(file.string()));
    } catch (const CodecError&) {
      // rejected with a reason: what a bad input should get
    } catch (const std::exception& e) {
      ADD_FAILURE() << "escaped as " << e.what();
    }
  }
}

TEST(RegressionInputs, ArithmeticBlocks) { replayAll(kArithBlockInputs, decodeArithBlockInput); }

TEST(RegressionInputs, ConnectivitySubStreams) {
  replayAll(kConnectivityInputs, decodeConnectivityInput);
}

TEST(RegressionInputs, CompressedMeshFiles) {
  const std::string scratch = makeTempDir("regression-inputs");
  replayAll(kStaticDecodeInputs, [&](const std::string& bytes) { decodeStaticFileInput(bytes, scratch); });
  fs::remove_all(scratch);
}

TEST(RegressionInputs, GeometrySubStreams) { replayAll(kGeometryInputs, decodeGeometryInput); }

TEST(RegressionInputs, CompressedAnimationFiles) {
  const std::string scratch = makeTempDir("regression-inputs");
  replayAll(kAnimatedDecodeInputs, [&](const std::string& bytes) { decodeAnimatedFileInput(bytes, scratch); });
  fs::remove_all(scratch);
}

TEST(RegressionInputs, AnimatedGeometrySubStreams) {
  replayAll(kAnimatedGeometryInputs, decodeAnimatedGeometryInput);
}

TEST(RegressionInputs, ObjTexts) { replayAll(kObjReaderInputs, readObjInput); }

}  // namespace
}  // namespace meshcodec::testing
