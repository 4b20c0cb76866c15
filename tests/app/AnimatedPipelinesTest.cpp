// The animation commands end to end, run as the user runs them: round trips of a
// deforming mesh with every method, the container layout, the frame files written,
// and the inputs that must end in one error line.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/CodecError.hpp"
#include "connectivity/EdgeBreaker.hpp"
#include "entropy/ArithCoder.hpp"
#include "entropy/DirectCoder.hpp"
#include "mesh/MeshObjLoader.hpp"
#include "support/CommandRunner.hpp"
#include "support/ErrorMetrics.hpp"
#include "support/LittleEndian.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

namespace fs = std::filesystem;
using testing::RunResult;

constexpr int kFrames = 8;

std::string withoutBanner(const std::string& out) {
  size_t pos = 0;
  for (int line = 0; line < 4; ++line) pos = out.find('\n', pos) + 1;
  return out.substr(pos);
}

std::string frameName(const std::string& prefix, int f) {
  char number[16];
  std::snprintf(number, sizeof number, "%05d", f);
  return prefix + number + ".obj";
}

class AnimatedPipelinesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testing::makeTempDir("animated");
    reference = testing::gridTorus(24, 12);
    writeAnimation(reference, "frames", "reference.obj");
  }

  // Writes kFrames frames of the mesh into a directory, and the mesh itself as the
  // reference.
  void writeAnimation(const Mesh& mesh, const std::string& frameDir, const std::string& referenceName) {
    testing::writeAnimation(mesh, kFrames, path(frameDir));
    testing::writeObj(mesh, path(referenceName));
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string path(const std::string& name) const { return dir + "/" + name; }
  RunResult run(const std::vector<std::string>& args) { return testing::runMeshcodec(args, dir); }
  RunResult encode(const std::string& out, int method, const std::string& bases = "6",
                   const std::string& precision = "0.01", const std::string& coefQuant = "0.001") {
    return run({"-ed", "frames", "mesh_[0-9]+\\.obj", out, bases, precision, coefQuant, std::to_string(method),
                "reference.obj"});
  }

  std::string dir;
  Mesh reference{0, 0};
};

TEST_F(AnimatedPipelinesTest, EveryMethodRoundTripsTheFrames) {
  ASSERT_EQ(run({"-rd", "frames", "mesh_[0-9]+\\.obj", "r_"}).status, 0);
  ASSERT_EQ(run({"-r", "reference.obj", "reference_r.obj"}).status, 0);
  const double x0 = MeshObjLoader(path("reference_r.obj")).Load().getVertices()(0, 0);
  for (int method = 0; method <= 5; ++method) {
    SCOPED_TRACE(method);
    const std::string m = std::to_string(method);
    const RunResult e = encode("a" + m + ".bin", method);
    ASSERT_EQ(e.status, 0) << e.err;
    EXPECT_EQ(withoutBanner(e.out), std::to_string(fs::file_size(path("a" + m + ".bin"))) + "\n");
    EXPECT_EQ(e.err, "");
    const RunResult d = run({"-dd", "a" + m + ".bin", "d" + m + "_", m});
    ASSERT_EQ(d.status, 0) << d.err;
    EXPECT_EQ(d.err, "");
    // Method 0 prints the vertex count; method 4 the count, then the x coordinate of
    // vertex 0 of the decoded reference shape; the others nothing.
    const std::string count = std::to_string(reference.getVertices().rows()) + "\n";
    const std::string printed = withoutBanner(d.out);
    EXPECT_EQ(printed.substr(0, method == 4 ? count.size() : printed.size()),
              method == 0 || method == 4 ? count : "");
    if (method == 4) {
      EXPECT_NEAR(std::stod(printed.substr(count.size())), x0, 1e-2);
    }
    // Through a pipe, read only as far as decoding needs, the file gives the same frames.
    const RunResult p = testing::runMeshcodec({"-dd", "/dev/stdin", "p" + m + "_", m}, dir, 0, "",
                                              {"sh", "-c", "cat a" + m + ".bin | \"$0\" \"$@\""});
    ASSERT_EQ(p.status, 0) << p.err;
    for (int f = 0; f < kFrames; ++f) {
      const Mesh expected = MeshObjLoader(path(frameName("r_", f))).Load();
      const Mesh decoded = MeshObjLoader(path(frameName("d" + m + "_", f))).Load();
      EXPECT_EQ(decoded.getTriangles(), expected.getTriangles());
      EXPECT_LT(testing::rmsRelativeError(expected.getVertices(), decoded.getVertices()), 5e-4) << "frame " << f;
      EXPECT_EQ(testing::readFile(path(frameName("p" + m + "_", f))), testing::readFile(path(frameName("d" + m + "_", f))));
    }
    EXPECT_FALSE(fs::exists(path(frameName("d" + m + "_", kFrames))));
  }
}

TEST_F(AnimatedPipelinesTest, ContainerLayoutAndMethodsWithoutGeometry) {
  ASSERT_EQ(encode("m0.bin", 0).status, 0);
  ASSERT_EQ(encode("m3.bin", 3).status, 0);
  // Standard error says what a method without a geometry coder leaves out.
  const std::string pcaOnly = " codes no coefficients: the compressed file holds the connectivity and the PCA mean "
                              "and basis only\n";
  for (const int method : {7, -1}) {
    const RunResult e = encode("m" + std::to_string(method) + ".bin", method);
    ASSERT_EQ(e.status, 0);
    EXPECT_EQ(e.err, "meshcodec: note: method " + std::to_string(method) + pcaOnly);
  }
  const std::string m0 = testing::readFile(path("m0.bin")), m3 = testing::readFile(path("m3.bin"));
  const std::string m7 = testing::readFile(path("m7.bin"));
  // Header: one mesh, the frame count, the bases and the coefficient step.
  EXPECT_EQ(testing::uint32At(m0, 0), 1u);
  EXPECT_EQ(testing::int32At(m0, 4), kFrames);
  EXPECT_EQ(testing::int32At(m0, 8), 6);
  EXPECT_EQ(testing::floatAt(m0, 12), 0.001f);
  // Methods without geometry end after the PCA sub-stream, which every method shares.
  EXPECT_EQ(testing::readFile(path("m-1.bin")), m7);
  EXPECT_EQ(m0.compare(0, m7.size(), m7), 0);
  EXPECT_EQ(m3.compare(0, m7.size(), m7), 0);
  EXPECT_GT(m0.size(), m7.size());
  // Decoding them writes face lines only, one file per frame.
  const RunResult d = run({"-dd", "m7.bin", "f_", "7"});
  ASSERT_EQ(d.status, 0) << d.err;
  EXPECT_EQ(d.err, "meshcodec: note: method 7 decodes no positions: the frame files hold face lines only\n");
  const std::string frame = testing::readFile(path(frameName("f_", kFrames - 1)));
  EXPECT_EQ(frame.find('v'), std::string::npos);
  EXPECT_EQ(static_cast<size_t>(std::count(frame.begin(), frame.end(), '\n')), reference.getTriangles().size());

  // The precision changes the PCA sub-stream only; the coefficient step the header's
  // last field and the geometry.
  ASSERT_EQ(encode("p.bin", 0, "6", "0.02").status, 0);
  ASSERT_EQ(encode("c.bin", 0, "6", "0.01", "0.002").status, 0);
  const std::string p = testing::readFile(path("p.bin")), c = testing::readFile(path("c.bin"));
  EXPECT_EQ(p.compare(0, 16, m0, 0, 16), 0);
  EXPECT_NE(p.substr(0, m7.size()), m7);
  EXPECT_NE(c.compare(12, 4, m0, 12, 4), 0);
  EXPECT_EQ(c.compare(16, m7.size() - 16, m7, 16, m7.size() - 16), 0);
}

TEST_F(AnimatedPipelinesTest, MethodSixEncodesAndDecodesToFacesOnly) {
  // The fitted weights form a positive definite Laplacian on this sphere; on many
  // shapes they do not, and the coder refuses them (see the error cases).
  writeAnimation(testing::uvSphere(10, 20), "sphere", "sphere.obj");
  const RunResult e = run({"-ed", "sphere", "mesh_[0-9]+\\.obj", "m6.bin", "6", "0.01", "0.001", "6", "sphere.obj"});
  ASSERT_EQ(e.status, 0) << e.err;
  const std::vector<std::string> printed = [&] {
    std::vector<std::string> lines;
    std::istringstream in(withoutBanner(e.out));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }();
  ASSERT_EQ(printed.size(), 2u);  // the fit's diagnostics, then the file size
  EXPECT_EQ(printed[1], std::to_string(fs::file_size(path("m6.bin"))));
  const RunResult d = run({"-dd", "m6.bin", "s_", "6"});
  ASSERT_EQ(d.status, 0);
  EXPECT_EQ(d.err, "meshcodec: note: method 6 has no decoder: the frame files hold face lines only\n");
  EXPECT_EQ(testing::readFile(path(frameName("s_", 0))).find('v'), std::string::npos);
}

TEST_F(AnimatedPipelinesTest, BadInputsEndInOneErrorLine) {
  ASSERT_EQ(encode("good.bin", 0).status, 0);
  ASSERT_EQ(run({"-e", "reference.obj", "static.bin", "0.01", "0"}).status, 0);
  const std::string good = testing::readFile(path("good.bin"));
  std::ofstream(path("truncated.bin"), std::ios::binary) << good.substr(0, good.size() - 5);
  std::ofstream(path("trailing.bin"), std::ios::binary) << good << "x";
  std::ofstream(path("short.bin"), std::ios::binary) << good.substr(0, 10);
  std::string noMesh = good;
  std::memset(&noMesh[0], 0, 4);
  std::ofstream(path("no_mesh.bin"), std::ios::binary) << noMesh;
  testing::writeObj(testing::uvSphere(2, 5), path("small_ref.obj"));
  fs::create_directories(path("small"));
  for (int f = 0; f < 3; ++f) testing::writeObj(testing::octahedron(), path("small/" + frameName("mesh_", f)));
  // Method 6 needs a shape whose fitted weights it accepts. A tiny reference shape
  // passes a step at which the coefficients saturate.
  writeAnimation(testing::uvSphere(10, 20), "sphere", "sphere.obj");
  Mesh tiny = reference;
  tiny.getVertices() *= 1e-4;
  testing::writeObj(tiny, path("tiny_ref.obj"));
  Mesh nan = testing::animationFrame(reference, 3), inf = reference;
  nan.getVertices()(4, 0) = NAN;
  inf.getVertices()(6, 2) = -INFINITY;
  testing::writeAnimation(reference, kFrames, path("nan_frames"));
  testing::writeObj(nan, path("nan_frames/" + frameName("mesh_", 3)));
  testing::writeObj(inf, path("inf_ref.obj"));
  // Reindexing does no arithmetic on positions and copies them as they are.
  ASSERT_EQ(run({"-rd", "nan_frames", "mesh_[0-9]+\\.obj", "r_"}).status, 0);
  // A frame 0 of vertex lines only.
  testing::writeAnimation(reference, 3, path("faceless_frames"));
  const std::string frame0 = path("faceless_frames/" + frameName("mesh_", 0));
  const std::string text = testing::readFile(frame0);
  std::ofstream(frame0) << text.substr(0, text.find("\nf ") + 1);
  testing::writeAnimation(reference, 3, path("fifo_frames"));
  fs::remove(path("fifo_frames/" + frameName("mesh_", 2)));
  ASSERT_EQ(mkfifo(path("fifo_frames/" + frameName("mesh_", 2)).c_str(), 0600), 0);
  fs::create_directories(path("a_directory"));
  fs::create_directories(path("same"));
  fs::create_symlink(frameName("o_", 0), path("same/" + frameName("o_", 1)));
  fs::create_directories(path("holds_input"));
  fs::create_hard_link(path("good.bin"), path("holds_input/" + frameName("o_", 2)));
  // A mean block that announces 2^31 - 1 entries for the header's 8 frames, in as many
  // code bytes, before an endless stream: after the connectivity and the 7 PCA steps.
  std::size_t mean = 24;
  for (int block = 0; block < 2; ++block) mean += 8 + testing::uint32At(good, mean + 4);
  std::ofstream(path("endless_mean.bin"), std::ios::binary)
      << good.substr(0, mean + 4 * 7) << std::string("\xff\xff\xff\x7f\xff\xff\xff\x7f", 8);
  const std::string frame3 = path("frames/" + frameName("mesh_", 3));
  const std::string inputs = testing::readFile(frame3) + testing::readFile(path("reference.obj")) + good;

  struct Case {
    std::vector<std::string> args;
    ErrorKind kind;
    std::string reason = "";  // a part of the error line, where it matters
    std::string redirections = "";
    std::string feed = "";  // a command whose output is the standard input
  };
  const std::string regex = "mesh_[0-9]+\\.obj";
  const std::string tooSmall = "coefficient quantization 1e-12 is too small for this mesh: quantizing the ";
  const Case cases[] = {
      {{"-ed", "missing_dir", regex, "x.bin", "6", "0.01", "0.001", "0", "reference.obj"}, ErrorKind::UnreadableInput},
      {{"-ed", "frames", "nothing", "x.bin", "6", "0.01", "0.001", "0", "reference.obj"}, ErrorKind::UnreadableInput},
      {{"-ed", "small", regex, "x.bin", "2", "0.01", "0.001", "0", "reference.obj"}, ErrorKind::OutOfDomain},
      {{"-ed", "frames", regex, "x.bin", "6", "0.01", "0.001", "3", "small_ref.obj"}, ErrorKind::OutOfDomain},
      {{"-ed", "frames", regex, "x.bin", "6", "0.01", "0.001", "4", "missing.obj"}, ErrorKind::UnreadableInput},
      {{"-ed", "frames", regex, "x.bin", "6", "0.01", "0.001", "6", "reference.obj"}, ErrorKind::OutOfDomain},
      {{"-ed", "frames", regex, "x.bin", "6", "0.01", "0", "0", "reference.obj"}, ErrorKind::BadArgument,
       "argument 7 (coefficient quantization): '0' is not a positive number"},
      // Steps so small that indices saturate: the reference shape of methods 3 to 5 is
      // coded first, with the coefficient step.
      {{"-ed", "frames", regex, "x.bin", "6", "1e-30", "0.001", "0", "reference.obj"}, ErrorKind::BadArgument,
       "precision 1e-30 is too small for this mesh: quantizing entry 0 of the mean"},
      {{"-ed", "frames", regex, "x.bin", "6", "0.01", "1e-12", "0", "reference.obj"}, ErrorKind::BadArgument,
       tooSmall + "anchor coordinates leaves"},
      {{"-ed", "frames", regex, "x.bin", "6", "0.01", "1e-12", "1", "reference.obj"}, ErrorKind::BadArgument,
       tooSmall + "delta coordinates leaves"},
      {{"-ed", "frames", regex, "x.bin", "6", "0.01", "1e-12", "2", "reference.obj"}, ErrorKind::BadArgument,
       tooSmall + "delta coordinates leaves"},
      {{"-ed", "frames", regex, "x.bin", "6", "0.01", "1e-12", "3", "reference.obj"}, ErrorKind::BadArgument,
       tooSmall + "delta coordinates of the reference shape"},
      {{"-ed", "frames", regex, "x.bin", "6", "0.01", "1e-12", "4", "reference.obj"}, ErrorKind::BadArgument,
       tooSmall + "anchor coordinates of the reference shape"},
      {{"-ed", "frames", regex, "x.bin", "6", "0.01", "1e-12", "5", "reference.obj"}, ErrorKind::BadArgument,
       tooSmall + "delta coordinates of the reference shape"},
      {{"-ed", "frames", regex, "x.bin", "6", "0.01", "1e-12", "3", "tiny_ref.obj"}, ErrorKind::BadArgument,
       tooSmall + "delta coordinates leaves"},
      {{"-ed", "frames", regex, "x.bin", "6", "0.01", "1e-12", "4", "tiny_ref.obj"}, ErrorKind::BadArgument,
       tooSmall + "anchor coordinates leaves"},
      {{"-ed", "frames", regex, "x.bin", "6", "0.01", "1e-12", "5", "tiny_ref.obj"}, ErrorKind::BadArgument,
       tooSmall + "delta coordinates leaves"},
      {{"-ed", "sphere", regex, "x.bin", "6", "0.01", "1e-12", "6", "sphere.obj"}, ErrorKind::BadArgument,
       tooSmall + "delta coordinates leaves"},
      {{"-ed", "frames", regex, "x.bin", "999", "0.01", "0.001", "0", "reference.obj"}, ErrorKind::BadArgument},
      {{"-ed", "nan_frames", regex, "x.bin", "6", "0.01", "0.001", "0", "reference.obj"}, ErrorKind::OutOfDomain,
       "nan_frames/mesh_00003.obj: line 5: vertex coordinate 1 is not finite: nan"},
      {{"-ed", "frames", regex, "x.bin", "6", "0.01", "0.001", "4", "inf_ref.obj"}, ErrorKind::OutOfDomain,
       "inf_ref.obj: line 7: vertex coordinate 3 is not finite: -inf"},
      {{"-ed", "frames", regex, "a_directory", "6", "0.01", "0.001", "0", "reference.obj"}, ErrorKind::IoFailure},
      {{"-rd", "faceless_frames", regex, "o_"}, ErrorKind::MalformedObj,
       "faceless_frames/mesh_00000.obj: the file has no face lines"},
      {{"-dd", "missing.bin", "o_", "0"}, ErrorKind::UnreadableInput,
       "missing.bin: cannot open the compressed file: No such file or directory"},
      {{"-dd", "frames", "o_", "0"}, ErrorKind::UnreadableInput, "frames: cannot read"},
      {{"-dd", "short.bin", "o_", "0"}, ErrorKind::CorruptStream},
      {{"-dd", "truncated.bin", "o_", "0"}, ErrorKind::CorruptStream},
      {{"-dd", "trailing.bin", "o_", "0"}, ErrorKind::CorruptStream,
       "trailing.bin: 1 bytes follow the last sub-stream of method 0"},
      {{"-dd", "no_mesh.bin", "o_", "0"}, ErrorKind::CorruptStream},
      {{"-dd", "/dev/stdin", "o_", "0"}, ErrorKind::CorruptStream, ": 2147483647 entries, not the 24 of 8 frames", "",
       "cat endless_mean.bin /dev/zero"},
      // Easy mistakes, since a file records neither its kind nor its method.
      {{"-dd", "reference.obj", "o_", "0"}, ErrorKind::CorruptStream,
       "; the file looks like OBJ text, not a compressed file\n"},
      {{"-dd", "static.bin", "o_", "0"}, ErrorKind::CorruptStream,
       "; the file looks like a compressed static mesh: use -d\n"},
      {{"-d", "good.bin", "x.bin", "0"}, ErrorKind::CorruptStream,
       "; the file looks like a compressed animation: use -dd\n"},
      {{"-dd", "good.bin", "o_", "4"}, ErrorKind::CorruptStream,
       "; a file decoded with another method number than it was encoded with fails like this\n"},
      {{"-rd", "frames", "*.obj", "o_"}, ErrorKind::BadArgument,
       "invalid regular expression '*.obj': frame names are matched by a regular expression, such as '.*\\.obj'"},
      {{"-rd", "missing_dir", regex, "o_"}, ErrorKind::UnreadableInput},
      {{"-rd", "fifo_frames", regex, "o_"}, ErrorKind::UnreadableInput,
       "fifo_frames/mesh_00002.obj: the frame is not a regular file"},
      {{"-ed", "fifo_frames", regex, "x.bin", "6", "0.01", "0.001", "0", "reference.obj"},
       ErrorKind::UnreadableInput, "fifo_frames/mesh_00002.obj: the frame is not a regular file"},
      // Outputs are checked before the input is read, and frames that are one file
      // before any is written.
      {{"-ed", "missing_dir", regex, "no_dir/x.bin", "6", "0.01", "0.001", "0", "reference.obj"}, ErrorKind::IoFailure,
       "no_dir/x.bin: cannot create the output file"},
      {{"-dd", "missing.bin", "no_dir/o_", "0"}, ErrorKind::IoFailure, "no_dir/o_00000.obj: cannot create"},
      {{"-rd", "missing_dir", regex, "no_dir/o_"}, ErrorKind::IoFailure, "no_dir/o_00000.obj: cannot create"},
      {{"-dd", "good.bin", "same/o_", "0"}, ErrorKind::BadArgument,
       "same/o_00000.obj: the same file as same/o_00001.obj, another output of the command"},
      {{"-rd", "frames", regex, "same/o_"}, ErrorKind::BadArgument, "same/o_00000.obj: the same file as"},
      // An output that is an input: a frame, the reference mesh, the compressed file.
      {{"-rd", "frames", regex, "frames/mesh_"}, ErrorKind::BadArgument,
       "frames/mesh_00000.obj: the same file as frames/mesh_00000.obj, an input of the command"},
      {{"-ed", "frames", regex, "frames/mesh_00003.obj", "6", "0.01", "0.001", "0", "reference.obj"},
       ErrorKind::BadArgument, "frames/mesh_00003.obj: the same file as frames/mesh_00003.obj, an input"},
      {{"-ed", "frames", regex, "reference.obj", "6", "0.01", "0.001", "3", "reference.obj"}, ErrorKind::BadArgument,
       "reference.obj: the same file as reference.obj, an input"},
      {{"-dd", "good.bin", "holds_input/o_", "0"}, ErrorKind::BadArgument,
       "holds_input/o_00002.obj: the same file as good.bin, an input"},
      // Standard output open on an input, refused before the banner would change it.
      {{"-ed", "frames", regex, "x.bin", "6", "0.01", "0.001", "3", "reference.obj"}, ErrorKind::BadArgument,
       "standard output: the same file as reference.obj, an input", "1<>reference.obj"},
      {{"-rd", "frames", regex, "o_"}, ErrorKind::BadArgument,
       "standard output: the same file as frames/mesh_00003.obj, an input", ">>" + frame3},
      {{"-dd", "good.bin", "o_", "0"}, ErrorKind::BadArgument, "standard output: the same file as good.bin",
       ">>good.bin"},
      // An empty input name is named as an empty output name is.
      {{"-ed", "", regex, "x.bin", "6", "0.01", "0.001", "0", "reference.obj"}, ErrorKind::UnreadableInput,
       "error: '': "},
      {{"-ed", "frames", regex, "x.bin", "6", "0.01", "0.001", "3", ""}, ErrorKind::UnreadableInput, "error: '': "},
      {{"-dd", "", "o_", "0"}, ErrorKind::UnreadableInput, "error: '': "},
      {{"-rd", "", regex, "o_"}, ErrorKind::UnreadableInput, "error: '': "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args.back());
    std::vector<std::string> wrapper;
    if (!c.feed.empty()) wrapper = {"sh", "-c", c.feed + " | \"$0\" \"$@\""};
    const RunResult r = testing::runMeshcodec(c.args, dir, 0, c.redirections, wrapper);
    EXPECT_EQ(r.status, static_cast<int>(c.kind)) << r.err;
    EXPECT_EQ(r.err.rfind("meshcodec: error: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    // Nothing is printed after the banner: not method 6's diagnostics, not the size.
    if (c.args[0] == "-ed") {
      EXPECT_EQ(withoutBanner(r.out), "");
    }
    EXPECT_FALSE(fs::exists(path("x.bin")));
    EXPECT_FALSE(fs::exists(path(frameName("o_", 0))));
    EXPECT_EQ(testing::readFile(frame3) + testing::readFile(path("reference.obj")) + testing::readFile(path("good.bin")),
              inputs);
  }
}

TEST_F(AnimatedPipelinesTest, FrameFilesAreAllOrNothing) {
  // Frame 3's name is taken by a directory: no frame replaces an earlier file and no
  // temporary file is left.
  ASSERT_EQ(encode("a.bin", 0).status, 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-dd", "a.bin", "out/o_", "0"}, {"-rd", "frames", "mesh_[0-9]+\\.obj", "out/o_"}}) {
    SCOPED_TRACE(args[0]);
    fs::remove_all(path("out"));
    fs::create_directories(path("out/" + frameName("o_", 3)));
    std::ofstream(path("out/" + frameName("o_", 0))) << "earlier";
    const RunResult r = run(args);
    EXPECT_EQ(r.status, static_cast<int>(ErrorKind::IoFailure)) << r.err;
    EXPECT_EQ(testing::readFile(path("out/" + frameName("o_", 0))), "earlier");
    EXPECT_EQ(std::distance(fs::directory_iterator(path("out")), fs::directory_iterator()), 2);
  }
}

TEST_F(AnimatedPipelinesTest, EveryCommandWritesWhereItsChecksResolvedTheOutput) {
  // An input read from a FIFO keeps a command waiting after its checks (for -ed, its
  // reference mesh); meanwhile the output's directory d is renamed to held and a
  // directory, or a link to another, takes its name, or a file takes the output's
  // free name. The outputs go to held, and the name taken is refused.
  ASSERT_EQ(encode("a.bin", 0).status, 0);
  ASSERT_EQ(run({"-e", "reference.obj", "s.bin", "0.01", "0"}).status, 0);
  ASSERT_EQ(mkfifo(path("in.fifo").c_str(), 0600), 0);
  const std::string obj = testing::readFile(path("reference.obj")), bin = testing::readFile(path("a.bin"));
  const std::string staticBin = testing::readFile(path("s.bin"));
  const std::string moved = "mv d held && mkdir d", linked = "mv d held && ln -s elsewhere d";
  const struct {
    std::vector<std::string> args;
    std::string content, change;
    int status;
    long files;  // in held
  } cases[] = {
      {{"-e", "in.fifo", "d/out.bin", "0.01", "0"}, obj, moved, 0, 1},
      {{"-d", "in.fifo", "d/out.obj", "0"}, staticBin, moved, 0, 1},
      {{"-r", "in.fifo", "d/out.obj"}, obj, linked, 0, 1},
      {{"-ed", "frames", "mesh_[0-9]+\\.obj", "d/x.bin", "6", "0.01", "0.001", "3", "in.fifo"}, obj, linked, 0, 1},
      {{"-dd", "in.fifo", "d/p", "0"}, bin, moved, 0, kFrames},
      {{"-dd", "in.fifo", "d/p", "0"}, bin, linked, 0, kFrames},
      {{"-r", "in.fifo", "d/out.obj"}, obj, "echo planted >d/out.obj", static_cast<int>(ErrorKind::IoFailure), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + ": " + c.change);
    for (const char* name : {"d", "held", "elsewhere"}) fs::remove_all(path(name));
    fs::create_directory(path("d"));
    fs::create_directory(path("elsewhere"));
    const RunResult r = testing::runFeedingFifo(c.args, dir, path("in.fifo"), c.content, [&] {
      ASSERT_EQ(std::system(("cd '" + dir + "' && " + c.change).c_str()), 0);
    });
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_TRUE(fs::is_empty(path("elsewhere")));
    if (c.status == 0) {
      EXPECT_EQ(std::distance(fs::directory_iterator(path("held")), fs::directory_iterator()), c.files);
      EXPECT_TRUE(fs::is_symlink(path("d")) || fs::is_empty(path("d")));
    } else {
      EXPECT_NE(r.err.find("d/out.obj: cannot create the output file: another entry took its name after the checks"),
                std::string::npos)
          << r.err;
      EXPECT_EQ(testing::readFile(path("d/out.obj")), "planted\n");
      EXPECT_EQ(std::distance(fs::directory_iterator(path("d")), fs::directory_iterator()), 1);
    }
  }
}

TEST_F(AnimatedPipelinesTest, AfterASigkillTheRecoveryCommandLeavesOneWholeSet) {
  // strace kills the command before its n-th rename or removal of each kind, for -dd
  // over fewer earlier frames than it writes, with plain and dot-led names, and for
  // -e with its compressed file in another directory than map.txt. The README's
  // command, run in each directory, leaves the whole earlier set or the whole new one,
  // and no hidden entry.
  // The command tested is the one the README gives.
  EXPECT_NE(testing::readFile(MESHCODEC_TEST_DATA "/../../README.md").find(testing::recoveryCommand()),
            std::string::npos);
  if (testing::programCommand().size() > 1) GTEST_SKIP() << "strace would trace the emulator";
  if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0) GTEST_SKIP() << "no strace here";
  ASSERT_EQ(encode("a.bin", 0).status, 0);
  fs::create_directory(path("sub"));
  std::vector<std::string> plain, dotLed;
  for (int f = 0; f < kFrames; ++f) plain.push_back(frameName("p", f)), dotLed.push_back(frameName(".p", f));
  const struct {
    std::vector<std::string> args, outputs;
    std::size_t earlier;  // how many outputs have an earlier file
  } cases[] = {{{"-dd", "a.bin", "p", "0"}, plain, 6},
               {{"-dd", "a.bin", ".p", "0"}, dotLed, 6},
               {{"-e", "reference.obj", "sub/.out.bin", "0.01", "0"}, {"map.txt", "sub/.out.bin"}, 2}};
  for (const auto& c : cases) {
    const auto setEarlier = [&] {
      for (std::size_t i = 0; i < c.outputs.size(); ++i) {
        fs::remove(path(c.outputs[i]));
        if (i < c.earlier) std::ofstream(path(c.outputs[i])) << "earlier " << i;
      }
    };
    const auto set = [&] {
      std::string contents;
      for (const std::string& output : c.outputs) {
        contents += (fs::exists(path(output)) ? testing::readFile(path(output)) : "none") + "|";
      }
      return contents;
    };
    setEarlier();
    const std::string earlierSet = set();
    ASSERT_EQ(run(c.args).status, 0);
    const std::string newSet = set();
    for (const std::string call : {"renameat2", "renameat", "unlinkat"}) {
      for (int n = 1;; ++n) {
        SCOPED_TRACE(c.args[2] + " killed before " + call + " " + std::to_string(n));
        setEarlier();
        const std::string inject = "inject=" + call + ":signal=KILL:when=" + std::to_string(n);
        // LeakSanitizer cannot work under a tracer; the run above had it.
        const RunResult r = testing::runMeshcodec(
            c.args, dir, 0, "",
            {"env", "ASAN_OPTIONS=detect_leaks=0", "strace", "-f", "-qq", "-o", "/dev/null", "-e", inject});
        for (const char* directory : {"", "sub"}) {
          EXPECT_EQ(testing::runRecoveryCommand(path(directory)), 0);
          for (const auto& entry : fs::directory_iterator(path(directory))) {
            EXPECT_NE(entry.path().filename().string().rfind(".meshcodec-", 0), 0u) << entry.path();
          }
        }
        const std::string after = set();
        EXPECT_TRUE(after == earlierSet || after == newSet) << after;
        if (r.status == 0) break;  // past the last such call
        ASSERT_EQ(r.status, 128 + SIGKILL) << r.err;
      }
    }
  }
}

// A file without bases and geometry with its PCA sub-stream rewritten for `frames`
// frames: the mean trajectory repeated.
std::string withFrames(const std::string& bytes, int32_t frames) {
  std::stringstream s(bytes, std::ios::in | std::ios::out | std::ios::binary);
  s.seekg(24);
  EdgeBreaker::decode(testing::int32At(bytes, 16), s);
  const std::streamoff pcaStart = s.tellg();
  const std::vector<float> steps = DirectCoder::decode(s, 1);
  const std::vector<int> mean = ArithCoder::decode(s, true);
  const int from = static_cast<int>(mean.size() / 3);
  std::vector<int> repeated;
  for (int c = 0; c < 3; ++c) {
    for (int f = 0; f < frames; ++f) repeated.push_back(mean[c * from + f % from]);
  }
  std::stringstream out(std::ios::in | std::ios::out | std::ios::binary);
  out << bytes.substr(0, static_cast<size_t>(pcaStart));
  DirectCoder::encode(steps, out, false);
  ArithCoder::encode(repeated, out, true);
  std::string result = out.str();
  testing::setInt32At(result, 4, frames);
  return result;
}

TEST_F(AnimatedPipelinesTest, StoppedDecodeLeavesNoTemporaryFile) {
  // Method 7 has no geometry: the frames hold face lines only, which is enough here.
  ASSERT_EQ(encode("a.bin", 7, "0").status, 0);
  std::ofstream(path("long.bin"), std::ios::binary) << withFrames(testing::readFile(path("a.bin")), 20000);
  // A stop signal removes every temporary file; after SIGKILL, one hidden directory
  // holds them all.
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGKILL}) {
    SCOPED_TRACE(signal);
    fs::remove_all(path("out"));
    fs::create_directory(path("out"));
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = testing::startMeshcodec({"-dd", "long.bin", "out/f", "7"}, dir, null);
    close(null);
    ASSERT_GT(pid, 0);
    // Stopped while it writes the frames' temporary files.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (fs::is_empty(path("out")) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, signal);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    if (signal != SIGKILL) {
      EXPECT_TRUE(fs::is_empty(path("out")));
      continue;
    }
    std::vector<fs::path> left(fs::directory_iterator(path("out")), fs::directory_iterator{});
    ASSERT_EQ(left.size(), 1u);
    EXPECT_TRUE(fs::is_directory(left[0]));
    EXPECT_EQ(left[0].filename().string().rfind(".meshcodec-" + std::to_string(pid) + "-", 0), 0u) << left[0];
    // Each temporary file there is named after its frame.
    for (const auto& entry : fs::directory_iterator(left[0])) {
      const std::string name = entry.path().filename().string();
      EXPECT_EQ(name, frameName("f", std::stoi(name.substr(1, 5)))) << name;
    }
  }
}

}  // namespace
}  // namespace meshcodec
