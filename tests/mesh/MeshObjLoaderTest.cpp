#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <unistd.h>

#include "common/CodecError.hpp"
#include "mesh/MeshObjLoader.hpp"
#include "support/CommandRunner.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

using Rows = std::vector<std::array<double, 3>>;
using Tris = std::vector<std::array<unsigned, 3>>;

struct ReadCase {
  const char* name;
  std::string text;
  Rows vertices;
  Tris triangles;
};

// Loads text through a pipe: a file of unknown size, of which the reader keeps only
// the vertex and face lines. The texts are small enough to fit the pipe's buffer.
Mesh loadThroughPipe(const std::string& text, Coordinates accepted = Coordinates::Any) {
  int ends[2];
  if (pipe(ends) != 0) throw std::runtime_error("no pipe");
  const bool written = write(ends[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(ends[1]);
  struct Closer {
    int descriptor;
    ~Closer() { close(descriptor); }
  } reading{ends[0]};
  if (!written) throw std::runtime_error("the pipe took part of the text");
  return MeshObjLoader("/dev/fd/" + std::to_string(ends[0]), accepted).Load();
}

const std::string kTriangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
const std::string kNine = kTriangle + kTriangle + kTriangle;
const Rows kTriangleRows = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
const Rows kNineRows = [] {
  Rows rows;
  for (int i = 0; i < 3; ++i) rows.insert(rows.end(), kTriangleRows.begin(), kTriangleRows.end());
  return rows;
}();

TEST(MeshObjLoader, ReadsTheSubsetAndSkipsTheRest) {
  const double inf = INFINITY;
  const ReadCase cases[] = {
      {"triangle", kTriangle + "f 1 2 3\n", kTriangleRows, {{0, 1, 2}}},
      {"fourth corner dropped", kTriangle + "v 1 1 0\nf 1 2 3 4\n",
       {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{0, 1, 2}}},
      {"fields past the third not read", "v 1 2 3 0,4\nf 1 1 1 x\n", {{1, 2, 3}}, {{0, 0, 0}}},
      {"carriage returns", "v 1 2 3\r\nv 4 5 6\r\nv 7 8 9\r\nf 1 2 3\r\n",
       {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {{0, 1, 2}}},
      {"tabs separate fields as spaces do",
       "v\t1\t2\t3\nv 4\t5 6\t# c\nv 7 8 9\nf\t1\t2\t3\nf 3/1\t2//2 1\n",
       {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {{0, 1, 2}, {2, 1, 0}}},
      {"runs of blanks separate fields as one does",
       "v  1 2\t\t 3\nv 4   5 6 \nv\t 7 8  9\r\nf  1 \t2   3\nf 3/1  2//2\t\t1 \n",
       {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {{0, 1, 2}, {2, 1, 0}}},
      {"normals, texture coordinates, comments", "# c\nvn 0 0 1\nvt 0.5 0.5\nv 1 2 3\nf 1 1 1\n",
       {{1, 2, 3}}, {{0, 0, 0}}},
      {"byte order mark, blanks before keywords", "\xEF\xBB\xBF v 0 0 0\n\tv 1 0 0\nv 0 1 0\n \tf 1 2 3\n",
       kTriangleRows, {{0, 1, 2}}},
      {"slash forms give the index", kNine + "f 1/2/3 4/5/6 7/8/9\nf 1//3 4//6 7//9\nf 1 4 7\n",
       kNineRows, {{0, 3, 6}, {0, 3, 6}, {0, 3, 6}}},
      {"face runs split by a group", kTriangle + "f 1 2 3\ng part2\nf 3 2 1\n\nf 2 3 1",
       kTriangleRows, {{0, 1, 2}, {2, 1, 0}, {1, 2, 0}}},
      {"number forms of stod", "v 0x1p3 +1.5e1 -inf\nv 1 .5 -0\nf 1 2 1\n",
       {{8, 15, -inf}, {1, 0.5, 0}}, {{0, 1, 0}}},
      {"any line that starts with f is a face line", kTriangle + "fo 1 2 3\nf9 3 2 1\n", kTriangleRows,
       {{0, 1, 2}, {2, 1, 0}}},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (const Mesh& mesh : {MeshObjLoader("in.obj").parse(c.text), loadThroughPipe(c.text)}) {
      const VertexMatrix& v = mesh.getVertices();
      ASSERT_EQ(v.rows(), static_cast<Eigen::Index>(c.vertices.size()));
      for (size_t i = 0; i < c.vertices.size(); ++i) {
        EXPECT_EQ((std::array<double, 3>{v(i, 0), v(i, 1), v(i, 2)}), c.vertices[i]) << "row " << i;
      }
      EXPECT_EQ(mesh.getTriangles(), TriangleList(c.triangles.begin(), c.triangles.end()));
    }
  }
  EXPECT_TRUE(std::signbit(MeshObjLoader("in.obj").parse("v -0 0 0\nf 1 1 1\n").getVertices()(0, 0)));
}

TEST(MeshObjLoader, MalformedLinesNameFileAndLine) {
  const struct {
    std::string text;
    const char* reason;
  } cases[] = {
      {"v 0 0 0\nv 1 2\nf 1 1 1\n", "line 2: vertex line has fewer than three coordinates"},
      {"v 1 2 \t \nf 1 1 1\n", "line 1: vertex line has fewer than three coordinates"},
      // Control bytes are shown escaped, so that the message stays whole and inert.
      {"v 1 \x1b[2J\x7f 3\nf 1 1 1\n", "line 1: vertex coordinate 2 is not a number: ' \\x1b[2J\\x7f'"},
      {"v 1 2 3\nf 1 1\v1\n", "line 2: face corner 2 is not a number: ' 1\\x0b1'"},
      {std::string("v 0 0 0\nv 1 \0 2 3\nf 1 2 3\n", 26),
       "line 2: vertex coordinate 2 is not a number: ' \\x00'"},
      {"v 1 2 1e999\nf 1 1 1\n", "line 1: vertex coordinate 3 is out of range: ' 1e999'"},
      {"v 0,25 0.1 0.2\nf 1 1 1\n", "line 1: vertex coordinate 1 is not a number: ' 0,25'"},
      {"v 0 0 0.25abc\r\nf 1 1 1\n", "line 1: vertex coordinate 3 is not a number: ' 0.25abc'"},
      {kTriangle + "f 1 2.0 3\n", "line 4: face corner 2 is not a number: ' 2.0'"},
      {kTriangle + "f 1 2 0x3\n", "line 4: face corner 3 is not a number: ' 0x3'"},  // decimal only
      {kTriangle + "f 1 2 3x/3\n", "line 4: face corner 3 is not a number: ' 3x'"},
      {"", "the file has no vertex lines"},
      // Lines that are neither vertex nor face lines still count.
      {"# c\n\n\tvn 0 0 1\r\nv 0 0 0\n v 1 2\nf 1 1 1\n", "line 5: vertex line has fewer than three coordinates"},
      {"v 0 0 0\n# a\rb\n", "the file has no face lines; lines seem to end in a lone carriage return"},
      {kTriangle, "the file has no face lines"},
      {"# c\rv 0 0 0\rf 1 1 1\r",
       "the file has no vertex lines; lines seem to end in a lone carriage return"},
      {kTriangle + "f 1 2 \t\n", "line 4: face line has fewer than three corners"},
      {kTriangle + "f 1 -18446744073709551614 3\n",
       "line 4: face corner 2 is a negative index; relative indices are not read: "
       "' -18446744073709551614'"},
      {kTriangle + "f 1 2 -0/1\n", "line 4: face corner 3 is a negative index"},
      {kTriangle + "f 18446744073709551615 1 2\n",
       ULONG_MAX > 0xffffffffu ? "line 4: face corner 1 names vertex 18446744073709551615, but the file has 3"
                               : "line 4: face corner 1 is out of range"},
      {kTriangle + "f 1 2\n", "line 4: face line has fewer than three corners"},
      {kTriangle + "f 0 1 2\n", "line 4: face corner 1 is index 0; indices count from 1"},
      {kTriangle + "f 1 2 4\n",
       "line 4: face corner 3 names vertex 4, but the file has 3 vertex lines"},
      {kTriangle + "f -1 2 3\n", "line 4: face corner 1 is a negative index"},
      {kTriangle + "f 1 4294967297 3\n", ULONG_MAX > 0xffffffffu ? "line 4: face corner 2 names vertex 4294967297"
                                                               : "line 4: face corner 2 is out of range"},
      {kTriangle + "f 1 2 99999999999999999999\n", "line 4: face corner 3 is out of range"},
      // Vertex lines are converted before face lines, wherever they stand.
      {"f 1 2\nv x 0 0\n", "line 2: vertex coordinate 1 is not a number: ' x'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string reason;
    try {
      MeshObjLoader("bad.obj").parse(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const MalformedObj& e) {
      EXPECT_EQ(e.file(), "bad.obj");
      EXPECT_EQ(std::string(e.what()).rfind(c.reason, 0), 0u) << e.what();
      reason = e.what();
    }
    // The same error through a pipe, with the same line number; a NUL byte ends any read.
    if (c.text.find('\0') != std::string::npos) reason = "not OBJ text: byte 12 is NUL, which no text file holds";
    try {
      loadThroughPipe(c.text);
      ADD_FAILURE() << "accepted through a pipe";
    } catch (const MalformedObj& e) {
      EXPECT_EQ(e.what(), reason);
    }
  }
}

TEST(MeshObjLoader, FiniteCoordinatesOnlyWhenAsked) {
  const struct {
    std::string text;
    const char* reason;
  } cases[] = {
      {kTriangle + "v 1 nan 0\nv inf 0 0\nf 1 2 3\n", "line 4: vertex coordinate 2 is not finite: nan"},
      {"v 0 0 -infinity\nf 1 1 1\n", "line 1: vertex coordinate 3 is not finite: -inf"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_NO_THROW(MeshObjLoader("in.obj").parse(c.text));
    try {
      MeshObjLoader("in.obj", Coordinates::Finite).parse(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const OutOfDomain& e) {
      EXPECT_EQ(e.file(), "in.obj");
      EXPECT_EQ(std::string(e.what()), c.reason);
    }
  }
}

TEST(MeshObjLoader, LoadsFilesAndRejectsUnreadableOnes) {
  const std::string dir = testing::makeTempDir("objload");
  const Mesh torus = testing::gridTorus(7, 5);
  testing::writeObj(torus, dir + "/torus.obj");
  const Mesh loaded = MeshObjLoader(dir + "/torus.obj").Load();
  EXPECT_EQ(loaded.getTriangles(), torus.getTriangles());
  EXPECT_EQ(loaded.getVertices(), torus.getVertices());  // 17 digits read back exactly

  for (const std::string& path : {dir + "/missing.obj", dir}) {
    try {
      MeshObjLoader(path).Load();
      ADD_FAILURE() << path << " accepted";
    } catch (const UnreadableInput& e) {
      EXPECT_EQ(e.file(), path);
    }
  }
  // A NUL byte anywhere, even past the last line that is read, makes a file binary.
  std::ofstream(dir + "/binary.obj", std::ios::binary)
      << testing::readFile(dir + "/torus.obj") << std::string("# \0", 3);
  try {
    MeshObjLoader(dir + "/binary.obj").Load();
    ADD_FAILURE() << "binary file accepted";
  } catch (const MalformedObj& e) {
    const std::string at = std::to_string(std::filesystem::file_size(dir + "/binary.obj") - 1);
    EXPECT_EQ(std::string(e.what()), "not OBJ text: byte " + at + " is NUL, which no text file holds");
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace meshcodec
