#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/CodecError.hpp"
#include "common/OutputFile.hpp"
#include "support/CommandRunner.hpp"

namespace meshcodec {
namespace {

namespace fs = std::filesystem;

class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testing::makeTempDir("outfile");
    target = dir + "/out.txt";
    std::ofstream(target) << "earlier";
  }
  void TearDown() override { fs::remove_all(dir); }

  // The target's content, and that nothing else is in the directory.
  std::string onlyTarget() const {
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    return testing::readFile(target);
  }

  std::string dir, target;
};

TEST_F(OutputFileTest, CommitReplacesTheTarget) {
  OutputFile file(target);
  file.stream() << "new content";
  EXPECT_EQ(testing::readFile(target), "earlier");  // nothing visible before commit
  file.commit();
  EXPECT_EQ(onlyTarget(), "new content");
  EXPECT_THROW(file.commit(), Misuse);
}

TEST_F(OutputFileTest, AbandonedOrFailedOutputLeavesTheEarlierFile) {
  {
    OutputFile file(target);
    file.stream() << "half of it";
  }
  EXPECT_EQ(onlyTarget(), "earlier");

  OutputFile failed(target);
  failed.stream() << "written";
  failed.stream().setstate(std::ios::badbit);  // as a failed write leaves it
  EXPECT_THROW(failed.commit(), IoFailure);
  EXPECT_EQ(onlyTarget(), "earlier");
}

TEST_F(OutputFileTest, UnwritablePlacesAreIoFailures) {
  fs::create_directory(dir + "/sub");
  for (const std::string& path : {dir + "/missing/out.txt", target + "/below-a-file", dir + "/"}) {
    SCOPED_TRACE(path);
    try {
      OutputFile file(path);
      ADD_FAILURE() << "created";
    } catch (const IoFailure& e) {
      EXPECT_EQ(e.file(), path);
    }
  }
  OutputFile ontoDirectory(dir + "/sub");
  EXPECT_THROW(ontoDirectory.commit(), IoFailure);
  EXPECT_TRUE(fs::is_directory(dir + "/sub"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace meshcodec
