// The static commands end to end, run as the user runs them: round trips of closed
// meshes with every method, the printed stream positions, "map.txt", and every way a
// bad input must end in one error line without touching earlier output files.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <tuple>

#include "app/Codecs.hpp"
#include "common/CodecError.hpp"
#include "entropy/ArithCoder.hpp"
#include "mesh/MeshObjLoader.hpp"
#include "support/CommandRunner.hpp"
#include "support/ErrorMetrics.hpp"
#include "support/LittleEndian.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

namespace fs = std::filesystem;
using testing::RunResult;

std::string withoutBanner(const std::string& out) {
  size_t pos = 0;
  for (int line = 0; line < 4; ++line) pos = out.find('\n', pos) + 1;
  return out.substr(pos);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

std::vector<std::string> faceLines(const std::string& obj) {
  std::vector<std::string> faces;
  for (auto& line : lines(obj))
    if (!line.empty() && line[0] == 'f') faces.push_back(line);
  return faces;
}

class StaticPipelinesTest : public ::testing::Test {
 protected:
  void SetUp() override { dir = testing::makeTempDir("pipelines"); }
  void TearDown() override { fs::remove_all(dir); }

  std::string path(const std::string& name) const { return dir + "/" + name; }
  RunResult run(const std::vector<std::string>& args) { return testing::runMeshcodec(args, dir); }

  void writeMesh(const Mesh& mesh, const std::string& name) { testing::writeObj(mesh, path(name)); }

  // The two numbers -e prints after the banner.
  static std::pair<long, long> positions(const RunResult& r) {
    long first = -1, second = -1;
    std::istringstream(withoutBanner(r.out)) >> first >> second;
    return {first, second};
  }

  std::string dir;
};

TEST_F(StaticPipelinesTest, EveryMethodRoundTripsClosedMeshesOfSeveralGenera) {
  // Bounds on the RMS error relative to the bounding-box diagonal at a step of
  // 0.01 average edge lengths, about three times what each method reaches here; a
  // wrong renumbering or anchor list costs orders of magnitude more.
  const double bound[4] = {3e-4, 3e-3, 6e-4, 3e-4};
  struct Case { std::string name; Mesh mesh; };
  Case cases[] = {{"sphere", testing::uvSphere(30, 40)},
                  {"torus", testing::gridTorus(40, 25)},
                  {"genus3", testing::holedPlate(3, 6)}};
  for (auto& [name, mesh] : cases) {
    testing::addNoise(mesh, 1e-3);
    writeMesh(mesh, name + ".obj");
    ASSERT_EQ(run({"-r", name + ".obj", name + "_r.obj"}).status, 0);
    const Mesh reindexed = MeshObjLoader(path(name + "_r.obj")).Load();
    for (int method = 0; method <= 3; ++method) {
      SCOPED_TRACE(name + " method " + std::to_string(method));
      const std::string m = std::to_string(method);
      ASSERT_EQ(run({"-e", name + ".obj", name + m + ".bin", "0.01", m}).status, 0);
      const RunResult d = run({"-d", name + m + ".bin", name + m + ".obj", m});
      ASSERT_EQ(d.status, 0) << d.err;
      const Mesh decoded = MeshObjLoader(path(name + m + ".obj")).Load();
      // Decode and reindex agree on the triangles and on the vertex order.
      EXPECT_EQ(decoded.getTriangles(), reindexed.getTriangles());
      const double rms = testing::rmsRelativeError(reindexed.getVertices(), decoded.getVertices());
      EXPECT_LT(rms, bound[method]);
      // Methods 0 and 3 print the vertex count.
      const std::string v = std::to_string(mesh.getVertices().rows()) + "\n";
      EXPECT_EQ(withoutBanner(d.out), method == 0 || method == 3 ? v : "");
    }
  }
}

TEST_F(StaticPipelinesTest, SmallMeshesGetAnAnchorAndDecodeAccurately) {
  // Fewer than 1000 vertices still get one anchor, so every method can solve.
  struct Case { std::string name; Mesh mesh; };
  Case cases[] = {{"tetrahedron", testing::tetrahedron()},
                  {"sphere100", testing::uvSphere(7, 14)},  // 100 vertices
                  {"torus999", testing::gridTorus(37, 27)}};  // 999 vertices
  for (auto& [name, mesh] : cases) {
    writeMesh(mesh, name + ".obj");
    ASSERT_EQ(run({"-r", name + ".obj", name + "_r.obj"}).status, 0);
    const Mesh reindexed = MeshObjLoader(path(name + "_r.obj")).Load();
    for (int method = 0; method <= 3; ++method) {
      SCOPED_TRACE(name + " method " + std::to_string(method));
      const std::string m = std::to_string(method);
      ASSERT_EQ(run({"-e", name + ".obj", "c.bin", "0.01", m}).status, 0);
      ASSERT_EQ(run({"-d", "c.bin", "c.obj", m}).status, 0);
      const Mesh decoded = MeshObjLoader(path("c.obj")).Load();
      EXPECT_LT(testing::rmsRelativeError(reindexed.getVertices(), decoded.getVertices()), 5e-3);
    }
  }
}

TEST_F(StaticPipelinesTest, PrintedPositionsMapFileAndReproducibility) {
  const Mesh mesh = testing::gridTorus(30, 20);
  writeMesh(mesh, "in.obj");
  long connectivityEnd = -1;
  for (int method : {0, 1, 2, 3, 7, -1}) {
    SCOPED_TRACE(method);
    const std::string m = std::to_string(method);
    const RunResult r = run({"-e", "in.obj", "out.bin", "0.01", m});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto [first, second] = positions(r);
    if (connectivityEnd < 0) connectivityEnd = first;
    EXPECT_EQ(first, connectivityEnd);  // 12 + connectivity, whatever the method
    EXPECT_EQ(second, static_cast<long>(fs::file_size(path("out.bin"))));
    EXPECT_EQ(withoutBanner(r.out), std::to_string(first) + "\t" + std::to_string(second) + "\n");
    // Standard error says what a method without a geometry coder leaves out.
    const bool coded = method >= 0 && method <= 3;
    EXPECT_EQ(r.err, coded ? "" : "meshcodec: note: method " + m +
                                      " codes no positions: the compressed file holds the connectivity only\n");
    if (!coded) {
      EXPECT_EQ(first, second);
      const RunResult d = run({"-d", "out.bin", "faces.obj", m});
      ASSERT_EQ(d.status, 0) << d.err;
      EXPECT_EQ(d.err, "meshcodec: note: method " + m +
                           " decodes no positions: the OBJ file holds face lines only\n");
      const std::string obj = testing::readFile(path("faces.obj"));
      EXPECT_EQ(faceLines(obj).size(), mesh.getTriangles().size());
      EXPECT_EQ(obj.find('v'), std::string::npos);
    }
  }
  // "map.txt": one line per vertex, the new index of each input vertex, a permutation.
  std::vector<std::string> map = lines(testing::readFile(path("map.txt")));
  ASSERT_EQ(map.size(), static_cast<size_t>(mesh.getVertices().rows()));
  std::vector<bool> seen(map.size());
  for (const auto& entry : map) seen.at(std::stoul(entry)) = true;
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), static_cast<long>(map.size()));

  // A second run on another mesh replaces "map.txt"; two runs on one input give
  // byte-identical files.
  writeMesh(testing::octahedron(), "small.obj");
  ASSERT_EQ(run({"-e", "small.obj", "a.bin", "0.01", "0"}).status, 0);
  EXPECT_EQ(lines(testing::readFile(path("map.txt"))).size(), 6u);
  ASSERT_EQ(run({"-e", "in.obj", "a.bin", "0.01", "0"}).status, 0);
  ASSERT_EQ(run({"-e", "in.obj", "b.bin", "0.01", "0"}).status, 0);
  EXPECT_EQ(testing::readFile(path("a.bin")), testing::readFile(path("b.bin")));
}

TEST_F(StaticPipelinesTest, StandardOutputIsWrittenThroughNotReplaced) {
  // The runner sends standard output to a regular file: /dev/stdout names it through
  // /proc, and the output goes after the banner, as on a terminal.
  writeMesh(testing::uvSphere(10, 12), "in.obj");
  ASSERT_EQ(run({"-e", "in.obj", "a.bin", "0.01", "1"}).status, 0);
  ASSERT_EQ(run({"-d", "a.bin", "a.obj", "1"}).status, 0);
  const RunResult d = run({"-d", "a.bin", "/dev/stdout", "1"});
  ASSERT_EQ(d.status, 0) << d.err;
  EXPECT_EQ(withoutBanner(d.out), testing::readFile(path("a.obj")));
  const RunResult e = run({"-e", "in.obj", "/dev/stdout", "0.01", "1"});
  ASSERT_EQ(e.status, 0) << e.err;
  const std::string bytes = testing::readFile(path("a.bin"));
  EXPECT_EQ(withoutBanner(e.out).substr(0, bytes.size()), bytes);
  EXPECT_EQ(withoutBanner(e.out).substr(bytes.size()), withoutBanner(run({"-e", "in.obj", "b.bin", "0.01", "1"}).out));
  // The thread's descriptor directory leads there too; method 0 prints the vertex
  // count before the file is written.
  ASSERT_EQ(run({"-e", "in.obj", "m0.bin", "0.01", "0"}).status, 0);
  const RunResult counted = run({"-d", "m0.bin", "m0.obj", "0"});
  const RunResult t = run({"-d", "m0.bin", "/proc/thread-self/fd/1", "0"});
  ASSERT_EQ(t.status, 0) << t.err;
  EXPECT_EQ(withoutBanner(t.out), withoutBanner(counted.out) + testing::readFile(path("m0.obj")));

  // A non-blocking pipe, full when the program starts, whose reader starts once the
  // program waits for room (or has ended): nothing is lost.
  int pipeEnds[2];
  ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
  fcntl(pipeEnds[1], F_SETFL, fcntl(pipeEnds[1], F_GETFL) | O_NONBLOCK);
  std::string expected;
  for (const std::string block(4096, 'x'); write(pipeEnds[1], block.data(), block.size()) > 0;) expected += block;
  const pid_t pid = testing::startMeshcodec({"-d", "m0.bin", "/dev/stdout", "0"}, dir, pipeEnds[1]);
  close(pipeEnds[1]);
  ASSERT_GT(pid, 0);
  const auto running = [&] {  // neither sleeping nor ended, by the state after the name
    const std::string fields = testing::readFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t name = fields.rfind(')');
    return name != std::string::npos && name + 2 < fields.size() && fields[name + 2] != 'S' && fields[name + 2] != 'Z';
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::string received;
  char chunk[65536];
  for (ssize_t got; (got = read(pipeEnds[0], chunk, sizeof chunk)) > 0;) received.append(chunk, static_cast<size_t>(got));
  close(pipeEnds[0]);
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(received, expected + counted.out + testing::readFile(path("m0.obj")));

  // Standard output that refuses what is printed fails the command once its files are
  // in place; a command that fails otherwise says why.
  for (const auto& [redirection, reason] : {std::pair<std::string, std::string>{">/dev/full", "No space left on device"},
                                            {">&-", "Bad file descriptor"}}) {
    SCOPED_TRACE(redirection);
    fs::remove(path("c.bin"));
    RunResult r = testing::runMeshcodec({"-e", "in.obj", "c.bin", "0.01", "1"}, dir, 0, redirection);
    EXPECT_EQ(r.status, static_cast<int>(ErrorKind::IoFailure));
    EXPECT_EQ(r.err, "meshcodec: error: standard output: cannot write: " + reason + "\n");
    EXPECT_EQ(testing::readFile(path("c.bin")), bytes);
    r = testing::runMeshcodec({"-e", "missing.obj", "c.bin", "0.01", "1"}, dir, 0, redirection);
    EXPECT_EQ(r.status, static_cast<int>(ErrorKind::UnreadableInput));
  }
}

TEST_F(StaticPipelinesTest, StaticInputMayBeStandardInputOrAFifo) {
  // Only animation frames must be regular files.
  writeMesh(testing::uvSphere(10, 12), "in.obj");
  ASSERT_EQ(run({"-r", "in.obj", "a.obj"}).status, 0);
  const RunResult s = testing::runMeshcodec({"-r", "/dev/stdin", "b.obj"}, dir, 0, "<in.obj");
  ASSERT_EQ(s.status, 0) << s.err;
  EXPECT_EQ(testing::readFile(path("b.obj")), testing::readFile(path("a.obj")));
  ASSERT_EQ(mkfifo(path("in.fifo").c_str(), 0600), 0);
  std::thread writer([&] { std::ofstream(path("in.fifo")) << testing::readFile(path("in.obj")); });
  const RunResult f = run({"-r", "in.fifo", "c.obj"});
  // Lets the writer finish should the program not have read the FIFO.
  const int unblock = open(path("in.fifo").c_str(), O_RDONLY | O_NONBLOCK);
  writer.join();
  close(unblock);
  ASSERT_EQ(f.status, 0) << f.err;
  EXPECT_EQ(testing::readFile(path("c.obj")), testing::readFile(path("a.obj")));
  // A compressed file too, read through a pipe only as far as decoding needs.
  ASSERT_EQ(run({"-e", "in.obj", "in.bin", "0.01", "0"}).status, 0);
  ASSERT_EQ(run({"-d", "in.bin", "d.obj", "0"}).status, 0);
  const RunResult p = testing::runMeshcodec({"-d", "/dev/stdin", "e.obj", "0"}, dir, 0, "",
                                            {"sh", "-c", "cat in.bin | \"$0\" \"$@\""});
  ASSERT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(testing::readFile(path("e.obj")), testing::readFile(path("d.obj")));
  // A socket, as a parent process hands one over, cannot be opened again by name: it
  // is read through the descriptor.
  for (const auto& [args, input, expected] :
       {std::tuple<std::vector<std::string>, std::string, std::string>{{"-r", "/dev/stdin", "f.obj"}, "in.obj", "a.obj"},
        {{"-d", "/dev/fd/0", "f.obj", "0"}, "in.bin", "d.obj"}}) {
    SCOPED_TRACE(args[0]);
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    const std::string bytes = testing::readFile(path(input));
    const bool written = write(ends[1], bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    shutdown(ends[1], SHUT_WR);
    const RunResult r = testing::runMeshcodec(args, dir, 0, "<&" + std::to_string(ends[0]));
    close(ends[0]);
    close(ends[1]);
    ASSERT_TRUE(written);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(testing::readFile(path("f.obj")), testing::readFile(path(expected)));
  }
}

TEST_F(StaticPipelinesTest, ReindexReadsBackTheCoordinatesItWrites) {
  // Six digits write DBL_MIN as a number just below it, a subnormal; tinier ones stay
  // subnormal.
  Mesh mesh = testing::octahedron();
  mesh.getVertices()(0, 0) = DBL_MIN;
  mesh.getVertices()(1, 1) = -1e-310;
  writeMesh(mesh, "tiny.obj");
  ASSERT_EQ(run({"-r", "tiny.obj", "a.obj"}).status, 0);
  const RunResult again = run({"-r", "a.obj", "b.obj"});
  ASSERT_EQ(again.status, 0) << again.err;
  const std::string written = testing::readFile(path("b.obj"));
  EXPECT_NE(written.find(" 2.22507e-308"), std::string::npos) << written;
  EXPECT_NE(written.find(" -1e-310"), std::string::npos) << written;
}

TEST_F(StaticPipelinesTest, NumericArgumentsTakeTheirLeadingNumber) {
  writeMesh(testing::uvSphere(10, 12), "in.obj");
  ASSERT_EQ(run({"-e", "in.obj", "a.bin", "0.01x", "2.7"}).status, 0);
  ASSERT_EQ(run({"-e", "in.obj", "b.bin", "0.01", "2"}).status, 0);
  EXPECT_EQ(testing::readFile(path("a.bin")), testing::readFile(path("b.bin")));
  ASSERT_EQ(run({"-d", "a.bin", "a.obj", "2abc"}).status, 0);
  ASSERT_EQ(run({"-d", "a.bin", "b.obj", "2"}).status, 0);
  EXPECT_EQ(testing::readFile(path("a.obj")), testing::readFile(path("b.obj")));
}

// Writes the header fields of a compressed file followed by `rest`.
std::string header(float q, int32_t triangles, int32_t vertices) {
  std::string h(12, '\0');
  testing::setFloatAt(h, 0, q);
  testing::setInt32At(h, 4, triangles);
  testing::setInt32At(h, 8, vertices);
  return h;
}

// Offset of what follows the n arithmetic blocks that start at `at`.
std::size_t skipBlocks(const std::string& bytes, std::size_t at, int n) {
  for (int i = 0; i < n; ++i) at += 8 + testing::uint32At(bytes, at + 4);
  return at;
}

// The file with its block at `at` coded anew with `extra` more entries of 0.
std::string withExtraEntries(const std::string& bytes, std::size_t at, bool withSign, int extra) {
  std::stringstream in(bytes.substr(at)), out;
  std::vector<int> values = ArithCoder::decode(in, withSign);
  values.resize(values.size() + static_cast<std::size_t>(extra), 0);
  ArithCoder::encode(values, out, withSign);
  return bytes.substr(0, at) + out.str() + bytes.substr(skipBlocks(bytes, at, 1));
}

TEST_F(StaticPipelinesTest, BadInputsEndInOneErrorLineAndKeepEarlierFiles) {
  writeMesh(testing::uvSphere(8, 10), "in.obj");
  ASSERT_EQ(run({"-e", "in.obj", "good.bin", "0.01", "0"}).status, 0);
  const std::string good = testing::readFile(path("good.bin"));
  fs::create_directory(path("a_directory"));
  const std::string connectivityAndGeometry = good.substr(12);
  {
    std::ofstream(path("not_obj.obj")) << "v 1 2\n";
    std::ofstream(path("border.obj")) << "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    // Tetrahedra whose average edge length overflows a float, or times the step underflows.
    const std::string faces = "f 1 3 2\nf 1 2 4\nf 2 3 4\nf 3 1 4\n";
    std::ofstream(path("huge.obj")) << "v 0 0 0\nv 1e39 0 0\nv 0 1e39 0\nv 0 0 1e39\n" << faces;
    std::ofstream(path("tiny.obj")) << "v 0 0 0\nv 1e-30 0 0\nv 0 1e-30 0\nv 0 0 1e-30\n" << faces;
    std::ofstream(path("unused.obj")) << testing::readFile(path("in.obj")) << "v 5 5 5\n";
    std::ofstream(path("comma.obj")) << "v 0 0 0\nv 0,25 0.1 0.2\nf 1 2 1\n";
    std::string loneCr = testing::readFile(path("in.obj"));
    std::replace(loneCr.begin(), loneCr.end(), '\n', '\r');
    std::ofstream(path("lone_cr.obj")) << loneCr;
    Mesh nan = testing::uvSphere(8, 10);
    nan.getVertices()(2, 1) = NAN;
    writeMesh(nan, "nan.obj");
    fs::create_directory(path("dir.bin"));
    auto write = [&](const std::string& name, const std::string& bytes) {
      std::ofstream(path(name), std::ios::binary) << bytes;
    };
    write("short.bin", good.substr(0, 7));
    write("truncated.bin", good.substr(0, good.size() - 3));
    write("trailing.bin", good + "x");
    write("after_a_line.bin", "a line\n" + good + "x");
    write("zero_triangles.bin", header(0.01f, 0, 82) + connectivityAndGeometry);
    write("negative_vertices.bin", header(0.01f, 160, -82) + connectivityAndGeometry);
    write("too_many_vertices.bin", header(0.01f, 160, 1000) + connectivityAndGeometry);
    write("nan_step.bin", header(NAN, 160, 82) + connectivityAndGeometry);
    write("negative_step.bin", header(-0.01f, 160, 82) + connectivityAndGeometry);
    write("wrong_triangles.bin", header(0.01f, 158, 80) + connectivityAndGeometry);
    write("huge_triangles.bin", header(0.01f, INT32_MAX, 82) + connectivityAndGeometry);
    // A header of 8 triangles and a symbol block that announces 1 value in 2^31 - 1
    // code bytes, far more than a value needs.
    write("endless_prefix.bin", header(0.01f, 8, 6) + std::string("\1\0\0\0\xff\xff\xff\x7f", 8));
    // Blocks of an octahedron's method-3 file holding more entries than the mesh
    // needs: symbols, handles, anchors, anchor coordinates, columns in turn.
    writeMesh(testing::octahedron(), "octahedron.obj");
    ASSERT_EQ(run({"-e", "octahedron.obj", "octahedron.bin", "0.01", "3"}).status, 0);
    const std::string octahedron = testing::readFile(path("octahedron.bin"));
    write("long_symbols.bin", withExtraEntries(octahedron, 12, false, 1));
    write("long_coordinates.bin", withExtraEntries(octahedron, skipBlocks(octahedron, 12, 3), true, 4));
    write("long_column.bin", withExtraEntries(octahedron, skipBlocks(octahedron, 12, 4), true, 500));
  }
  // Reindexing does no arithmetic on positions and copies them as they are.
  ASSERT_EQ(run({"-r", "nan.obj", "nan_r.obj"}).status, 0);
  struct Case {
    std::vector<std::string> args;
    ErrorKind kind;
    std::string file;  // named by the error, and the line where one is at fault
    std::string reason = "";  // a part of the error line, where it matters
    std::string redirections = "";
    std::vector<std::string> wrapper = {};
  };
  fs::create_symlink("map.txt", path("map_link.bin"));
  fs::create_hard_link(path("in.obj"), path("in_hard.obj"));
  fs::copy_file(path("in.obj"), path("appended.obj"));
  const std::string tooSmall = "in.obj: quantization 1e-09 is too small for this mesh";
  const std::string in = testing::readFile(path("in.obj")), map = testing::readFile(path("map.txt"));
  const Case cases[] = {
      {{"-e", "missing.obj", "good.bin", "0.01", "0"}, ErrorKind::UnreadableInput, "missing.obj"},
      {{"-e", "not_obj.obj", "good.bin", "0.01", "0"}, ErrorKind::MalformedObj, "not_obj.obj"},
      {{"-e", "border.obj", "good.bin", "0.01", "0"}, ErrorKind::OutOfDomain, "border.obj"},
      {{"-e", "unused.obj", "good.bin", "0.01", "0"}, ErrorKind::OutOfDomain, "unused.obj"},
      {{"-e", "comma.obj", "good.bin", "0.01", "0"}, ErrorKind::MalformedObj, "comma.obj: line 2",
       "vertex coordinate 1 is not a number: ' 0,25'"},
      {{"-e", "lone_cr.obj", "good.bin", "0.01", "0"}, ErrorKind::MalformedObj, "lone_cr.obj",
       "the file has no face lines; lines seem to end in a lone carriage return"},
      {{"-e", "nan.obj", "good.bin", "0.01", "0"}, ErrorKind::OutOfDomain, "nan.obj: line 3"},
      {{"-e", "huge.obj", "good.bin", "0.01", "0"}, ErrorKind::OutOfDomain, "huge.obj",
       "the average edge length overflows a float"},
      {{"-e", "tiny.obj", "good.bin", "1e-20", "0"}, ErrorKind::BadArgument, "tiny.obj",
       "quantization 1e-20 times the average edge length"},
      {{"-e", "in.obj", "good.bin", "0", "0"}, ErrorKind::BadArgument, "",
       "argument 4 (quantization): '0' is not a positive number"},
      {{"-e", "in.obj", "good.bin", "-1", "0"}, ErrorKind::BadArgument, ""},
      // So small a step that indices saturate.
      {{"-e", "in.obj", "good.bin", "1e-9", "0"}, ErrorKind::BadArgument, "in.obj", tooSmall},
      {{"-e", "in.obj", "good.bin", "1e-9", "1"}, ErrorKind::BadArgument, "in.obj", tooSmall},
      {{"-e", "in.obj", "good.bin", "1e-9", "2"}, ErrorKind::BadArgument, "in.obj", tooSmall},
      {{"-e", "in.obj", "good.bin", "1e-9", "3"}, ErrorKind::BadArgument, "in.obj", tooSmall},
      {{"-e", "in.obj", "no_such_dir/x.bin", "0.01", "0"}, ErrorKind::IoFailure, "no_such_dir/x.bin"},
      {{"-e", "in.obj", "a_directory", "0.01", "0"}, ErrorKind::IoFailure, "a_directory", "Is a directory"},
      {{"-e", "in.obj", std::string(256, 'n'), "0.01", "0"}, ErrorKind::IoFailure, std::string(256, 'n'),
       "File name too long"},
      // Beyond the file-size limit a write fails, as on a full disk.
      {{"-d", "good.bin", "big.obj", "0"}, ErrorKind::IoFailure, "big.obj", "File too large", "",
       {"prlimit", "--fsize=1024"}},
      // Outputs are checked before the input is read.
      {{"-e", "missing.obj", "no_such_dir/x.bin", "0.01", "0"}, ErrorKind::IoFailure, "no_such_dir/x.bin"},
      {{"-d", "missing.bin", "no_such_dir/x.obj", "0"}, ErrorKind::IoFailure, "no_such_dir/x.obj"},
      {{"-r", "missing.obj", "good.bin/x.obj"}, ErrorKind::IoFailure, "good.bin/x.obj", "Not a directory"},
      // A working directory that has been removed takes no new file.
      {{"-d", "missing.bin", "x.obj", "0"}, ErrorKind::IoFailure, "x.obj", "No such file or directory", "",
       {"sh", "-c", "mkdir gone && cd gone && rmdir ../gone && exec \"$0\" \"$@\""}},
      {{"-e", "in.obj", "", "0.01", "0"}, ErrorKind::IoFailure, "''", "not a file name"},
      {{"-e", "in.obj", "map.txt", "0.01", "0"}, ErrorKind::BadArgument, "map.txt",
       "the same file as map.txt, another output of the command"},
      {{"-e", "in.obj", "map_link.bin", "0.01", "0"}, ErrorKind::BadArgument, "map_link.bin", "as map.txt"},
      // An output that is the input, through links and hard links too.
      {{"-e", "map.txt", "x.bin", "0.01", "0"}, ErrorKind::BadArgument, "map.txt",
       "the same file as map.txt, an input of the command"},
      {{"-e", "in.obj", "in.obj", "0.01", "0"}, ErrorKind::BadArgument, "in.obj", "as in.obj, an input"},
      {{"-d", "good.bin", "good.bin", "0"}, ErrorKind::BadArgument, "good.bin", "as good.bin, an input"},
      {{"-r", "in.obj", "in_hard.obj"}, ErrorKind::BadArgument, "in_hard.obj", "as in.obj, an input"},
      {{"-r", "map_link.bin", "map.txt"}, ErrorKind::BadArgument, "map.txt", "as map_link.bin, an input"},
      // Standard output open on an input, or on map.txt, whatever the outputs: refused
      // before the banner, which would change the file.
      {{"-r", "appended.obj", "/dev/stdout"}, ErrorKind::BadArgument, "standard output",
       "the same file as appended.obj, an input of the command", ">>appended.obj"},
      {{"-d", "good.bin", "/dev/stdout", "0"}, ErrorKind::BadArgument, "standard output", "as good.bin, an input",
       ">>good.bin"},
      {{"-d", "good.bin", "x.obj", "0"}, ErrorKind::BadArgument, "standard output", "as good.bin, an input",
       "1<>good.bin"},
      {{"-e", "in.obj", "/dev/stdout", "0.01", "0"}, ErrorKind::BadArgument, "standard output",
       "the same file as map.txt, an output of the command", ">>map.txt"},
      // Written directly, through a descriptor open on the input (after the banner).
      {{"-r", "in.obj", "/proc/self/fd/7"}, ErrorKind::BadArgument, "/proc/self/fd/7", "as in.obj, an input",
       "7<>in.obj"},
      // A descriptor that was not open when the program started, or a name the kernel
      // does not give one (refused before the input is read).
      {{"-d", "missing.bin", "/dev/fd/01", "0"}, ErrorKind::IoFailure, "/dev/fd/01", "No such file or directory"},
      {{"-e", "in.obj", "/dev/stdout", "0.01", "0"}, ErrorKind::IoFailure, "/dev/stdout", "", ">&-"},
      {{"-r", "missing.obj", "good.bin"}, ErrorKind::UnreadableInput, "missing.obj"},
      {{"-r", "good.bin", "x.obj"}, ErrorKind::MalformedObj, "good.bin", "not OBJ text: byte"},
      {{"-d", "missing.bin", "good.bin", "0"}, ErrorKind::UnreadableInput, "missing.bin",
       "cannot open the compressed file: No such file or directory"},
      {{"-d", "dir.bin", "good.bin", "0"}, ErrorKind::UnreadableInput, "dir.bin"},
      {{"-d", "short.bin", "good.bin", "0"}, ErrorKind::CorruptStream, "short.bin"},
      {{"-d", "truncated.bin", "good.bin", "0"}, ErrorKind::CorruptStream, "truncated.bin"},
      {{"-d", "trailing.bin", "good.bin", "0"}, ErrorKind::CorruptStream, "trailing.bin",
       "1 bytes follow the last sub-stream of method 0"},
      // Through a pipe what follows is not read to be counted: it may never end.
      {{"-d", "/dev/stdin", "good.bin", "0"}, ErrorKind::CorruptStream, "/dev/stdin",
       ": bytes follow the last sub-stream of method 0", "", {"sh", "-c", "cat trailing.bin | \"$0\" \"$@\""}},
      // Standard input is read from where it stands, and what follows is counted from there.
      {{"-d", "/dev/stdin", "good.bin", "0"}, ErrorKind::CorruptStream, "/dev/stdin",
       ": 1 bytes follow the last sub-stream of method 0", "",
       {"sh", "-c", "{ read -r line; exec \"$0\" \"$@\"; } <after_a_line.bin"}},
      {{"-d", "zero_triangles.bin", "good.bin", "0"}, ErrorKind::CorruptStream, "zero_triangles.bin"},
      {{"-d", "negative_vertices.bin", "good.bin", "0"}, ErrorKind::CorruptStream, "negative_vertices.bin"},
      {{"-d", "too_many_vertices.bin", "good.bin", "0"}, ErrorKind::CorruptStream, "too_many_vertices.bin"},
      {{"-d", "nan_step.bin", "good.bin", "0"}, ErrorKind::CorruptStream, "nan_step.bin"},
      // Numbers as %g prints them. A refusal before the geometry, of a file that looks
      // like no other kind, gets no guess added.
      {{"-d", "negative_step.bin", "good.bin", "0"}, ErrorKind::CorruptStream, "negative_step.bin",
       "header: quantization step -0.01 is not a positive number\n"},
      {{"-d", "wrong_triangles.bin", "good.bin", "0"}, ErrorKind::CorruptStream, "wrong_triangles.bin",
       "symbol block: 159 symbols, not the 157 of 158 triangles\n"},
      {{"-d", "huge_triangles.bin", "good.bin", "0"}, ErrorKind::CorruptStream, "huge_triangles.bin"},
      // Refused at the block's header, not read on to its announced end.
      {{"-d", "/dev/stdin", "good.bin", "0"}, ErrorKind::CorruptStream, "/dev/stdin",
       "connectivity: symbol block: arithmetic block at byte 12: 1 values need at most 60 code bytes, not 2147483647",
       "", {"sh", "-c", "cat endless_prefix.bin /dev/zero | \"$0\" \"$@\""}},
      {{"-d", "long_symbols.bin", "good.bin", "3"}, ErrorKind::CorruptStream, "long_symbols.bin",
       "connectivity: symbol block: 8 symbols, not the 7 of 8 triangles"},
      {{"-d", "long_coordinates.bin", "good.bin", "3"}, ErrorKind::CorruptStream, "long_coordinates.bin",
       "geometry: anchor coordinate block holds 7 entries, 3 needed"},
      {{"-d", "long_column.bin", "good.bin", "3"}, ErrorKind::CorruptStream, "long_column.bin",
       "geometry: block of column 0 holds 505 entries, 5 needed"},
      // Easy mistakes, since a file records neither its kind nor its method.
      {{"-d", "in.obj", "good.bin", "0"}, ErrorKind::CorruptStream, "in.obj",
       "; the file looks like OBJ text, not a compressed file\n"},
      {{"-d", "good.bin", "x.obj", "1"}, ErrorKind::CorruptStream, "good.bin",
       "; a file decoded with another method number than it was encoded with fails like this\n"},
      // A failed command prints its error and not the note of a method without a coder.
      {{"-d", "good.bin", "/dev/null", "7"}, ErrorKind::IoFailure, "standard output", "", ">/dev/full"},
      // An empty input name is named as an empty output name is.
      {{"-e", "", "x.bin", "0.01", "0"}, ErrorKind::UnreadableInput, "''"},
      {{"-d", "", "x.obj", "0"}, ErrorKind::UnreadableInput, "''"},
      {{"-r", "", "x.obj"}, ErrorKind::UnreadableInput, "''"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args.back());
    const size_t filesBefore = std::distance(fs::directory_iterator(dir), fs::directory_iterator());
    const RunResult r = testing::runMeshcodec(c.args, dir, 0, c.redirections, c.wrapper);
    EXPECT_EQ(r.status, static_cast<int>(c.kind));
    const std::string prefix = "meshcodec: error: " + (c.file.empty() ? "" : c.file + ": ");
    EXPECT_EQ(r.err.rfind(prefix, 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    if (c.args[0] == "-e") {
      EXPECT_EQ(withoutBanner(r.out), "");  // no position of a file not written
    }
    // The earlier output and every input survive and nothing new (no temporary, no
    // map) is left.
    EXPECT_EQ(testing::readFile(path("good.bin")), good);
    EXPECT_EQ(testing::readFile(path("in.obj")), in);
    EXPECT_EQ(testing::readFile(path("map.txt")), map);
    EXPECT_EQ(testing::readFile(path("appended.obj")), in);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()),
              static_cast<long>(filesBefore));
  }
}

TEST_F(StaticPipelinesTest, AnotherUsersFileInAStickyDirectoryIsRefusedBeforeTheWork) {
  // As nobody, in a sticky world-writable directory where map.txt is root's, as in a
  // shared temporary directory: the kernel would refuse that rename, so neither output
  // is written. Once map.txt is nobody's, both are.
  if (geteuid() != 0) GTEST_SKIP() << "only root may run the program as another user";
  const std::vector<std::string> asNobody = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  ASSERT_EQ(chmod(dir.c_str(), 01777), 0);
  writeMesh(testing::uvSphere(8, 10), "in.obj");
  std::ofstream(path("map.txt")) << "root's";
  if (testing::runMeshcodec({}, dir, 0, "", asNobody).status != 0) GTEST_SKIP() << "nobody cannot run the program";
  const std::vector<std::string> args = {"-e", "in.obj", "out.bin", "0.01", "0"};
  RunResult r = testing::runMeshcodec(args, dir, 0, "", asNobody);
  EXPECT_EQ(r.status, static_cast<int>(ErrorKind::IoFailure));
  EXPECT_EQ(r.err, "meshcodec: error: map.txt: cannot replace the output file: it belongs to another user in a "
                   "sticky directory\n");
  EXPECT_EQ(testing::readFile(path("map.txt")), "root's");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
  ASSERT_EQ(chown(path("map.txt").c_str(), 65534, 65534), 0);
  r = testing::runMeshcodec(args, dir, 0, "", asNobody);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(path("out.bin")));
}

TEST(StaticDecodeSweeps, DamagedFilesEndInAnErrorOrAFiniteMesh) {
  // Every truncated prefix, every single-bit flip of the first bytes and a sample of
  // the rest: decoding must throw a CodecError or produce finite positions, under
  // every method number.
  const std::string dir = testing::makeTempDir("sweep");
  Mesh mesh = testing::uvSphere(6, 9);
  testing::writeObj(mesh, dir + "/in.obj");
  for (int method = 0; method <= 3; ++method) {
    SCOPED_TRACE(method);
    const std::string genuine = dir + "/genuine.bin";
    {
      testing::ScopedCurrentDir cwd(dir);
      encode(dir + "/in.obj", genuine, 0.01f, method);
    }
    const std::string bytes = testing::readFile(genuine);
    auto attempt = [&](const std::string& damaged) {
      std::ofstream(dir + "/damaged.bin", std::ios::binary) << damaged;
      try {
        decode(dir + "/damaged.bin", dir + "/out.obj", method);
        const Mesh out = MeshObjLoader(dir + "/out.obj").Load();
        EXPECT_TRUE(out.getVertices().allFinite());
      } catch (const CodecError&) {
      }
    };
    for (size_t n = 0; n < bytes.size(); ++n) attempt(bytes.substr(0, n));
    for (size_t i = 0; i < bytes.size(); i += (i < 64 ? 1 : 7)) {
      for (int bit = 0; bit < 8; ++bit) {
        std::string flipped = bytes;
        flipped[i] = static_cast<char>(flipped[i] ^ (1 << bit));
        attempt(flipped);
      }
    }
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace meshcodec
