#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/CodecError.hpp"
#include "mesh/DynamicMeshObjLoader.hpp"
#include "support/CommandRunner.hpp"

namespace meshcodec {
namespace {

namespace fs = std::filesystem;

using Files = std::map<std::string, std::string>;  // name -> content

std::string makeFrames(const std::string& tag, const Files& files) {
  const std::string dir = testing::makeTempDir(tag);
  for (const auto& [name, text] : files) std::ofstream(dir + "/" + name, std::ios::binary) << text;
  return dir;
}

const std::string kTriangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

TEST(DynamicMeshObjLoader, ListsWholeNameMatchesInByteOrder) {
  const struct {
    const char* name;
    std::vector<std::string> files, subdirs;
    std::string mask;
    std::vector<std::string> frames;
  } cases[] = {
      {"pattern", {"a.obj", "b.obj", "notes.txt"}, {}, "[a-z]\\.obj", {"a.obj", "b.obj"}},
      {"whole name", {"f1.obj"}, {}, "f[0-9]+", {}},
      {"byte-wise order", {"f1.obj", "f2.obj", "f10.obj"}, {}, "f[0-9]+\\.obj",
       {"f1.obj", "f10.obj", "f2.obj"}},
      {"subdirectory", {"f1.obj"}, {"f2.obj"}, "f[0-9]\\.obj", {"f1.obj", "f2.obj"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Files files;
    for (const std::string& f : c.files) files[f] = kTriangle;
    const std::string dir = makeFrames("frames-list", files);
    for (const std::string& d : c.subdirs) fs::create_directory(dir + "/" + d);
    std::vector<std::string> expected;
    for (const std::string& f : c.frames) expected.push_back(dir + "/" + f);
    EXPECT_EQ(DynamicMeshObjLoader(dir, c.mask).getFramesFiles(), expected);
    fs::remove_all(dir);
  }
}

TEST(DynamicMeshObjLoader, FacesFromFrameZeroPositionsFromEveryFrame) {
  const std::string dir = makeFrames(
      "frames-load",
      {{"f0.obj", "# frame 0\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1 2 3\nf 3 2 1\n"},
       // Faces of later frames are never read, even bad ones; vertex runs split by
       // other lines are read whole, and tabs separate fields, blanks may come before
       // a keyword and a byte order mark before the text as in frame 0.
       {"f1.obj", "v 0 0 1\nv\t1\t0\t1\ng x\nv 0 1 1\nf 9 9 9\n"},
       {"f2.obj", "\xEF\xBB\xBFv 0 0 2\r\n  v 1 0 2\r\n\tv 0 1 2\r\n"}});
  const std::vector<DynamicMesh> meshes = DynamicMeshObjLoader(dir, "f[0-9]\\.obj").Load();
  ASSERT_EQ(meshes.size(), 1u);
  EXPECT_EQ(meshes[0].getTriangles(), (TriangleList{{0, 1, 2}, {2, 1, 0}}));
  AnimationMatrix expected(9, 3);
  expected << 0, 1, 0, 0, 1, 0, 0, 1, 0,  // x of frames 0..2
      0, 0, 1, 0, 0, 1, 0, 0, 1,          // y
      0, 0, 0, 1, 1, 1, 2, 2, 2;          // z
  EXPECT_EQ(meshes[0].getVertices(), expected);
  fs::remove_all(dir);
}

TEST(DynamicMeshObjLoader, FaultsAreErrorsNamingTheirFile) {
  const struct {
    const char* name;
    Files files;
    const char* culprit;  // file named by the error
    ErrorKind kind;
    std::string reason;  // prefix of the message
    Coordinates accepted = Coordinates::Any;
  } cases[] = {
      {"bad line in a later frame", {{"f0.obj", kTriangle}, {"f1.obj", "v 0 0 0\nv 1 2\n"}},
       "f1.obj", ErrorKind::MalformedObj, "line 2: vertex line has fewer than three coordinates"},
      {"bad line in frame 0", {{"f0.obj", "v 1 2\nf 1 1 1\n"}, {"f1.obj", kTriangle}}, "f0.obj",
       ErrorKind::MalformedObj, "line 1: vertex line has fewer than three coordinates"},
      {"bad face index in frame 0", {{"f0.obj", "v 0 0 0\nf 1 1 2\n"}}, "f0.obj",
       ErrorKind::MalformedObj, "line 2: face corner 3 names vertex 2"},
      {"fewer vertices later", {{"f0.obj", kTriangle}, {"f1.obj", "v 0 0 0\nv 1 0 0\n"}},
       "f1.obj", ErrorKind::MalformedObj, "frame has 2 vertex lines, but frame 0 has 3"},
      {"more vertices later", {{"f0.obj", kTriangle}, {"f1.obj", kTriangle + "v 2 2 2\n"}},
       "f1.obj", ErrorKind::MalformedObj, "frame has 4 vertex lines, but frame 0 has 3"},
      {"lone carriage returns later", {{"f0.obj", kTriangle}, {"f1.obj", "v 0 0 0\rv 1 0 0\r"}},
       "f1.obj", ErrorKind::MalformedObj,
       "line 1: vertex coordinate 3 is not a number: ' 0\\rv'; lines seem to end in a lone "
       "carriage return"},
      {"no vertex line later", {{"f0.obj", kTriangle}, {"f1.obj", "# c\rv 0 0 0\r"}}, "f1.obj",
       ErrorKind::MalformedObj,
       "frame has 0 vertex lines, but frame 0 has 3; lines seem to end in a lone carriage return"},
      {"binary later frame", {{"f0.obj", kTriangle}, {"f1.obj", std::string("v 0 0 0\0\x01", 9)}},
       "f1.obj", ErrorKind::MalformedObj, "not OBJ text: byte 7 is NUL"},
      {"infinite coordinate in frame 0", {{"f0.obj", "v 0 0 0\nv 1 0 inf\nf 1 1 2\n"}}, "f0.obj",
       ErrorKind::OutOfDomain, "line 2: vertex coordinate 3 is not finite: inf", Coordinates::Finite},
      {"NaN in a later frame", {{"f0.obj", kTriangle}, {"f1.obj", "v 0 0 0\nv 1 0 0\nv nan 1 0\n"}},
       "f1.obj", ErrorKind::OutOfDomain, "line 3: vertex coordinate 1 is not finite: nan",
       Coordinates::Finite},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = makeFrames("frames-bad", c.files);
    const std::string culprit = dir + "/" + c.culprit;
    try {
      DynamicMeshObjLoader(dir, "f[0-9]\\.obj", c.accepted).Load();
      ADD_FAILURE() << "accepted";
    } catch (const CodecError& e) {
      EXPECT_EQ(e.kind(), c.kind);
      EXPECT_EQ(e.file(), culprit);
      EXPECT_EQ(std::string(e.what()).rfind(c.reason, 0), 0u) << e.what();
    }
    fs::remove_all(dir);
  }
}

TEST(DynamicMeshObjLoader, NoMatchMessageNamesDirectoryAndExpression) {
  const std::string dir = makeFrames("frames-none", {{"f1.obj", kTriangle}});
  try {
    DynamicMeshObjLoader(dir, "f[0-9]+").Load();
    ADD_FAILURE() << "accepted";
  } catch (const UnreadableInput& e) {
    EXPECT_EQ(std::string(e.what()), "no frame file in " + dir + " matches f[0-9]+");
    EXPECT_EQ(e.file(), dir);
  }
  fs::remove_all(dir);
}

TEST(DynamicMeshObjLoader, UnreadableFramesAndDirectoriesAreErrors) {
  const std::string dir =
      makeFrames("frames-unreadable", {{"f0.obj", kTriangle}, {"e.obj", "v 1 2\n"}});
  // A later frame that cannot be opened, and a matching subdirectory, do not repeat
  // the previous frame. A FIFO (which would block the reader), a device and a
  // directory are refused before any frame is read, even a bad frame 0 (e.obj).
  fs::create_symlink(dir + "/missing.obj", dir + "/f1.obj");
  fs::create_directory(dir + "/f2.obj");
  ASSERT_EQ(mkfifo((dir + "/f3.obj").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", dir + "/f4.obj");
  for (const auto& [mask, culprit] : std::map<std::string, std::string>{
           {"f[01]\\.obj", "f1.obj"}, {"f[02]\\.obj", "f2.obj"}, {"(e|f2)\\.obj", "f2.obj"},
           {"f[03]\\.obj", "f3.obj"}, {"(e|f3)\\.obj", "f3.obj"}, {"(e|f4)\\.obj", "f4.obj"}}) {
    SCOPED_TRACE(mask);
    try {
      DynamicMeshObjLoader(dir, mask).Load();
      ADD_FAILURE() << "accepted";
    } catch (const UnreadableInput& e) {
      EXPECT_EQ(e.file(), dir + "/" + culprit);
    }
  }
  for (const std::string& unlistable : {dir + "/none", dir + "/f0.obj"}) {
    try {
      DynamicMeshObjLoader(unlistable, ".*");
      ADD_FAILURE() << unlistable << " listed";
    } catch (const UnreadableInput& e) {
      EXPECT_EQ(e.file(), unlistable);
    }
  }
  EXPECT_THROW(DynamicMeshObjLoader(dir, "f[0-9"), BadArgument);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace meshcodec
