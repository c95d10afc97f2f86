#include "korva/hostkit/output_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "korva/hostkit/error.h"

namespace Korva::HostKit {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class AtomicFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (fs::temp_directory_path() / "korva-atomic-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    WriteTextAtomically(Path(), "old model");
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string Path() const { return (dir / "model.xml").string(); }
  std::string Read() const {
    std::ifstream in(Path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
      names.push_back(entry.path().filename().string());
    return names;
  }

  fs::path dir;
};

TEST_F(AtomicFile, ReplacesContentWithTheUsualModeAndNoTemporaryFile) {
  const mode_t old = ::umask(022);
  WriteTextAtomically(Path(), "new, longer model");
  ::umask(old);
  EXPECT_EQ(Read(), "new, longer model");
  EXPECT_THAT(Entries(), ElementsAre("model.xml"));
  struct stat info {};
  ASSERT_EQ(::stat(Path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u) << "not the private temporary mode";
}

TEST_F(AtomicFile, FailingWriterLeavesOldContentAndNoTemporaryFile) {
  EXPECT_THROW(WriteAtomically(Path(),
                               [](const std::string& tempPath) {
                                 std::ofstream(tempPath) << "half a mod";
                                 throw Error(ErrorKind::kOutput, "disk full");
                               }),
               Error);
  EXPECT_EQ(Read(), "old model");
  EXPECT_THAT(Entries(), ElementsAre("model.xml"));
}

// A run killed in the middle of a write: the old file stays whole and the
// temporary file is gone.
TEST_F(AtomicFile, InterruptDuringWriteLeavesOldContentAndNoTemporaryFile) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    WriteAtomically(Path(), [](const std::string& tempPath) {
      std::ofstream(tempPath) << "half a mod" << std::flush;
      ::raise(SIGTERM);
    });
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the child must die of the signal";
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(Read(), "old model");
  EXPECT_THAT(Entries(), ElementsAre("model.xml"));
}

TEST_F(AtomicFile, MissingFolderOrFolderAsTargetIsAnError) {
  EXPECT_THAT(
      [&] { WriteTextAtomically((dir / "nowhere/x.csv").string(), ""); },
      ::testing::ThrowsMessage<Error>(
          HasSubstr("nowhere/x.csv: No such file or directory")));
  EXPECT_THROW(WriteTextAtomically(dir.string(), "x"), Error);
  EXPECT_THROW(MakeDirectories(Path()), Error);
  MakeDirectories((dir / "a/b").string());
  MakeDirectories((dir / "a/b").string());
  EXPECT_TRUE(fs::is_directory(dir / "a/b"));
}

}  // namespace
}  // namespace Korva::HostKit
