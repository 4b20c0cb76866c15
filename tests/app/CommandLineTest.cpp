// The program as a black box: exact standard output, one line on standard error,
// exit status, and no file written by a command that did not run.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>

#include "app/CommandLine.hpp"
#include "common/CodecError.hpp"
#include "support/CommandRunner.hpp"
#include "support/LittleEndian.hpp"
#include "support/Sanitizers.hpp"

namespace meshcodec {
namespace {

using Args = std::vector<std::string>;

const std::string kBanner =
    "meshcodec compresses triangle meshes by EdgeBreaker connectivity coding and quantized "
    "Laplacian geometry coding.\n"
    "See readme.txt for details\n"
    "Please report problems to " MESHCODEC_CONTACT "\n"
    "You may use, copy and modify this program; for any other use write to " MESHCODEC_CONTACT
    "\n";

const int kBadArgument = static_cast<int>(ErrorKind::BadArgument);

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override { dir = testing::makeTempDir("cli"); }
  void TearDown() override { std::filesystem::remove_all(dir); }

  // Runs the program and checks that it left its working directory empty.
  testing::RunResult run(const Args& args) {
    testing::RunResult result = testing::runMeshcodec(args, dir);
    EXPECT_TRUE(std::filesystem::is_empty(dir)) << "a file was written";
    return result;
  }

  std::string dir;
};

TEST_F(CommandLineTest, NoArgumentsListsTheStaticOptions) {
  const auto r = run({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kBanner + "-e encode\n-d decode\n-r reindex\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(CommandLineTest, WrongCountsPrintTheUsagePair) {
  const std::string e = "usage: -e <inputFileName> <OutputFileName> <Quantization> <Method>\n"
                        "example: -e input.obj encoded.bin 0.01 0\n";
  const std::string d = "usage: -d <InputFileName> <OutputFileName> <Method>\n"
                        "example: -d encoded.bin decoded.obj 0\n";
  const std::string r = "usage: -r <InputFileName> <OutputFileName>\n"
                        "example: -r input.obj reindexed.obj\n";
  const std::string ed =
      "syntax: -e <inputdirectory> <regexmask> <outputfile> <number_of_bases> <precission> "
      "<coefficient quantization>\n"
      "ex: -ed dir \"mesh\\_[0-9]+\\.obj\" file.cbin 30 0.1 0.01\n";
  const std::string dd = "syntax: -d <inputfile> <outputfile>\nex: -dd file.cbin file.bin\n";
  const std::string rd = "syntax: -rd <inputfile> <outputfile>\nex: -r file.bin file.rbin\n";
  // The animated options' usage texts name the wrong arguments; standard error says
  // what they take.
  const std::string edTakes =
      "meshcodec: -ed takes <frame directory> <frame name regex> <output.bin> <bases> "
      "<precision> <coefficient quantization> <method> <reference.obj>\n";
  const std::string ddTakes = "meshcodec: -dd takes <input.bin> <output frame prefix> <method>\n";
  const std::string rdTakes =
      "meshcodec: -rd takes <frame directory> <frame name regex> <output frame prefix>\n";
  const std::tuple<Args, std::string, std::string> cases[] = {
      {{"-e", "a", "b", "0.1"}, e, ""}, {{"-e", "a", "b", "0.1", "0", "x"}, e, ""}, {{"-e"}, e, ""},
      {{"-d", "a", "b"}, d, ""}, {{"-d", "a", "b", "0", "x"}, d, ""},
      {{"-r", "a"}, r, ""}, {{"-r", "a", "b", "c"}, r, ""},
      {{"-ed", "dir", "mesh\\_[0-9]+\\.obj", "file.cbin", "30", "0.1", "0.01"}, ed, edTakes},
      {{"-ed", "a", "b", "c", "1", "1", "1", "1", "d", "x"}, ed, edTakes},
      {{"-dd", "a", "b"}, dd, ddTakes}, {{"-dd", "a", "b", "0", "x"}, dd, ddTakes},
      {{"-dd", "x"}, dd, ddTakes},
      {{"-rd", "a", "b"}, rd, rdTakes}, {{"-rd", "a", "b", "c", "d"}, rd, rdTakes},
  };
  EXPECT_EQ(ed.size() - ed.find("ex:"), 53u + 1u);  // the example line has 53 characters
  for (const auto& [args, usage, takes] : cases) {
    SCOPED_TRACE(args[0] + " with " + std::to_string(args.size() - 1) + " arguments");
    const auto result = run(args);
    EXPECT_EQ(result.status, kBadArgument);
    EXPECT_EQ(result.out, kBanner + usage);
    EXPECT_EQ(result.err, takes);
  }
}

TEST_F(CommandLineTest, UnknownWordsFailListingTheOptions) {
  const std::string options =
      "options:\n"
      "  meshcodec -e <input.obj> <output.bin> <quantization> <method>\n"
      "  meshcodec -d <input.bin> <output.obj> <method>\n"
      "  meshcodec -r <input.obj> <output.obj>\n"
      "  meshcodec -ed <frame directory> <frame name regex> <output.bin> <bases> <precision> "
      "<coefficient quantization> <method> <reference.obj>\n"
      "  meshcodec -dd <input.bin> <output frame prefix> <method>\n"
      "  meshcodec -rd <frame directory> <frame name regex> <output frame prefix>\n";
  const std::pair<Args, std::string> cases[] = {
      {{"-E", "a", "b", "1", "0"}, "-E"}, {{"-e1", "a", "b", "1", "0"}, "-e1"},
      {{"-e ", "a", "b", "1", "0"}, "-e "}, {{"-ED", "a", "b", "0"}, "-ED"}, {{"e", "a", "b"}, "e"},
      {{"--e"}, "--e"}, {{""}, ""}, {{"-x", "a", "b"}, "-x"}, {{"-\n\x01"}, "-\\n\\x01"},
  };
  for (const auto& [args, shown] : cases) {
    SCOPED_TRACE(args[0] + " " + args.back());
    const auto result = run(args);
    EXPECT_EQ(result.status, kBadArgument);
    EXPECT_EQ(result.out, kBanner);
    EXPECT_EQ(result.err, "meshcodec: error: unknown option '" + shown + "'\n" + options);
  }
}

TEST_F(CommandLineTest, FailedConversionsStopTheCommand) {
  const std::pair<Args, std::string> cases[] = {
      {{"-e", "in.obj", "out.bin", "abc", "0"}, "argument 4 (quantization): 'abc' is not a number"},
      {{"-e", "in.obj", "out.bin", "abc", "x"}, "argument 4 (quantization): 'abc' is not a number"},
      {{"-e", "in.obj", "out.bin", "1e99", "0"},
       "argument 4 (quantization): '1e99' is out of range"},
      {{"-e", "in.obj", "out.bin", "0.1", "-"}, "argument 5 (method): '-' is not a number"},
      {{"-d", "in.bin", "out.obj", "99999999999"},
       "argument 4 (method): '99999999999' is out of range"},
      {{"-ed", "d", "f", "o", "x", "y", "1", "1", "r"}, "argument 5 (bases): 'x' is not a number"},
      {{"-ed", "d", "f", "o", "1", "1", ".", "1", "r"},
       "argument 7 (coefficient quantization): '.' is not a number"},
      // Steps must be positive, which is checked before any file is opened.
      {{"-e", "in.obj", "out.bin", "0", "0"}, "argument 4 (quantization): '0' is not a positive number"},
      {{"-e", "in.obj", "out.bin", "nan", "0"},
       "argument 4 (quantization): 'nan' is not a positive number"},
      {{"-ed", "d", "f", "o", "1", "-1", "1", "1", "r"},
       "argument 6 (precision): '-1' is not a positive number"},
      {{"-ed", "d", "f", "o", "1", "1", "0", "1", "r"},
       "argument 7 (coefficient quantization): '0' is not a positive number"},
      {{"-dd", "in.bin", "prefix", "\n"}, "argument 4 (method): '\\n' is not a number"},
  };
  for (const auto& [args, reason] : cases) {
    SCOPED_TRACE(reason);
    const auto result = run(args);
    EXPECT_EQ(result.status, static_cast<int>(ErrorKind::BadArgument));
    EXPECT_EQ(result.out, kBanner);
    EXPECT_EQ(result.err, "meshcodec: error: " + reason + "\n");
  }
}

TEST_F(CommandLineTest, AllocationFailuresNameTheFile) {
  // AddressSanitizer reserves far more address space than any limit leaves, and it
  // reports a failed allocation itself instead of throwing std::bad_alloc.
  if (MESHCODEC_ADDRESS_SANITIZER) GTEST_SKIP() << "address-space limits do not apply under AddressSanitizer";
  // Under a limit of tens of MB, a stream that never ends is read up to its first
  // fault; one whose lines are all read, or whose counts ask for more, until memory
  // runs out. A regular file far larger than the limit is read as a stream is.
  const std::string frames = testing::makeTempDir("cli-frames");
  std::ofstream(frames + "/f0.obj") << "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
  // Sparse regular files: a device or FIFO frame is refused before it is read.
  std::ofstream(frames + "/f1.obj").close();
  std::filesystem::resize_file(frames + "/f1.obj", 1ull << 30);
  std::ofstream(frames + "/vertex.obj") << "v 1 2 3\n";
  std::filesystem::resize_file(frames + "/vertex.obj", 1ull << 32);
  // Headers of a mesh of 2^31 - 1 triangles whose symbol block announces as many
  // symbols as it has in 2^31 - 1 bytes: no count rules them out.
  std::string block(8, '\0'), counts(8, '\0'), animation(16, '\0');
  testing::setInt32At(block, 0, INT32_MAX - 1);
  testing::setInt32At(block, 4, INT32_MAX);
  testing::setInt32At(counts, 0, INT32_MAX);
  testing::setInt32At(counts, 4, 4);
  testing::setInt32At(animation, 0, 1);
  testing::setInt32At(animation, 4, 2);
  testing::setFloatAt(animation, 12, 1.0f);
  // As many frames as an int holds: no 32-bit count holds the 3F entries of the PCA mean.
  std::string manyFrames = animation;
  testing::setInt32At(manyFrames, 4, INT32_MAX);
  std::ofstream(frames + "/mesh.bin", std::ios::binary) << testing::floatBytes(1.0f) << counts << block;
  std::ofstream(frames + "/animation.bin", std::ios::binary) << animation << counts << block;
  std::ofstream(frames + "/frames.bin", std::ios::binary) << manyFrames << counts << block;
  const std::string nul = "not OBJ text: byte 0 is NUL, which no text file holds";
  const std::string endless = "memory ran out";
  const struct {
    Args args;
    std::string file;
    ErrorKind kind;
    std::string reason;
    std::string feed = "";  // a command whose output is the standard input
  } cases[] = {
      {{"-e", "/dev/zero", "out.bin", "0.01", "0"}, "/dev/zero", ErrorKind::MalformedObj, nul},
      {{"-r", "/dev/zero", "out.obj"}, "/dev/zero", ErrorKind::MalformedObj, nul},
      {{"-d", "/dev/zero", "out.obj", "0"}, "/dev/zero", ErrorKind::CorruptStream,
       "header: quantization step 0 is not a positive number"},
      {{"-dd", "/dev/zero", "out_", "0"}, "/dev/zero", ErrorKind::CorruptStream, "header: the file holds no mesh"},
      // "y\ny\n" read as header fields.
      {{"-d", "/dev/stdin", "out.obj", "0"}, "/dev/stdin", ErrorKind::CorruptStream,
       "header: 175704697 vertices cannot close 175704697 triangles", "yes"},
      {{"-dd", "/dev/stdin", "out_", "0"}, "/dev/stdin", ErrorKind::CorruptStream,
       "mesh 0: 175704697 vertices cannot close 175704697 triangles", "yes"},
      {{"-r", "/dev/stdin", "out.obj"}, "/dev/stdin", ErrorKind::OutOfMemory, endless, "yes 'v 0 0 0'"},
      {{"-d", "/dev/stdin", "out.obj", "0"}, "/dev/stdin", ErrorKind::OutOfMemory, endless,
       "cat " + frames + "/mesh.bin /dev/zero"},
      {{"-dd", "/dev/stdin", "out_", "0"}, "/dev/stdin", ErrorKind::OutOfMemory, endless,
       "cat " + frames + "/animation.bin /dev/zero"},
      {{"-dd", "/dev/stdin", "out_", "0"}, "/dev/stdin", ErrorKind::CorruptStream,
       "header: 2147483647 frames exceed the 715827882 that the 32-bit count of the PCA mean can hold (3 entries a "
       "frame)",
       "cat " + frames + "/frames.bin /dev/zero"},
      {{"-ed", frames, "f[0-9]\\.obj", "out.bin", "2", "0.01", "0.01", "0", "ref.obj"}, frames + "/f1.obj",
       ErrorKind::MalformedObj, nul},
      {{"-r", frames + "/f1.obj", "out.obj"}, frames + "/f1.obj", ErrorKind::MalformedObj, nul},
      {{"-e", frames + "/vertex.obj", "out.bin", "0.01", "0"}, frames + "/vertex.obj", ErrorKind::MalformedObj,
       "not OBJ text: byte 8 is NUL, which no text file holds"},
  };
#ifdef MESHCODEC_EMULATOR
  constexpr long kLimitKb = 256 * 1024;  // the emulator alone reserves 128 MB for its code
#else
  constexpr long kLimitKb = 64 * 1024;
#endif
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.feed);
    Args wrapper = {"timeout", "60"};
    if (!c.feed.empty()) wrapper.insert(wrapper.end(), {"sh", "-c", c.feed + " | \"$0\" \"$@\""});
    const auto result = testing::runMeshcodec(c.args, dir, kLimitKb, "", wrapper);
    EXPECT_EQ(result.status, static_cast<int>(c.kind));
    EXPECT_EQ(result.out, kBanner);
    EXPECT_EQ(result.err, "meshcodec: error: " + c.file + ": " + c.reason + "\n");
    EXPECT_TRUE(std::filesystem::is_empty(dir)) << "a file was written";
  }
  std::filesystem::remove_all(frames);
}

TEST(CommandLineErrors, OneLinePerEscapingException) {
  const struct {
    std::function<void()> command;
    int status;
    std::string line;
  } cases[] = {
      {[] {}, 0, ""},
      {[] { throw MalformedObj("line 3: bad\tline", "in.obj"); }, 4,
       "meshcodec: error: in.obj: line 3: bad\\tline\n"},
      {[] { throw IoFailure("cannot write"); }, 7, "meshcodec: error: cannot write\n"},
      // An empty name is a file all the same.
      {[] { throw UnreadableInput("cannot open", ""); }, 3, "meshcodec: error: '': cannot open\n"},
      {[] { throw std::runtime_error("other"); }, 1, "meshcodec: error: other\n"},
      {[] { throw std::bad_alloc(); }, 9, "meshcodec: error: memory ran out\n"},
      {[] {
         try {
           throw std::bad_alloc();
         } catch (...) {
           rethrowNamingFile("in.obj");
         }
       },
       9, "meshcodec: error: in.obj: memory ran out\n"},
      // A size beyond the address space, as a 1 GiB input asks for on 32-bit targets.
      {[] { throw std::length_error("vector::reserve"); }, 9, "meshcodec: error: memory ran out\n"},
      {[] {
         try {
           std::string().reserve(std::string().max_size() + 1);
         } catch (...) {
           rethrowNamingFile("in.bin");
         }
       },
       9, "meshcodec: error: in.bin: memory ran out\n"},
      {[] { throw 5; }, 1, "meshcodec: error: unknown failure\n"},
  };
  for (const auto& c : cases) {
    std::ostringstream err;
    EXPECT_EQ(CommandLine::reportFailures(c.command, err), c.status);
    EXPECT_EQ(err.str(), c.line);
  }
}

}  // namespace
}  // namespace meshcodec
